// The language a store starts in inside a host program with an interface
// language of its own (QGIS): the host's language until the user saves one.

#include <gtest/gtest.h>

#include <QSettings>

#include "support/RecordingUi.h"
#include "testing/TempDir.h"
#include "testing/TestDb.h"
#include "text_store/clsResourceMDB.h"

namespace vark {
namespace {

QSettings LangSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kelmo_Trelvastin");
}

TEST(StartLanguage, HostLanguageWhenTheTableHasIt) {
    const std::vector<std::string> columns = {"id", "fr", "en", "de", "pt_BR"};
    struct Case {
        std::string host;
        std::string start;
    } cases[] = {
        {"de", "de"},    {"de_DE", "de"}, {"de-AT", "de"}, {"pt_BR", "pt_BR"},
        {"pt_PT", "fr"}, {"it", "fr"},    {"", "fr"},      {"DE", "fr"},
        {"id", "fr"},    {"en_US", "en"}, {"_de", "fr"},
    };
    for (const auto& c : cases) EXPECT_EQ(StartLanguage(c.host, columns), c.start) << c.host;
    EXPECT_EQ(StartLanguage("de", {}), "fr") << "no columns at all";
}

class HostLanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTextStoreState();
        LangSettings().remove("params/lang");
        test::MakeTextDb(m_dir.file("text.db"),
                         {{"1", "Tahoma", "Arial"}, {"119", "Définition", "Definition"}});
        textStoreState().databasePathOverride = m_dir.file("text.db");
    }
    void TearDown() override {
        ResetTextStoreState();
        LangSettings().remove("params/lang");
    }

    test::TempDir m_dir;
    ScopedRecordingUi m_ui;
};

TEST_F(HostLanguageTest, InitLanguageFollowsTheHostUntilALanguageIsSaved) {
    textStoreState().hostLanguage = "en_GB";
    InitLanguage();
    EXPECT_TRUE(m_ui->calls.empty());
    EXPECT_EQ(gTextStore().LanguageCode(), "en");
    EXPECT_EQ(gTextStore().ResourceString(119), "Definition");
    EXPECT_FALSE(HasLangSetting()) << "following the host saves nothing";

    textStoreState().hostLanguage = "de";  // not a column of this table
    InitLanguage();
    EXPECT_TRUE(m_ui->calls.empty()) << "no message for a language the table lacks";
    EXPECT_EQ(gTextStore().LanguageCode(), "fr");
    EXPECT_EQ(gTextStore().ResourceString(119), "Définition");

    // A saved language wins over the host's.
    textStoreState().hostLanguage = "en";
    LangSettings().setValue("params/lang", "fr");
    InitLanguage();
    EXPECT_EQ(gTextStore().LanguageCode(), "fr");

    // Without a host language nothing changes: the setting or "fr".
    LangSettings().remove("params/lang");
    textStoreState().hostLanguage.clear();
    InitLanguage();
    EXPECT_EQ(gTextStore().LanguageCode(), "fr");
    textStoreState().hostLanguage = "en";
    ResetTextStoreState();
    EXPECT_TRUE(textStoreState().hostLanguage.empty());
}

}  // namespace
}  // namespace vark
