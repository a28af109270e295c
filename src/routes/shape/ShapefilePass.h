#pragma once

// The shapefile route: a new double field added to (or an existing one
// overwritten in) a shapefile's dBASE table by one pass that writes the
// whole new table beside the old one (DbfRewrite), renamed over it at
// Commit. Whichever host holds the layer, the table is written this way.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/host.h"

namespace vark::routes {

/// The pass over the table `dbfPath`. `encoding`: the one GDAL reads the
/// table in, when the caller knows it (DbfRewrite); `sourceAttribute` the
/// index in the table of the field whose text decides each value.
/// `afterCommit` runs once the new table is in place (the caller's open
/// readers of the old one opened again). Throws what DbfRewrite's
/// constructor throws.
std::unique_ptr<host::NewFieldPass> OpenShapefilePass(const std::string& dbfPath,
                                                      std::optional<std::string> encoding,
                                                      std::string fieldName, int sourceAttribute,
                                                      host::NewFieldMode mode,
                                                      std::function<void()> afterCommit);

}  // namespace vark::routes
