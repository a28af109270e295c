#include "plugin/qgis/VarkFuzzyPlugin.h"

#include <qgisinterface.h>

#include <QMainWindow>
#include <QMenu>

#include "host/HostState.h"
#include "host/qgis/QgisApplication.h"
#include "plugin/qgis/PluginServices.h"
#include "plugin/qgis/PluginUi.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"

namespace vark::qgis {

namespace {

void reportCurrent(const char* procedure) noexcept {
    try {
        const Failure failure = CurrentFailure();
        ReportError(std::string("VARK_fuzzy_plugin ") + procedure + " ", failure.number(),
                    failure.description());
    } catch (...) {
    }
}

}  // namespace

const QString& VarkFuzzyPlugin::pluginName() {
    static const QString name = QStringLiteral("Critère texte KELMO");
    return name;
}

const QString& VarkFuzzyPlugin::pluginDescription() {
    static const QString description = QString::fromUtf8(
        "Transforme un champ texte d'une couche de polygones en critère flou : un champ numérique "
        "des degrés d'appartenance (0 à 1), décrit dans le fichier de critères de la couche.");
    return description;
}

const QString& VarkFuzzyPlugin::pluginCategory() {
    static const QString category = QStringLiteral("Vector");
    return category;
}

const QString& VarkFuzzyPlugin::pluginVersion() {
    static const QString version = QStringLiteral(VARK_PLUGIN_VERSION);
    return version;
}

const QString& VarkFuzzyPlugin::pluginIcon() {
    static const QString icon = QStringLiteral(":/vark_fuzzy_plugin/icon.bmp");
    return icon;
}

VarkFuzzyPlugin::VarkFuzzyPlugin(QgisInterface* iface)
    : QgisPlugin(pluginName(), pluginDescription(), pluginCategory(), pluginVersion(),
                 QgisPlugin::UI),
      m_iface(iface) {}

VarkFuzzyPlugin::~VarkFuzzyPlugin() {
    unload();
}

void VarkFuzzyPlugin::initGui() {
    try {
        if (m_ui) {
            return;
        }
        auto* window = m_iface ? qobject_cast<QMainWindow*>(m_iface->mainWindow()) : nullptr;
        if (!window) {
            throw Failure(err::kObjectVariableNotSet, "QGIS has no main window",
                          "VARK_fuzzy_plugin");
        }
        m_services = std::make_unique<PluginServices>();
        m_services->install(window);
        m_application = CreateQgisApplication(m_iface);
        PluginWindow target;
        target.window = window;
        QgisInterface* iface = m_iface;
        target.addToolBar = [iface](const QString& name) { return iface->addToolBar(name); };
        QMenu* help = m_iface->helpMenu();
        target.menuBefore = help ? help->menuAction() : nullptr;
        m_ui = std::make_unique<PluginUi>(target, m_application);
        m_ui->install();
        m_services->followCommand(m_ui->commandAction());
    } catch (...) {
        reportCurrent("initGui");
    }
}

void VarkFuzzyPlugin::unload() {
    try {
        m_ui.reset();
        if (m_application && g_pApplication() == m_application) {
            g_pApplication().reset();
        }
        m_application.reset();
        m_services.reset();
    } catch (...) {
        reportCurrent("unload");
    }
}

}  // namespace vark::qgis
