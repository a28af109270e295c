// The QGIS adapter in the host contract: the standard data set as a
// shapefile and as a GeoPackage, each a layer of the current project.

#include <ogr_core.h>

#include "HostContract.h"
#include "host/qgis/QgisApplication.h"
#include "testing/OgrTestData.h"
#include "testing/QgisTestData.h"

namespace vark::host::contract {
namespace {

namespace fs = std::filesystem;

class QgisUnderTest : public AdapterUnderTest {
public:
    QgisUnderTest(std::string driver, std::string fileName)
        : m_driver(std::move(driver)), m_fileName(std::move(fileName)) {}
    ~QgisUnderTest() override { qgis::testing::ClearProject(); }

    std::shared_ptr<Application> create(const fs::path& folder) override {
        m_path = folder / m_fileName;
        std::vector<vark::testing::FeatureSpec> features;
        for (const auto& p : StandardParcels()) {
            vark::testing::FeatureSpec f;
            f.values = {p.nature ? Value(*p.nature) : Value(), p.code ? Value(*p.code) : Value(),
                        p.surf ? Value(*p.surf) : Value()};
            features.push_back(std::move(f));
        }
        qgis::testing::WriteLayer(m_driver, m_path, "parcels",
                                  {{"NATURE", OFTString, 0, 40},
                                   {"CODE", OFTString, 0, 10},
                                   {"SURF", OFTReal, 0, 24, 15}},
                                  features);
        return reopen();
    }

    // A later session: a project that opens the data afresh.
    std::shared_ptr<Application> reopen() override {
        qgis::testing::ClearProject();
        qgis::testing::AddProjectLayer(qgis::testing::SourceOf(m_path, "parcels"), "parcels");
        return qgis::CreateQgisApplication(nullptr);
    }

protected:
    std::string m_driver;
    std::string m_fileName;
    fs::path m_path;
};

class QgisShapefileUnderTest : public QgisUnderTest {
public:
    QgisShapefileUnderTest() : QgisUnderTest("ESRI Shapefile", "parcels.shp") {}
    AdapterTraits traits() const override {
        AdapterTraits t;
        t.oidName = "FID";
        t.geometryName = "Shape";
        t.nullTextReadsEmpty = true;
        t.exactReals = false;
        return t;
    }
    std::string expectedWorkspacePath(const fs::path& folder) const override {
        return folder.string();
    }
};

class QgisGeoPackageUnderTest : public QgisUnderTest {
public:
    QgisGeoPackageUnderTest() : QgisUnderTest("GPKG", "parcels.gpkg") {}
    AdapterTraits traits() const override {
        AdapterTraits t;
        t.oidName = "fid";
        t.geometryName = "geom";
        t.workspaceType = kWorkspaceLocalDatabase;
        t.transactional = true;
        return t;
    }
    std::string expectedWorkspacePath(const fs::path& folder) const override {
        return (folder / "parcels.gpkg").string();
    }
};

}  // namespace

VARK_REGISTER_HOST_ADAPTER(QgisShapefileUnderTest);
VARK_REGISTER_HOST_ADAPTER(QgisGeoPackageUnderTest);

}  // namespace vark::host::contract
