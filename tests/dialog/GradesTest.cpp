// Grade boxes, level options and the two arrow buttons.

#include <QCheckBox>
#include <QRadioButton>

#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

class GradesTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        AddParcels({"Forêt", "Prairie", "Bâti", "A->2", "", "Verger"});
        OpenDialog();
        Choose("parcelles", "NATURE");
    }

    std::vector<int> Ticked() {
        std::vector<int> out;
        for (int i = 0; i < 7; ++i)
            if (m_dialog->Chk_premiere(i)->isChecked()) out.push_back(i);
        return out;
    }
    std::vector<int> Shown() {
        std::vector<int> out;
        for (int i = 0; i < 7; ++i)
            if (!m_dialog->Chk_premiere(i)->isHidden()) out.push_back(i);
        return out;
    }
    void Add(const std::vector<std::string>& values) {
        SelectTexts(ui().ListValuesEntree, values);
        ui().Cmd_Add->click();
    }
    void Sub(const std::vector<std::string>& entries) {
        SelectTexts(ui().ListValuesSortie, entries);
        ui().Cmd_Sub->click();
    }
};

TEST_F(GradesTest, AtMostOneBoxIsTickedAndTheClickedOneKeepsItsState) {
    struct Step {
        int click;
        std::vector<int> ticked;
        int grade;
    };
    const Step steps[] = {
        {4, {4}, 4}, {3, {3}, 3}, {3, {}, 0}, {6, {6}, 6}, {0, {0}, 0}, {1, {1}, 1},
    };
    EXPECT_EQ(m_dialog->CurrentGrade(), 0);
    for (const auto& s : steps) {
        m_dialog->Chk_premiere(s.click)->click();
        EXPECT_EQ(Ticked(), s.ticked) << "after clicking " << s.click;
        EXPECT_EQ(m_dialog->CurrentGrade(), s.grade);
    }
}

TEST_F(GradesTest, LevelOptionsShowTheirBoxesWithoutUntickingHiddenOnes) {
    struct Case {
        QRadioButton* option;
        std::vector<int> shown;
    };
    const Case cases[] = {
        {ui().Option1, {0, 3, 6}},
        {ui().Option2, {0, 2, 3, 4, 6}},
        {ui().Option3, {0, 1, 2, 3, 4, 5, 6}},
    };
    m_dialog->Chk_premiere(5)->click();
    for (const auto& c : cases) {
        c.option->click();
        EXPECT_TRUE(c.option->isChecked());
        EXPECT_EQ(Shown(), c.shown);
        EXPECT_EQ(ui().Option1->isChecked() + ui().Option2->isChecked() + ui().Option3->isChecked(),
                  1);
        EXPECT_EQ(Ticked(), std::vector<int>{5});
    }
    // "Très bon" ticked, then hidden by the 3-level option: still grade 5.
    ui().Option1->click();
    Add({"Forêt"});
    EXPECT_EQ(Texts(ui().ListValuesSortie), std::vector<std::string>{"Forêt->5"});
}

TEST_F(GradesTest, ArrowsMoveSelectedValuesWithTheirGradeAndBackInPlace) {
    Add({});
    EXPECT_EQ(ui().ListValuesSortie->count(), 0);
    EXPECT_EQ(ui().ListValuesEntree->count(), 6);

    Add({"Forêt"});
    m_dialog->Chk_premiere(4)->click();
    Add({"Prairie", "Verger", "A->2"});
    m_dialog->Chk_premiere(6)->click();
    Add({""});
    EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"Bâti"});
    EXPECT_EQ(Texts(ui().ListValuesSortie),
              (std::vector<std::string>{"->6", "A->2->4", "Forêt->0", "Prairie->4", "Verger->4"}));

    Sub({"A->2->4", "->6", "Prairie->4"});
    EXPECT_EQ(Texts(ui().ListValuesEntree),
              (std::vector<std::string>{"", "A->2", "Bâti", "Prairie"}));
    EXPECT_EQ(Texts(ui().ListValuesSortie), (std::vector<std::string>{"Forêt->0", "Verger->4"}));
}

TEST_F(GradesTest, ValuesListedAgainCanBeGradedTwice) {
    Add({"Forêt"});
    ReleaseOver(ui().Lst_fields, RowOf(ui().Lst_fields, "NATURE"));
    m_dialog->Chk_premiere(3)->click();
    Add({"Forêt"});
    EXPECT_EQ(Texts(ui().ListValuesSortie), (std::vector<std::string>{"Forêt->0", "Forêt->3"}));
    Sub({"Forêt->0", "Forêt->3"});
    const auto in = Texts(ui().ListValuesEntree);
    EXPECT_EQ(std::count(in.begin(), in.end(), "Forêt"), 2);
}

}  // namespace
}  // namespace vark::test
