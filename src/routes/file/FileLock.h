#pragma once

// The lock that keeps two runs on one file-based layer apart, in this
// process or another: an exclusive flock on the layer's main file.

#include <cstdint>
#include <memory>
#include <string>

#include "host/host.h"

namespace vark::routes {

/// Takes an exclusive flock on `file` (a shapefile's .shp, a database
/// file), waiting up to `waitMilliseconds` for another run to let it go;
/// released when the lock is dropped. nullptr when `file` is no regular
/// file (a server orders its own writers). Throws Failure naming
/// `description` when the lock is not had: "Another run is changing ...;
/// nothing was changed" when another run holds it.
std::unique_ptr<host::UpdateLock> LockFile(const std::string& file, std::int32_t waitMilliseconds,
                                           const std::string& description);

}  // namespace vark::routes
