#pragma once

#include <functional>

namespace vark {

/// How the command shows the text-criterion dialog. The dialog module
/// registers its entry point; until then showing does nothing.
using DialogEntryFn = std::function<void()>;
void SetCriterionDialogEntry(DialogEntryFn entry);
/// Shows the dialog modally; exceptions pass to the caller.
void ShowCriterionDialog();

}  // namespace vark
