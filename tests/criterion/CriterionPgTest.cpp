// The criterion module over a table of a real PostGIS server: resolved to
// the server's route with its record in the server, computed there; the
// run's view of the table against what other sessions changed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "criterion/CriterionUseCases.h"
#include "criterion_file/fzy_io.h"
#include "host/ogr/OgrApplication.h"
#include "host/pg/PgTestServer.h"
#include "support/Failure.h"

namespace vark::testing {
namespace {

TEST(CriterionOnServer, ATableTakesTheServersRouteAndKeepsItsRecordThere) {
    if (!HaveTestServer()) {
        GTEST_SKIP() << "no test server (run under pg_virtualenv)";
    }
    TestSession session;
    CreateParcelTable(session, "'Forêt', 'Prairie', NULL, '', 'Forêt'");
    ResetFzyState();
    auto app = ogr::CreateOgrApplication();
    ogr::AddDataSource(*app, {GdalConnection(), "Cadastre.Parcelles"});
    const CriterionTarget target = ResolveTarget(std::dynamic_pointer_cast<host::FeatureLayer>(
        app->GetDocument()->GetFocusMap()->GetMapLayer(0)));
    EXPECT_EQ(target.route, host::WriteRoute::kServerTable);
    EXPECT_EQ(target.recordPlace, RecordPlace::kWorkspace);
    EXPECT_EQ(target.workspacePath.find("password"), std::string::npos);

    CriterionRequest request;
    request.sourceField = "NATURE";
    request.typedName = "FZY_NATURE";
    request.gradedEntries = {ParseGradedEntry("Forêt->6"), ParseGradedEntry("Prairie->3")};
    std::int32_t marker = 0;
    const CriterionRun run = ComputeOn(*app, target, request, marker);
    ASSERT_EQ(run.outcome, RunOutcome::Computed);
    EXPECT_EQ(run.result.entryCounts, (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(run.result.nullCount, 1);
    EXPECT_EQ(run.result.emptyCount, 1);
    EXPECT_EQ(session.column(R"(SELECT "FZY_NATURE" FROM "Cadastre"."Parcelles" ORDER BY fid)"),
              (std::vector<std::string>{"1", "0.5", "0", "0", "1"}));
    const std::string hash = TableHash(session, "Cadastre", "Parcelles");
    EXPECT_NE(hash.substr(hash.size() - 5), "/none") << "no record kept in the server";
    ResetFzyState();
}

/// The backends of GDAL's sessions to the test server, by pid.
std::vector<std::string> GdalBackends(TestSession& session) {
    return session.column(
        "SELECT pid::text FROM pg_stat_activity WHERE application_name LIKE 'GDAL%' AND "
        "datname = current_database() ORDER BY pid");
}

class RunOnServer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTestServer()) {
            GTEST_SKIP() << "no test server (run under pg_virtualenv)";
        }
        CreateParcelTable(m_session, "'Forêt', 'Prairie', NULL, '', 'Forêt'");
        ResetFzyState();
        m_earlier = GdalBackends(m_session);
        m_app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*m_app, {GdalConnection(), "Cadastre.Parcelles"});
        m_target = ResolveTarget(std::dynamic_pointer_cast<host::FeatureLayer>(
            m_app->GetDocument()->GetFocusMap()->GetMapLayer(0)));
    }
    void TearDown() override { ResetFzyState(); }

    CriterionRun compute(const std::string& name) {
        CriterionRequest request;
        request.sourceField = "NATURE";
        request.typedName = name;
        request.gradedEntries = {ParseGradedEntry("Forêt->6")};
        std::int32_t marker = 0;
        return ComputeOn(*m_app, m_target, request, marker);
    }

    bool hasField(const std::string& name) {
        return m_target.featureClass->GetFields().FindFieldIndex(name) >= 0;
    }

    /// GDAL's sessions begun since SetUp opened the data set, or since.
    std::vector<std::string> gdalSessionsSince(const std::vector<std::string>& known) {
        std::vector<std::string> now = GdalBackends(m_session);
        std::erase_if(now, [&](const std::string& pid) {
            return std::find(known.begin(), known.end(), pid) != known.end() ||
                   std::find(m_earlier.begin(), m_earlier.end(), pid) != m_earlier.end();
        });
        return now;
    }

    TestSession m_session;
    std::vector<std::string> m_earlier;
    std::shared_ptr<host::Application> m_app;
    CriterionTarget m_target;
};

TEST_F(RunOnServer, GdalsSessionServesTheWholeRunAndShowsTheNewFieldAfter) {
    const std::vector<std::string> opened = gdalSessionsSince({});
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_EQ(compute("FZY_A").outcome, RunOutcome::Computed);
    // Nothing changed the table since GDAL read it: its session served the
    // run (and was closed at the COMMIT), no other was opened.
    EXPECT_EQ(gdalSessionsSince(opened).size(), 0u);
    // The data set shows the new column at its next use, from a new session.
    EXPECT_TRUE(hasField("FZY_A"));
    EXPECT_EQ(gdalSessionsSince(opened).size(), 1u);
    EXPECT_EQ(m_session.column(R"(SELECT "FZY_A" FROM "Cadastre"."Parcelles" ORDER BY fid)"),
              (std::vector<std::string>{"1", "0", "0", "0", "1"}));
}

TEST_F(RunOnServer, AColumnAddedSinceGdalReadTheTableIsSeenByTheRun) {
    ASSERT_FALSE(hasField("AUTRE"));
    m_session.exec(R"(ALTER TABLE "Cadastre"."Parcelles" ADD COLUMN "AUTRE" double precision)");
    // The run sees it and refuses the name in its own words, rather than
    // letting the server fail on a column that exists.
    try {
        compute("AUTRE");
        ADD_FAILURE() << "a taken name computed";
    } catch (...) {
        EXPECT_NE(CurrentFailure().description().find("the layer has a field of that name"),
                  std::string::npos)
            << CurrentFailure().description();
    }
    EXPECT_TRUE(hasField("AUTRE"));
    // Dropped and renamed columns too.
    m_session.exec(R"(ALTER TABLE "Cadastre"."Parcelles" RENAME COLUMN "AUTRE" TO "FZY_B")");
    ASSERT_EQ(compute("FZY_C").outcome, RunOutcome::Computed);
    EXPECT_TRUE(hasField("FZY_B"));
    EXPECT_FALSE(hasField("AUTRE"));
}

TEST_F(RunOnServer, AReadOfGdalsInProgressDoesNotHoldTheNewColumnBack) {
    const auto cursor = m_target.layer->SearchLayer(nullptr, true);
    ASSERT_NE(cursor->NextRow(), nullptr);
    // GDAL's session reads the table still: it holds a lock on it.
    ASSERT_EQ(m_session.exec("SELECT count(*) > 0 FROM pg_locks l JOIN pg_stat_activity a USING "
                             "(pid) WHERE a.application_name LIKE 'GDAL%' AND l.relation = "
                             "'\"Cadastre\".\"Parcelles\"'::regclass"),
              "t");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(compute("FZY_A").outcome, RunOutcome::Computed);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_TRUE(hasField("FZY_A"));
}

}  // namespace
}  // namespace vark::testing
