// Start-up of the dialog: the controls of the design, the layers it lists,
// and its error message.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include "testing/DialogTestSupport.h"

namespace vark::test {
namespace {

using host::fake::FakeFeatureLayer;
using host::fake::FakeGroupLayer;
using host::fake::FakeLayer;

class StartupTest : public DialogTest {};

TEST_F(StartupTest, ControlsCarryTheirNamesKindsTagsAndDesignState) {
    auto& dlg = OpenDialog();
    struct Tagged {
        const char* name;
        const char* tag;
    };
    const Tagged tagged[] = {
        {"Label1", "120"},         {"cmd_open_shape", "123"}, {"Label4", "163"},
        {"CheckFields", "164"},    {"Label2", "121"},         {"sum_table", "124"},
        {"Label3", "122"},         {"Label5", "167"},         {"Label6", "168"},
        {"cmd_sortie", "118"},     {"cmd_go", "127"},         {"Chk_premiere_0", "166"},
        {"Chk_premiere_1", "110"}, {"Chk_premiere_2", "109"}, {"Chk_premiere_3", "108"},
        {"Chk_premiere_4", "107"}, {"Chk_premiere_5", "106"}, {"Chk_premiere_6", "165"},
    };
    for (const auto& t : tagged) {
        auto* w = dlg.findChild<QWidget*>(t.name);
        ASSERT_NE(w, nullptr) << t.name;
        EXPECT_EQ(w->property("tag").toString().toStdString(), t.tag) << t.name;
    }
    EXPECT_EQ(dlg.property("tag").toString(), "119");
    for (const char* name : {"Frame1", "Option1", "Option2", "Option3", "Cmd_Add", "Cmd_Sub",
                             "Listlang", "Txt_new_name", "Lst_shapes"}) {
        auto* w = dlg.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_FALSE(w->property("tag").isValid()) << name;
    }
    EXPECT_EQ(ui().Lst_shapes->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(ui().Lst_fields->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(ui().List1->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(ui().ListValuesEntree->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(ui().ListValuesSortie->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(ui().Listlang->isEditable());
    EXPECT_TRUE(ui().Option3->isChecked());
    EXPECT_FALSE(ui().CheckFields->isChecked());
    EXPECT_EQ(ui().Frame1->title().toStdString(), "Nombre de niveaux de satisfaction");
    EXPECT_EQ(ui().Cmd_Add->text(), ">>");
    EXPECT_EQ(ui().Cmd_Sub->text(), "<<");
    for (int i = 0; i < 7; ++i) {
        EXPECT_FALSE(dlg.Chk_premiere(i)->isChecked());
        EXPECT_FALSE(dlg.Chk_premiere(i)->isHidden());
    }
    EXPECT_EQ(dlg.Chk_premiere(7), nullptr);
    EXPECT_EQ(dlg.palette().color(QPalette::Window), QColor(128, 128, 255));
    EXPECT_EQ(ui().Label1->palette().color(QPalette::Window), QColor(128, 128, 255));
    // Captions of the current language, with the blank before the picture.
    EXPECT_EQ(dlg.windowTitle().toStdString(), Text(119));
    EXPECT_EQ(ui().cmd_go->text().toStdString(), " " + Text(127));
    EXPECT_EQ(ui().cmd_sortie->text().toStdString(), " " + Text(118));
    EXPECT_FALSE(ui().cmd_go->icon().isNull());
}

TEST_F(StartupTest, TabOrderFollowsTheDesign) {
    auto& dlg = OpenDialog();
    const char* order[] = {
        "cmd_open_shape",   "sum_table",      "cmd_sortie",     "cmd_go",
        "Lst_shapes",       "Lst_fields",     "Txt_new_name",   "ListValuesEntree",
        "ListValuesSortie", "Cmd_Add",        "Cmd_Sub",        "Option1",
        "Option2",          "Option3",        "Chk_premiere_4", "Chk_premiere_3",
        "Chk_premiere_2",   "Chk_premiere_1", "Chk_premiere_0", "Chk_premiere_5",
        "Chk_premiere_6",   "List1",          "CheckFields",    "Listlang"};
    QWidget* w = dlg.findChild<QWidget*>(order[0]);
    for (std::size_t i = 1; i < std::size(order); ++i) {
        // Labels, frames and inner widgets (viewports, the combo box's line
        // edit) are in the chain too, but take no focus.
        QWidget* next = w->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus || next->objectName().isEmpty() ||
               next->objectName().startsWith("qt_"))
            next = next->nextInFocusChain();
        EXPECT_EQ(next->objectName().toStdString(), order[i]) << "after " << order[i - 1];
        w = next;
    }
}

TEST_F(StartupTest, ListsSelectablePolygonLayersOfTheTopLevelOutsidePersonalGeodatabases) {
    auto mdbLower = m_app->addWorkspace("/data/base.mdb", host::kWorkspaceLocalDatabase);
    auto mdbUpper = m_app->addWorkspace("/data/BASE.MDB", host::kWorkspaceLocalDatabase);
    auto poly = [&](const std::shared_ptr<FakeWorkspace>& ws, const std::string& name) {
        return ws->createFeatureClass(name, host::kShapePolygon, {});
    };
    m_app->addFeatureLayer("parcelles", poly(m_workspace, "parcelles"));
    m_app->addFeatureLayer("routes",
                           m_workspace->createFeatureClass("routes", host::kShapePolyline, {}));
    m_app->addFeatureLayer("cachée", poly(m_workspace, "cachee"), /*selectable=*/false);
    m_app->addFeatureLayer("dans_mdb", poly(mdbLower, "dans_mdb"));
    m_app->addFeatureLayer("dans_MDB", poly(mdbUpper, "dans_MDB"));
    auto group = std::make_shared<FakeGroupLayer>("groupe");
    group->addLayer(std::make_shared<FakeFeatureLayer>("dans_groupe", poly(m_workspace, "g")));
    m_app->focusMap()->AddLayer(group);
    m_app->focusMap()->AddLayer(std::make_shared<FakeLayer>("raster"));
    m_app->addFeatureLayer("parcelles", poly(m_workspace, "parcelles2"));

    OpenDialog();
    EXPECT_EQ(Texts(ui().Lst_shapes),
              (std::vector<std::string>{"parcelles", "dans_MDB", "parcelles"}));
    EXPECT_EQ(ui().Lst_shapes->selectedItems().size(), 0);
    EXPECT_TRUE(Prompts().empty());
    for (auto* list : {ui().Lst_fields, ui().List1, ui().ListValuesEntree, ui().ListValuesSortie})
        EXPECT_EQ(list->count(), 0);
    EXPECT_TRUE(ui().Txt_new_name->text().isEmpty());
}

TEST_F(StartupTest, ErrorStopsTheListingWithItsMarker) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string suffix;
    };
    const Case cases[] = {
        {"no application", [] { g_pApplication().reset(); }, " Debug =  dans form_load"},
        {"no focus map", [this] { m_app->document()->setFocusMap(nullptr); },
         " Debug =  dans form_load"},
        {"layer without feature class",
         [this] {
             m_app->addFeatureLayer(
                 "premier", m_workspace->createFeatureClass("premier", host::kShapePolygon, {}));
             m_app->addFeatureLayer("vide", nullptr);
         },
         " Debug = 6 dans form_load"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.arrange();
        OpenDialog();
        const auto prompts = Prompts();
        ASSERT_EQ(prompts.size(), 1u);
        EXPECT_TRUE(prompts[0].ends_with(c.suffix)) << prompts[0];
        EXPECT_EQ(prompts[0].rfind(std::to_string(err::kObjectVariableNotSet) + "  ", 0), 0u);
        EXPECT_EQ(m_ui->messages()[0].title, "");
        // The window still opens with what was filled in.
        EXPECT_EQ(ui().cmd_go->text().toStdString(), " " + Text(127));
        if (std::string(c.what) == "layer without feature class") {
            EXPECT_EQ(Texts(ui().Lst_shapes), std::vector<std::string>{"premier"});
        }
        TearDown();
    }
}

TEST_F(StartupTest, LayerChoiceOutlivesTheWindowWhileItsListsDoNot) {
    AddParcels({"Forêt"});
    OpenDialog();
    Choose("parcelles", "NATURE");
    ASSERT_EQ(DialogState().gLayerName, "parcelles");
    ui().cmd_sortie->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(m_dialog.isNull());

    OpenDialog();
    EXPECT_EQ(Texts(ui().Lst_shapes), std::vector<std::string>{"parcelles"});
    EXPECT_EQ(ui().Lst_fields->count(), 0);
    EXPECT_EQ(ui().ListValuesEntree->count(), 0);
    EXPECT_EQ(DialogState().gLayerName, "parcelles");
    EXPECT_EQ(DialogState().gLayerPath, m_dir.path().string());
    EXPECT_EQ(DialogState().gLayerKind, "shp");
}

}  // namespace
}  // namespace vark::test
