#pragma once

// The description of a criterion field as a result: what the description
// window shows for it, read from the layer's criterion file without any
// message box and without the module's open file, for callers that show it
// their own way.

#include <cstdint>
#include <optional>
#include <string>

#include "support/Failure.h"

namespace vark {

/// A criterion field's description, from opening the layer's criterion
/// file to closing it.
struct FieldDescription {
    enum class Status {
        /// The layer has no criterion file (none is created for asking).
        kNoFile,
        /// The file holds no record of the field.
        kNoRecord,
        kFound,
        /// The file cannot be read; `failure` says why.
        kDamaged,
        /// Reading failed otherwise; `failure` says why, `marker` where.
        kFailed,
    };
    Status status = Status::kNoRecord;
    /// The description (kFound), line ends CR LF as the window shows them.
    std::string text;
    std::optional<Failure> failure;
    std::int32_t marker = 0;
};

/// Describes the criterion field `fieldName` of layer `layerName` in
/// `workspacePath`: its kind-2 record, then its kind-1 record, the texts
/// joined as the description window would hold them. Never throws.
FieldDescription DescribeCriterionField(const std::string& workspacePath,
                                        const std::string& layerName,
                                        const std::string& fieldName) noexcept;

}  // namespace vark
