#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

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

/// Opens `spec` and appends its layer(s) to the focus map of `app` (which
/// must come from CreateOgrApplication). Throws Failure when GDAL cannot open it.
void AddDataSource(host::Application& app, const DataSourceSpec& spec);

/// Sets the state GetEditState of the application's editor reports (for a
/// host that edits the data while the component runs, and for tests).
void SetEditState(host::Application& app, std::int32_t state);

}  // namespace vark::ogr
