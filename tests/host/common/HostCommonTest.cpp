// The map world every adapter shares, on its own: the statistics pass over a
// scripted scan, the column mask, the value conversion and the map's layer
// list.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "host/common/ColumnMask.h"
#include "host/common/CommonFeatureLayer.h"
#include "host/common/CommonMap.h"
#include "host/common/FieldStatistics.h"
#include "host/common/ValueConversion.h"
#include "support/Failure.h"

namespace vark::host::common {
namespace {

/// A scan over scripted values; `passes` counts the scans made.
class ScriptedScan : public FieldScan {
public:
    ScriptedScan(std::vector<Value> values, std::int32_t type, bool canRestart, int& passes)
        : m_values(std::move(values)), m_type(type), m_canRestart(canRestart), m_passes(passes) {
        ++m_passes;
    }
    std::int32_t fieldType() const override { return m_type; }
    std::int64_t expectedCount() override { return -1; }
    bool next(ScannedValue& value) override {
        if (m_next >= m_values.size()) {
            return false;
        }
        const Value& v = m_values[m_next++];
        value = ScannedValue{};
        if (const auto* i = std::get_if<std::int64_t>(&v)) {
            value.kind = ScannedValue::Kind::kInteger;
            value.integer = *i;
        } else if (const auto* d = std::get_if<double>(&v)) {
            value.kind = ScannedValue::Kind::kReal;
            value.real = *d;
        } else if (const auto* s = std::get_if<std::string>(&v)) {
            value.kind = ScannedValue::Kind::kText;
            value.text = *s;
        }
        return true;
    }
    std::unique_ptr<FieldScan> again() override {
        if (!m_canRestart) {
            return nullptr;
        }
        return std::make_unique<ScriptedScan>(m_values, m_type, true, m_passes);
    }

private:
    std::vector<Value> m_values;
    std::int32_t m_type;
    bool m_canRestart;
    int& m_passes;
    std::size_t m_next = 0;
};

struct NoCursor : Cursor {
    std::shared_ptr<Row> NextRow() override { return nullptr; }
};

class ScriptedStatistics : public FieldStatistics {
public:
    ScriptedStatistics(std::vector<Value> values, std::int32_t type, bool canRestart = true)
        : m_values(std::move(values)), m_type(type), m_canRestart(canRestart) {
        SetStatisticsField("F");
        SetStatisticsCursor(std::make_shared<NoCursor>());
    }
    int passes = 0;

protected:
    std::unique_ptr<FieldScan> openScan(const std::shared_ptr<Cursor>&,
                                        const std::string&) override {
        return std::make_unique<ScriptedScan>(m_values, m_type, m_canRestart, passes);
    }

private:
    std::vector<Value> m_values;
    std::int32_t m_type;
    bool m_canRestart;
};

std::vector<Value> Values(Statistics& stats) {
    std::vector<Value> out;
    auto values = stats.GetUniqueValues();
    while (auto v = values->Next()) {
        out.push_back(*v);
    }
    return out;
}

TEST(FieldStatistics, NanLeftOutOfMinMaxButListedOnce) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ScriptedStatistics stats({Value(nan), Value(2.5), Value(), Value(nan), Value(-1.0), Value(2.5)},
                             kFieldDouble);
    const std::vector<Value> values = Values(stats);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_TRUE(std::isnan(std::get<double>(values[0])));
    EXPECT_EQ(values[1], Value(2.5));
    EXPECT_EQ(values[2], Value(-1.0));
    const MinMax mm = stats.GetStatistics();
    EXPECT_EQ(mm.minimum, -1.0);
    EXPECT_EQ(mm.maximum, 2.5);
    EXPECT_EQ(stats.passes, 1);
}

TEST(FieldStatistics, LimitStopsTheValuesAndMinMaxReadsOnInTheSamePass) {
    std::vector<Value> values;
    for (int i = 0; i < 3000; ++i) {
        values.emplace_back(static_cast<std::int64_t>(i % 50));
    }
    ScriptedStatistics stats(values, kFieldLong);
    std::vector<std::pair<std::int64_t, std::int64_t>> reports;
    stats.SetProgress(
        [&](std::int64_t done, std::int64_t total) { reports.emplace_back(done, total); });
    stats.SetUniqueValueLimit(10);
    EXPECT_EQ(stats.GetUniqueValueCount(), 11);
    EXPECT_TRUE(reports.empty());  // stopped after 11 features
    const MinMax mm = stats.GetStatistics();
    EXPECT_EQ(mm.minimum, 0.0);
    EXPECT_EQ(mm.maximum, 49.0);
    EXPECT_EQ(stats.passes, 1);
    // Every kProgressInterval features, then the end with the count known.
    const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
        {1024, -1}, {2048, -1}, {3000, 3000}};
    EXPECT_EQ(reports, expected);
}

TEST(FieldStatistics, ValuesAfterMinMaxTakeAPassOfTheirOwnWhereThereCanBeOne) {
    ScriptedStatistics stats({Value(std::int64_t{3}), Value(std::int64_t{1})}, kFieldShort);
    EXPECT_EQ(stats.GetStatistics().maximum, 3.0);
    EXPECT_EQ(stats.GetUniqueValueCount(), 2);
    EXPECT_EQ(stats.passes, 2);

    ScriptedStatistics once({Value(1.0)}, kFieldDouble, false);
    once.GetStatistics();
    EXPECT_THROW(once.GetUniqueValueCount(), Failure);
}

TEST(FieldStatistics, TextsAreDistinctAndNotNumeric) {
    ScriptedStatistics stats({Value(std::string("b")), Value(std::string("a")),
                              Value(std::string("b")), Value(std::string())},
                             kFieldText);
    EXPECT_EQ(Values(stats), (std::vector<Value>{Value(std::string("b")), Value(std::string("a")),
                                                 Value(std::string())}));
    EXPECT_THROW(stats.GetStatistics(), Failure);

    ScriptedStatistics unset({}, kFieldText);
    unset.SetStatisticsCursor(nullptr);
    EXPECT_THROW(unset.GetUniqueValueCount(), Failure);
}

TEST(FieldStatistics, FeaturesPerValueCountedInTheSamePassAndOrder) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string b = "b";
    ScriptedStatistics texts(
        {Value(b), Value(std::string("a")), Value(b), Value(), Value(std::string()), Value(b)},
        kFieldText);
    EXPECT_EQ(texts.GetUniqueValueFeatureCounts(), (std::vector<std::int64_t>{3, 1, 1}));
    EXPECT_EQ(Values(texts).size(), 3u);
    EXPECT_EQ(texts.passes, 1);

    ScriptedStatistics reals({Value(nan), Value(2.5), Value(nan), Value(2.5), Value(2.5)},
                             kFieldDouble);
    EXPECT_EQ(reals.GetUniqueValueFeatureCounts(), (std::vector<std::int64_t>{2, 3}));
    // Counts restart with the pass the values take after a min/max pass.
    ScriptedStatistics integers({Value(std::int64_t{7}), Value(std::int64_t{7})}, kFieldLong);
    integers.GetStatistics();
    EXPECT_EQ(integers.GetUniqueValueFeatureCounts(), std::vector<std::int64_t>{2});
}

/// A cursor that makes a new row for every feature (as the QGIS adapter's
/// does); a row's text is its own and is wiped when the row goes.
class FreshRowCursor : public Cursor {
public:
    explicit FreshRowCursor(std::vector<std::string> texts) : m_texts(std::move(texts)) {}
    std::shared_ptr<Row> NextRow() override {
        if (m_next >= m_texts.size()) return nullptr;
        return std::make_shared<OwnTextRow>(m_texts[m_next++]);
    }

private:
    struct OwnTextRow : Row {
        explicit OwnTextRow(std::string t) : text(std::move(t)) {}
        ~OwnTextRow() override { std::fill(text.begin(), text.end(), '#'); }
        Value GetRowValue(std::int32_t) const override { return text; }
        void SetRowValue(std::int32_t, const Value&) override {}
        std::optional<std::string_view> GetRowText(std::int32_t) const override { return text; }
        std::string text;
    };
    std::vector<std::string> m_texts;
    std::size_t m_next = 0;
};

class CursorStatistics : public FieldStatistics {
protected:
    std::unique_ptr<FieldScan> openScan(const std::shared_ptr<Cursor>& cursor,
                                        const std::string&) override {
        return std::make_unique<CursorFieldScan>(cursor, 0, kFieldText, -1);
    }
};

TEST(FieldStatistics, TextsOfACursorWithFreshRowsOutliveTheirRows) {
    CursorStatistics stats;
    stats.SetStatisticsField("NATURE");
    stats.SetStatisticsCursor(std::make_shared<FreshRowCursor>(
        std::vector<std::string>{"Forêt", "Lande", "Forêt", "Bâti"}));
    EXPECT_EQ(Values(stats),
              (std::vector<Value>{Value(std::string("Forêt")), Value(std::string("Lande")),
                                  Value(std::string("Bâti"))}));
}

TEST(ColumnMask, NamedFieldsAndTheObjectIdOnly) {
    const ColumnMask mask(5, ColumnUpdate{{2}, {4}}, "t", "test");
    using A = ColumnMask::Access;
    const std::vector<std::tuple<std::int32_t, bool, bool>> cases = {
        {0, true, false}, {1, false, false}, {2, true, false},  {3, false, false},
        {4, true, true},  {5, false, false}, {-1, false, false}};
    for (const auto& [index, read, write] : cases) {
        EXPECT_EQ(mask.allows(index, A::kRead), read) << index;
        EXPECT_EQ(mask.allows(index, A::kWrite), write) << index;
    }
    try {
        ColumnMask(3, ColumnUpdate{{1}, {3}}, "t", "test");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kSubscriptOutOfRange);
    }
}

TEST(ValueConversion, ValuesAsTheFieldHoldsThem) {
    const std::vector<std::tuple<std::int32_t, Value, Value>> cases = {
        {kFieldText, Value(1.5), Value(std::string("1.5"))},
        {kFieldLong, Value(2.5), Value(std::int64_t{3})},
        {kFieldShort, Value(std::string("-7")), Value(std::int64_t{-7})},
        {kFieldSingle, Value(0.17), Value(static_cast<double>(0.17f))},
        {kFieldDouble, Value(std::int64_t{4}), Value(4.0)},
        {kFieldDate, Value(std::string("45351.5")), Value(45351.5)},
        {kFieldDouble, Value(), Value()},
        {kFieldBlob, Value(std::string("x")), Value(std::string("x"))},
    };
    for (const auto& [type, in, out] : cases) {
        EXPECT_EQ(CoerceToField(type, in, "F", "test"), out) << type << " " << ValueToText(in);
    }
    for (const char* bad : {"", "1,5", "2x", " 3"}) {
        try {
            CoerceToField(kFieldDouble, Value(std::string(bad)), "F", "test");
            ADD_FAILURE() << bad;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::kTypeMismatch) << bad;
        }
    }
}

struct Group : GroupLayer {
    std::string GetLayerName() const override { return "group"; }
    void SetLayerName(std::string) override {}
    std::int32_t GetLayerCount() const override { return 1; }
    std::shared_ptr<Layer> GetLayer(std::int32_t) const override { return inner; }
    std::shared_ptr<Layer> inner = std::make_shared<CommonFeatureLayer>("inner", nullptr);
};

struct CountingSink : MapActiveViewEventsSink {
    int added = 0;
    void AfterDraw() override {}
    void AfterItemDraw() override {}
    void ContentsChanged() override {}
    void ContentsCleared() override {}
    void FocusMapChanged() override {}
    void ItemAdded() override { ++added; }
    void ItemDeleted() override {}
    void ItemReordered() override {}
    void SelectionChanged() override {}
    void SpatialReferenceChanged() override {}
    void ViewRefreshed() override {}
};

// A layer's texts shown decoded, and the texts a UTF-8 value matches: each
// form reads back as the value, so a grade and a listed entry agree.
TEST(LayerText, ShownDecodedAndMatchedInEveryFormThatReadsAsIt) {
    using E = TextEncoding;
    struct Case {
        const char* name;
        E encoding;
        std::string utf8;
        std::vector<std::string> forms;
    };
    const Case cases[] = {
        {"declared", E::kUtf8, "Forêt", {"Forêt"}},
        {"undeclared", E::kUndeclared, "Forêt", {"Forêt", "For\xEAt"}},
        {"undeclared ascii", E::kUndeclared, "Prairie", {"Prairie"}},
        {"empty", E::kUndeclared, "", {""}},
        {"outside the code page", E::kUndeclared, "Ωmega", {"Ωmega"}},
        // Its Windows-1252 bytes are valid UTF-8 and read as "é".
        {"bytes that read as UTF-8", E::kUndeclared, "Ã©", {"Ã©"}},
        {"not UTF-8 itself", E::kUndeclared, "For\xEAt", {"For\xEAt"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LayerTextForms(c.utf8, c.encoding), c.forms);
        if (c.name != std::string("not UTF-8 itself")) {
            for (const auto& form : c.forms) EXPECT_EQ(DecodeLayerText(form, c.encoding), c.utf8);
        }
    }
    EXPECT_EQ(DecodeLayerText("For\xEAt \x80", E::kUndeclared), "Forêt €");
    EXPECT_EQ(DecodeLayerText("For\xEAt", E::kUtf8), "For\xEAt");
}

TEST(CommonMap, TopLevelFeatureLayersUnlessRecursive) {
    CommonMap map;
    CountingSink sink;
    map.AdviseViewEvents(&sink);
    auto top = std::make_shared<CommonFeatureLayer>("top", nullptr);
    auto group = std::make_shared<Group>();
    map.AddLayer(group);
    map.AddLayer(top);
    EXPECT_EQ(sink.added, 2);
    EXPECT_THROW(map.AddLayer(nullptr), Failure);
    EXPECT_THROW(map.GetMapLayer(2), Failure);

    Uid uid = CreateUid();
    uid.SetUidValue(std::string(kFeatureLayerUid));
    auto names = [&](bool recursive) {
        std::vector<std::string> out;
        auto layers = map.FindLayers(uid, recursive);
        while (auto layer = layers->NextLayer()) {
            out.push_back(layer->GetLayerName());
        }
        return out;
    };
    EXPECT_EQ(names(false), (std::vector<std::string>{"top"}));
    EXPECT_EQ(names(true), (std::vector<std::string>{"inner", "top"}));
    EXPECT_THROW(top->SearchLayer(nullptr, false), Failure);
}

}  // namespace
}  // namespace vark::host::common
