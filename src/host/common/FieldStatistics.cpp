#include "host/common/FieldStatistics.h"

#include <cmath>
#include <utility>

#include "host/common/ValueConversion.h"
#include "host/common/ValueList.h"
#include "support/Failure.h"

namespace vark::host::common {

namespace {
constexpr const char* kSource = "Statistics";
}

// ---------------------------------------------------------------------------
// CursorFieldScan

CursorFieldScan::CursorFieldScan(std::shared_ptr<Cursor> cursor, std::int32_t index,
                                 std::int32_t type, std::int64_t expectedCount, Reopen reopen)
    : m_cursor(std::move(cursor)),
      m_index(index),
      m_type(type),
      m_expected(expectedCount),
      m_reopen(std::move(reopen)) {}

bool CursorFieldScan::next(ScannedValue& value) {
    // The row is kept until the next call: a text value is a view into it,
    // and a cursor that makes a new row for every feature holds no other.
    m_row = m_cursor->NextRow();
    if (!m_row) {
        return false;
    }
    const Row& row = *m_row;
    value = ScannedValue{};
    if (m_type == kFieldText) {
        if (const auto text = row.GetRowText(m_index)) {
            value.kind = ScannedValue::Kind::kText;
            value.text = *text;
        }
        return true;
    }
    m_value = row.GetRowValue(m_index);
    if (const auto* i = std::get_if<std::int64_t>(&m_value)) {
        value.kind = ScannedValue::Kind::kInteger;
        value.integer = *i;
    } else if (const auto* d = std::get_if<double>(&m_value)) {
        value.kind = ScannedValue::Kind::kReal;
        value.real = *d;
    } else if (const auto* s = std::get_if<std::string>(&m_value)) {
        value.kind = ScannedValue::Kind::kText;
        value.text = *s;
    }
    return true;
}

std::unique_ptr<FieldScan> CursorFieldScan::again() {
    if (!m_reopen) {
        return nullptr;
    }
    return std::make_unique<CursorFieldScan>(m_reopen(), m_index, m_type, m_expected, m_reopen);
}

// ---------------------------------------------------------------------------
// FieldStatistics

void FieldStatistics::SetStatisticsField(std::string name) {
    m_field = std::move(name);
}

void FieldStatistics::SetStatisticsCursor(std::shared_ptr<Cursor> cursor) {
    m_cursor = std::move(cursor);
    m_scan.reset();
    m_total = -1;
    m_done = 0;
    m_finished = false;
    m_overLimit = false;
    m_wantValues = false;
    m_values.clear();
    m_counts.clear();
    m_texts.clear();
    m_integers.clear();
    m_reals.clear();
    m_sawNan = false;
    m_haveMinMax = false;
    m_minMax = {};
}

void FieldStatistics::start() {
    if (m_scan) {
        return;
    }
    if (!m_cursor) {
        throw Failure(err::kObjectVariableNotSet, "Statistics: no cursor was set", kSource);
    }
    m_scan = openScan(m_cursor, m_field);
    m_type = m_scan->fieldType();
    m_total = m_scan->expectedCount();
}

std::shared_ptr<Statistics::ValueEnum> FieldStatistics::GetUniqueValues() {
    gatherValues();
    return std::make_shared<ValueList>(m_values);
}

std::int32_t FieldStatistics::GetUniqueValueCount() {
    gatherValues();
    return static_cast<std::int32_t>(m_values.size());
}

std::vector<std::int64_t> FieldStatistics::GetUniqueValueFeatureCounts() {
    gatherValues();
    return m_counts;
}

MinMax FieldStatistics::GetStatistics() {
    start();
    if (!IsNumericFieldType(m_type)) {
        throw Failure(err::kHostFailure, "Statistics: the field " + m_field + " is not numeric",
                      kSource);
    }
    run(true);
    return m_minMax;
}

// A pass for the minimum and maximum alone keeps no values: memory then
// stays flat however many features there are. Values asked for after such
// a pass take a pass of their own.
void FieldStatistics::gatherValues() {
    start();
    if (m_finished && !m_wantValues) {
        std::unique_ptr<FieldScan> again = m_scan->again();
        if (!again) {
            throw Failure(err::kHostFailure,
                          "Statistics: the cursor was already read for the field " + m_field,
                          kSource);
        }
        m_scan = std::move(again);
        m_total = m_scan->expectedCount();
        m_finished = false;
        m_done = 0;
    }
    m_wantValues = true;
    run(false);
}

void FieldStatistics::number(double value) {
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

template <typename Index, typename Key>
void FieldStatistics::countValue(Index& index, const Key& key, Value value, std::int64_t features) {
    const auto found = index.find(key);
    if (found != index.end()) {
        m_counts[found->second] += features;
        return;
    }
    index.emplace(Key(key), m_values.size());
    m_values.push_back(std::move(value));
    m_counts.push_back(features);
    added();
}

void FieldStatistics::added() {
    m_overLimit = m_limit > 0 && m_values.size() > static_cast<std::size_t>(m_limit);
}

void FieldStatistics::addValue(const ScannedValue& value) {
    switch (value.kind) {
        case ScannedValue::Kind::kNull:
            return;
        case ScannedValue::Kind::kInteger:
            number(static_cast<double>(value.integer));
            if (m_wantValues && !m_overLimit) {
                countValue(m_integers, value.integer, Value(value.integer), value.features);
            }
            return;
        case ScannedValue::Kind::kReal:
            number(value.real);
            if (!m_wantValues || m_overLimit) {
                return;
            }
            if (std::isnan(value.real)) {
                if (std::exchange(m_sawNan, true)) {
                    m_counts[m_nanIndex] += value.features;
                } else {
                    m_nanIndex = m_values.size();
                    m_values.emplace_back(value.real);
                    m_counts.push_back(value.features);
                    added();
                }
                return;
            }
            countValue(m_reals, value.real, Value(value.real), value.features);
            return;
        case ScannedValue::Kind::kText:
            if (!m_wantValues || m_overLimit) {
                return;
            }
            if (const auto found = m_texts.find(value.text); found != m_texts.end()) {
                m_counts[found->second] += value.features;  // the common case: no allocation
                return;
            }
            countValue(m_texts, std::string(value.text), Value(std::string(value.text)),
                       value.features);
            return;
    }
}

void FieldStatistics::run(bool toTheEnd) {
    start();
    if (m_finished || (m_overLimit && !toTheEnd)) {
        return;
    }
    ScannedValue value;
    while (m_scan->next(value)) {
        m_done += value.features;
        if (m_progress && m_done % kProgressInterval == 0) {
            m_progress(m_done, m_total);
        }
        addValue(value);
        if (m_overLimit && !toTheEnd) {
            return;
        }
    }
    m_finished = true;
    if (m_progress) {
        // At the end of the pass the count is known, whatever was expected.
        m_progress(m_done, m_total < 0 ? m_done : m_total);
    }
}

}  // namespace vark::host::common
