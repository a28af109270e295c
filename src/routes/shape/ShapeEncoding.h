#pragma once

// The encoding in which a shapefile's texts are read when its dBASE table
// says only "ANSI" (code page byte 0x57).

#include <string>

class OGRLayer;

namespace vark::routes {

/// The code page a table of code page byte 0x57 is read in, as GDAL names
/// it (the value of the shapefile driver's open option ENCODING).
inline constexpr const char* kAnsiCodePage = "CP1252";

/// True when the shapefile layer `layer` has no encoding of its own but the
/// code page byte 0x57: no .cpg beside its table, and no SHAPE_ENCODING set
/// (either one is the user's word and is kept). Such a layer is to be
/// opened with ENCODING=kAnsiCodePage. Holds however the layer was opened.
bool TakesAnsiCodePage(OGRLayer& layer);

/// A cheap guess of TakesAnsiCodePage before the data set at `path` is
/// opened: `path` is a .shp or .dbf file whose table's code page byte is
/// 0x57 and SHAPE_ENCODING is not set. The .cpg is not looked for.
bool MayTakeAnsiCodePage(const std::string& path);

}  // namespace vark::routes
