#pragma once

// The map host over the running QGIS: the application is the QGIS interface,
// the document the current project, the focus map the project's layer tree.
// Feature layers are the project's vector layers; reads and writes go through
// each layer's data provider, so the project sees new fields and values at
// once, without the user reloading anything.
//
// Every object of this adapter must be used on the thread that runs QGIS
// (its user-interface thread), after QgsApplication::initQgis().

#include <memory>

#include "host/host.h"

class QgisInterface;
class QgsVectorLayer;

namespace vark::qgis {

/// The application over the running QGIS. `iface` is the interface QGIS hands
/// its plugins; it may be null (a headless QgsApplication), in which case the
/// application works on QgsProject::instance() alone. The application keeps
/// no ownership of `iface`; the caller makes sure QGIS outlives it.
std::shared_ptr<host::Application> CreateQgisApplication(QgisInterface* iface);

/// The QGIS layer behind `layer` when it is a feature layer of this adapter,
/// otherwise nullptr. A feature layer made by CreateFeatureLayer has one only
/// once it has been added to the map.
QgsVectorLayer* VectorLayerOf(host::Layer& layer);

}  // namespace vark::qgis
