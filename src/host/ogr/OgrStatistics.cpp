// The statistics pass over a cursor of this adapter reads the features
// directly from OGR: only the field concerned is read and texts are not
// copied (the shared pass keeps only the distinct values).

#include "host/common/FieldStatistics.h"
#include "host/ogr/OgrData.h"
#include "routes/pg/PgSql.h"

namespace vark::ogr {

using namespace pg;

namespace {

using host::common::FieldScan;
using host::common::ScannedValue;

class OgrFieldScan : public FieldScan {
public:
    OgrFieldScan(std::shared_ptr<host::Cursor> cursor, FeatureReader& reader,
                 const std::string& field)
        : m_cursor(std::move(cursor)), m_reader(reader) {
        OgrFeatureClass& featureClass = reader.featureClass();
        const std::int32_t index = featureClass.GetFields().FindFieldIndex(field);
        if (index < 0) {
            throw gdalFailure("Statistics: no field " + field + " in " + featureClass.describe());
        }
        const Column column = featureClass.column(index);
        if (column.kind == Column::kGeometry) {
            throw gdalFailure("Statistics: the field " + field + " of " + featureClass.describe() +
                              " is a geometry");
        }
        m_field = field;
        m_type = featureClass.fieldType(index);
        m_attr = column.kind == Column::kOid ? -1 : column.index;
        if (column.kind == Column::kOid) {
            m_kind = Kind::kOid;
        } else {
            switch (featureClass.layer()->GetLayerDefn()->GetFieldDefn(m_attr)->GetType()) {
                case OFTInteger:
                case OFTInteger64:
                    m_kind = Kind::kInteger;
                    break;
                case OFTReal:
                    m_kind = Kind::kReal;
                    break;
                case OFTDate:
                case OFTDateTime:
                case OFTTime:
                    m_kind = Kind::kDate;
                    break;
                default:
                    m_kind = Kind::kText;
                    break;
            }
        }
        m_nullTextIsEmpty =
            m_kind == Kind::kText && featureClass.textNullAsEmpty() && m_type == host::kFieldText;
        if (!reader.started()) {
            m_expected = reader.expectedCount();
            reader.restrictTo(m_attr);
        }
    }

    std::int32_t fieldType() const override { return m_type; }
    std::int64_t expectedCount() override { return m_expected; }

    bool next(ScannedValue& value) override {
        m_feature = m_reader.next();
        if (!m_feature) {
            return false;
        }
        value = ScannedValue{};
        OGRFeature& f = *m_feature;
        if (m_kind == Kind::kOid) {
            value.kind = ScannedValue::Kind::kInteger;
            value.integer = f.GetFID();
        } else if (!f.IsFieldSetAndNotNull(m_attr)) {
            if (m_nullTextIsEmpty) {
                value.kind = ScannedValue::Kind::kText;
            }
        } else {
            switch (m_kind) {
                case Kind::kInteger:
                    value.kind = ScannedValue::Kind::kInteger;
                    value.integer = f.GetFieldAsInteger64(m_attr);
                    break;
                case Kind::kReal:
                    value.kind = ScannedValue::Kind::kReal;
                    value.real = f.GetFieldAsDouble(m_attr);
                    break;
                case Kind::kDate: {
                    int y = 0, m = 0, d = 0, h = 0, mi = 0, tz = 0;
                    float s = 0;
                    f.GetFieldAsDateTime(m_attr, &y, &m, &d, &h, &mi, &s, &tz);
                    value.kind = ScannedValue::Kind::kReal;
                    value.real = ToOleDate(y, m, d, h, mi, s);
                    break;
                }
                default:
                    value.kind = ScannedValue::Kind::kText;
                    value.text = f.GetFieldAsString(m_attr);
                    break;
            }
        }
        return true;
    }

    std::unique_ptr<FieldScan> again() override {
        auto featureClass = m_reader.featureClassPtr();
        auto cursor = OpenSearchCursor(featureClass, m_reader.where(), false);
        FeatureReader& reader = dynamic_cast<NativeCursor&>(*cursor).reader();
        return std::make_unique<OgrFieldScan>(cursor, reader, m_field);
    }

private:
    enum class Kind { kOid, kInteger, kReal, kDate, kText };

    std::shared_ptr<host::Cursor> m_cursor;  ///< keeps the reader alive
    FeatureReader& m_reader;
    std::string m_field;
    FeaturePtr m_feature;
    Kind m_kind = Kind::kText;
    std::int32_t m_type = host::kFieldText;
    int m_attr = -1;
    bool m_nullTextIsEmpty = false;
    std::int64_t m_expected = -1;
};

/// The values of a text field of a PostgreSQL layer, grouped by the server
/// in one query that stops past the limit: one value per distinct text,
/// with the features holding it.
class PgTextScan : public FieldScan {
public:
    PgTextScan(OgrFeatureClass& featureClass, const std::string& field, std::int32_t limit) {
        PgConnection& connection = *featureClass.source().postgres();
        try {
            m_values = DistinctTexts(connection, featureClass.relation(), field, limit);
        } catch (const PgFailure& failure) {
            throw gdalFailure("Statistics: " + failure.description());
        }
    }
    std::int32_t fieldType() const override { return host::kFieldText; }
    std::int64_t expectedCount() override { return -1; }
    bool next(ScannedValue& value) override {
        if (m_next >= m_values.size()) {
            return false;
        }
        const auto& [text, features] = m_values[m_next++];
        value = ScannedValue{};
        value.features = features;
        if (text) {
            value.kind = ScannedValue::Kind::kText;
            value.text = *text;
        }
        return true;
    }

private:
    std::vector<std::pair<std::optional<std::string>, std::int64_t>> m_values;
    std::size_t m_next = 0;
};

class OgrStatistics : public host::common::FieldStatistics {
protected:
    std::unique_ptr<FieldScan> openScan(const std::shared_ptr<host::Cursor>& cursor,
                                        const std::string& field) override {
        auto* native = dynamic_cast<NativeCursor*>(cursor.get());
        if (!native) {
            throw gdalFailure("Statistics: the cursor does not come from the GDAL host");
        }
        FeatureReader& reader = native->reader();
        OgrFeatureClass& featureClass = reader.featureClass();
        if (featureClass.source().isPostgres() && reader.where().empty() && !reader.started()) {
            const std::int32_t index = featureClass.GetFields().FindFieldIndex(field);
            if (index >= 0 && featureClass.fieldType(index) == host::kFieldText &&
                featureClass.column(index).kind == Column::kAttribute) {
                return std::make_unique<PgTextScan>(featureClass, field, limit());
            }
        }
        return std::make_unique<OgrFieldScan>(cursor, native->reader(), field);
    }
};

}  // namespace

std::shared_ptr<host::Statistics> CreateOgrStatistics() {
    return std::make_shared<OgrStatistics>();
}

}  // namespace vark::ogr
