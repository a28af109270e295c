#include "host/ogr/OgrApplication.h"

#include <filesystem>

#include "host/common/CommonApplication.h"
#include "host/common/CommonDocument.h"
#include "host/common/CommonEditor.h"
#include "host/common/CommonFeatureLayer.h"
#include "host/common/CommonMap.h"
#include "host/ogr/OgrData.h"

namespace vark::ogr {

namespace {

namespace fs = std::filesystem;

using host::common::CommonEditor;
using host::common::CommonFeatureLayer;

/// One document showing one focus map, an editor the host sets, and the
/// data sets opened so far.
class OgrApplication : public host::common::CommonApplication {
public:
    OgrApplication() : OgrApplication(std::make_shared<CommonEditor>()) {}

    std::shared_ptr<host::Statistics> CreateStatistics() override { return CreateOgrStatistics(); }
    std::shared_ptr<host::Workspace> OpenShapefileFolder(const std::string& folder) override {
        const std::string path = NormalisePath(folder);
        host::common::RequireFolder(path, kGdalSource);
        return std::make_shared<OgrFolderWorkspace>(path, m_cache);
    }

    void addDataSource(const DataSourceSpec& request);
    CommonEditor& editor() { return *m_editor; }

private:
    explicit OgrApplication(std::shared_ptr<CommonEditor> editor)
        : CommonApplication(std::make_shared<host::common::CommonDocument>(
                                std::make_shared<host::common::CommonMap>()),
                            editor),
          m_editor(std::move(editor)) {}

    void addLayer(std::shared_ptr<host::FeatureClass> featureClass, OGRLayer* layer) {
        GetDocument()->GetFocusMap()->AddLayer(
            std::make_shared<CommonFeatureLayer>(layer->GetName(), std::move(featureClass)));
    }

    std::shared_ptr<SourceCache> m_cache = std::make_shared<SourceCache>();
    std::shared_ptr<CommonEditor> m_editor;
};

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
            addLayer(folder.OpenFeatureClass(layer->GetName()), layer);
        } else {
            addLayer(std::make_shared<OgrFeatureClass>(source, layer), layer);
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
