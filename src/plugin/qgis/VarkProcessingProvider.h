#pragma once

// The plugin's Processing provider "vark" ("VARK fuzzy"), holding the
// algorithm "textcriterion".

#include <qgsprocessingprovider.h>

#include <string>

namespace vark::qgis {

class VarkProcessingProvider : public QgsProcessingProvider {
public:
    QString id() const override;
    QString name() const override;
    QIcon icon() const override;
    QString versionInfo() const override;
    /// Loads the text store first when nothing is loaded yet, so that the
    /// algorithm's descriptions are in its language.
    void loadAlgorithms() override;

    /// Reloads the algorithms when the text store's language is no longer
    /// the one they were made in (the user chose another in the dialog).
    void followLanguage();

private:
    std::string m_language;
};

}  // namespace vark::qgis
