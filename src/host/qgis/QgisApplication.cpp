#include "host/qgis/QgisApplication.h"

#include <qgisinterface.h>
#include <qgslayertree.h>
#include <qgslayertreegroup.h>
#include <qgslayertreelayer.h>
#include <qgsmapcanvas.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <algorithm>
#include <functional>
#include <vector>

#include "host/common/CommonApplication.h"
#include "host/common/FeatureClassBase.h"
#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"

namespace vark::qgis {

namespace {

QgsProject& project() {
    return *QgsProject::instance();
}

/// Calls `fire` on a copy of `sinks`, so that a sink may unsubscribe while
/// it runs. Nothing a sink throws reaches Qt's event loop.
template <typename Sink>
void fireAll(const std::vector<Sink*>& sinks, const std::function<void(Sink&)>& fire) {
    const std::vector<Sink*> copy = sinks;
    for (Sink* sink : copy) {
        try {
            fire(*sink);
        } catch (...) {
        }
    }
}

template <typename Sink>
void removeSink(std::vector<Sink*>& sinks, Sink* sink) {
    const auto it = std::find(sinks.begin(), sinks.end(), sink);
    if (it != sinks.end()) {
        sinks.erase(it);
    }
}

std::shared_ptr<host::Layer> wrapNode(QgsLayerTreeNode* node);

/// A layer of the tree that is neither a vector layer nor a group.
class QgisPlainLayer : public host::Layer {
public:
    explicit QgisPlainLayer(QgsLayerTreeLayer* node) : m_node(node) {}
    std::string GetLayerName() const override { return ToStdString(node().name()); }
    void SetLayerName(std::string name) override { node().setName(ToQString(name)); }

private:
    QgsLayerTreeLayer& node() const {
        if (!m_node) {
            throw HostFailure("The layer has been removed from the project");
        }
        return *m_node;
    }
    QPointer<QgsLayerTreeLayer> m_node;
};

class QgisGroupLayer : public host::GroupLayer {
public:
    explicit QgisGroupLayer(QgsLayerTreeGroup* group) : m_group(group) {}
    std::string GetLayerName() const override { return ToStdString(group().name()); }
    void SetLayerName(std::string name) override { group().setName(ToQString(name)); }
    std::int32_t GetLayerCount() const override {
        return static_cast<std::int32_t>(group().children().size());
    }
    std::shared_ptr<host::Layer> GetLayer(std::int32_t index) const override {
        const QList<QgsLayerTreeNode*> children = group().children();
        if (index < 0 || index >= children.size()) {
            throw Failure(
                err::kSubscriptOutOfRange,
                "Layer index " + std::to_string(index) + " out of range in group " + GetLayerName(),
                std::string(kSource));
        }
        return wrapNode(children.at(index));
    }

private:
    QgsLayerTreeGroup& group() const {
        if (!m_group) {
            throw HostFailure("The group has been removed from the project");
        }
        return *m_group;
    }
    QPointer<QgsLayerTreeGroup> m_group;
};

/// A feature layer: bound to a project vector layer, or (made by
/// CreateFeatureLayer) free until AddLayer puts it in the project.
class QgisFeatureLayer : public host::FeatureLayer {
public:
    QgisFeatureLayer() = default;
    explicit QgisFeatureLayer(QgsVectorLayer* layer) { bind(layer); }

    std::string GetLayerName() const override {
        return m_wasBound ? ToStdString(bound().name()) : m_name;
    }
    void SetLayerName(std::string name) override {
        if (m_wasBound) {
            bound().setName(ToQString(name));
        } else {
            m_name = std::move(name);
        }
    }
    std::shared_ptr<host::FeatureClass> GetFeatureClass() override {
        if (m_wasBound && !m_featureClass) {
            m_featureClass = std::make_shared<QgisFeatureClass>(&bound());
        }
        return m_featureClass;
    }
    /// On a layer of the project, points the layer at the class's data.
    void SetFeatureClass(std::shared_ptr<host::FeatureClass> featureClass) override {
        if (!m_wasBound) {
            m_featureClass = std::move(featureClass);
            return;
        }
        auto* own = dynamic_cast<QgisFeatureClass*>(featureClass.get());
        if (!own) {
            throw HostFailure("SetFeatureClass: not a feature class of the QGIS host");
        }
        QgsVectorLayer& target = bound();
        const QgsVectorLayer& data = own->layer();
        if (&data != &target) {
            QgsDataProvider::ProviderOptions options;
            options.transformContext = project().transformContext();
            target.setDataSource(data.source(), target.name(), data.providerType(), options);
        }
        m_featureClass = std::make_shared<QgisFeatureClass>(&target);
    }
    bool IsLayerSelectable() const override {
        return !m_wasBound || bound().flags().testFlag(QgsMapLayer::Identifiable);
    }
    std::shared_ptr<host::Cursor> SearchLayer(std::shared_ptr<host::QueryFilter> filter,
                                              bool recycling) override {
        const auto featureClass = GetFeatureClass();
        if (!featureClass) {
            throw Failure(err::kObjectVariableNotSet, "Layer " + m_name + " has no feature class",
                          std::string(kSource));
        }
        return host::common::SearchFeatureClass(*featureClass, std::move(filter), recycling);
    }

    void bind(QgsVectorLayer* layer) {
        m_layer = layer;
        m_wasBound = true;
        m_featureClass.reset();
    }
    bool isBound() const { return m_wasBound; }
    QgsVectorLayer* layer() const { return m_layer; }

private:
    QgsVectorLayer& bound() const {
        if (!m_layer) {
            throw HostFailure("Layer " + m_name + " has been removed from the project");
        }
        return *m_layer;
    }

    QPointer<QgsVectorLayer> m_layer;
    bool m_wasBound = false;
    std::string m_name;
    std::shared_ptr<host::FeatureClass> m_featureClass;
};

std::shared_ptr<host::Layer> wrapNode(QgsLayerTreeNode* node) {
    if (QgsLayerTree::isGroup(node)) {
        return std::make_shared<QgisGroupLayer>(QgsLayerTree::toGroup(node));
    }
    QgsLayerTreeLayer* layerNode = QgsLayerTree::toLayer(node);
    if (auto* vector = qobject_cast<QgsVectorLayer*>(layerNode->layer())) {
        return std::make_shared<QgisFeatureLayer>(vector);
    }
    return std::make_shared<QgisPlainLayer>(layerNode);
}

void collectFeatureLayers(QgsLayerTreeGroup& group, bool recursive,
                          std::vector<std::shared_ptr<host::Layer>>& found) {
    const QList<QgsLayerTreeNode*> children = group.children();
    for (QgsLayerTreeNode* node : children) {
        if (QgsLayerTree::isGroup(node)) {
            if (recursive) {
                collectFeatureLayers(*QgsLayerTree::toGroup(node), true, found);
            }
        } else if (auto* vector =
                       qobject_cast<QgsVectorLayer*>(QgsLayerTree::toLayer(node)->layer())) {
            found.push_back(std::make_shared<QgisFeatureLayer>(vector));
        }
    }
}

/// The focus map: the project's layer tree. Its view events come from the
/// tree (items added, removed, reordered), the project (cleared) and, with a
/// QGIS window, the map canvas (drawn, refreshed, selection, CRS).
class QgisMap : public host::Map {
public:
    explicit QgisMap(QgisInterface* iface) : m_iface(iface) {}

    std::int32_t GetLayerCount() const override {
        return static_cast<std::int32_t>(root().children().size());
    }
    std::shared_ptr<host::Layer> GetMapLayer(std::int32_t index) const override {
        const QList<QgsLayerTreeNode*> children = root().children();
        if (index < 0 || index >= children.size()) {
            throw Failure(err::kSubscriptOutOfRange,
                          "Layer index " + std::to_string(index) + " out of range (" +
                              std::to_string(children.size()) + " layers)",
                          std::string(kSource));
        }
        return wrapNode(children.at(index));
    }
    std::shared_ptr<host::LayerEnum> FindLayers(const host::Uid& uid,
                                                bool recursive) const override {
        std::vector<std::shared_ptr<host::Layer>> found;
        if (uid.value() == host::kFeatureLayerUid) {
            collectFeatureLayers(root(), recursive, found);
        }
        return std::make_shared<host::LayerList>(std::move(found));
    }
    /// Appends the layer at the bottom of the tree's top level. A free
    /// feature layer hands its data to the project and is bound to the new
    /// project layer; a layer already in the project gets a second node.
    void AddLayer(std::shared_ptr<host::Layer> layer) override {
        if (!layer) {
            throw Failure(err::kObjectVariableNotSet, "AddLayer: no layer", std::string(kSource));
        }
        auto* featureLayer = dynamic_cast<QgisFeatureLayer*>(layer.get());
        if (!featureLayer) {
            throw HostFailure("AddLayer: layer " + layer->GetLayerName() +
                              " is not a feature layer of the QGIS host");
        }
        if (featureLayer->isBound()) {
            QgsVectorLayer* bound = featureLayer->layer();
            if (!bound) {
                throw HostFailure("AddLayer: layer has been removed from the project");
            }
            root().addLayer(bound);
            return;
        }
        const auto featureClass = featureLayer->GetFeatureClass();
        auto* own = dynamic_cast<QgisFeatureClass*>(featureClass.get());
        if (!own) {
            throw HostFailure("AddLayer: layer " + featureLayer->GetLayerName() +
                              " has no feature class of the QGIS host");
        }
        std::string name = featureLayer->GetLayerName();
        if (name.empty()) {
            name = own->GetAliasName();
        }
        QgsVectorLayer* added = own->layerForProject(ToQString(name));
        if (!project().addMapLayer(added, false)) {
            delete added;
            throw HostFailure("QGIS refused to add layer " + name + " to the project");
        }
        root().addLayer(added);
        featureLayer->bind(added);
    }
    void SetViewNotification(bool) override {}
    void AdviseViewEvents(host::MapActiveViewEventsSink* sink) override {
        if (!sink) {
            return;
        }
        if (!m_context) {
            connectEvents();
        }
        m_sinks.push_back(sink);
    }
    void UnadviseViewEvents(host::MapActiveViewEventsSink* sink) override {
        removeSink(m_sinks, sink);
    }

private:
    using Fire = std::function<void(host::MapActiveViewEventsSink&)>;

    QgsLayerTree& root() const { return *project().layerTreeRoot(); }

    void fire(const Fire& event) { fireAll(m_sinks, event); }

    void connectEvents() {
        m_context = std::make_unique<QObject>();
        QObject* ctx = m_context.get();
        QgsLayerTree* tree = &root();
        QObject::connect(tree, &QgsLayerTreeNode::addedChildren, ctx,
                         [this] { fire([](auto& s) { s.ItemAdded(); }); });
        QObject::connect(tree, &QgsLayerTreeNode::removedChildren, ctx,
                         [this] { fire([](auto& s) { s.ItemDeleted(); }); });
        QObject::connect(tree, &QgsLayerTree::customLayerOrderChanged, ctx,
                         [this] { fire([](auto& s) { s.ItemReordered(); }); });
        QObject::connect(&project(), &QgsProject::cleared, ctx,
                         [this] { fire([](auto& s) { s.ContentsCleared(); }); });
        QgsMapCanvas* canvas = m_iface ? m_iface->mapCanvas() : nullptr;
        if (canvas) {
            QObject::connect(canvas, &QgsMapCanvas::renderComplete, ctx,
                             [this] { fire([](auto& s) { s.AfterDraw(); }); });
            QObject::connect(canvas, &QgsMapCanvas::mapCanvasRefreshed, ctx,
                             [this] { fire([](auto& s) { s.ViewRefreshed(); }); });
            QObject::connect(canvas, &QgsMapCanvas::selectionChanged, ctx,
                             [this] { fire([](auto& s) { s.SelectionChanged(); }); });
            QObject::connect(canvas, &QgsMapCanvas::destinationCrsChanged, ctx,
                             [this] { fire([](auto& s) { s.SpatialReferenceChanged(); }); });
        }
    }

    QPointer<QgisInterface> m_iface;
    std::vector<host::MapActiveViewEventsSink*> m_sinks;
    std::unique_ptr<QObject> m_context;
};

/// The current project. QGIS keeps one project object for its whole life:
/// a new project is announced by "cleared", an opened one by "cleared" and
/// then "readProject", so sinks see NewDocument and then OpenDocument.
class QgisDocument : public host::MapDocument {
public:
    explicit QgisDocument(QgisInterface* iface) : m_map(std::make_shared<QgisMap>(iface)) {}

    std::shared_ptr<host::Map> GetFocusMap() override { return m_map; }
    void AdviseDocumentEvents(host::DocumentEventsSink* sink) override {
        if (!sink) {
            return;
        }
        if (!m_context) {
            m_context = std::make_unique<QObject>();
            QObject::connect(&project(), &QgsProject::cleared, m_context.get(), [this] {
                fireAll<host::DocumentEventsSink>(m_sinks, [](auto& s) { s.NewDocument(); });
            });
            QObject::connect(&project(), &QgsProject::readProject, m_context.get(), [this] {
                fireAll<host::DocumentEventsSink>(m_sinks, [](auto& s) { s.OpenDocument(); });
            });
        }
        m_sinks.push_back(sink);
    }
    void UnadviseDocumentEvents(host::DocumentEventsSink* sink) override {
        removeSink(m_sinks, sink);
    }

private:
    std::shared_ptr<QgisMap> m_map;
    std::vector<host::DocumentEventsSink*> m_sinks;
    std::unique_ptr<QObject> m_context;
};

/// Editing while any vector layer of the project is in an edit session.
class QgisEditor : public host::Editor {
public:
    std::int32_t GetEditState() const override {
        const auto layers = project().mapLayers();
        for (QgsMapLayer* layer : layers) {
            const auto* vector = qobject_cast<QgsVectorLayer*>(layer);
            if (vector && vector->isEditable()) {
                return host::kEditStateEditing;
            }
        }
        return 0;
    }
};

class QgisApplicationImpl : public host::common::CommonApplication {
public:
    explicit QgisApplicationImpl(QgisInterface* iface)
        : CommonApplication(std::make_shared<QgisDocument>(iface), std::make_shared<QgisEditor>()) {
    }

    std::shared_ptr<host::FeatureLayer> CreateFeatureLayer() override {
        return std::make_shared<QgisFeatureLayer>();
    }
    std::shared_ptr<host::Statistics> CreateStatistics() override {
        return std::make_shared<QgisStatistics>();
    }
    std::shared_ptr<host::Workspace> OpenShapefileFolder(const std::string& folder) override {
        host::common::RequireFolder(folder, kSource);
        return std::make_shared<QgisWorkspace>(
            ToStdString(QFileInfo(ToQString(folder)).absoluteFilePath()),
            host::kWorkspaceFileSystem);
    }
};

}  // namespace

std::shared_ptr<host::Application> CreateQgisApplication(QgisInterface* iface) {
    return std::make_shared<QgisApplicationImpl>(iface);
}

QgsVectorLayer* VectorLayerOf(host::Layer& layer) {
    auto* featureLayer = dynamic_cast<QgisFeatureLayer*>(&layer);
    return featureLayer ? featureLayer->layer() : nullptr;
}

}  // namespace vark::qgis
