// Times the computation's pass through the GDAL adapter on a large layer:
// distinct values of a text field, a new double field, then every feature
// updated through one recycling update cursor.
//
//   ogr_update_bench create <path> <count>   writes <count> polygons
//   ogr_update_bench update <path>           runs the pass, prints timings
//
// Run through bench/run_ogr_update_bench.sh, which also reports peak memory.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/ogr/OgrApplication.h"
#include "support/Failure.h"

namespace {

const char* const kNatures[] = {"Forêt", "Prairie", "Lande",  "Culture", "Verger", "Vigne",
                                "Bâti",  "Eau",     "Marais", "Friche",  "Route",  ""};

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int create(const std::string& path, long count) {
    GDALAllRegister();
    const bool gpkg = path.size() > 5 && path.substr(path.size() - 5) == ".gpkg";
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(gpkg ? "GPKG" : "ESRI Shapefile");
    GDALDataset* ds = driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!ds) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        return 1;
    }
    OGRLayer* layer = ds->CreateLayer("parcels", nullptr, wkbPolygon, nullptr);
    OGRFieldDefn nature("NATURE", OFTString);
    nature.SetWidth(30);
    OGRFieldDefn surf("SURF", OFTReal);
    surf.SetWidth(24);
    surf.SetPrecision(15);
    if (layer->CreateField(&nature) != OGRERR_NONE || layer->CreateField(&surf) != OGRERR_NONE ||
        layer->StartTransaction() != OGRERR_NONE) {
        return 1;
    }
    OGRFeature* feature = OGRFeature::CreateFeature(layer->GetLayerDefn());
    for (long i = 0; i < count; ++i) {
        // A 17-vertex ring per feature, so that geometries weigh something.
        const double x = static_cast<double>(i % 1000) * 10.0;
        const double y = static_cast<double>(i / 1000) * 10.0;
        OGRLinearRing ring;
        for (int k = 0; k < 16; ++k) {
            const double a = -k * 3.14159265358979 / 8.0;
            ring.addPoint(x + 5 + 4 * std::cos(a), y + 5 + 4 * std::sin(a));
        }
        ring.closeRings();
        OGRPolygon polygon;
        polygon.addRing(&ring);
        feature->SetGeometry(&polygon);
        feature->SetField(0, kNatures[i % 12]);
        feature->SetField(1, static_cast<double>(i) * 0.5);
        feature->SetFID(OGRNullFID);
        if (layer->CreateFeature(feature) != OGRERR_NONE) {
            return 1;
        }
    }
    OGRFeature::DestroyFeature(feature);
    if (layer->CommitTransaction() != OGRERR_NONE) {
        return 1;
    }
    GDALClose(ds);
    return 0;
}

int update(const std::string& path) {
    using namespace vark;
    auto start = std::chrono::steady_clock::now();
    auto app = ogr::CreateOgrApplication();
    ogr::AddDataSource(*app, {path, ""});
    auto layer = std::dynamic_pointer_cast<host::FeatureLayer>(
        app->GetDocument()->GetFocusMap()->GetMapLayer(0));
    auto featureClass = layer->GetFeatureClass();

    auto stats = app->CreateStatistics();
    stats->SetStatisticsField("NATURE");
    stats->SetStatisticsCursor(layer->SearchLayer(nullptr, false));
    stats->SetUniqueValueLimit(100);
    const auto distinct = stats->GetUniqueValueCount();
    const double statsTime = seconds(start);

    start = std::chrono::steady_clock::now();
    host::Field field = host::NewField();
    field.SetFieldName("FZY_NATURE");
    field.SetFieldType(host::kFieldDouble);
    field.SetFieldAlias("FZY_NATURE");
    featureClass->AddFieldToClass(field);
    const double addTime = seconds(start);

    start = std::chrono::steady_clock::now();
    auto cursor = featureClass->OpenUpdateCursor(nullptr, true);
    const host::Fields fields = featureClass->GetFields();
    const std::int32_t target = fields.FindFieldIndex("FZY_NATURE");
    const std::int32_t source = fields.FindFieldIndex("NATURE");
    const double forest = static_cast<double>(0.67f);
    long stored = 0;
    while (auto row = cursor->NextRow()) {
        const auto text = row->GetRowText(source);
        double degree = 0;
        if (text && *text == "Forêt") {
            degree = forest;
        } else if (text && *text == "Prairie") {
            degree = 1.0;
        }
        row->SetRowDouble(target, degree);
        cursor->StoreRow(*row);
        ++stored;
    }
    cursor->Flush();
    cursor.reset();
    const double updateTime = seconds(start);

    std::printf("distinct=%d stored=%ld statistics_s=%.3f add_field_s=%.3f update_s=%.3f\n",
                distinct, stored, statsTime, addTime, updateTime);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "create" && argc == 4) {
            return create(argv[2], std::atol(argv[3]));
        }
        if (mode == "update" && argc == 3) {
            return update(argv[2]);
        }
        std::fprintf(stderr, "usage: %s create <path> <count> | update <path>\n", argv[0]);
        return 2;
    } catch (const vark::Failure& f) {
        std::fprintf(stderr, "failure %d: %s (%s)\n", f.number(), f.description().c_str(),
                     f.source().c_str());
        return 1;
    }
}
