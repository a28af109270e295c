// What the plugin puts into QGIS besides its toolbar: the Qt UI services,
// QGIS's language for the text store, the Processing provider and its
// algorithm in the text store's language; and that unloading takes them
// back.

#include <gtest/gtest.h>
#include <qgsapplication.h>
#include <qgsprocessingalgorithm.h>
#include <qgsprocessingparameters.h>
#include <qgsprocessingregistry.h>

#include <QAction>
#include <QMainWindow>
#include <QSettings>

#include "plugin/qgis/PluginServices.h"
#include "plugin/qgis/VarkProcessingProvider.h"
#include "support/QtUiServices.h"
#include "support/RecordingUi.h"
#include "text_store/clsResourceMDB.h"

namespace vark::qgis {
namespace {

QgsProcessingRegistry& Registry() {
    return *QgsApplication::processingRegistry();
}

class PluginServicesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetTextStoreState();
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kelmo_Trelvastin")
            .remove("params/lang");
        // A test before may have left the provider of its own.
        Registry().removeProvider(QStringLiteral("vark"));
    }
    void TearDown() override {
        ResetTextStoreState();
        QgsApplication::setTranslation(QString());
    }

    const QgsProcessingAlgorithm* Algorithm() {
        return Registry().algorithmById(QStringLiteral("vark:textcriterion"));
    }
    QStringList Headers() {
        const auto* matrix = dynamic_cast<const QgsProcessingParameterMatrix*>(
            Algorithm()->parameterDefinition(QStringLiteral("GRADES")));
        return matrix ? matrix->headers() : QStringList();
    }

    ScopedRecordingUi m_recording;
    QMainWindow m_window;
};

TEST_F(PluginServicesTest, InstallsAndTakesBackWhatItReplaces) {
    QgsApplication::setTranslation(QStringLiteral("de"));
    EXPECT_EQ(QgisInterfaceLanguage(), "de");
    textStoreState().hostLanguage = "before";
    UiServices* before = &Ui();
    {
        PluginServices services;
        services.install(&m_window);
        services.install(&m_window);  // a second call changes nothing
        auto* qt = dynamic_cast<QtUiServices*>(&Ui());
        ASSERT_TRUE(qt) << "messages go on screen";
        EXPECT_EQ(qt->dialogParent(), &m_window) << "over QGIS's window";
        EXPECT_EQ(textStoreState().hostLanguage, "de");

        ASSERT_TRUE(Registry().providerById(QStringLiteral("vark")));
        EXPECT_EQ(Registry().providerById(QStringLiteral("vark"))->name(),
                  QStringLiteral("VARK fuzzy"));
        ASSERT_TRUE(Algorithm());
        EXPECT_EQ(Algorithm()->displayName(), QString::fromUtf8("Critère texte"));
        QStringList names;
        for (const auto* parameter : Algorithm()->parameterDefinitions())
            names << parameter->name();
        EXPECT_EQ(names, QStringList({"INPUT", "FIELD", "GRADES", "GRADES_FILE", "LEVELS", "NAME",
                                      "STYLE"}));
        EXPECT_TRUE(Algorithm()->flags() & QgsProcessingAlgorithm::FlagNoThreading)
            << "the QGIS host runs on QGIS's thread only";

        // The provider loaded the text store, in QGIS's language (nothing saved).
        EXPECT_EQ(gTextStore().LanguageCode(), "de");
        EXPECT_EQ(Headers(), QStringList({"Wert", "Stufe (0 bis 6)"}));
        EXPECT_TRUE(Algorithm()->shortHelpString().startsWith(QStringLiteral("Macht aus")));

        // A language chosen in the dialog: the algorithm follows once the
        // command's run is over.
        QAction command;
        services.followCommand(&command);
        gTextStore().setLanguageCode("en");
        gTextStore().LoadResData();
        EXPECT_TRUE(Algorithm()->shortHelpString().startsWith(QStringLiteral("Turns")))
            << "the help text is read when asked";
        EXPECT_EQ(Headers(), QStringList({"Wert", "Stufe (0 bis 6)"}));
        command.trigger();
        EXPECT_EQ(Headers(), QStringList({"Value", "Grade (0 to 6)"}));
    }
    EXPECT_EQ(&Ui(), before) << "the services it replaced are back";
    EXPECT_EQ(textStoreState().hostLanguage, "before");
    EXPECT_FALSE(Registry().providerById(QStringLiteral("vark")));
    EXPECT_FALSE(Algorithm());
    EXPECT_TRUE(m_recording->calls.empty());
}

TEST_F(PluginServicesTest, LeavesServicesInstalledLaterInPlace) {
    PluginServices services;
    services.install(&m_window);
    auto later = std::make_shared<RecordingUi>();
    SetUi(later);
    services.remove();
    EXPECT_EQ(&Ui(), later.get());
    EXPECT_FALSE(Registry().providerById(QStringLiteral("vark")));
}

}  // namespace
}  // namespace vark::qgis
