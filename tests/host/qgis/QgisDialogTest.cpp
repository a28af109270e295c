// The dialog inside QGIS: the sample parcels as a layer of the project, the
// criterion computed from the dialog through the QGIS host, and the very
// layer object of the project showing the new field and its values without
// being reloaded.

#include <qgsfeatureiterator.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "criterion/CriterionComputation.h"
#include "host/qgis/QgisApplication.h"
#include "testing/DialogTestSupport.h"
#include "testing/QgisTestData.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;

fs::path SampleFolder() {
    const char* data = std::getenv("VARK_TEST_DATA");
    return fs::path(data ? data : "data") / "sample";
}

/// What a dBASE table keeps of a double: its text with 15 decimals.
double AsDbfText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15f", value);
    return std::strtod(text, nullptr);
}

class QgisDialogTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
            fs::copy_file(SampleFolder() / (std::string("parcelles") + ext),
                          m_dir.path() / (std::string("parcelles") + ext));
        }
        qgis::testing::ClearProject();
        m_layer =
            qgis::testing::AddProjectLayer((m_dir.path() / "parcelles.shp").string(), "parcelles");
        ASSERT_TRUE(m_layer);
        g_pApplication() = qgis::CreateQgisApplication(nullptr);
    }

    void TearDown() override {
        DialogTest::TearDown();
        qgis::testing::ClearProject();
    }

    void Grade(const std::map<std::string, int>& grades) {
        for (const auto& [value, grade] : grades) {
            if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
            SelectTexts(ui().ListValuesEntree, {value});
            ASSERT_EQ(ui().ListValuesEntree->selectedItems().size(), 1) << value;
            ui().Cmd_Add->click();
        }
    }

    QgsVectorLayer* m_layer = nullptr;
    const std::map<std::string, int> m_grades = {
        {"Forêt", 6}, {"Prairie", 4}, {"Terre arable", 3}, {"Zone humide", 1}, {"Bâti", 0}};
};

TEST_F(QgisDialogTest, ProjectLayerShowsTheNewCriterionAtOnce) {
    OpenDialog();
    ASSERT_EQ(Texts(ui().Lst_shapes), std::vector<std::string>{"parcelles"});
    Choose("parcelles", "NATURE");
    ASSERT_EQ(Texts(ui().Lst_fields), (std::vector<std::string>{"NATURE", "COMMUNE"}));
    Grade(m_grades);
    ui().cmd_go->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{Text(162)});

    // The layer object the project held all along, not a reloaded one.
    ASSERT_EQ(QgsProject::instance()->mapLayersByName("parcelles").value(0), m_layer);
    const int target = m_layer->fields().indexFromName("FZY_NATURE");
    ASSERT_GE(target, 0) << "the project's layer does not show the new field";
    EXPECT_EQ(m_layer->fields().at(target).type(), QVariant::Double);
    const int source = m_layer->fields().indexFromName("NATURE");
    QgsFeatureIterator it = m_layer->getFeatures();
    QgsFeature feature;
    int features = 0;
    int graded = 0;
    while (it.nextFeature(feature)) {
        ++features;
        const QVariant nature = feature.attribute(source);
        double expected = 0.0;
        if (!nature.isNull()) {
            if (auto g = m_grades.find(nature.toString().toStdString()); g != m_grades.end()) {
                expected =
                    static_cast<double>(*MembershipDegree(g->second, MembershipScale::Seven));
                ++graded;
            }
        }
        const QVariant written = feature.attribute(target);
        ASSERT_FALSE(written.isNull()) << features;
        EXPECT_EQ(written.toDouble(), AsDbfText(expected))
            << features << " " << nature.toString().toStdString();
    }
    EXPECT_EQ(features, 30);
    EXPECT_GT(graded, 0);
    EXPECT_TRUE(fs::exists(m_dir.path() / "parcelles.fzy"));
}

TEST_F(QgisDialogTest, RefusesWhileALayerOfTheProjectIsEdited) {
    ASSERT_TRUE(m_layer->startEditing());
    OpenDialog();
    Choose("parcelles", "NATURE");
    Grade({{"Forêt", 6}});
    ui().cmd_go->click();
    EXPECT_EQ(Prompts(), std::vector<std::string>{Text(133)});
    m_layer->rollBack();
    EXPECT_LT(m_layer->fields().indexFromName("FZY_NATURE"), 0);
    EXPECT_LT(m_layer->dataProvider()->fields().indexFromName("FZY_NATURE"), 0);
}

TEST_F(QgisDialogTest, OpenedShapefileBecomesAProjectLayer) {
    m_ui->openFileAnswers.push_back((m_dir.path() / "parcelles.shp").string());
    OpenDialog();
    ui().cmd_open_shape->click();
    EXPECT_EQ(Texts(ui().Lst_shapes), (std::vector<std::string>{"parcelles", "parcelles"}));
    const auto layers = QgsProject::instance()->mapLayersByName("parcelles");
    ASSERT_EQ(layers.size(), 2);
    auto* opened = qobject_cast<QgsVectorLayer*>(layers.value(0) == m_layer ? layers.value(1)
                                                                            : layers.value(0));
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->providerType(), QStringLiteral("ogr"));
    EXPECT_EQ(opened->featureCount(), 30);
    EXPECT_TRUE(ErrorReport().empty()) << ErrorReport();
}

}  // namespace
}  // namespace vark::test
