// The batch subcommands against the dialog itself, on the same data: the
// same field lists, the same values in the same order, and byte-identical
// attribute values and criterion records.

#include <QCheckBox>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QRadioButton>
#include <sstream>

#include "dialog/frm_CritereTexte.h"
#include "host/HostState.h"
#include "host/ogr/OgrApplication.h"
#include "support/RecordingUi.h"
#include "testing/BatchTestSupport.h"
#include "ui_frm_CritereTexte.h"

namespace vark::test {
namespace {

std::vector<std::string> Texts(const QListWidget* list) {
    std::vector<std::string> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
    return out;
}

int RowOf(const QListWidget* list, const std::string& text) {
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().toStdString() == text) return i;
    }
    return -1;
}

/// Selects `text` and releases the mouse button over the list, as a click does.
void Click(QListWidget* list, const std::string& text) {
    list->setCurrentRow(RowOf(list, text));
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &release);
}

std::vector<std::string> OutputLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class DialogParityTest : public BatchTest {
protected:
    void TearDown() override {
        delete m_dialog.data();
        BatchTest::TearDown();
    }

    /// The dialog over `dataset`, with its (only) layer and `field` chosen.
    Ui::frm_CritereTexte& OpenOn(const fs::path& dataset, const std::string& field,
                                 bool unitInterval = false) {
        m_app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*m_app, {dataset.string(), ""});
        g_pApplication() = m_app;
        m_dialog = new frm_CritereTexte();
        Ui::frm_CritereTexte& ui = m_dialog->ui();
        ui.CheckFields->setChecked(unitInterval);
        EXPECT_EQ(ui.Lst_shapes->count(), 1);
        Click(ui.Lst_shapes, ui.Lst_shapes->item(0)->text().toStdString());
        if (!field.empty()) Click(ui.Lst_fields, field);
        return ui;
    }

    /// Grades `value` with `grade` in the open dialog.
    void Grade(const std::string& value, int grade) {
        Ui::frm_CritereTexte& ui = m_dialog->ui();
        if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
        ui.ListValuesEntree->clearSelection();
        const int row = RowOf(ui.ListValuesEntree, value);
        ASSERT_GE(row, 0) << value;
        ui.ListValuesEntree->item(row)->setSelected(true);
        ui.Cmd_Add->click();
    }

    /// Clicks Compute, which must end on "Calcul terminé." alone, then
    /// closes the dialog.
    void ComputeAndClose(Ui::frm_CritereTexte& ui) {
        ui.cmd_go->click();
        ASSERT_EQ(m_ui->messages().size(), 1u) << m_ui->messages().front().prompt;
        EXPECT_EQ(m_ui->messages().back().prompt, Text(162));
        m_ui->clear();
        CloseDialog();
    }

    /// Lets go of the dialog and the data sets, so that GDAL reads back
    /// what was written.
    void CloseDialog() {
        delete m_dialog.data();
        g_pApplication().reset();
        m_app.reset();
    }

    ScopedRecordingUi m_ui;
    std::shared_ptr<host::Application> m_app;
    QPointer<frm_CritereTexte> m_dialog;
};

TEST_F(DialogParityTest, FieldsAsTheDialogListsThem) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    for (bool unitInterval : {false, true}) {
        SCOPED_TRACE(unitInterval);
        std::vector<std::string> args = {shp.string()};
        if (unitInterval) args.push_back("--unit-interval");
        const BatchRun run = Run("fields", args);
        ASSERT_EQ(run.status, 0) << run.err;

        Ui::frm_CritereTexte& ui = OpenOn(shp, "", unitInterval);
        std::vector<std::string> expected = {Text(121) + " :"};
        for (const auto& name : Texts(ui.Lst_fields)) expected.push_back("  " + name);
        expected.push_back(Text(unitInterval ? 164 : 163) + " :");
        for (const auto& name : Texts(ui.List1)) expected.push_back("  " + name);
        EXPECT_EQ(OutputLines(run.out), expected);
        EXPECT_GT(ui.List1->count(), 0);
        CloseDialog();
    }
}

TEST_F(DialogParityTest, ValuesInTheDialogsOrder) {
    const fs::path gpkg = m_dir.path() / "values.gpkg";
    WriteNatures(gpkg, "GPKG",
                 {"étang", "Zone", "Étang", "forêt", "", std::nullopt, "Forêt", "eau", "Eau",
                  "Bâti", "batiment", "10", "9", "A->2", "forêt", "Œuvre", "oeuvre"});
    const BatchRun run = Run("values", {gpkg.string(), "NATURE"});
    ASSERT_EQ(run.status, 0) << run.err;

    Ui::frm_CritereTexte& ui = OpenOn(gpkg, "NATURE");
    const std::vector<std::string> listed = Texts(ui.ListValuesEntree);
    EXPECT_EQ(OutputLines(run.out), listed);
    ASSERT_EQ(listed.size(), 15u);  // the null is not listed, the empty text is
    EXPECT_EQ(listed.front(), "");
}

TEST_F(DialogParityTest, ComputeWritesWhatTheDialogWrites) {
    struct Case {
        const char* name;
        bool geoPackage;
        int levels;
        std::vector<std::pair<std::string, int>> grades;
    } cases[] = {
        {"shapefile, 7 levels",
         false,
         7,
         {{"Forêt", 6}, {"Prairie", 4}, {"Zone humide", 1}, {"Bâti", 0}, {"", 5}}},
        {"GeoPackage, 5 levels",
         true,
         5,
         {{"Forêt", 6}, {"Prairie", 4}, {"Terre arable", 2}, {"", 3}, {"Étang", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = m_dir.path() / (c.geoPackage ? "gpkg" : "shp");
        fs::create_directory(folder);
        const auto makeData = [&] {
            return c.geoPackage ? SampleGeoPackage(folder) : CopySampleShapefile(folder);
        };
        const fs::path dataset = makeData();
        const fs::path table = c.geoPackage ? dataset : folder / "parcelles.dbf";
        const fs::path fzy =
            c.geoPackage ? folder / "parcelles.gpkg.parcelles.fzy" : folder / "parcelles.fzy";

        std::vector<std::string> args = {dataset.string(), "NATURE", "--levels",
                                         std::to_string(c.levels)};
        for (const auto& [value, grade] : c.grades) {
            args.insert(args.end(), {"--grade", value + "->" + std::to_string(grade)});
        }
        const BatchRun run = Run("compute", args);
        ASSERT_EQ(run.status, 0) << run.err;
        const auto batchValues = ReadDoubles(dataset, "FZY_NATURE");
        const std::string batchTable = ReadBytes(table);
        const std::string batchRecord = WithoutDates(ReadBytes(fzy));

        // The same data, in the same place, through the dialog.
        fs::remove_all(folder);
        fs::create_directory(folder);
        makeData();
        Ui::frm_CritereTexte& ui = OpenOn(dataset, "NATURE");
        (c.levels == 5 ? ui.Option2 : ui.Option3)->click();
        for (const auto& [value, grade] : c.grades) Grade(value, grade);
        ASSERT_NO_FATAL_FAILURE(ComputeAndClose(ui));

        EXPECT_EQ(ReadDoubles(dataset, "FZY_NATURE"), batchValues);
        EXPECT_EQ(WithoutDates(ReadBytes(fzy)), batchRecord);
        const std::string workspace = c.geoPackage ? dataset.string() : folder.string();
        EXPECT_EQ(batchRecord.size(), 23 + 56 + 2 * 10 + workspace.size() + 9)
            << "one kind-2 record";
        if (!c.geoPackage) {
            EXPECT_EQ(ReadBytes(table), batchTable);
        }
    }
}

// A shapefile that does not declare its encoding, its texts in Windows-1252
// (some in UTF-8 too), and one whose code page byte 0x57 says "ANSI": the
// dialog lists what `values` prints and, graded by what it shows, writes
// what `compute` writes.
TEST_F(DialogParityTest, LayerEncodingsGradedAlike) {
    struct Case {
        const char* name;
        Declared declared;
        Natures natures;
        std::vector<std::pair<std::string, int>> grades;
        std::vector<double> degrees;
        std::vector<std::string> shown;
    } cases[] = {
        {"nothing declared",
         Declared::kNothing,
         {"For\xEAt", "Prairie", "\xC9tang", "For\xEAt", "Forêt", "", "Bâti"},
         {{"Forêt", 6}, {"Étang", 4}, {"", 2}},
         {1.0, 0.0, 0.67, 1.0, 1.0, 0.34, 0.0},
         {"", "Bâti", "Étang", "Forêt", "Forêt", "Prairie"}},
        {"code page byte 0x57",
         Declared::kCodePageByte,
         {"c\x9Cur", "Prairie",
          "l\x92"
          "eau",
          "c\x9Cur", "For\xEAt", "", "\x80"},
         {{"cœur", 6}, {"l’eau", 4}, {"", 2}},
         {1.0, 0.0, 0.67, 1.0, 0.0, 0.34, 0.0},
         {"", "€", "cœur", "Forêt", "l’eau", "Prairie"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = m_dir.path() / "shp";
        fs::remove_all(folder);
        fs::create_directory(folder);
        const fs::path shp = folder / "parcelles.shp";
        WriteDeclaredNatures(shp, c.natures, c.declared);

        const BatchRun values = Run("values", {shp.string(), "NATURE"});
        ASSERT_EQ(values.status, 0) << values.err;
        std::vector<std::string> args = {shp.string(), "NATURE"};
        for (const auto& [value, grade] : c.grades) {
            args.insert(args.end(), {"--grade", value + "->" + std::to_string(grade)});
        }
        const BatchRun run = Run("compute", args);
        ASSERT_EQ(run.status, 0) << run.err;
        const auto batchValues = ReadDoubles(shp, "FZY_NATURE");
        const std::string batchRecord = WithoutDates(ReadBytes(folder / "parcelles.fzy"));
        ASSERT_EQ(batchValues.size(), c.degrees.size());
        for (std::size_t k = 0; k < batchValues.size(); ++k) {
            EXPECT_NEAR(batchValues[k].value_or(-1), c.degrees[k], 1e-6) << k;
        }

        fs::remove_all(folder);
        fs::create_directory(folder);
        WriteDeclaredNatures(shp, c.natures, c.declared);
        Ui::frm_CritereTexte& ui = OpenOn(shp, "NATURE");
        EXPECT_EQ(OutputLines(values.out), Texts(ui.ListValuesEntree));
        EXPECT_EQ(Texts(ui.ListValuesEntree), c.shown);
        for (const auto& [value, grade] : c.grades) {
            // Every entry showing the value: the Windows-1252 and the UTF-8 one.
            if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
            ui.ListValuesEntree->clearSelection();
            for (int i = 0; i < ui.ListValuesEntree->count(); ++i) {
                ui.ListValuesEntree->item(i)->setSelected(ui.ListValuesEntree->item(i)->text() ==
                                                          QString::fromStdString(value));
            }
            ui.Cmd_Add->click();
        }
        ASSERT_NO_FATAL_FAILURE(ComputeAndClose(ui));

        EXPECT_EQ(ReadDoubles(shp, "FZY_NATURE"), batchValues);
        EXPECT_EQ(WithoutDates(ReadBytes(folder / "parcelles.fzy")), batchRecord);
    }
}

}  // namespace
}  // namespace vark::test
