// The functions QGIS looks for in a C++ plugin library. QGIS skips a library
// that lacks name, description, category or version, and expects type too.

#include <qgis.h>
#include <qgisplugin.h>

#include "plugin/qgis/VarkFuzzyPlugin.h"

using vark::qgis::VarkFuzzyPlugin;

QGISEXTERN QgisPlugin* classFactory(QgisInterface* iface) {
    return new VarkFuzzyPlugin(iface);
}

QGISEXTERN const QString* name() {
    return &VarkFuzzyPlugin::pluginName();
}

QGISEXTERN const QString* description() {
    return &VarkFuzzyPlugin::pluginDescription();
}

QGISEXTERN const QString* category() {
    return &VarkFuzzyPlugin::pluginCategory();
}

QGISEXTERN int type() {
    return QgisPlugin::UI;
}

QGISEXTERN const QString* version() {
    return &VarkFuzzyPlugin::pluginVersion();
}

QGISEXTERN const QString* icon() {
    return &VarkFuzzyPlugin::pluginIcon();
}

QGISEXTERN void unload(QgisPlugin* plugin) {
    delete plugin;
}
