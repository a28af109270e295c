#pragma once

// How the command shows the dialog. The module registers ShowCritereTexte as
// the criterion-dialog entry (host/DialogEntry.h) when the library loads.

namespace vark {

/// Shows the single shared instance of the text-criterion dialog modally,
/// without an owner window, creating (and so loading) it when there is none;
/// returns when it is closed. Installs the description window as the
/// criterion file's description target. Throws Failure when no QApplication
/// exists (a headless process cannot show it).
void ShowCritereTexte();

/// Registers ShowCritereTexte with the host's dialog entry. Done once at
/// library load; callable again (idempotent) by a host that wants to be sure.
void RegisterCritereTexteEntry();

}  // namespace vark
