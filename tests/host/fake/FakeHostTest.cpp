// The in-memory host's own behaviours that tests above the host rely on:
// layer search, events, failure injection, value conversion, statistics.

#include <gtest/gtest.h>

#include "host/fake/FakeHost.h"
#include "support/Failure.h"

namespace vark::host::fake {
namespace {

std::vector<std::string> names(LayerEnum& layers) {
    std::vector<std::string> out;
    layers.ResetLayers();
    while (auto layer = layers.NextLayer()) {
        out.push_back(layer->GetLayerName());
    }
    return out;
}

struct Data {
    Data() {
        workspace = app->addWorkspace("/data");
        parcels = workspace->createFeatureClass(
            "parcels", kShapePolygon,
            {MakeField("NATURE", kFieldText), MakeField("SURF", kFieldDouble)});
        for (const char* nature : {"a", "b", "c", "d"}) {
            parcels->addRecord({{"NATURE", std::string(nature)}, {"SURF", 1.0}});
        }
        app->addFeatureLayer("parcels", parcels);
    }

    void storeAll(double value, bool flush) {
        auto cursor = parcels->OpenUpdateCursor(nullptr, true);
        while (auto row = cursor->NextRow()) {
            row->SetRowValue(3, value);
            cursor->StoreRow(*row);
        }
        if (flush) {
            cursor->Flush();
        }
    }

    std::shared_ptr<FakeApplication> app = std::make_shared<FakeApplication>();
    std::shared_ptr<FakeWorkspace> workspace;
    std::shared_ptr<FakeFeatureClass> parcels;
};

struct FakeHost : ::testing::Test, Data {};

TEST_F(FakeHost, FindLayersEntersGroupsOnlyWhenRecursive) {
    auto map = app->focusMap();
    auto group = std::make_shared<FakeGroupLayer>("group");
    group->addLayer(std::make_shared<FakeFeatureLayer>("inner", parcels));
    map->AddLayer(group);
    map->AddLayer(std::make_shared<FakeLayer>("raster"));
    map->AddLayer(std::make_shared<FakeFeatureLayer>("hidden", parcels, false));

    Uid featureLayers = CreateUid();
    featureLayers.SetUidValue(std::string(kFeatureLayerUid));
    Uid other = CreateUid();
    other.SetUidValue("{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(names(*map->FindLayers(featureLayers, false)),
              (std::vector<std::string>{"parcels", "hidden"}));
    EXPECT_EQ(names(*map->FindLayers(featureLayers, true)),
              (std::vector<std::string>{"parcels", "inner", "hidden"}));
    EXPECT_TRUE(names(*map->FindLayers(other, true)).empty());
    EXPECT_EQ(map->GetLayerCount(), 4);
    EXPECT_THROW(map->GetMapLayer(4), Failure);
}

TEST_F(FakeHost, EventSourcesRecordSubscriptionsAndFire) {
    struct Sink : MapActiveViewEventsSink {
        FakeMap* map = nullptr;
        int focus = 0;
        bool leaveOnFocus = false;
        void AfterDraw() override {}
        void AfterItemDraw() override {}
        void ContentsChanged() override {}
        void ContentsCleared() override {}
        void FocusMapChanged() override {
            ++focus;
            if (leaveOnFocus) map->UnadviseViewEvents(this);
        }
        void ItemAdded() override {}
        void ItemDeleted() override {}
        void ItemReordered() override {}
        void SelectionChanged() override {}
        void SpatialReferenceChanged() override {}
        void ViewRefreshed() override {}
    };
    auto map = app->focusMap();
    Sink leaving, staying;
    leaving.map = staying.map = map.get();
    leaving.leaveOnFocus = true;
    map->AdviseViewEvents(&leaving);
    map->AdviseViewEvents(&staying);
    map->fireFocusMapChanged();
    map->fireFocusMapChanged();
    EXPECT_EQ(leaving.focus, 1);
    EXPECT_EQ(staying.focus, 2);
    map->UnadviseViewEvents(&leaving);
    EXPECT_EQ(map->adviseCalls(), 2);
    EXPECT_EQ(map->unadviseCalls(), 2);
    EXPECT_EQ(map->unmatchedUnadviseCalls(), 1);
    EXPECT_EQ(map->viewSinks(), (std::vector<MapActiveViewEventsSink*>{&staying}));
}

TEST_F(FakeHost, StoreFailuresAndRollback) {
    const struct {
        bool transactional;
        bool readOnly;
        std::vector<Value> surf;  // after a pass failing at the third store
    } cases[] = {
        {false, false, {Value(0.5), Value(0.5), Value(1.0), Value(1.0)}},
        {true, false, {Value(1.0), Value(1.0), Value(1.0), Value(1.0)}},
        {false, true, {Value(1.0), Value(1.0), Value(1.0), Value(1.0)}},
    };
    for (const auto& c : cases) {
        Data f;
        f.parcels->setTransactional(c.transactional);
        f.parcels->setReadOnly(c.readOnly);
        f.parcels->setFailOnStore(3);
        EXPECT_THROW(f.storeAll(0.5, true), Failure);
        EXPECT_EQ(f.parcels->column("SURF"), c.surf) << c.transactional << c.readOnly;
        EXPECT_EQ(f.parcels->rollbacks(), c.transactional ? 1 : 0);
        EXPECT_EQ(f.parcels->flushCalls(), 0);
    }
    storeAll(0.25, true);
    EXPECT_EQ(parcels->storedRows(), 4);
    EXPECT_EQ(parcels->column("SURF"), std::vector<Value>(4, Value(0.25)));
}

TEST_F(FakeHost, AddFieldRules) {
    parcels->setMaxFieldNameLength(10);
    const struct {
        const char* name;
        bool accepted;
    } cases[] = {{"FZY_NATURE", true},  {"FZY_NATURES", false},
                 {"fzy_nature", false}, {"fid", false},
                 {"", false},           {"X", true}};
    for (const auto& c : cases) {
        Field field = NewField();
        field.SetFieldName(c.name);
        field.SetFieldType(kFieldDouble);
        if (c.accepted) {
            EXPECT_NO_THROW(parcels->AddFieldToClass(field)) << c.name;
        } else {
            EXPECT_THROW(parcels->AddFieldToClass(field), Failure) << c.name;
        }
    }
    EXPECT_EQ(parcels->fieldIndex("FZY_NATURE"), 4);
    EXPECT_EQ(parcels->fieldIndex("X"), 5);
    EXPECT_TRUE(IsNull(parcels->value(0, "X")));
    parcels->setReadOnly(true);
    Field late = NewField();
    late.SetFieldName("LATE");
    EXPECT_THROW(parcels->AddFieldToClass(late), Failure);
    EXPECT_EQ(parcels->fieldList().size(), 6u);
}

TEST_F(FakeHost, ValuesAreConvertedToTheFieldType) {
    parcels->addField("S", kFieldSingle);
    parcels->addField("L", kFieldLong);
    const struct {
        std::int32_t index;
        Value in;
        Value stored;
    } cases[] = {
        {2, Value(1.5), Value(std::string("1.5"))},
        {2, Value(std::int64_t{7}), Value(std::string("7"))},
        {3, Value(std::string("2.5")), Value(2.5)},
        {3, Value(std::int64_t{2}), Value(2.0)},
        {4, Value(0.17), Value(static_cast<double>(0.17f))},
        {5, Value(2.6), Value(std::int64_t{3})},
        {3, Value(), Value()},
    };
    auto cursor = parcels->Search(nullptr, false);
    auto row = cursor->NextRow();
    for (const auto& c : cases) {
        row->SetRowValue(c.index, c.in);
        EXPECT_EQ(row->GetRowValue(c.index), c.stored) << c.index << " " << ValueToText(c.in);
    }
    try {
        row->SetRowValue(3, std::string("x"));
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kTypeMismatch);
    }
    EXPECT_THROW(row->SetRowValue(0, std::int64_t{9}), Failure);
    EXPECT_THROW(row->GetRowValue(6), Failure);
}

TEST(ValueToText, ShortestRoundTrip) {
    const std::pair<Value, std::string> cases[] = {
        {Value(), ""},
        {Value(std::int64_t{42}), "42"},
        {Value(std::int64_t{-7}), "-7"},
        {Value(0.1), "0.1"},
        {Value(static_cast<double>(0.17f)), "0.17000000178813934"},
        {Value(1.0), "1"},
        {Value(-0.5), "-0.5"},
        {Value(std::string("Forêt")), "Forêt"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(ValueToText(value), text);
    }
}

TEST_F(FakeHost, StatisticsLimitThenMinMaxOverEverything) {
    parcels->addRecord({{"NATURE", std::string("a")}, {"SURF", -3.0}});
    parcels->addRecord({{"NATURE", Value()}, {"SURF", 9.0}});
    auto stats = app->CreateStatistics();
    stats->SetStatisticsField("NATURE");
    stats->SetStatisticsCursor(parcels->Search(nullptr, false));
    stats->SetUniqueValueLimit(2);
    EXPECT_EQ(stats->GetUniqueValueCount(), 3);
    EXPECT_THROW(stats->GetStatistics(), Failure);

    auto numbers = app->CreateStatistics();
    std::int64_t done = 0;
    numbers->SetProgress([&](std::int64_t d, std::int64_t) { done = d; });
    numbers->SetStatisticsField("SURF");
    numbers->SetStatisticsCursor(parcels->Search(nullptr, false));
    numbers->SetUniqueValueLimit(1);
    EXPECT_EQ(numbers->GetUniqueValueCount(), 2);
    const MinMax mm = numbers->GetStatistics();
    EXPECT_EQ(mm.minimum, -3.0);
    EXPECT_EQ(mm.maximum, 9.0);
    EXPECT_EQ(done, 6);
}

TEST_F(FakeHost, ApplicationServices) {
    EXPECT_EQ(app->OpenShapefileFolder("/data"), workspace);
    try {
        app->OpenShapefileFolder("/elsewhere");
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kPathNotFound);
    }
    EXPECT_EQ(app->openedShapefileFolders(), (std::vector<std::string>{"/data", "/elsewhere"}));

    app->editor().setEditState(kEditStateEditing);
    EXPECT_EQ(app->FindEditorExtension(kEditorExtensionId)->GetEditState(), 1);
    EXPECT_FALSE(app->FindEditorExtension("other"));
    app->setEditorAvailable(false);
    EXPECT_FALSE(app->FindEditorExtension(kEditorExtensionId));

    EXPECT_EQ(parcels->GetWorkspace(), workspace);
    EXPECT_EQ(workspace->OpenFeatureClass("parcels"), parcels);
    EXPECT_THROW(workspace->OpenFeatureClass("other"), Failure);
    EXPECT_THROW(std::make_shared<FakeFeatureLayer>()->SearchLayer(nullptr, false), Failure);
    auto filter = CreateQueryFilter();
    filter->SetWhereClause("NATURE = 'a'");
    EXPECT_THROW(parcels->Search(filter, false), Failure);
}

}  // namespace
}  // namespace vark::host::fake
