#pragma once

// The layer a criterion is made on, resolved once from what a front end
// names: its feature class, its workspace, where its criterion record lives
// and the route its new field takes to the storage. Every use case of the
// module (CriterionUseCases.h) works on a target; nothing else chooses a
// write route.

#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

namespace vark {

/// Where a layer's criterion record lives.
enum class RecordPlace {
    /// A criterion file beside the layer (its folder, its database file).
    kFileBesideLayer,
    /// A record the workspace keeps itself (a table of a database server).
    kWorkspace,
};

/// The route a computation takes among those the class's adapter offers:
/// the server's route first (the work stays in the server), then a
/// shapefile's table rewrite, a database file's transaction, the host's edit
/// buffer, and the cursor last (whole or absent only where the format rolls
/// back). Throws Failure 5 when nothing is offered.
host::WriteRoute ChooseWriteRoute(const std::vector<host::WriteRoute>& offered);

struct CriterionTarget {
    /// The layer the front end named; empty when it named a feature class
    /// directly (a layer of a host's own, such as a Processing input).
    std::shared_ptr<host::FeatureLayer> layer;
    std::shared_ptr<host::FeatureClass> featureClass;
    std::shared_ptr<host::Workspace> workspace;
    /// The workspace's path (host::Workspace::GetWorkspacePath).
    std::string workspacePath;
    /// The layer's name, as the criterion record is opened with it (the
    /// criterion file module removes ".shp" when it opens the record).
    std::string layerName;
    RecordPlace recordPlace = RecordPlace::kFileBesideLayer;
    host::WriteRoute route = host::WriteRoute::kCursor;
};

/// The target of `featureClass`, whose criterion record is named after
/// `layerName`. Throws Failure 91 when the class
/// or its workspace is missing, and what the adapter throws.
CriterionTarget ResolveTarget(std::shared_ptr<host::FeatureClass> featureClass,
                              const std::string& layerName);
/// The target of a map layer, named by the layer's name.
CriterionTarget ResolveTarget(std::shared_ptr<host::FeatureLayer> layer);

}  // namespace vark
