// The host contract over a PostGIS layer of the test server.

#include <gtest/gtest.h>

#include "PgTestServer.h"
#include "host/contract/HostContract.h"
#include "host/ogr/OgrApplication.h"
#include "routes/pg/PgSql.h"

namespace vark::host::contract {
namespace {

namespace fs = std::filesystem;

std::string Literal(const std::optional<std::string>& text) {
    return text ? pg::PgLiteral(*text, true) : std::string("NULL");
}

class PostgisUnderTest : public AdapterUnderTest {
public:
    AdapterTraits traits() const override {
        AdapterTraits t;
        t.oidName = "fid";
        t.geometryName = "geom";
        t.workspaceType = kWorkspaceRemoteDatabase;
        t.transactional = true;
        // GDAL's driver writes the doubles of a stored feature through 15
        // significant digits; the computation's own pass writes them whole
        // (PgEndToEndTest).
        t.exactReals = false;
        return t;
    }

    std::shared_ptr<Application> create(const fs::path&) override {
        if (!testing::HaveTestServer()) {
            ADD_FAILURE() << "no test server (run under pg_virtualenv)";
            return nullptr;
        }
        testing::TestSession session;
        session.exec("CREATE EXTENSION IF NOT EXISTS postgis");
        session.exec("DROP TABLE IF EXISTS public.parcels CASCADE");
        session.exec("DROP TABLE IF EXISTS public.vark_criteria");
        session.exec(
            "CREATE TABLE public.parcels (fid serial PRIMARY KEY, geom geometry(Polygon, 2154), "
            "\"NATURE\" varchar(40), \"CODE\" varchar(10), \"SURF\" double precision)");
        for (const auto& p : StandardParcels()) {
            session.exec(
                "INSERT INTO public.parcels (geom, \"NATURE\", \"CODE\", \"SURF\") VALUES "
                "(ST_GeomFromText('POLYGON((0 0,1 0,1 1,0 1,0 0))', 2154), " +
                Literal(p.nature) + ", " + Literal(p.code) + ", " +
                (p.surf ? std::to_string(*p.surf) : std::string("NULL")) + ")");
        }
        return reopen();
    }

    std::shared_ptr<Application> reopen() override {
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {testing::GdalConnection(), "parcels"});
        return app;
    }

    std::string expectedWorkspacePath(const fs::path&) const override {
        return testing::GdalConnectionWithoutPassword();
    }
};

}  // namespace

VARK_REGISTER_HOST_ADAPTER(PostgisUnderTest);

}  // namespace vark::host::contract
