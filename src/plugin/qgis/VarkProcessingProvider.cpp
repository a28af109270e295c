#include "plugin/qgis/VarkProcessingProvider.h"

#include <QIcon>

#include "plugin/qgis/TextCriterionAlgorithm.h"
#include "text_store/clsResourceMDB.h"

namespace vark::qgis {

QString VarkProcessingProvider::id() const {
    return QStringLiteral("vark");
}

QString VarkProcessingProvider::name() const {
    return QStringLiteral("VARK fuzzy");
}

QIcon VarkProcessingProvider::icon() const {
    return QIcon(QStringLiteral(":/vark_fuzzy_plugin/icon.bmp"));
}

QString VarkProcessingProvider::versionInfo() const {
    return QStringLiteral(VARK_PLUGIN_VERSION);
}

void VarkProcessingProvider::loadAlgorithms() {
    if (gTextStore().loadedCount() == 0) {
        InitLanguage();
    }
    m_language = gTextStore().LanguageCode();
    addAlgorithm(new TextCriterionAlgorithm());
}

void VarkProcessingProvider::followLanguage() {
    if (gTextStore().LanguageCode() != m_language) {
        refreshAlgorithms();
    }
}

}  // namespace vark::qgis
