// A QGIS layer of the postgres provider on a real PostgreSQL + PostGIS
// server: the field computed in the server through the plugin's run, the
// criterion record kept in the table's schema on the run's connection and
// read back through the QGIS workspace, by the project layer's name as the
// dialog asks; the refusals of the Processing algorithm, which leave table,
// record and project layer as they were.

#include <gtest/gtest.h>
#include <qgsapplication.h>
#include <qgsdatasourceuri.h>
#include <qgsprocessingalgorithm.h>
#include <qgsprocessingcontext.h>
#include <qgsprocessingfeedback.h>
#include <qgsprocessingregistry.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "criterion_file/fzy_io.h"
#include "host/qgis/QgisData.h"
#include "pg/PgTestServer.h"
#include "plugin/qgis/ProcessingRun.h"
#include "plugin/qgis/VarkProcessingProvider.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "testing/QgisTestData.h"
#include "testing/TempDir.h"

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
        m_layer = addLayer("Parcelles", kDisplayName);
        ASSERT_TRUE(m_layer->isValid());
    }
    void TearDown() override {
        ResetFzyState();
        testing::ClearProject();
    }

    /// The project layer of `relation` in the schema "Cadastre", as `user`
    /// (the environment's role by default) with `password`.
    static QgsVectorLayer* addLayer(const QString& relation, const QString& name,
                                    const std::string& user = {},
                                    const std::string& password = {}) {
        QgsDataSourceUri uri;
        uri.setConnection(QString::fromStdString(env("PGHOST", "localhost")),
                          QString::fromStdString(env("PGPORT", "5432")),
                          QString::fromStdString(env("PGDATABASE", "postgres")),
                          QString::fromStdString(user.empty() ? env("PGUSER", "postgres") : user),
                          QString::fromStdString(password.empty() ? ServerPassword() : password));
        uri.setDataSource("Cadastre", relation, "geom", QString(), "fid");
        auto* layer = new QgsVectorLayer(uri.uri(false), name, "postgres");
        QgsProject::instance()->addMapLayer(layer);
        return layer;
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

class RecordingFeedback : public QgsProcessingFeedback {
public:
    void reportError(const QString& error, bool) override { errors << error; }
    QStringList errors;
};

/// The Processing algorithm a user runs on `layer`, grading NATURE's
/// "Forêt" 6 into `name`: true when it succeeded; what the user is told of
/// a failure in `message`.
bool RunAlgorithm(QgsVectorLayer& layer, const QString& name, std::string& message) {
    auto* registry = QgsApplication::processingRegistry();
    if (!registry->providerById(QStringLiteral("vark"))) {
        registry->addProvider(new VarkProcessingProvider());
    }
    std::unique_ptr<QgsProcessingAlgorithm> algorithm(
        registry->createAlgorithmById(QStringLiteral("vark:textcriterion")));
    if (!algorithm) {
        ADD_FAILURE() << "no algorithm vark:textcriterion";
        return false;
    }
    QgsProcessingContext context;
    context.setProject(QgsProject::instance());
    RecordingFeedback feedback;
    bool ok = false;
    algorithm->run({{"INPUT", layer.id()},
                    {"FIELD", "NATURE"},
                    {"GRADES", QVariantList{QString::fromUtf8("Forêt"), 6}},
                    {"NAME", name},
                    {"STYLE", false}},
                   context, &feedback, &ok);
    message = feedback.errors.join('\n').toStdString();
    return ok;
}

TEST_F(QgisPgTest, AlgorithmRefusalsLeaveTableRecordAndLayerAsTheyWere) {
    // The failure reports go to a log of the test's own.
    struct OwnLog {
        OwnLog() { errorLogState().logFile = dir.file("VARK_fuzzy.log"); }
        ~OwnLog() { errorLogState() = saved; }
        const ErrorLogState saved = errorLogState();
        const vark::test::TempDir dir;
    } const logs;
    std::string message;
    ASSERT_TRUE(RunAlgorithm(*m_layer, "FZY_Before", message)) << message;
    const std::string before = hash();
    const auto records = [this] {
        return m_session.exec(
            "SELECT string_agg(layer_name || ':' || md5(fzy), ',' ORDER BY layer_name) FROM "
            "\"Cadastre\".vark_criteria");
    };
    const std::string recordsBefore = records();

    // Refused, told so with the relation named and no password, nothing
    // changed; the project layer readable still and not being edited.
    const auto refused = [&](QgsVectorLayer& layer, const char* name, const std::string& says,
                             const std::string& password) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(RunAlgorithm(layer, name, message)) << "a refusal reported as success";
        EXPECT_NE(message.find(says), std::string::npos) << message;
        EXPECT_EQ(message.find(password), std::string::npos) << message;
        EXPECT_EQ(hash(), before);
        EXPECT_EQ(records(), recordsBefore);
        EXPECT_TRUE(layer.isValid());
        EXPECT_FALSE(layer.isEditable());
        EXPECT_EQ(layer.featureCount(), 7);
        EXPECT_GE(layer.fields().indexFromName("NATURE"), 0);
        EXPECT_LT(layer.fields().indexFromName(name), 0);
    };

    // A role that may read the table but not change it.
    m_session.exec("DROP ROLE IF EXISTS qgis_reader");
    m_session.exec("CREATE ROLE qgis_reader LOGIN PASSWORD 'reader-secret-8'");
    m_session.exec("GRANT USAGE ON SCHEMA \"Cadastre\" TO qgis_reader");
    m_session.exec("GRANT SELECT ON ALL TABLES IN SCHEMA \"Cadastre\" TO qgis_reader");
    QgsVectorLayer* reader =
        addLayer("Parcelles", "Parcels read only", "qgis_reader", "reader-secret-8");
    ASSERT_TRUE(reader->isValid());
    refused(*reader, "FZY_Reader", "may not change the table Cadastre.Parcelles",
            "reader-secret-8");

    // A view.
    m_session.exec(
        "CREATE VIEW \"Cadastre\".parcelles_v AS SELECT * FROM \"Cadastre\".\"Parcelles\"");
    QgsVectorLayer* view = addLayer("parcelles_v", "Parcels as a view");
    ASSERT_TRUE(view->isValid());
    refused(*view, "FZY_View", "Cadastre.parcelles_v: it is a view", ServerPassword());

    // The run's connection killed in the middle of the UPDATE, while the
    // workspace that holds it stays in use (as an open dialog keeps it).
    const std::shared_ptr<host::Workspace> kept =
        std::make_shared<QgisFeatureClass>(m_layer)->GetWorkspace();
    auto killer = vark::testing::KillTheNextUpdate(m_session);
    refused(*m_layer, "FZY_Lost", "connection to the server was lost", ServerPassword());
    EXPECT_TRUE(killer.get());
    EXPECT_NE(message.find("Cadastre.Parcelles"), std::string::npos) << message;

    // The tool's connection to that server is made again for the next run.
    ASSERT_EQ(std::make_shared<QgisFeatureClass>(m_layer)->GetWorkspace(), kept);
    m_session.exec("DROP TRIGGER slow ON \"Cadastre\".\"Parcelles\"");
    ASSERT_TRUE(RunAlgorithm(*m_layer, "FZY_After", message)) << message;
    EXPECT_EQ(degrees("FZY_After"), (std::vector<std::string>{"1", "0", "0", "0", "0", "0", "1"}));
    EXPECT_GE(m_layer->fields().indexFromName("FZY_After"), 0);

    // Nor did the log of the failures get a password.
    const std::string log = vark::test::ReadBytes(logs.dir.file("VARK_fuzzy.log"));
    EXPECT_NE(log.find("Cadastre.Parcelles"), std::string::npos) << log;
    for (const std::string& password : {ServerPassword(), std::string("reader-secret-8")}) {
        EXPECT_EQ(log.find(password), std::string::npos) << log;
    }
}

}  // namespace
}  // namespace vark::qgis
