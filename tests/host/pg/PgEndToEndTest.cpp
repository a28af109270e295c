// The program against a real PostgreSQL + PostGIS server: the field
// computed in the server, the criterion record in the layer's schema read
// back by describe, and the refusals that leave table and record as they
// were.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "PgTestServer.h"

namespace vark::testing {
namespace {

constexpr const char* kLayer = "Cadastre.Parcelles";

struct ComputeArgs {
    std::string layer;
    std::string name;
    std::string grade;
};

/// Two compute programs started at once on the NATURE field; the test's
/// own session stays in this thread.
std::pair<ProgramRun, ProgramRun> ComputedAtOnce(const ComputeArgs& a, const ComputeArgs& b) {
    const auto run = [](const ComputeArgs& c) {
        return RunVarkFuzzy({"compute", GdalConnection(), "NATURE", "--layer", c.layer, "--name",
                             c.name, "--grade", c.grade});
    };
    auto first = std::async(std::launch::async, run, a);
    ProgramRun second = run(b);
    return {first.get(), std::move(second)};
}

class PgEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTestServer()) {
            GTEST_SKIP() << "no test server (run under pg_virtualenv)";
        }
        CreateParcelTable(
            m_session,
            "'Forêt', 'forêt', ' Forêt', NULL, '', 'l''eau', 'back\\slash', 'Prairie', 'Forêt'");
    }

    std::vector<std::string> compute(const std::string& name,
                                     const std::vector<std::string>& grades,
                                     ProgramRun* run = nullptr,
                                     const std::string& connection = GdalConnection(),
                                     const std::string& layer = kLayer) {
        std::vector<std::string> args = {"compute", connection, "NATURE", "--layer",
                                         layer,     "--name",   name};
        for (const auto& g : grades) {
            args.push_back("--grade");
            args.push_back(g);
        }
        const ProgramRun result = RunVarkFuzzy(args);
        if (run != nullptr) {
            *run = result;
        } else {
            EXPECT_EQ(result.exitCode, 0) << result.err;
        }
        if (result.exitCode != 0) {
            return {};
        }
        return m_session.column("SELECT coalesce(\"" + name +
                                "\"::text, 'null') FROM \"Cadastre\".\"Parcelles\" ORDER BY fid");
    }

    ProgramRun describe(const std::string& field) {
        return RunVarkFuzzy({"describe", GdalConnection(), field, "--layer", kLayer});
    }

    std::string hash() { return TableHash(m_session, "Cadastre", "Parcelles"); }

    TestSession m_session;
};

TEST_F(PgEndToEnd, DegreesOfEveryRowCountsAndTheRecordReadBack) {
    ProgramRun run;
    const auto degrees =
        compute("FZY_Nature", {"Forêt->1", "l'eau->4", "back\\slash->6", "->6", "Forêt->3"}, &run);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Exact bytes: case, a leading blank and a null do not match; the first
    // entry of a value wins; single-precision degrees widened.
    EXPECT_EQ(degrees,
              (std::vector<std::string>{"0.17000000178813934", "0", "0", "0", "1",
                                        "0.6700000166893005", "1", "0", "0.17000000178813934"}));
    // Per entry, then the unlisted, empty and null texts left at 0.
    EXPECT_EQ(run.out.substr(0, run.out.find("\n3\t(")),
              "FZY_Nature\n2\tForêt->1\n1\tl'eau->4\n1\tback\\slash->6\n1\t->6\n0\tForêt->3")
        << run.out;
    EXPECT_NE(run.out.find(")\n0\t("), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(")\n1\t("), std::string::npos) << run.out;
    // The name as typed, not folded; a double precision column.
    EXPECT_EQ(m_session.exec("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE "
                             "attrelid = '\"Cadastre\".\"Parcelles\"'::regclass AND attname = "
                             "'FZY_Nature'"),
              "double precision");

    // The record: the criterion file's bytes, one kind-2 record, the
    // connection without its password.
    const std::string record =
        "(SELECT fzy FROM \"Cadastre\".vark_criteria WHERE layer_name = "
        "'Parcelles')";
    EXPECT_EQ(m_session.exec("SELECT get_byte(" + record + ", 0) || ',' || get_byte(" + record +
                             ", 4) || ',' || get_byte(" + record + ", 25)"),
              "1,1,2");
    EXPECT_EQ(m_session.exec("SELECT position(convert_to('" + GdalConnectionWithoutPassword() +
                             "', 'LATIN1') in " + record + ") > 0"),
              "t");
    EXPECT_EQ(m_session.exec("SELECT position(convert_to('" + ServerPassword() +
                             "', 'LATIN1') in " + record + ")"),
              "0");

    const ProgramRun described = describe("FZY_Nature");
    EXPECT_EQ(described.exitCode, 0) << described.err;
    EXPECT_NE(described.out.find("FZY_Nature"), std::string::npos) << described.out;
    EXPECT_NE(described.out.find(GdalConnectionWithoutPassword()), std::string::npos)
        << described.out;

    // The recipe beside the record, in the same transaction, and the
    // column's comment; describe --recipe reads it back.
    const std::string recipe =
        "(SELECT recipe->'criteria'->'FZY_Nature' FROM \"Cadastre\".vark_recipes WHERE "
        "table_name = 'Parcelles' AND column_name = 'FZY_Nature')";
    EXPECT_EQ(m_session.exec("SELECT (" + recipe + "->>'levels') || ',' || jsonb_array_length(" +
                             recipe + "->'entries') || ',' || (" + recipe + "->>'run_by')"),
              "7,5,batch");
    EXPECT_EQ(m_session.exec("SELECT col_description('\"Cadastre\".\"Parcelles\"'::regclass, "
                             "(SELECT attnum FROM pg_attribute WHERE attrelid = "
                             "'\"Cadastre\".\"Parcelles\"'::regclass AND attname = "
                             "'FZY_Nature')) LIKE 'Fuzzy criterion of NATURE (7 levels): "
                             "Forêt->1, l''eau->4, %'"),
              "t");
    const ProgramRun shown = RunVarkFuzzy(
        {"describe", GdalConnection(), "FZY_Nature", "--layer", kLayer, "--grades", "--quiet"});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out.substr(0, shown.out.find('\n')), "Forêt->1") << shown.out;

    // A second criterion appends; a dropped field's record goes at the next
    // run, and its recipe with it.
    compute("FZY_Second", {"Prairie->6"});
    EXPECT_EQ(describe("FZY_Nature").exitCode, 0);
    m_session.exec("ALTER TABLE \"Cadastre\".\"Parcelles\" DROP COLUMN \"FZY_Nature\"");
    compute("FZY_Third", {"Prairie->3"});
    EXPECT_EQ(describe("FZY_Nature").exitCode, 5);
    EXPECT_EQ(m_session.exec("SELECT string_agg(column_name, ',' ORDER BY column_name) FROM "
                             "\"Cadastre\".vark_recipes"),
              "FZY_Second,FZY_Third");
    EXPECT_EQ(describe("FZY_Second").exitCode, 0);
    EXPECT_EQ(describe("FZY_Third").exitCode, 0);
    EXPECT_EQ(m_session.exec("SELECT get_byte(" + record + ", 4)"), "2");
}

TEST_F(PgEndToEnd, DistinctValuesComeFromTheServerUpToAHundred) {
    const ProgramRun values =
        RunVarkFuzzy({"values", GdalConnection(), "NATURE", "--layer", kLayer, "--quiet"});
    ASSERT_EQ(values.exitCode, 0) << values.err;
    for (const char* v : {"Forêt\n", "forêt\n", " Forêt\n", "l'eau\n", "back\\slash\n"}) {
        EXPECT_NE(values.out.find(v), std::string::npos) << v << " in " << values.out;
    }
    m_session.exec(
        "INSERT INTO \"Cadastre\".\"Parcelles\" (\"NATURE\") SELECT 'v' || i FROM "
        "generate_series(1, 100) i");
    EXPECT_EQ(
        RunVarkFuzzy({"values", GdalConnection(), "NATURE", "--layer", kLayer, "--quiet"}).exitCode,
        3);
}

TEST_F(PgEndToEnd, RefusalsLeaveTableAndRecordAsTheyWere) {
    compute("FZY_Before", {"Forêt->6"});
    const std::string before = hash();

    // A role that may read the table but not change it.
    m_session.exec("DROP ROLE IF EXISTS reader");
    m_session.exec("CREATE ROLE reader LOGIN PASSWORD 'reader-secret-7'");
    m_session.exec("GRANT USAGE ON SCHEMA \"Cadastre\" TO reader");
    m_session.exec("GRANT SELECT ON ALL TABLES IN SCHEMA \"Cadastre\" TO reader");
    ProgramRun run;
    compute("FZY_Reader", {"Forêt->6"}, &run, GdalConnection("reader", "reader-secret-7"));
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("may not change the table Cadastre.Parcelles"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.err.find("reader-secret-7"), std::string::npos) << run.err;
    EXPECT_EQ(hash(), before);

    // A view.
    m_session.exec(
        "CREATE VIEW \"Cadastre\".parcelles_v AS SELECT * FROM \"Cadastre\".\"Parcelles\"");
    compute("FZY_View", {"Forêt->6"}, &run, GdalConnection(), "Cadastre.parcelles_v");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("is a view"), std::string::npos) << run.err;
    EXPECT_EQ(hash(), before);

    // A table another session holds: a few seconds' wait, then the message.
    {
        TestSession other;
        other.exec("BEGIN");
        other.exec("LOCK TABLE \"Cadastre\".\"Parcelles\" IN ROW EXCLUSIVE MODE");
        const auto start = std::chrono::steady_clock::now();
        compute("FZY_Locked", {"Forêt->6"}, &run);
        const auto waited = std::chrono::steady_clock::now() - start;
        other.exec("ROLLBACK");
        EXPECT_NE(run.exitCode, 0);
        EXPECT_NE(run.err.find("Cadastre.Parcelles is locked by another session"),
                  std::string::npos)
            << run.err;
        EXPECT_GE(waited, std::chrono::milliseconds(4500));
    }
    EXPECT_EQ(hash(), before);

    // The connection lost in the middle of the UPDATE.
    auto killer = KillTheNextUpdate(m_session);
    const std::string withTrigger = hash();
    compute("FZY_Lost", {"Forêt->6"}, &run);
    EXPECT_TRUE(killer.get());
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("connection to the server was lost"), std::string::npos) << run.err;
    EXPECT_EQ(hash(), withTrigger);
    // No recipe of a field that never came.
    EXPECT_EQ(m_session.exec("SELECT count(*) FROM \"Cadastre\".vark_recipes WHERE column_name "
                             "<> 'FZY_Before'"),
              "0");
}

TEST_F(PgEndToEnd, ADatabaseNotInUtf8HoldsSomeGradedTextsOnly) {
    // LATIN1 has "Forêt" but neither "cœur" nor "€": no feature can hold
    // those, so they are graded values that match nothing.
    const std::string database = "vark_latin1";
    if (m_session.exec("SELECT count(*) FROM pg_database WHERE datname = '" + database + "'") ==
        "0") {
        m_session.exec("CREATE DATABASE " + database +
                       " ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
    }
    TestSession latin1(database);
    ASSERT_EQ(latin1.exec("SHOW server_encoding"), "LATIN1");
    CreateParcelTable(latin1, "NULL");
    AddParcelTable(latin1, "Forêts", "'Forêt', 'Prairie', 'Forêt', NULL");
    const std::string connection = GdalConnectionTo(database);
    const std::string layer = "Cadastre.Forêts";
    const auto compute = [&](const std::string& name, std::vector<std::string> grades,
                             bool allowUnmatched) {
        std::vector<std::string> args = {"compute", connection, "NATURE", "--layer",
                                         layer,     "--name",   name};
        for (auto& g : grades) {
            args.push_back("--grade");
            args.push_back(std::move(g));
        }
        if (allowUnmatched) {
            args.emplace_back("--allow-unmatched");
        }
        return RunVarkFuzzy(args);
    };
    const auto degrees = [&](const std::string& name) {
        return latin1.column("SELECT \"" + name +
                             "\"::text FROM \"Cadastre\".\"Forêts\" ORDER BY fid");
    };

    // The texts come in the connection's encoding.
    const ProgramRun values =
        RunVarkFuzzy({"values", connection, "NATURE", "--layer", layer, "--quiet"});
    EXPECT_EQ(values.exitCode, 0) << values.err;
    EXPECT_NE(values.out.find("Forêt\n"), std::string::npos) << values.out;
    EXPECT_EQ(values.out.find("Ã"), std::string::npos) << values.out;

    // Refused as any unmatched value, before anything is changed.
    const std::string before = TableHash(latin1, "Cadastre", "Forêts");
    ProgramRun run = compute("FZY_Refused", {"Forêt->6", "cœur->3", "€->2"}, false);
    EXPECT_EQ(run.exitCode, 4) << run.err;
    EXPECT_NE(run.err.find("cœur"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("€"), std::string::npos) << run.err;
    EXPECT_EQ(TableHash(latin1, "Cadastre", "Forêts"), before);

    // Allowed: the others are computed, these count 0.
    run = compute("FZY_Forêt", {"Forêt->6", "cœur->3", "€->2"}, true);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("\n1\t(")),
              "FZY_Forêt\n2\tForêt->6\n0\tcœur->3\n0\t€->2")
        << run.out;
    EXPECT_EQ(degrees("FZY_Forêt"), (std::vector<std::string>{"1", "0", "1", "0"}));
    // Nothing the database can hold: every feature gets the degree of the others.
    run = compute("FZY_Rien", {"cœur->3"}, true);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(degrees("FZY_Rien"), (std::vector<std::string>{"0", "0", "0", "0"}));

    const ProgramRun described =
        RunVarkFuzzy({"describe", connection, "FZY_Forêt", "--layer", layer});
    EXPECT_EQ(described.exitCode, 0) << described.err;
    EXPECT_NE(described.out.find("FZY_Forêt"), std::string::npos) << described.out;
    EXPECT_NE(described.out.find("/Cadastre.Forêts"), std::string::npos) << described.out;
}

TEST_F(PgEndToEnd, ACharColumnListsAndMatchesItsValuesWithoutPadding) {
    // char(8) pads "Forêt" with blanks; the value listed is the one graded,
    // and it matches those features, as does the value with its padding.
    AddParcelTable(m_session, "Fixes", "'Forêt', 'Prairie', 'Forêt', '', NULL", "char(8)");
    const std::string layer = "Cadastre.Fixes";
    const ProgramRun values =
        RunVarkFuzzy({"values", GdalConnection(), "NATURE", "--layer", layer, "--quiet"});
    ASSERT_EQ(values.exitCode, 0) << values.err;
    EXPECT_NE(values.out.find("Forêt\n"), std::string::npos) << values.out;
    EXPECT_EQ(values.out.find("Forêt "), std::string::npos) << values.out;

    const ProgramRun run =
        RunVarkFuzzy({"compute", GdalConnection(), "NATURE", "--layer", layer, "--name", "FZY_Fixe",
                      "--grade", "Forêt->6", "--grade", "Prairie   ->3"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find("\n0\t(")), "FZY_Fixe\n2\tForêt->6\n1\tPrairie   ->3")
        << run.out;
    EXPECT_EQ(
        m_session.column("SELECT \"FZY_Fixe\"::text FROM \"Cadastre\".\"Fixes\" ORDER BY fid"),
        (std::vector<std::string>{"1", "0.5", "1", "0", "0"}));
    // An all-blank value is the empty text, listed and counted as such.
    EXPECT_NE(run.out.find(")\n1\t("), std::string::npos) << run.out;
}

TEST_F(PgEndToEnd, TwoRunsAtOnceAreOrderedByTheServer) {
    const auto [one, second] =
        ComputedAtOnce({kLayer, "FZY_A", "Forêt->6"}, {kLayer, "FZY_B", "Prairie->6"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(m_session.exec("SELECT sum(\"FZY_A\") || '/' || sum(\"FZY_B\") FROM "
                             "\"Cadastre\".\"Parcelles\""),
              "2/1");
    EXPECT_EQ(describe("FZY_A").exitCode, 0);
    EXPECT_EQ(describe("FZY_B").exitCode, 0);
}

TEST_F(PgEndToEnd, TwoFirstRecordsOfOneSchemaAtOnce) {
    // Two tables of a schema without its record table yet, a run on each
    // at the same time: both create it, one waits for the other. Repeated
    // so that the two meet.
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        CreateParcelTable(m_session, "'Forêt', 'Prairie'");
        AddParcelTable(m_session, "Voisines", "'Forêt', NULL");
        ASSERT_EQ(m_session.exec("SELECT to_regclass('\"Cadastre\".vark_criteria') IS NULL"), "t");
        const auto [one, second] = ComputedAtOnce({"Cadastre.Parcelles", "FZY_A", "Forêt->6"},
                                                  {"Cadastre.Voisines", "FZY_B", "Forêt->6"});
        EXPECT_EQ(one.exitCode, 0) << one.err;
        EXPECT_EQ(second.exitCode, 0) << second.err;
        EXPECT_EQ(m_session.exec("SELECT string_agg(layer_name, ',' ORDER BY layer_name) FROM "
                                 "\"Cadastre\".vark_criteria"),
                  "Parcelles,Voisines");
        EXPECT_EQ(describe("FZY_A").exitCode, 0);
        EXPECT_EQ(
            RunVarkFuzzy({"describe", GdalConnection(), "FZY_B", "--layer", "Cadastre.Voisines"})
                .exitCode,
            0);
    }
}

}  // namespace
}  // namespace vark::testing
