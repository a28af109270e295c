// The criterion module's use cases with no window: the target's resolution
// and its choice of write route, then listing, computing and keeping the
// record, over the in-memory host and over real shapefiles and GeoPackages
// (a PostGIS table in host_pg_test).

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <filesystem>

#include "criterion/CriterionUseCases.h"
#include "criterion_file/fzy_io.h"
#include "host/fake/FakeHost.h"
#include "host/ogr/OgrApplication.h"
#include "support/Failure.h"
#include "testing/OgrTestData.h"
#include "testing/TempDir.h"

namespace vark {
namespace {

namespace fs = std::filesystem;
using host::Value;
using host::WriteRoute;

std::shared_ptr<host::FeatureLayer> FirstLayer(host::Application& app) {
    return std::dynamic_pointer_cast<host::FeatureLayer>(
        app.GetDocument()->GetFocusMap()->GetMapLayer(0));
}

CriterionRequest Grading(std::vector<std::string> entries) {
    CriterionRequest request;
    request.sourceField = "NATURE";
    request.typedName = "FZY_NATURE";
    for (const auto& entry : entries) {
        request.gradedEntries.push_back(ParseGradedEntry(entry));
    }
    return request;
}

TEST(CriterionTarget, TheBestOfferedRouteIsChosenAndNoneIsRefused) {
    const struct {
        std::vector<WriteRoute> offered;
        WriteRoute chosen;
    } cases[] = {
        {{WriteRoute::kCursor}, WriteRoute::kCursor},
        {{WriteRoute::kCursor, WriteRoute::kShapefileTable}, WriteRoute::kShapefileTable},
        {{WriteRoute::kCursor, WriteRoute::kFileTransaction}, WriteRoute::kFileTransaction},
        {{WriteRoute::kEditBuffer, WriteRoute::kCursor}, WriteRoute::kEditBuffer},
        {{WriteRoute::kCursor, WriteRoute::kServerTable}, WriteRoute::kServerTable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ChooseWriteRoute(c.offered), c.chosen);
    }
    try {
        ChooseWriteRoute({});
        ADD_FAILURE() << "no route offered, yet one chosen";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number(), err::kInvalidProcedureCall);
    }
}

class InMemory : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFzyState();
        m_workspace = std::make_shared<host::fake::FakeWorkspace>(m_dir.path().string(),
                                                                  host::kWorkspaceFileSystem);
        m_class =
            m_workspace->createFeatureClass("parcelles", host::kShapePolygon,
                                            {host::fake::MakeField("NATURE", host::kFieldText),
                                             host::fake::MakeField("OLD", host::kFieldDouble)});
        for (const char* nature : {"Forêt", "Prairie", "Forêt", ""}) {
            m_class->addRecord({{"NATURE", Value(std::string(nature))}});
        }
        m_layer = std::make_shared<host::fake::FakeFeatureLayer>("parcelles.shp", m_class);
    }
    void TearDown() override { ResetFzyState(); }

    test::TempDir m_dir;
    host::fake::FakeApplication m_app;
    std::shared_ptr<host::fake::FakeWorkspace> m_workspace;
    std::shared_ptr<host::fake::FakeFeatureClass> m_class;
    std::shared_ptr<host::fake::FakeFeatureLayer> m_layer;
};

TEST_F(InMemory, ResolvedOnceThenListedComputedAndKept) {
    const CriterionTarget target = ResolveTarget(m_layer);
    EXPECT_EQ(target.route, WriteRoute::kCursor);
    EXPECT_EQ(target.recordPlace, RecordPlace::kFileBesideLayer);
    EXPECT_EQ(target.workspacePath, m_dir.path().string());
    EXPECT_EQ(target.layerName, "parcelles.shp");

    const FieldLists lists = ListFields(m_app, target, false);
    EXPECT_EQ(lists.textFields, std::vector<std::string>{"NATURE"});
    EXPECT_EQ(lists.otherFields, std::vector<std::string>{"OLD"});
    const FieldValues values = ListValues(m_app, target, "NATURE");
    EXPECT_EQ(values.shown, (std::vector<std::string>{"", "Forêt", "Prairie"}));

    std::int32_t marker = 0;
    const CriterionRun run =
        ComputeOn(m_app, target, Grading({"Forêt->6", "Prairie->3", "Lande->1"}), marker);
    ASSERT_EQ(run.outcome, RunOutcome::Computed);
    EXPECT_EQ(run.result.fieldName, "FZY_NATURE");
    EXPECT_EQ(run.result.entryCounts, (std::vector<std::int64_t>{2, 1, 0}));
    EXPECT_EQ(run.result.emptyCount, 1);
    EXPECT_EQ(
        m_class->column("FZY_NATURE"),
        (std::vector<Value>{Value(1.0), Value(static_cast<double>(0.5F)), Value(1.0), Value(0.0)}));
    // ".shp" leaves the name when the record is opened.
    EXPECT_TRUE(fzy_io_exists(target.workspacePath, "parcelles"));
}

// The description as a result says what the window shows, and tells a
// missing file, a missing record and a damaged file apart.
TEST_F(InMemory, DescribedAsTheWindowShowsItWithoutAMessage) {
    const CriterionTarget target = ResolveTarget(m_layer);
    EXPECT_EQ(DescribeOn(target, "FZY_NATURE").status, FieldDescription::Status::kNoFile);
    std::int32_t marker = 0;
    ComputeOn(m_app, target, Grading({"Forêt->6"}), marker);

    const FieldDescription found = DescribeOn(target, "FZY_NATURE");
    ASSERT_EQ(found.status, FieldDescription::Status::kFound);
    auto buffer = std::make_shared<DescriptionBuffer>();
    const auto previous = SetDescriptionTarget(buffer);
    std::string path = target.workspacePath;
    std::string name = "parcelles";
    fzy_io_open(path, name);
    EXPECT_TRUE(fzy_io_numberinfo("FZY_NATURE"));
    fzy_io_close();
    SetDescriptionTarget(previous);
    EXPECT_EQ(found.text, buffer->text());
    EXPECT_EQ(DescribeOn(target, "NATURE").status, FieldDescription::Status::kNoRecord);

    // A header that counts a record the file does not hold.
    const std::string fzy = FzyFilePath(target.workspacePath, "parcelles");
    std::string bytes = test::ReadBytes(fzy);
    bytes[2] = 5;
    test::WriteBytes(fzy, bytes);
    const FieldDescription damaged = DescribeOn(target, "FZY_NATURE");
    EXPECT_EQ(damaged.status, FieldDescription::Status::kDamaged);
    ASSERT_TRUE(damaged.failure);
    EXPECT_NE(damaged.failure->description().find("damaged"), std::string::npos);
}

TEST_F(InMemory, AGradingIsCheckedBeforeAnythingIsOpened) {
    std::vector<GradedEntry> entries(kMaxGradedEntries + 1, ParseGradedEntry("a->2"));
    EXPECT_TRUE(CheckGrading(entries, MembershipScale::Seven).tooMany);
    entries.resize(2);
    entries[1] = ParseGradedEntry("b->3");
    const GradingCheck three = CheckGrading(entries, MembershipScale::Three);
    EXPECT_FALSE(three.ok());
    EXPECT_EQ(three.undefined, std::vector<std::string>{"a"});
    EXPECT_TRUE(CheckGrading(entries, MembershipScale::Seven).ok());
}

TEST_F(InMemory, TheEditingGuardStopsTheRunBeforeTheLayerChanges) {
    m_app.editor().setEditState(host::kEditStateEditing);
    std::int32_t marker = 0;
    const CriterionRun run =
        ComputeOn(m_app, ResolveTarget(m_layer), Grading({"Forêt->6"}), marker);
    EXPECT_EQ(run.outcome, RunOutcome::Editing);
    EXPECT_EQ(m_class->fieldIndex("FZY_NATURE"), -1);
}

// The same grading written along the route a file's resolution chooses and
// along the cursor: the two agree feature by feature.
TEST(OnFiles, EachFormatTakesItsRouteAndTheRoutesAgree) {
    const struct {
        const char* driver;
        const char* file;
        WriteRoute route;
    } formats[] = {
        {"ESRI Shapefile", "p.shp", WriteRoute::kShapefileTable},
        {"GPKG", "p.gpkg", WriteRoute::kFileTransaction},
        {"GeoJSON", "p.geojson", WriteRoute::kCursor},
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.driver);
        std::vector<fs::path> files;
        test::TempDir dir;
        for (const char* folder : {"chosen", "cursor"}) {
            fs::create_directory(dir.path() / folder);
            files.push_back(dir.path() / folder / format.file);
            testing::WriteLayer(format.driver, files.back(), "p", {{"NATURE", OFTString, 0, 20}},
                                {{{Value(std::string("Forêt"))}},
                                 {{Value(std::string("Lande"))}},
                                 {{Value()}},
                                 {{Value(std::string("Forêt"))}}});
        }
        std::vector<std::vector<Value>> written;
        for (std::size_t i = 0; i < files.size(); ++i) {
            ResetFzyState();
            auto app = ogr::CreateOgrApplication();
            ogr::AddDataSource(*app, {files[i].string(), ""});
            const CriterionTarget target = ResolveTarget(FirstLayer(*app));
            if (i == 0) {
                EXPECT_EQ(target.route, format.route);
            }
            CriterionRequest request = Grading({"Forêt->4", "Lande->2"});
            std::int32_t marker = 0;
            CriterionRun run;
            if (i == 0) {
                run = ComputeOn(*app, target, request, marker);
            } else {
                request.featureClass = target.featureClass;
                request.route = WriteRoute::kCursor;
                run = RunCriterionComputation(*app, target.workspacePath, target.layerName, request,
                                              marker);
            }
            EXPECT_EQ(run.result.entryCounts, (std::vector<std::int64_t>{2, 1}));
            // A shapefile's null text reads as an empty one.
            EXPECT_EQ(run.result.nullCount + run.result.emptyCount, 1);
            EXPECT_TRUE(fs::exists(FzyFilePath(target.workspacePath, "p")));
            app.reset();
            written.push_back(testing::ReadColumn(files[i], "p", "FZY_NATURE"));
        }
        EXPECT_EQ(written[0], written[1]);
        EXPECT_EQ(written[0].size(), 4U);
    }
    ResetFzyState();
}

TEST(OnFiles, TheRecordKeepsNoFieldTheLayerLost) {
    test::TempDir dir;
    const fs::path gpkg = dir.path() / "p.gpkg";
    testing::WriteLayer("GPKG", gpkg, "p", {{"NATURE", OFTString}},
                        {{{Value(std::string("Forêt"))}}});
    ResetFzyState();
    {
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {gpkg.string(), ""});
        std::int32_t marker = 0;
        ComputeOn(*app, ResolveTarget(FirstLayer(*app)), Grading({"Forêt->6"}), marker);
    }
    const std::string fzy = FzyFilePath(gpkg.string(), "p");
    const auto withRecord = fs::file_size(fzy);
    {
        GDALDatasetUniquePtr ds(GDALDataset::Open(gpkg.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        ASSERT_TRUE(ds);
        OGRLayer* layer = ds->GetLayerByName("p");
        ASSERT_EQ(layer->DeleteField(layer->GetLayerDefn()->GetFieldIndex("FZY_NATURE")),
                  OGRERR_NONE);
    }
    auto app = ogr::CreateOgrApplication();
    ogr::AddDataSource(*app, {gpkg.string(), ""});
    MaintainRecordOf(ResolveTarget(FirstLayer(*app)));
    EXPECT_LT(fs::file_size(fzy), withRecord);
    ResetFzyState();
}

}  // namespace
}  // namespace vark
