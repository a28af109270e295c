#include "host/common/CommonFeatureLayer.h"

#include "host/common/CommonMap.h"
#include "host/common/FeatureClassBase.h"
#include "support/Failure.h"

namespace vark::host::common {

std::shared_ptr<Cursor> SearchFeatureClass(FeatureClass& featureClass,
                                           std::shared_ptr<QueryFilter> filter, bool recycling) {
    auto* own = dynamic_cast<FeatureClassBase*>(&featureClass);
    if (!own) {
        throw Failure(err::kHostFailure,
                      "The feature class " + featureClass.GetAliasName() +
                          " does not come from a host adapter",
                      kCommonSource);
    }
    return own->Search(std::move(filter), recycling);
}

std::shared_ptr<Cursor> CommonFeatureLayer::SearchLayer(std::shared_ptr<QueryFilter> filter,
                                                        bool recycling) {
    if (!m_featureClass) {
        throw Failure(err::kObjectVariableNotSet, "The layer " + m_name + " has no feature class",
                      kCommonSource);
    }
    return SearchFeatureClass(*m_featureClass, std::move(filter), recycling);
}

}  // namespace vark::host::common
