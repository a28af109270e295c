#pragma once

// A feature layer over a feature class of an adapter: a name, the class and
// whether it is selectable.

#include <memory>
#include <string>

#include "host/host.h"

namespace vark::host::common {

class CommonFeatureLayer : public FeatureLayer {
public:
    CommonFeatureLayer() = default;
    CommonFeatureLayer(std::string name, std::shared_ptr<FeatureClass> featureClass,
                       bool selectable = true)
        : m_name(std::move(name)),
          m_featureClass(std::move(featureClass)),
          m_selectable(selectable) {}

    std::string GetLayerName() const override { return m_name; }
    void SetLayerName(std::string name) override { m_name = std::move(name); }
    std::shared_ptr<FeatureClass> GetFeatureClass() override { return m_featureClass; }
    void SetFeatureClass(std::shared_ptr<FeatureClass> featureClass) override {
        m_featureClass = std::move(featureClass);
    }
    bool IsLayerSelectable() const override { return m_selectable; }
    /// Throws Failure (err::kObjectVariableNotSet) when the layer has no
    /// feature class.
    std::shared_ptr<Cursor> SearchLayer(std::shared_ptr<QueryFilter> filter,
                                        bool recycling) override;

    void setSelectable(bool selectable) { m_selectable = selectable; }

private:
    std::string m_name;
    std::shared_ptr<FeatureClass> m_featureClass;
    bool m_selectable = true;
};

}  // namespace vark::host::common
