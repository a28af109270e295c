#include "host/ogr/OgrApplication.h"

#include <algorithm>
#include <filesystem>

#include "host/ogr/OgrData.h"

namespace vark::ogr {

namespace {

namespace fs = std::filesystem;

class OgrFeatureLayer : public host::FeatureLayer {
public:
    OgrFeatureLayer() = default;
    OgrFeatureLayer(std::string name, std::shared_ptr<host::FeatureClass> featureClass)
        : m_name(std::move(name)), m_featureClass(std::move(featureClass)) {}

    std::string GetLayerName() const override { return m_name; }
    void SetLayerName(std::string name) override { m_name = std::move(name); }
    std::shared_ptr<host::FeatureClass> GetFeatureClass() override { return m_featureClass; }
    void SetFeatureClass(std::shared_ptr<host::FeatureClass> featureClass) override {
        m_featureClass = std::move(featureClass);
    }
    bool IsLayerSelectable() const override { return true; }
    std::shared_ptr<host::Cursor> SearchLayer(std::shared_ptr<host::QueryFilter> filter,
                                              bool recycling) override {
        if (!m_featureClass) {
            throw Failure(err::kObjectVariableNotSet,
                          "The layer " + m_name + " has no feature class", kGdalSource);
        }
        return m_featureClass->Search(std::move(filter), recycling);
    }

private:
    std::string m_name;
    std::shared_ptr<host::FeatureClass> m_featureClass;
};

void collectFeatureLayers(const std::vector<std::shared_ptr<host::Layer>>& layers, bool recursive,
                          std::vector<std::shared_ptr<host::Layer>>& out) {
    for (const auto& layer : layers) {
        if (std::dynamic_pointer_cast<host::FeatureLayer>(layer)) {
            out.push_back(layer);
        } else if (auto group = std::dynamic_pointer_cast<host::GroupLayer>(layer);
                   group && recursive) {
            std::vector<std::shared_ptr<host::Layer>> inner;
            for (std::int32_t i = 0; i < group->GetLayerCount(); ++i) {
                inner.push_back(group->GetLayer(i));
            }
            collectFeatureLayers(inner, recursive, out);
        }
    }
}

template <typename Sink>
void removeSink(std::vector<Sink*>& sinks, Sink* sink) {
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink), sinks.end());
}

class OgrMap : public host::Map {
public:
    std::int32_t GetLayerCount() const override {
        return static_cast<std::int32_t>(m_layers.size());
    }
    std::shared_ptr<host::Layer> GetMapLayer(std::int32_t index) const override {
        if (index < 0 || index >= GetLayerCount()) {
            throw Failure(err::kSubscriptOutOfRange,
                          "Layer index " + std::to_string(index) + " out of range", kGdalSource);
        }
        return m_layers[static_cast<std::size_t>(index)];
    }
    std::shared_ptr<host::LayerEnum> FindLayers(const host::Uid& uid,
                                                bool recursive) const override {
        std::vector<std::shared_ptr<host::Layer>> found;
        if (uid.value() == host::kFeatureLayerUid) {
            collectFeatureLayers(m_layers, recursive, found);
        }
        return std::make_shared<host::LayerList>(std::move(found));
    }
    void AddLayer(std::shared_ptr<host::Layer> layer) override {
        if (!layer) {
            throw Failure(err::kObjectVariableNotSet, "AddLayer: no layer", kGdalSource);
        }
        m_layers.push_back(std::move(layer));
        const auto sinks = m_sinks;
        for (auto* sink : sinks) {
            sink->ItemAdded();
        }
    }
    void SetViewNotification(bool) override {}
    void AdviseViewEvents(host::MapActiveViewEventsSink* sink) override { m_sinks.push_back(sink); }
    void UnadviseViewEvents(host::MapActiveViewEventsSink* sink) override {
        removeSink(m_sinks, sink);
    }

private:
    std::vector<std::shared_ptr<host::Layer>> m_layers;
    std::vector<host::MapActiveViewEventsSink*> m_sinks;
};

class OgrDocument : public host::MapDocument {
public:
    std::shared_ptr<host::Map> GetFocusMap() override { return m_map; }
    void AdviseDocumentEvents(host::DocumentEventsSink* sink) override { m_sinks.push_back(sink); }
    void UnadviseDocumentEvents(host::DocumentEventsSink* sink) override {
        removeSink(m_sinks, sink);
    }

private:
    std::shared_ptr<OgrMap> m_map = std::make_shared<OgrMap>();
    std::vector<host::DocumentEventsSink*> m_sinks;
};

class OgrEditor : public host::Editor {
public:
    std::int32_t GetEditState() const override { return m_state; }
    void setEditState(std::int32_t state) { m_state = state; }

private:
    std::int32_t m_state = 0;
};

class OgrApplication : public host::Application {
public:
    bool IsMapApplication() const override { return true; }
    std::shared_ptr<host::MapDocument> GetDocument() override { return m_document; }
    std::shared_ptr<host::Editor> FindEditorExtension(std::string_view typeId) override {
        return typeId == host::kEditorExtensionId ? m_editor : nullptr;
    }
    std::shared_ptr<host::FeatureLayer> CreateFeatureLayer() override {
        return std::make_shared<OgrFeatureLayer>();
    }
    std::shared_ptr<host::Statistics> CreateStatistics() override { return CreateOgrStatistics(); }
    std::shared_ptr<host::Workspace> OpenShapefileFolder(const std::string& folder) override {
        std::error_code ec;
        const std::string path = NormalisePath(folder);
        if (!fs::is_directory(fs::path(path), ec)) {
            throw Failure(err::kPathNotFound, "Cannot open the folder " + folder, kGdalSource);
        }
        return std::make_shared<OgrFolderWorkspace>(path, m_cache);
    }

    void addDataSource(const DataSourceSpec& request);
    OgrEditor& editor() { return *m_editor; }

private:
    void addLayer(const std::shared_ptr<OgrSource>& source, OGRLayer* layer);

    std::shared_ptr<SourceCache> m_cache = std::make_shared<SourceCache>();
    std::shared_ptr<OgrDocument> m_document = std::make_shared<OgrDocument>();
    std::shared_ptr<OgrEditor> m_editor = std::make_shared<OgrEditor>();
};

void OgrApplication::addLayer(const std::shared_ptr<OgrSource>& source, OGRLayer* layer) {
    auto featureClass = std::make_shared<OgrFeatureClass>(source, layer);
    m_document->GetFocusMap()->AddLayer(
        std::make_shared<OgrFeatureLayer>(layer->GetName(), featureClass));
}

void OgrApplication::addDataSource(const DataSourceSpec& request) {
    auto source = m_cache->open(request.path);
    GDALDataset& dataset = source->dataset();

    // A folder of shapefiles: each shapefile is opened on its own, as the
    // file dialog would open it, so that both ways share one data set.
    std::error_code ec;
    const bool shapefileFolder =
        source->isShapefile() && fs::is_directory(fs::path(source->path()), ec);

    auto add = [&](OGRLayer* layer) {
        if (shapefileFolder) {
            OgrFolderWorkspace folder(source->path(), m_cache);
            auto featureClass = folder.OpenFeatureClass(layer->GetName());
            m_document->GetFocusMap()->AddLayer(
                std::make_shared<OgrFeatureLayer>(layer->GetName(), featureClass));
        } else {
            addLayer(source, layer);
        }
    };

    if (!request.layerName.empty()) {
        GdalErrorScope scope;
        OGRLayer* layer = dataset.GetLayerByName(request.layerName.c_str());
        if (!layer) {
            throw gdalFailure("No layer " + request.layerName + " in " + source->path(), scope);
        }
        add(layer);
        return;
    }
    int added = 0;
    for (int i = 0; i < dataset.GetLayerCount(); ++i) {
        OGRLayer* layer = dataset.GetLayer(i);
        // Tables without geometry are not feature layers.
        if (layer && layer->GetLayerDefn()->GetGeomFieldCount() > 0) {
            add(layer);
            ++added;
        }
    }
    if (added == 0) {
        throw gdalFailure("No layer with geometries in " + source->path());
    }
}

OgrApplication& ogrApplication(host::Application& app) {
    auto* ogrApp = dynamic_cast<OgrApplication*>(&app);
    if (!ogrApp) {
        throw Failure(err::kInvalidProcedureCall,
                      "The application does not come from CreateOgrApplication", kGdalSource);
    }
    return *ogrApp;
}

}  // namespace

std::shared_ptr<host::Application> CreateOgrApplication() {
    // GDAL's drivers are registered as data sets are opened (SourceCache).
    return std::make_shared<OgrApplication>();
}

void AddDataSource(host::Application& app, const DataSourceSpec& request) {
    ogrApplication(app).addDataSource(request);
}

void SetEditState(host::Application& app, std::int32_t state) {
    ogrApplication(app).editor().setEditState(state);
}

}  // namespace vark::ogr
