// "vark:textcriterion" inside a headless QGIS: the same degrees and the same
// criterion record as the dialog's "Calculer" on the same data, the dialog's
// refusals with nothing changed, a cancel before the run with nothing
// changed, and the layer drawn by the new field. File layers take the
// command line's routes: the same table bytes as the GDAL host writes, the
// whole table whatever the layer's filter, every project layer on the table
// shown the new field, a cancel up to the commit leaving every file as it
// was.

#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <qgsapplication.h>
#include <qgsfeatureiterator.h>
#include <qgsgeometry.h>
#include <qgsgraduatedsymbolrenderer.h>
#include <qgsprocessingalgorithm.h>
#include <qgsprocessingcontext.h>
#include <qgsprocessingfeedback.h>
#include <qgsprocessingregistry.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "criterion/CriterionComputation.h"
#include "criterion/CriterionRun.h"
#include "criterion_file/FzyLayout.h"
#include "host/ogr/OgrApplication.h"
#include "host/qgis/QgisApplication.h"
#include "plugin/qgis/TextCriterionAlgorithm.h"
#include "plugin/qgis/VarkProcessingProvider.h"
#include "testing/DialogTestSupport.h"
#include "testing/OgrTestData.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;
using fzy::DecodeKind2;
using fzy::EncodeKind2;
using fzy::FzyLayout;
using fzy::Kind2Record;
using fzy::ReadFzyLayout;
using qgis::GradedEntriesOfMatrix;

fs::path SampleFolder() {
    const char* data = std::getenv("VARK_TEST_DATA");
    return fs::path(data ? data : VARK_DIALOG_TEST_DATA) / "sample";
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

/// Every file of `folder` with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = Bytes(entry.path());
    }
    return files;
}

/// The kind-2 records of a criterion file, without their creation dates.
std::vector<Kind2Record> Records(const fs::path& fzy) {
    const std::string file = Bytes(fzy);
    const FzyLayout layout = ReadFzyLayout(file);
    EXPECT_TRUE(layout.damage.empty()) << layout.damage;
    std::vector<Kind2Record> records;
    for (const auto& frame : layout.records) {
        Kind2Record record = DecodeKind2(file, frame);
        record.created = 0;
        records.push_back(record);
    }
    return records;
}

/// Feature id -> (source text, degree) of a layer's data.
std::map<QgsFeatureId, std::pair<QString, QVariant>> Degrees(QgsVectorLayer& layer,
                                                             const QString& field) {
    std::map<QgsFeatureId, std::pair<QString, QVariant>> out;
    const int source = layer.fields().indexFromName(QStringLiteral("NATURE"));
    const int target = layer.fields().indexFromName(field);
    EXPECT_GE(target, 0) << "the layer does not show " << field.toStdString();
    QgsFeatureIterator it = layer.getFeatures();
    QgsFeature feature;
    while (it.nextFeature(feature)) {
        out[feature.id()] = {feature.attribute(source).toString(),
                             target >= 0 ? feature.attribute(target) : QVariant()};
    }
    return out;
}

class RecordingFeedback : public QgsProcessingFeedback {
public:
    void reportError(const QString& error, bool) override { errors << error; }
    void pushInfo(const QString& info) override { infos << info; }
    void pushWarning(const QString& warning) override { warnings << warning; }
    QStringList errors;
    QStringList infos;
    QStringList warnings;
};

/// Cancels once the pass has reported its progress `after` times.
class CancellingFeedback : public RecordingFeedback {
public:
    explicit CancellingFeedback(int after) : m_after(after) {
        connect(this, &QgsFeedback::progressChanged, this, [this] {
            if (++m_reports >= m_after) cancel();
        });
    }

private:
    int m_after;
    int m_reports = 0;
};

/// What a run may change of the data at `data`: a shapefile's files byte
/// for byte; a GeoPackage's fields and values (its bytes change as soon as
/// QGIS opens it) and its criterion file.
std::map<std::string, std::string> Contents(const fs::path& data) {
    if (data.extension() != ".gpkg") return Snapshot(data.parent_path());
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::directory_iterator(data.parent_path())) {
        if (entry.path().extension() == ".fzy") {
            contents[entry.path().filename().string()] = Bytes(entry.path());
        }
    }
    for (const std::string& field : vark::testing::ReadFieldNames(data, "parcelles")) {
        std::string column;
        for (const host::Value& value : vark::testing::ReadColumn(data, "parcelles", field)) {
            column += host::ValueToText(value) + (host::IsNull(value) ? "<null>|" : "|");
        }
        contents["field " + field] = column;
    }
    return contents;
}

/// The criterion computed by the GDAL host, as `vark-fuzzy compute` runs it.
void ComputeWithGdal(const fs::path& data, const std::map<std::string, int>& grades) {
    auto application = ogr::CreateOgrApplication();
    ogr::AddDataSource(*application,
                       {data.string(), data.extension() == ".gpkg" ? "parcelles" : ""});
    auto layer = std::dynamic_pointer_cast<host::FeatureLayer>(
        application->GetDocument()->GetFocusMap()->GetMapLayer(0));
    ASSERT_TRUE(layer);
    CriterionRequest request;
    request.featureClass = layer->GetFeatureClass();
    request.sourceField = "NATURE";
    request.typedName = "FZY_NATURE";
    for (const auto& [value, grade] : grades) request.gradedEntries.push_back({value, grade});
    std::int32_t marker = 0;
    const std::string workspace = request.featureClass->GetWorkspace()->GetWorkspacePath();
    RunCriterionComputation(*application, workspace, "parcelles", request, marker);
}

class ProcessingAlgorithmTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        InitLanguage();
        QgsProject::instance()->clear();
        auto* registry = QgsApplication::processingRegistry();
        if (!registry->providerById(QStringLiteral("vark"))) {
            registry->addProvider(new qgis::VarkProcessingProvider());
        }
        g_pApplication() = qgis::CreateQgisApplication(nullptr);
    }
    void TearDown() override {
        DialogTest::TearDown();
        QgsProject::instance()->clear();
    }

    /// The sample parcels as a shapefile in folder `name`, or as the
    /// GeoPackage `name`.gpkg (layer "parcelles").
    fs::path MakeData(const std::string& name, bool geopackage) {
        const fs::path folder = m_dir.path() / name;
        fs::create_directories(folder);
        if (!geopackage) {
            for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
                fs::copy_file(SampleFolder() / (std::string("parcelles") + ext),
                              folder / (std::string("parcelles") + ext));
            }
            return folder / "parcelles.shp";
        }
        const fs::path target = folder / (name + ".gpkg");
        GDALDatasetH source = GDALOpenEx((SampleFolder() / "parcelles.shp").c_str(), GDAL_OF_VECTOR,
                                         nullptr, nullptr, nullptr);
        char* args[] = {const_cast<char*>("-f"), const_cast<char*>("GPKG"), nullptr};
        GDALVectorTranslateOptions* options = GDALVectorTranslateOptionsNew(args, nullptr);
        GDALDatasetH made =
            GDALVectorTranslate(target.c_str(), nullptr, 1, &source, options, nullptr);
        GDALVectorTranslateOptionsFree(options);
        EXPECT_TRUE(made) << "cannot write " << target;
        GDALClose(made);
        GDALClose(source);
        return target;
    }

    QgsVectorLayer* AddLayer(const fs::path& data) {
        QString source = QString::fromStdString(data.string());
        if (data.extension() == ".gpkg") source += QStringLiteral("|layername=parcelles");
        auto* layer =
            new QgsVectorLayer(source, QStringLiteral("parcelles"), QStringLiteral("ogr"));
        EXPECT_TRUE(layer->isValid()) << data;
        QgsProject::instance()->addMapLayer(layer);
        return layer;
    }

    void DialogRun(const std::map<std::string, int>& grades) {
        OpenDialog();
        Choose("parcelles", "NATURE");
        for (const auto& [value, grade] : grades) {
            if (!m_dialog->Chk_premiere(grade)->isChecked()) m_dialog->Chk_premiere(grade)->click();
            SelectTexts(ui().ListValuesEntree, {value});
            ui().Cmd_Add->click();
        }
        ui().cmd_go->click();
        EXPECT_EQ(Prompts(), std::vector<std::string>{Text(162)}) << ErrorReport();
        delete m_dialog.data();
    }

    static QVariantList Matrix(const std::map<std::string, int>& grades) {
        QVariantList cells;
        for (const auto& [value, grade] : grades) {
            cells << QString::fromStdString(value) << grade;
        }
        return cells;
    }

    /// Runs the algorithm; false when it failed (the reason in `feedback`).
    bool Run(QVariantMap parameters, RecordingFeedback& feedback) {
        std::unique_ptr<QgsProcessingAlgorithm> algorithm(
            QgsApplication::processingRegistry()->createAlgorithmById(
                QStringLiteral("vark:textcriterion")));
        EXPECT_TRUE(algorithm);
        if (!algorithm) return false;
        QgsProcessingContext context;
        context.setProject(QgsProject::instance());
        bool ok = false;
        m_outputs = algorithm->run(parameters, context, &feedback, &ok);
        return ok;
    }

    QVariantMap m_outputs;
    const std::map<std::string, int> m_grades = {
        {"Forêt", 6}, {"Prairie", 4}, {"Terre arable", 3}, {"Zone humide", 1}, {"Bâti", 0}};
};

TEST_F(ProcessingAlgorithmTest, SameDegreesAndRecordAsTheDialog) {
    for (const bool geopackage : {false, true}) {
        SCOPED_TRACE(geopackage ? "GeoPackage" : "shapefile");
        QgsProject::instance()->clear();
        m_ui->clear();
        const fs::path byDialog = MakeData(geopackage ? "dialog" : "dialog_shp", geopackage);
        const fs::path byAlgorithm =
            MakeData(geopackage ? "algorithm" : "algorithm_shp", geopackage);
        const auto fzyOf = [](const fs::path& data) {
            return data.extension() == ".gpkg"
                       ? data.parent_path() / (data.filename().string() + ".parcelles.fzy")
                       : data.parent_path() / "parcelles.fzy";
        };

        QgsVectorLayer* dialogLayer = AddLayer(byDialog);
        DialogRun(m_grades);
        const auto expected = Degrees(*dialogLayer, QStringLiteral("FZY_NATURE"));
        QgsProject::instance()->clear();

        QgsVectorLayer* layer = AddLayer(byAlgorithm);
        RecordingFeedback feedback;
        ASSERT_TRUE(Run({{"INPUT", layer->id()},
                         {"FIELD", "NATURE"},
                         {"GRADES", Matrix(m_grades)},
                         {"STYLE", false}},
                        feedback))
            << feedback.errors.join("\n").toStdString();
        EXPECT_EQ(m_outputs.value("FIELD_NAME").toString(), QStringLiteral("FZY_NATURE"));
        EXPECT_EQ(m_outputs.value("OUTPUT").toString(), layer->id());
        EXPECT_EQ(Degrees(*layer, QStringLiteral("FZY_NATURE")), expected);
        ASSERT_EQ(expected.size(), 30u);
        if (!geopackage) {
            EXPECT_EQ(Bytes(byAlgorithm.parent_path() / "parcelles.dbf"),
                      Bytes(byDialog.parent_path() / "parcelles.dbf"));
        }

        auto dialogRecords = Records(fzyOf(byDialog));
        auto algorithmRecords = Records(fzyOf(byAlgorithm));
        ASSERT_EQ(dialogRecords.size(), 1u);
        ASSERT_EQ(algorithmRecords.size(), 1u);
        const std::string workspace =
            geopackage ? byAlgorithm.string() : byAlgorithm.parent_path().string();
        EXPECT_EQ(algorithmRecords[0].workspacePath, workspace);
        dialogRecords[0].workspacePath = workspace;
        EXPECT_EQ(EncodeKind2(algorithmRecords[0]), EncodeKind2(dialogRecords[0]));

        // The counts per graded value go to the log, after the field's name.
        EXPECT_EQ(feedback.infos.value(0), QStringLiteral("FZY_NATURE"));
        EXPECT_TRUE(feedback.infos.value(1).endsWith(QString::fromUtf8("\tBâti->0")))
            << feedback.infos.join(" | ").toStdString();
    }
}

TEST_F(ProcessingAlgorithmTest, RefusalsAndCancelChangeNothing) {
    const fs::path data = MakeData("refusals", false);
    const fs::path folder = data.parent_path();
    QgsVectorLayer* layer = AddLayer(data);
    const QVariantMap base = {{"INPUT", layer->id()},
                              {"FIELD", "NATURE"},
                              {"GRADES", Matrix({{"Forêt", 6}})},
                              {"STYLE", false}};
    const auto with = [&base](const QVariantMap& changes) {
        QVariantMap parameters = base;
        for (auto it = changes.begin(); it != changes.end(); ++it) {
            parameters.insert(it.key(), it.value());
        }
        return parameters;
    };

    struct Case {
        const char* what;
        QVariantMap parameters;
        std::string message;  // the start of the error
        bool edit = false;
        bool cancel = false;
    } cases[] = {
        {"grade 1 under 3 levels", with({{"GRADES", Matrix({{"Prairie", 1}})}, {"LEVELS", 0}}),
         Text(171)},
        {"a grade that is no digit 0 to 6", with({{"GRADES", QVariantList{"Forêt", 7}}}),
         Text(212)},
        {"a value without its grade", with({{"GRADES", QVariantList{"Forêt"}}}), Text(212)},
        {"not a text field", with({{"FIELD", "SURF_M2"}}), Text(131)},
        {"more than 101 entries", {}, "Error#9"},
        {"an edit session of the project", base, Text(133), true},
        {"cancelled before the run", base, Text(211), false, true},
    };
    QVariantList many;
    for (int k = 0; k < 102; ++k) many << QStringLiteral("v%1").arg(k) << 6;
    cases[4].parameters = with({{"GRADES", many}});

    for (int pass = 0; pass < 2; ++pass) {
        // First on data without a criterion file, then once one exists.
        const auto before = Snapshot(folder);
        const int fieldsBefore = layer->fields().count();
        for (auto& c : cases) {
            SCOPED_TRACE(c.what);
            if (c.edit) {
                ASSERT_TRUE(layer->startEditing());
            }
            RecordingFeedback feedback;
            if (c.cancel) feedback.cancel();
            EXPECT_FALSE(Run(c.parameters, feedback));
            if (c.edit) {
                layer->rollBack();
            }
            ASSERT_FALSE(feedback.errors.isEmpty());
            EXPECT_NE(feedback.errors.join("\n").indexOf(QString::fromStdString(c.message)), -1)
                << feedback.errors.join("\n").toStdString();
            EXPECT_EQ(Snapshot(folder), before) << "the data changed";
            EXPECT_EQ(layer->fields().count(), fieldsBefore);
        }
        EXPECT_TRUE(m_ui->messages().empty()) << "Processing shows no message box";
        if (pass == 0) {
            EXPECT_FALSE(fs::exists(folder / "parcelles.fzy"));
            RecordingFeedback feedback;
            ASSERT_TRUE(Run(with({{"NAME", "FZY_FIRST"}}), feedback));
            ASSERT_TRUE(fs::exists(folder / "parcelles.fzy"));
        }
    }
}

// A grades file instead of the matrix: the same degrees as the command
// line's; the log ends with the recipe and the layer's metadata history
// tells the run.
TEST_F(ProcessingAlgorithmTest, AGradesFileTheRecipeInTheLogAndTheLayersHistory) {
    QgsProject::instance()->clear();
    const fs::path byGdal = MakeData("gdal_file", true);
    const fs::path byAlgorithm = MakeData("qgis_file", true);
    ComputeWithGdal(byGdal, m_grades);
    const fs::path grades = byAlgorithm.parent_path() / "grades.txt";
    {
        std::ofstream out(grades);
        for (const auto& [value, grade] : m_grades) {
            out << value << "->" << grade << "\n";
        }
    }
    QgsVectorLayer* layer = AddLayer(byAlgorithm);
    RecordingFeedback feedback;
    ASSERT_TRUE(Run({{"INPUT", layer->id()},
                     {"FIELD", "NATURE"},
                     {"GRADES_FILE", QString::fromStdString(grades.string())},
                     {"STYLE", false}},
                    feedback))
        << feedback.errors.join("\n").toStdString();
    EXPECT_EQ(vark::testing::ReadColumn(byAlgorithm, "parcelles", "FZY_NATURE"),
              vark::testing::ReadColumn(byGdal, "parcelles", "FZY_NATURE"));
    const QString log = feedback.infos.join(QLatin1Char('\n'));
    EXPECT_TRUE(log.contains(QString::fromUtf8(
        "Critère FZY_NATURE : attribut NATURE de la couche parcelles, échelle à 7 niveaux")))
        << log.toStdString();
    EXPECT_TRUE(feedback.infos.constLast().endsWith(QString::fromUtf8("\tZone humide")))
        << log.toStdString();
    const QStringList history = layer->metadata().history();
    ASSERT_EQ(history.size(), 1);
    EXPECT_TRUE(history.front().contains(QStringLiteral("FZY_NATURE")))
        << history.front().toStdString();
}

TEST_F(ProcessingAlgorithmTest, FileLayersTakeTheCommandLinesRoute) {
    for (const bool geopackage : {false, true}) {
        SCOPED_TRACE(geopackage ? "GeoPackage" : "shapefile");
        QgsProject::instance()->clear();
        const fs::path byGdal = MakeData(geopackage ? "gdal" : "gdal_shp", geopackage);
        const fs::path byAlgorithm = MakeData(geopackage ? "qgis" : "qgis_shp", geopackage);
        ComputeWithGdal(byGdal, m_grades);

        // The algorithm runs on a filtered layer while another layer of the
        // project reads the same table, one of its reads left open.
        QgsVectorLayer* all = AddLayer(byAlgorithm);
        QgsVectorLayer* forest = AddLayer(byAlgorithm);
        ASSERT_TRUE(forest->setSubsetString(QString::fromUtf8("\"NATURE\" = 'Forêt'")));
        const long long forests = forest->featureCount();
        ASSERT_LT(forests, 30);
        QgsFeatureIterator reading = all->getFeatures();
        QgsFeature first;
        ASSERT_TRUE(reading.nextFeature(first));
        RecordingFeedback feedback;
        ASSERT_TRUE(Run({{"INPUT", forest->id()},
                         {"FIELD", "NATURE"},
                         {"GRADES", Matrix(m_grades)},
                         {"STYLE", false}},
                        feedback))
            << feedback.errors.join("\n").toStdString();
        int rest = 0;
        for (QgsFeature f; reading.nextFeature(f);) ++rest;
        EXPECT_EQ(rest, 29) << "the read left open goes on";
        reading.close();

        // The whole table, the same values as the GDAL host's.
        const std::string table = geopackage ? "parcelles" : "parcelles";
        EXPECT_EQ(vark::testing::ReadColumn(byAlgorithm, table, "FZY_NATURE"),
                  vark::testing::ReadColumn(byGdal, table, "FZY_NATURE"));
        EXPECT_EQ(vark::testing::ReadColumn(byAlgorithm, table, "FZY_NATURE").size(), 30u);
        if (!geopackage) {
            EXPECT_EQ(Bytes(byAlgorithm.parent_path() / "parcelles.dbf"),
                      Bytes(byGdal.parent_path() / "parcelles.dbf"));
        }
        // Both project layers show the field at once, the filter kept.
        EXPECT_GE(all->fields().indexFromName(QStringLiteral("FZY_NATURE")), 0);
        EXPECT_GE(forest->fields().indexFromName(QStringLiteral("FZY_NATURE")), 0);
        EXPECT_EQ(Degrees(*all, QStringLiteral("FZY_NATURE")).size(), 30u);
        EXPECT_EQ(forest->featureCount(), forests);
        EXPECT_EQ(forest->subsetString(), QString::fromUtf8("\"NATURE\" = 'Forêt'"));
    }
}

TEST_F(ProcessingAlgorithmTest, FileRouteStopsAtACancelAndAtAnotherLayersEdits) {
    for (const bool geopackage : {false, true}) {
        SCOPED_TRACE(geopackage ? "GeoPackage" : "shapefile");
        QgsProject::instance()->clear();
        const fs::path data = MakeData(geopackage ? "cancel" : "cancel_shp", geopackage);
        QgsVectorLayer* layer = AddLayer(data);
        const QVariantMap parameters = {{"INPUT", layer->id()},
                                        {"FIELD", "NATURE"},
                                        {"GRADES", Matrix(m_grades)},
                                        {"STYLE", false}};
        // A first criterion, so that the criterion file exists as well.
        RecordingFeedback first;
        ASSERT_TRUE(Run(parameters, first)) << first.errors.join("\n").toStdString();
        const auto before = Contents(data);
        const int fields = layer->fields().count();
        QVariantMap second = parameters;
        second.insert("NAME", "FZY_SECOND");

        // Cancelled once the pass is written, before its commit.
        CancellingFeedback cancelling(1);
        EXPECT_FALSE(Run(second, cancelling));
        EXPECT_NE(cancelling.errors.join("\n").indexOf(QString::fromStdString(Text(211))), -1)
            << cancelling.errors.join("\n").toStdString();
        EXPECT_TRUE(cancelling.warnings.isEmpty()) << "nothing is noted as too late";
        EXPECT_TRUE(Contents(data) == before) << "the data changed";
        EXPECT_EQ(layer->fields().count(), fields);

        // Another layer on the table, filtered, in an edit session.
        QgsVectorLayer* edited = AddLayer(data);
        ASSERT_TRUE(edited->setSubsetString(QStringLiteral("\"INDICE\" > 0.5")));
        ASSERT_TRUE(edited->startEditing());
        RecordingFeedback refused;
        EXPECT_FALSE(Run(second, refused));
        edited->rollBack();
        EXPECT_NE(refused.errors.join("\n").indexOf(QString::fromStdString(Text(133))), -1)
            << refused.errors.join("\n").toStdString();
        EXPECT_TRUE(Contents(data) == before) << "the data changed";
    }
}

TEST_F(ProcessingAlgorithmTest, OtherProvidersThroughTheEditBufferOrRefused) {
    // A GeoJSON file: the field and its values in one commit of the layer's
    // edit buffer; a cancel before it leaves the file as it was.
    const fs::path json = m_dir.path() / "geojson" / "parcelles.geojson";
    fs::create_directories(json.parent_path());
    fs::copy_file(SampleFolder() / "parcelles.geojson", json);
    auto* layer = new QgsVectorLayer(QString::fromStdString(json.string()),
                                     QStringLiteral("parcelles"), QStringLiteral("ogr"));
    ASSERT_TRUE(layer->isValid());
    QgsProject::instance()->addMapLayer(layer);
    const QVariantMap parameters = {{"INPUT", layer->id()},
                                    {"FIELD", "NATURE"},
                                    {"GRADES", Matrix({{"Forêt", 6}, {"Prairie", 4}})},
                                    {"STYLE", false}};
    const std::string before = Bytes(json);
    const int fields = layer->fields().count();
    CancellingFeedback cancelling(1);
    EXPECT_FALSE(Run(parameters, cancelling));
    EXPECT_NE(cancelling.errors.join("\n").indexOf(QString::fromStdString(Text(211))), -1)
        << cancelling.errors.join("\n").toStdString();
    EXPECT_EQ(layer->fields().count(), fields) << "the cancelled field stays out";
    EXPECT_FALSE(layer->isEditable());
    EXPECT_EQ(Bytes(json), before);

    RecordingFeedback feedback;
    ASSERT_TRUE(Run(parameters, feedback)) << feedback.errors.join("\n").toStdString();
    EXPECT_FALSE(layer->isEditable());
    int forest = 0;
    for (const auto& [id, row] : Degrees(*layer, QStringLiteral("FZY_NATURE"))) {
        const double expected = row.first == QString::fromUtf8("Forêt")  ? 1.0
                                : row.first == QStringLiteral("Prairie") ? double(0.67f)
                                                                         : 0.0;
        EXPECT_EQ(row.second.toDouble(), expected) << row.first.toStdString();
        forest += row.first == QString::fromUtf8("Forêt");
    }
    EXPECT_GT(forest, 0);
    EXPECT_TRUE(fs::exists(json.parent_path() / "parcelles.fzy"));

    // Delimited text cannot take a field: refused, nothing changed.
    const fs::path csv = m_dir.path() / "parcels.csv";
    std::ofstream(csv) << "NATURE,wkt\nForêt,\"POLYGON((0 0,1 0,1 1,0 0))\"\n";
    const std::string bytes = Bytes(csv);
    auto* text = new QgsVectorLayer(QStringLiteral("file://%1?type=csv&wktField=wkt&crs=EPSG:2154")
                                        .arg(QString::fromStdString(csv.string())),
                                    QStringLiteral("parcels"), QStringLiteral("delimitedtext"));
    ASSERT_TRUE(text->isValid());
    QgsProject::instance()->addMapLayer(text);
    const int textFields = text->fields().count();
    QVariantMap onText = parameters;
    onText.insert("INPUT", text->id());
    RecordingFeedback refused;
    EXPECT_FALSE(Run(onText, refused));
    EXPECT_NE(refused.errors.join("\n").indexOf(QStringLiteral("does not accept new fields")), -1)
        << refused.errors.join("\n").toStdString();
    EXPECT_EQ(Bytes(csv), bytes);
    EXPECT_EQ(text->fields().count(), textFields);
}

TEST_F(ProcessingAlgorithmTest, StyleDrawsTheLayerByTheNewField) {
    QgsVectorLayer* layer = AddLayer(MakeData("style", true));
    const QString before = layer->renderer()->type();
    RecordingFeedback feedback;
    ASSERT_TRUE(Run({{"INPUT", layer->id()},
                     {"FIELD", "NATURE"},
                     {"GRADES", Matrix({{"Forêt", 6}, {"Prairie", 4}})},
                     {"LEVELS", 1},
                     {"NAME", "FZY_NATURE_5"},
                     {"STYLE", false}},
                    feedback))
        << feedback.errors.join("\n").toStdString();
    EXPECT_EQ(m_outputs.value("FIELD_NAME").toString(), QStringLiteral("FZY_NATURE"))
        << "cut to 10 characters as the dialog cuts it";
    EXPECT_EQ(layer->renderer()->type(), before) << "STYLE off leaves the style alone";

    ASSERT_TRUE(Run({{"INPUT", layer->id()},
                     {"FIELD", "NATURE"},
                     {"GRADES", Matrix(m_grades)},
                     {"NAME", "FZY_NATURE_7"}},
                    feedback));
    EXPECT_EQ(m_outputs.value("FIELD_NAME").toString(), QStringLiteral("FZY_NATUR1"));
    auto* graduated = dynamic_cast<QgsGraduatedSymbolRenderer*>(layer->renderer());
    ASSERT_TRUE(graduated) << layer->renderer()->type().toStdString();
    EXPECT_EQ(graduated->classAttribute(), QStringLiteral("FZY_NATUR1"));
    ASSERT_EQ(graduated->ranges().size(), 5);
    EXPECT_EQ(graduated->ranges().first().lowerValue(), 0.0);
    EXPECT_EQ(graduated->ranges().last().upperValue(), 1.0);
    EXPECT_NE(graduated->ranges().first().symbol()->color(),
              graduated->ranges().last().symbol()->color());
}

TEST(GradedEntriesOfMatrix, RowsOfValueAndGrade) {
    struct Case {
        QVariantList cells;
        std::vector<std::string> entries;
    } cases[] = {
        {{}, {}},
        {{"Forêt", 6, "Prairie", "4"}, {"Forêt->6", "Prairie->4"}},
        {{QVariantList{"Forêt", 6}, QVariantList{"a->b", 0.0}}, {"Forêt->6", "a->b->0"}},
        {{" Forêt ", " 3 "}, {" Forêt ->3"}},
        {{QVariant(), 5, "", 1}, {"->5", "->1"}},
    };
    for (const auto& c : cases) EXPECT_EQ(GradedEntriesOfMatrix(c.cells), c.entries);
    for (const QVariantList& bad :
         {QVariantList{"Forêt"}, QVariantList{"Forêt", 7}, QVariantList{"Forêt", -1},
          QVariantList{"Forêt", 2.5}, QVariantList{"Forêt", "six"},
          QVariantList{"Forêt", QVariant()}}) {
        EXPECT_THROW(GradedEntriesOfMatrix(bad), QgsProcessingException) << bad.size();
    }
}

}  // namespace
}  // namespace vark::test
