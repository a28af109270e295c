#pragma once

// Data sets in the project of a headless QGIS, for the QGIS adapter's tests.

#include <filesystem>
#include <string>
#include <vector>

#include "OgrTestData.h"

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

/// vark::testing::WriteLayer, with shapefile texts recoded by GDAL as any
/// other program writes them: once QGIS has opened a shapefile it turns that
/// recoding off for the whole process.
void WriteLayer(const std::string& driver, const std::filesystem::path& path,
                const std::string& layer, const std::vector<vark::testing::FieldSpec>& fields,
                const std::vector<vark::testing::FeatureSpec>& features);

}  // namespace vark::qgis::testing
