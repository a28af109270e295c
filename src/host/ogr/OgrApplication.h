#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "routes/pg/PgPassword.h"

// The map host over GDAL/OGR. How the data of the formats appear through
// the host operations:
//
// - Layers: every layer with a geometry of a data set (or the one named)
//   becomes a selectable feature layer named after the OGR layer (a
//   shapefile's file name without extension). A path opened twice shares
//   one GDAL data set, opened for update where GDAL allows it, read-only
//   otherwise.
// - Workspaces: a shapefile's is its folder (type 0); another data set on
//   the file system is a local database (type 1, the data set's path, a
//   file or a folder); anything else (a "PG:" connection string, a /vsi
//   path) is type 2 with the string it was opened with. File paths are
//   made absolute.
// - Fields: the object id first (type 6, the format's FID column, "FID"
//   when it has none), then the geometry field(s) (type 7, "Shape" when
//   unnamed), then the attributes: OFTString 4 (a UUID subtype 10),
//   OFTInteger 1 (Int16 and Boolean subtypes 0), OFTInteger64 1 (values
//   keep their 64 bits), OFTReal 3 (Float32 subtype 2), dates and times 5
//   (values in days since 1899-12-30), binary and lists 8. A geometry
//   reads as a null value.
// - Texts: a shapefile cannot hold a null text (GDAL reads a blank one as
//   null): there it reads as "". Other formats keep their nulls.
// - AddFieldToClass creates the field with the length and precision asked,
//   or the driver's defaults (a shapefile double: 24 digits, 15 decimals).
//   A name already used in any letter case, a name the format would change
//   (a shapefile name longer than 10 characters), a type it cannot hold, a
//   read-only data set: Failure, and nothing changed.
// - Update cursors read whole features (geometry included) and store them
//   one by one; a shapefile's geometries are written back exactly as read.
//   Where the driver has transactions (GeoPackage, PostGIS...) a pass is
//   one transaction: Flush commits, a cursor dropped without Flush rolls
//   back. A value the format cannot hold exactly as given (a number too
//   wide for a dBASE field) fails the StoreRow.
// - One OGR layer has one reading position: a cursor whose pass is
//   interrupted by another cursor on the same layer, or by a field added,
//   fails at its next NextRow.
// - Failures carry err::kHostFailure (err::kFileNotFound, kPathNotFound for
//   a missing shapefile or folder), the source "GDAL" and a description
//   naming the data set, layer or field and GDAL's own message.

namespace vark::ogr {

/// A data set to put in the focus map: a path (or connection string) and,
/// for multi-layer data sets, the name of one layer ("" = every layer).
struct DataSourceSpec {
    std::string path;
    std::string layerName;
};

/// A map application over GDAL/OGR: one document, one focus map, an editor
/// whose state is never "editing" unless set.
std::shared_ptr<host::Application> CreateOgrApplication();

/// Opens `request` and appends its layer(s) to the focus map of `app` (which
/// must come from CreateOgrApplication). Throws Failure when GDAL cannot open it.
void AddDataSource(host::Application& app, const DataSourceSpec& request);

/// `text` without any password it holds (routes/pg/PgPassword.h).
using pg::WithoutPassword;

/// Sets the state GetEditState of the application's editor reports (for a
/// host that edits the data while the component runs, and for tests).
void SetEditState(host::Application& app, std::int32_t state);

}  // namespace vark::ogr
