// The "Calculer" button: what it refuses, what it writes, how it reports.

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <filesystem>

#include "testing/DialogTestSupport.h"
#include "testing/FzyTestSupport.h"

namespace vark::test {
namespace {

class ComputeTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        m_fc = AddParcels({"Forêt", "forêt", " Forêt", "", std::monostate{}, "Prairie", "Bâti"},
                          "parcelles.shp");
        OpenDialog();
        Choose("parcelles.shp", "NATURE");
    }

    void Grade(const std::vector<std::string>& values, int grade) {
        if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
        SelectTexts(ui().ListValuesEntree, values);
        ui().Cmd_Add->click();
    }

    std::string FzyFile() const { return m_dir.file("parcelles.fzy"); }

    std::shared_ptr<FakeFeatureClass> m_fc;
};

TEST_F(ComputeTest, WritesDegreesRecordsTheCriterionAndResetsTheLists) {
    Grade({"Forêt"}, 4);
    Grade({""}, 6);
    Grade({"Prairie"}, 2);
    ui().Option2->click();  // 5 levels: grade 4 is 0.75, grade 2 is 0.25
    ui().cmd_go->click();

    ASSERT_EQ(Prompts(), std::vector<std::string>{Text(162)});
    EXPECT_EQ(m_ui->messages()[0].icon, MsgIcon::None);
    EXPECT_EQ(m_fc->column("FZY_NATURE"),
              (std::vector<Value>{0.75, 0.0, 0.0, 1.0, 0.0, 0.25, 0.0}));
    EXPECT_EQ(ui().ListValuesEntree->count(), 0);
    EXPECT_EQ(ui().ListValuesSortie->count(), 0);
    EXPECT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"NATURE", "CODE"}));
    EXPECT_TRUE(ui().Lst_fields->selectedItems().isEmpty());
    EXPECT_EQ(ui().Txt_new_name->text(), "FZY_NATURE");
    EXPECT_TRUE(ui().Option2->isChecked());
    EXPECT_EQ(m_ui->busyDepth, 0);

    const auto& state = DialogState();
    EXPECT_EQ(state.gLayerName, "parcelles");
    EXPECT_EQ(state.gValueCount, 3);
    EXPECT_EQ(state.gValueTexts[0], "");
    EXPECT_EQ(state.gValueGrades[0], 6.0F);
    EXPECT_EQ(state.gValueTexts[1], "Forêt");
    EXPECT_EQ(state.gValueGrades[1], 4.0F);
    EXPECT_EQ(state.gValueTexts[2], "Prairie");

    ASSERT_TRUE(std::filesystem::exists(FzyFile()));
    EXPECT_TRUE(FzyState().path.empty());
    m_description->SetInfoText("");
    std::string path = m_dir.path().string();
    std::string layer = "parcelles";
    fzy_io_open(path, layer);
    EXPECT_TRUE(fzy_io_numberinfo("FZY_NATURE"));
    fzy_io_close();
    EXPECT_NE(m_description->text().find("FZY_NATURE"), std::string::npos);
}

TEST_F(ComputeTest, RunDropsRecordsOfFieldsTheChosenLayerNoLongerHas) {
    // The layer is shown as "parcelles.shp", its file named "parcelles.fzy":
    // the check is made on the chosen layer's own fields, not on a layer
    // looked up again by the file's name.
    WriteBytes(FzyFile(), Header(0, 2, 0) + Kind2("CODE") + Kind2("FZY_OLD"));
    Grade({"Forêt"}, 6);
    ui().cmd_go->click();
    ASSERT_EQ(Prompts(), std::vector<std::string>{Text(162)});
    std::string path = m_dir.path().string();
    std::string layer = "parcelles";
    fzy_io_open(path, layer);
    EXPECT_EQ(FzyState().Kind2Count, 2);
    EXPECT_TRUE(fzy_io_numberinfo("CODE"));
    EXPECT_FALSE(fzy_io_numberinfo("FZY_OLD"));
    EXPECT_TRUE(fzy_io_numberinfo("FZY_NATURE"));
    fzy_io_close();
}

TEST_F(ComputeTest, RefusalsChangeNothing) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        int text;
        bool fileOpened;
    };
    const Case cases[] = {
        {"no source field", [this] { ui().Lst_fields->clearSelection(); }, 131, false},
        {"host editing", [this] { m_app->editor().setEditState(host::kEditStateEditing); }, 133,
         true},
        {"grade the scale lacks",
         [this] {
             Grade({"Bâti"}, 4);
             ui().Option1->click();
         },
         171, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        std::filesystem::remove(FzyFile());
        Grade({"Forêt"}, 6);
        c.arrange();
        const auto graded = Texts(ui().ListValuesSortie);
        ui().cmd_go->click();
        ASSERT_EQ(m_ui->messages().size(), 1u);
        EXPECT_EQ(m_ui->messages()[0].icon, MsgIcon::Critical);
        EXPECT_EQ(m_ui->messages()[0].prompt.rfind(Text(c.text), 0), 0u);
        EXPECT_FALSE(Text(c.text).empty());
        EXPECT_EQ(m_fc->addFieldCalls(), 0);
        EXPECT_EQ(m_fc->storedRows(), 0);
        EXPECT_EQ(Texts(ui().ListValuesSortie), graded);
        // Opened or not, the criterion file is only written with a record.
        EXPECT_FALSE(std::filesystem::exists(FzyFile())) << c.fileOpened;
        EXPECT_TRUE(FzyState().path.empty()) << "criterion file left open";
        EXPECT_EQ(m_ui->busyDepth, 0);
        TearDown();
    }
}

TEST_F(ComputeTest, UndefinedGradeMessageNamesTheValues) {
    Grade({"Forêt", "Prairie"}, 5);
    Grade({"Bâti"}, 6);
    ui().Option2->click();
    ui().cmd_go->click();
    ASSERT_EQ(Prompts().size(), 1u);
    EXPECT_EQ(Prompts()[0], Text(171) + "\r\nForêt\r\nPrairie");
}

TEST_F(ComputeTest, ErrorsAreReportedWithTheirStageAndCloseTheFile) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string debug;
    };
    const Case cases[] = {
        {"102 graded values",
         [this] {
             for (int i = 0; i < 102; ++i) ui().ListValuesSortie->addItem(QString("V%1->3").arg(i));
         },
         "Debug=1"},
        {"source field gone",
         [this] {
             ui().Lst_fields->addItem("DISPARU");
             ui().Lst_fields->setCurrentRow(ui().Lst_fields->count() - 1);
         },
         "Debug=41"},
        {"short name already taken",
         [this] {
             m_fc->addField("CRIT", host::kFieldDouble);
             ui().Txt_new_name->setText("CRIT");
         },
         "Debug=42"},
        {"layer gone from its place", [this] { m_app->focusMap()->removeLayer(0); }, "Debug=1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        Grade({"Forêt"}, 6);
        c.arrange();
        const auto graded = Texts(ui().ListValuesSortie);
        ui().cmd_go->click();
        const std::string report = ErrorReport();
        EXPECT_NE(report.find("cmd_go_Click"), std::string::npos) << report;
        EXPECT_NE(report.find("\r\n" + c.debug + "\r\n"), std::string::npos) << report;
        EXPECT_EQ(Texts(ui().ListValuesSortie), graded);
        EXPECT_TRUE(FzyState().path.empty()) << "criterion file left open";
        EXPECT_EQ(m_ui->busyDepth, 0);
        EXPECT_FALSE(m_dialog->isRunning());
        for (auto* w : {static_cast<QWidget*>(ui().cmd_go), static_cast<QWidget*>(ui().Lst_fields)})
            EXPECT_TRUE(w->isEnabled());
        TearDown();
    }
}

TEST_F(ComputeTest, FailurePartWayKeepsTheListsAndWritesNoRecord) {
    m_fc->setTransactional(true);
    m_fc->setFailOnStore(4);
    Grade({"Forêt"}, 6);
    ui().cmd_go->click();
    EXPECT_NE(ErrorReport().find("Debug=42"), std::string::npos);
    EXPECT_EQ(m_fc->rollbacks(), 1);
    for (const auto& v : m_fc->column("FZY_NATURE")) EXPECT_TRUE(host::IsNull(v));
    EXPECT_EQ(Texts(ui().ListValuesSortie), std::vector<std::string>{"Forêt->6"});
    std::string path = m_dir.path().string();
    std::string layer = "parcelles";
    fzy_io_open(path, layer);
    EXPECT_EQ(FzyState().Kind2Count, 0);
    fzy_io_close();
}

}  // namespace
}  // namespace vark::test
