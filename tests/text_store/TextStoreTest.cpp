#include <gtest/gtest.h>

#include <QSettings>
#include <filesystem>
#include <fstream>

#include "support/RecordingUi.h"
#include "testing/TempDir.h"
#include "testing/TestDb.h"
#include "text_store/clsResourceMDB.h"

namespace vark {
namespace {

void ClearLangSetting() {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Kelmo_Trelvastin");
    s.remove("params/lang");
    s.sync();
}

class TextStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTextStoreState();
        ClearLangSetting();
    }
    void TearDown() override { ResetTextStoreState(); }

    // A store opened on `rows` (columns id, fr, en) in `language`, not loaded.
    clsResourceMDB& Open(const std::vector<test::Row>& rows, const std::string& language = "fr") {
        test::MakeTextDb(m_dir.file("text.db"), rows);
        m_store.setTableName("tblText");
        m_store.setLanguageCode(language);
        m_store.setFontId(1);
        std::string path = m_dir.file("text.db");
        EXPECT_EQ(m_store.DbOpen(path, true), "");
        return m_store;
    }

    test::TempDir m_dir;
    ScopedRecordingUi m_ui;
    clsResourceMDB m_store;
};

TEST_F(TextStoreTest, LookupsAnswerWithinTheLoadedRange) {
    EXPECT_EQ(m_store.ResourceString(1), "") << "before any load";
    auto& store = Open({{"0", "zéro", "zero"}, {"1", "Tahoma", "Arial"}, {"5", "cinq", "five"}});
    store.LoadResData();
    EXPECT_TRUE(m_ui->calls.empty());
    EXPECT_EQ(store.loadedCount(), 6u);
    struct Case {
        std::int32_t id;
        std::string text;
    } cases[] = {{0, "zéro"}, {1, "Tahoma"}, {3, ""}, {5, "cinq"}, {6, ""}, {-1, ""}, {40000, ""}};
    for (const auto& c : cases) EXPECT_EQ(store.ResourceString(c.id), c.text) << c.id;
    EXPECT_EQ(store.FontName(), "Tahoma");

    // A new language reloads every text and its font.
    store.setLanguageCode("en");
    EXPECT_EQ(store.ResourceString(5), "cinq") << "setting the code alone does not reload";
    store.LoadResData();
    EXPECT_EQ(store.ResourceString(5), "five");
    EXPECT_EQ(store.FontName(), "Arial");
}

TEST_F(TextStoreTest, LoadFailuresAreShownOnceAndKeepEarlierRows) {
    const std::string title = "clsResourceMDB-LoadREsData";
    // Rows are delivered in table order: 1, 2, then the null cell of 3, then 4.
    auto& store = Open({{"1", "Tahoma", "Arial"},
                        {"2", "deux", "two"},
                        {"3", "trois", std::nullopt},
                        {"4", "quatre", "four"}});
    store.setFontName("before");

    store.setLanguageCode("en");
    store.LoadResData();
    auto boxes = m_ui->messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, title);
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes[0].prompt, "Invalid use of Null");
    EXPECT_EQ(store.ResourceString(2), "two");
    EXPECT_EQ(store.ResourceString(3), "");
    EXPECT_EQ(store.ResourceString(4), "");
    EXPECT_EQ(store.FontName(), "before") << "the font is set only after a full load";

    m_ui->clear();
    store.setLanguageCode("xx");
    store.LoadResData();
    boxes = m_ui->messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, title);
    EXPECT_EQ(boxes[0].prompt.rfind("Error SQL:SELECT id, xx FROM tblText\r\non database\r\n\r\n"
                                    "Error: no such column: xx",
                                    0),
              0u)
        << boxes[0].prompt;
    for (int id = 0; id <= 5; ++id) EXPECT_EQ(store.ResourceString(id), "");
}

TEST_F(TextStoreTest, BadTablesLoadNothing) {
    struct Case {
        std::vector<test::Row> rows;
        std::string table, title, prompt;
    } cases[] = {
        {{}, "tblText", "clsResourceMDB-LoadREsData", "Invalid use of Null"},  // empty table
        {{{"-2", "a", "b"}, {"1", "c", "d"}},
         "tblText",
         "clsResourceMDB-LoadREsData",
         "Subscript out of range"},
        {{{"40000", "a", "b"}}, "tblText", "clsResourceMDB-LoadREsData", "Overflow"},
        {{{"1", "a", "b"}},
         "nope",
         "DAO_SQL2Value",
         "no such table: nope\r\nSQL=SELECT max(id) FROM nope"},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        test::MakeTextDb(dir.file("t.db"), c.rows);
        clsResourceMDB store;
        store.setTableName(c.table);
        store.setLanguageCode("fr");
        std::string path = dir.file("t.db");
        store.DbOpen(path, false);
        m_ui->clear();
        store.LoadResData();
        const auto boxes = m_ui->messages();
        ASSERT_EQ(boxes.size(), 1u) << c.prompt;
        EXPECT_EQ(boxes[0].title, c.title);
        EXPECT_EQ(boxes[0].prompt, c.prompt);
        EXPECT_EQ(store.ResourceString(1), "");
    }
}

TEST_F(TextStoreTest, FontFromDbAndDbOpen) {
    auto& store = Open({{"1", "Tahoma", "Arial"}, {"2", "Verdana", "Verdana"}});
    EXPECT_THROW(store.SetFontFromDb(1), Failure) << "nothing loaded yet";
    store.LoadResData();
    store.SetFontFromDb(2);
    EXPECT_EQ(store.FontId(), 2);
    EXPECT_EQ(store.FontName(), "Verdana");
    store.SetFontFromDb(0);  // keeps FontId
    EXPECT_EQ(store.FontName(), "Verdana");
    store.setFontId(0);
    store.SetFontFromDb(0);
    EXPECT_EQ(store.FontName(), "");
    store.setFontId(9);
    try {
        store.SetFontFromDb(0);
        ADD_FAILURE() << "an index beyond the texts must fail";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), err::kSubscriptOutOfRange);
    }

    // An empty name takes dbName and hands it back; a missing file raises.
    clsResourceMDB other;
    other.setDbName(m_dir.file("text.db"));
    std::string name;
    EXPECT_EQ(other.DbOpen(name, false), "");
    EXPECT_EQ(name, m_dir.file("text.db"));
    std::string missing = m_dir.file("none.db");
    EXPECT_THROW(other.DbOpen(missing, false), Failure);
    EXPECT_EQ(other.dbName(), missing);
}

TEST_F(TextStoreTest, LanguageSettingRoundTrip) {
    EXPECT_EQ(ReadLangSetting(), "fr") << "no key: the default";
    clsResourceMDB store;
    store.setLanguageCode("de");
    store.SaveLangSetting();
    EXPECT_EQ(ReadLangSetting(), "de");
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Kelmo_Trelvastin");
    EXPECT_EQ(s.value("params/lang").toString(), "de");
    s.setValue("params/lang", "");
    s.sync();
    EXPECT_EQ(ReadLangSetting(), "fr") << "an empty code falls back to the default";
}

TEST_F(TextStoreTest, InitLanguageWithoutDatabase) {
    textStoreState().databasePathOverride = m_dir.file("text.db");  // not created
    InitLanguage();
    const auto boxes = m_ui->messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, "File does not exist.\r\n" + m_dir.file("text.db"));
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    for (int id : {0, 1, 119, 162}) EXPECT_EQ(gTextStore().ResourceString(id), "");
    EXPECT_EQ(gTextStore().loadedCount(), 0u);
}

TEST_F(TextStoreTest, InitLanguageReadsTheSettingAndReportsAnUnusableDatabase) {
    test::MakeTextDb(m_dir.file("text.db"), {{"1", "Tahoma", "Arial"}, {"7", "sept", "seven"}});
    textStoreState().databasePathOverride = m_dir.file("text.db");
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kelmo_Trelvastin")
        .setValue("params/lang", "en");
    InitLanguage();
    EXPECT_TRUE(m_ui->calls.empty());
    EXPECT_EQ(gTextStore().LanguageCode(), "en");
    EXPECT_EQ(gTextStore().TableName(), "tblText");
    EXPECT_EQ(gTextStore().FontId(), 1);
    EXPECT_EQ(gTextStore().FontName(), "Arial");
    EXPECT_EQ(gTextStore().ResourceString(7), "seven");

    // A file that is no database: the one "initialisation failed" message.
    std::ofstream(m_dir.file("junk.db")) << "junk junk junk junk junk junk junk junk junk junk";
    textStoreState().databasePathOverride = m_dir.file("junk.db");
    InitLanguage();
    const auto boxes = m_ui->messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].prompt, "The language initialisation failed. The program cannot be used.");
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(gTextStore().ResourceString(7), "") << "a fresh store replaced the loaded one";
}

}  // namespace
}  // namespace vark
