#include <cmath>
#include <string_view>
#include <unordered_set>

#include "host/ogr/OgrData.h"

namespace vark::ogr {

namespace {

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

class ValueList : public host::Statistics::ValueEnum {
public:
    explicit ValueList(std::vector<host::Value> values) : m_values(std::move(values)) {}
    void Reset() override { m_next = 0; }
    std::optional<host::Value> Next() override {
        if (m_next < m_values.size()) {
            return m_values[m_next++];
        }
        return std::nullopt;
    }

private:
    std::vector<host::Value> m_values;
    std::size_t m_next = 0;
};

// Reads the features of a cursor of this adapter directly from OGR: only the
// field concerned is read, texts are compared without copying, and memory
// grows with the distinct values only.
class OgrStatistics : public host::Statistics {
public:
    void SetStatisticsField(std::string name) override { m_field = std::move(name); }
    void SetStatisticsCursor(std::shared_ptr<host::Cursor> cursor) override {
        m_cursor = std::move(cursor);
    }
    void SetUniqueValueLimit(std::int32_t limit) override { m_limit = limit; }
    void SetProgress(host::ProgressFn progress) override { m_progress = std::move(progress); }

    std::shared_ptr<ValueEnum> GetUniqueValues() override {
        gatherValues();
        return std::make_shared<ValueList>(m_values);
    }

    std::int32_t GetUniqueValueCount() override {
        gatherValues();
        return static_cast<std::int32_t>(m_values.size());
    }

    host::MinMax GetStatistics() override {
        start();
        const bool numeric = (m_type >= host::kFieldShort && m_type <= host::kFieldDouble) ||
                             m_type == host::kFieldOid;
        if (!numeric) {
            throw gdalFailure("Statistics: the field " + m_field + " of " +
                              m_reader->featureClass().describe() + " is not numeric");
        }
        run(true);
        return m_minMax;
    }

private:
    enum class Kind { kOid, kInteger, kReal, kDate, kText };

    void start() {
        if (m_reader) {
            return;
        }
        if (!m_cursor) {
            throw Failure(err::kObjectVariableNotSet, "Statistics: no cursor was set", kGdalSource);
        }
        auto* native = dynamic_cast<NativeCursor*>(m_cursor.get());
        if (!native) {
            throw gdalFailure("Statistics: the cursor does not come from the GDAL host");
        }
        FeatureReader& reader = native->reader();
        OgrFeatureClass& featureClass = reader.featureClass();
        const std::int32_t index = featureClass.GetFields().FindFieldIndex(m_field);
        if (index < 0) {
            throw gdalFailure("Statistics: no field " + m_field + " in " + featureClass.describe());
        }
        const Column column = featureClass.column(index);
        if (column.kind == Column::kGeometry) {
            throw gdalFailure("Statistics: the field " + m_field + " of " +
                              featureClass.describe() + " is a geometry");
        }
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
            m_total = reader.expectedCount();
            reader.restrictTo(m_attr);
        }
        m_reader = &reader;
    }

    // A pass for the minimum and maximum alone keeps no values: memory then
    // stays flat however many features there are. Values asked for after
    // such a pass take a pass of their own.
    void gatherValues() {
        start();
        if (m_finished && !m_wantValues) {
            auto featureClass = m_reader->featureClassPtr();
            std::shared_ptr<host::QueryFilter> filter;
            if (!m_reader->where().empty()) {
                filter = host::CreateQueryFilter();
                filter->SetWhereClause(m_reader->where());
            }
            m_cursor = featureClass->Search(filter, false);
            m_reader = nullptr;
            m_finished = false;
            m_done = 0;
            start();
        }
        m_wantValues = true;
        run(false);
    }

    void number(double value) {
        if (std::isnan(value)) {
            return;
        }
        if (!m_haveMinMax) {
            m_minMax = {value, value};
            m_haveMinMax = true;
        } else {
            m_minMax.minimum = std::min(m_minMax.minimum, value);
            m_minMax.maximum = std::max(m_minMax.maximum, value);
        }
    }

    // Returns false once the limit is passed.
    bool added() { return !(m_limit > 0 && m_values.size() > static_cast<std::size_t>(m_limit)); }

    void addInteger(std::int64_t value) {
        number(static_cast<double>(value));
        if (m_wantValues && !m_overLimit && m_integers.insert(value).second) {
            m_values.emplace_back(value);
            m_overLimit = !added();
        }
    }

    void addReal(double value) {
        number(value);
        if (!m_wantValues || m_overLimit) {
            return;
        }
        if (std::isnan(value)) {
            if (!m_sawNan) {
                m_sawNan = true;
                m_values.emplace_back(value);
                m_overLimit = !added();
            }
            return;
        }
        if (m_reals.insert(value).second) {
            m_values.emplace_back(value);
            m_overLimit = !added();
        }
    }

    void addText(std::string_view text) {
        if (!m_wantValues || m_overLimit || m_texts.find(text) != m_texts.end()) {
            return;
        }
        m_texts.emplace(text);
        m_values.emplace_back(std::string(text));
        m_overLimit = !added();
    }

    void run(bool toTheEnd) {
        start();
        if (m_finished || (m_overLimit && !toTheEnd)) {
            return;
        }
        while (FeaturePtr feature = m_reader->next()) {
            ++m_done;
            if (m_progress && (m_done & 1023) == 0) {
                m_progress(m_done, m_total);
            }
            OGRFeature& f = *feature;
            if (m_kind == Kind::kOid) {
                addInteger(f.GetFID());
            } else if (!f.IsFieldSetAndNotNull(m_attr)) {
                if (m_nullTextIsEmpty) {
                    addText({});
                }
            } else {
                switch (m_kind) {
                    case Kind::kInteger:
                        addInteger(f.GetFieldAsInteger64(m_attr));
                        break;
                    case Kind::kReal:
                        addReal(f.GetFieldAsDouble(m_attr));
                        break;
                    case Kind::kDate: {
                        int y = 0, m = 0, d = 0, h = 0, mi = 0, tz = 0;
                        float s = 0;
                        f.GetFieldAsDateTime(m_attr, &y, &m, &d, &h, &mi, &s, &tz);
                        addReal(ToOleDate(y, m, d, h, mi, s));
                        break;
                    }
                    default:
                        addText(f.GetFieldAsString(m_attr));
                        break;
                }
            }
            if (m_overLimit && !toTheEnd) {
                return;
            }
        }
        m_finished = true;
        if (m_progress) {
            m_progress(m_done, m_total);
        }
    }

    std::string m_field;
    std::shared_ptr<host::Cursor> m_cursor;
    std::int32_t m_limit = 0;
    host::ProgressFn m_progress;

    FeatureReader* m_reader = nullptr;
    Kind m_kind = Kind::kText;
    std::int32_t m_type = host::kFieldText;
    int m_attr = -1;
    bool m_nullTextIsEmpty = false;
    std::int64_t m_total = -1;
    std::int64_t m_done = 0;
    bool m_finished = false;
    bool m_overLimit = false;
    bool m_wantValues = false;

    std::vector<host::Value> m_values;
    std::unordered_set<std::string, TextHash, std::equal_to<>> m_texts;
    std::unordered_set<std::int64_t> m_integers;
    std::unordered_set<double> m_reals;
    bool m_sawNan = false;
    bool m_haveMinMax = false;
    host::MinMax m_minMax;
};

}  // namespace

std::shared_ptr<host::Statistics> CreateOgrStatistics() {
    return std::make_shared<OgrStatistics>();
}

}  // namespace vark::ogr
