#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "support/RecordingUi.h"
#include "testing/TempDir.h"
#include "testing/TestDb.h"
#include "text_store/DbHelpers.h"

namespace vark {
namespace {

Failure Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const Failure& failure) {
        return failure;
    }
    return Failure(0, "nothing raised");
}

class DbHelpersTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = m_dir.file("t.db");
        test::MakeTextDb(m_path, {{"1", "Tahoma", "Arial"}, {"2", "deux", "two"}});
        test::MakeDb(m_dir.file("t.db"), "empty", {"id INTEGER", "fr TEXT"}, {});
    }
    test::TempDir m_dir;
    std::string m_path;
    ScopedRecordingUi m_ui;
};

TEST_F(DbHelpersTest, OpenFailures) {
    Database db;
    const std::string missing = m_dir.file("none.db");
    for (bool showErrors : {false, true}) {
        const Failure f = Raised([&] { DAO_Open(db, missing, showErrors); });
        EXPECT_EQ(f.number(), -2147220504);
        EXPECT_EQ(f.source(), "DAO_Open");
        EXPECT_EQ(f.description(), "Database not found:\r\n" + missing);
    }

    const std::string junk = m_dir.file("junk.db");
    std::ofstream(junk) << "this is not a database, not at all, not even close to one......";
    const Failure f = Raised([&] { DAO_Open(db, junk, true); });
    EXPECT_EQ(f.number(), -2147220504);
    EXPECT_EQ(f.description(), "Error open database:\r\n" + junk);

    // Without showErrors the engine's description comes back and db is kept.
    ASSERT_EQ(DAO_Open(db, m_path, false), "");
    EXPECT_NE(DAO_Open(db, junk, false), "");
    EXPECT_TRUE(db.isOpen());
    EXPECT_EQ(db.path(), m_path);
    EXPECT_TRUE(m_ui->calls.empty());
}

TEST_F(DbHelpersTest, NetworkSharePrefixBecomesDriveW) {
    const std::string shared = std::string(kNetworkSharePrefix) + "/texts/t.db";
    Database db;
    const Failure f = Raised([&] { DAO_Open(db, shared, false); });
    EXPECT_EQ(f.description(), "Database not found:\r\nw:/texts/t.db");

    // "w:" is an ordinary folder name here: the mapped path really is opened.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.path());
    std::filesystem::create_directories("w:/texts");
    std::filesystem::copy_file(m_path, "w:/texts/t.db");
    EXPECT_EQ(DAO_Open(db, shared, true), "");
    EXPECT_EQ(db.path(), "w:/texts/t.db");
    std::filesystem::current_path(cwd);
}

TEST_F(DbHelpersTest, OpenRsReadsRowsAndReportsSqlFailures) {
    Database db;
    Recordset rs;
    DAO_OpenRs(db, rs, m_path, "SELECT id, en FROM tblText ORDER BY id");  // opens db first
    ASSERT_TRUE(db.isOpen());
    std::vector<std::string> seen;
    for (; !rs.EOF_(); rs.MoveNext()) seen.push_back(DbValueToText(rs.value(1)));
    EXPECT_EQ(seen, (std::vector<std::string>{"Arial", "two"}));
    EXPECT_EQ(Raised([&] { rs.value(0); }).number(), kNoCurrentRecord);

    struct Case {
        std::string sql, engineText;
    } cases[] = {
        {"SELECT id, xx FROM tblText", "no such column: xx"},
        {"SELECT id FROM nope", "no such table: nope"},
        {"SELECT id, fr FROM tblText; DELETE FROM tblText",
         "Only one SQL statement may be run at a time."},
    };
    for (const auto& c : cases) {
        Recordset failed;
        const Failure f = Raised([&] { DAO_OpenRs(db, failed, "the/path", c.sql); });
        EXPECT_EQ(f.number(), -2147220503);
        EXPECT_EQ(f.source(), "DAO_OpenRs");
        EXPECT_EQ(f.description(),
                  "Error SQL:" + c.sql + "\r\non database\r\nthe/path\r\nError: " + c.engineText);
        EXPECT_FALSE(failed.isOpen());
    }
    EXPECT_EQ(DbValueToText(DAO_SQL2Value(db, "SELECT count(*) FROM tblText", {}, false)), "2")
        << "the second statement above must not have run";

    Database closed;
    EXPECT_EQ(Raised([&] { DAO_OpenRs(closed, rs, m_dir.file("none.db"), "SELECT 1"); }).number(),
              -2147220504);
}

TEST_F(DbHelpersTest, SingleValueFallsBackToTheDefault) {
    Database db;
    DAO_Open(db, m_path, true);
    EXPECT_EQ(std::get<long long>(DAO_GetMaxValue(db, "tblText", "id", DbValue{0LL}, true)), 2);
    // The max over no rows is null, not the default.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        DAO_GetMaxValue(db, "empty", "id", DbValue{7LL}, true)));
    EXPECT_TRUE(m_ui->calls.empty());

    struct Case {
        std::string sql, firstLine;
    } cases[] = {
        {"SELECT max(id) FROM nope", "no such table: nope"},
        {"SELECT id FROM tblText WHERE id > 100", "No current record."},
    };
    for (const auto& c : cases) {
        m_ui->clear();
        EXPECT_EQ(std::get<long long>(DAO_SQL2Value(db, c.sql, DbValue{-1LL}, true)), -1);
        const auto boxes = m_ui->messages();
        ASSERT_EQ(boxes.size(), 1u) << c.sql;
        EXPECT_EQ(boxes[0].title, "DAO_SQL2Value");
        EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
        EXPECT_EQ(boxes[0].prompt, c.firstLine + "\r\nSQL=" + c.sql);

        m_ui->clear();
        EXPECT_EQ(std::get<long long>(DAO_SQL2Value(db, c.sql, DbValue{-1LL}, false)), -1);
        EXPECT_TRUE(m_ui->calls.empty());
    }
    Database closed;
    EXPECT_EQ(std::get<long long>(DAO_SQL2Value(closed, "SELECT 1", DbValue{5LL}, false)), 5);
}

TEST(DbValueConversion, ToInt16) {
    struct Case {
        DbValue in;
        std::int32_t out;  // or the failure number when `fails`
        bool fails;
    } cases[] = {
        {DbValue{5LL}, 5, false},
        {DbValue{32767LL}, 32767, false},
        {DbValue{32768LL}, err::kOverflow, true},
        {DbValue{-32768LL}, -32768, false},
        {DbValue{2.5}, 2, false},  // half to even
        {DbValue{3.5}, 4, false},
        {DbValue{32767.6}, err::kOverflow, true},
        {DbValue{std::string(" 12 ")}, 12, false},
        {DbValue{std::string("+7")}, 7, false},
        {DbValue{std::string("1.5")}, 2, false},
        {DbValue{std::string("12a")}, err::kTypeMismatch, true},
        {DbValue{std::string("")}, err::kTypeMismatch, true},
        {DbValue{std::string("nan")}, err::kTypeMismatch, true},
        {DbValue{std::string("99999")}, err::kOverflow, true},
        {DbValue{}, err::kInvalidUseOfNull, true},
    };
    for (const auto& c : cases) {
        if (c.fails) {
            EXPECT_EQ(Raised([&] { DbValueToInt16(c.in); }).number(), c.out) << c.in.index();
        } else {
            EXPECT_EQ(DbValueToInt16(c.in), c.out);
        }
    }
    EXPECT_EQ(DbValueToText(DbValue{2.5}), "2.5");
    EXPECT_EQ(Raised([] { DbValueToText(DbValue{}); }).number(), err::kInvalidUseOfNull);
}

}  // namespace
}  // namespace vark
