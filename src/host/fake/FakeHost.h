#pragma once

// An in-memory map host for tests: an application with one document and its
// maps, top-level and group layers, feature layers over feature classes that
// hold their rows in memory, workspaces, an editor whose state a test sets,
// and event sources that record subscriptions and let a test fire events.
//
// Ownership follows the host's: the application owns its workspaces, a
// workspace owns its feature classes, a feature class knows its workspace
// only weakly. Build a data set with FakeApplication::addWorkspace and
// FakeWorkspace::createFeatureClass so that everything stays alive as long as
// the application does.
//
// Behaviours a test can switch on to reach error paths: a feature class that
// refuses writes, that fails at the n-th StoreRow, that refuses long field
// names (as a shapefile does), that rolls back an update cursor destroyed
// without Flush (as a database does).
//
// Deliberately not handled: where clauses of query filters (a non-empty one
// throws), real geometries (a geometry field holds whatever value the test
// puts there, null by default), several documents at once.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/common/CommonApplication.h"
#include "host/common/CommonDocument.h"
#include "host/common/CommonEditor.h"
#include "host/common/CommonFeatureLayer.h"
#include "host/common/CommonMap.h"
#include "host/common/FeatureClassBase.h"
#include "host/common/FieldStatistics.h"
#include "host/host.h"

namespace vark::host::fake {

class FakeWorkspace;
class FakeApplication;

/// A field definition in one call: MakeField("NATURE", kFieldText).
Field MakeField(std::string name, std::int32_t type);

/// A feature class whose rows live in memory. Row values are indexed like
/// GetFields(); an object-id field is numbered automatically when a row is
/// added with a null value there.
class FakeFeatureClass : public common::FeatureClassBase,
                         public std::enable_shared_from_this<FakeFeatureClass> {
public:
    FakeFeatureClass(std::string aliasName, std::int32_t shapeType, std::vector<Field> fields);

    // FeatureClass
    std::int32_t GetShapeType() const override { return m_shapeType; }
    std::string GetAliasName() const override { return m_aliasName; }
    /// The owning workspace; empty when the class was made without one.
    std::shared_ptr<Workspace> GetWorkspace() override;
    Fields GetFields() override { return Fields(m_fields); }
    /// Appends the field; existing rows get null there. Throws Failure when
    /// the class is read-only, the name is empty or taken (compared without
    /// regard to ASCII case), or longer than setMaxFieldNameLength allows.
    void AddFieldToClass(const Field& field) override;
    /// A column update's rows refuse the fields not named. Throws Failure
    /// for a non-empty where clause.
    std::shared_ptr<UpdateCursor> OpenColumnUpdateCursor(const ColumnUpdate& columns) override;
    /// Throws Failure for a non-empty where clause.
    std::shared_ptr<Cursor> Search(std::shared_ptr<QueryFilter> filter, bool recycling) override;
    /// The row count, or -1 after setFeatureCountKnown(false).
    std::int64_t GetFeatureCount() override;
    /// UTF-8 unless setTextEncoding said otherwise; texts are held as given.
    TextEncoding GetTextEncoding() const override { return m_textEncoding; }

    // Test set-up
    /// Adds a field without any check (set-up only).
    void addField(std::string name, std::int32_t type);
    /// Adds a row; missing trailing values are null. Returns its index.
    std::size_t addRow(std::vector<Value> values);
    /// Adds a row from (field name, value) pairs; other fields are null.
    /// Throws Failure for an unknown field name.
    std::size_t addRecord(std::initializer_list<std::pair<std::string_view, Value>> values);
    void setWorkspace(const std::shared_ptr<FakeWorkspace>& workspace) { m_workspace = workspace; }
    void setAliasName(std::string name) { m_aliasName = std::move(name); }

    // Inspection
    std::size_t rowCount() const { return m_rows.size(); }
    const std::vector<std::vector<Value>>& rows() const { return m_rows; }
    /// Value of `field` in row `row`; throws Failure for an unknown field.
    const Value& value(std::size_t row, std::string_view field) const;
    /// Every row's value of `field`, in row order.
    std::vector<Value> column(std::string_view field) const;
    /// Index of `field` (exact name), -1 when absent.
    std::int32_t fieldIndex(std::string_view field) const;
    const std::vector<Field>& fieldList() const { return m_fields; }

    // Behaviours
    /// AddFieldToClass and StoreRow throw Failure, before changing anything.
    void setReadOnly(bool readOnly) { m_readOnly = readOnly; }
    /// The n-th StoreRow from now (1-based) throws Failure; 0 never.
    void setFailOnStore(std::int64_t n) {
        m_failOnStore = n;
        m_storeAttempts = 0;
    }
    /// AddFieldToClass refuses names longer than `length` (0 = no limit).
    void setMaxFieldNameLength(std::size_t length) { m_maxFieldNameLength = length; }
    /// An update cursor destroyed without Flush puts every row back.
    void setTransactional(bool transactional) { m_transactional = transactional; }
    void setFeatureCountKnown(bool known) { m_countKnown = known; }
    /// How the class's texts read (the bytes a test stores are not changed).
    void setTextEncoding(TextEncoding encoding) { m_textEncoding = encoding; }

    // Counters
    int addFieldCalls() const { return m_addFieldCalls; }
    int openUpdateCursorCalls() const { return m_openUpdateCalls; }
    int searchCalls() const { return m_searchCalls; }
    /// Rows written by StoreRow (failed attempts not counted).
    std::int64_t storedRows() const { return m_storedRows; }
    int flushCalls() const { return m_flushCalls; }
    int rollbacks() const { return m_rollbacks; }

private:
    friend class FakeUpdateCursor;
    friend class FakeCursor;
    void storeRow(std::size_t index, const std::vector<Value>& values);
    void checkWhere(const std::string& where) const;

    std::string m_aliasName;
    std::int32_t m_shapeType;
    std::vector<Field> m_fields;
    std::vector<std::vector<Value>> m_rows;
    std::weak_ptr<FakeWorkspace> m_workspace;
    bool m_readOnly = false;
    bool m_transactional = false;
    bool m_countKnown = true;
    TextEncoding m_textEncoding = TextEncoding::kUtf8;
    std::size_t m_maxFieldNameLength = 0;
    std::int64_t m_failOnStore = 0;
    std::int64_t m_storeAttempts = 0;
    std::int64_t m_storedRows = 0;
    int m_addFieldCalls = 0;
    int m_openUpdateCalls = 0;
    int m_searchCalls = 0;
    int m_flushCalls = 0;
    int m_rollbacks = 0;
};

/// A workspace: a path, a type code and the feature classes it holds.
class FakeWorkspace : public Workspace, public std::enable_shared_from_this<FakeWorkspace> {
public:
    FakeWorkspace(std::string path, std::int32_t type) : m_path(std::move(path)), m_type(type) {}

    std::string GetWorkspacePath() const override { return m_path; }
    std::int32_t GetWorkspaceType() const override { return m_type; }
    /// The class registered under `name` (exact); throws Failure when none.
    std::shared_ptr<FeatureClass> OpenFeatureClass(const std::string& name) override;

    /// Creates and registers a feature class. With `withOidAndShape` the
    /// fields start with "FID" (object id) and "Shape" (geometry), as a
    /// shapefile shows them.
    std::shared_ptr<FakeFeatureClass> createFeatureClass(std::string name, std::int32_t shapeType,
                                                         std::vector<Field> fields,
                                                         bool withOidAndShape = true);
    /// Registers an existing class under its alias name.
    void addFeatureClass(const std::shared_ptr<FakeFeatureClass>& featureClass);
    std::shared_ptr<FakeFeatureClass> featureClass(const std::string& name) const;
    int openFeatureClassCalls() const { return m_openCalls; }

private:
    std::string m_path;
    std::int32_t m_type;
    std::map<std::string, std::shared_ptr<FakeFeatureClass>, std::less<>> m_classes;
    int m_openCalls = 0;
};

/// A layer that is neither a feature layer nor a group (a raster, say).
class FakeLayer : public Layer {
public:
    explicit FakeLayer(std::string name) : m_name(std::move(name)) {}
    std::string GetLayerName() const override { return m_name; }
    void SetLayerName(std::string name) override { m_name = std::move(name); }

private:
    std::string m_name;
};

class FakeFeatureLayer : public common::CommonFeatureLayer {
public:
    using CommonFeatureLayer::CommonFeatureLayer;
};

class FakeGroupLayer : public GroupLayer {
public:
    explicit FakeGroupLayer(std::string name) : m_name(std::move(name)) {}
    std::string GetLayerName() const override { return m_name; }
    void SetLayerName(std::string name) override { m_name = std::move(name); }
    std::int32_t GetLayerCount() const override {
        return static_cast<std::int32_t>(m_layers.size());
    }
    /// Throws Failure for an index out of range.
    std::shared_ptr<Layer> GetLayer(std::int32_t index) const override;

    void addLayer(std::shared_ptr<Layer> layer) { m_layers.push_back(std::move(layer)); }

private:
    std::string m_name;
    std::vector<std::shared_ptr<Layer>> m_layers;
};

/// A map with top-level layers and a view-event source, which counts the
/// calls a test checks.
class FakeMap : public common::CommonMap {
public:
    explicit FakeMap(std::string name = "Layers") : CommonMap(std::move(name)) {}

    void AddLayer(std::shared_ptr<Layer> layer) override;
    void SetViewNotification(bool on) override { m_viewNotifications.push_back(on); }
    void AdviseViewEvents(MapActiveViewEventsSink* sink) override;
    void UnadviseViewEvents(MapActiveViewEventsSink* sink) override;

    // Test side
    void removeLayer(std::size_t index);
    /// Calls `fire` on every subscribed sink (a copy of the list, so a sink
    /// may unsubscribe while it runs).
    void fireViewEvent(const std::function<void(MapActiveViewEventsSink&)>& fire) {
        viewEvents().fire(fire);
    }
    void fireFocusMapChanged();
    void fireItemAdded();
    const std::vector<MapActiveViewEventsSink*>& viewSinks() const { return viewEvents().sinks(); }
    int adviseCalls() const { return m_adviseCalls; }
    int unadviseCalls() const { return m_unadviseCalls; }
    /// Unadvise calls for a sink that was not subscribed.
    int unmatchedUnadviseCalls() const { return m_unmatchedUnadvise; }
    /// Arguments of every SetViewNotification call, in order.
    const std::vector<bool>& viewNotificationCalls() const { return m_viewNotifications; }
    int addLayerCalls() const { return m_addLayerCalls; }

private:
    std::vector<bool> m_viewNotifications;
    int m_adviseCalls = 0;
    int m_unadviseCalls = 0;
    int m_unmatchedUnadvise = 0;
    int m_addLayerCalls = 0;
};

/// A document with maps, one of them the focus map, and a document-event
/// source.
class FakeMapDocument : public common::CommonDocument {
public:
    /// A document with one map, which is the focus map.
    FakeMapDocument();

    void AdviseDocumentEvents(DocumentEventsSink* sink) override;
    void UnadviseDocumentEvents(DocumentEventsSink* sink) override;

    // Test side
    std::shared_ptr<FakeMap> focusMap() { return std::static_pointer_cast<FakeMap>(GetFocusMap()); }
    /// Makes `map` the focus map (added to the document's maps if new; null
    /// leaves the document without a focus map). Fires nothing.
    void setFocusMap(std::shared_ptr<FakeMap> map);
    std::shared_ptr<FakeMap> addMap(std::string name);
    const std::vector<std::shared_ptr<FakeMap>>& maps() const { return m_maps; }
    void fireDocumentEvent(const std::function<void(DocumentEventsSink&)>& fire) {
        documentEvents().fire(fire);
    }
    void fireNewDocument();
    void fireOpenDocument();
    void fireMapsChanged();
    const std::vector<DocumentEventsSink*>& documentSinks() const {
        return documentEvents().sinks();
    }
    int adviseCalls() const { return m_adviseCalls; }
    int unadviseCalls() const { return m_unadviseCalls; }
    int unmatchedUnadviseCalls() const { return m_unmatchedUnadvise; }

private:
    std::vector<std::shared_ptr<FakeMap>> m_maps;
    int m_adviseCalls = 0;
    int m_unadviseCalls = 0;
    int m_unmatchedUnadvise = 0;
};

using FakeEditor = common::CommonEditor;

/// Statistics over a cursor of this fake host (a cursor of another host is
/// refused with a Failure), read through its rows.
class FakeStatistics : public common::FieldStatistics {
protected:
    std::unique_ptr<common::FieldScan> openScan(const std::shared_ptr<Cursor>& cursor,
                                                const std::string& field) override;
};

class FakeMapHook : public MapHook {
public:
    explicit FakeMapHook(std::shared_ptr<Map> map) : m_map(std::move(map)) {}
    std::shared_ptr<Map> GetHookMap() override { return m_map; }

private:
    std::shared_ptr<Map> m_map;
};

/// A hook that is neither an application nor a map hook.
class FakeOtherHook : public Hook {};

/// The application: one current document (replaceable), an editor, the
/// workspaces of its data and the shapefile folders it can open.
class FakeApplication : public common::CommonApplication {
public:
    FakeApplication();

    std::shared_ptr<FeatureLayer> CreateFeatureLayer() override;
    std::shared_ptr<Statistics> CreateStatistics() override;
    /// The workspace of type 0 added with that exact path; throws Failure
    /// when there is none. Every call is recorded.
    std::shared_ptr<Workspace> OpenShapefileFolder(const std::string& folder) override;

    // Test side
    std::shared_ptr<FakeMapDocument> document() {
        return std::static_pointer_cast<FakeMapDocument>(GetDocument());
    }
    /// Replaces the current document (null: no document). Fires nothing.
    void setDocument(std::shared_ptr<FakeMapDocument> document) {
        CommonApplication::setDocument(std::move(document));
    }
    /// The focus map of the current document.
    std::shared_ptr<FakeMap> focusMap();
    FakeEditor& editor() { return *m_editor; }
    using CommonApplication::setEditorAvailable;
    using CommonApplication::setMapApplication;

    /// Adds a workspace owned by the application.
    std::shared_ptr<FakeWorkspace> addWorkspace(std::string path,
                                                std::int32_t type = kWorkspaceFileSystem);
    /// Appends a feature layer over `featureClass` to the focus map.
    std::shared_ptr<FakeFeatureLayer> addFeatureLayer(std::string name,
                                                      std::shared_ptr<FeatureClass> featureClass,
                                                      bool selectable = true);
    const std::vector<std::string>& openedShapefileFolders() const { return m_openedFolders; }
    int createFeatureLayerCalls() const { return m_createLayerCalls; }
    int createStatisticsCalls() const { return m_createStatisticsCalls; }

private:
    FakeApplication(std::shared_ptr<FakeMapDocument> document, std::shared_ptr<FakeEditor> editor);

    std::shared_ptr<FakeEditor> m_editor;
    std::vector<std::shared_ptr<FakeWorkspace>> m_workspaces;
    std::vector<std::string> m_openedFolders;
    int m_createLayerCalls = 0;
    int m_createStatisticsCalls = 0;
};

}  // namespace vark::host::fake
