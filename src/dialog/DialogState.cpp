#include "dialog/DialogState.h"

namespace vark {

CritereTexteState& DialogState() {
    static CritereTexteState state;
    return state;
}

void ResetDialogState() {
    DialogState() = CritereTexteState{};
}

}  // namespace vark
