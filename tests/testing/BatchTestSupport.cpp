#include "testing/BatchTestSupport.h"

#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "criterion_file/fzy_io.h"
#include "dialog/DialogState.h"
#include "host/HostState.h"
#include "support/ErrorHandling.h"
#include "testing/OgrTestData.h"
#include "testing/QtTestApp.h"
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
                  const std::string& layerName, const std::vector<std::string>& layerOptions) {
    std::vector<vark::testing::FeatureSpec> features(natures.size());
    for (std::size_t i = 0; i < natures.size(); ++i) {
        if (natures[i])
            features[i].values.emplace_back(*natures[i]);
        else
            features[i].values.emplace_back();
    }
    vark::testing::WriteLayer(driverName, path, layerName, {{"NATURE", OFTString, 0, 40}}, features,
                              wkbPolygon, layerOptions);
}

void WriteDeclaredNatures(const fs::path& path, const Natures& natures, Declared declared) {
    WriteNatures(path, "ESRI Shapefile", natures, path.stem().string(), {"ENCODING="});
    fs::path cpg = path;
    cpg.replace_extension(".cpg");
    fs::remove(cpg);
    if (declared == Declared::kCpg1252) {
        std::ofstream(cpg) << "1252";
    } else if (declared == Declared::kCpgUtf8AndCodePageByte) {
        std::ofstream(cpg) << "UTF-8";
    }
    if (declared == Declared::kCodePageByte || declared == Declared::kCpgUtf8AndCodePageByte) {
        // The code page byte of the table's header: 0x57 says "ANSI".
        fs::path dbf = path;
        dbf.replace_extension(".dbf");
        std::fstream table(dbf, std::ios::in | std::ios::out | std::ios::binary);
        table.seekp(29);
        table.put('\x57');
        EXPECT_TRUE(table.good()) << dbf;
    }
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
    return vark::testing::ReadFieldNames(path, path.stem().string());
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
