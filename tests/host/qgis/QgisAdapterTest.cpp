// What the QGIS host adds to the contract: the layer tree as the focus map,
// the project's edit sessions, workspaces read from data sources, the
// formats' quirks (shapefile names, transactions), other project layers on
// the same data, events, and value conversions.

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_core.h>
#include <qgsfeatureiterator.h>
#include <qgslayertree.h>
#include <qgsproject.h>
#include <qgsrasterlayer.h>
#include <qgsvectordataprovider.h>
#include <qgsvectorlayer.h>

#include <QDate>
#include <QDateTime>
#include <map>
#include <set>

#include "host/common/FeatureClassBase.h"
#include "host/qgis/QgisApplication.h"
#include "host/qgis/QgisValues.h"
#include "support/Failure.h"
#include "testing/OgrTestData.h"
#include "testing/QgisTestData.h"
#include "testing/TempDir.h"

namespace vark::qgis {
namespace {

namespace fs = std::filesystem;
using host::Value;
using vark::testing::FeatureSpec;
using vark::testing::FieldSpec;

std::vector<FeatureSpec> numbered(int count) {
    std::vector<FeatureSpec> out(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        out[static_cast<std::size_t>(i)].values = {Value(std::int64_t{i}),
                                                   Value("N" + std::to_string(i % 7))};
    }
    return out;
}

const std::vector<FieldSpec> kNumberedFields = {{"CODE", OFTInteger}, {"NATURE", OFTString, 0, 20}};

host::Uid featureLayers() {
    host::Uid uid = host::CreateUid();
    uid.SetUidValue(std::string(host::kFeatureLayerUid));
    return uid;
}

std::vector<std::string> names(host::LayerEnum& layers) {
    std::vector<std::string> out;
    layers.ResetLayers();
    while (auto layer = layers.NextLayer()) {
        out.push_back(layer->GetLayerName());
    }
    return out;
}

class QgisAdapterTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ClearProject();
        m_app = CreateQgisApplication(nullptr);
    }
    void TearDown() override {
        m_app.reset();
        testing::ClearProject();
    }

    /// A data set of `count` numbered features in the project as `name`.
    QgsVectorLayer* addNumbered(const std::string& driver, const std::string& file, int count,
                                const std::string& name) {
        const fs::path path = m_dir.path() / file;
        testing::WriteLayer(driver, path, "numbers", kNumberedFields, numbered(count));
        return testing::AddProjectLayer(testing::SourceOf(path, "numbers"), name);
    }

    std::shared_ptr<host::Map> map() { return m_app->GetDocument()->GetFocusMap(); }

    std::shared_ptr<host::FeatureClass> classOf(std::int32_t index) {
        auto layer = std::dynamic_pointer_cast<host::FeatureLayer>(map()->GetMapLayer(index));
        return layer ? layer->GetFeatureClass() : nullptr;
    }

    static host::Field doubleField(const std::string& name) {
        host::Field field = host::NewField();
        field.SetFieldName(name);
        field.SetFieldType(host::kFieldDouble);
        return field;
    }

    vark::test::TempDir m_dir;
    std::shared_ptr<host::Application> m_app;
};

TEST_F(QgisAdapterTest, FocusMapIsTheLayerTreeTopLevel) {
    QgsVectorLayer* a = addNumbered("ESRI Shapefile", "a.shp", 2, "A");
    QgsVectorLayer* b = addNumbered("ESRI Shapefile", "b.shp", 2, "B");
    QgsVectorLayer* c = addNumbered("ESRI Shapefile", "c.shp", 2, "C");
    ASSERT_TRUE(a && b && c);
    QgsLayerTree* root = QgsProject::instance()->layerTreeRoot();
    QgsLayerTreeGroup* group = root->insertGroup(1, QStringLiteral("G"));
    QgsLayerTreeLayer* bNode = root->findLayer(b);
    group->addLayer(b);
    root->removeChildNode(bNode);
    {
        GDALDriver* tiff = GetGDALDriverManager()->GetDriverByName("GTiff");
        GDALDatasetUniquePtr raster(
            tiff->Create((m_dir.path() / "r.tif").c_str(), 2, 2, 1, GDT_Byte, nullptr));
    }
    auto* raster = new QgsRasterLayer(QString::fromStdString((m_dir.path() / "r.tif").string()),
                                      QStringLiteral("R"));
    QgsProject::instance()->addMapLayer(raster, false);
    root->insertLayer(2, raster);
    c->setFlags(c->flags() & ~QgsMapLayer::Identifiable);

    // A, G (holding B), R, C
    ASSERT_EQ(map()->GetLayerCount(), 4);
    const std::vector<std::string> expected = {"A", "G", "R", "C"};
    for (std::int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(map()->GetMapLayer(i)->GetLayerName(), expected[static_cast<std::size_t>(i)]);
    }
    auto groupLayer = std::dynamic_pointer_cast<host::GroupLayer>(map()->GetMapLayer(1));
    ASSERT_TRUE(groupLayer);
    ASSERT_EQ(groupLayer->GetLayerCount(), 1);
    EXPECT_TRUE(std::dynamic_pointer_cast<host::FeatureLayer>(groupLayer->GetLayer(0)));
    EXPECT_FALSE(std::dynamic_pointer_cast<host::FeatureLayer>(map()->GetMapLayer(2)));
    EXPECT_EQ(names(*map()->FindLayers(featureLayers(), false)),
              (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(names(*map()->FindLayers(featureLayers(), true)),
              (std::vector<std::string>{"A", "B", "C"}));
    host::Uid other = host::CreateUid();
    other.SetUidValue("{00000000-0000-0000-0000-000000000000}");
    EXPECT_TRUE(names(*map()->FindLayers(other, false)).empty());

    auto selectable = [&](std::int32_t i) {
        return std::dynamic_pointer_cast<host::FeatureLayer>(map()->GetMapLayer(i))
            ->IsLayerSelectable();
    };
    EXPECT_TRUE(selectable(0));
    EXPECT_FALSE(selectable(3)) << "a layer that is not identifiable is not selectable";

    map()->GetMapLayer(0)->SetLayerName("A2");
    EXPECT_EQ(a->name(), QStringLiteral("A2"));
    try {
        map()->GetMapLayer(4);
        ADD_FAILURE() << "no failure past the last layer";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kSubscriptOutOfRange);
    }
}

TEST_F(QgisAdapterTest, WorkspaceComesFromTheDataSource) {
    addNumbered("ESRI Shapefile", "roads.shp", 1, "shp");
    addNumbered("GPKG", "base.gpkg", 1, "gpkg");
    auto* memory = new QgsVectorLayer(QStringLiteral("Polygon?field=NATURE:string"),
                                      QStringLiteral("memory"), QStringLiteral("memory"));
    QgsProject::instance()->addMapLayer(memory, false);
    QgsProject::instance()->layerTreeRoot()->addLayer(memory);
    struct Case {
        std::int32_t index;
        std::int32_t type;
        std::string path;
        std::string alias;
    };
    const Case cases[] = {
        {0, host::kWorkspaceFileSystem, m_dir.path().string(), "roads"},
        {1, host::kWorkspaceLocalDatabase, (m_dir.path() / "base.gpkg").string(), "numbers"},
        {2, host::kWorkspaceRemoteDatabase, memory->publicSource().toStdString(), "memory"},
    };
    for (const auto& c : cases) {
        auto featureClass = classOf(c.index);
        ASSERT_TRUE(featureClass) << c.index;
        auto workspace = featureClass->GetWorkspace();
        EXPECT_EQ(workspace->GetWorkspaceType(), c.type) << c.index;
        EXPECT_EQ(workspace->GetWorkspacePath(), c.path) << c.index;
        EXPECT_EQ(featureClass->GetAliasName(), c.alias) << c.index;
    }
    auto gpkg = classOf(1)->GetWorkspace()->OpenFeatureClass("numbers");
    EXPECT_EQ(gpkg->GetFeatureCount(), 1);
    EXPECT_THROW(classOf(1)->GetWorkspace()->OpenFeatureClass("absent"), Failure);
    EXPECT_THROW(classOf(2)->GetWorkspace()->OpenFeatureClass("memory"), Failure);
}

TEST_F(QgisAdapterTest, EditSessionsOfAnyProjectLayerCount) {
    QgsVectorLayer* a = addNumbered("ESRI Shapefile", "a.shp", 3, "A");
    QgsVectorLayer* twin = testing::AddProjectLayer((m_dir.path() / "a.shp").string(), "twin");
    ASSERT_TRUE(a && twin);
    auto editor = m_app->FindEditorExtension(host::kEditorExtensionId);
    ASSERT_TRUE(editor);
    EXPECT_FALSE(m_app->FindEditorExtension("another.Extension"));
    EXPECT_EQ(editor->GetEditState(), 0);

    ASSERT_TRUE(twin->startEditing());
    EXPECT_EQ(editor->GetEditState(), host::kEditStateEditing);
    // Provider writes would bypass the twin's edit buffer: refused.
    auto featureClass = classOf(0);
    const auto before = featureClass->GetFields().GetFieldCount();
    EXPECT_THROW(featureClass->AddFieldToClass(doubleField("FZY_A")), Failure);
    EXPECT_THROW(featureClass->OpenUpdateCursor(nullptr, true), Failure);
    EXPECT_EQ(featureClass->GetFields().GetFieldCount(), before);

    twin->rollBack();
    EXPECT_EQ(editor->GetEditState(), 0);
    EXPECT_NO_THROW(featureClass->AddFieldToClass(doubleField("FZY_A")));
}

TEST_F(QgisAdapterTest, NamesTheFormatWouldChangeAreRefused) {
    QgsVectorLayer* shp = addNumbered("ESRI Shapefile", "a.shp", 1, "shp");
    addNumbered("GPKG", "b.gpkg", 1, "gpkg");
    ASSERT_TRUE(shp);
    const std::string longName = "FZY_OCCUPATION";
    auto shapefile = classOf(0);
    const auto before = shapefile->GetFields().GetFieldCount();
    try {
        shapefile->AddFieldToClass(doubleField(longName));
        ADD_FAILURE() << "a shapefile took " << longName;
    } catch (const Failure& f) {
        EXPECT_NE(f.description().find("FZY_OCCUPA"), std::string::npos) << f.description();
    }
    EXPECT_EQ(shapefile->GetFields().GetFieldCount(), before) << "the cut field stays behind";
    EXPECT_EQ(shp->fields().count(), shp->dataProvider()->fields().count());

    auto geopackage = classOf(1);
    geopackage->AddFieldToClass(doubleField(longName));
    EXPECT_GE(geopackage->FindFieldIndex(longName), 0);
}

TEST_F(QgisAdapterTest, OtherProjectLayersOnTheSameDataSeeTheCriterion) {
    for (const auto& [driver, file] :
         std::map<std::string, std::string>{{"ESRI Shapefile", "a.shp"}, {"GPKG", "a.gpkg"}}) {
        SCOPED_TRACE(driver);
        testing::ClearProject();
        const fs::path path = m_dir.path() / file;
        testing::WriteLayer(driver, path, "numbers", kNumberedFields, numbered(4));
        testing::AddProjectLayer(testing::SourceOf(path, "numbers"), "one");
        QgsVectorLayer* twin = testing::AddProjectLayer(testing::SourceOf(path, "numbers"), "two");
        ASSERT_TRUE(twin);

        auto featureClass = classOf(0);
        featureClass->AddFieldToClass(doubleField("FZY_CODE"));
        const std::int32_t target = featureClass->FindFieldIndex("FZY_CODE");
        const std::int32_t code = featureClass->FindFieldIndex("CODE");
        auto cursor = featureClass->OpenUpdateCursor(nullptr, true);
        while (auto row = cursor->NextRow()) {
            row->SetRowDouble(target, std::get<std::int64_t>(row->GetRowValue(code)) / 4.0);
            cursor->StoreRow(*row);
        }
        cursor->Flush();

        const int index = twin->fields().indexFromName(QStringLiteral("FZY_CODE"));
        ASSERT_GE(index, 0);
        QgsFeatureIterator it = twin->getFeatures();
        QgsFeature feature;
        int seen = 0;
        while (it.nextFeature(feature)) {
            EXPECT_EQ(feature.attribute(index).toDouble(),
                      feature.attribute(QStringLiteral("CODE")).toInt() / 4.0);
            ++seen;
        }
        EXPECT_EQ(seen, 4);
        testing::ClearProject();
    }
}

// Big enough for several write batches (and, with a transaction, several
// read chunks): every feature is visited and written exactly once, by the
// ordinary update cursor and by the column update alike.
TEST_F(QgisAdapterTest, EveryFeatureOnceAcrossBatches) {
    constexpr int kCount = 12001;
    for (const auto& [driver, file] :
         std::map<std::string, std::string>{{"ESRI Shapefile", "big.shp"}, {"GPKG", "big.gpkg"}}) {
        for (const bool columns : {false, true}) {
            SCOPED_TRACE(driver + (columns ? ", column update" : ", update cursor"));
            testing::ClearProject();
            QgsVectorLayer* layer =
                addNumbered(driver, std::string(columns ? "c" : "u") + file, kCount, "big");
            ASSERT_TRUE(layer);
            auto featureClass = classOf(0);
            featureClass->AddFieldToClass(doubleField("FZY_CODE"));
            const std::int32_t target = featureClass->FindFieldIndex("FZY_CODE");
            const std::int32_t code = featureClass->FindFieldIndex("CODE");
            std::set<std::int64_t> codes;
            {
                auto cursor = columns ? featureClass->OpenColumnUpdateCursor({{code}, {target}})
                                      : featureClass->OpenUpdateCursor(nullptr, true);
                while (auto row = cursor->NextRow()) {
                    const auto value = std::get<std::int64_t>(row->GetRowValue(code));
                    ASSERT_TRUE(codes.insert(value).second) << "feature " << value << " came twice";
                    row->SetRowDouble(target, static_cast<double>(value) + 0.5);
                    cursor->StoreRow(*row);
                }
                cursor->Flush();
            }
            EXPECT_EQ(codes.size(), static_cast<std::size_t>(kCount));
            const int index = layer->fields().indexFromName(QStringLiteral("FZY_CODE"));
            ASSERT_GE(index, 0);
            QgsFeatureIterator it = layer->getFeatures();
            QgsFeature feature;
            int wrong = 0;
            while (it.nextFeature(feature)) {
                wrong += feature.attribute(index).toDouble() !=
                         feature.attribute(QStringLiteral("CODE")).toInt() + 0.5;
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

TEST_F(QgisAdapterTest, ColumnUpdateRowsTouchOnlyTheFieldsNamed) {
    addNumbered("GPKG", "a.gpkg", 3, "A");
    auto featureClass = classOf(0);
    featureClass->AddFieldToClass(doubleField("D"));
    const std::int32_t code = featureClass->FindFieldIndex("CODE");
    const std::int32_t nature = featureClass->FindFieldIndex("NATURE");
    const std::int32_t target = featureClass->FindFieldIndex("D");
    auto cursor = featureClass->OpenColumnUpdateCursor({{nature}, {target}});
    auto row = cursor->NextRow();
    ASSERT_TRUE(row);
    EXPECT_EQ(row->GetRowValue(nature), Value(std::string("N0")));
    EXPECT_NO_THROW(row->GetRowValue(0));
    EXPECT_NO_THROW(row->GetRowValue(target));
    EXPECT_THROW(row->GetRowValue(code), Failure);
    EXPECT_THROW(row->GetRowText(code), Failure);
    EXPECT_THROW(row->SetRowValue(nature, Value(std::string("x"))), Failure);
    EXPECT_THROW(row->SetRowDouble(code, 1.0), Failure);
    EXPECT_THROW(featureClass->OpenColumnUpdateCursor({{nature}, {99}}), Failure);
}

TEST_F(QgisAdapterTest, TransactionSpansEveryChunkUntilFlush) {
    QgsVectorLayer* layer = addNumbered("GPKG", "big.gpkg", 12001, "big");
    ASSERT_TRUE(layer);
    auto featureClass = classOf(0);
    featureClass->AddFieldToClass(doubleField("FZY_CODE"));
    const std::int32_t target = featureClass->FindFieldIndex("FZY_CODE");
    {
        auto cursor = featureClass->OpenUpdateCursor(nullptr, true);
        for (int i = 0; i < 11000; ++i) {
            auto row = cursor->NextRow();
            ASSERT_TRUE(row);
            row->SetRowDouble(target, 1.0);
            cursor->StoreRow(*row);
        }
    }
    const int index = layer->fields().indexFromName(QStringLiteral("FZY_CODE"));
    QgsFeatureIterator it = layer->getFeatures();
    QgsFeature feature;
    int written = 0;
    while (it.nextFeature(feature)) {
        written += !feature.attribute(index).isNull();
    }
    EXPECT_EQ(written, 0) << "chunks written before the cursor was dropped stayed";
}

TEST_F(QgisAdapterTest, FilteredCursorsAndTheirStatistics) {
    addNumbered("ESRI Shapefile", "a.shp", 20, "A");
    auto featureClass = classOf(0);
    auto filter = host::CreateQueryFilter();
    filter->SetWhereClause("CODE < 5");
    const std::int32_t code = featureClass->FindFieldIndex("CODE");
    int rows = 0;
    auto cursor = vark::host::common::SearchFeatureClass(*featureClass, filter, true);
    while (auto row = cursor->NextRow()) {
        EXPECT_LT(std::get<std::int64_t>(row->GetRowValue(code)), 5);
        ++rows;
    }
    EXPECT_EQ(rows, 5);

    // A filtered cursor is read, not answered by the provider.
    auto stats = m_app->CreateStatistics();
    stats->SetStatisticsField("NATURE");
    stats->SetStatisticsCursor(
        vark::host::common::SearchFeatureClass(*featureClass, filter, false));
    EXPECT_EQ(stats->GetUniqueValueCount(), 5);
    stats = m_app->CreateStatistics();
    stats->SetStatisticsField("CODE");
    stats->SetStatisticsCursor(
        vark::host::common::SearchFeatureClass(*featureClass, filter, false));
    const host::MinMax minMax = stats->GetStatistics();
    EXPECT_EQ(minMax.minimum, 0.0);
    EXPECT_EQ(minMax.maximum, 4.0);

    filter->SetWhereClause("CODE <");
    EXPECT_THROW(vark::host::common::SearchFeatureClass(*featureClass, filter, false), Failure);
}

TEST_F(QgisAdapterTest, RemovedLayerFailsCleanly) {
    QgsVectorLayer* layer = addNumbered("ESRI Shapefile", "a.shp", 2, "A");
    auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(map()->GetMapLayer(0));
    auto featureClass = featureLayer->GetFeatureClass();
    QgsProject::instance()->removeMapLayer(layer);
    EXPECT_THROW(featureClass->GetFields(), Failure);
    EXPECT_THROW(featureLayer->GetLayerName(), Failure);
    EXPECT_THROW(featureLayer->SearchLayer(nullptr, false), Failure);
    EXPECT_EQ(map()->GetLayerCount(), 0);
}

TEST_F(QgisAdapterTest, ProjectSignalsBecomeDocumentAndViewEvents) {
    struct Sink : host::DocumentEventsSink, host::MapActiveViewEventsSink {
        std::vector<std::string> events;
        bool ActiveViewChanged() override { return false; }
        bool BeforeCloseDocument() override { return false; }
        bool CloseDocument() override { return false; }
        bool MapsChanged() override { return false; }
        bool NewDocument() override { return events.push_back("new"), false; }
        bool OpenDocument() override { return events.push_back("open"), false; }
        void AfterDraw() override {}
        void AfterItemDraw() override {}
        void ContentsChanged() override {}
        void ContentsCleared() override { events.push_back("cleared"); }
        void FocusMapChanged() override {}
        void ItemAdded() override { events.push_back("added"); }
        void ItemDeleted() override { events.push_back("deleted"); }
        void ItemReordered() override {}
        void SelectionChanged() override {}
        void SpatialReferenceChanged() override {}
        void ViewRefreshed() override {}
    } sink;
    auto document = m_app->GetDocument();
    EXPECT_EQ(document, m_app->GetDocument()) << "one document object for the project";
    EXPECT_EQ(document->GetFocusMap(), document->GetFocusMap());
    document->AdviseDocumentEvents(&sink);
    map()->AdviseViewEvents(&sink);

    QgsVectorLayer* layer = addNumbered("ESRI Shapefile", "a.shp", 1, "A");
    QgsProject::instance()->removeMapLayer(layer);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"added", "deleted"}));

    sink.events.clear();
    const QString file = QString::fromStdString((m_dir.path() / "p.qgs").string());
    ASSERT_TRUE(QgsProject::instance()->write(file));
    ASSERT_TRUE(QgsProject::instance()->read(file));
    ASSERT_FALSE(sink.events.empty());
    EXPECT_EQ(sink.events.back(), "open");
    EXPECT_NE(std::find(sink.events.begin(), sink.events.end(), "new"), sink.events.end());

    document->UnadviseDocumentEvents(&sink);
    map()->UnadviseViewEvents(&sink);
    sink.events.clear();
    testing::ClearProject();
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(QgisAdapterTest, FieldCodesIncludeWhatQgisDoesNotTell) {
    const fs::path path = m_dir.path() / "types.gpkg";
    testing::WriteLayer("GPKG", path, "types",
                        {{"I16", OFTInteger, OFSTInt16},
                         {"FLAG", OFTInteger, OFSTBoolean},
                         {"F32", OFTReal, OFSTFloat32},
                         {"I32", OFTInteger},
                         {"I64", OFTInteger64},
                         {"DAY", OFTDate},
                         {"TEXT", OFTString}},
                        {});
    testing::AddProjectLayer(testing::SourceOf(path, "types"), "types");
    const std::map<std::string, std::int32_t> expected = {
        {"fid", host::kFieldOid},    {"geom", host::kFieldGeometry}, {"I16", host::kFieldShort},
        {"FLAG", host::kFieldShort}, {"F32", host::kFieldSingle},    {"I32", host::kFieldLong},
        {"I64", host::kFieldLong},   {"DAY", host::kFieldDate},      {"TEXT", host::kFieldText}};
    const host::Fields fields = classOf(0)->GetFields();
    ASSERT_EQ(fields.GetFieldCount(), static_cast<std::int32_t>(expected.size()));
    for (const auto& [name, type] : expected) {
        const std::int32_t index = fields.FindFieldIndex(name);
        ASSERT_GE(index, 0) << name;
        EXPECT_EQ(fields.GetField(index).GetFieldType(), type) << name;
    }
}

TEST(QgisValues, ConversionsBothWays) {
    struct Case {
        QVariant qgis;
        Value host;
        QVariant::Type type;
    };
    const Case cases[] = {
        {QVariant(QVariant::String), Value(), QVariant::String},
        {QVariant(42), Value(std::int64_t{42}), QVariant::Int},
        {QVariant(true), Value(std::int64_t{1}), QVariant::Bool},
        {QVariant(0.17f), Value(static_cast<double>(0.17f)), QVariant::Double},
        {QVariant(QStringLiteral("Forêt")), Value(std::string("Forêt")), QVariant::String},
        {QVariant(QDate(1899, 12, 30)), Value(0.0), QVariant::Date},
        {QVariant(QDate(2000, 1, 1)), Value(36526.0), QVariant::Date},
        {QVariant(QDateTime(QDate(2000, 1, 1), QTime(18, 0))), Value(36526.75), QVariant::DateTime},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ToValue(c.qgis), c.host) << c.qgis.toString().toStdString();
        if (c.type != QVariant::Bool) {
            const QVariant back = ToVariant(c.host, c.type);
            EXPECT_EQ(back.isNull(), c.qgis.isNull());
            if (!c.qgis.isNull()) {
                EXPECT_EQ(back.toString(), c.qgis.toString());
            }
        }
    }
    // The last millisecond of a day stays within the day.
    EXPECT_EQ(ToVariant(Value(36526.9999999999), QVariant::DateTime).toDateTime().date(),
              QDate(2000, 1, 1));

    for (const std::int32_t refused : {host::kFieldOid, host::kFieldGeometry, host::kFieldGuid}) {
        host::Field field = host::NewField();
        field.SetFieldName("X");
        field.SetFieldType(refused);
        EXPECT_THROW(ToQgsField(field), Failure) << refused;
    }
}

}  // namespace
}  // namespace vark::qgis
