#include "host/common/WorkspaceRegistry.h"

#include <map>

namespace vark::host::common {

namespace {

std::map<std::string, std::weak_ptr<Workspace>>& Registry() {
    static std::map<std::string, std::weak_ptr<Workspace>> registry;
    return registry;
}

}  // namespace

void RegisterWorkspace(const std::shared_ptr<Workspace>& workspace) {
    if (!workspace) {
        return;
    }
    auto& registry = Registry();
    // Entries of workspaces gone meanwhile go too.
    std::erase_if(registry, [](const auto& entry) { return entry.second.expired(); });
    registry[workspace->GetWorkspacePath()] = workspace;
}

std::shared_ptr<Workspace> FindWorkspace(const std::string& workspacePath) {
    auto& registry = Registry();
    const auto it = registry.find(workspacePath);
    return it == registry.end() ? nullptr : it->second.lock();
}

}  // namespace vark::host::common
