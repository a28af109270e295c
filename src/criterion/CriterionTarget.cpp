#include "criterion/CriterionTarget.h"

#include <algorithm>
#include <utility>

#include "criterion/RequireObject.h"
#include "support/Failure.h"

namespace vark {

host::WriteRoute ChooseWriteRoute(const std::vector<host::WriteRoute>& offered) {
    using host::WriteRoute;
    for (const WriteRoute route :
         {WriteRoute::kServerTable, WriteRoute::kShapefileTable, WriteRoute::kFileTransaction,
          WriteRoute::kEditBuffer, WriteRoute::kCursor}) {
        if (std::find(offered.begin(), offered.end(), route) != offered.end()) {
            return route;
        }
    }
    throw Failure(err::kInvalidProcedureCall, "The layer offers no way to write a new field",
                  "ResolveTarget");
}

CriterionTarget ResolveTarget(std::shared_ptr<host::FeatureClass> featureClass,
                              const std::string& layerName) {
    CriterionTarget target;
    target.featureClass = RequireObject(std::move(featureClass), "feature class", "ResolveTarget");
    target.workspace =
        RequireObject(target.featureClass->GetWorkspace(), "workspace", "ResolveTarget");
    target.workspacePath = target.workspace->GetWorkspacePath();
    target.layerName = layerName;
    target.route = ChooseWriteRoute(target.featureClass->GetWriteRoutes());
    target.recordPlace = target.workspace->GetWorkspaceType() == host::kWorkspaceRemoteDatabase
                             ? RecordPlace::kWorkspace
                             : RecordPlace::kFileBesideLayer;
    return target;
}

CriterionTarget ResolveTarget(std::shared_ptr<host::FeatureLayer> layer) {
    RequireObject(layer, "feature layer", "ResolveTarget");
    CriterionTarget target = ResolveTarget(layer->GetFeatureClass(), layer->GetLayerName());
    target.layer = std::move(layer);
    return target;
}

}  // namespace vark
