// The in-memory feature class: rows, cursors and the workspace holding it.

#include <algorithm>

#include "host/common/ColumnMask.h"
#include "host/common/RowBase.h"
#include "host/common/TextCompare.h"
#include "host/common/ValueConversion.h"
#include "host/fake/FakeHost.h"
#include "support/Failure.h"

namespace vark::host::fake {

namespace {

constexpr const char* kSource = "fake host";

Failure hostFailure(std::string description) {
    return Failure(err::kHostFailure, std::move(description), kSource);
}

Value coerce(const Field& field, const Value& value) {
    return common::CoerceToField(field.GetFieldType(), value, field.GetFieldName(), kSource);
}

class FakeRow : public common::RowBase {
public:
    FakeRow(std::shared_ptr<FakeFeatureClass> owner, std::size_t index, std::vector<Value> values,
            std::shared_ptr<const common::ColumnMask> mask)
        : RowBase(std::move(mask)),
          m_owner(std::move(owner)),
          m_index(index),
          m_values(std::move(values)) {}

    void refill(std::size_t index, const std::vector<Value>& values) {
        m_index = index;
        m_values = values;
    }
    std::size_t index() const { return m_index; }
    const std::vector<Value>& values() const { return m_values; }
    const FakeFeatureClass* owner() const { return m_owner.get(); }

protected:
    void checkField(std::int32_t index) const override {
        if (index < 0 || static_cast<std::size_t>(index) >= m_values.size()) {
            throw Failure(err::kSubscriptOutOfRange,
                          "Field index " + std::to_string(index) + " out of range in a row of " +
                              m_owner->GetAliasName(),
                          kSource);
        }
    }
    std::string fieldName(std::int32_t index) const override { return field(index).GetFieldName(); }
    std::int32_t fieldType(std::int32_t index) const override {
        return field(index).GetFieldType();
    }
    Value readValue(std::int32_t index) const override {
        return m_values[static_cast<std::size_t>(index)];
    }
    bool readText(std::int32_t index, std::optional<std::string_view>& text) const override {
        const Value& v = m_values[static_cast<std::size_t>(index)];
        if (const auto* s = std::get_if<std::string>(&v)) {
            text = std::string_view(*s);
            return true;
        }
        return false;
    }
    void writeValue(std::int32_t index, const Value& value) override {
        const Field& f = field(index);
        if (f.GetFieldType() == kFieldOid || f.GetFieldType() == kFieldGeometry) {
            throw hostFailure("Field " + f.GetFieldName() + " of " + m_owner->GetAliasName() +
                              " cannot be written");
        }
        m_values[static_cast<std::size_t>(index)] = value;
    }
    std::string_view source() const override { return kSource; }

private:
    const Field& field(std::int32_t index) const {
        return m_owner->fieldList()[static_cast<std::size_t>(index)];
    }

    std::shared_ptr<FakeFeatureClass> m_owner;
    std::size_t m_index;
    std::vector<Value> m_values;
};

}  // namespace

// The cursors live outside the anonymous namespace: the feature class names
// them as friends.
class FakeCursor : public Cursor {
public:
    FakeCursor(std::shared_ptr<FakeFeatureClass> owner, bool recycling,
               std::shared_ptr<const common::ColumnMask> mask = nullptr)
        : m_owner(std::move(owner)), m_recycling(recycling), m_mask(std::move(mask)) {}

    std::shared_ptr<Row> NextRow() override {
        if (m_next >= m_owner->m_rows.size()) {
            return nullptr;
        }
        const std::size_t index = m_next++;
        if (m_recycling && m_row) {
            m_row->refill(index, m_owner->m_rows[index]);
            return m_row;
        }
        m_row = std::make_shared<FakeRow>(m_owner, index, m_owner->m_rows[index], m_mask);
        return m_row;
    }

    FakeFeatureClass& owner() const { return *m_owner; }
    std::int64_t total() const { return static_cast<std::int64_t>(m_owner->m_rows.size()); }

protected:
    std::shared_ptr<FakeFeatureClass> m_owner;

private:
    bool m_recycling;
    std::shared_ptr<const common::ColumnMask> m_mask;
    std::size_t m_next = 0;
    std::shared_ptr<FakeRow> m_row;
};

class FakeUpdateCursor : public UpdateCursor {
public:
    FakeUpdateCursor(std::shared_ptr<FakeFeatureClass> owner, bool recycling,
                     std::shared_ptr<const common::ColumnMask> mask)
        : m_reader(owner, recycling, std::move(mask)), m_owner(std::move(owner)) {
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
    /// Nothing stored since the last flush: nothing to roll back.
    bool m_flushed = true;
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
        if (common::EqualsIgnoringAsciiCase(existing.GetFieldName(), name)) {
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

void FakeFeatureClass::checkWhere(const std::string& where) const {
    if (!where.empty()) {
        throw hostFailure("The fake host does not evaluate where clauses (" + m_aliasName + ")");
    }
}

std::shared_ptr<UpdateCursor> FakeFeatureClass::OpenColumnUpdateCursor(
    const ColumnUpdate& columns) {
    ++m_openUpdateCalls;
    if (columns.wholeFeatures) {
        checkWhere(columns.where);
        return std::make_shared<FakeUpdateCursor>(shared_from_this(), columns.recycling, nullptr);
    }
    auto mask = std::make_shared<const common::ColumnMask>(
        static_cast<std::int32_t>(m_fields.size()), columns, m_aliasName, kSource);
    return std::make_shared<FakeUpdateCursor>(shared_from_this(), true, std::move(mask));
}

std::shared_ptr<Cursor> FakeFeatureClass::Search(std::shared_ptr<QueryFilter> filter,
                                                 bool recycling) {
    ++m_searchCalls;
    checkWhere(filter ? filter->whereClause() : std::string());
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
// Statistics: read through the rows of a cursor of this host

std::unique_ptr<common::FieldScan> FakeStatistics::openScan(const std::shared_ptr<Cursor>& cursor,
                                                            const std::string& field) {
    auto* fakeCursor = dynamic_cast<FakeCursor*>(cursor.get());
    if (!fakeCursor) {
        throw hostFailure("Statistics: the cursor does not come from this host");
    }
    FakeFeatureClass& owner = fakeCursor->owner();
    const std::int32_t index = owner.fieldIndex(field);
    if (index < 0) {
        throw hostFailure("Statistics: no field " + field + " in " + owner.GetAliasName());
    }
    const std::int32_t type = owner.fieldList()[static_cast<std::size_t>(index)].GetFieldType();
    std::shared_ptr<FakeFeatureClass> ownerPtr = owner.shared_from_this();
    return std::make_unique<common::CursorFieldScan>(
        cursor, index, type, fakeCursor->total(),
        [ownerPtr] { return ownerPtr->Search(nullptr, false); });
}

}  // namespace vark::host::fake
