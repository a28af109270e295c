#include "host/DialogEntry.h"

#include "host/HostModuleState.h"

namespace vark {

void SetCriterionDialogEntry(DialogEntryFn entry) {
    host::hostModuleState().criterionDialog = std::move(entry);
}

void ShowCriterionDialog() {
    // A copy, so that the dialog may register another entry while it runs.
    DialogEntryFn entry = host::hostModuleState().criterionDialog;
    if (entry) {
        entry();
    }
}

}  // namespace vark
