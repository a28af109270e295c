#include "host/common/CommonApplication.h"

#include <filesystem>

#include "host/common/CommonFeatureLayer.h"
#include "support/Failure.h"

namespace vark::host::common {

std::shared_ptr<Editor> CommonApplication::FindEditorExtension(std::string_view typeId) {
    if (!m_editorAvailable || typeId != kEditorExtensionId) {
        return nullptr;
    }
    return m_editor;
}

std::shared_ptr<FeatureLayer> CommonApplication::CreateFeatureLayer() {
    return std::make_shared<CommonFeatureLayer>();
}

void RequireFolder(const std::string& folder, std::string_view source) {
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(std::filesystem::path(folder), ec)) {
        throw Failure(err::kPathNotFound, "Cannot open the folder " + folder, std::string(source));
    }
}

}  // namespace vark::host::common
