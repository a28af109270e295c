#pragma once

// The map host operations the component relies on: application, document,
// maps and layers, feature classes, fields, cursors, statistics and the
// editor. Adapters (GDAL/OGR, in-memory for tests, desktop GIS) implement
// these classes, building on the objects they all share in host/common/
// (application, document, map and layer list, editor, statistics, column
// mask); everything above the host reaches data only through them.
//
// Conventions:
// - indices are 0-based; counts and codes are 32-bit;
// - "empty" is a null std::shared_ptr;
// - every failing operation throws vark::Failure (support/Failure.h) with a
//   description naming the cause and the object (file, layer, field);
// - text is UTF-8, except the texts of a feature class whose encoding is
//   undeclared (TextEncoding): those are the layer's own bytes.
//
// No GDAL, Qt or SQLite type may appear in this header.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/NewFieldPass.h"

namespace vark::host {

// ---------------------------------------------------------------------------
// Codes and identifiers

/// Field type codes.
enum FieldType : std::int32_t {
    kFieldShort = 0,
    kFieldLong = 1,
    kFieldSingle = 2,
    kFieldDouble = 3,
    kFieldText = 4,
    kFieldDate = 5,
    kFieldOid = 6,
    kFieldGeometry = 7,
    kFieldBlob = 8,
    kFieldRaster = 9,
    kFieldGuid = 10,
    kFieldGlobalId = 11,
    kFieldXml = 12,
};

/// Geometry type codes returned by GetShapeType.
enum ShapeType : std::int32_t {
    kShapeNull = 0,
    kShapePoint = 1,
    kShapeMultipoint = 2,
    kShapePolyline = 3,
    kShapePolygon = 4,
};

/// Workspace type codes returned by GetWorkspaceType.
enum WorkspaceType : std::int32_t {
    kWorkspaceFileSystem = 0,     ///< a folder of shapefiles (or other file-per-layer data)
    kWorkspaceLocalDatabase = 1,  ///< a single database file (GeoPackage, SQLite, ...)
    kWorkspaceRemoteDatabase = 2  ///< a database server; no file-system location
};

/// Edit state returned by Editor::GetEditState.
constexpr std::int32_t kEditStateEditing = 1;

/// Type id text that selects feature layers in Map::FindLayers.
inline constexpr std::string_view kFeatureLayerUid = "{40A9E885-5533-11D0-98BE-00805F7CED21}";
/// Class id text of the editor extension for Application::FindEditorExtension.
inline constexpr std::string_view kEditorExtensionId = "esriEditor.Editor";

/// A type id: CreateUid() then SetUidValue(text).
class Uid {
public:
    void SetUidValue(std::string value) { m_value = std::move(value); }
    const std::string& value() const { return m_value; }

private:
    std::string m_value;
};
inline Uid CreateUid() {
    return {};
}

// ---------------------------------------------------------------------------
// Values

/// A row value: null, integer (short, long, object id), real (single, double,
/// date as days since 1899-12-30) or text.
using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

inline bool IsNull(const Value& v) {
    return std::holds_alternative<std::monostate>(v);
}

/// The value converted to text as a list shows it: integers in decimal,
/// reals in shortest round-trip form, text as is, null as "".
std::string ValueToText(const Value& v);

/// How the texts of a feature class (its rows' texts and distinct values)
/// read as characters.
enum class TextEncoding : std::int32_t {
    /// UTF-8: the format's own, or the layer's declared encoding, which the
    /// host decodes.
    kUtf8 = 0,
    /// The layer's bytes as stored, its encoding not declared: a text reads
    /// as UTF-8 when it is valid UTF-8, as Windows-1252 otherwise.
    kUndeclared = 1,
};

/// A text of a feature class of encoding `encoding` as UTF-8, to show it:
/// an undeclared text that is not valid UTF-8 decoded from Windows-1252,
/// anything else as it is.
std::string DecodeLayerText(std::string_view text, TextEncoding encoding);

/// The texts of a feature class of encoding `encoding` that
/// DecodeLayerText shows as `utf8`, so that a value given in UTF-8 matches
/// them: `utf8` itself, then, when undeclared, its Windows-1252 bytes where
/// the code page holds every character and those bytes are not valid UTF-8
/// (they would read as something else). A `utf8` that is not valid UTF-8
/// stands for itself only.
std::vector<std::string> LayerTextForms(std::string_view utf8, TextEncoding encoding);

// ---------------------------------------------------------------------------
// Fields

/// A field definition. NewField() gives an empty one; SetFieldName, SetFieldType
/// and SetFieldAlias fill it before AddFieldToClass. Length and precision 0
/// mean "the host's default".
class Field {
public:
    const std::string& GetFieldName() const { return m_name; }
    const std::string& GetFieldAlias() const { return m_alias.empty() ? m_name : m_alias; }
    std::int32_t GetFieldType() const { return m_type; }
    std::int32_t GetFieldLength() const { return m_length; }
    std::int32_t GetFieldPrecision() const { return m_precision; }

    void SetFieldName(std::string name) { m_name = std::move(name); }
    void SetFieldAlias(std::string alias) { m_alias = std::move(alias); }
    void SetFieldType(std::int32_t type) { m_type = type; }
    void SetFieldLength(std::int32_t length) { m_length = length; }
    void SetFieldPrecision(std::int32_t precision) { m_precision = precision; }

private:
    std::string m_name;
    std::string m_alias;
    std::int32_t m_type = kFieldText;
    std::int32_t m_length = 0;
    std::int32_t m_precision = 0;
};
inline Field NewField() {
    return {};
}

/// The field collection of a feature class, in table order, object id and
/// geometry included.
class Fields {
public:
    Fields() = default;
    explicit Fields(std::vector<Field> fields) : m_fields(std::move(fields)) {}

    std::int32_t GetFieldCount() const { return static_cast<std::int32_t>(m_fields.size()); }
    /// Throws Failure (subscript out of range) for an index outside 0..count-1.
    /// On a temporary collection (`fc.GetFields().GetField(i)`) the field is
    /// returned by value, so that keeping it never refers to a freed one.
    const Field& GetField(std::int32_t index) const&;
    Field GetField(std::int32_t index) &&;
    /// Index of the field with exactly this name (case-sensitive), -1 when absent.
    std::int32_t FindFieldIndex(std::string_view name) const;

private:
    std::vector<Field> m_fields;
};

// ---------------------------------------------------------------------------
// Rows and cursors

/// A query filter; an empty where clause selects every feature.
class QueryFilter {
public:
    void SetWhereClause(std::string where) { m_where = std::move(where); }
    const std::string& whereClause() const { return m_where; }

private:
    std::string m_where;
};
inline std::shared_ptr<QueryFilter> CreateQueryFilter() {
    return std::make_shared<QueryFilter>();
}

/// One feature as a cursor delivers it. Field indices are those of GetFields.
class Row {
public:
    virtual ~Row() = default;
    /// The value of field `index` (null for a null value).
    virtual Value GetRowValue(std::int32_t index) const = 0;
    /// Sets field `index` in the row; written to the data by StoreRow.
    virtual void SetRowValue(std::int32_t index, const Value& value) = 0;
    /// Fast read of a text field without copying: nullopt for a null value.
    /// The view stays valid until the cursor moves on.
    virtual std::optional<std::string_view> GetRowText(std::int32_t index) const = 0;
    /// Fast write of a double field.
    virtual void SetRowDouble(std::int32_t index, double value) { SetRowValue(index, value); }
};

/// A forward-only cursor over features.
class Cursor {
public:
    virtual ~Cursor() = default;
    /// The next feature, or empty after the last one. A recycling cursor
    /// returns the same Row object each time, refilled.
    virtual std::shared_ptr<Row> NextRow() = 0;
};

/// A cursor that can write the rows it delivers.
class UpdateCursor : public Cursor {
public:
    /// Writes the row's changed values to the data.
    virtual void StoreRow(Row& row) = 0;
    /// Makes everything stored so far durable (commits the transaction where
    /// the format has one). A cursor destroyed without Flush rolls back what
    /// the format can roll back; formats without transactions keep what was
    /// stored.
    virtual void Flush() = 0;
};

/// Reports work done as (items done, items in all; -1 when unknown).
using ProgressFn = std::function<void(std::int64_t done, std::int64_t total)>;

// ---------------------------------------------------------------------------
// Statistics

struct MinMax {
    double minimum = 0;
    double maximum = 0;
};

/// Distinct values and min/max of one field over the features of a cursor.
/// Use: SetStatisticsField, SetStatisticsCursor, then the getters; the first
/// getter consumes the cursor in one pass.
class Statistics {
public:
    virtual ~Statistics() = default;
    virtual void SetStatisticsField(std::string name) = 0;
    virtual void SetStatisticsCursor(std::shared_ptr<Cursor> cursor) = 0;
    /// Lets the host stop reading once more than `limit` distinct values are
    /// seen; GetUniqueValueCount then answers limit + 1. 0 means no limit.
    virtual void SetUniqueValueLimit(std::int32_t limit) = 0;
    virtual void SetProgress(ProgressFn progress) = 0;
    /// Distinct non-null values, in no particular order; nullopt ends them.
    class ValueEnum {
    public:
        virtual ~ValueEnum() = default;
        virtual void Reset() = 0;
        virtual std::optional<Value> Next() = 0;
    };
    virtual std::shared_ptr<ValueEnum> GetUniqueValues() = 0;
    virtual std::int32_t GetUniqueValueCount() = 0;
    /// The features holding each distinct value, in the order GetUniqueValues
    /// gives the values (the same pass); empty when the host does not count.
    /// Complete only when the limit was not passed.
    virtual std::vector<std::int64_t> GetUniqueValueFeatureCounts() { return {}; }
    /// Minimum and maximum of a numeric field over non-null values; both 0
    /// when there is none. Throws Failure for a non-numeric field.
    virtual MinMax GetStatistics() = 0;
};

// ---------------------------------------------------------------------------
// Workspaces, feature classes, layers

class FeatureClass;

/// Where a workspace that has no folder keeps the criterion file of one of
/// its layers: the file's bytes, whole, as one record of the workspace
/// itself (a table of a database server). The criterion file module reads
/// and replaces the bytes; their layout is its business. Reads and changes
/// happen in the transaction of the run that holds the layer's update lock,
/// when one does, so that a record and the layer's change come together.
class CriterionStore {
public:
    virtual ~CriterionStore() = default;
    /// The stored bytes; nullopt when the layer has no record yet. Throws
    /// Failure.
    virtual std::optional<std::string> Load() = 0;
    /// Replaces the stored bytes, whole (creating the record, and what holds
    /// it, when absent). Throws Failure; nothing is changed then.
    virtual void Replace(std::string_view bytes) = 0;
    /// Why Replace would be refused ("" when it would not): a role without
    /// the rights to write the record, for one. Throws nothing.
    virtual std::string WhyNotWritable() = 0;
    /// Where the record lies, for messages (never a password).
    virtual std::string Location() const = 0;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    /// Folder of a file-system workspace, the database file of a local
    /// database, or the connection string of a remote one (without its
    /// password).
    virtual std::string GetWorkspacePath() const = 0;
    virtual std::int32_t GetWorkspaceType() const = 0;
    /// Opens a feature class of this workspace by name (a shapefile's name
    /// without extension). Throws Failure when there is none.
    virtual std::shared_ptr<FeatureClass> OpenFeatureClass(const std::string& name) = 0;
    /// The store of the criterion file of layer `layerName` (".shp"
    /// removed) when the workspace keeps it itself; nullptr when the file
    /// lies beside the data (folders and database files). Throws Failure
    /// when the workspace should keep it but cannot (no such layer).
    virtual std::unique_ptr<CriterionStore> OpenCriterionStore(const std::string& layerName) {
        (void)layerName;
        return nullptr;
    }
};

/// The fields a pass over an update cursor reads and the fields it
/// changes, by index (see FeatureClass::OpenColumnUpdateCursor).
struct ColumnUpdate {
    std::vector<std::int32_t> read;
    std::vector<std::int32_t> written;
    /// A pass over whole features (OpenUpdateCursor): every field may be read
    /// and changed, `read` and `written` do not apply, and the features are
    /// those `where` selects ("" every one), in rows recycled when
    /// `recycling`. Otherwise a pass over every feature in recycled rows.
    bool wholeFeatures = false;
    std::string where = {};
    bool recycling = true;
};

class FeatureClass {
public:
    virtual ~FeatureClass() = default;
    virtual std::int32_t GetShapeType() const = 0;
    /// The class's own name (a shapefile's file name without extension).
    virtual std::string GetAliasName() const = 0;
    virtual std::shared_ptr<Workspace> GetWorkspace() = 0;
    virtual Fields GetFields() = 0;
    std::int32_t FindFieldIndex(std::string_view name) { return GetFields().FindFieldIndex(name); }
    /// Adds a field to the table. Throws Failure when the name is taken or
    /// the format refuses it; nothing is changed then.
    virtual void AddFieldToClass(const Field& field) = 0;
    /// An update cursor over the features selected by `filter` (all when
    /// null), every field readable and changeable. `recycling` lets the
    /// cursor reuse one Row object. The column update over whole features.
    std::shared_ptr<UpdateCursor> OpenUpdateCursor(std::shared_ptr<QueryFilter> filter,
                                                   bool recycling);
    /// An update cursor over all features for a pass that reads only the
    /// fields `columns.read` and changes only `columns.written`, so that the
    /// host may read and store just those (a column update: a format that
    /// stores whole records need not rewrite the rest). Rows are recycled.
    /// Such a cursor may refuse (Failure) reading or changing any other
    /// field; the values it stores are those a whole-feature pass
    /// (`columns.wholeFeatures`) would store.
    virtual std::shared_ptr<UpdateCursor> OpenColumnUpdateCursor(const ColumnUpdate& columns) = 0;
    /// Number of features, or -1 when it would cost a pass to know.
    virtual std::int64_t GetFeatureCount() = 0;
    /// How the texts of this class's rows and statistics read (UTF-8 unless
    /// the host hands a layer's undeclared bytes).
    virtual TextEncoding GetTextEncoding() const { return TextEncoding::kUtf8; }
    /// The recipe its data store keeps of the field `fieldName` (see
    /// NewFieldPass::StoreRecipe): nullopt when it keeps none (or keeps no
    /// recipes at all). Throws Failure when the store cannot be read.
    virtual std::optional<std::string> ReadRecipe(const std::string& fieldName) {
        (void)fieldName;
        return std::nullopt;
    }
    /// A pass adding the double field `field` filled from the text field
    /// `sourceIndex` (see NewFieldPass), or with `mode` Overwrite filling
    /// the existing double field of that name instead (the caller has
    /// checked that it is one), along `route` (one of GetWriteRoutes; any
    /// other: Failure 5, nothing done). The cursor route adds the field at
    /// Prepare and writes the values through a column update flushed at
    /// Commit.
    /// The write routes this class's adapter can serve, in no order: what the
    /// class's storage allows, not a choice (the criterion module chooses,
    /// ChooseWriteRoute). By default the cursor route alone.
    virtual std::vector<WriteRoute> GetWriteRoutes() { return {WriteRoute::kCursor}; }
    virtual std::unique_ptr<NewFieldPass> OpenNewFieldPass(const Field& field,
                                                           std::int32_t sourceIndex,
                                                           NewFieldMode mode, WriteRoute route);
    /// Takes the class's update lock, waiting up to `waitMilliseconds` for
    /// another run to let it go; throws Failure naming the class when it
    /// does not. The class then shows the data as they are now, changes of
    /// other runs included. By default a lock that keeps nobody out.
    virtual std::unique_ptr<UpdateLock> LockForUpdate(std::int32_t waitMilliseconds) {
        (void)waitMilliseconds;
        return std::make_unique<UpdateLock>();
    }
};

class Layer {
public:
    virtual ~Layer() = default;
    virtual std::string GetLayerName() const = 0;
    virtual void SetLayerName(std::string name) = 0;
};

/// A layer holding other layers; Map::FindLayers does not enter it.
class GroupLayer : public Layer {
public:
    virtual std::int32_t GetLayerCount() const = 0;
    virtual std::shared_ptr<Layer> GetLayer(std::int32_t index) const = 0;
};

class FeatureLayer : public Layer {
public:
    virtual std::shared_ptr<FeatureClass> GetFeatureClass() = 0;
    virtual void SetFeatureClass(std::shared_ptr<FeatureClass> featureClass) = 0;
    virtual bool IsLayerSelectable() const = 0;
    /// A cursor over all features of the layer (filter null: no filter).
    virtual std::shared_ptr<Cursor> SearchLayer(std::shared_ptr<QueryFilter> filter,
                                                bool recycling) = 0;
};

/// Enumerates the layers FindLayers selected.
class LayerEnum {
public:
    virtual ~LayerEnum() = default;
    virtual void ResetLayers() = 0;
    virtual std::shared_ptr<Layer> NextLayer() = 0;
};

/// A LayerEnum over layers collected beforehand, for adapters.
class LayerList : public LayerEnum {
public:
    explicit LayerList(std::vector<std::shared_ptr<Layer>> layers) : m_layers(std::move(layers)) {}
    void ResetLayers() override { m_next = 0; }
    std::shared_ptr<Layer> NextLayer() override {
        return m_next < m_layers.size() ? m_layers[m_next++] : nullptr;
    }

private:
    std::vector<std::shared_ptr<Layer>> m_layers;
    std::size_t m_next = 0;
};

// ---------------------------------------------------------------------------
// Events

class DocumentEventsSink {
public:
    virtual ~DocumentEventsSink() = default;
    virtual bool ActiveViewChanged() = 0;
    virtual bool BeforeCloseDocument() = 0;
    virtual bool CloseDocument() = 0;
    virtual bool MapsChanged() = 0;
    virtual bool NewDocument() = 0;
    virtual bool OpenDocument() = 0;
};

class MapActiveViewEventsSink {
public:
    virtual ~MapActiveViewEventsSink() = default;
    virtual void AfterDraw() = 0;
    virtual void AfterItemDraw() = 0;
    virtual void ContentsChanged() = 0;
    virtual void ContentsCleared() = 0;
    virtual void FocusMapChanged() = 0;
    virtual void ItemAdded() = 0;
    virtual void ItemDeleted() = 0;
    virtual void ItemReordered() = 0;
    virtual void SelectionChanged() = 0;
    virtual void SpatialReferenceChanged() = 0;
    virtual void ViewRefreshed() = 0;
};

// ---------------------------------------------------------------------------
// Maps, documents, application

class Map {
public:
    virtual ~Map() = default;
    /// Top-level layers only.
    virtual std::int32_t GetLayerCount() const = 0;
    virtual std::shared_ptr<Layer> GetMapLayer(std::int32_t index) const = 0;
    /// Layers of the given type id, in map order; `recursive` false does not
    /// enter group layers.
    virtual std::shared_ptr<LayerEnum> FindLayers(const Uid& uid, bool recursive) const = 0;
    virtual void AddLayer(std::shared_ptr<Layer> layer) = 0;
    virtual void SetViewNotification(bool on) = 0;
    virtual void AdviseViewEvents(MapActiveViewEventsSink* sink) = 0;
    virtual void UnadviseViewEvents(MapActiveViewEventsSink* sink) = 0;
};

class MapDocument {
public:
    virtual ~MapDocument() = default;
    virtual std::shared_ptr<Map> GetFocusMap() = 0;
    virtual void AdviseDocumentEvents(DocumentEventsSink* sink) = 0;
    virtual void UnadviseDocumentEvents(DocumentEventsSink* sink) = 0;
};

class Editor {
public:
    virtual ~Editor() = default;
    virtual std::int32_t GetEditState() const = 0;
};

/// What the host hands the command at creation: an application or a map hook.
class Hook {
public:
    virtual ~Hook() = default;
    virtual bool IsApplication() const { return false; }
    virtual bool IsMapHook() const { return false; }
};

class MapHook : public Hook {
public:
    bool IsMapHook() const override { return true; }
    virtual std::shared_ptr<Map> GetHookMap() = 0;
};

class Application : public Hook {
public:
    bool IsApplication() const override { return true; }
    /// True for a map application (one that has map documents).
    virtual bool IsMapApplication() const = 0;
    virtual std::shared_ptr<MapDocument> GetDocument() = 0;
    /// The editor extension for `typeId` (kEditorExtensionId), empty when none.
    virtual std::shared_ptr<Editor> FindEditorExtension(std::string_view typeId) = 0;

    // Factories of the host's objects.
    virtual std::shared_ptr<FeatureLayer> CreateFeatureLayer() = 0;
    virtual std::shared_ptr<Statistics> CreateStatistics() = 0;
    /// The workspace of a folder of shapefiles. Throws Failure when the folder
    /// cannot be opened.
    virtual std::shared_ptr<Workspace> OpenShapefileFolder(const std::string& folder) = 0;
};

}  // namespace vark::host
