#pragma once

// Small vector data sets written with GDAL itself, and raw GDAL reads to
// check what the adapter stored, independently of the adapter.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace vark::testing {

/// A field of a data set to create: OGR type and subtype as integers so that
/// callers need no GDAL header.
struct FieldSpec {
    std::string name;
    int ogrType;         ///< OGRFieldType
    int ogrSubType = 0;  ///< OGRFieldSubType
    int width = 0;
    int precision = 0;
};

/// A feature: one value per field (null = nullopt) and a WKT geometry
/// ("" = no geometry).
struct FeatureSpec {
    std::vector<host::Value> values;
    std::string wkt = "POLYGON ((0 0,1 0,1 1,0 1,0 0))";
};

/// Creates (or adds to) a data set with one polygon layer. `driver` is a
/// GDAL driver name ("ESRI Shapefile", "GPKG"); `layerOptions` its layer
/// creation options ("ENCODING=" writes a shapefile's texts as given, with
/// no .cpg and code page byte 0).
void WriteLayer(const std::string& driver, const std::filesystem::path& path,
                const std::string& layer, const std::vector<FieldSpec>& fields,
                const std::vector<FeatureSpec>& features, int geometryType = 3 /*wkbPolygon*/,
                const std::vector<std::string>& layerOptions = {});

/// Every feature's value of `field`, read by a fresh GDAL open, in FID order.
std::vector<host::Value> ReadColumn(const std::filesystem::path& path, const std::string& layer,
                                    const std::string& field);
/// Every feature's geometry as WKT ("" when none), in FID order.
std::vector<std::string> ReadGeometries(const std::filesystem::path& path,
                                        const std::string& layer);
/// Names of the attribute fields, as GDAL lists them.
std::vector<std::string> ReadFieldNames(const std::filesystem::path& path,
                                        const std::string& layer);

}  // namespace vark::testing
