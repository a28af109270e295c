#pragma once

// Inside of the criterion file module, shared by its files: the module state
// the fzy_io_* functions work on (the module's open file and its
// description target) and the helpers of failures. Not for other modules.

#include <memory>
#include <string>

#include "criterion_file/CriterionFile.h"
#include "criterion_file/fzy_io.h"
#include "host/host.h"
#include "support/Failure.h"

namespace vark::fzy {

struct FzyModule {
    /// The file fzy_io_open opens and the other fzy_io_* functions use.
    CriterionFile file;
    std::shared_ptr<DescriptionTarget> target;
};

/// The one module state, created on first use.
FzyModule& Module();

/// Failure for a failed system call on `path`, from errno: 76 for a missing
/// file or folder, 70 for a refused access, 57 otherwise.
Failure SystemFailure(const std::string& what, const std::string& path, int error);

/// Shows "<number>  <description> <procedure> Debug=<marker>" in a message
/// box with OK, no icon and no title. Never throws.
void ReportFzyFailure(const Failure& failure, const char* procedure, int marker) noexcept;

/// The store of the layer's criterion file when its workspace keeps it
/// (host/common/WorkspaceRegistry.h); null otherwise.
std::unique_ptr<host::CriterionStore> StoreOf(const std::string& workspacePath,
                                              const std::string& layerName);

}  // namespace vark::fzy
