// The adapters the host contract runs over.

#include <ogr_core.h>

#include "HostContract.h"
#include "host/fake/FakeHost.h"
#include "host/ogr/OgrApplication.h"
#include "testing/OgrTestData.h"

namespace vark::host::contract {
namespace {

namespace fs = std::filesystem;

std::vector<testing::FeatureSpec> standardFeatures() {
    std::vector<testing::FeatureSpec> out;
    for (const auto& p : StandardParcels()) {
        testing::FeatureSpec f;
        f.values = {p.nature ? Value(*p.nature) : Value(), p.code ? Value(*p.code) : Value(),
                    p.surf ? Value(*p.surf) : Value()};
        out.push_back(std::move(f));
    }
    return out;
}

class FakeUnderTest : public AdapterUnderTest {
public:
    explicit FakeUnderTest(bool transactional = false) : m_transactional(transactional) {}

    AdapterTraits traits() const override {
        AdapterTraits t;
        t.oidName = "FID";
        t.geometryName = "Shape";
        t.transactional = m_transactional;
        return t;
    }

    std::shared_ptr<Application> create(const fs::path& folder) override {
        m_app = std::make_shared<fake::FakeApplication>();
        auto workspace = m_app->addWorkspace(folder.string());
        auto parcels = workspace->createFeatureClass(
            "parcels", kShapePolygon,
            {fake::MakeField("NATURE", kFieldText), fake::MakeField("CODE", kFieldText),
             fake::MakeField("SURF", kFieldDouble)});
        parcels->setTransactional(m_transactional);
        for (auto& f : standardFeatures()) {
            f.values.insert(f.values.begin(), {Value(), Value()});
            parcels->addRow(f.values);
        }
        m_app->addFeatureLayer("parcels", parcels);
        return m_app;
    }

    // The fake keeps its data in memory: a later session sees the same objects.
    std::shared_ptr<Application> reopen() override { return m_app; }

    std::string expectedWorkspacePath(const fs::path& folder) const override {
        return folder.string();
    }

private:
    bool m_transactional;
    std::shared_ptr<fake::FakeApplication> m_app;
};

class FakeTransactionalUnderTest : public FakeUnderTest {
public:
    FakeTransactionalUnderTest() : FakeUnderTest(true) {}
};

class OgrUnderTest : public AdapterUnderTest {
public:
    OgrUnderTest(std::string driver, std::string fileName)
        : m_driver(std::move(driver)), m_fileName(std::move(fileName)) {}

    std::shared_ptr<Application> create(const fs::path& folder) override {
        m_path = folder / m_fileName;
        testing::WriteLayer(m_driver, m_path, "parcels",
                            {{"NATURE", OFTString, 0, 40},
                             {"CODE", OFTString, 0, 10},
                             {"SURF", OFTReal, 0, 24, 15}},
                            standardFeatures());
        return reopen();
    }

    std::shared_ptr<Application> reopen() override {
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {m_path.string(), ""});
        return app;
    }

protected:
    std::string m_driver;
    std::string m_fileName;
    fs::path m_path;
};

class OgrShapefileUnderTest : public OgrUnderTest {
public:
    OgrShapefileUnderTest() : OgrUnderTest("ESRI Shapefile", "parcels.shp") {}
    AdapterTraits traits() const override {
        AdapterTraits t;
        t.oidName = "FID";
        t.geometryName = "Shape";
        t.nullTextReadsEmpty = true;
        t.exactReals = false;  // dBASE numbers keep 15 decimals
        return t;
    }
    std::string expectedWorkspacePath(const fs::path& folder) const override {
        return folder.string();
    }
};

class OgrGeoPackageUnderTest : public OgrUnderTest {
public:
    OgrGeoPackageUnderTest() : OgrUnderTest("GPKG", "parcels.gpkg") {}
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

VARK_REGISTER_HOST_ADAPTER(FakeUnderTest);
VARK_REGISTER_HOST_ADAPTER(FakeTransactionalUnderTest);
VARK_REGISTER_HOST_ADAPTER(OgrShapefileUnderTest);
VARK_REGISTER_HOST_ADAPTER(OgrGeoPackageUnderTest);

}  // namespace vark::host::contract
