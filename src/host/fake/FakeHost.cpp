#include "host/fake/FakeHost.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "support/Failure.h"

namespace vark::host::fake {

namespace {

constexpr const char* kSource = "fake host";

Failure hostFailure(std::string description) {
    return Failure(err::kHostFailure, std::move(description), kSource);
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool isIntegerType(std::int32_t type) {
    return type == kFieldShort || type == kFieldLong || type == kFieldOid;
}

bool isRealType(std::int32_t type) {
    return type == kFieldSingle || type == kFieldDouble || type == kFieldDate;
}

// Converts a value to what a field of `type` holds, as a host does when a
// value is assigned to a field.
Value coerce(const Field& field, const Value& value) {
    const std::int32_t type = field.GetFieldType();
    if (IsNull(value)) {
        return value;
    }
    if (type == kFieldText) {
        return ValueToText(value);
    }
    double number = 0;
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        number = static_cast<double>(*i);
    } else if (const auto* d = std::get_if<double>(&value)) {
        number = *d;
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        auto res = std::from_chars(s->data(), s->data() + s->size(), number);
        if (res.ec != std::errc() || res.ptr != s->data() + s->size()) {
            throw Failure(err::kTypeMismatch,
                          "Type mismatch: \"" + *s + "\" for field " + field.GetFieldName(),
                          kSource);
        }
    }
    if (isIntegerType(type)) {
        return static_cast<std::int64_t>(std::llround(number));
    }
    if (type == kFieldSingle) {
        return static_cast<double>(static_cast<float>(number));
    }
    if (isRealType(type)) {
        return number;
    }
    return value;
}

class FakeRow : public Row {
public:
    FakeRow(std::shared_ptr<FakeFeatureClass> owner, std::size_t index, std::vector<Value> values)
        : m_owner(std::move(owner)), m_index(index), m_values(std::move(values)) {}

    Value GetRowValue(std::int32_t index) const override { return m_values.at(check(index)); }

    void SetRowValue(std::int32_t index, const Value& value) override {
        const std::size_t i = check(index);
        const Field& field = m_owner->fieldList()[i];
        if (field.GetFieldType() == kFieldOid || field.GetFieldType() == kFieldGeometry) {
            throw hostFailure("Field " + field.GetFieldName() + " of " + m_owner->GetAliasName() +
                              " cannot be written");
        }
        m_values[i] = coerce(field, value);
    }

    std::optional<std::string_view> GetRowText(std::int32_t index) const override {
        const Value& v = m_values[check(index)];
        if (IsNull(v)) {
            return std::nullopt;
        }
        if (const auto* s = std::get_if<std::string>(&v)) {
            return std::string_view(*s);
        }
        m_scratch = ValueToText(v);
        return std::string_view(m_scratch);
    }

    void refill(std::size_t index, const std::vector<Value>& values) {
        m_index = index;
        m_values = values;
    }
    std::size_t index() const { return m_index; }
    const std::vector<Value>& values() const { return m_values; }
    const FakeFeatureClass* owner() const { return m_owner.get(); }

private:
    std::size_t check(std::int32_t index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= m_values.size()) {
            throw Failure(err::kSubscriptOutOfRange,
                          "Field index " + std::to_string(index) + " out of range in a row of " +
                              m_owner->GetAliasName(),
                          kSource);
        }
        return static_cast<std::size_t>(index);
    }

    std::shared_ptr<FakeFeatureClass> m_owner;
    std::size_t m_index;
    std::vector<Value> m_values;
    mutable std::string m_scratch;
};

class ValueList : public Statistics::ValueEnum {
public:
    explicit ValueList(std::vector<Value> values) : m_values(std::move(values)) {}
    void Reset() override { m_next = 0; }
    std::optional<Value> Next() override {
        if (m_next < m_values.size()) {
            return m_values[m_next++];
        }
        return std::nullopt;
    }

private:
    std::vector<Value> m_values;
    std::size_t m_next = 0;
};

template <typename Sink>
void unadvise(std::vector<Sink*>& sinks, Sink* sink, int& calls, int& unmatched) {
    ++calls;
    auto it = std::find(sinks.begin(), sinks.end(), sink);
    if (it == sinks.end()) {
        ++unmatched;
        return;
    }
    sinks.erase(it);
}

}  // namespace

// The cursors live outside the anonymous namespace: the feature class names
// them as friends.
class FakeCursor : public Cursor {
public:
    FakeCursor(std::shared_ptr<FakeFeatureClass> owner, bool recycling)
        : m_owner(std::move(owner)), m_recycling(recycling) {}

    std::shared_ptr<Row> NextRow() override {
        if (m_next >= m_owner->m_rows.size()) {
            return nullptr;
        }
        const std::size_t index = m_next++;
        if (m_recycling && m_row) {
            m_row->refill(index, m_owner->m_rows[index]);
            return m_row;
        }
        m_row = std::make_shared<FakeRow>(m_owner, index, m_owner->m_rows[index]);
        return m_row;
    }

    FakeFeatureClass& owner() const { return *m_owner; }
    std::int64_t total() const { return static_cast<std::int64_t>(m_owner->m_rows.size()); }

protected:
    std::shared_ptr<FakeFeatureClass> m_owner;

private:
    bool m_recycling;
    std::size_t m_next = 0;
    std::shared_ptr<FakeRow> m_row;
};

class FakeUpdateCursor : public UpdateCursor {
public:
    FakeUpdateCursor(std::shared_ptr<FakeFeatureClass> owner, bool recycling)
        : m_reader(owner, recycling), m_owner(std::move(owner)) {
        if (m_owner->m_transactional) {
            m_snapshot = m_owner->m_rows;
        }
    }

    ~FakeUpdateCursor() override {
        if (m_owner->m_transactional && !m_flushed) {
            m_owner->m_rows = std::move(m_snapshot);
            ++m_owner->m_rollbacks;
        }
    }

    std::shared_ptr<Row> NextRow() override { return m_reader.NextRow(); }

    void StoreRow(Row& row) override {
        auto* fakeRow = dynamic_cast<FakeRow*>(&row);
        if (!fakeRow || fakeRow->owner() != m_owner.get()) {
            throw hostFailure("StoreRow: the row does not come from a cursor of " +
                              m_owner->GetAliasName());
        }
        m_owner->storeRow(fakeRow->index(), fakeRow->values());
        m_flushed = false;
    }

    void Flush() override {
        ++m_owner->m_flushCalls;
        if (m_owner->m_transactional) {
            m_snapshot = m_owner->m_rows;
        }
        m_flushed = true;
    }

private:
    FakeCursor m_reader;
    std::shared_ptr<FakeFeatureClass> m_owner;
    std::vector<std::vector<Value>> m_snapshot;
    bool m_flushed = false;
};

Field MakeField(std::string name, std::int32_t type) {
    Field field = NewField();
    field.SetFieldName(std::move(name));
    field.SetFieldType(type);
    return field;
}

// ---------------------------------------------------------------------------
// FakeFeatureClass

FakeFeatureClass::FakeFeatureClass(std::string aliasName, std::int32_t shapeType,
                                   std::vector<Field> fields)
    : m_aliasName(std::move(aliasName)), m_shapeType(shapeType), m_fields(std::move(fields)) {}

std::shared_ptr<Workspace> FakeFeatureClass::GetWorkspace() {
    return m_workspace.lock();
}

void FakeFeatureClass::AddFieldToClass(const Field& field) {
    ++m_addFieldCalls;
    const std::string& name = field.GetFieldName();
    if (m_readOnly) {
        throw hostFailure("Cannot add field " + name + " to " + m_aliasName +
                          ": the data set is read-only");
    }
    if (name.empty()) {
        throw hostFailure("Cannot add a field without a name to " + m_aliasName);
    }
    // Field names compare without regard to case, as in the formats the
    // real hosts write (dBASE, SQL).
    for (const auto& existing : m_fields) {
        if (equalsIgnoringAsciiCase(existing.GetFieldName(), name)) {
            throw hostFailure("Cannot add field " + name + " to " + m_aliasName +
                              ": a field named " + existing.GetFieldName() + " exists");
        }
    }
    if (m_maxFieldNameLength > 0 && name.size() > m_maxFieldNameLength) {
        throw hostFailure("Cannot add field " + name + " to " + m_aliasName +
                          ": the name is longer than " + std::to_string(m_maxFieldNameLength) +
                          " characters");
    }
    addField(name, field.GetFieldType());
    m_fields.back().SetFieldAlias(field.GetFieldAlias());
    m_fields.back().SetFieldLength(field.GetFieldLength());
    m_fields.back().SetFieldPrecision(field.GetFieldPrecision());
}

void FakeFeatureClass::checkFilter(const std::shared_ptr<QueryFilter>& filter) const {
    if (filter && !filter->whereClause().empty()) {
        throw hostFailure("The fake host does not evaluate where clauses (" + m_aliasName + ")");
    }
}

std::shared_ptr<UpdateCursor> FakeFeatureClass::OpenUpdateCursor(
    std::shared_ptr<QueryFilter> filter, bool recycling) {
    ++m_openUpdateCalls;
    checkFilter(filter);
    return std::make_shared<FakeUpdateCursor>(shared_from_this(), recycling);
}

std::shared_ptr<Cursor> FakeFeatureClass::Search(std::shared_ptr<QueryFilter> filter,
                                                 bool recycling) {
    ++m_searchCalls;
    checkFilter(filter);
    return std::make_shared<FakeCursor>(shared_from_this(), recycling);
}

std::int64_t FakeFeatureClass::GetFeatureCount() {
    return m_countKnown ? static_cast<std::int64_t>(m_rows.size()) : -1;
}

void FakeFeatureClass::addField(std::string name, std::int32_t type) {
    m_fields.push_back(MakeField(std::move(name), type));
    for (auto& row : m_rows) {
        row.emplace_back();
    }
}

std::size_t FakeFeatureClass::addRow(std::vector<Value> values) {
    if (values.size() > m_fields.size()) {
        throw hostFailure("addRow: " + std::to_string(values.size()) + " values for " +
                          std::to_string(m_fields.size()) + " fields of " + m_aliasName);
    }
    values.resize(m_fields.size());
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].GetFieldType() == kFieldOid && IsNull(values[i])) {
            values[i] = static_cast<std::int64_t>(m_rows.size());
        } else if (m_fields[i].GetFieldType() != kFieldGeometry) {
            values[i] = coerce(m_fields[i], values[i]);
        }
    }
    m_rows.push_back(std::move(values));
    return m_rows.size() - 1;
}

std::size_t FakeFeatureClass::addRecord(
    std::initializer_list<std::pair<std::string_view, Value>> values) {
    std::vector<Value> row(m_fields.size());
    for (const auto& [name, value] : values) {
        const std::int32_t index = fieldIndex(name);
        if (index < 0) {
            throw hostFailure("addRecord: no field " + std::string(name) + " in " + m_aliasName);
        }
        row[static_cast<std::size_t>(index)] = value;
    }
    return addRow(std::move(row));
}

const Value& FakeFeatureClass::value(std::size_t row, std::string_view field) const {
    const std::int32_t index = fieldIndex(field);
    if (index < 0) {
        throw hostFailure("No field " + std::string(field) + " in " + m_aliasName);
    }
    return m_rows.at(row)[static_cast<std::size_t>(index)];
}

std::vector<Value> FakeFeatureClass::column(std::string_view field) const {
    std::vector<Value> out;
    out.reserve(m_rows.size());
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        out.push_back(value(r, field));
    }
    return out;
}

std::int32_t FakeFeatureClass::fieldIndex(std::string_view field) const {
    return Fields(m_fields).FindFieldIndex(field);
}

void FakeFeatureClass::storeRow(std::size_t index, const std::vector<Value>& values) {
    ++m_storeAttempts;
    if (m_readOnly) {
        throw hostFailure("Cannot store a feature of " + m_aliasName +
                          ": the data set is read-only");
    }
    if (m_failOnStore > 0 && m_storeAttempts == m_failOnStore) {
        throw hostFailure("Simulated failure storing feature " + std::to_string(index) + " of " +
                          m_aliasName);
    }
    if (index >= m_rows.size()) {
        throw hostFailure("StoreRow: feature " + std::to_string(index) + " no longer exists in " +
                          m_aliasName);
    }
    // A field added after the cursor read the row keeps its own value.
    auto& target = m_rows[index];
    std::copy_n(values.begin(), std::min(values.size(), target.size()), target.begin());
    ++m_storedRows;
}

// ---------------------------------------------------------------------------
// FakeWorkspace

std::shared_ptr<FeatureClass> FakeWorkspace::OpenFeatureClass(const std::string& name) {
    ++m_openCalls;
    auto found = featureClass(name);
    if (!found) {
        throw Failure(err::kFileNotFound, "No feature class " + name + " in workspace " + m_path,
                      kSource);
    }
    return found;
}

std::shared_ptr<FakeFeatureClass> FakeWorkspace::createFeatureClass(std::string name,
                                                                    std::int32_t shapeType,
                                                                    std::vector<Field> fields,
                                                                    bool withOidAndShape) {
    if (withOidAndShape) {
        fields.insert(fields.begin(),
                      {MakeField("FID", kFieldOid), MakeField("Shape", kFieldGeometry)});
    }
    auto featureClass =
        std::make_shared<FakeFeatureClass>(std::move(name), shapeType, std::move(fields));
    addFeatureClass(featureClass);
    return featureClass;
}

void FakeWorkspace::addFeatureClass(const std::shared_ptr<FakeFeatureClass>& featureClass) {
    featureClass->setWorkspace(shared_from_this());
    m_classes[featureClass->GetAliasName()] = featureClass;
}

std::shared_ptr<FakeFeatureClass> FakeWorkspace::featureClass(const std::string& name) const {
    auto it = m_classes.find(name);
    return it == m_classes.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------------------
// Layers and maps

std::shared_ptr<Cursor> FakeFeatureLayer::SearchLayer(std::shared_ptr<QueryFilter> filter,
                                                      bool recycling) {
    if (!m_featureClass) {
        throw Failure(err::kObjectVariableNotSet, "Layer " + m_name + " has no feature class",
                      kSource);
    }
    return m_featureClass->Search(std::move(filter), recycling);
}

std::shared_ptr<Layer> FakeGroupLayer::GetLayer(std::int32_t index) const {
    if (index < 0 || index >= GetLayerCount()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Layer index " + std::to_string(index) + " out of range in " + m_name,
                      kSource);
    }
    return m_layers[static_cast<std::size_t>(index)];
}

std::shared_ptr<Layer> FakeMap::GetMapLayer(std::int32_t index) const {
    if (index < 0 || index >= GetLayerCount()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Layer index " + std::to_string(index) + " out of range in map " + m_name,
                      kSource);
    }
    return m_layers[static_cast<std::size_t>(index)];
}

namespace {
void collectFeatureLayers(const std::vector<std::shared_ptr<Layer>>& layers, bool recursive,
                          std::vector<std::shared_ptr<Layer>>& out) {
    for (const auto& layer : layers) {
        if (std::dynamic_pointer_cast<FeatureLayer>(layer)) {
            out.push_back(layer);
        } else if (auto group = std::dynamic_pointer_cast<GroupLayer>(layer); group && recursive) {
            std::vector<std::shared_ptr<Layer>> inner;
            for (std::int32_t i = 0; i < group->GetLayerCount(); ++i) {
                inner.push_back(group->GetLayer(i));
            }
            collectFeatureLayers(inner, recursive, out);
        }
    }
}
}  // namespace

std::shared_ptr<LayerEnum> FakeMap::FindLayers(const Uid& uid, bool recursive) const {
    std::vector<std::shared_ptr<Layer>> found;
    if (uid.value() == kFeatureLayerUid) {
        collectFeatureLayers(m_layers, recursive, found);
    }
    return std::make_shared<LayerList>(std::move(found));
}

void FakeMap::AddLayer(std::shared_ptr<Layer> layer) {
    ++m_addLayerCalls;
    if (!layer) {
        throw Failure(err::kObjectVariableNotSet, "AddLayer: no layer", kSource);
    }
    m_layers.push_back(std::move(layer));
}

void FakeMap::AdviseViewEvents(MapActiveViewEventsSink* sink) {
    ++m_adviseCalls;
    m_sinks.push_back(sink);
}

void FakeMap::UnadviseViewEvents(MapActiveViewEventsSink* sink) {
    unadvise(m_sinks, sink, m_unadviseCalls, m_unmatchedUnadvise);
}

void FakeMap::removeLayer(std::size_t index) {
    m_layers.erase(m_layers.begin() + static_cast<std::ptrdiff_t>(index));
}

void FakeMap::fireViewEvent(const std::function<void(MapActiveViewEventsSink&)>& fire) {
    const auto sinks = m_sinks;
    for (auto* sink : sinks) {
        fire(*sink);
    }
}

void FakeMap::fireFocusMapChanged() {
    fireViewEvent([](MapActiveViewEventsSink& s) { s.FocusMapChanged(); });
}

void FakeMap::fireItemAdded() {
    fireViewEvent([](MapActiveViewEventsSink& s) { s.ItemAdded(); });
}

// ---------------------------------------------------------------------------
// Document and application

FakeMapDocument::FakeMapDocument() {
    m_focusMap = addMap("Layers");
}

void FakeMapDocument::AdviseDocumentEvents(DocumentEventsSink* sink) {
    ++m_adviseCalls;
    m_sinks.push_back(sink);
}

void FakeMapDocument::UnadviseDocumentEvents(DocumentEventsSink* sink) {
    unadvise(m_sinks, sink, m_unadviseCalls, m_unmatchedUnadvise);
}

void FakeMapDocument::setFocusMap(std::shared_ptr<FakeMap> map) {
    if (map && std::find(m_maps.begin(), m_maps.end(), map) == m_maps.end()) {
        m_maps.push_back(map);
    }
    m_focusMap = std::move(map);
}

std::shared_ptr<FakeMap> FakeMapDocument::addMap(std::string name) {
    m_maps.push_back(std::make_shared<FakeMap>(std::move(name)));
    return m_maps.back();
}

void FakeMapDocument::fireDocumentEvent(const std::function<void(DocumentEventsSink&)>& fire) {
    const auto sinks = m_sinks;
    for (auto* sink : sinks) {
        fire(*sink);
    }
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
    : m_document(std::make_shared<FakeMapDocument>()), m_editor(std::make_shared<FakeEditor>()) {}

std::shared_ptr<Editor> FakeApplication::FindEditorExtension(std::string_view typeId) {
    if (!m_editorAvailable || typeId != kEditorExtensionId) {
        return nullptr;
    }
    return m_editor;
}

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

std::shared_ptr<FakeMap> FakeApplication::focusMap() const {
    return m_document ? m_document->focusMap() : nullptr;
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

void FakeStatistics::SetStatisticsField(std::string name) {
    m_field = std::move(name);
}

void FakeStatistics::SetStatisticsCursor(std::shared_ptr<Cursor> cursor) {
    m_cursor = std::move(cursor);
}

void FakeStatistics::start() {
    if (!m_started) {
        if (!m_cursor) {
            throw Failure(err::kObjectVariableNotSet, "Statistics: no cursor set", kSource);
        }
        auto* fakeCursor = dynamic_cast<FakeCursor*>(m_cursor.get());
        if (!fakeCursor) {
            throw hostFailure("Statistics: the cursor does not come from this host");
        }
        FakeFeatureClass& owner = fakeCursor->owner();
        m_index = owner.fieldIndex(m_field);
        if (m_index < 0) {
            throw hostFailure("Statistics: no field " + m_field + " in " + owner.GetAliasName());
        }
        m_type = owner.fieldList()[static_cast<std::size_t>(m_index)].GetFieldType();
        m_total = fakeCursor->total();
        m_started = true;
    }
}

void FakeStatistics::run(bool toTheEnd) {
    start();
    if (m_finished || (m_overLimit && !toTheEnd)) {
        return;
    }
    std::set<Value> seen(m_values.begin(), m_values.end());
    while (auto row = m_cursor->NextRow()) {
        ++m_done;
        Value v = row->GetRowValue(m_index);
        if (m_progress && (m_done % 1024) == 0) {
            m_progress(m_done, m_total);
        }
        if (IsNull(v)) {
            continue;
        }
        if (const auto* i = std::get_if<std::int64_t>(&v)) {
            const double d = static_cast<double>(*i);
            m_minMax = m_haveMinMax
                           ? MinMax{std::min(m_minMax.minimum, d), std::max(m_minMax.maximum, d)}
                           : MinMax{d, d};
            m_haveMinMax = true;
        } else if (const auto* d = std::get_if<double>(&v)) {
            m_minMax = m_haveMinMax
                           ? MinMax{std::min(m_minMax.minimum, *d), std::max(m_minMax.maximum, *d)}
                           : MinMax{*d, *d};
            m_haveMinMax = true;
        }
        if (!m_overLimit && seen.insert(v).second) {
            m_values.push_back(std::move(v));
            if (m_limit > 0 && m_values.size() > static_cast<std::size_t>(m_limit)) {
                m_overLimit = true;
                if (!toTheEnd) {
                    return;
                }
            }
        }
    }
    m_finished = true;
    if (m_progress) {
        m_progress(m_done, m_total);
    }
}

std::shared_ptr<Statistics::ValueEnum> FakeStatistics::GetUniqueValues() {
    run(false);
    return std::make_shared<ValueList>(m_values);
}

std::int32_t FakeStatistics::GetUniqueValueCount() {
    run(false);
    return static_cast<std::int32_t>(m_values.size());
}

MinMax FakeStatistics::GetStatistics() {
    start();
    if (!(m_type >= kFieldShort && m_type <= kFieldDouble) && m_type != kFieldOid) {
        throw hostFailure("Statistics: field " + m_field + " is not numeric");
    }
    run(true);
    return m_minMax;
}

}  // namespace vark::host::fake
