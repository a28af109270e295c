// Writes the benchmark's data: polygon layers of land parcels with a
// skewed land-cover text field, and the grades of 24 of its 30 values.
//
//   make_bench_layers layer PATH COUNT   a layer "parcels" of COUNT polygons
//                                        (.shp: shapefile, .gpkg: GeoPackage)
//   make_bench_layers grades PATH        the graded entries, one per line
//   make_bench_layers sql                the CASE expression giving the same
//                                        degrees, for the SQL alternatives
//
// Fields of "parcels":
//   NATURE  text, one of 30 land-cover values drawn with Zipf weights
//           (1/rank), about 1 % null and 0.5 % empty;
//   CODE    text, the parcel's own code: as many values as features;
//   SURF    real, the area in square metres;
//   INDICE  real in 0..1.
// Every polygon is a 13-point ring around its own cell of a grid. The
// values come from a fixed seed: the same COUNT gives the same layer.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 30> kNatures = {"Prairie permanente",
                                                       "Terre arable",
                                                       "Forêt de feuillus",
                                                       "Bâti discontinu",
                                                       "Forêt de conifères",
                                                       "Vigne",
                                                       "Prairie temporaire",
                                                       "Forêt mélangée",
                                                       "Verger",
                                                       "Lande",
                                                       "Friche",
                                                       "Réseau routier",
                                                       "Zone humide",
                                                       "Plan d'eau",
                                                       "Culture permanente",
                                                       "Bâti continu",
                                                       "Zone industrielle",
                                                       "Cours d'eau",
                                                       "Étang",
                                                       "Marais",
                                                       "Pelouse naturelle",
                                                       "Espace vert urbain",
                                                       "Zone commerciale",
                                                       "Carrière",
                                                       "Garrigue",
                                                       "Maquis",
                                                       "Tourbière",
                                                       "Voie ferrée",
                                                       "Décharge",
                                                       "Plage"};

/// The grade of value `rank`: the 24 most frequent values get one (spread
/// over every grade), the 6 rarest none.
constexpr int kGraded = 24;
int GradeOf(std::size_t rank) {
    return static_cast<int>((rank * 5 + 6) % 7);
}

constexpr float kSeven[7] = {0.0F, 0.17F, 0.34F, 0.5F, 0.67F, 0.83F, 1.0F};

int Usage() {
    std::fputs(
        "usage: make_bench_layers layer PATH COUNT | grades PATH | sql\n"
        "  PATH ending in .shp: shapefile; in .gpkg: GeoPackage\n",
        stderr);
    return 2;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

int WriteGrades(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t rank = 0; rank < kGraded; ++rank) {
        out << kNatures[rank] << "->" << GradeOf(rank) << '\n';
    }
    return out ? 0 : 1;
}

int PrintSql() {
    // The degrees as the component writes them: single precision widened.
    std::string sql = "CASE NATURE";
    for (std::size_t rank = 0; rank < kGraded; ++rank) {
        std::string value(kNatures[rank]);
        for (std::size_t at = value.find('\''); at != std::string::npos;
             at = value.find('\'', at + 2)) {
            value.insert(at, 1, '\'');
        }
        char degree[64];
        std::snprintf(degree, sizeof degree, "%.17g", static_cast<double>(kSeven[GradeOf(rank)]));
        sql += " WHEN '" + value + "' THEN " + degree;
    }
    sql += " ELSE 0 END";
    std::puts(sql.c_str());
    return 0;
}

int WriteLayer(const std::string& path, long count) {
    GDALAllRegister();
    const bool gpkg = EndsWith(path, ".gpkg");
    if (!gpkg && !EndsWith(path, ".shp")) {
        return Usage();
    }
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(gpkg ? "GPKG" : "ESRI Shapefile");
    GDALDataset* ds =
        driver ? driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr) : nullptr;
    if (!ds) {
        std::fprintf(stderr, "cannot create %s\n", path.c_str());
        return 1;
    }
    char** layerOptions = nullptr;
    if (!gpkg) {
        layerOptions = CSLSetNameValue(layerOptions, "ENCODING", "UTF-8");
    }
    OGRLayer* layer = ds->CreateLayer("parcels", nullptr, wkbPolygon, layerOptions);
    CSLDestroy(layerOptions);
    OGRFieldDefn nature("NATURE", OFTString);
    nature.SetWidth(40);
    OGRFieldDefn code("CODE", OFTString);
    code.SetWidth(12);
    OGRFieldDefn surf("SURF", OFTReal);
    surf.SetWidth(24);
    surf.SetPrecision(15);
    OGRFieldDefn indice("INDICE", OFTReal);
    indice.SetWidth(24);
    indice.SetPrecision(15);
    if (!layer || layer->CreateField(&nature) != OGRERR_NONE ||
        layer->CreateField(&code) != OGRERR_NONE || layer->CreateField(&surf) != OGRERR_NONE ||
        layer->CreateField(&indice) != OGRERR_NONE) {
        std::fprintf(stderr, "cannot create the layer of %s\n", path.c_str());
        GDALClose(ds);
        return 1;
    }

    std::array<double, kNatures.size()> cumulative{};
    double sum = 0;
    for (std::size_t rank = 0; rank < kNatures.size(); ++rank) {
        sum += 1.0 / static_cast<double>(rank + 1);
        cumulative[rank] = sum;
    }
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    if (ds->StartTransaction() != OGRERR_NONE && gpkg) {
        std::fprintf(stderr, "cannot start a transaction on %s\n", path.c_str());
        GDALClose(ds);
        return 1;
    }
    OGRFeature* feature = OGRFeature::CreateFeature(layer->GetLayerDefn());
    const long side = std::max(1L, static_cast<long>(std::sqrt(static_cast<double>(count))));
    for (long i = 0; i < count; ++i) {
        const double x = 700000.0 + static_cast<double>(i % side) * 50.0;
        const double y = 6500000.0 + static_cast<double>(i / side) * 50.0;
        const double radius = 12.0 + 10.0 * unit(random);
        OGRLinearRing ring;
        for (int k = 0; k < 12; ++k) {
            const double angle = -k * 3.14159265358979 / 6.0;
            const double wobble = 1.0 + 0.15 * (unit(random) - 0.5);
            ring.addPoint(x + 25 + radius * wobble * std::cos(angle),
                          y + 25 + radius * wobble * std::sin(angle));
        }
        ring.closeRings();
        OGRPolygon polygon;
        polygon.addRing(&ring);
        feature->SetGeometry(&polygon);

        const double draw = unit(random);
        if (draw < 0.01) {
            feature->SetFieldNull(0);
        } else if (draw < 0.015) {
            feature->SetField(0, "");
        } else {
            const double pick = unit(random) * sum;
            std::size_t rank = 0;
            while (rank + 1 < kNatures.size() && cumulative[rank] < pick) {
                ++rank;
            }
            feature->SetField(0, std::string(kNatures[rank]).c_str());
        }
        char codeText[24];
        std::snprintf(codeText, sizeof codeText, "P%09ld", i);
        feature->SetField(1, codeText);
        feature->SetField(2, polygon.get_Area());
        feature->SetField(3, unit(random));
        feature->SetFID(OGRNullFID);
        if (layer->CreateFeature(feature) != OGRERR_NONE) {
            std::fprintf(stderr, "cannot write feature %ld of %s\n", i, path.c_str());
            OGRFeature::DestroyFeature(feature);
            GDALClose(ds);
            return 1;
        }
    }
    OGRFeature::DestroyFeature(feature);
    if (gpkg && ds->CommitTransaction() != OGRERR_NONE) {
        std::fprintf(stderr, "cannot commit %s\n", path.c_str());
        GDALClose(ds);
        return 1;
    }
    GDALClose(ds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view what = argc > 1 ? argv[1] : "";
    if (what == "layer" && argc == 4) {
        char* end = nullptr;
        const long count = std::strtol(argv[3], &end, 10);
        if (*end != '\0' || count < 1) {
            return Usage();
        }
        return WriteLayer(argv[2], count);
    }
    if (what == "grades" && argc == 3) {
        return WriteGrades(argv[2]);
    }
    if (what == "sql" && argc == 2) {
        return PrintSql();
    }
    return Usage();
}
