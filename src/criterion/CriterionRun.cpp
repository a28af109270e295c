#include "criterion/CriterionRun.h"

#include "criterion/RequireObject.h"
#include "criterion_file/CriterionFileRun.h"

namespace vark {

CriterionRun RunCriterionComputation(host::Application& application,
                                     const std::string& workspacePath, const std::string& layerName,
                                     const CriterionRequest& request, std::int32_t& marker) {
    const auto featureClass =
        RequireObject(request.featureClass, "feature class", "RunCriterionComputation");
    // One run at a time per layer, for the whole run: the check of the
    // criterion file changes it too. That check waits for the record's
    // write: a run refused before it (the host editing, a graded value no
    // feature holds, an interruption) leaves every file as it was.
    const auto lock = featureClass->LockForUpdate(kLayerLockWaitMilliseconds);
    CriterionFileRun criterionFile(workspacePath, layerName, FieldsOf(featureClass),
                                   CriterionFileRun::Maintenance::kBeforeWriting);
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
