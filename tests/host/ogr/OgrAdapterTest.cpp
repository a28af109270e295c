// What the GDAL/OGR adapter does beyond the host contract: the formats'
// own rules (field codes, shapefile names, geometry kept intact on update,
// transactions, read-only data sets, shared data sets), checked against
// fresh GDAL reads of the files.

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gtest/gtest.h>
#include <ogr_core.h>

#include <cmath>
#include <fstream>

#include "host/common/FeatureClassBase.h"
#include "host/ogr/OgrApplication.h"
#include "host/ogr/OgrData.h"
#include "support/Failure.h"
#include "testing/OgrTestData.h"
#include "testing/TempDir.h"

namespace vark::host {
namespace {

namespace fs = std::filesystem;
using vark::test::TempDir;
using vark::testing::FeatureSpec;
using vark::testing::FieldSpec;

std::shared_ptr<FeatureClass> openClass(const std::shared_ptr<Application>& app,
                                        std::int32_t layer = 0) {
    auto map = app->GetDocument()->GetFocusMap();
    auto featureLayer = std::dynamic_pointer_cast<FeatureLayer>(map->GetMapLayer(layer));
    return featureLayer ? featureLayer->GetFeatureClass() : nullptr;
}

std::shared_ptr<Application> appOver(const fs::path& path, const std::string& layer = "") {
    auto app = ogr::CreateOgrApplication();
    ogr::AddDataSource(*app, {path.string(), layer});
    return app;
}

void addDouble(FeatureClass& featureClass, const std::string& name) {
    Field field = NewField();
    field.SetFieldName(name);
    field.SetFieldType(kFieldDouble);
    featureClass.AddFieldToClass(field);
}

// Writes `value(i)` into `field` of every feature through one update pass.
template <typename Fn>
void updateAll(FeatureClass& featureClass, const std::string& field, Fn value, bool flush = true) {
    auto cursor = featureClass.OpenUpdateCursor(nullptr, true);
    const std::int32_t index = featureClass.FindFieldIndex(field);
    std::int64_t i = 0;
    while (auto row = cursor->NextRow()) {
        row->SetRowDouble(index, value(i++));
        cursor->StoreRow(*row);
    }
    if (flush) {
        cursor->Flush();
    }
}

std::string failureText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kHostFailure) << f.description();
        return f.description();
    }
    ADD_FAILURE() << "no failure";
    return {};
}

TEST(OgrAdapter, FieldCodesByFormat) {
    TempDir dir;
    const std::vector<FieldSpec> fields = {
        {"T", OFTString},
        {"I16", OFTInteger, OFSTInt16},
        {"B", OFTInteger, OFSTBoolean},
        {"I32", OFTInteger},
        {"I64", OFTInteger64},
        {"F32", OFTReal, OFSTFloat32},
        {"F64", OFTReal},
        {"D", OFTDate},
        {"DT", OFTDateTime},
        {"BIN", OFTBinary},
    };
    const std::vector<std::int32_t> gpkgCodes = {6, 7, 4, 0, 0, 1, 1, 2, 3, 5, 5, 8};
    testing::WriteLayer("GPKG", dir.path() / "t.gpkg", "t", fields, {});
    Fields gpkg = openClass(appOver(dir.path() / "t.gpkg"))->GetFields();
    ASSERT_EQ(gpkg.GetFieldCount(), static_cast<std::int32_t>(gpkgCodes.size()));
    for (std::int32_t i = 0; i < gpkg.GetFieldCount(); ++i) {
        EXPECT_EQ(gpkg.GetField(i).GetFieldType(), gpkgCodes[static_cast<std::size_t>(i)])
            << gpkg.GetField(i).GetFieldName();
    }

    // A shapefile knows texts, numbers and dates only.
    testing::WriteLayer("ESRI Shapefile", dir.path() / "s.shp", "s",
                        {{"T", OFTString, 0, 20},
                         {"I", OFTInteger, 0, 9},
                         {"R", OFTReal, 0, 19, 11},
                         {"D", OFTDate}},
                        {});
    Fields shp = openClass(appOver(dir.path() / "s.shp"))->GetFields();
    const std::vector<std::pair<std::string, std::int32_t>> expected = {
        {"FID", 6}, {"Shape", 7}, {"T", 4}, {"I", 1}, {"R", 3}, {"D", 5}};
    ASSERT_EQ(shp.GetFieldCount(), 6);
    for (std::int32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(shp.GetField(i).GetFieldName(), expected[static_cast<std::size_t>(i)].first);
        EXPECT_EQ(shp.GetField(i).GetFieldType(), expected[static_cast<std::size_t>(i)].second);
    }
    EXPECT_EQ(shp.GetField(4).GetFieldLength(), 19);
    EXPECT_EQ(shp.GetField(4).GetFieldPrecision(), 11);
}

TEST(OgrAdapter, DatesAreDaysSince18991230) {
    const struct {
        int y, m, d, h, mi;
        double days;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0.0},     {1900, 1, 1, 0, 0, 2.0},      {1899, 12, 29, 0, 0, -1.0},
        {2024, 2, 29, 12, 0, 45351.5}, {2000, 3, 1, 6, 0, 36586.25},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(ogr::ToOleDate(c.y, c.m, c.d, c.h, c.mi, 0), c.days) << c.y;
        int y = 0, m = 0, d = 0, h = 0, mi = 0;
        float s = 0;
        ogr::FromOleDate(c.days, y, m, d, h, mi, s);
        EXPECT_EQ(std::make_tuple(y, m, d, h, mi), std::make_tuple(c.y, c.m, c.d, c.h, c.mi));
    }

    TempDir dir;
    testing::WriteLayer("GPKG", dir.path() / "d.gpkg", "d", {{"WHEN", OFTDate}},
                        {{{Value(std::string("2024-02-29"))}}, {{Value()}}});
    auto featureClass = openClass(appOver(dir.path() / "d.gpkg"));
    auto cursor = vark::host::common::SearchFeatureClass(*featureClass, nullptr, false);
    EXPECT_EQ(cursor->NextRow()->GetRowValue(2), Value(45351.0));
    EXPECT_TRUE(IsNull(cursor->NextRow()->GetRowValue(2)));
}

// A shapefile silently truncates, renames or duplicates field names; the
// adapter refuses such names before anything is written.
TEST(OgrAdapter, ShapefileFieldNameRules) {
    TempDir dir;
    const fs::path shp = dir.path() / "p.shp";
    testing::WriteLayer("ESRI Shapefile", shp, "p", {{"NATURE", OFTString, 0, 20}},
                        {{{Value(std::string("a"))}}});
    auto featureClass = openClass(appOver(shp));
    const std::string dbf = test::ReadBytes(dir.path() / "p.dbf");
    const struct {
        const char* name;
        const char* reason;
    } refused[] = {
        {"FZY_OCCUPATION", "10 characters"},
        {"FID", "FID"},
        {"shape", "Shape"},
        {"Nature", "NATURE"},
    };
    for (const auto& r : refused) {
        Field field = NewField();
        field.SetFieldName(r.name);
        field.SetFieldType(kFieldDouble);
        const std::string text = failureText([&] { featureClass->AddFieldToClass(field); });
        EXPECT_NE(text.find(r.name), std::string::npos) << text;
        EXPECT_NE(text.find(r.reason), std::string::npos) << text;
        EXPECT_NE(text.find("p.shp"), std::string::npos) << text;
    }
    EXPECT_EQ(test::ReadBytes(dir.path() / "p.dbf"), dbf);

    // Ten characters, eleven bytes in UTF-8: the format takes it as it is.
    for (const char* name : {"FZY_OCCUPA", "FZY_forêts"}) {
        addDouble(*featureClass, name);
        const std::int32_t index = featureClass->FindFieldIndex(name);
        ASSERT_GE(index, 0) << name;
        const Field& created = featureClass->GetFields().GetField(index);
        EXPECT_EQ(created.GetFieldType(), kFieldDouble);
        EXPECT_EQ(created.GetFieldLength(), 24) << "the shapefile default for a double";
        EXPECT_EQ(created.GetFieldPrecision(), 15);
    }
    EXPECT_EQ(testing::ReadFieldNames(shp, "p"),
              (std::vector<std::string>{"NATURE", "FZY_OCCUPA", "FZY_forêts"}));
}

// Storing a feature rewrites its whole record, geometry included: the
// geometry must come back exactly as it was, byte for byte.
TEST(OgrAdapter, ShapefileUpdateKeepsGeometriesAndOtherValues) {
    TempDir dir;
    const fs::path shp = dir.path() / "g.shp";
    // Rings wound as the format wants (outer clockwise, holes counter-
    // clockwise), but for the last one.
    const std::vector<std::string> wkts = {
        "POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))",
        "MULTIPOLYGON (((20 0,30 10,30 0,20 0)),((40 0,50 10,50 0,40 0)))",
        "",
        "POLYGON ((0.123456789012345 1.5,3.25 7.125,3.25 1.5,0.123456789012345 1.5))",
        // Wound against the format's rule: kept as it is, not re-oriented.
        "POLYGON ((60 0,70 0,70 10,60 0))",
    };

    std::vector<FeatureSpec> features;
    for (std::size_t i = 0; i < wkts.size(); ++i) {
        features.push_back(
            {{Value(std::string("v") + std::to_string(i)), Value(0.5 * i)}, wkts[i]});
    }
    CPLSetConfigOption("SHAPE_REWIND_ON_WRITE", "NO");
    testing::WriteLayer("ESRI Shapefile", shp, "g",
                        {{"NATURE", OFTString, 0, 20}, {"SURF", OFTReal, 0, 24, 15}}, features);
    CPLSetConfigOption("SHAPE_REWIND_ON_WRITE", nullptr);
    const std::string shpBytes = test::ReadBytes(shp);
    const std::string shxBytes = test::ReadBytes(dir.path() / "g.shx");
    const auto geometries = testing::ReadGeometries(shp, "g");
    {
        auto app = appOver(shp);
        auto featureClass = openClass(app);
        addDouble(*featureClass, "FZY");
        updateAll(*featureClass, "FZY", [](std::int64_t i) { return 0.25 * i; });
    }
    EXPECT_EQ(testing::ReadGeometries(shp, "g"), geometries);
    EXPECT_EQ(test::ReadBytes(shp), shpBytes);
    EXPECT_EQ(test::ReadBytes(dir.path() / "g.shx"), shxBytes);
    EXPECT_EQ(testing::ReadColumn(shp, "g", "FZY"),
              (std::vector<Value>{Value(0.0), Value(0.25), Value(0.5), Value(0.75), Value(1.0)}));
    EXPECT_EQ(testing::ReadColumn(shp, "g", "SURF"),
              (std::vector<Value>{Value(0.0), Value(0.5), Value(1.0), Value(1.5), Value(2.0)}));
    EXPECT_EQ(testing::ReadColumn(shp, "g", "NATURE")[3], Value(std::string("v3")));
}

// A number the dBASE field cannot hold is lost data: the store fails rather
// than report success.
TEST(OgrAdapter, ShapefileValueTooWideFailsTheStore) {
    TempDir dir;
    const fs::path shp = dir.path() / "w.shp";
    testing::WriteLayer("ESRI Shapefile", shp, "w", {{"N", OFTReal, 0, 6, 2}}, {{{Value(1.0)}}});
    auto featureClass = openClass(appOver(shp));
    auto cursor = featureClass->OpenUpdateCursor(nullptr, true);
    auto row = cursor->NextRow();
    row->SetRowValue(2, 1e30);
    const std::string text = failureText([&] { cursor->StoreRow(*row); });
    EXPECT_NE(text.find("w.shp"), std::string::npos) << text;
}

TEST(OgrAdapter, GeoPackageRunIsOneTransaction) {
    TempDir dir;
    const fs::path gpkg = dir.path() / "t.gpkg";
    std::vector<FeatureSpec> features(50, FeatureSpec{{Value(std::string("x"))}});
    testing::WriteLayer("GPKG", gpkg, "t", {{"NATURE", OFTString}}, features);
    {
        auto app = appOver(gpkg);
        auto featureClass = openClass(app);
        addDouble(*featureClass, "FZY");
        updateAll(
            *featureClass, "FZY", [](std::int64_t) { return 1.0; }, false);
    }
    for (const auto& v : testing::ReadColumn(gpkg, "t", "FZY")) {
        EXPECT_TRUE(IsNull(v)) << "a run dropped without Flush is rolled back";
    }
    {
        auto app = appOver(gpkg);
        auto featureClass = openClass(app);
        updateAll(*featureClass, "FZY",
                  [](std::int64_t i) { return 0.5 + static_cast<double>(i); });
        // A second pass may follow a committed one.
        updateAll(*featureClass, "FZY", [](std::int64_t i) { return static_cast<double>(i); });
    }
    const auto values = testing::ReadColumn(gpkg, "t", "FZY");
    ASSERT_EQ(values.size(), 50u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i], Value(static_cast<double>(i)));
    }
}

// A data set GDAL can only read (here a zipped shapefile) is refused at the
// first write, before anything changes.
TEST(OgrAdapter, ReadOnlyDataSetRefusedBeforeAnyChange) {
    TempDir dir;
    testing::WriteLayer("ESRI Shapefile", dir.path() / "r.shp", "r", {{"NATURE", OFTString, 0, 9}},
                        {{{Value(std::string("a"))}}});
    const fs::path zip = dir.path() / "r.zip";
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
        const std::string bytes = test::ReadBytes(dir.path() / (std::string("r") + ext));
        const std::string target = "/vsizip/" + zip.string() + "/r" + ext;
        VSILFILE* out = VSIFOpenL(target.c_str(), "wb");
        ASSERT_TRUE(out) << target;
        ASSERT_EQ(VSIFWriteL(bytes.data(), 1, bytes.size(), out), bytes.size());
        VSIFCloseL(out);
    }
    const std::string before = test::ReadBytes(zip);

    auto app = appOver("/vsizip/" + zip.string() + "/r.shp");
    auto featureClass = openClass(app);
    ASSERT_TRUE(featureClass);
    EXPECT_EQ(featureClass->GetFeatureCount(), 1);
    const std::string addText = failureText([&] { addDouble(*featureClass, "FZY"); });
    EXPECT_NE(addText.find("read-only"), std::string::npos) << addText;
    EXPECT_NE(addText.find("FZY"), std::string::npos) << addText;
    const std::string updateText =
        failureText([&] { featureClass->OpenUpdateCursor(nullptr, true); });
    EXPECT_NE(updateText.find("read-only"), std::string::npos) << updateText;
    EXPECT_EQ(featureClass->GetFields().GetFieldCount(), 3);
    app.reset();
    featureClass.reset();
    EXPECT_EQ(test::ReadBytes(zip), before);
}

// One OGR layer has one reading position: a pass interrupted by another
// pass, or by a change of fields, fails instead of skipping features.
TEST(OgrAdapter, InterruptedPassFails) {
    TempDir dir;
    const fs::path shp = dir.path() / "c.shp";
    std::vector<FeatureSpec> features(5, FeatureSpec{{Value(std::string("x"))}});
    testing::WriteLayer("ESRI Shapefile", shp, "c", {{"NATURE", OFTString, 0, 9}}, features);
    auto featureClass = openClass(appOver(shp));

    auto first = vark::host::common::SearchFeatureClass(*featureClass, nullptr, true);
    ASSERT_TRUE(first->NextRow());
    auto second = vark::host::common::SearchFeatureClass(*featureClass, nullptr, true);
    ASSERT_TRUE(second->NextRow());
    EXPECT_THROW(first->NextRow(), Failure);
    int rest = 0;
    while (second->NextRow()) {
        ++rest;
    }
    EXPECT_EQ(rest, 4);

    auto third = vark::host::common::SearchFeatureClass(*featureClass, nullptr, false);
    auto row = third->NextRow();
    addDouble(*featureClass, "FZY");
    EXPECT_THROW(row->GetRowValue(2), Failure);
    EXPECT_THROW(third->NextRow(), Failure);
}

TEST(OgrAdapter, OneDataSetPerPath) {
    TempDir dir;
    const fs::path shp = dir.path() / "s.shp";
    testing::WriteLayer("ESRI Shapefile", shp, "s", {{"NATURE", OFTString, 0, 9}},
                        {{{Value(std::string("a"))}}});
    auto app = ogr::CreateOgrApplication();
    ogr::AddDataSource(*app, {shp.string(), ""});
    ogr::AddDataSource(*app, {(dir.path() / "." / "s.shp").string(), ""});
    auto fromFolder = app->OpenShapefileFolder(dir.path().string())->OpenFeatureClass("s");
    addDouble(*openClass(app, 1), "FZY");
    EXPECT_GE(openClass(app, 0)->FindFieldIndex("FZY"), 0);
    EXPECT_GE(fromFolder->FindFieldIndex("FZY"), 0);
}

TEST(OgrAdapter, GeoPackageLayersAndWorkspace) {
    TempDir dir;
    const fs::path gpkg = dir.path() / "m.gpkg";
    testing::WriteLayer("GPKG", gpkg, "zones", {{"NATURE", OFTString}},
                        {{{Value(std::string("a"))}}});
    testing::WriteLayer("GPKG", gpkg, "roads", {{"KIND", OFTString}},
                        {{{Value(std::string("b"))}, "LINESTRING (0 0,1 1)"}}, wkbLineString);
    testing::WriteLayer("GPKG", gpkg, "table", {{"X", OFTString}}, {{{Value()}, ""}}, wkbNone);

    auto app = appOver(gpkg);
    auto map = app->GetDocument()->GetFocusMap();
    ASSERT_EQ(map->GetLayerCount(), 2) << "a table without geometry is not a feature layer";
    EXPECT_EQ(map->GetMapLayer(0)->GetLayerName(), "zones");
    EXPECT_EQ(openClass(app, 0)->GetShapeType(), kShapePolygon);
    EXPECT_EQ(openClass(app, 1)->GetShapeType(), kShapePolyline);

    auto workspace = openClass(app, 0)->GetWorkspace();
    EXPECT_EQ(workspace->GetWorkspaceType(), kWorkspaceLocalDatabase);
    EXPECT_EQ(workspace->GetWorkspacePath(), gpkg.string());
    EXPECT_EQ(workspace->OpenFeatureClass("roads")->GetAliasName(), "roads");
    EXPECT_THROW(workspace->OpenFeatureClass("absent"), Failure);

    auto single = appOver(gpkg, "roads");
    ASSERT_EQ(single->GetDocument()->GetFocusMap()->GetLayerCount(), 1);
    EXPECT_EQ(single->GetDocument()->GetFocusMap()->GetMapLayer(0)->GetLayerName(), "roads");
}

TEST(OgrAdapter, OpenFailuresNameTheirCause) {
    TempDir dir;
    const fs::path gpkg = dir.path() / "m.gpkg";
    testing::WriteLayer("GPKG", gpkg, "zones", {{"NATURE", OFTString}}, {});
    std::ofstream(dir.path() / "notes.txt") << "not a data set\n";
    const struct {
        std::string path, layer, mentioned;
    } cases[] = {
        {(dir.path() / "absent.shp").string(), "", "absent.shp"},
        {gpkg.string(), "absent", "absent"},
        {(dir.path() / "notes.txt").string(), "", "notes.txt"},
    };
    for (const auto& c : cases) {
        auto app = ogr::CreateOgrApplication();
        try {
            ogr::AddDataSource(*app, {c.path, c.layer});
            ADD_FAILURE() << "opened " << c.path;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), err::kHostFailure);
            EXPECT_EQ(f.source(), "GDAL");
            EXPECT_NE(f.description().find(c.mentioned), std::string::npos) << f.description();
        }
        EXPECT_EQ(app->GetDocument()->GetFocusMap()->GetLayerCount(), 0);
    }
}

// The limit stops the distinct-value pass early; min/max still cover every
// feature.
TEST(OgrAdapter, StatisticsOverManyFeatures) {
    TempDir dir;
    const fs::path gpkg = dir.path() / "n.gpkg";
    std::vector<FeatureSpec> features;
    for (int i = 0; i < 3000; ++i) {
        features.push_back(
            {{Value(static_cast<double>(i)), Value(std::string(i % 2 ? "a" : "b"))}, ""});
    }
    testing::WriteLayer("GPKG", gpkg, "n", {{"V", OFTReal}, {"T", OFTString}}, features);
    auto app = appOver(gpkg, "n");
    auto featureClass = openClass(app);

    auto stats = app->CreateStatistics();
    std::int64_t lastDone = 0, lastTotal = 0;
    stats->SetProgress([&](std::int64_t done, std::int64_t total) {
        lastDone = done;
        lastTotal = total;
    });
    stats->SetStatisticsField("V");
    stats->SetStatisticsCursor(
        vark::host::common::SearchFeatureClass(*featureClass, nullptr, false));
    stats->SetUniqueValueLimit(100);
    EXPECT_EQ(stats->GetUniqueValueCount(), 101);
    const MinMax mm = stats->GetStatistics();
    EXPECT_EQ(mm.minimum, 0.0);
    EXPECT_EQ(mm.maximum, 2999.0);
    EXPECT_EQ(lastDone, 3000);
    EXPECT_EQ(lastTotal, 3000);

    auto texts = app->CreateStatistics();
    texts->SetStatisticsField("T");
    texts->SetStatisticsCursor(
        vark::host::common::SearchFeatureClass(*featureClass, nullptr, false));
    EXPECT_EQ(texts->GetUniqueValueCount(), 2);
}

// A pass for the minimum and maximum keeps no values; values asked for
// afterwards still come, from a pass of their own.
TEST(OgrAdapter, ValuesAfterMinimumAndMaximum) {
    TempDir dir;
    const fs::path gpkg = dir.path() / "m.gpkg";
    std::vector<FeatureSpec> features;
    for (int i = 0; i < 50; ++i) {
        features.push_back({{Value(static_cast<double>(i % 7))}, ""});
    }
    testing::WriteLayer("GPKG", gpkg, "m", {{"V", OFTReal}}, features);
    auto app = appOver(gpkg, "m");
    auto featureClass = openClass(app);
    auto filter = CreateQueryFilter();
    filter->SetWhereClause("V < 3");
    for (const auto& f : {std::shared_ptr<QueryFilter>(), filter}) {
        auto stats = app->CreateStatistics();
        stats->SetStatisticsField("V");
        stats->SetStatisticsCursor(vark::host::common::SearchFeatureClass(*featureClass, f, false));
        const MinMax mm = stats->GetStatistics();
        EXPECT_EQ(mm.maximum, f ? 2.0 : 6.0);
        EXPECT_EQ(stats->GetUniqueValueCount(), f ? 3 : 7);
        EXPECT_EQ(stats->GetStatistics().minimum, 0.0);
    }
}

// Shapefiles and GeoPackages are opened with their own driver alone; any
// other data set, or a file its name misleads about, with every driver.
TEST(OgrAdapter, OpensWhateverGdalReads) {
    // Written by hand: nothing here registers GDAL's drivers before the
    // adapter opens the files (ctest runs each test in a process of its own).
    TempDir dir;
    const std::string json =
        R"({"type":"FeatureCollection","features":[{"type":"Feature","properties":{"T":"x"},)"
        R"("geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]}}]})";
    for (const char* name : {"a.geojson", "b.shp"}) {
        const fs::path path = dir.path() / name;
        std::ofstream(path) << json;
        auto app = appOver(path);
        auto featureClass = openClass(app);
        ASSERT_TRUE(featureClass) << path;
        EXPECT_EQ(featureClass->GetFeatureCount(), 1) << path;
        EXPECT_EQ(featureClass->GetShapeType(), kShapePolygon) << path;
    }
}

TEST(OgrAdapter, EditorStateFollowsTheApplication) {
    auto app = ogr::CreateOgrApplication();
    auto editor = app->FindEditorExtension(kEditorExtensionId);
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->GetEditState(), 0);
    ogr::SetEditState(*app, kEditStateEditing);
    EXPECT_EQ(editor->GetEditState(), kEditStateEditing);
    EXPECT_FALSE(app->FindEditorExtension("other"));
}

}  // namespace
}  // namespace vark::host
