#pragma once

// What the feature class of every adapter offers besides the host
// operations: the read-only cursor its layers search with (SearchLayer).

#include <memory>

#include "host/host.h"

namespace vark::host::common {

class FeatureClassBase : public FeatureClass {
public:
    /// A read-only cursor over the features `filter` selects (every feature
    /// when it is null or its where clause empty). `recycling` lets the
    /// cursor reuse one Row object.
    virtual std::shared_ptr<Cursor> Search(std::shared_ptr<QueryFilter> filter, bool recycling) = 0;
};

/// Search on the adapter's class behind `featureClass`. Throws Failure when
/// it is not a class of one of the adapters.
std::shared_ptr<Cursor> SearchFeatureClass(FeatureClass& featureClass,
                                           std::shared_ptr<QueryFilter> filter, bool recycling);

}  // namespace vark::host::common
