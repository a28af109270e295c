#pragma once

// The fields a row of a column update may read and change (see
// FeatureClass::OpenColumnUpdateCursor), by host field index.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "support/Failure.h"

namespace vark::host::common {

class ColumnMask {
public:
    enum class Access { kRead, kWrite };

    /// The mask of `columns` over a table of `fieldCount` fields: the fields
    /// read or written are readable, those written writable, and the object
    /// id (index 0) is always readable. Throws Failure
    /// (err::kSubscriptOutOfRange, from `source`) for an index outside the
    /// table, naming `table`.
    ColumnMask(std::int32_t fieldCount, const ColumnUpdate& columns, std::string_view table,
               std::string_view source);

    bool allows(std::int32_t index, Access access) const {
        const auto& allowed = access == Access::kRead ? m_readable : m_writable;
        return index >= 0 && static_cast<std::size_t>(index) < allowed.size() &&
               allowed[static_cast<std::size_t>(index)];
    }
    /// The failure for a field outside the mask: `field` names it.
    static Failure refusal(std::string_view field, Access access, std::string_view source);

private:
    std::vector<bool> m_readable;
    std::vector<bool> m_writable;
};

}  // namespace vark::host::common
