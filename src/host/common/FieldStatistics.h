#pragma once

// The statistics pass every adapter shares: distinct values (in the order
// first seen, with an early stop once more than the limit are seen),
// minimum and maximum of numbers (NaN left out of both, one NaN among the
// distinct values), and progress every kProgressInterval features. It
// reads the features through a FieldScan, the one step each adapter gives:
// a scan of one field over one of its cursors.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host.h"
#include "support/TextHash.h"

namespace vark::host::common {

/// One feature's value of the field scanned. A text stays valid until the
/// scan moves on.
struct ScannedValue {
    enum class Kind { kNull, kInteger, kReal, kText };
    Kind kind = Kind::kNull;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view text;
    /// Features holding the value: 1 for a scan feature by feature, more
    /// for a scan that reads values already grouped (a database's query).
    std::int64_t features = 1;
};

/// One pass reading one field over the features of a cursor.
class FieldScan {
public:
    virtual ~FieldScan() = default;
    /// The host type code of the field.
    virtual std::int32_t fieldType() const = 0;
    /// Features in the pass, -1 when it would cost a pass to know.
    virtual std::int64_t expectedCount() = 0;
    /// Reads the next feature's value; false after the last feature.
    virtual bool next(ScannedValue& value) = 0;
    /// A new pass over the same features, or nullptr when there can be none.
    virtual std::unique_ptr<FieldScan> again() { return nullptr; }
};

/// A scan over any cursor of the host interface, through GetRowText (text
/// fields) and GetRowValue (the others). `reopen`, when given, makes a new
/// cursor over the same features for again().
class CursorFieldScan : public FieldScan {
public:
    using Reopen = std::function<std::shared_ptr<Cursor>()>;
    CursorFieldScan(std::shared_ptr<Cursor> cursor, std::int32_t index, std::int32_t type,
                    std::int64_t expectedCount, Reopen reopen = nullptr);
    std::int32_t fieldType() const override { return m_type; }
    std::int64_t expectedCount() override { return m_expected; }
    bool next(ScannedValue& value) override;
    std::unique_ptr<FieldScan> again() override;

private:
    std::shared_ptr<Cursor> m_cursor;
    std::int32_t m_index;
    std::int32_t m_type;
    std::int64_t m_expected;
    Reopen m_reopen;
    std::shared_ptr<Row> m_row;  ///< the row the last value was read from
    Value m_value;
};

class FieldStatistics : public Statistics {
public:
    static constexpr std::int64_t kProgressInterval = 1024;

    void SetStatisticsField(std::string name) override;
    void SetStatisticsCursor(std::shared_ptr<Cursor> cursor) override;
    void SetUniqueValueLimit(std::int32_t limit) override { m_limit = limit; }
    void SetProgress(ProgressFn progress) override { m_progress = std::move(progress); }
    std::shared_ptr<ValueEnum> GetUniqueValues() override;
    std::int32_t GetUniqueValueCount() override;
    /// Counted in the pass that gathers the values, at no extra read.
    std::vector<std::int64_t> GetUniqueValueFeatureCounts() override;
    /// Reads to the end of the cursor (continuing a pass the limit stopped).
    MinMax GetStatistics() override;

protected:
    /// The adapter's step: a scan of `field` over `cursor` (not null).
    /// Throws Failure for a cursor of another host or an unknown field.
    virtual std::unique_ptr<FieldScan> openScan(const std::shared_ptr<Cursor>& cursor,
                                                const std::string& field) = 0;

    const std::string& field() const { return m_field; }
    const std::shared_ptr<Cursor>& cursor() const { return m_cursor; }
    std::int32_t limit() const { return m_limit; }
    const ProgressFn& progress() const { return m_progress; }

private:
    void start();
    void gatherValues();
    void run(bool toTheEnd);
    void number(double value);
    void addValue(const ScannedValue& value);
    /// Counts one more feature for the value `found` in `index` (an entry of
    /// m_texts, m_integers or m_reals), or adds `value` as a new one.
    template <typename Index, typename Key>
    void countValue(Index& index, const Key& key, Value value, std::int64_t features);
    void added();

    std::string m_field;
    std::shared_ptr<Cursor> m_cursor;
    std::int32_t m_limit = 0;
    ProgressFn m_progress;

    std::unique_ptr<FieldScan> m_scan;
    std::int32_t m_type = kFieldText;
    std::int64_t m_total = -1;
    std::int64_t m_done = 0;
    bool m_finished = false;
    bool m_overLimit = false;
    bool m_wantValues = false;

    std::vector<Value> m_values;
    /// Features per value of m_values, same index.
    std::vector<std::int64_t> m_counts;
    /// Each distinct value and its index in m_values.
    std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> m_texts;
    std::unordered_map<std::int64_t, std::size_t> m_integers;
    std::unordered_map<double, std::size_t> m_reals;
    std::size_t m_nanIndex = 0;
    bool m_sawNan = false;
    bool m_haveMinMax = false;
    MinMax m_minMax;
};

}  // namespace vark::host::common
