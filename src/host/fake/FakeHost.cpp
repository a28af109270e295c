// The in-memory map world: layers, maps, the document, the application and
// its statistics.

#include "host/fake/FakeHost.h"

#include <algorithm>

#include "support/Failure.h"

namespace vark::host::fake {

namespace {

constexpr const char* kSource = "fake host";

}  // namespace

// ---------------------------------------------------------------------------
// Layers and maps

std::shared_ptr<Layer> FakeGroupLayer::GetLayer(std::int32_t index) const {
    if (index < 0 || index >= GetLayerCount()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Layer index " + std::to_string(index) + " out of range in " + m_name,
                      kSource);
    }
    return m_layers[static_cast<std::size_t>(index)];
}

void FakeMap::AddLayer(std::shared_ptr<Layer> layer) {
    ++m_addLayerCalls;
    CommonMap::AddLayer(std::move(layer));
}

void FakeMap::AdviseViewEvents(MapActiveViewEventsSink* sink) {
    ++m_adviseCalls;
    CommonMap::AdviseViewEvents(sink);
}

void FakeMap::UnadviseViewEvents(MapActiveViewEventsSink* sink) {
    ++m_unadviseCalls;
    if (!viewEvents().remove(sink)) {
        ++m_unmatchedUnadvise;
    }
}

void FakeMap::removeLayer(std::size_t index) {
    layerList().erase(layerList().begin() + static_cast<std::ptrdiff_t>(index));
}

void FakeMap::fireFocusMapChanged() {
    fireViewEvent([](MapActiveViewEventsSink& s) { s.FocusMapChanged(); });
}

void FakeMap::fireItemAdded() {
    fireViewEvent([](MapActiveViewEventsSink& s) { s.ItemAdded(); });
}

// ---------------------------------------------------------------------------
// Document and application

FakeMapDocument::FakeMapDocument() : CommonDocument(nullptr) {
    CommonDocument::setFocusMap(addMap("Layers"));
}

void FakeMapDocument::AdviseDocumentEvents(DocumentEventsSink* sink) {
    ++m_adviseCalls;
    CommonDocument::AdviseDocumentEvents(sink);
}

void FakeMapDocument::UnadviseDocumentEvents(DocumentEventsSink* sink) {
    ++m_unadviseCalls;
    if (!documentEvents().remove(sink)) {
        ++m_unmatchedUnadvise;
    }
}

void FakeMapDocument::setFocusMap(std::shared_ptr<FakeMap> map) {
    if (map && std::find(m_maps.begin(), m_maps.end(), map) == m_maps.end()) {
        m_maps.push_back(map);
    }
    CommonDocument::setFocusMap(std::move(map));
}

std::shared_ptr<FakeMap> FakeMapDocument::addMap(std::string name) {
    m_maps.push_back(std::make_shared<FakeMap>(std::move(name)));
    return m_maps.back();
}

void FakeMapDocument::fireNewDocument() {
    fireDocumentEvent([](DocumentEventsSink& s) { s.NewDocument(); });
}

void FakeMapDocument::fireOpenDocument() {
    fireDocumentEvent([](DocumentEventsSink& s) { s.OpenDocument(); });
}

void FakeMapDocument::fireMapsChanged() {
    fireDocumentEvent([](DocumentEventsSink& s) { s.MapsChanged(); });
}

FakeApplication::FakeApplication()
    : FakeApplication(std::make_shared<FakeMapDocument>(), std::make_shared<FakeEditor>()) {}

FakeApplication::FakeApplication(std::shared_ptr<FakeMapDocument> document,
                                 std::shared_ptr<FakeEditor> editor)
    : CommonApplication(std::move(document), editor), m_editor(std::move(editor)) {}

std::shared_ptr<FeatureLayer> FakeApplication::CreateFeatureLayer() {
    ++m_createLayerCalls;
    return std::make_shared<FakeFeatureLayer>();
}

std::shared_ptr<Statistics> FakeApplication::CreateStatistics() {
    ++m_createStatisticsCalls;
    return std::make_shared<FakeStatistics>();
}

std::shared_ptr<Workspace> FakeApplication::OpenShapefileFolder(const std::string& folder) {
    m_openedFolders.push_back(folder);
    for (const auto& ws : m_workspaces) {
        if (ws->GetWorkspaceType() == kWorkspaceFileSystem && ws->GetWorkspacePath() == folder) {
            return ws;
        }
    }
    throw Failure(err::kPathNotFound, "Cannot open the shapefile folder " + folder, kSource);
}

std::shared_ptr<FakeMap> FakeApplication::focusMap() {
    const auto current = document();
    return current ? current->focusMap() : nullptr;
}

std::shared_ptr<FakeWorkspace> FakeApplication::addWorkspace(std::string path, std::int32_t type) {
    m_workspaces.push_back(std::make_shared<FakeWorkspace>(std::move(path), type));
    return m_workspaces.back();
}

std::shared_ptr<FakeFeatureLayer> FakeApplication::addFeatureLayer(
    std::string name, std::shared_ptr<FeatureClass> featureClass, bool selectable) {
    auto layer =
        std::make_shared<FakeFeatureLayer>(std::move(name), std::move(featureClass), selectable);
    focusMap()->AddLayer(layer);
    return layer;
}

// ---------------------------------------------------------------------------
// Statistics

}  // namespace vark::host::fake
