#pragma once

// Module state of the text-criterion dialog: the user's layer choice, the
// last shapefile opened through the dialog and the graded values of the last
// computation. It lives as long as the component is loaded and outlives the
// dialog window, so a later opening starts with the previous layer choice.

#include <QPointer>
#include <array>
#include <cstdint>
#include <string>

namespace vark {

class frm_CritereTexte;

/// Number of slots of gValueTexts and gValueGrades (indexes 0 to 100).
inline constexpr std::size_t kValueSlots = 101;

struct CritereTexteState {
    /// Display name of the chosen layer (".shp" removed once the criterion
    /// file has been opened for it).
    std::string gLayerName;
    /// Workspace path of the chosen layer (a shapefile's folder).
    std::string gLayerPath;
    /// "shp" for a file-system workspace, "gdb" otherwise.
    std::string gLayerKind;
    /// Position of the chosen layer among the focus map's top-level layers.
    std::int32_t gLayerIndex = 0;
    /// Folder and file name (without extension) of the last shapefile chosen.
    std::string gShapeFolder;
    std::string gShapeName;
    /// Graded values of the last computation, as read from the output list.
    std::array<std::string, kValueSlots> gValueTexts;
    std::array<float, kValueSlots> gValueGrades{};
    /// Entries of gValueTexts/gValueGrades filled by the last computation.
    std::int16_t gValueCount = 0;

    /// The single shared instance of the dialog window, when loaded.
    QPointer<frm_CritereTexte> instance;
};

/// The module state (created on first use).
CritereTexteState& DialogState();
/// Puts the module state back to its initial values (tests). A loaded
/// dialog window is not closed; it is only forgotten.
void ResetDialogState();

}  // namespace vark
