#pragma once

// What the plugin puts into the running QGIS besides its toolbar and menu:
// the Qt UI services (the component's messages and file dialog on screen,
// over QGIS's main window), QGIS's language as the text store's host
// language, and the Processing provider "vark". Kept apart from QGIS's
// plugin interface so that it can be installed over any main window.

#include <QPointer>
#include <memory>
#include <string>

#include "plugin/qgis/VarkProcessingProvider.h"

class QAction;
class QWidget;

namespace vark {
class UiServices;
}

namespace vark::qgis {

/// QGIS's interface language: the translation it runs in (its --lang, else
/// its locale/userLocale setting when that overrides the system's, else the
/// system's language), QgsApplication::locale() when it has none, "" when no
/// QgsApplication runs.
std::string QgisInterfaceLanguage();

class PluginServices {
public:
    PluginServices() = default;
    /// Calls remove().
    ~PluginServices();
    PluginServices(const PluginServices&) = delete;
    PluginServices& operator=(const PluginServices&) = delete;

    /// Installs, in this order: the Qt UI services over `mainWindow` (Qt's
    /// texts in the text store's language), QgisInterfaceLanguage() as the
    /// text store's host language, and the provider in QGIS's Processing
    /// registry. Throws Failure when the registry refuses the provider (the
    /// services and the language stay installed until remove()). Calling it
    /// again without remove() does nothing.
    void install(QWidget* mainWindow);
    /// After every run of `command` (the modal dialog has closed), the
    /// provider's texts follow a language chosen in the dialog.
    void followCommand(QAction* command);
    /// Takes the provider out of the registry, puts back the host language
    /// and the UI services that install() replaced (when the services in use
    /// are still this object's: services installed later stay). Never
    /// throws; safe to call more than once.
    void remove() noexcept;

    VarkProcessingProvider* provider() const { return m_provider; }
    bool installed() const { return m_installed; }

private:
    bool m_installed = false;
    std::shared_ptr<UiServices> m_services;
    std::shared_ptr<UiServices> m_previousServices;
    std::string m_previousHostLanguage;
    QPointer<VarkProcessingProvider> m_provider;
};

}  // namespace vark::qgis
