#pragma once

// Shapefile choice of the dialog's "Ajouter shape" button.

#include <string>

namespace vark {

/// Title and filter of the shapefile dialog, fixed texts.
inline constexpr const char* kAskShapefileTitle =
    "Définir le fichier shape contenant la donnée à traiter";
inline constexpr const char* kAskShapefileFilter =
    "Fichiers shape (*.shp)|*.shp|Tous les fichiers (*.*)|*.*";

/// Asks for one file (UiServices::AskOpenFile, shapefiles offered first) and
/// sets gShapeFolder and gShapeName of the dialog state: the chosen path
/// without its last four characters, split at its last platform separator.
/// Both become empty when the user cancels. A path without any separator
/// gives an empty folder and the whole rest as the name. Throws what the UI
/// services throw.
void AskShapefile();

/// The split AskShapefile applies to a chosen path: {folder, name}.
struct ShapefileChoice {
    std::string folder;
    std::string name;
};
ShapefileChoice SplitShapefilePath(const std::string& chosenPath);

}  // namespace vark
