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

/// The column a shapefile pass writes and where it reads from.
struct ShapefileColumn {
    /// The dBASE table.
    std::string dbfPath;
    /// The encoding GDAL reads the table in, when the caller knows it
    /// (DbfRewrite).
    std::optional<std::string> encoding;
    std::string fieldName;
    /// Index in the table of the field whose text decides each value.
    int sourceAttribute = 0;
    host::NewFieldMode mode = host::NewFieldMode::Add;
};

/// The pass over `column`'s table. `afterCommit` runs once the new table
/// is in place (the caller's open readers of the old one opened again).
/// Throws what DbfRewrite's constructor throws.
std::unique_ptr<host::NewFieldPass> OpenShapefilePass(ShapefileColumn column,
                                                      std::function<void()> afterCommit);

}  // namespace vark::routes
