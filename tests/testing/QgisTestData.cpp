#include "QgisTestData.h"

#include <cpl_conv.h>
#include <gtest/gtest.h>
#include <qgslayertree.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include <optional>

namespace vark::qgis::testing {

std::string SourceOf(const std::filesystem::path& path, const std::string& layer) {
    if (path.extension() == ".shp") {
        return path.string();
    }
    return path.string() + "|layername=" + layer;
}

QgsVectorLayer* AddProjectLayer(const std::string& source, const std::string& name) {
    auto* layer = new QgsVectorLayer(QString::fromStdString(source), QString::fromStdString(name),
                                     QStringLiteral("ogr"));
    if (!layer->isValid()) {
        delete layer;
        ADD_FAILURE() << "QGIS cannot open " << source;
        return nullptr;
    }
    QgsProject::instance()->addMapLayer(layer, false);
    QgsProject::instance()->layerTreeRoot()->addLayer(layer);
    return layer;
}

void ClearProject() {
    QgsProject::instance()->clear();
}

void WriteLayer(const std::string& driver, const std::filesystem::path& path,
                const std::string& layer, const std::vector<vark::testing::FieldSpec>& fields,
                const std::vector<vark::testing::FeatureSpec>& features) {
    struct Recoding {
        Recoding() {
            if (const char* value = CPLGetConfigOption("SHAPE_ENCODING", nullptr)) {
                saved = value;
            }
            CPLSetConfigOption("SHAPE_ENCODING", nullptr);
        }
        ~Recoding() {
            if (saved) {
                CPLSetConfigOption("SHAPE_ENCODING", saved->c_str());
            }
        }
        std::optional<std::string> saved;
    } recoding;
    vark::testing::WriteLayer(driver, path, layer, fields, features);
}

}  // namespace vark::qgis::testing
