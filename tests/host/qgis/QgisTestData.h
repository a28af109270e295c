#pragma once

// Data sets in the project of a headless QGIS, for the QGIS adapter's tests.

#include <filesystem>
#include <string>

class QgsVectorLayer;

namespace vark::qgis::testing {

/// The QGIS data source of layer `layer` in the file `path`: the path itself
/// for a shapefile, "path|layername=layer" for a data set of several layers.
std::string SourceOf(const std::filesystem::path& path, const std::string& layer);

/// Opens `source` with the OGR provider and appends it to the project's
/// layer tree under `name`. Fails the test (and returns nullptr) when QGIS
/// cannot open it.
QgsVectorLayer* AddProjectLayer(const std::string& source, const std::string& name);

/// Empties the project: no layers, no groups.
void ClearProject();

}  // namespace vark::qgis::testing
