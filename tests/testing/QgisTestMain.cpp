// The main of every test program that runs inside a headless QGIS (the QGIS
// adapter's tests, the plugin's): an offscreen QgsApplication with its
// providers loaded, created before the first test and closed after the last.

#include <gtest/gtest.h>
#include <qgsapplication.h>

#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const char* prefix = std::getenv("QGIS_PREFIX_PATH");
    QgsApplication::setPrefixPath(prefix && *prefix ? prefix : "/usr", true);
    int result = 0;
    {
        QgsApplication app(argc, argv, true);
        QgsApplication::initQgis();
        result = RUN_ALL_TESTS();
        QgsApplication::exitQgis();
    }
    return result;
}
