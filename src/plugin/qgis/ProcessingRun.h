#pragma once

// The criterion computation run on a QGIS vector layer for the Processing
// algorithm: the very run of the dialog's "Calculer" button, on a layer
// given directly instead of by its place in the focus map.

#include <cstdint>

#include "criterion/CriterionRun.h"

class QgsVectorLayer;

namespace vark::qgis {

/// Runs the dialog's computation on `layer` (a layer of the project or one
/// Processing opened for the run): the criterion file is the one the dialog
/// uses for a layer of that name, in its workspace (the folder of a
/// shapefile, the database file of a GeoPackage layer; for a layer of a
/// PostgreSQL server, the record of its table in the server); the layer is
/// resolved to its target (ResolveTarget, which chooses its write route),
/// then computed (ComputeOn): the file is opened, cleared of records of
/// vanished fields, the editing guard applies (any layer of the project in
/// an edit session: outcome Editing, nothing added), then ComputeCriterion
/// with `request`. The criterion file is closed on
/// every way out. Throws Failure; `marker` holds the progress marker reached.
/// Must run on the thread that runs QGIS.
CriterionRun RunLayerCriterion(QgsVectorLayer& layer, CriterionRequest request,
                               std::int32_t& marker);

}  // namespace vark::qgis
