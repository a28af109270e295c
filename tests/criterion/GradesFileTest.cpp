// Feature counts as tooltips on the two value lists, and the graded list's
// grades files: saved whole, loaded into the lists, refused when they cannot
// be used.

#include <filesystem>
#include <fstream>
#include <iterator>

#include "criterion/GradesFile.h"
#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

class GradesFileTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        AddParcels({"Forêt", "Prairie", "Forêt", "Bâti", Value{}, "Forêt", "", "Prairie"});
        OpenDialog();
        Choose("parcelles", "NATURE");
    }
    std::vector<std::string> Tips(QListWidget* list) {
        std::vector<std::string> out;
        for (int i = 0; i < list->count(); ++i) {
            out.push_back(list->item(i)->toolTip().toStdString());
        }
        return out;
    }
    void Add(const std::vector<std::string>& values, int grade) {
        m_dialog->Chk_premiere(grade)->click();
        SelectTexts(ui().ListValuesEntree, values);
        ui().Cmd_Add->click();
    }
};

TEST_F(GradesFileTest, EachValueShowsItsFeaturesAsATooltipWhereverItIs) {
    ASSERT_EQ(Texts(ui().ListValuesEntree),
              (std::vector<std::string>{"", "Bâti", "Forêt", "Prairie"}));
    EXPECT_EQ(Tips(ui().ListValuesEntree),
              (std::vector<std::string>{"1 entité", "1 entité", "3 entités", "2 entités"}));
    Add({"Forêt"}, 6);
    EXPECT_EQ(Texts(ui().ListValuesSortie), std::vector<std::string>{"Forêt->6"});
    EXPECT_EQ(Tips(ui().ListValuesSortie), std::vector<std::string>{"3 entités"});
    EXPECT_EQ(Tips(ui().ListValuesEntree),
              (std::vector<std::string>{"1 entité", "1 entité", "2 entités"}));
    // Another field: an entry whose value it lacks shows 0.
    ReleaseOver(ui().Lst_fields, RowOf(ui().Lst_fields, "CODE"));
    EXPECT_EQ(Tips(ui().ListValuesSortie), std::vector<std::string>{"0 entités"});
}

TEST_F(GradesFileTest, SavedGradesLoadBackIntoTheLists) {
    Add({"Forêt"}, 6);
    Add({"Prairie", ""}, 3);
    const std::string path = m_dir.file("notes.txt");
    m_ui->saveFileAnswers.push_back(path);
    m_dialog->mnu_save_grades_Click();
    EXPECT_EQ(ReadText(path), "->3\nForêt->6\nPrairie->3\n");
    EXPECT_TRUE(test::TemporariesIn(m_dir.path()).empty());

    // On a fresh list: the entries come back, their values leave the value
    // list, a later line for a value wins over the list and over an earlier
    // line, and a value the field lacks is kept (its tooltip says 0).
    SelectTexts(ui().ListValuesSortie, {"->3", "Forêt->6", "Prairie->3"});
    ui().Cmd_Sub->click();
    Choose("parcelles", "NATURE");
    Add({"Bâti"}, 1);
    WriteText(path,
              "\xEF\xBB\xBF"
              "Bâti->2\r\nForêt->6\r\n\r\nLande->4\r\nForêt->5\r\n");
    m_ui->openFileAnswers.push_back(path);
    m_dialog->mnu_load_grades_Click();
    EXPECT_TRUE(Prompts().empty());
    EXPECT_EQ(Texts(ui().ListValuesSortie),
              (std::vector<std::string>{"Bâti->2", "Forêt->5", "Lande->4"}));
    EXPECT_EQ(Texts(ui().ListValuesEntree), (std::vector<std::string>{"", "Prairie"}));
    EXPECT_EQ(Tips(ui().ListValuesSortie),
              (std::vector<std::string>{"1 entité", "3 entités", "0 entités"}));

    // Cancelled dialogs change nothing.
    m_dialog->mnu_load_grades_Click();
    m_dialog->mnu_save_grades_Click();
    EXPECT_EQ(ui().ListValuesSortie->count(), 3);
}

TEST_F(GradesFileTest, AFileThatCannotBeUsedChangesNothing) {
    Add({"Forêt"}, 6);
    std::string many;
    for (int i = 0; i < 101; ++i) many += "v" + std::to_string(i) + "->1\n";
    struct Case {
        const char* name;
        std::string content;
        bool missing;
        std::string message;
    } cases[] = {
        {"no such file", "", true, "Ce fichier de notes ne peut pas être chargé"},
        {"a line without a grade", "Forêt->6\nLande\n", false, "notes.txt:2: \"Lande\" is not"},
        {"a grade of 7", "Lande->7\n", false, "notes.txt:1:"},
        {"not UTF-8", "For\xEAt->6\n", false, "not UTF-8"},
        {"more than 101 values", many, false, "il y en aurait 102"},
    };
    const std::string path = m_dir.file("notes.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_ui->clear();
        fs::remove(path);
        if (!c.missing) WriteText(path, c.content);
        m_ui->openFileAnswers.push_back(path);
        m_dialog->mnu_load_grades_Click();
        const auto messages = Prompts();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_NE(messages[0].find(c.message), std::string::npos) << messages[0];
        EXPECT_EQ(Texts(ui().ListValuesSortie), std::vector<std::string>{"Forêt->6"});
        EXPECT_EQ(ui().ListValuesEntree->count(), 3);
    }

    // A save that cannot be made says so and leaves no file behind.
    m_ui->clear();
    const std::string noFolder = m_dir.file("none/notes.txt");
    m_ui->saveFileAnswers.push_back(noFolder);
    m_dialog->mnu_save_grades_Click();
    ASSERT_EQ(Prompts().size(), 1u);
    EXPECT_EQ(Prompts()[0].rfind("Les valeurs notées n'ont pas pu être enregistrées :", 0), 0u);
    EXPECT_FALSE(fs::exists(noFolder));
}

}  // namespace
}  // namespace vark::test
