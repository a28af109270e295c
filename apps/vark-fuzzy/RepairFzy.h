#pragma once

// vark-fuzzy repair-fzy FILE: a damaged criterion file keeps its readable
// records (see criterion_file/FzyRepair.h) and the user is told what was
// kept and where the old file went.

#include <string>

#include "BatchCommands.h"

namespace vark::app {

/// Repairs `path` and says so on `io.out` in the interface language.
/// Returns kExitOk (repaired, or nothing to repair) or kExitFailure after
/// telling the failure (BatchErrors.h). Never throws.
int RunRepairFzy(const std::string& path, BatchIo& io) noexcept;

}  // namespace vark::app
