#include "criterion/CriterionUseCases.h"

#include <utility>

#include "criterion/RequireObject.h"
#include "criterion_file/CriterionFileRun.h"

namespace vark {

FieldLists ListFields(host::Application& application, const CriterionTarget& target,
                      bool unitIntervalOnly, std::int32_t* marker) {
    return ListLayerFields(application, *RequireObject(target.layer, "feature layer", "ListFields"),
                           unitIntervalOnly, marker);
}

FieldValues ListValues(host::Application& application, const CriterionTarget& target,
                       const std::string& fieldName, host::ProgressFn progress) {
    return ListFieldValues(application, *RequireObject(target.layer, "feature layer", "ListValues"),
                           fieldName, std::move(progress));
}

GradingCheck CheckGrading(const std::vector<GradedEntry>& entries, MembershipScale scale) {
    GradingCheck check;
    check.tooMany = entries.size() > kMaxGradedEntries;
    check.undefined = UndefinedGradeValues(entries, scale);
    return check;
}

CriterionRun ComputeOn(host::Application& application, const CriterionTarget& target,
                       CriterionRequest request, std::int32_t& marker) {
    request.featureClass = target.featureClass;
    request.route = target.route;
    return RunCriterionComputation(application, target.workspacePath, target.layerName, request,
                                   marker);
}

FieldDescription DescribeOn(const CriterionTarget& target, const std::string& fieldName) {
    return DescribeCriterionField(target.workspacePath, target.layerName, fieldName);
}

void MaintainRecordOf(const CriterionTarget& target) {
    const auto featureClass =
        RequireObject(target.featureClass, "feature class", "MaintainRecordOf");
    const auto lock = featureClass->LockForUpdate(kLayerLockWaitMilliseconds);
    CriterionFileRun criterionFile(target.workspacePath, target.layerName, FieldsOf(featureClass));
}

}  // namespace vark
