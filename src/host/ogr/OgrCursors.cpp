// Rows and cursors over OGR layers: the read-only pass, the whole-feature
// update pass and the column update, each an update pass in one
// transaction where the data set has them.

#include <cmath>

#include "host/common/ColumnMask.h"
#include "host/common/RowBase.h"
#include "host/common/ValueConversion.h"
#include "host/ogr/OgrData.h"

namespace vark::ogr {

using host::Value;
using host::common::ColumnMask;

namespace {

std::optional<double> toNumber(const Value& value, const std::string& fieldName) {
    return host::common::ToNumber(value, fieldName, kGdalSource);
}

const std::string_view kEmptyText{};

class OgrRow : public host::common::RowBase {
public:
    OgrRow(std::shared_ptr<OgrFeatureClass> owner, FeaturePtr feature,
           std::shared_ptr<const ColumnMask> mask = nullptr)
        : RowBase(std::move(mask)), m_owner(std::move(owner)) {
        reset(std::move(feature));
    }

    void reset(FeaturePtr feature) {
        m_feature = std::move(feature);
        m_schema = m_owner->source().schemaVersion(m_owner->layer());
    }

    OGRFeature* feature() const { return m_feature.get(); }
    const OgrFeatureClass* owner() const { return m_owner.get(); }
    bool schemaCurrent() const {
        return m_schema == m_owner->source().schemaVersion(m_owner->layer());
    }

protected:
    void checkField(std::int32_t index) const override {
        if (!schemaCurrent()) {
            throw gdalFailure("A feature of " + m_owner->describe() +
                              " was read before its fields changed; read it again");
        }
        m_owner->column(index);
    }
    std::string fieldName(std::int32_t index) const override {
        return m_owner->fieldName(index) + " of " + m_owner->describe();
    }
    std::int32_t fieldType(std::int32_t index) const override { return m_owner->fieldType(index); }
    std::string_view source() const override { return kGdalSource; }

    Value readValue(std::int32_t index) const override {
        const Column c = m_owner->column(index);
        OGRFeature& f = *m_feature;
        if (c.kind == Column::kOid) {
            return static_cast<std::int64_t>(f.GetFID());
        }
        if (c.kind == Column::kGeometry) {
            return {};
        }
        const int a = c.index;
        const OGRFieldType type = f.GetFieldDefnRef(a)->GetType();
        if (!f.IsFieldSetAndNotNull(a)) {
            if (type == OFTString && m_owner->textNullAsEmpty()) {
                return std::string();
            }
            return {};
        }
        switch (type) {
            case OFTInteger:
                return static_cast<std::int64_t>(f.GetFieldAsInteger(a));
            case OFTInteger64:
                return static_cast<std::int64_t>(f.GetFieldAsInteger64(a));
            case OFTReal:
                return f.GetFieldAsDouble(a);
            case OFTDate:
            case OFTDateTime:
            case OFTTime: {
                int y = 0, m = 0, d = 0, h = 0, mi = 0, tz = 0;
                float s = 0;
                f.GetFieldAsDateTime(a, &y, &m, &d, &h, &mi, &s, &tz);
                return ToOleDate(y, m, d, h, mi, s);
            }
            case OFTBinary:
                return {};
            default:
                return std::string(f.GetFieldAsString(a));
        }
    }

    // `value` comes converted for the field's host type; the OGR type
    // decides how it is stored.
    void writeValue(std::int32_t index, const Value& value) override {
        const Column c = m_owner->column(index);
        if (c.kind != Column::kAttribute) {
            throw gdalFailure("The field " + m_owner->fieldName(index) + " of " +
                              m_owner->describe() + " cannot be written");
        }
        OGRFeature& f = *m_feature;
        const int a = c.index;
        if (host::IsNull(value)) {
            f.SetFieldNull(a);
            return;
        }
        const OGRFieldDefn* defn = f.GetFieldDefnRef(a);
        switch (defn->GetType()) {
            case OFTString:
                if (const auto* s = std::get_if<std::string>(&value)) {
                    f.SetField(a, s->c_str());
                } else {
                    f.SetField(a, host::ValueToText(value).c_str());
                }
                return;
            case OFTInteger:
            case OFTInteger64:
                f.SetField(
                    a, static_cast<GIntBig>(std::llround(*toNumber(value, defn->GetNameRef()))));
                return;
            case OFTReal: {
                double number = *toNumber(value, defn->GetNameRef());
                if (defn->GetSubType() == OFSTFloat32) {
                    number = static_cast<float>(number);
                }
                f.SetField(a, number);
                return;
            }
            case OFTDate:
            case OFTDateTime:
            case OFTTime: {
                int y = 0, m = 0, d = 0, h = 0, mi = 0;
                float s = 0;
                FromOleDate(*toNumber(value, defn->GetNameRef()), y, m, d, h, mi, s);
                f.SetField(a, y, m, d, h, mi, s, 0);
                return;
            }
            default:
                throw gdalFailure("The field " + std::string(defn->GetNameRef()) + " of " +
                                  m_owner->describe() + " cannot be written by this host");
        }
    }

    bool readText(std::int32_t index, std::optional<std::string_view>& text) const override {
        const Column c = m_owner->column(index);
        if (c.kind != Column::kAttribute ||
            m_feature->GetFieldDefnRef(c.index)->GetType() != OFTString) {
            return false;
        }
        if (!m_feature->IsFieldSetAndNotNull(c.index)) {
            text = m_owner->textNullAsEmpty() ? std::optional<std::string_view>(kEmptyText)
                                              : std::nullopt;
        } else {
            text = std::string_view(m_feature->GetFieldAsString(c.index));
        }
        return true;
    }

    // The computation's hot path: a double straight into a double field.
    void writeDouble(std::int32_t index, double value) override {
        const Column c = m_owner->column(index);
        if (c.kind == Column::kAttribute) {
            const OGRFieldDefn* defn = m_feature->GetFieldDefnRef(c.index);
            if (defn->GetType() == OFTReal && defn->GetSubType() != OFSTFloat32) {
                m_feature->SetField(c.index, value);
                return;
            }
        }
        RowBase::writeDouble(index, value);
    }

private:
    std::shared_ptr<OgrFeatureClass> m_owner;
    FeaturePtr m_feature;
    std::uint64_t m_schema = 0;
};

// Hands out rows: one recycled Row when asked, a fresh one per feature
// otherwise.
class RowSource {
public:
    RowSource(std::shared_ptr<OgrFeatureClass> owner, bool recycling,
              std::shared_ptr<const ColumnMask> mask = nullptr)
        : m_owner(std::move(owner)), m_recycling(recycling), m_mask(std::move(mask)) {}

    std::shared_ptr<host::Row> wrap(FeaturePtr feature) {
        if (!feature) {
            return nullptr;
        }
        if (m_recycling && m_row) {
            m_row->reset(std::move(feature));
        } else {
            m_row = std::make_shared<OgrRow>(m_owner, std::move(feature), m_mask);
        }
        return m_row;
    }

private:
    std::shared_ptr<OgrFeatureClass> m_owner;
    bool m_recycling;
    std::shared_ptr<const ColumnMask> m_mask;
    std::shared_ptr<OgrRow> m_row;
};

class OgrSearchCursor : public host::Cursor, public NativeCursor {
public:
    OgrSearchCursor(std::shared_ptr<OgrFeatureClass> owner, std::string where, bool recycling)
        : m_reader(owner, std::move(where), FeatureReader::Mode::kRead),
          m_rows(std::move(owner), recycling) {}

    std::shared_ptr<host::Row> NextRow() override { return m_rows.wrap(m_reader.next()); }
    FeatureReader& reader() override { return m_reader; }

private:
    FeatureReader m_reader;
    RowSource m_rows;
};

// The transaction of one update pass, where the data set has them: started
// before the first read, committed by commit(), rolled back when the pass is
// dropped unfinished.
class PassTransaction {
public:
    explicit PassTransaction(OgrFeatureClass& owner)
        : m_owner(owner),
          m_available(owner.source().dataset().TestCapability(ODsCTransactions) != 0) {}
    ~PassTransaction() {
        if (m_open) {
            GdalErrorScope scope;
            m_owner.source().dataset().RollbackTransaction();
            m_owner.source().setInTransaction(false);
        }
    }
    PassTransaction(const PassTransaction&) = delete;
    PassTransaction& operator=(const PassTransaction&) = delete;

    /// Starts the transaction when the data set has them and none is open.
    void ensureStarted() {
        if (!m_available || m_open || m_owner.source().runTransaction()) {
            return;
        }
        OgrSource& source = m_owner.source();
        if (source.inTransaction()) {
            throw gdalFailure("Cannot update " + m_owner.describe() +
                              ": another update of the data set is in progress");
        }
        GdalErrorScope scope;
        if (source.dataset().StartTransaction(FALSE) != OGRERR_NONE) {
            throw gdalFailure("Cannot start a transaction on " + m_owner.describe(), scope);
        }
        source.setInTransaction(true);
        m_open = true;
    }

    /// Commits the open transaction; false when none was open.
    bool commit() {
        if (!m_open) {
            return false;
        }
        GdalErrorScope scope;
        m_open = false;
        m_owner.source().setInTransaction(false);
        if (m_owner.source().dataset().CommitTransaction() != OGRERR_NONE) {
            throw gdalFailure("Cannot commit the changes to " + m_owner.describe(), scope);
        }
        return true;
    }

private:
    OgrFeatureClass& m_owner;
    bool m_available;
    bool m_open = false;
};

// The next row of an update pass. The transaction starts before the first
// read: some drivers reset their reading when a transaction begins.
std::shared_ptr<host::Row> NextRowOfPass(FeatureReader& reader, PassTransaction& transaction,
                                         RowSource& rows) {
    if (!reader.started()) {
        transaction.ensureStarted();
    }
    return rows.wrap(reader.next());
}

// The row handed to StoreRow, checked to be a current row of this pass.
OgrRow& RowOfPass(host::Row& row, const OgrFeatureClass& owner) {
    auto* ogrRow = dynamic_cast<OgrRow*>(&row);
    if (!ogrRow || ogrRow->owner() != &owner || !ogrRow->feature()) {
        throw gdalFailure("StoreRow: the row does not come from a cursor of " + owner.describe());
    }
    if (!ogrRow->schemaCurrent()) {
        throw gdalFailure("StoreRow: the feature was read before the fields of " +
                          owner.describe() + " changed");
    }
    return *ogrRow;
}

// What the adapter's update cursors share: the reader of the pass, its rows
// and its transaction (one where the data set has them).
class PassCursor : public host::UpdateCursor, public NativeCursor {
public:
    PassCursor(std::shared_ptr<OgrFeatureClass> owner, std::string where, FeatureReader::Mode mode,
               RowSource rows)
        : m_owner(owner),
          m_reader(owner, std::move(where), mode),
          m_rows(std::move(rows)),
          m_transaction(*owner) {}

    std::shared_ptr<host::Row> NextRow() override {
        return NextRowOfPass(m_reader, m_transaction, m_rows);
    }
    FeatureReader& reader() override { return m_reader; }

protected:
    std::shared_ptr<OgrFeatureClass> m_owner;
    FeatureReader m_reader;
    RowSource m_rows;
    PassTransaction m_transaction;
};

class OgrUpdateCursor : public PassCursor {
public:
    OgrUpdateCursor(std::shared_ptr<OgrFeatureClass> owner, std::string where, bool recycling)
        : PassCursor(owner, std::move(where), FeatureReader::Mode::kUpdate,
                     RowSource(owner, recycling)) {}

    void StoreRow(host::Row& row) override {
        OgrRow& ogrRow = RowOfPass(row, *m_owner);
        m_transaction.ensureStarted();
        OGRFeature* feature = ogrRow.feature();
        CPLErrorReset();
        const OGRErr result = m_owner->layer()->SetFeature(feature);
        const CPLErr level = CPLGetLastErrorType();
        // A warning here means a value was not stored as given (a number too
        // wide for a dBASE field, say): that is lost data, not a detail.
        if (result != OGRERR_NONE || level == CE_Failure || level == CE_Warning) {
            throw gdalFailure("Cannot store the feature " + std::to_string(feature->GetFID()) +
                                  " of " + m_owner->describe(),
                              CPLGetLastErrorMsg());
        }
    }

    void Flush() override {
        if (m_transaction.commit()) {
            return;
        }
        GdalErrorScope scope;
        if (m_owner->layer()->SyncToDisk() != OGRERR_NONE) {
            throw gdalFailure("Cannot write the changes to " + m_owner->describe(), scope);
        }
    }
};

// A column update: reads only the fields named (no geometry) and stores
// only the changed double attributes, through a ColumnStore. A pass is one
// transaction where the data set has them, as for OgrUpdateCursor.
class OgrColumnCursor : public PassCursor {
public:
    OgrColumnCursor(std::shared_ptr<OgrFeatureClass> owner, std::vector<int> readAttrs,
                    std::vector<int> writtenAttrs, std::shared_ptr<const ColumnMask> mask,
                    std::unique_ptr<ColumnStore> store)
        : PassCursor(owner, std::string(), FeatureReader::Mode::kRead,
                     RowSource(owner, true, std::move(mask))),
          m_written(std::move(writtenAttrs)),
          m_values(m_written.size()),
          m_store(std::move(store)) {
        m_reader.restrictTo(std::move(readAttrs));
    }

    ~OgrColumnCursor() override {
        if (m_store) {
            m_store->abandon();
        }
    }

    void StoreRow(host::Row& row) override {
        OgrRow& ogrRow = RowOfPass(row, *m_owner);
        if (!m_store) {
            throw gdalFailure("StoreRow: the pass over " + m_owner->describe() + " has ended");
        }
        const OGRFeature& feature = *ogrRow.feature();
        for (std::size_t k = 0; k < m_written.size(); ++k) {
            const int attr = m_written[k];
            m_values[k] = feature.IsFieldSetAndNotNull(attr)
                              ? std::optional<double>(feature.GetFieldAsDouble(attr))
                              : std::nullopt;
        }
        m_store->store(feature.GetFID(), m_values);
    }

    void Flush() override {
        if (m_store) {
            auto store = std::move(m_store);
            store->flush();
        }
        m_transaction.commit();
    }

private:
    std::vector<int> m_written;
    std::vector<std::optional<double>> m_values;
    std::unique_ptr<ColumnStore> m_store;
};

}  // namespace

std::shared_ptr<host::Cursor> OpenSearchCursor(std::shared_ptr<OgrFeatureClass> featureClass,
                                               std::string where, bool recycling) {
    return std::make_shared<OgrSearchCursor>(std::move(featureClass), std::move(where), recycling);
}

std::shared_ptr<host::UpdateCursor> OpenWholeFeatureCursor(
    std::shared_ptr<OgrFeatureClass> featureClass, std::string where, bool recycling) {
    return std::make_shared<OgrUpdateCursor>(std::move(featureClass), std::move(where), recycling);
}

std::shared_ptr<host::UpdateCursor> OpenColumnCursor(
    std::shared_ptr<OgrFeatureClass> featureClass, std::vector<int> readAttrs,
    std::vector<int> writtenAttrs, std::shared_ptr<const host::common::ColumnMask> mask,
    std::unique_ptr<ColumnStore> store) {
    return std::make_shared<OgrColumnCursor>(std::move(featureClass), std::move(readAttrs),
                                             std::move(writtenAttrs), std::move(mask),
                                             std::move(store));
}

}  // namespace vark::ogr
