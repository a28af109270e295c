// The generated text database beside the library: its shape, and a text for
// every number the component uses, in every language.

#include <gtest/gtest.h>

#include <QComboBox>
#include <iostream>

#include "support/RecordingUi.h"
#include "testing/QtTestApp.h"
#include "text_store/FormText.h"
#include "text_store/clsResourceMDB.h"

namespace vark {
namespace {

const std::vector<std::string> kLanguages = {"fr", "en", "es", "de"};

class TextDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_store.setTableName("tblText");
        m_store.setFontId(1);
        std::string path = TextDatabasePath();
        ASSERT_EQ(m_store.DbOpen(path, true), "");
    }
    void Load(const std::string& language) {
        m_store.setLanguageCode(language);
        m_store.LoadResData();
        ASSERT_TRUE(m_ui->calls.empty()) << m_ui->calls.front().prompt;
    }

    ScopedRecordingUi m_ui;
    clsResourceMDB m_store;
};

TEST_F(TextDatabaseTest, LanguagesInColumnOrder) {
    test::EnsureQApplication();
    QComboBox list;
    EXPECT_EQ(FillListWithFieldNames(m_store.db(), "tblText", &list), "");
    std::vector<std::string> codes;
    for (int i = 0; i < list.count(); ++i) codes.push_back(list.itemText(i).toStdString());
    EXPECT_EQ(codes, kLanguages);
}

TEST_F(TextDatabaseTest, EveryUsedNumberHasATextInEveryLanguage) {
    std::vector<int> used = {1,   106, 107, 108, 109, 110, 118, 119, 120, 121, 122, 123, 124, 127,
                             131, 133, 157, 158, 162, 163, 164, 165, 166, 167, 168, 169, 170, 171};
    for (int n = 147; n <= 156; ++n) {
        if (n != 155) used.push_back(n);
    }
    for (const std::string& language : kLanguages) {
        Load(language);
        for (int n : used) EXPECT_NE(m_store.ResourceString(n), "") << language << " " << n;
        EXPECT_EQ(m_store.FontName(), m_store.ResourceString(1));
    }
}

TEST_F(TextDatabaseTest, FrenchFollowsTheDesignCaptions) {
    Load("fr");
    const std::pair<int, const char*> captions[] = {
        {106, "Très bon"},
        {107, "Bon"},
        {108, "Moyen"},
        {109, "Médiocre"},
        {110, "Très médiocre"},
        {118, "Sortir"},
        {119, "Définition d'un critère de classification tavelin"},
        {120, "Shape contenant les données"},
        {121, "Attributs disponibles"},
        {122, "Alias de l'attribut en sortie"},
        {123, "Ajouter shape"},
        {124, "Méta données"},
        {127, "Calculer"},
        {163, "Champs non texte"},
        {164, "Champs avec valeur 0-1"},
        {165, "Excellent"},
        {166, "Exclu"},
        {170, "Sortir"},
    };
    for (const auto& [n, text] : captions) EXPECT_EQ(m_store.ResourceString(n), text) << n;
}

TEST_F(TextDatabaseTest, PrintsTitleAndCompletionMessageInEachLanguage) {
    for (const std::string& language : kLanguages) {
        Load(language);
        const std::string title = m_store.ResourceString(119);
        const std::string done = m_store.ResourceString(162);
        std::cout << language << "  119: " << title << "\n"
                  << language << "  162: " << done << "\n";
        EXPECT_FALSE(title.empty());
        EXPECT_FALSE(done.empty());
    }
}

}  // namespace
}  // namespace vark
