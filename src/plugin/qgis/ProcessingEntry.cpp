// The entry QGIS's command-line runner reaches the algorithm by. qgis_process
// loads Python plugins only; the small Python plugin shipped beside this
// library (vark_fuzzy_processing) loads it and calls this function, which
// puts the provider "vark" into the Processing registry. In QGIS itself the
// C++ plugin does that (PluginServices), and this function finds it there.

#include <qgsapplication.h>
#include <qgsprocessingregistry.h>

#include "plugin/qgis/PluginServices.h"
#include "plugin/qgis/VarkProcessingProvider.h"
#include "text_store/clsResourceMDB.h"

/// Registers the Processing provider "vark" unless the registry holds it
/// already. 1 when the registry holds it afterwards, 0 when it refused it or
/// no QGIS application runs. Never throws.
extern "C" __attribute__((visibility("default"))) int vark_fuzzy_register_processing() {
    try {
        if (QgsApplication::instance() == nullptr) {
            return 0;
        }
        QgsProcessingRegistry* registry = QgsApplication::processingRegistry();
        if (registry->providerById(QStringLiteral("vark")) != nullptr) {
            return 1;
        }
        vark::textStoreState().hostLanguage = vark::qgis::QgisInterfaceLanguage();
        // The registry owns the provider from here on, even when it refuses it.
        return registry->addProvider(new vark::qgis::VarkProcessingProvider()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
