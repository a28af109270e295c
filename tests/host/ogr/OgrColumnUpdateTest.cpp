// Column updates of the GDAL adapter: the same files as an ordinary update
// pass, values read back through the same data set, the fields a pass may
// touch, and the cases that take the ordinary pass.

#include <gtest/gtest.h>
#include <ogr_core.h>

#include <cmath>
#include <functional>
#include <limits>

#include "host/common/FeatureClassBase.h"
#include "host/ogr/OgrApplication.h"
#include "support/Failure.h"
#include "testing/OgrTestData.h"
#include "testing/TempDir.h"

namespace vark::host {
namespace {

namespace fs = std::filesystem;
using vark::test::TempDir;
using vark::testing::FeatureSpec;
using vark::testing::FieldSpec;

constexpr int kFeatures = 40;
/// More features than a shapefile chunk and a GeoPackage batch hold.
constexpr int kManyFeatures = 9000;

std::shared_ptr<FeatureClass> classOf(const std::shared_ptr<Application>& app) {
    auto layer =
        std::dynamic_pointer_cast<FeatureLayer>(app->GetDocument()->GetFocusMap()->GetMapLayer(0));
    return layer ? layer->GetFeatureClass() : nullptr;
}

/// T text, R real, I integer; a polygon per feature, each a little different.
void writeParcels(const std::string& driver, const fs::path& path, int count = kFeatures) {
    std::vector<FeatureSpec> features;
    for (int i = 0; i < count; ++i) {
        const std::string wkt = "POLYGON ((0 0," + std::to_string(i + 1) + " 0,1 1,0 " +
                                std::to_string(i % 3 + 1) + ",0 0))";
        Value text = i % 7 == 0 ? Value() : Value(std::string(i % 2 ? "Forêt" : "Prairie"));
        features.push_back({{text, Value(i * 1.25), Value(std::int64_t{i})}, wkt});
    }
    testing::WriteLayer(driver, path, "parcels",
                        {{"T", OFTString, 0, 20}, {"R", OFTReal, 0, 24, 15}, {"I", OFTInteger}},
                        features);
}

/// The degree of feature `i` from its text: what the computation writes.
std::optional<double> degreeOf(const std::optional<std::string_view>& text, std::int64_t i) {
    if (i % 11 == 5) {
        return std::nullopt;
    }
    if (!text) {
        return 0.0;
    }
    // Numbers a shapefile's 15 decimals keep exactly.
    return *text == "Forêt" ? 0.75 : 0.25 + static_cast<double>(i);
}

void addField(FeatureClass& featureClass, const std::string& name, std::int32_t type) {
    Field field = NewField();
    field.SetFieldName(name);
    field.SetFieldType(type);
    featureClass.AddFieldToClass(field);
}

/// One pass writing degreeOf(T) into `field`, through `cursor`.
void runPass(UpdateCursor& cursor, std::int32_t source, std::int32_t target,
             std::int64_t shift = 0) {
    std::int64_t i = 0;
    while (auto row = cursor.NextRow()) {
        const auto degree = degreeOf(row->GetRowText(source), i++ + shift);
        if (degree) {
            row->SetRowDouble(target, *degree);
        } else {
            row->SetRowValue(target, Value());
        }
        cursor.StoreRow(*row);
    }
    cursor.Flush();
}

struct Format {
    const char* driver;
    const char* file;
};
constexpr Format kFormats[] = {{"ESRI Shapefile", "parcels.shp"}, {"GPKG", "parcels.gpkg"}};

TEST(OgrColumnUpdate, WritesWhatAnOrdinaryPassWrites) {
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.driver);
        TempDir dir;
        std::vector<fs::path> paths;
        for (const char* copy : {"ordinary", "column"}) {
            fs::create_directory(dir.path() / copy);
            paths.push_back(dir.path() / copy / format.file);
            writeParcels(format.driver, paths.back(), kManyFeatures);
            auto app = ogr::CreateOgrApplication();
            ogr::AddDataSource(*app, {paths.back().string(), ""});
            auto featureClass = classOf(app);
            addField(*featureClass, "D", kFieldDouble);
            const std::int32_t source = featureClass->FindFieldIndex("T");
            const std::int32_t target = featureClass->FindFieldIndex("D");
            auto cursor = std::string(copy) == "column"
                              ? featureClass->OpenColumnUpdateCursor({{source}, {target}})
                              : featureClass->OpenUpdateCursor(nullptr, true);
            runPass(*cursor, source, target);
        }
        for (const char* field : {"T", "R", "I", "D"}) {
            EXPECT_EQ(testing::ReadColumn(paths[0], "parcels", field),
                      testing::ReadColumn(paths[1], "parcels", field))
                << field;
        }
        EXPECT_EQ(testing::ReadGeometries(paths[0], "parcels"),
                  testing::ReadGeometries(paths[1], "parcels"));
        const auto written = testing::ReadColumn(paths[1], "parcels", "D");
        ASSERT_EQ(written.size(), static_cast<std::size_t>(kManyFeatures));
        EXPECT_EQ(written[1], Value(0.75));
        EXPECT_TRUE(IsNull(written[5]));
        if (std::string(format.driver) == "ESRI Shapefile") {
            for (const char* ext : {".dbf", ".shp", ".shx"}) {
                EXPECT_EQ(test::ReadBytes(paths[0].parent_path() / ("parcels" + std::string(ext))),
                          test::ReadBytes(paths[1].parent_path() / ("parcels" + std::string(ext))))
                    << ext;
            }
        }
    }
}

TEST(OgrColumnUpdate, ValuesReadBackThroughTheSameDataSet) {
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.driver);
        TempDir dir;
        const fs::path path = dir.path() / format.file;
        writeParcels(format.driver, path, kManyFeatures);
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {path.string(), ""});
        auto featureClass = classOf(app);
        addField(*featureClass, "D", kFieldDouble);
        const std::int32_t source = featureClass->FindFieldIndex("T");
        const std::int32_t target = featureClass->FindFieldIndex("D");
        // Two passes in a row: the second must see (and replace) the first.
        for (std::int64_t shift : {0, 3}) {
            SCOPED_TRACE(shift);
            runPass(*featureClass->OpenColumnUpdateCursor({{source}, {target}}), source, target,
                    shift);
            auto cursor = vark::host::common::SearchFeatureClass(*featureClass, nullptr, false);
            std::int64_t i = 0;
            Value lastFid;
            while (auto row = cursor->NextRow()) {
                lastFid = row->GetRowValue(0);
                const auto text = row->GetRowText(source);
                const auto expected = degreeOf(text, i + shift);
                const Value value = row->GetRowValue(target);
                EXPECT_EQ(value, expected ? Value(*expected) : Value()) << i;
                ++i;
            }
            EXPECT_EQ(i, kManyFeatures);
            // The last feature alone, as a filter on its id reads it.
            auto filter = CreateQueryFilter();
            filter->SetWhereClause(featureClass->GetFields().GetField(0).GetFieldName() + " = " +
                                   ValueToText(lastFid));
            auto last =
                vark::host::common::SearchFeatureClass(*featureClass, filter, false)->NextRow();
            ASSERT_TRUE(last);
            const auto expected = degreeOf(last->GetRowText(source), kManyFeatures - 1 + shift);
            EXPECT_EQ(last->GetRowValue(target), expected ? Value(*expected) : Value());
        }
    }
}

TEST(OgrColumnUpdate, AFeatureStoredTwiceKeepsItsLastValues) {
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.driver);
        TempDir dir;
        const fs::path path = dir.path() / format.file;
        writeParcels(format.driver, path, 2500);
        {
            auto app = ogr::CreateOgrApplication();
            ogr::AddDataSource(*app, {path.string(), ""});
            auto featureClass = classOf(app);
            addField(*featureClass, "D", kFieldDouble);
            const std::int32_t target = featureClass->FindFieldIndex("D");
            auto cursor = featureClass->OpenColumnUpdateCursor({{}, {target}});
            std::int64_t i = 0;
            while (auto row = cursor->NextRow()) {
                row->SetRowDouble(target, -1.0);
                cursor->StoreRow(*row);
                row->SetRowDouble(target, static_cast<double>(i++));
                cursor->StoreRow(*row);
            }
            cursor->Flush();
        }
        const auto written = testing::ReadColumn(path, "parcels", "D");
        ASSERT_EQ(written.size(), 2500u);
        for (std::size_t i = 0; i < written.size(); ++i) {
            ASSERT_EQ(written[i], Value(static_cast<double>(i))) << i;
        }
    }
}

TEST(OgrColumnUpdate, RowsTouchOnlyTheFieldsNamed) {
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.driver);
        TempDir dir;
        const fs::path path = dir.path() / format.file;
        writeParcels(format.driver, path);
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {path.string(), ""});
        auto featureClass = classOf(app);
        addField(*featureClass, "D", kFieldDouble);
        const std::int32_t text = featureClass->FindFieldIndex("T");
        const std::int32_t real = featureClass->FindFieldIndex("R");
        const std::int32_t target = featureClass->FindFieldIndex("D");
        auto cursor = featureClass->OpenColumnUpdateCursor({{text}, {target}});
        auto row = cursor->NextRow();
        ASSERT_TRUE(row);
        EXPECT_NO_THROW(row->GetRowValue(0));
        EXPECT_NO_THROW(row->GetRowValue(target));
        EXPECT_THROW(row->GetRowValue(real), Failure);
        EXPECT_THROW(row->SetRowValue(text, Value(std::string("x"))), Failure);
        EXPECT_THROW(row->SetRowDouble(real, 1.0), Failure);
        EXPECT_THROW(featureClass->OpenColumnUpdateCursor({{text}, {99}}), Failure);
    }
}

TEST(OgrColumnUpdate, OtherPassesTakeTheOrdinaryCursor) {
    struct Case {
        const char* name;
        Format format;
        int features;
        std::int32_t type;  ///< of the field written
    } cases[] = {
        {"shapefile of one feature", kFormats[0], 1, kFieldDouble},
        {"single-precision field", kFormats[1], kFeatures, kFieldSingle},
        {"text field", kFormats[1], kFeatures, kFieldText},
        {"text field of a shapefile", kFormats[0], kFeatures, kFieldText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path path = dir.path() / c.format.file;
        writeParcels(c.format.driver, path, c.features);
        std::int64_t n = 0;
        {
            auto app = ogr::CreateOgrApplication();
            ogr::AddDataSource(*app, {path.string(), ""});
            auto featureClass = classOf(app);
            addField(*featureClass, "D", c.type);
            const std::int32_t source = featureClass->FindFieldIndex("T");
            const std::int32_t real = featureClass->FindFieldIndex("R");
            const std::int32_t target = featureClass->FindFieldIndex("D");
            auto cursor = featureClass->OpenColumnUpdateCursor({{source}, {target}});
            while (auto row = cursor->NextRow()) {
                EXPECT_NO_THROW(row->GetRowValue(real));  // an ordinary row reads everything
                row->SetRowValue(target, Value(std::int64_t{7}));
                cursor->StoreRow(*row);
                ++n;
            }
            cursor->Flush();
        }
        const auto written = testing::ReadColumn(path, "parcels", "D");
        ASSERT_EQ(written.size(), static_cast<std::size_t>(n));
        for (const Value& v : written) {
            EXPECT_EQ(host::ValueToText(v), "7");
        }
    }
}

TEST(OgrColumnUpdate, FailuresAsTheOrdinaryPass) {
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.driver);
        TempDir dir;
        const fs::path path = dir.path() / format.file;
        writeParcels(format.driver, path);
        const bool shapefile = std::string(format.driver) == "ESRI Shapefile";
        {
            auto app = ogr::CreateOgrApplication();
            ogr::AddDataSource(*app, {path.string(), ""});
            auto featureClass = classOf(app);
            addField(*featureClass, "D", kFieldDouble);
            const std::int32_t source = featureClass->FindFieldIndex("T");
            const std::int32_t target = featureClass->FindFieldIndex("D");
            {
                // A number too wide for a dBASE field is lost data, not a detail;
                // a GeoPackage takes it. A pass dropped without Flush keeps what
                // a shapefile stored and rolls a GeoPackage back.
                auto cursor = featureClass->OpenColumnUpdateCursor({{source}, {target}});
                auto row = cursor->NextRow();
                row->SetRowDouble(target, 0.5);
                cursor->StoreRow(*row);
                row = cursor->NextRow();
                row->SetRowDouble(target, 1e30);
                if (shapefile) {
                    EXPECT_THROW(cursor->StoreRow(*row), Failure);
                } else {
                    EXPECT_NO_THROW(cursor->StoreRow(*row));
                }
            }
        }
        const auto written = testing::ReadColumn(path, "parcels", "D");
        ASSERT_EQ(written.size(), static_cast<std::size_t>(kFeatures));
        EXPECT_EQ(written[0], shapefile ? Value(0.5) : Value());
        EXPECT_TRUE(IsNull(written[1]));
    }
}

}  // namespace
}  // namespace vark::host
