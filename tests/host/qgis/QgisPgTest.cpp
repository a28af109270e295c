// A QGIS layer of the postgres provider on a real PostgreSQL + PostGIS
// server: the field computed in the server through the plugin's run, the
// criterion record kept in the table's schema on the run's connection and
// read back through the QGIS workspace, by the project layer's name as the
// dialog asks.

#include <gtest/gtest.h>
#include <qgsdatasourceuri.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <cstdlib>

#include "criterion_file/fzy_io.h"
#include "host/qgis/QgisData.h"
#include "pg/PgTestServer.h"
#include "plugin/qgis/ProcessingRun.h"
#include "support/Failure.h"
#include "testing/QgisTestData.h"

namespace vark::qgis {
namespace {

using vark::testing::ServerPassword;

std::string env(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

class QgisPgTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!vark::testing::HaveTestServer()) {
            GTEST_SKIP() << "no test server (run under pg_virtualenv)";
        }
        testing::ClearProject();
        vark::testing::CreateParcelTable(
            m_session, "'Forêt', 'forêt', NULL, '', 'l''eau', 'Prairie', 'Forêt'");
        QgsDataSourceUri uri;
        uri.setConnection(QString::fromStdString(env("PGHOST", "localhost")),
                          QString::fromStdString(env("PGPORT", "5432")),
                          QString::fromStdString(env("PGDATABASE", "postgres")),
                          QString::fromStdString(env("PGUSER", "postgres")),
                          QString::fromStdString(ServerPassword()));
        uri.setDataSource("Cadastre", "Parcelles", "geom", QString(), "fid");
        m_layer = new QgsVectorLayer(uri.uri(false), kDisplayName, "postgres");
        ASSERT_TRUE(m_layer->isValid());
        QgsProject::instance()->addMapLayer(m_layer);
    }
    void TearDown() override {
        ResetFzyState();
        testing::ClearProject();
    }

    CriterionRun run(const std::string& name, const std::vector<std::string>& grades,
                     bool replace = false) {
        CriterionRequest request;
        request.sourceField = "NATURE";
        request.gradedEntries = LoadGradedEntries(grades);
        request.typedName = name;
        request.replace = replace;
        std::int32_t marker = 0;
        return RunLayerCriterion(*m_layer, request, marker);
    }
    std::vector<std::string> degrees(const std::string& name) {
        return m_session.column("SELECT coalesce(\"" + name +
                                "\"::text, 'null') FROM \"Cadastre\".\"Parcelles\" ORDER BY fid");
    }
    std::string hash() { return vark::testing::TableHash(m_session, "Cadastre", "Parcelles"); }

    static constexpr const char* kDisplayName = "Parcels of the team";
    vark::testing::TestSession m_session;
    QgsVectorLayer* m_layer = nullptr;
};

TEST_F(QgisPgTest, ComputedInTheServerWithItsRecordBesideTheTable) {
    // The workspace names the server as the GDAL host does, without the
    // password; the class names the table as the GDAL host does.
    const SourceInfo info = DescribeSource(*m_layer);
    EXPECT_EQ(info.className, "Cadastre.Parcelles");
    EXPECT_EQ(info.workspacePath.find(ServerPassword()), std::string::npos) << info.workspacePath;

    const CriterionRun first = run("FZY_Nature", {"Forêt->1", "l'eau->4", "Forêt->3"});
    ASSERT_EQ(first.outcome, RunOutcome::Computed);
    EXPECT_EQ(first.result.entryCounts, (std::vector<std::int64_t>{2, 1, 0}));
    EXPECT_EQ(first.result.nullCount, 1);
    EXPECT_EQ(degrees("FZY_Nature"),
              (std::vector<std::string>{"0.17000000178813934", "0", "0", "0", "0.6700000166893005",
                                        "0", "0.17000000178813934"}));
    // The project's layer shows the server's new column.
    EXPECT_GE(m_layer->fields().indexFromName("FZY_Nature"), 0);

    // The record, whose bytes hold no password, read back as the dialog
    // does: the workspace of the project layer's class, the layer by its
    // name in the project.
    EXPECT_EQ(m_session.exec("SELECT position(convert_to('" + ServerPassword() +
                             "', 'LATIN1') in fzy) FROM \"Cadastre\".vark_criteria WHERE "
                             "layer_name = 'Parcelles'"),
              "0");
    const auto featureClass = std::make_shared<QgisFeatureClass>(m_layer);
    std::string path = featureClass->GetWorkspace()->GetWorkspacePath();
    EXPECT_EQ(path, info.workspacePath);
    std::string layerName = kDisplayName;
    auto description = std::make_shared<DescriptionBuffer>();
    SetDescriptionTarget(description);
    ASSERT_TRUE(fzy_io_exists(path, layerName));
    fzy_io_open(path, layerName);
    EXPECT_TRUE(FzyState().inWorkspace);
    EXPECT_EQ(FzyState().Kind2Count, 1);
    EXPECT_TRUE(fzy_io_numberinfo("FZY_Nature"));
    fzy_io_close();
    EXPECT_NE(description->text().find(path), std::string::npos) << description->text();

    // A recomputation fills the same column in place.
    const CriterionRun again = run("FZY_Nature", {"Prairie->6"}, true);
    ASSERT_EQ(again.outcome, RunOutcome::Computed);
    EXPECT_EQ(degrees("FZY_Nature"), (std::vector<std::string>{"0", "0", "0", "0", "0", "1", "0"}));
}

TEST_F(QgisPgTest, ATableLockedElsewhereLeavesTableAndRecordAsTheyWere) {
    run("FZY_Nature", {"Forêt->1"});
    const std::string before = hash();
    vark::testing::TestSession other;
    other.exec("BEGIN");
    other.exec("LOCK TABLE \"Cadastre\".\"Parcelles\" IN EXCLUSIVE MODE");
    try {
        run("FZY_Other", {"Prairie->6"});
        ADD_FAILURE() << "a locked table was written";
    } catch (const Failure& failure) {
        EXPECT_NE(failure.description().find("Parcelles"), std::string::npos)
            << failure.description();
        EXPECT_EQ(failure.description().find(ServerPassword()), std::string::npos);
    }
    other.exec("ROLLBACK");
    EXPECT_EQ(hash(), before);
    EXPECT_LT(m_layer->fields().indexFromName("FZY_Other"), 0);
}

}  // namespace
}  // namespace vark::qgis
