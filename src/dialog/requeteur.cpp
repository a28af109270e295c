#include "dialog/requeteur.h"

#include <filesystem>

#include "criterion/CriterionComputation.h"
#include "dialog/DialogState.h"
#include "support/UiServices.h"

namespace vark {

ShapefileChoice SplitShapefilePath(const std::string& chosenPath) {
    // The extension is assumed to be four characters long, whatever it is:
    // "roads.dbf" chosen under "all files" opens the shapefile "roads" too.
    const std::string stem = DropLastCharacters(chosenPath, 4);
    const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
    const auto pos = stem.rfind(separator);
    if (pos == std::string::npos) {
        return {std::string(), stem};
    }
    return {stem.substr(0, pos), stem.substr(pos + 1)};
}

void AskShapefile() {
    auto& state = DialogState();
    const auto chosen = Ui().AskOpenFile(kAskShapefileTitle, kAskShapefileFilter, 1);
    if (!chosen || chosen->empty()) {
        state.gShapeFolder.clear();
        state.gShapeName.clear();
        return;
    }
    auto [folder, name] = SplitShapefilePath(*chosen);
    state.gShapeFolder = std::move(folder);
    state.gShapeName = std::move(name);
}

}  // namespace vark
