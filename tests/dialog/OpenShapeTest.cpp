// The "Ajouter shape" button: the file dialog, the path split, the layer
// added to the map and to the list.

#include <QLineEdit>

#include "dialog/requeteur.h"
#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

class OpenShapeTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        AddParcels({"Forêt"});
        m_roads = m_workspace->createFeatureClass(
            "roads", host::kShapePolyline,
            {MakeField("TYPE", host::kFieldText), MakeField("LARGEUR", host::kFieldDouble),
             MakeField("REVET", host::kFieldText)});
        OpenDialog();
        Choose("parcelles", "NATURE");
    }
    std::string Folder() const { return m_dir.path().string(); }
    std::shared_ptr<FakeFeatureClass> m_roads;
};

TEST_F(OpenShapeTest, SplitsTheChosenPath) {
    struct Case {
        std::string path, folder, name;
    };
    const Case cases[] = {
        {"/data/roads.shp", "/data", "roads"},
        {"/data/roads.dbf", "/data", "roads"},
        {"/data/v2/Forêts.shp", "/data/v2", "Forêts"},
        {"/data/roads.shp.shp", "/data", "roads.shp"},
        {"roads.shp", "", "roads"},
        {"/r.shp", "", "r"},
    };
    for (const auto& c : cases) {
        const auto got = SplitShapefilePath(c.path);
        EXPECT_EQ(got.folder, c.folder) << c.path;
        EXPECT_EQ(got.name, c.name) << c.path;
    }
}

TEST_F(OpenShapeTest, AddsTheChosenShapefileToTheMapAndTheList) {
    for (const char* file : {"roads.shp", "roads.dbf"}) {
        SCOPED_TRACE(file);
        SetUp();
        const auto layersBefore = m_app->focusMap()->layers().size();
        m_ui->openFileAnswers.push_back(m_dir.file(file));
        ui().cmd_open_shape->click();

        const auto calls = m_ui->calls;
        auto ask = std::find_if(calls.begin(), calls.end(),
                                [](const UiCall& c) { return c.kind == UiCallKind::AskOpenFile; });
        ASSERT_NE(ask, calls.end());
        EXPECT_EQ(ask->title, "Définir le fichier shape contenant la donnée à traiter");
        EXPECT_EQ(ask->filter, "Fichiers shape (*.shp)|*.shp|Tous les fichiers (*.*)|*.*");
        EXPECT_EQ(ask->filterIndex, 1);

        EXPECT_EQ(DialogState().gShapeFolder, Folder());
        EXPECT_EQ(DialogState().gShapeName, "roads");
        EXPECT_EQ(Texts(ui().Lst_shapes), (std::vector<std::string>{"parcelles", "roads"}));
        EXPECT_EQ(ui().Lst_shapes->currentRow(), 0);
        EXPECT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"TYPE", "REVET"}));
        EXPECT_TRUE(ui().Txt_new_name->text().isEmpty());
        ASSERT_EQ(m_app->focusMap()->layers().size(), layersBefore + 1);
        EXPECT_EQ(m_app->focusMap()->layers().back()->GetLayerName(), "roads");
        EXPECT_EQ(m_app->openedShapefileFolders(), std::vector<std::string>{Folder()});
        // The chosen layer is still the earlier one.
        EXPECT_EQ(DialogState().gLayerName, "parcelles");
        EXPECT_EQ(Texts(ui().ListValuesEntree), std::vector<std::string>{"Forêt"});
        EXPECT_TRUE(Prompts().empty());
        TearDown();
    }
}

TEST_F(OpenShapeTest, CancelChangesNothing) {
    DialogState().gShapeFolder = "/ancien";
    DialogState().gShapeName = "ancien";
    ui().cmd_open_shape->click();
    EXPECT_EQ(DialogState().gShapeFolder, "");
    EXPECT_EQ(DialogState().gShapeName, "");
    EXPECT_EQ(Texts(ui().Lst_shapes), std::vector<std::string>{"parcelles"});
    EXPECT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"NATURE", "CODE"}));
    EXPECT_EQ(m_app->focusMap()->layers().size(), 1u);
    EXPECT_TRUE(m_app->openedShapefileFolders().empty());
}

TEST_F(OpenShapeTest, UnreadableFileKeepsItsEntryAddsNoLayerAndIsReported) {
    m_ui->openFileAnswers.push_back(m_dir.file("absent.shp"));
    ui().cmd_open_shape->click();
    EXPECT_EQ(Texts(ui().Lst_shapes), (std::vector<std::string>{"parcelles", "absent"}));
    EXPECT_EQ(m_app->focusMap()->layers().size(), 1u);
    const std::string report = ErrorReport();
    EXPECT_NE(report.find("cmd_open_shape_Click"), std::string::npos) << report;
    EXPECT_NE(report.find("\r\nDebug=\r\n"), std::string::npos) << report;
}

TEST_F(OpenShapeTest, OpeningTwiceGivesTwoEntriesAndTwoLayersAndTheLastIsChosen) {
    m_ui->openFileAnswers.push_back(m_dir.file("roads.shp"));
    m_ui->openFileAnswers.push_back(m_dir.file("roads.shp"));
    ui().cmd_open_shape->click();
    ui().cmd_open_shape->click();
    EXPECT_EQ(Texts(ui().Lst_shapes), (std::vector<std::string>{"parcelles", "roads", "roads"}));
    ASSERT_EQ(m_app->focusMap()->layers().size(), 3u);
    ReleaseOver(ui().Lst_shapes, 1);
    EXPECT_EQ(DialogState().gLayerIndex, 2);
    EXPECT_EQ(DialogState().gLayerName, "roads");
}

}  // namespace
}  // namespace vark::test
