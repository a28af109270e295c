#include "BatchTestSupport.h"

#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "criterion_file/fzy_io.h"
#include "dialog/DialogState.h"
#include "host/HostState.h"
#include "support/ErrorHandling.h"
#include "support/QtTestApp.h"
#include "text_store/clsResourceMDB.h"

namespace vark::test {

fs::path SampleFolder() {
    const char* data = std::getenv("VARK_TEST_DATA");
    return fs::path(data ? data : "data") / "sample";
}

fs::path CopySampleShapefile(const fs::path& folder) {
    for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
        fs::copy_file(SampleFolder() / (std::string("parcelles") + ext),
                      folder / (std::string("parcelles") + ext),
                      fs::copy_options::overwrite_existing);
    }
    return folder / "parcelles.shp";
}

fs::path SampleGeoPackage(const fs::path& folder) {
    GDALAllRegister();
    const fs::path out = folder / "parcelles.gpkg";
    GDALDatasetH src = GDALOpenEx((SampleFolder() / "parcelles.geojson").c_str(), GDAL_OF_VECTOR,
                                  nullptr, nullptr, nullptr);
    EXPECT_NE(src, nullptr);
    char format[] = "-f";
    char gpkg[] = "GPKG";
    char name[] = "-nln";
    char layer[] = "parcelles";
    char* argv[] = {format, gpkg, name, layer, nullptr};
    GDALVectorTranslateOptions* options = GDALVectorTranslateOptionsNew(argv, nullptr);
    int usageError = 0;
    GDALDatasetH dst = GDALVectorTranslate(out.c_str(), nullptr, 1, &src, options, &usageError);
    EXPECT_NE(dst, nullptr);
    GDALVectorTranslateOptionsFree(options);
    GDALClose(dst);
    GDALClose(src);
    return out;
}

void WriteNatures(const fs::path& path, const std::string& driverName, const Natures& natures,
                  const std::string& layerName) {
    GDALAllRegister();
    GDALDatasetH ds = nullptr;
    if (fs::exists(path)) {
        ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr, nullptr);
    } else {
        GDALDriverH driver = GDALGetDriverByName(driverName.c_str());
        ds = GDALCreate(driver, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    }
    ASSERT_NE(ds, nullptr) << path;
    OGRLayerH layer = GDALDatasetCreateLayer(ds, layerName.c_str(), nullptr, wkbPolygon, nullptr);
    ASSERT_NE(layer, nullptr);
    OGRFieldDefnH field = OGR_Fld_Create("NATURE", OFTString);
    OGR_Fld_SetWidth(field, 40);
    ASSERT_EQ(OGR_L_CreateField(layer, field, TRUE), OGRERR_NONE);
    OGR_Fld_Destroy(field);
    ASSERT_EQ(OGR_L_StartTransaction(layer), OGRERR_NONE);
    for (const auto& nature : natures) {
        OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        if (nature) {
            OGR_F_SetFieldString(feature, 0, nature->c_str());
        } else {
            OGR_F_SetFieldNull(feature, 0);
        }
        char wkt[] = "POLYGON ((0 0,1 0,1 1,0 1,0 0))";
        char* cursor = wkt;
        OGRGeometryH polygon = nullptr;
        OGR_G_CreateFromWkt(&cursor, nullptr, &polygon);
        OGR_F_SetGeometryDirectly(feature, polygon);
        EXPECT_EQ(OGR_L_CreateFeature(layer, feature), OGRERR_NONE);
        OGR_F_Destroy(feature);
    }
    EXPECT_EQ(OGR_L_CommitTransaction(layer), OGRERR_NONE);
    GDALClose(ds);
}

std::vector<std::optional<double>> ReadDoubles(const fs::path& path, const std::string& field) {
    GDALAllRegister();
    std::vector<std::optional<double>> out;
    GDALDatasetH ds =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    EXPECT_NE(ds, nullptr) << path;
    if (!ds) return out;
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    const int i = OGR_FD_GetFieldIndex(OGR_L_GetLayerDefn(layer), field.c_str());
    EXPECT_GE(i, 0) << field;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        if (i >= 0 && OGR_F_IsFieldSetAndNotNull(f, i)) {
            out.emplace_back(OGR_F_GetFieldAsDouble(f, i));
        } else {
            out.emplace_back(std::nullopt);
        }
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
    return out;
}

std::vector<std::string> ReadFieldNames(const fs::path& path) {
    GDALAllRegister();
    std::vector<std::string> names;
    GDALDatasetH ds =
        GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (!ds) return names;
    OGRFeatureDefnH defn = OGR_L_GetLayerDefn(GDALDatasetGetLayer(ds, 0));
    for (int i = 0; i < OGR_FD_GetFieldCount(defn); ++i) {
        names.emplace_back(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(defn, i)));
    }
    GDALClose(ds);
    return names;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string WithoutDates(std::string fzy) {
    constexpr std::size_t kHeader = 23;
    std::size_t at = kHeader;
    while (at + 4 <= fzy.size()) {
        std::int16_t length = 0;
        std::int16_t kind = 0;
        std::memcpy(&length, fzy.data() + at, 2);
        std::memcpy(&kind, fzy.data() + at + 2, 2);
        if (length < 12 || at + static_cast<std::size_t>(length) > fzy.size()) break;
        if (kind == 2) {
            // The date is the 8 bytes before the end mark.
            std::memset(fzy.data() + at + length - 10, 0, 8);
        }
        at += static_cast<std::size_t>(length);
    }
    return fzy;
}

void BatchTest::SetUp() {
    EnsureQApplication();
    ResetDialogState();
    ResetFzyState();
    ResetTextStoreState();
    errorLogState().logFile = m_dir.file("VARK_fuzzy.log");
    gTextStore().setLanguageCode("fr");
    gTextStore().SaveLangSetting();
    InitLanguage();
}

void BatchTest::TearDown() {
    g_pApplication().reset();
    ResetFzyState();
    ResetDialogState();
    errorLogState().logFile.clear();
}

BatchRun BatchTest::Run(const std::string& subcommand, const std::vector<std::string>& args,
                        std::function<void(host::Application&)> prepare) {
    std::ostringstream out;
    std::ostringstream err;
    app::BatchIo io{out, err, false, std::move(prepare), false};
    BatchRun run;
    run.status = app::RunBatch(subcommand, args, io);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::string BatchTest::Log() const {
    return ReadBytes(m_dir.path() / "VARK_fuzzy.log");
}

std::string BatchTest::Text(int n) {
    return gTextStore().ResourceString(n);
}

}  // namespace vark::test
