// The dBASE table rewriter: the same bytes as the shapefile driver adding
// the field and storing every value, the texts it hands over, refusals that
// change nothing, and failures during the write that leave the table as it
// was.

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>

#include "routes/shape/DbfRewrite.h"
#include "support/Failure.h"
#include "testing/OgrTestData.h"
#include "testing/TempDir.h"

namespace vark::routes {
namespace {

namespace fs = std::filesystem;
using vark::test::ReadBytes;
using vark::test::TempDir;
using vark::test::TemporariesIn;
using vark::test::WriteBytes;

/// More records than one buffer of the rewriter holds (1 MiB of new records
/// of 87 bytes).
constexpr int kManyRecords = 20000;
constexpr int kDeletedRecord = 3;
const char* const kTexts[] = {"Forêt", "", "Prairie", "Étang", "Cœur", "x", "forêt"};
const std::map<std::string, double> kDegrees = {
    {"Forêt", 0.17F}, {"Étang", 1.0}, {"Cœur", 0.67F}, {"", 0.5}};

double DegreeOf(const std::string& utf8) {
    const auto found = kDegrees.find(utf8);
    return found == kDegrees.end() ? 0.0 : found->second;
}

void PatchByte(const fs::path& path, std::size_t at, char value) {
    std::string bytes = ReadBytes(path);
    bytes.at(at) = value;
    WriteBytes(path, bytes);
}

std::size_t RecordOffset(const fs::path& dbf, int record) {
    const std::string bytes = ReadBytes(dbf);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    return static_cast<std::size_t>(p[8] | p[9] << 8) +
           static_cast<std::size_t>(record) * static_cast<std::size_t>(p[10] | p[11] << 8);
}

/// parcels.shp in `folder`: a text, an integer, a real and a date field,
/// written by GDAL with the layer option ENCODING=`encoding` (nullptr: the
/// driver's default), record kDeletedRecord then flagged deleted.
fs::path WriteParcels(const fs::path& folder, const char* encoding, int records) {
    GDALAllRegister();
    // "Cœur" has no code in ISO-8859-1: the driver writes "C?ur", and warns.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    fs::create_directories(folder);
    const fs::path shp = folder / "parcels.shp";
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
    std::unique_ptr<GDALDataset> ds(driver->Create(shp.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    char** options = encoding ? CSLSetNameValue(nullptr, "ENCODING", encoding) : nullptr;
    OGRLayer* layer = ds->CreateLayer("parcels", nullptr, wkbPolygon, options);
    CSLDestroy(options);
    for (const auto& [name, type] :
         {std::pair{"NATURE", OFTString}, {"N", OFTInteger}, {"R", OFTReal}, {"D", OFTDate}}) {
        OGRFieldDefn field(name, type);
        field.SetWidth(type == OFTString ? 20 : 0);
        EXPECT_EQ(layer->CreateField(&field), OGRERR_NONE);
    }
    std::unique_ptr<OGRFeature> feature(new OGRFeature(layer->GetLayerDefn()));
    for (int i = 0; i < records; ++i) {
        feature->SetFID(OGRNullFID);
        feature->SetField(0, kTexts[i % std::size(kTexts)]);
        feature->SetField(1, i);
        feature->SetField(2, i * 0.25);
        feature->SetField(3, 2020, 1, i % 28 + 1);
        const std::string wkt = "POLYGON ((0 0," + std::to_string(i + 1) + " 0,0 1,0 0))";
        OGRGeometry* polygon = nullptr;
        OGRGeometryFactory::createFromWkt(wkt.c_str(), nullptr, &polygon);
        feature->SetGeometryDirectly(polygon);
        EXPECT_EQ(layer->CreateFeature(feature.get()), OGRERR_NONE);
    }
    ds.reset();
    CPLPopErrorHandler();
    const fs::path dbf = folder / "parcels.dbf";
    if (records > kDeletedRecord) {
        PatchByte(dbf, RecordOffset(dbf, kDeletedRecord), '*');
    }
    return dbf;
}

/// What the computation does through GDAL today: the field added by the
/// driver, then every feature's degree stored (a null text read as "").
void AddThroughGdal(const fs::path& shp, const std::string& name) {
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(shp.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    OGRLayer* layer = ds->GetLayer(0);
    OGRFieldDefn field(name.c_str(), OFTReal);
    ASSERT_EQ(layer->CreateField(&field), OGRERR_NONE);
    const int index = layer->GetLayerDefn()->GetFieldIndex(name.c_str());
    for (auto& feature : *layer) {
        const std::string text =
            feature->IsFieldSetAndNotNull(0) ? feature->GetFieldAsString(0) : "";
        feature->SetField(index, DegreeOf(text));
        ASSERT_EQ(layer->SetFeature(feature.get()), OGRERR_NONE);
    }
}

/// The same through the rewriter, the graded texts encoded once.
DbfRewrite::Result AddByRewrite(const fs::path& dbf, const std::string& name) {
    DbfRewrite rewrite(dbf.string());
    std::vector<std::pair<std::string, double>> graded;
    for (const auto& [text, degree] : kDegrees) {
        if (auto encoded = rewrite.encode(text)) {
            graded.emplace_back(*encoded, degree);
        }
    }
    const auto result =
        rewrite.prepare(name, rewrite.fieldIndex("NATURE"), [&](std::string_view text) {
            for (const auto& [value, degree] : graded) {
                if (value == text) {
                    return degree;
                }
            }
            return 0.0;
        });
    rewrite.commit();
    return result;
}

std::string TodayUtc() {
    const std::time_t now = std::time(nullptr);
    std::tm date{};
    gmtime_r(&now, &date);
    return std::to_string(date.tm_yday) + "/" + std::to_string(date.tm_year);
}

/// The table `dbf` holds the bytes GDAL wrote in `gdalCopy`, its date of
/// change excepted when the day turned since `day`.
void ExpectBytesOfGdal(const fs::path& dbf, const fs::path& gdalCopy, const std::string& day) {
    std::string expected = ReadBytes(gdalCopy);
    const std::string actual = ReadBytes(dbf);
    ASSERT_EQ(actual.size(), expected.size());
    if (TodayUtc() != day) {
        expected.replace(1, 3, actual, 1, 3);
    }
    EXPECT_TRUE(actual == expected)
        << "first difference at byte "
        << std::mismatch(actual.begin(), actual.end(), expected.begin()).first - actual.begin();
}

struct EncodingCase {
    const char* name;
    const char* layerEncoding;  ///< nullptr: the driver's default (LDID 0x57)
    bool zeroLanguageDriver;    ///< code page byte set to 0, no .cpg
    const char* expectedEncoding;
};

void PrintTo(const EncodingCase& c, std::ostream* out) {
    *out << c.name;
}

class DbfRewriteBytes : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(DbfRewriteBytes, SameBytesAsTheDriver) {
    const EncodingCase& c = GetParam();
    TempDir dir;
    const fs::path original = WriteParcels(dir.path() / "original", c.layerEncoding, kManyRecords);
    if (c.zeroLanguageDriver) {
        PatchByte(original, 29, 0);
    }
    fs::copy(dir.path() / "original", dir.path() / "gdal");
    fs::copy(dir.path() / "original", dir.path() / "rewrite");

    const std::string day = TodayUtc();
    AddThroughGdal(dir.path() / "gdal" / "parcels.shp", "FZY_NATURE");
    const fs::path dbf = dir.path() / "rewrite" / "parcels.dbf";
    EXPECT_EQ(DbfRewrite(dbf.string()).encoding(), c.expectedEncoding);
    const DbfRewrite::Result result = AddByRewrite(dbf, "FZY_NATURE");
    EXPECT_EQ(result.records, kManyRecords);
    EXPECT_EQ(result.deleted, 1);

    ExpectBytesOfGdal(dbf, dir.path() / "gdal" / "parcels.dbf", day);
    for (const char* other : {"parcels.shp", "parcels.shx", "parcels.cpg"}) {
        const auto read = [&](const char* copy) {
            const fs::path path = dir.path() / copy / other;
            return fs::exists(path) ? ReadBytes(path) : "(none)";
        };
        EXPECT_EQ(read("original"), read("rewrite")) << other;
    }
    EXPECT_TRUE(TemporariesIn(dbf.parent_path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Encodings, DbfRewriteBytes,
                         ::testing::Values(EncodingCase{"Utf8Cpg", "UTF-8", false, "UTF-8"},
                                           EncodingCase{"Cp1252Cpg", "CP1252", false, "CP1252"},
                                           EncodingCase{"Ldid87NoCpg", nullptr, false, "CP1252"},
                                           EncodingCase{"Ldid0NoCpg", nullptr, true, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

// Recomputing: an existing number field of its own width and decimals
// rewritten in place, the null value included, byte for byte as the driver
// stores the same values; a field that is not a number field is refused.
TEST(DbfRewrite, OverwriteWritesAnExistingFieldAsTheDriverDoes) {
    TempDir dir;
    const fs::path original = WriteParcels(dir.path() / "original", "UTF-8", kManyRecords);
    {
        std::unique_ptr<GDALDataset> ds(GDALDataset::Open(
            (dir.path() / "original" / "parcels.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        ASSERT_TRUE(ds);
        OGRFieldDefn field("S", OFTReal);
        field.SetWidth(12);
        field.SetPrecision(4);
        ASSERT_EQ(ds->GetLayer(0)->CreateField(&field), OGRERR_NONE);
    }
    fs::copy(dir.path() / "original", dir.path() / "gdal");
    fs::copy(dir.path() / "original", dir.path() / "rewrite");
    const auto degree = [](std::string_view text) -> std::optional<double> {
        return text == "x" ? std::nullopt : std::optional(DegreeOf(std::string(text)));
    };

    const std::string day = TodayUtc();
    {
        std::unique_ptr<GDALDataset> ds(GDALDataset::Open(
            (dir.path() / "gdal" / "parcels.shp").c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        OGRLayer* layer = ds->GetLayer(0);
        const int index = layer->GetLayerDefn()->GetFieldIndex("S");
        for (auto& feature : *layer) {
            const auto value = degree(feature->GetFieldAsString(0));
            value ? feature->SetField(index, *value) : feature->SetFieldNull(index);
            ASSERT_EQ(layer->SetFeature(feature.get()), OGRERR_NONE);
        }
    }
    const fs::path dbf = dir.path() / "rewrite" / "parcels.dbf";
    {
        DbfRewrite rewrite(dbf.string());
        const auto result = rewrite.prepare("S", rewrite.fieldIndex("NATURE"), degree,
                                            DbfRewrite::Column::kOverwrite);
        EXPECT_EQ(result.records, kManyRecords);
        EXPECT_EQ(result.deleted, 1);
        rewrite.commit();
    }
    const std::string rewritten = ReadBytes(dbf);
    ASSERT_EQ(rewritten.size(), ReadBytes(original).size());
    ExpectBytesOfGdal(dbf, dir.path() / "gdal" / "parcels.dbf", day);

    for (const char* name : {"NATURE", "s"}) {
        EXPECT_THROW(
            DbfRewrite(dbf.string()).prepare(name, 0, degree, DbfRewrite::Column::kOverwrite),
            Failure)
            << name;
    }
    EXPECT_EQ(ReadBytes(dbf), rewritten);
}

TEST(DbfRewrite, HandsOverTheTextsGdalReads) {
    TempDir dir;
    const fs::path dbf = WriteParcels(dir.path(), "CP1252", 8);
    // Blanks around a text, a NUL byte inside one, and nothing but blanks.
    std::string bytes = ReadBytes(dbf);
    const std::size_t text = RecordOffset(dbf, 0) + 1;
    const std::size_t record = RecordOffset(dbf, 1) - RecordOffset(dbf, 0);
    const auto put = [&](int at, std::string value) {
        value.resize(20, ' ');
        bytes.replace(text + static_cast<std::size_t>(at) * record, 20, value);
    };
    put(0, "  Lande  \xC9  x");
    put(1, std::string("Vigne\0Friche", 12));
    put(2, "");
    put(5, "\xC9tang \x80");
    WriteBytes(dbf, bytes);

    std::vector<std::string> gdalTexts;
    {
        std::unique_ptr<GDALDataset> ds(
            GDALDataset::Open(dbf.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
        ASSERT_TRUE(ds);
        for (auto& feature : *ds->GetLayer(0)) {
            gdalTexts.push_back(feature->GetFieldAsString(0));
        }
    }
    DbfRewrite rewrite(dbf.string());
    std::vector<std::string> texts;
    rewrite.prepare("FZY", 0, [&](std::string_view t) {
        texts.emplace_back(t);
        return 0.0;
    });
    ASSERT_EQ(texts.size(), gdalTexts.size());  // the deleted record is not handed over
    for (std::size_t k = 0; k < texts.size(); ++k) {
        EXPECT_EQ(rewrite.encode(gdalTexts[k]), texts[k]) << k;
    }
    EXPECT_EQ(texts[1], "Vigne");
    EXPECT_EQ(rewrite.encode("Étang €"), "\xC9tang \x80");
    EXPECT_EQ(rewrite.encode("Ωmega"), std::nullopt);  // no code in Windows-1252
    EXPECT_EQ(rewrite.encode(std::string_view("a\0b", 3)), std::nullopt);
    EXPECT_EQ(rewrite.fieldIndex("D"), 3);
    EXPECT_EQ(rewrite.fieldIndex("d"), -1);
}

TEST(DbfRewrite, RefusesBeforeWritingAnything) {
    enum Make { kParcels, kAnsiParcels, kWideRecords, kFifo, kFolder };
    struct Case {
        const char* name;
        Make make;
        int countedRecords;  ///< the header's record count, -1: as written
        const char* field;
        const char* message;  ///< a part of the failure's description
    };
    const std::vector<Case> cases = {
        {"fewer counted", kParcels, 4, "FZY", "its header counts 4 records but the file holds 5"},
        {"more counted", kParcels, 6, "FZY", "its header counts 6 records but the file holds 5"},
        {"record too long", kWideRecords, -1, "FZY", "records would be longer than 65535 bytes"},
        {"name taken", kParcels, -1, "nature", "the table already has a field named NATURE"},
        {"name of 11 bytes", kParcels, -1, "FZY_Étang1", "at most 10 bytes, and this one has 11"},
        {"name without code", kAnsiParcels, -1, "FZY_Ωmega", "(CP1252)"},
        {"empty name", kParcels, -1, "", "a field needs a name"},
        {"FIFO", kFifo, -1, "FZY", "it is a FIFO"},
        {"folder", kFolder, -1, "FZY", "it is a folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::path path = dir.path() / "parcels.dbf";
        if (c.make == kFifo) {
            ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
        } else if (c.make == kFolder) {
            fs::create_directory(path);
        } else if (c.make == kWideRecords) {
            // 258 fields of 254 bytes: records of 65533 bytes.
            std::unique_ptr<GDALDataset> ds(
                GetGDALDriverManager()
                    ->GetDriverByName("ESRI Shapefile")
                    ->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
            OGRLayer* layer = ds->CreateLayer("parcels", nullptr, wkbNone, nullptr);
            for (int k = 0; k < 258; ++k) {
                OGRFieldDefn field(("F" + std::to_string(k)).c_str(), OFTString);
                field.SetWidth(254);
                ASSERT_EQ(layer->CreateField(&field), OGRERR_NONE);
            }
        } else {
            path = WriteParcels(dir.path(), c.make == kAnsiParcels ? nullptr : "UTF-8", 5);
        }
        if (c.countedRecords >= 0) {
            PatchByte(path, 4, static_cast<char>(c.countedRecords));
        }
        const bool file = fs::is_regular_file(path);
        const std::string before = file ? ReadBytes(path) : "";
        try {
            DbfRewrite rewrite(path.string());
            rewrite.prepare(c.field, 0, [](std::string_view) { return 0.0; });
            rewrite.commit();
            ADD_FAILURE() << "not refused";
        } catch (const Failure& failure) {
            EXPECT_NE(failure.description().find(c.message), std::string::npos)
                << failure.description();
            EXPECT_NE(failure.description().find(path.string()), std::string::npos)
                << failure.description();
        }
        if (file) {
            EXPECT_EQ(ReadBytes(path), before);
        }
        EXPECT_TRUE(TemporariesIn(dir.path()).empty());
    }
}

TEST(DbfRewrite, FailedWriteLeavesTheTableAsItWas) {
    TempDir dir;
    const fs::path dbf = WriteParcels(dir.path(), "UTF-8", 20000);
    const std::string before = ReadBytes(dbf);
    const auto attempt = [&](const DbfRewrite::ValueOf& valueOf) -> std::string {
        try {
            DbfRewrite rewrite(dbf.string());
            rewrite.prepare("FZY", 0, valueOf);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_TRUE(TemporariesIn(dir.path()).empty());
            EXPECT_EQ(ReadBytes(dbf), before);
            return failure.description();
        }
        return {};
    };
    const auto zero = [](std::string_view) { return 0.0; };

    // The disk refuses the write half way (a file size limit stands for a
    // full disk: both fail write(2) alike).
    std::string full;
    {
        vark::test::FileSizeLimit limit(before.size() / 2);
        full = attempt(zero);
    }
    const std::string prefix = (dir.path() / ".parcels.dbf.vark-tmp-").string();
    EXPECT_EQ(full.substr(0, full.size() - 7), "File too large writing \"" + prefix) << full;

    EXPECT_NE(attempt([](std::string_view) { return 1e30; }).find("is too wide for its field"),
              std::string::npos);
    int calls = 0;
    EXPECT_EQ(attempt([&](std::string_view) -> double {
                  if (++calls == 15000) {
                      throw Failure(err::kOverflow, "stopped");
                  }
                  return 0.5;
              }),
              "stopped");
}

TEST(DbfRewrite, OnlyItsOwnLeftoversAreRemoved) {
    TempDir dir;
    const fs::path dbf = WriteParcels(dir.path(), "UTF-8", 10);
    WriteBytes(dbf.string() + ".tmp", "the user's");
    WriteBytes(dir.path() / ".parcels.dbf.vark-tmp-dead01", "a killed run's");
    DbfRewrite::RemoveLeftover(dbf.string());
    EXPECT_EQ(ReadBytes(dbf.string() + ".tmp"), "the user's");
    EXPECT_TRUE(TemporariesIn(dir.path()).empty());

    // A run that has written its table and not yet renamed it keeps it.
    DbfRewrite running(dbf.string());
    running.prepare("FZY", 0, [](std::string_view) { return 0.5; });
    DbfRewrite::RemoveLeftover(dbf.string());
    EXPECT_TRUE(fs::exists(running.temporaryPath()));
    running.commit();
    EXPECT_TRUE(TemporariesIn(dir.path()).empty());
    EXPECT_EQ(ReadBytes(dbf.string() + ".tmp"), "the user's");
}

TEST(DbfRewrite, CommitReplacesOnlyTheTable) {
    TempDir dir;
    const fs::path dbf = WriteParcels(dir.path() / "data", "UTF-8", 10);
    fs::permissions(dbf, fs::perms(0640));
    const std::string before = ReadBytes(dbf);
    std::string tmp;
    const auto half = [](std::string_view) { return 0.5; };

    // Dropped without commit: the new table goes, the old one stays.
    {
        DbfRewrite rewrite(dbf.string());
        rewrite.prepare("FZY", 0, half);
        tmp = rewrite.temporaryPath();
        ASSERT_TRUE(fs::exists(tmp));
        EXPECT_EQ(fs::status(tmp).permissions(), fs::perms(0640));
        EXPECT_EQ(ReadBytes(dbf), before);
    }
    EXPECT_FALSE(fs::exists(tmp));
    EXPECT_EQ(ReadBytes(dbf), before);

    // The table written meanwhile: commit refuses, the writer's change stays.
    {
        DbfRewrite rewrite(dbf.string());
        rewrite.prepare("FZY", 0, half);
        tmp = rewrite.temporaryPath();
        std::ofstream(dbf, std::ios::binary | std::ios::app) << 'x';
        EXPECT_THROW(rewrite.commit(), Failure);
        EXPECT_FALSE(fs::exists(tmp));
        EXPECT_EQ(ReadBytes(dbf), before + 'x');
        WriteBytes(dbf, before);
    }

    // Through a symbolic link: the target is replaced, the link stays.
    const fs::path link = dir.path() / "link.dbf";
    fs::create_symlink(dbf, link);
    {
        DbfRewrite rewrite(link.string(), "UTF-8");
        EXPECT_EQ(rewrite.path(), fs::canonical(dbf).string());
        rewrite.prepare("FZY", 0, half);
        rewrite.commit();
        EXPECT_THROW(rewrite.commit(), Failure);
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(dbf).permissions(), fs::perms(0640));
    EXPECT_EQ(ReadBytes(dbf).size(), before.size() + 32 + 10 * 24);
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(dbf.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    ASSERT_TRUE(ds);
    int features = 0;
    for (auto& feature : *ds->GetLayer(0)) {
        EXPECT_EQ(feature->GetFieldAsDouble("FZY"), 0.5);
        ++features;
    }
    EXPECT_EQ(features, 9);
}

}  // namespace
}  // namespace vark::routes
