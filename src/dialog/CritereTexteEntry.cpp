#include "dialog/CritereTexteEntry.h"

#include <QApplication>
#include <memory>

#include "criterion_file/fzy_io.h"
#include "dialog/DialogState.h"
#include "dialog/frm_CritereTexte.h"
#include "dialog/frm_display_fzy.h"
#include "host/DialogEntry.h"
#include "support/Failure.h"

namespace vark {

void ShowCritereTexte() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        throw Failure(err::kInvalidProcedureCall,
                      "The text-criterion dialog needs a windowing application", "Mainprog");
    }
    SetDescriptionTarget(std::make_shared<QtDescriptionTarget>());
    auto& state = DialogState();
    if (!state.instance) {
        state.instance = new frm_CritereTexte();
    }
    // exec() deletes the window (WA_DeleteOnClose) when it is closed, by its
    // exit button or its close box; the next call loads a fresh one.
    state.instance->exec();
}

void RegisterCritereTexteEntry() {
    SetCriterionDialogEntry(&ShowCritereTexte);
}

namespace {

// The host keeps the entry in a function-local static, so registering from
// a static initialiser does not depend on the order of initialisation.
const bool kRegistered = (RegisterCritereTexteEntry(), true);

}  // namespace

}  // namespace vark
