// Layer click and field click: the fields listed, the proposed name, the
// distinct values and their order, the 100-value limit, the busy pointer.

#include <QCheckBox>
#include <QLineEdit>

#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

class ListsTest : public DialogTest {
protected:
    std::shared_ptr<FakeFeatureClass> AddMixedLayer() {
        auto fc = AddLayer(
            "mixte", {MakeField("NATURE", host::kFieldText), MakeField("SURF", host::kFieldDouble),
                      MakeField("CODE", host::kFieldText), MakeField("INDICE", host::kFieldDouble),
                      MakeField("TROP", host::kFieldSingle), MakeField("NEG", host::kFieldLong),
                      MakeField("DATE_OBS", host::kFieldDate), MakeField("Id", host::kFieldLong),
                      MakeField("gridcode", host::kFieldShort), MakeField("id", host::kFieldLong),
                      MakeField("SHAPE", host::kFieldDouble), MakeField("ID", host::kFieldText)});
        fc->addRecord({{"SURF", 12.5},
                       {"INDICE", 0.0},
                       {"TROP", 1.5},
                       {"NEG", std::int64_t{-1}},
                       {"id", std::int64_t{1}},
                       {"SHAPE", 0.5}});
        fc->addRecord({{"SURF", 0.5},
                       {"INDICE", 1.0},
                       {"TROP", 0.2},
                       {"NEG", std::int64_t{0}},
                       {"id", std::int64_t{0}},
                       {"SHAPE", 0.25}});
        return fc;
    }
};

TEST_F(ListsTest, LayerClickListsTextFieldsAndOtherFieldsWithAndWithoutTheRangeFilter) {
    AddMixedLayer();
    struct Case {
        bool checkFields;
        std::vector<std::string> list1;
    };
    const Case cases[] = {
        {false, {"SURF", "INDICE", "TROP", "NEG", "DATE_OBS", "id", "SHAPE"}},
        // Numeric fields whose values all lie in 0..1 only; no date field.
        {true, {"INDICE", "id", "SHAPE"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.checkFields ? "CheckFields ticked" : "CheckFields not ticked");
        OpenDialog();
        ui().CheckFields->setChecked(c.checkFields);
        ReleaseOver(ui().Lst_shapes, 0);
        EXPECT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"NATURE", "CODE", "ID"}));
        EXPECT_EQ(Texts(ui().List1), c.list1);
        EXPECT_EQ(m_ui->busyDepth, 0);
        EXPECT_GE(m_ui->maxBusyDepth, 1);
    }
    const auto& state = DialogState();
    EXPECT_EQ(state.gLayerName, "mixte");
    EXPECT_EQ(state.gLayerPath, m_dir.path().string());
    EXPECT_EQ(state.gLayerKind, "shp");
    EXPECT_EQ(state.gLayerIndex, 0);
}

TEST_F(ListsTest, LayerClickRecordsTheLastLayerOfThatNameAndItsKind) {
    auto gpkg = m_app->addWorkspace("/data/base.gpkg", host::kWorkspaceLocalDatabase);
    AddParcels({"A"});
    m_app->addFeatureLayer("autre",
                           m_workspace->createFeatureClass("autre", host::kShapePolygon, {}));
    m_app->addFeatureLayer("parcelles",
                           gpkg->createFeatureClass("parcelles", host::kShapePolygon,
                                                    {MakeField("TYPE", host::kFieldText),
                                                     MakeField("SURF2", host::kFieldDouble)}));
    OpenDialog();
    ASSERT_EQ(Texts(ui().Lst_shapes),
              (std::vector<std::string>{"parcelles", "autre", "parcelles"}));
    ReleaseOver(ui().Lst_shapes, 0);
    EXPECT_EQ(DialogState().gLayerIndex, 2);
    EXPECT_EQ(DialogState().gLayerKind, "gdb");
    EXPECT_EQ(DialogState().gLayerPath, "/data/base.gpkg");
    EXPECT_EQ(Texts(ui().Lst_fields), std::vector<std::string>{"TYPE"});
    EXPECT_EQ(Texts(ui().List1), (std::vector<std::string>{"SURF", "SURF2"}));
}

TEST_F(ListsTest, LayerClickWithoutSelectionOnlyEmptiesList1) {
    AddParcels({"A"});
    OpenDialog();
    Choose("parcelles", "NATURE");
    ASSERT_EQ(Texts(ui().List1), std::vector<std::string>{"SURF"});
    ReleaseOver(ui().Lst_shapes, -1);
    EXPECT_EQ(ui().List1->count(), 0);
    EXPECT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"NATURE", "CODE"}));
    EXPECT_EQ(ui().Txt_new_name->text(), "FZY_NATURE");
    EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"A"});
    EXPECT_EQ(DialogState().gLayerName, "parcelles");
}

TEST_F(ListsTest, LayerClickErrorShowsItsMarkerAndPutsThePointerBack) {
    auto fc = AddParcels({"A"});
    auto orphan = std::make_shared<FakeFeatureClass>("orphelin", host::kShapePolygon,
                                                     std::vector<host::Field>{});
    m_app->addFeatureLayer("orphelin", orphan);
    OpenDialog();
    m_ui->clear();  // the start-up stumbled on it too
    ui().Lst_shapes->addItem("orphelin");
    ReleaseOver(ui().Lst_shapes, RowOf(ui().Lst_shapes, "orphelin"));
    ASSERT_EQ(Prompts().size(), 1u);
    EXPECT_TRUE(Prompts()[0].ends_with("Debug=71")) << Prompts()[0];
    EXPECT_EQ(m_ui->messages()[0].icon, MsgIcon::None);
    EXPECT_EQ(m_ui->busyDepth, 0);
}

TEST_F(ListsTest, FieldClickProposesTheNameAndListsValuesInReadingOrder) {
    AddParcels({"Zone humide", "Forêt", "forêt", "Bâti", "Étang", "", std::monostate{}, "Prairie",
                "Forêt", "Eau", "bois", "Verger", " Forêt"});
    OpenDialog();
    Choose("parcelles", "NATURE");
    EXPECT_EQ(ui().Txt_new_name->text(), "FZY_NATURE");
    EXPECT_TRUE(Prompts().empty());
    // Accents beside their letter, case not splitting the alphabet; the
    // empty value is listed, the null is not.
    const auto values = Texts(ui().ListValuesEntree);
    ASSERT_EQ(values.size(), 11u);
    EXPECT_EQ(std::count(values.begin(), values.end(), ""), 1);
    auto pos = [&](const std::string& v) {
        return std::find(values.begin(), values.end(), v) - values.begin();
    };
    EXPECT_LT(pos("Bâti"), pos("bois"));
    EXPECT_LT(pos("bois"), pos("Eau"));
    EXPECT_LT(pos("Eau"), pos("Étang"));
    EXPECT_LT(pos("Étang"), pos("forêt"));
    EXPECT_LT(pos("Étang"), pos("Forêt"));
    EXPECT_LT(pos("Forêt"), pos("Prairie"));
    EXPECT_LT(pos("Prairie"), pos("Verger"));
    EXPECT_LT(pos("Verger"), pos("Zone humide"));
    EXPECT_EQ(m_ui->busyDepth, 0);
}

TEST_F(ListsTest, HundredValuesAreListedAndOneMoreIsRefused) {
    for (int n : {100, 101}) {
        SCOPED_TRACE(n);
        SetUp();
        std::vector<Value> values;
        for (int i = 0; i < n; ++i) values.push_back("V" + std::to_string(i));
        values.emplace_back();  // a null
        AddParcels(values);
        OpenDialog();
        ReleaseOver(ui().Lst_shapes, 0);
        ui().ListValuesEntree->addItem("ancienne");
        ReleaseOver(ui().Lst_fields, 0);
        EXPECT_EQ(ui().Txt_new_name->text(), "FZY_NATURE");
        if (n == 100) {
            EXPECT_EQ(ui().ListValuesEntree->count(), 100);
            EXPECT_TRUE(Prompts().empty());
        } else {
            EXPECT_EQ(ui().ListValuesEntree->count(), 0);
            ASSERT_EQ(Prompts().size(), 1u);
            EXPECT_EQ(Prompts()[0], "Désolé! Il y a plus de 100 valeurs uniques.");
            EXPECT_EQ(m_ui->messages()[0].title, "");
            EXPECT_EQ(m_ui->messages()[0].icon, MsgIcon::None);
        }
        EXPECT_EQ(m_ui->busyDepth, 0);
        TearDown();
    }
}

TEST_F(ListsTest, ProposedNameTakenByATextFieldIsSignalledOnce) {
    AddLayer("parcelles",
             {MakeField("NATURE", host::kFieldText), MakeField("FZY_NATURE", host::kFieldText)});
    OpenDialog();
    Choose("parcelles", "NATURE");
    ASSERT_EQ(m_ui->messages().size(), 1u);
    EXPECT_EQ(m_ui->messages()[0].prompt, Text(157));
    EXPECT_EQ(m_ui->messages()[0].title, Text(158));
    EXPECT_EQ(ui().Txt_new_name->text(), "FZY_NATURE");
}

TEST_F(ListsTest, FieldClickWithoutSelectionOrLayerLeavesTheListsAlone) {
    auto fc = AddParcels({"A", "B"});
    OpenDialog();
    Choose("parcelles", "NATURE");
    ASSERT_EQ(Texts(ui().ListValuesEntree), (std::vector<std::string>{"A", "B"}));
    ui().Txt_new_name->setText("MON_NOM");

    ReleaseOver(ui().Lst_fields, -1);
    EXPECT_EQ(ui().Txt_new_name->text(), "MON_NOM");
    EXPECT_EQ(Texts(ui().ListValuesEntree), (std::vector<std::string>{"A", "B"}));

    // The layer has left the map since it was chosen: no failure, no change.
    m_app->focusMap()->removeLayer(0);
    fc->addRecord({{"NATURE", "C"}});
    ReleaseOver(ui().Lst_fields, RowOf(ui().Lst_fields, "CODE"));
    EXPECT_EQ(ui().Txt_new_name->text(), "FZY_CODE");
    EXPECT_EQ(Texts(ui().ListValuesEntree), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(Prompts().empty());
    EXPECT_EQ(m_ui->busyDepth, 0);
}

TEST_F(ListsTest, AnotherLayerOrFieldKeepsTheGradedValues) {
    AddParcels({"A", "B"});
    AddParcels({"X"}, "autres");
    OpenDialog();
    Choose("parcelles", "NATURE");
    SelectTexts(ui().ListValuesEntree, {"A"});
    ui().Cmd_Add->click();
    ReleaseOver(ui().Lst_shapes, RowOf(ui().Lst_shapes, "autres"));
    EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"B"});
    EXPECT_EQ(Texts(ui().ListValuesSortie), std::vector<std::string>{"A->0"});
    ReleaseOver(ui().Lst_fields, RowOf(ui().Lst_fields, "NATURE"));
    EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"X"});
    EXPECT_EQ(Texts(ui().ListValuesSortie), std::vector<std::string>{"A->0"});
}

TEST_F(ListsTest, NumericValuesAreListedAsText) {
    auto fc = AddLayer("mesures", {MakeField("CLASSE", host::kFieldText)});
    fc->addRecord({{"CLASSE", "10"}});
    fc->addRecord({{"CLASSE", "9"}});
    fc->addRecord({{"CLASSE", "1.5"}});
    OpenDialog();
    Choose("mesures", "CLASSE");
    EXPECT_EQ(Texts(ui().ListValuesEntree), (std::vector<std::string>{"1.5", "10", "9"}));
}

}  // namespace
}  // namespace vark::test
