#include "plugin/qgis/PluginServices.h"

#include <qgsapplication.h>
#include <qgsprocessingregistry.h>

#include <QAction>

#include "plugin/qgis/VarkProcessingProvider.h"
#include "support/Failure.h"
#include "support/QtUiServices.h"
#include "text_store/clsResourceMDB.h"

namespace vark::qgis {

std::string QgisInterfaceLanguage() {
    auto* application = qobject_cast<QgsApplication*>(QCoreApplication::instance());
    if (!application) {
        return {};
    }
    QString code = application->translation();
    if (code.isEmpty()) {
        code = QgsApplication::locale();
    }
    return code.toStdString();
}

PluginServices::~PluginServices() {
    remove();
}

void PluginServices::install(QWidget* mainWindow) {
    if (m_installed) {
        return;
    }
    m_installed = true;
    m_services =
        std::make_shared<QtUiServices>(mainWindow, [] { return gTextStore().LanguageCode(); });
    m_previousServices = SetUi(m_services);
    m_previousHostLanguage = textStoreState().hostLanguage;
    textStoreState().hostLanguage = QgisInterfaceLanguage();

    auto* provider = new VarkProcessingProvider();
    // The registry owns the provider from here on, even when it refuses it.
    if (!QgsApplication::processingRegistry()->addProvider(provider)) {
        throw Failure(err::kHostFailure, "QGIS refused the Processing provider vark",
                      "VARK_fuzzy_plugin");
    }
    m_provider = provider;
}

void PluginServices::followCommand(QAction* command) {
    if (!command || !m_provider) {
        return;
    }
    VarkProcessingProvider* provider = m_provider;
    QObject::connect(command, &QAction::triggered, provider,
                     [provider] { provider->followLanguage(); });
}

void PluginServices::remove() noexcept {
    try {
        if (m_provider) {
            QgsApplication::processingRegistry()->removeProvider(m_provider.data());
        }
        m_provider = nullptr;
        if (!m_installed) {
            return;
        }
        m_installed = false;
        textStoreState().hostLanguage = m_previousHostLanguage;
        if (&Ui() == m_services.get()) {
            SetUi(std::move(m_previousServices));
        }
        m_previousServices.reset();
        m_services.reset();
    } catch (...) {
    }
}

}  // namespace vark::qgis
