#include "dialog/CriterionRun.h"

#include "criterion_file/CriterionFileRun.h"
#include "dialog/RequireObject.h"

namespace vark {

CriterionRun RunCriterionComputation(host::Application& application,
                                     const std::string& workspacePath, const std::string& layerName,
                                     const CriterionRequest& request, std::int32_t& marker) {
    CriterionFileRun criterionFile(
        workspacePath, layerName,
        FieldsOf(RequireObject(request.featureClass, "feature class", "RunCriterionComputation")));
    marker = 2;

    CriterionRun run;
    auto editor = application.FindEditorExtension(host::kEditorExtensionId);
    if (editor && editor->GetEditState() == host::kEditStateEditing) {
        run.outcome = RunOutcome::Editing;
        return run;
    }
    run.result = ComputeCriterion(request, criterionFile, &marker);
    return run;
}

}  // namespace vark
