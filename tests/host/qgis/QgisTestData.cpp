#include "QgisTestData.h"

#include <gtest/gtest.h>
#include <qgslayertree.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

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

}  // namespace vark::qgis::testing
