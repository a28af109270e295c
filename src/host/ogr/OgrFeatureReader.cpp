// One pass over the features of an OGR layer, and the claims that keep two
// passes from sharing the layer's reading position.

#include <algorithm>

#include "host/ogr/OgrData.h"

namespace vark::ogr {

FeatureReader::FeatureReader(std::shared_ptr<OgrFeatureClass> featureClass, std::string where,
                             Mode mode)
    : m_class(std::move(featureClass)), m_where(std::move(where)), m_mode(mode) {}

FeatureReader::~FeatureReader() {
    if (m_started && !m_finished) {
        release();
    }
}

void FeatureReader::restrictTo(int attr) {
    restrictTo(attr < 0 ? std::vector<int>{} : std::vector<int>{attr});
}

void FeatureReader::restrictTo(std::vector<int> attrs) {
    if (!m_started) {
        m_only = std::move(attrs);
        m_restricted = true;
    }
}

std::int64_t FeatureReader::expectedCount() {
    if (!m_where.empty()) {
        return -1;
    }
    return m_class->GetFeatureCount();
}

void FeatureReader::start() {
    OGRLayer* layer = m_class->layer();
    m_claim = m_class->source().claim(layer);
    m_started = true;

    GdalErrorScope scope;
    if (layer->SetAttributeFilter(m_where.empty() ? nullptr : m_where.c_str()) != OGRERR_NONE) {
        m_finished = true;
        throw gdalFailure("Invalid where clause \"" + m_where + "\" for " + m_class->describe(),
                          scope);
    }

    // A feature written back must carry everything it was read with: some
    // drivers write an ignored geometry or field as empty. Update passes
    // therefore read everything; read-only passes skip the geometry.
    CPLStringList ignored;
    if (m_mode == Mode::kRead) {
        OGRFeatureDefn* defn = layer->GetLayerDefn();
        for (int g = 0; g < defn->GetGeomFieldCount(); ++g) {
            const char* name = defn->GetGeomFieldDefn(g)->GetNameRef();
            ignored.AddString((name && *name) ? name : "OGR_GEOMETRY");
        }
        ignored.AddString("OGR_STYLE");
        if (m_restricted) {
            for (int a = 0; a < defn->GetFieldCount(); ++a) {
                if (std::find(m_only.begin(), m_only.end(), a) == m_only.end()) {
                    ignored.AddString(defn->GetFieldDefn(a)->GetNameRef());
                }
            }
        }
    }
    if (layer->SetIgnoredFields(ignored.Count() ? const_cast<const char**>(ignored.List())
                                                : nullptr) != OGRERR_NONE) {
        m_finished = true;
        throw gdalFailure("Cannot prepare the reading of " + m_class->describe(), scope);
    }
    layer->ResetReading();
}

void FeatureReader::release() {
    m_finished = true;
    OGRLayer* layer = m_class->layer();
    if (m_class->source().currentClaim(layer) != m_claim) {
        return;
    }
    GdalErrorScope scope;
    layer->SetIgnoredFields(nullptr);
    if (!m_where.empty()) {
        layer->SetAttributeFilter(nullptr);
    }
}

FeaturePtr FeatureReader::next() {
    if (m_finished) {
        return nullptr;
    }
    if (!m_started) {
        start();
    } else if (m_class->source().currentClaim(m_class->layer()) != m_claim) {
        m_finished = true;
        throw gdalFailure("The pass over " + m_class->describe() +
                          " was interrupted by another cursor or a change of its fields");
    }
    // The hot path: no handler installed per feature (that would allocate);
    // GDAL's last error tells whether a null feature is the end or a failure.
    CPLErrorReset();
    FeaturePtr feature(m_class->layer()->GetNextFeature());
    if (!feature) {
        const bool failed = CPLGetLastErrorType() == CE_Failure;
        const std::string message = failed ? CPLGetLastErrorMsg() : "";
        release();
        if (failed) {
            throw gdalFailure("Cannot read the features of " + m_class->describe(), message);
        }
    }
    return feature;
}

}  // namespace vark::ogr
