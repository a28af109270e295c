// The "Méta données" button: the description of a field from the criterion
// file, or text 153.

#include <QCheckBox>
#include <filesystem>

#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

class SummaryTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        AddParcels({"Forêt", "Prairie"}, "parcelles.shp");
        OpenDialog();
    }

    /// Computes FZY_NATURE on the layer, then chooses the layer again so that
    /// List1 lists the new field.
    void CreateCriterion() {
        Choose("parcelles.shp", "NATURE");
        SelectTexts(ui().ListValuesEntree, {"Forêt"});
        ui().Cmd_Add->click();
        ui().cmd_go->click();
        m_ui->clear();
        ReleaseOver(ui().Lst_shapes, 0);
    }

    void Summarise(const std::string& field) {
        SelectTexts(ui().List1,
                    field.empty() ? std::vector<std::string>{} : std::vector<std::string>{field});
        ui().sum_table->click();
    }
};

TEST_F(SummaryTest, BeforeAnyLayerShowsText153AndCreatesNoFile) {
    ui().sum_table->click();
    EXPECT_EQ(m_description->text(), Text(153));
    EXPECT_EQ(m_description->shown(), 1);
    EXPECT_TRUE(Prompts().empty());
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path()));
    EXPECT_FALSE(std::filesystem::exists(".fzy"));
    EXPECT_FALSE(std::filesystem::exists("/.fzy"));
}

TEST_F(SummaryTest, DescribesACreatedFieldAndOnlyThat) {
    CreateCriterion();
    ASSERT_EQ(Texts(ui().List1), (std::vector<std::string>{"SURF", "FZY_NATURE"}));
    struct Case {
        std::string field;
        bool described;
    };
    const Case cases[] = {{"FZY_NATURE", true}, {"SURF", false}, {"", false}};
    int shown = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        m_description->SetInfoText("stale");
        Summarise(c.field);
        EXPECT_EQ(m_description->shown(), ++shown);
        if (c.described) {
            EXPECT_EQ(m_description->text().rfind(Text(147) + " FZY_NATURE(", 0), 0u)
                << m_description->text();
        } else {
            EXPECT_EQ(m_description->text(), Text(153));
        }
        EXPECT_TRUE(FzyState().path.empty()) << "criterion file left open";
    }
    EXPECT_TRUE(Prompts().empty());
}

TEST_F(SummaryTest, NamesTheFileAfterTheLayerWithoutItsShapefileSuffix) {
    ReleaseOver(ui().Lst_shapes, 0);
    ASSERT_EQ(DialogState().gLayerName, "parcelles.shp");
    Summarise("SURF");
    EXPECT_EQ(DialogState().gLayerName, "parcelles");
    // Describing reads: no criterion file is created for asking.
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("parcelles.fzy")));
    EXPECT_EQ(m_description->text(), Text(153));
}

TEST_F(SummaryTest, ErrorIsShownWithItsMarkerAndNoWindow) {
    ReleaseOver(ui().Lst_shapes, 0);
    DialogState().gLayerPath = m_dir.file("absent");
    Summarise("SURF");
    ASSERT_EQ(Prompts().size(), 1u);
    EXPECT_TRUE(Prompts()[0].ends_with(" Sum_table Debug=1")) << Prompts()[0];
    EXPECT_EQ(m_description->shown(), 0);
}

}  // namespace
}  // namespace vark::test
