#include "plugin/qgis/ProcessingRun.h"

#include <qgsvectorlayer.h>

#include <memory>
#include <utility>

#include "host/qgis/QgisApplication.h"
#include "host/qgis/QgisData.h"
#include "support/Failure.h"

namespace vark::qgis {

CriterionRun RunLayerCriterion(QgsVectorLayer& layer, CriterionRequest request,
                               std::int32_t& marker) {
    marker = 1;
    auto featureClass = std::make_shared<QgisFeatureClass>(&layer);
    const std::string layerPath = featureClass->GetWorkspace()->GetWorkspacePath();
    // A server's table is named as the GDAL host names it: Processing may
    // run on a layer of its own, which no project layer name finds.
    const std::string layerName =
        IsPostgresLayer(layer) ? DescribeSource(layer).className : layer.name().toStdString();
    request.featureClass = std::move(featureClass);
    // The dialog's guard: the editor of the QGIS host sees every layer of
    // the project.
    const auto application = CreateQgisApplication(nullptr);
    return RunCriterionComputation(*application, layerPath, layerName, request, marker);
}

}  // namespace vark::qgis
