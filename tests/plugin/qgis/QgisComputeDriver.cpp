// "vark:textcriterion" run in a headless QGIS from the command line, for the
// tests that stop QGIS during a run (fault injection, kill -9) and for the
// benchmarks: the layer is added to a project as a user adds it, then the
// algorithm runs as processing.run runs it.
//
//     vark_qgis_compute compute DATASET FIELD --grades FILE [--name NAME] [--quiet]
//     vark_qgis_compute open DATASET        (QGIS started and the layer added only)
//
// DATASET is a shapefile or a GeoPackage (its first layer). Prints the new
// field's name, then "ms <milliseconds>" of the run (layer reload included,
// start-up excluded) unless --quiet; exits 0 when the run succeeded, 1 when
// it failed (the reason on stderr), 2 on a bad command line.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <qgsapplication.h>
#include <qgsprocessingalgorithm.h>
#include <qgsprocessingcontext.h>
#include <qgsprocessingfeedback.h>
#include <qgsprocessingregistry.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/HostState.h"
#include "host/qgis/QgisApplication.h"
#include "plugin/qgis/VarkProcessingProvider.h"

namespace {

class ErrorFeedback : public QgsProcessingFeedback {
public:
    void reportError(const QString& error, bool) override {
        std::cerr << error.toStdString() << "\n";
    }
};

/// The graded entries of a grades file as the algorithm's matrix.
QVariantList GradesMatrix(const std::string& file) {
    QVariantList cells;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto arrow = line.rfind("->");
        if (arrow == std::string::npos) continue;
        cells << QString::fromStdString(line.substr(0, arrow))
              << std::atoi(line.substr(arrow + 2).c_str());
    }
    return cells;
}

/// The source of the data set's layer, and its name as QGIS names a layer
/// added from a file: the file's base name, or the table's.
std::pair<QString, QString> LayerSource(const std::string& dataset) {
    QString source = QString::fromStdString(dataset);
    QString name = QFileInfo(source).completeBaseName();
    if (source.endsWith(QLatin1String(".gpkg"), Qt::CaseInsensitive)) {
        GDALDatasetUniquePtr ds(GDALDataset::Open(dataset.c_str(), GDAL_OF_VECTOR));
        if (ds && ds->GetLayerCount() > 0) {
            name = QString::fromUtf8(ds->GetLayer(0)->GetName());
            source += QStringLiteral("|layername=") + name;
        }
    }
    return {source, name};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string grades;
    std::string name;
    bool quiet = false;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--grades" && i + 1 < args.size()) {
            grades = args[++i];
        } else if (args[i] == "--name" && i + 1 < args.size()) {
            name = args[++i];
        } else if (args[i] == "--quiet") {
            quiet = true;
        } else {
            positional.push_back(args[i]);
        }
    }
    const bool openOnly = positional.size() == 2 && positional[0] == "open";
    if (!openOnly && (positional.size() != 3 || positional[0] != "compute" || grades.empty())) {
        std::cerr << "usage: vark_qgis_compute compute DATASET FIELD --grades FILE [--name NAME] "
                     "[--quiet]\n";
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const char* prefix = std::getenv("QGIS_PREFIX_PATH");
    QgsApplication::setPrefixPath(prefix && *prefix ? prefix : "/usr", true);
    int status = 1;
    {
        QgsApplication app(argc, argv, false);
        QgsApplication::initQgis();
        QgsApplication::processingRegistry()->addProvider(new vark::qgis::VarkProcessingProvider());
        vark::g_pApplication() = vark::qgis::CreateQgisApplication(nullptr);
        const auto [source, layerName] = LayerSource(positional[1]);
        auto* layer = new QgsVectorLayer(source, layerName, QStringLiteral("ogr"));
        if (!layer->isValid()) {
            std::cerr << "QGIS cannot open " << positional[1] << "\n";
            delete layer;
        } else {
            QgsProject::instance()->addMapLayer(layer);
            if (openOnly) {
                status = 0;
            } else {
                std::unique_ptr<QgsProcessingAlgorithm> algorithm(
                    QgsApplication::processingRegistry()->createAlgorithmById(
                        QStringLiteral("vark:textcriterion")));
                QgsProcessingContext context;
                context.setProject(QgsProject::instance());
                ErrorFeedback feedback;
                QVariantMap parameters{{"INPUT", layer->id()},
                                       {"FIELD", QString::fromStdString(positional[2])},
                                       {"GRADES", GradesMatrix(grades)},
                                       {"NAME", QString::fromStdString(name)},
                                       {"STYLE", false}};
                QElapsedTimer timer;
                timer.start();
                bool ok = false;
                const QVariantMap outputs = algorithm->run(parameters, context, &feedback, &ok);
                const qint64 elapsed = timer.elapsed();
                if (ok) {
                    status = 0;
                    if (!quiet) {
                        std::cout << outputs.value("FIELD_NAME").toString().toStdString() << "\n"
                                  << "ms " << elapsed << "\n";
                    }
                }
            }
        }
        vark::g_pApplication().reset();
        QgsProject::instance()->clear();
        QgsApplication::exitQgis();
    }
    return status;
}
