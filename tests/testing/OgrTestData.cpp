#include "OgrTestData.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdlib>
#include <stdexcept>

namespace vark::testing {

namespace fs = std::filesystem;

namespace {

struct DatasetCloser {
    void operator()(GDALDataset* ds) const { GDALClose(ds); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

DatasetPtr openRead(const fs::path& path) {
    GDALAllRegister();
    DatasetPtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!ds) {
        throw std::runtime_error("cannot open " + path.string());
    }
    return ds;
}

OGRLayer* layerOf(GDALDataset& ds, const std::string& layer) {
    OGRLayer* l = ds.GetLayerByName(layer.c_str());
    if (!l) {
        throw std::runtime_error("no layer " + layer);
    }
    return l;
}

}  // namespace

void WriteLayer(const std::string& driver, const fs::path& path, const std::string& layer,
                const std::vector<FieldSpec>& fields, const std::vector<FeatureSpec>& features,
                int geometryType, const std::vector<std::string>& layerOptions) {
    GDALAllRegister();
    DatasetPtr ds;
    if (fs::exists(path) && driver != "ESRI Shapefile") {
        ds.reset(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    } else {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName(driver.c_str());
        if (!drv) {
            throw std::runtime_error("no driver " + driver);
        }
        ds.reset(drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    }
    if (!ds) {
        throw std::runtime_error("cannot create " + path.string());
    }
    CPLStringList options;
    for (const auto& option : layerOptions) {
        options.AddString(option.c_str());
    }
    OGRLayer* l = ds->CreateLayer(layer.c_str(), nullptr,
                                  static_cast<OGRwkbGeometryType>(geometryType), options.List());
    if (!l) {
        throw std::runtime_error("cannot create layer " + layer);
    }
    for (const auto& f : fields) {
        OGRFieldDefn defn(f.name.c_str(), static_cast<OGRFieldType>(f.ogrType));
        defn.SetSubType(static_cast<OGRFieldSubType>(f.ogrSubType));
        defn.SetWidth(f.width);
        defn.SetPrecision(f.precision);
        if (l->CreateField(&defn) != OGRERR_NONE) {
            throw std::runtime_error("cannot create field " + f.name);
        }
    }
    const bool manyFeatures = features.size() > 1000;
    if (manyFeatures) {
        if (l->StartTransaction() != OGRERR_NONE) {
            throw std::runtime_error("cannot start a transaction");
        }
    }
    for (const auto& source : features) {
        OGRFeature* feature = OGRFeature::CreateFeature(l->GetLayerDefn());
        for (std::size_t i = 0; i < source.values.size(); ++i) {
            const int a = static_cast<int>(i);
            const auto& v = source.values[i];
            if (const auto* n = std::get_if<std::int64_t>(&v)) {
                feature->SetField(a, static_cast<GIntBig>(*n));
            } else if (const auto* d = std::get_if<double>(&v)) {
                feature->SetField(a, *d);
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                feature->SetField(a, s->c_str());
            } else {
                feature->SetFieldNull(a);
            }
        }
        if (!source.wkt.empty()) {
            OGRGeometry* geometry = nullptr;
            OGRGeometryFactory::createFromWkt(source.wkt.c_str(), nullptr, &geometry);
            feature->SetGeometryDirectly(geometry);
        }
        const OGRErr err = l->CreateFeature(feature);
        OGRFeature::DestroyFeature(feature);
        if (err != OGRERR_NONE) {
            throw std::runtime_error("cannot create a feature in " + layer);
        }
    }
    if (manyFeatures) {
        if (l->CommitTransaction() != OGRERR_NONE) {
            throw std::runtime_error("cannot commit");
        }
    }
}

std::vector<host::Value> ReadColumn(const fs::path& path, const std::string& layer,
                                    const std::string& field) {
    auto ds = openRead(path);
    OGRLayer* l = layerOf(*ds, layer);
    const int index = l->GetLayerDefn()->GetFieldIndex(field.c_str());
    if (index < 0) {
        throw std::runtime_error("no field " + field);
    }
    std::vector<host::Value> out;
    for (auto& feature : *l) {
        if (!feature->IsFieldSetAndNotNull(index)) {
            out.emplace_back();
            continue;
        }
        switch (feature->GetFieldDefnRef(index)->GetType()) {
            case OFTInteger:
            case OFTInteger64:
                out.emplace_back(static_cast<std::int64_t>(feature->GetFieldAsInteger64(index)));
                break;
            case OFTReal:
                out.emplace_back(feature->GetFieldAsDouble(index));
                break;
            default:
                out.emplace_back(std::string(feature->GetFieldAsString(index)));
        }
    }
    return out;
}

std::vector<std::string> ReadGeometries(const fs::path& path, const std::string& layer) {
    auto ds = openRead(path);
    std::vector<std::string> out;
    for (auto& feature : *layerOf(*ds, layer)) {
        const OGRGeometry* g = feature->GetGeometryRef();
        out.push_back(g ? g->exportToWkt() : std::string());
    }
    return out;
}

std::vector<std::string> ReadFieldNames(const fs::path& path, const std::string& layer) {
    auto ds = openRead(path);
    OGRFeatureDefn* defn = layerOf(*ds, layer)->GetLayerDefn();
    std::vector<std::string> out;
    for (int i = 0; i < defn->GetFieldCount(); ++i) {
        out.emplace_back(defn->GetFieldDefn(i)->GetNameRef());
    }
    return out;
}

}  // namespace vark::testing
