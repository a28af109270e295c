// A layer whose texts are stored in an undeclared encoding: the value lists
// show them decoded and keep each value as the layer holds it, so that a
// graded entry matches the very bytes it was listed from; an entry loaded
// from a grades file matches every form that reads as it.

#include <QCheckBox>
#include <QLineEdit>
#include <filesystem>
#include <fstream>

#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

class LayerTextTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        // Windows-1252 "Forêt" twice, UTF-8 "Forêt" once, Windows-1252 "Étang".
        m_fc = AddParcels({"For\xEAt", "Prairie", "For\xEAt", "Forêt", "\xC9tang", Value{}});
        m_fc->setTextEncoding(host::TextEncoding::kUndeclared);
        OpenDialog();
        Choose("parcelles", "NATURE");
    }

    static std::vector<std::string> LayerTexts(const QListWidget* list) {
        std::vector<std::string> out;
        for (int i = 0; i < list->count(); ++i) {
            out.push_back(
                list->item(i)->data(frm_CritereTexte::kLayerTextRole).toByteArray().toStdString());
        }
        return out;
    }

    static std::vector<std::string> Tips(const QListWidget* list) {
        std::vector<std::string> out;
        for (int i = 0; i < list->count(); ++i)
            out.push_back(list->item(i)->toolTip().toStdString());
        return out;
    }

    /// Moves the entries at `rows` of the value list to the graded list.
    void GradeRows(const std::vector<int>& rows, int grade) {
        if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
        ui().ListValuesEntree->clearSelection();
        for (int row : rows) ui().ListValuesEntree->item(row)->setSelected(true);
        ui().Cmd_Add->click();
    }

    std::shared_ptr<FakeFeatureClass> m_fc;
};

TEST_F(LayerTextTest, ListedValuesAreShownDecodedAndMatchTheirOwnBytes) {
    ASSERT_EQ(Texts(ui().ListValuesEntree),
              (std::vector<std::string>{"Étang", "Forêt", "Forêt", "Prairie"}));
    EXPECT_EQ(LayerTexts(ui().ListValuesEntree),
              (std::vector<std::string>{"\xC9tang", "For\xEAt", "Forêt", "Prairie"}));
    EXPECT_EQ(Tips(ui().ListValuesEntree),
              (std::vector<std::string>{"1 entité", "2 entités", "1 entité", "1 entité"}));

    // The bytes travel with the entry, there and back again.
    GradeRows({1}, 2);
    ui().ListValuesSortie->item(0)->setSelected(true);
    ui().Cmd_Sub->click();
    EXPECT_EQ(LayerTexts(ui().ListValuesEntree),
              (std::vector<std::string>{"\xC9tang", "Forêt", "For\xEAt", "Prairie"}));
    GradeRows({2}, 6);
    GradeRows({0}, 3);
    EXPECT_EQ(Texts(ui().ListValuesSortie), (std::vector<std::string>{"Étang->3", "Forêt->6"}));
    EXPECT_EQ(LayerTexts(ui().ListValuesSortie),
              (std::vector<std::string>{"\xC9tang", "For\xEAt"}));
    EXPECT_EQ(Tips(ui().ListValuesSortie), (std::vector<std::string>{"1 entité", "2 entités"}));

    ui().cmd_go->click();
    ASSERT_EQ(Prompts(), std::vector<std::string>{Text(162)});
    // The UTF-8 "Forêt" was not graded: it keeps 0.
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>{1.0, 0.0, 1.0, 0.0, 0.5, 0.0}));
    EXPECT_EQ(DialogState().gValueTexts[1], "Forêt");
}

TEST_F(LayerTextTest, AGradesFileEntryMatchesEveryFormOfItsValue) {
    const std::string path = m_dir.file("notes.txt");
    std::ofstream(path) << "Forêt->4\nÉtang->6\n";
    m_ui->openFileAnswers.push_back(path);
    m_dialog->mnu_load_grades_Click();
    ASSERT_TRUE(Prompts().empty());
    EXPECT_EQ(Texts(ui().ListValuesSortie), (std::vector<std::string>{"Étang->6", "Forêt->4"}));
    EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"Prairie"});
    EXPECT_EQ(Tips(ui().ListValuesSortie), (std::vector<std::string>{"1 entité", "3 entités"}));

    ui().cmd_go->click();
    ASSERT_EQ(Prompts(), std::vector<std::string>{Text(162)});
    const Value good = static_cast<double>(0.67F);
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>{good, 0.0, good, good, 1.0, 0.0}));
}

// "Reprendre la notation d'un critère…": the grading and the scale of a
// criterion the layer records, back in the lists; told when there is none.
TEST_F(LayerTextTest, ARecordedGradingIsTakenAgain) {
    m_dialog->mnu_like_grades_Click();
    ASSERT_EQ(Prompts(),
              std::vector<std::string>{Text(311).replace(Text(311).find("%1"), 2, "parcelles")});
    m_ui->clear();
    ui().Option2->setChecked(true);
    GradeRows({1}, 6);  // Forêt as the layer holds it twice
    GradeRows({0}, 2);  // Étang
    ui().cmd_go->click();
    ASSERT_EQ(Prompts(), std::vector<std::string>{Text(162)});

    m_ui->clear();
    Choose("parcelles", "NATURE");
    ui().Option3->setChecked(true);
    ASSERT_EQ(ui().ListValuesSortie->count(), 0);
    m_ui->choiceAnswers.push_back(0);
    m_dialog->mnu_like_grades_Click();
    ASSERT_TRUE(Prompts().empty());
    std::vector<std::string> offered;
    for (const UiCall& call : m_ui->calls) {
        if (call.kind == UiCallKind::AskChoice) offered = call.items;
    }
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].rfind("FZY_NATURE (", 0), 0u) << offered[0];
    EXPECT_TRUE(ui().Option2->isChecked());
    // As a grades file's entries: every form of "Forêt" leaves the value list.
    EXPECT_EQ(Texts(ui().ListValuesSortie), (std::vector<std::string>{"Étang->2", "Forêt->6"}));
    EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"Prairie"});
}

// Bytes listed from one layer mean nothing on another, whose texts may be
// stored otherwise: there the entry matches by the text it shows. A graded
// value the chosen layer lacks is named before anything is written.
TEST_F(LayerTextTest, EntriesOfAnotherLayerMatchByTheirTextAndMissingOnesAreTold) {
    auto utf8 = AddParcels({"Forêt", "Lande"}, "cadastre");
    OpenDialog();
    Choose("cadastre", "NATURE");
    GradeRows({0, 1}, 6);  // Forêt and Lande, as the UTF-8 layer holds them
    Choose("parcelles", "NATURE");
    ASSERT_EQ(Texts(ui().ListValuesSortie), (std::vector<std::string>{"Forêt->6", "Lande->6"}));
    // Counted on this layer as its texts read.
    EXPECT_EQ(Tips(ui().ListValuesSortie), (std::vector<std::string>{"3 entités", "0 entités"}));

    const std::string told = Text(290).replace(Text(290).find("%1"), 2, "parcelles") +
                             "\r\n    Lande\r\n\r\n" + Text(291);
    m_ui->msgBoxAnswers.push_back(MsgResult::No);
    ui().cmd_go->click();
    ASSERT_EQ(Prompts(), std::vector<std::string>{told});
    EXPECT_EQ(m_ui->messages()[0].buttons, MsgButtons::YesNo);
    EXPECT_LT(m_fc->GetFields().FindFieldIndex("FZY_NATURE"), 0);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("parcelles.fzy")));
    EXPECT_EQ(ui().ListValuesSortie->count(), 2);
    EXPECT_EQ(m_ui->busyDepth, 0);

    m_ui->clear();
    m_ui->msgBoxAnswers.push_back(MsgResult::Yes);
    ui().cmd_go->click();
    ASSERT_EQ(Prompts(), (std::vector<std::string>{told, Text(162)}));
    // Every form of "Forêt" the layer holds: Windows-1252 twice, UTF-8 once.
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>{1.0, 0.0, 1.0, 1.0, 0.0, 0.0}));
    EXPECT_LT(utf8->GetFields().FindFieldIndex("FZY_NATURE"), 0);
}

}  // namespace
}  // namespace vark::test
