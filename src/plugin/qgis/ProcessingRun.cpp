#include "plugin/qgis/ProcessingRun.h"

#include <qgsvectorlayer.h>

#include <memory>
#include <utility>

#include "criterion/CriterionUseCases.h"
#include "host/qgis/QgisApplication.h"
#include "host/qgis/QgisData.h"
#include "support/Failure.h"

namespace vark::qgis {

CriterionRun RunLayerCriterion(QgsVectorLayer& layer, CriterionRequest request,
                               std::int32_t& marker) {
    marker = 1;
    // A server's table is named as the GDAL host names it: Processing may
    // run on a layer of its own, which no project layer name finds.
    const std::string layerName =
        IsPostgresLayer(layer) ? DescribeSource(layer).className : layer.name().toStdString();
    const CriterionTarget target =
        ResolveTarget(std::make_shared<QgisFeatureClass>(&layer), layerName);
    // The dialog's guard: the editor of the QGIS host sees every layer of
    // the project.
    const auto application = CreateQgisApplication(nullptr);
    return ComputeOn(*application, target, std::move(request), marker);
}

}  // namespace vark::qgis
