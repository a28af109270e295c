// The criterion module over a table of a real PostGIS server: resolved to
// the server's route with its record in the server, computed there.

#include <gtest/gtest.h>

#include "criterion/CriterionUseCases.h"
#include "criterion_file/fzy_io.h"
#include "host/ogr/OgrApplication.h"
#include "host/pg/PgTestServer.h"

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

}  // namespace
}  // namespace vark::testing
