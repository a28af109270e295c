// The server-side SQL and the password rule, without a server.

#include <gtest/gtest.h>

#include "routes/pg/PgSql.h"

namespace vark::pg {
namespace {

TEST(PgSql, WithoutPasswordTakesEveryFormOut) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"PG:dbname=gis password=secret host=db", "PG:dbname=gis host=db"},
        {"PG:dbname=gis host=db password=secret", "PG:dbname=gis host=db"},
        {"PG:password=secret dbname=gis", "PG:dbname=gis"},
        {"PG:dbname=gis PASSWORD = 'se cret\\' x' user=u", "PG:dbname=gis user=u"},
        {"PG:dbname=gis password='' user=u", "PG:dbname=gis user=u"},
        {"PG:postgresql://ann:s%40cret@db:5432/gis?sslmode=require",
         "PG:postgresql://ann@db:5432/gis?sslmode=require"},
        {"PG:postgres://db/gis?password=secret&user=ann", "PG:postgres://db/gis?user=ann"},
        {"PG:postgres://db/gis?user=ann&password=secret", "PG:postgres://db/gis?user=ann"},
        // In a message, quoted by a driver.
        {"Cannot open `PG:dbname=gis password=x': refused", "Cannot open `PG:dbname=gis': refused"},
        // Words that only look like it stay.
        {"PG:dbname=passwords user=password_keeper", "PG:dbname=passwords user=password_keeper"},
        {"/data/password=x/parcels.shp", "/data/password=x/parcels.shp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutPassword(c.in), c.out) << c.in;
    }
}

TEST(PgSql, LibpqStringDropsGdalKeywordsAndKeepsThePassword) {
    EXPECT_EQ(LibpqConnectionString("PG:dbname=gis schemas=a,b password=x active_schema=a "
                                    "tables=t user=u"),
              "dbname=gis password=x user=u");
    EXPECT_TRUE(IsPostgresConnection("pg:dbname=gis"));
    EXPECT_FALSE(IsPostgresConnection("/data/PG:x.gpkg"));
}

TEST(PgSql, GradedUpdateEscapesAndKeepsSinglePrecisionDegrees) {
    PgRelation relation{"Cadastre", "par\"cels", 'r'};
    host::NewFieldPass::GradedColumn graded;
    graded.entries = {{"Forêt", static_cast<double>(0.17F)},
                      {"l'eau \\n", 1.0},
                      {"Forêt", 0.5},  // shadowed: the first entry wins
                      {"", static_cast<double>(0.67F)}};
    const std::string sql = GradedUpdateSql(relation, "FZY_Nature", "NATURE", graded, true);
    EXPECT_NE(sql.find("UPDATE \"Cadastre\".\"par\"\"cels\" SET \"FZY_Nature\" = CASE"),
              std::string::npos)
        << sql;
    EXPECT_NE(sql.find("= 'Forêt' THEN float8 '0.17000000178813934'"), std::string::npos) << sql;
    EXPECT_NE(sql.find("= 'l''eau \\n' THEN float8 '1'"), std::string::npos) << sql;
    EXPECT_EQ(sql.find("THEN float8 '0.5'"), std::string::npos) << sql;
    EXPECT_NE(sql.find("= '' THEN float8 '0.67000001668930054'"), std::string::npos) << sql;
    EXPECT_NE(sql.find("ELSE float8 '0' END"), std::string::npos) << sql;

    // The counts compare as the UPDATE does and name each entry by its
    // index, the shadowed one never.
    const std::string counts = GradedCountSql(relation, "NATURE", graded, true);
    EXPECT_NE(counts.find("WHEN \"NATURE\" COLLATE \"C\" = 'Forêt' THEN 0"), std::string::npos)
        << counts;
    EXPECT_NE(counts.find("= 'l''eau \\n' THEN 1"), std::string::npos) << counts;
    EXPECT_EQ(counts.find("THEN 2"), std::string::npos) << counts;
    EXPECT_NE(counts.find("= '' THEN 3"), std::string::npos) << counts;

    // A text the database cannot hold is left out of both; none held, every
    // row gets the degree of the others (a CASE needs one WHEN).
    const std::vector<bool> someHeld = {true, false, true, true};
    const std::string some =
        GradedUpdateSql(relation, "FZY_Nature", "NATURE", graded, true, someHeld);
    EXPECT_EQ(some.find("l''eau"), std::string::npos) << some;
    const std::string someCounts = GradedCountSql(relation, "NATURE", graded, true, someHeld);
    EXPECT_EQ(someCounts.find("l''eau"), std::string::npos) << someCounts;
    EXPECT_NE(someCounts.find("= 'Forêt' THEN 0"), std::string::npos) << someCounts;
    const std::vector<bool> noneHeld = {false, false, false, false};
    EXPECT_EQ(GradedUpdateSql(relation, "FZY_Nature", "NATURE", graded, true, noneHeld),
              "UPDATE \"Cadastre\".\"par\"\"cels\" SET \"FZY_Nature\" = float8 '0'");
    EXPECT_NE(GradedCountSql(relation, "NATURE", graded, true, noneHeld)
                  .find("SELECT CASE WHEN \"NATURE\" IS NULL THEN -1"),
              std::string::npos);

    // Without standard strings a backslash is doubled in an escape literal.
    EXPECT_EQ(PgLiteral("a\\'b", false), "E'a\\\\''b'");
    EXPECT_EQ(
        AddColumnSql(relation, "FZY_Nature"),
        "ALTER TABLE \"Cadastre\".\"par\"\"cels\" ADD COLUMN \"FZY_Nature\" double precision");
}

}  // namespace
}  // namespace vark::pg
