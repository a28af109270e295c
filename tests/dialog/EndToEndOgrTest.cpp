// The whole tool over real files through the GDAL/OGR host: the bundled
// sample as a shapefile and as a GeoPackage, computed from the dialog, read
// back with GDAL itself, and the criterion file checked byte by byte.

#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include <QCheckBox>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "criterion/CriterionComputation.h"
#include "host/ogr/OgrApplication.h"
#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;

fs::path SampleFolder() {
    GDALAllRegister();
    const char* data = std::getenv("VARK_TEST_DATA");
    return fs::path(data ? data : "data") / "sample";
}

/// NATURE of every feature of a data set, in feature order, as GDAL reads it.
std::vector<std::optional<std::string>> ReadNatures(const fs::path& path) {
    std::vector<std::optional<std::string>> out;
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    EXPECT_NE(ds, nullptr);
    if (!ds) return out;
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    OGR_L_ResetReading(layer);
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        const int i = OGR_F_GetFieldIndex(f, "NATURE");
        if (OGR_F_IsFieldSetAndNotNull(f, i))
            out.emplace_back(OGR_F_GetFieldAsString(f, i));
        else
            out.emplace_back(std::nullopt);
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
    return out;
}

/// Every feature's value of `field` (nullopt for null), by a fresh GDAL open.
std::vector<std::optional<double>> ReadDoubles(const fs::path& path, const std::string& field) {
    std::vector<std::optional<double>> out;
    GDALDatasetH ds =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    EXPECT_NE(ds, nullptr) << path;
    if (!ds) return out;
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
    const int i = OGR_FD_GetFieldIndex(defn, field.c_str());
    EXPECT_GE(i, 0) << field;
    if (i >= 0) {
        EXPECT_EQ(OGR_Fld_GetType(OGR_FD_GetFieldDefn(defn, i)), OFTReal);
    }
    OGR_L_ResetReading(layer);
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        if (i >= 0 && OGR_F_IsFieldSetAndNotNull(f, i))
            out.emplace_back(OGR_F_GetFieldAsDouble(f, i));
        else
            out.emplace_back(std::nullopt);
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
    return out;
}

void AppendInt16(std::string& s, std::int16_t v) {
    s.append(reinterpret_cast<const char*>(&v), 2);
}
void AppendText(std::string& s, const std::string& t) {
    AppendInt16(s, static_cast<std::int16_t>(t.size()));
    s += t;
}

class EndToEndOgrTest : public DialogTest {
protected:
    void TearDown() override {
        delete m_dialog.data();
        g_pApplication().reset();
        DialogTest::TearDown();
    }

    fs::path CopyShapefile() {
        for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"})
            fs::copy_file(SampleFolder() / (std::string("parcelles") + ext),
                          m_dir.path() / (std::string("parcelles") + ext));
        return m_dir.path() / "parcelles.shp";
    }

    fs::path MakeGeoPackage() {
        const fs::path out = m_dir.path() / "parcelles.gpkg";
        GDALDatasetH src = GDALOpenEx((SampleFolder() / "parcelles.geojson").c_str(),
                                      GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
        EXPECT_NE(src, nullptr);
        char format[] = "-f";
        char gpkg[] = "GPKG";
        char* argv[] = {format, gpkg, nullptr};
        GDALVectorTranslateOptions* options = GDALVectorTranslateOptionsNew(argv, nullptr);
        int usageError = 0;
        GDALDatasetH dst = GDALVectorTranslate(out.c_str(), nullptr, 1, &src, options, &usageError);
        EXPECT_NE(dst, nullptr);
        GDALVectorTranslateOptionsFree(options);
        GDALClose(dst);
        GDALClose(src);
        return out;
    }

    /// Opens the data set in an OGR map, runs the dialog over it and releases
    /// every handle, so that GDAL reads back what was written.
    void RunDialog(const fs::path& dataset, const std::map<std::string, int>& grades) {
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {dataset.string(), ""});
        g_pApplication() = app;
        OpenDialog();
        ASSERT_EQ(Texts(ui().Lst_shapes), std::vector<std::string>{"parcelles"});
        Choose("parcelles", "NATURE");
        ASSERT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"NATURE", "COMMUNE"}));
        for (const auto& [value, grade] : grades) {
            if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
            SelectTexts(ui().ListValuesEntree, {value});
            ASSERT_EQ(ui().ListValuesEntree->selectedItems().size(), 1) << value;
            ui().Cmd_Add->click();
        }
        ui().cmd_go->click();
        EXPECT_EQ(Prompts(), std::vector<std::string>{Text(162)});
        delete m_dialog.data();
        g_pApplication().reset();
    }

    void CheckCriterionFile(const fs::path& file, const std::string& workspace) {
        std::string expected;
        AppendInt16(expected, 1);
        AppendInt16(expected, 0);
        AppendInt16(expected, 1);
        AppendInt16(expected, 0);
        expected.append(15, '\0');
        std::string record;
        AppendInt16(record, 0);  // length, set below
        AppendInt16(record, 2);
        AppendText(record, "FZY_NATURE");
        AppendInt16(record, 999);
        AppendText(record, "FZY_NATURE");
        record.append(32, '\0');
        AppendText(record, workspace);
        AppendText(record, "parcelles");
        const std::size_t dateAt = record.size();
        record.append(8, '\0');
        AppendInt16(record, 99);
        const auto length = static_cast<std::int16_t>(record.size());
        std::memcpy(record.data(), &length, 2);
        expected += record;

        std::string actual = ReadBytes(file);
        ASSERT_EQ(actual.size(), expected.size()) << file;
        double created = 0;
        std::memcpy(&created, actual.data() + 23 + dateAt, 8);
        EXPECT_GT(created, 45000.0);  // an OLE date after 2023
        std::memset(actual.data() + 23 + dateAt, 0, 8);
        EXPECT_EQ(actual, expected);
    }

    const std::map<std::string, int> m_grades = {
        {"Forêt", 6}, {"Prairie", 4}, {"Terre arable", 3}, {"Zone humide", 1}, {"Bâti", 0}};
};

double Degree7(int grade) {
    return static_cast<double>(*MembershipDegree(grade, MembershipScale::Seven));
}

/// What a dBASE table keeps of a double: its text with 15 decimals (the
/// shapefile driver's default for a new real field).
double AsDbfText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15f", value);
    return std::strtod(text, nullptr);
}

TEST_F(EndToEndOgrTest, ShapefileGetsEveryDegreeAndItsCriterionFile) {
    const fs::path shp = CopyShapefile();
    RunDialog(shp, m_grades);

    // Read back from the shapefile itself: dBASE keeps neither leading
    // blanks nor the difference between an empty text and a null.
    const auto natures = ReadNatures(shp);
    const auto written = ReadDoubles(shp, "FZY_NATURE");
    ASSERT_EQ(written.size(), natures.size());
    ASSERT_EQ(written.size(), 30u);
    for (std::size_t i = 0; i < natures.size(); ++i) {
        double expected = 0.0;
        if (natures[i]) {
            if (auto it = m_grades.find(*natures[i]); it != m_grades.end())
                expected = Degree7(it->second);
        }
        ASSERT_TRUE(written[i].has_value()) << i;
        EXPECT_EQ(*written[i], AsDbfText(expected)) << i << " " << natures[i].value_or("(null)");
    }
    EXPECT_EQ(*written[3], 0.170000001788139);  // "Zone humide", grade 1
    CheckCriterionFile(m_dir.path() / "parcelles.fzy", m_dir.path().string());
}

TEST_F(EndToEndOgrTest, GeoPackageKeepsEmptyAndNullApart) {
    const fs::path gpkg = MakeGeoPackage();
    auto grades = m_grades;
    grades[""] = 5;
    RunDialog(gpkg, grades);

    const auto natures = ReadNatures(gpkg);
    const auto written = ReadDoubles(gpkg, "FZY_NATURE");
    ASSERT_EQ(written.size(), natures.size());
    int empties = 0;
    int nulls = 0;
    for (std::size_t i = 0; i < natures.size(); ++i) {
        double expected = 0.0;
        if (natures[i]) {
            empties += natures[i]->empty();
            if (auto it = grades.find(*natures[i]); it != grades.end())
                expected = Degree7(it->second);
        } else {
            ++nulls;
        }
        ASSERT_TRUE(written[i].has_value()) << i;
        EXPECT_EQ(*written[i], expected) << i << " " << natures[i].value_or("(null)");
    }
    EXPECT_EQ(empties, 1);
    EXPECT_EQ(nulls, 2);
    EXPECT_EQ(*written[3], 0.17000000178813934);  // "Zone humide", grade 1
    EXPECT_EQ(*written[11], 0.8299999833106995);  // the empty text, grade 5
    EXPECT_EQ(*written[24], 0.0);                 // " Forêt", leading blank
    CheckCriterionFile(m_dir.path() / "parcelles.gpkg.parcelles.fzy", gpkg.string());
}

}  // namespace
}  // namespace vark::test
