#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

#include "HostContract.h"
#include "host/common/FeatureClassBase.h"
#include "support/Failure.h"
#include "testing/OgrTestData.h"
#include "testing/TempDir.h"

namespace vark::host::contract {

const std::vector<ParcelRow>& StandardParcels() {
    static const std::vector<ParcelRow> rows = {
        {"Forêt", "A1", 0.25},   {"Prairie", "A2", 1.5}, {std::nullopt, "B2", std::nullopt},
        {"", std::nullopt, 0.0}, {"Forêt", "A1", -0.1},  {"forêt", "C3", 0.75},
    };
    return rows;
}

namespace {
std::vector<RegisteredAdapter>& registry() {
    static std::vector<RegisteredAdapter> adapters;
    return adapters;
}
}  // namespace

bool RegisterAdapter(std::string name, AdapterFactory factory) {
    registry().push_back({std::move(name), std::move(factory)});
    return true;
}

const std::vector<RegisteredAdapter>& RegisteredAdapters() {
    return registry();
}

void PrintTo(const RegisteredAdapter& adapter, std::ostream* out) {
    *out << adapter.name;
}

namespace {

constexpr std::int32_t kNature = 2;
constexpr std::int32_t kCode = 3;
constexpr std::int32_t kSurf = 4;

class HostContract : public ::testing::TestWithParam<RegisteredAdapter> {
protected:
    void SetUp() override {
        m_adapter = GetParam().factory();
        m_traits = m_adapter->traits();
        adopt(m_adapter->create(m_dir.path()));
    }

    void adopt(std::shared_ptr<Application> app) {
        m_app = std::move(app);
        auto map = m_app->GetDocument()->GetFocusMap();
        ASSERT_EQ(map->GetLayerCount(), 1);
        m_layer = std::dynamic_pointer_cast<FeatureLayer>(map->GetMapLayer(0));
        ASSERT_TRUE(m_layer);
        m_class = m_layer->GetFeatureClass();
        ASSERT_TRUE(m_class);
    }

    // Drops every reference to the data before reading it afresh, as a
    // later session would.
    void reopen() {
        m_class.reset();
        m_layer.reset();
        m_app.reset();
        adopt(m_adapter->reopen());
    }

    // What the adapter shows for a text of the standard data set.
    std::optional<std::string> shown(const std::optional<std::string>& text) const {
        if (!text && m_traits.nullTextReadsEmpty) {
            return std::string();
        }
        return text;
    }

    std::set<Value> distinct(const std::string& field, std::int32_t limit = 0,
                             std::int32_t* count = nullptr) {
        auto stats = m_app->CreateStatistics();
        stats->SetStatisticsField(field);
        stats->SetStatisticsCursor(m_layer->SearchLayer(nullptr, false));
        stats->SetUniqueValueLimit(limit);
        auto values = stats->GetUniqueValues();
        if (count) {
            *count = stats->GetUniqueValueCount();
        }
        std::set<Value> out;
        while (auto v = values->Next()) {
            EXPECT_FALSE(IsNull(*v)) << field;
            out.insert(*v);
        }
        return out;
    }

    void expectReal(const Value& actual, double expected, const std::string& context) {
        ASSERT_TRUE(std::holds_alternative<double>(actual)) << context;
        if (m_traits.exactReals) {
            EXPECT_EQ(std::get<double>(actual), expected) << context;
        } else {
            EXPECT_NEAR(std::get<double>(actual), expected, 1e-14) << context;
        }
    }

    vark::test::TempDir m_dir;
    std::unique_ptr<AdapterUnderTest> m_adapter;
    AdapterTraits m_traits;
    std::shared_ptr<Application> m_app;
    std::shared_ptr<FeatureLayer> m_layer;
    std::shared_ptr<FeatureClass> m_class;
};

TEST_P(HostContract, LayerClassAndWorkspaceIdentity) {
    Uid uid = CreateUid();
    uid.SetUidValue(std::string(kFeatureLayerUid));
    auto layers = m_app->GetDocument()->GetFocusMap()->FindLayers(uid, false);
    layers->ResetLayers();
    auto first = layers->NextLayer();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetLayerName(), "parcels");
    EXPECT_FALSE(layers->NextLayer());

    EXPECT_TRUE(m_layer->IsLayerSelectable());
    EXPECT_EQ(m_class->GetShapeType(), kShapePolygon);
    EXPECT_EQ(m_class->GetAliasName(), "parcels");
    auto workspace = m_class->GetWorkspace();
    ASSERT_TRUE(workspace);
    EXPECT_EQ(workspace->GetWorkspaceType(), m_traits.workspaceType);
    EXPECT_EQ(workspace->GetWorkspacePath(), m_adapter->expectedWorkspacePath(m_dir.path()));
    const auto count = m_class->GetFeatureCount();
    EXPECT_TRUE(count == 6 || count == -1) << count;
}

TEST_P(HostContract, FieldsInTableOrderWithObjectIdAndGeometry) {
    const Fields fields = m_class->GetFields();
    const std::vector<std::pair<std::string, std::int32_t>> expected = {
        {m_traits.oidName, kFieldOid}, {m_traits.geometryName, kFieldGeometry},
        {"NATURE", kFieldText},        {"CODE", kFieldText},
        {"SURF", kFieldDouble},
    };
    ASSERT_EQ(fields.GetFieldCount(), static_cast<std::int32_t>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Field& f = fields.GetField(static_cast<std::int32_t>(i));
        EXPECT_EQ(f.GetFieldName(), expected[i].first) << i;
        EXPECT_EQ(f.GetFieldType(), expected[i].second) << i;
        EXPECT_EQ(f.GetFieldAlias(), expected[i].first) << i;
    }
    const std::vector<std::pair<std::string, std::int32_t>> lookups = {
        {"NATURE", kNature}, {"SURF", kSurf}, {"nature", -1}, {"", -1}, {"ABSENT", -1}};
    for (const auto& [name, index] : lookups) {
        EXPECT_EQ(m_class->FindFieldIndex(name), index) << name;
    }
    try {
        fields.GetField(fields.GetFieldCount());
        ADD_FAILURE() << "no failure for an index out of range";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kSubscriptOutOfRange);
    }
}

TEST_P(HostContract, SearchReadsEveryValueAsStored) {
    auto cursor = m_layer->SearchLayer(nullptr, false);
    const auto& rows = StandardParcels();
    std::set<Value> oids;
    std::vector<std::shared_ptr<Row>> kept;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto row = cursor->NextRow();
        ASSERT_TRUE(row) << i;
        kept.push_back(row);
        oids.insert(row->GetRowValue(0));
        const std::pair<std::int32_t, const std::optional<std::string>*> texts[] = {
            {kNature, &rows[i].nature}, {kCode, &rows[i].code}};
        for (const auto& [index, text] : texts) {
            const auto expected = shown(*text);
            const Value value = row->GetRowValue(index);
            const auto view = row->GetRowText(index);
            if (expected) {
                EXPECT_EQ(value, Value(*expected)) << i << "/" << index;
                ASSERT_TRUE(view) << i << "/" << index;
                EXPECT_EQ(*view, *expected) << i << "/" << index;
            } else {
                EXPECT_TRUE(IsNull(value)) << i << "/" << index;
                EXPECT_FALSE(view) << i << "/" << index;
            }
        }
        if (rows[i].surf) {
            expectReal(row->GetRowValue(kSurf), *rows[i].surf, "SURF " + std::to_string(i));
        } else {
            EXPECT_TRUE(IsNull(row->GetRowValue(kSurf))) << i;
        }
    }
    EXPECT_FALSE(cursor->NextRow());
    EXPECT_EQ(oids.size(), rows.size()) << "object ids must be distinct";
    EXPECT_NE(kept.front(), kept.back()) << "a non-recycling cursor gives a row per feature";
}

TEST_P(HostContract, RecyclingCursorRefillsOneRow) {
    auto cursor = vark::host::common::SearchFeatureClass(*m_class, nullptr, true);
    auto first = cursor->NextRow();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetRowValue(kNature), Value(std::string("Forêt")));
    auto second = cursor->NextRow();
    ASSERT_TRUE(second);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(second->GetRowValue(kNature), Value(std::string("Prairie")));
}

TEST_P(HostContract, DistinctValuesSkipNullsAndKeepEmptyTexts) {
    using S = std::string;
    std::set<Value> code = {S("A1"), S("A2"), S("B2"), S("C3")};
    if (m_traits.nullTextReadsEmpty) {
        code.insert(S());
    }
    const std::map<std::string, std::set<Value>> expected = {
        {"NATURE", {S("Forêt"), S("Prairie"), S(""), S("forêt")}},
        {"CODE", code},
    };
    for (const auto& [field, values] : expected) {
        std::int32_t count = -1;
        EXPECT_EQ(distinct(field, 0, &count), values) << field;
        EXPECT_EQ(count, static_cast<std::int32_t>(values.size())) << field;
    }
    std::int32_t count = -1;
    const auto surf = distinct("SURF", 0, &count);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(surf.count(Value(1.5)), 1u);
}

TEST_P(HostContract, UniqueValueLimitAnswersOneMore) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {2, 3}, {3, 4}, {4, 4}, {100, 4}, {0, 4}};
    for (const auto& [limit, expected] : cases) {
        std::int32_t count = -1;
        distinct("NATURE", limit, &count);
        EXPECT_EQ(count, expected) << "limit " << limit;
    }
}

TEST_P(HostContract, MinimumAndMaximumOfNumericFieldsOnly) {
    auto statistics = [&](const std::string& field) {
        auto stats = m_app->CreateStatistics();
        stats->SetStatisticsField(field);
        stats->SetStatisticsCursor(m_layer->SearchLayer(nullptr, false));
        return stats->GetStatistics();
    };
    const MinMax surf = statistics("SURF");
    EXPECT_DOUBLE_EQ(surf.minimum, -0.1);
    EXPECT_DOUBLE_EQ(surf.maximum, 1.5);
    for (const char* field : {"NATURE", "ABSENT"}) {
        EXPECT_THROW(statistics(field), Failure) << field;
    }
}

TEST_P(HostContract, StatisticsRefuseAForeignCursor) {
    struct ForeignCursor : Cursor {
        std::shared_ptr<Row> NextRow() override { return nullptr; }
    };
    auto stats = m_app->CreateStatistics();
    stats->SetStatisticsField("NATURE");
    stats->SetStatisticsCursor(std::make_shared<ForeignCursor>());
    EXPECT_THROW(stats->GetUniqueValueCount(), Failure);
}

// The computation's pass: a new double field, then every feature's degree
// from its text through one recycling update cursor.
TEST_P(HostContract, AddFieldThenUpdateEveryFeature) {
    Field field = NewField();
    field.SetFieldName("FZY_NATURE");
    field.SetFieldType(kFieldDouble);
    field.SetFieldAlias("FZY_NATURE");
    m_class->AddFieldToClass(field);

    const double forest = static_cast<double>(0.67f);
    auto degreeOf = [&](const std::optional<std::string>& text) {
        if (text == std::optional<std::string>("Forêt")) return forest;
        if (text == std::optional<std::string>("")) return 1.0;
        return 0.0;
    };
    {
        auto cursor = m_class->OpenUpdateCursor(nullptr, true);
        const Fields fields = m_class->GetFields();
        const std::int32_t target = fields.FindFieldIndex("FZY_NATURE");
        const std::int32_t source = fields.FindFieldIndex("NATURE");
        ASSERT_EQ(target, fields.GetFieldCount() - 1);
        EXPECT_EQ(fields.GetField(target).GetFieldType(), kFieldDouble);
        int stored = 0;
        while (auto row = cursor->NextRow()) {
            const auto text = row->GetRowText(source);
            row->SetRowDouble(target,
                              degreeOf(text ? std::optional<std::string>(*text) : std::nullopt));
            cursor->StoreRow(*row);
            ++stored;
        }
        EXPECT_EQ(stored, 6);
        cursor->Flush();
    }
    reopen();
    const std::int32_t target = m_class->FindFieldIndex("FZY_NATURE");
    ASSERT_GE(target, 0);
    auto cursor = vark::host::common::SearchFeatureClass(*m_class, nullptr, true);
    for (const auto& parcel : StandardParcels()) {
        auto row = cursor->NextRow();
        ASSERT_TRUE(row);
        expectReal(row->GetRowValue(target), degreeOf(shown(parcel.nature)),
                   parcel.nature.value_or("<null>"));
        EXPECT_EQ(row->GetRowValue(kNature),
                  shown(parcel.nature) ? Value(*shown(parcel.nature)) : Value());
    }
}

TEST_P(HostContract, AddFieldRefusesATakenNameAndChangesNothing) {
    // Field names compare without regard to case in the formats behind the
    // hosts: "nature" is taken too.
    for (const std::string name : {"NATURE", "SURF", "nature", ""}) {
        Field field = NewField();
        field.SetFieldName(name);
        field.SetFieldType(kFieldDouble);
        try {
            m_class->AddFieldToClass(field);
            ADD_FAILURE() << "accepted " << name;
        } catch (const Failure& f) {
            EXPECT_NE(f.description().find(name), std::string::npos) << f.description();
            EXPECT_NE(f.description().find("parcels"), std::string::npos) << f.description();
        }
        EXPECT_EQ(m_class->GetFields().GetFieldCount(), 5) << name;
    }
    reopen();
    EXPECT_EQ(m_class->GetFields().GetFieldCount(), 5);
}

TEST_P(HostContract, UpdateCursorDroppedWithoutFlush) {
    Field field = NewField();
    field.SetFieldName("FZY_CODE");
    field.SetFieldType(kFieldDouble);
    m_class->AddFieldToClass(field);
    {
        auto cursor = m_class->OpenUpdateCursor(nullptr, true);
        const std::int32_t target = m_class->FindFieldIndex("FZY_CODE");
        while (auto row = cursor->NextRow()) {
            row->SetRowValue(target, 0.5);
            cursor->StoreRow(*row);
        }
    }
    reopen();
    const std::int32_t target = m_class->FindFieldIndex("FZY_CODE");
    ASSERT_GE(target, 0) << "the field stays: it was added before the pass";
    auto cursor = vark::host::common::SearchFeatureClass(*m_class, nullptr, true);
    while (auto row = cursor->NextRow()) {
        if (m_traits.transactional) {
            EXPECT_TRUE(IsNull(row->GetRowValue(target)));
        } else {
            EXPECT_EQ(row->GetRowValue(target), Value(0.5));
        }
    }
}

// A value assigned to a field is converted for the field's type the same
// way in every adapter; a text that is no number is refused, not stored as
// something else.
TEST_P(HostContract, AssignedValuesAreConvertedForTheField) {
    Field field = NewField();
    field.SetFieldName("FZY_CODE");
    field.SetFieldType(kFieldDouble);
    m_class->AddFieldToClass(field);
    const std::int32_t target = m_class->FindFieldIndex("FZY_CODE");
    const std::vector<Value> assigned = {Value(std::string("0.25")), Value(std::int64_t{2}),
                                         Value(-1.5)};
    {
        auto cursor = m_class->OpenUpdateCursor(nullptr, true);
        std::size_t i = 0;
        while (auto row = cursor->NextRow()) {
            try {
                row->SetRowValue(target, Value(std::string("forty")));
                ADD_FAILURE() << "a text that is no number was taken";
            } catch (const Failure& f) {
                EXPECT_EQ(f.number(), err::kTypeMismatch);
            }
            row->SetRowValue(target, assigned[i++ % assigned.size()]);
            cursor->StoreRow(*row);
        }
        cursor->Flush();
    }
    reopen();
    const std::vector<double> stored = {0.25, 2.0, -1.5};
    auto cursor = vark::host::common::SearchFeatureClass(*m_class, nullptr, true);
    std::size_t i = 0;
    while (auto row = cursor->NextRow()) {
        EXPECT_EQ(row->GetRowValue(target), Value(stored[i++ % stored.size()])) << i;
    }
    EXPECT_EQ(i, StandardParcels().size());
}

TEST_P(HostContract, NewLayerOverAShapefileFolderClass) {
    if (m_traits.workspaceType != kWorkspaceFileSystem) {
        GTEST_SKIP() << "not a folder workspace";
    }
    auto workspace = m_app->OpenShapefileFolder(m_adapter->expectedWorkspacePath(m_dir.path()));
    auto featureClass = workspace->OpenFeatureClass("parcels");
    EXPECT_THROW(workspace->OpenFeatureClass("absent"), Failure);
    auto layer = m_app->CreateFeatureLayer();
    layer->SetFeatureClass(featureClass);
    layer->SetLayerName(featureClass->GetAliasName());
    auto map = m_app->GetDocument()->GetFocusMap();
    map->AddLayer(layer);
    ASSERT_EQ(map->GetLayerCount(), 2);
    EXPECT_EQ(map->GetMapLayer(1)->GetLayerName(), "parcels");
    EXPECT_EQ(layer->GetFeatureClass()->GetFields().GetFieldCount(), 5);
    EXPECT_THROW(m_app->OpenShapefileFolder((m_dir.path() / "absent").string()), Failure);
}

std::string adapterName(const ::testing::TestParamInfo<RegisteredAdapter>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Adapters, HostContract, ::testing::ValuesIn(RegisteredAdapters()),
                         adapterName);

}  // namespace
}  // namespace vark::host::contract
