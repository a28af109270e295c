#pragma once

// The QGIS plugin: on initGui it shows the component's messages and file
// dialog in QGIS's windows, starts the text store in QGIS's language,
// builds the command and the root menu into the QGIS window over a
// QGIS-backed application and registers the Processing provider; on unload
// it takes all of that away again.

#include <qgisplugin.h>

#include <memory>

#include "host/host.h"

class QgisInterface;

namespace vark::qgis {

class PluginServices;
class PluginUi;

class VarkFuzzyPlugin : public QgisPlugin {
public:
    explicit VarkFuzzyPlugin(QgisInterface* iface);
    ~VarkFuzzyPlugin() override;

    /// Installs the plugin's services (PluginServices), the command and the
    /// root menu. A failure is reported to the user (the call-stack report)
    /// and leaves QGIS running without what was not installed.
    void initGui() override;
    /// Removes what initGui added, puts back what it replaced, and lets go
    /// of the application. The
    /// shared application reference is cleared when it is this plugin's:
    /// nothing may keep a QGIS-backed application once the plugin is gone.
    void unload() override;

    /// The plugin's identity as QGIS lists it.
    static const QString& pluginName();
    static const QString& pluginDescription();
    static const QString& pluginCategory();
    static const QString& pluginVersion();
    static const QString& pluginIcon();

private:
    QgisInterface* m_iface;
    std::shared_ptr<host::Application> m_application;
    std::unique_ptr<PluginServices> m_services;
    std::unique_ptr<PluginUi> m_ui;
};

}  // namespace vark::qgis
