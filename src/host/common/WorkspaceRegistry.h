#pragma once

// The live workspaces that keep their layers' criterion records themselves
// (a database server's), findable by their workspace path: the criterion
// file module and the callers that hold only a layer's workspace path (the
// summary, the batch "describe", the maintenance) reach the record through
// them. A workspace is found while something else keeps it alive.

#include <memory>
#include <string>

#include "host/host.h"

namespace vark::host::common {

/// Makes `workspace` findable by its GetWorkspacePath(); a later one of the
/// same path takes its place. Keeps no reference of its own.
void RegisterWorkspace(const std::shared_ptr<Workspace>& workspace);

/// The live workspace registered under `workspacePath`, or nullptr.
std::shared_ptr<Workspace> FindWorkspace(const std::string& workspacePath);

}  // namespace vark::host::common
