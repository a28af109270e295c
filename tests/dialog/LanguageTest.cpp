// Language switch: numbered captions follow the chosen language, design
// captions stay, the choice is saved; the start-up selects the current one.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

class LanguageTest : public DialogTest {
protected:
    void Choose(const std::string& code) {
        QComboBox* list = ui().Listlang;
        const int row = list->findText(QString::fromStdString(code));
        ASSERT_GE(row, 0) << code;
        list->setCurrentIndex(row);
        emit list->activated(row);
    }

    /// Every caption of the window, by control name.
    std::map<std::string, std::string> Captions() {
        std::map<std::string, std::string> out;
        out["window"] = m_dialog->windowTitle().toStdString();
        for (auto* w : m_dialog->findChildren<QWidget*>()) {
            const std::string name = w->objectName().toStdString();
            if (auto* b = qobject_cast<QAbstractButton*>(w)) out[name] = b->text().toStdString();
            if (auto* l = qobject_cast<QLabel*>(w)) out[name] = l->text().toStdString();
            if (auto* g = qobject_cast<QGroupBox*>(w)) out[name] = g->title().toStdString();
        }
        return out;
    }
};

TEST_F(LanguageTest, StartUpSelectsTheCurrentLanguage) {
    OpenDialog();
    EXPECT_GE(ui().Listlang->count(), 2);
    EXPECT_EQ(ui().Listlang->findText("id"), -1);
    EXPECT_EQ(ui().Listlang->currentText(), "fr");
    EXPECT_EQ(ReadLangSetting(), "fr");
}

TEST_F(LanguageTest, ARunLanguageIsShownButNotSavedUntilTheUserPicksOne) {
    const std::string saved = ReadLangSetting();
    ASSERT_NE(saved, "en");
    textStoreState().runLanguage = "en";
    OpenDialog();
    EXPECT_EQ(ui().Listlang->currentText(), "en");
    EXPECT_EQ(Captions().at("cmd_go"), " Compute");
    EXPECT_EQ(ReadLangSetting(), saved);
    Choose("es");
    EXPECT_EQ(ReadLangSetting(), "es");
    EXPECT_TRUE(textStoreState().runLanguage.empty());
}

TEST_F(LanguageTest, ChoosingAnotherLanguageChangesNumberedCaptionsOnlyAndSavesIt) {
    OpenDialog();
    const auto before = Captions();
    Choose("en");
    const auto after = Captions();
    EXPECT_EQ(gTextStore().LanguageCode(), "en");
    EXPECT_EQ(ReadLangSetting(), "en");

    const std::map<std::string, int> numbered = {
        {"window", 119},         {"Label1", 120},         {"cmd_open_shape", 123},
        {"Label4", 163},         {"CheckFields", 164},    {"Label2", 121},
        {"sum_table", 124},      {"Label3", 122},         {"Label5", 167},
        {"Label6", 168},         {"Chk_premiere_0", 166}, {"Chk_premiere_1", 110},
        {"Chk_premiere_2", 109}, {"Chk_premiere_3", 108}, {"Chk_premiere_4", 107},
        {"Chk_premiere_5", 106}, {"Chk_premiere_6", 165}};
    for (const auto& [name, text] : numbered) {
        EXPECT_EQ(after.at(name), Text(text)) << name;
        if (name != "Chk_premiere_6") {  // "Excellent" in both languages
            EXPECT_NE(after.at(name), before.at(name)) << name;
        }
    }
    EXPECT_EQ(after.at("cmd_go"), " " + Text(127));
    EXPECT_EQ(after.at("cmd_sortie"), " " + Text(118));
    EXPECT_EQ(after.at("cmd_go"), " Compute");
    for (const char* name : {"Frame1", "Option1", "Option2", "Option3", "Cmd_Add", "Cmd_Sub"})
        EXPECT_EQ(after.at(name), before.at(name)) << name;
    EXPECT_TRUE(Prompts().empty());
}

TEST_F(LanguageTest, ChoosingTheCurrentLanguagePutsCaptionsBackAndSavesAgain) {
    OpenDialog();
    ui().Label1->setText("brouillé");
    gTextStore().setLanguageCode("de");
    gTextStore().SaveLangSetting();
    gTextStore().setLanguageCode("fr");
    Choose("fr");
    EXPECT_EQ(ui().Label1->text().toStdString(), Text(120));
    EXPECT_EQ(ReadLangSetting(), "fr");
    EXPECT_EQ(ui().cmd_go->text().toStdString(), " " + Text(127));
}

TEST_F(LanguageTest, UnknownStoredLanguageSelectsNothingAndKeepsTheSetting) {
    gTextStore().setLanguageCode("xx");
    gTextStore().SaveLangSetting();
    OpenDialog();
    EXPECT_EQ(ui().Listlang->currentIndex(), -1);
    EXPECT_EQ(ui().Listlang->currentText(), "Lg");
    EXPECT_EQ(ReadLangSetting(), "xx");
}

}  // namespace
}  // namespace vark::test
