#include "host/common/ColumnMask.h"

namespace vark::host::common {

ColumnMask::ColumnMask(std::int32_t fieldCount, const ColumnUpdate& columns, std::string_view table,
                       std::string_view source)
    : m_readable(static_cast<std::size_t>(std::max(fieldCount, 0)), false),
      m_writable(m_readable.size(), false) {
    if (!m_readable.empty()) {
        m_readable[0] = true;  // the object id comes with every feature
    }
    const auto note = [&](std::int32_t index, bool written) {
        if (index < 0 || static_cast<std::size_t>(index) >= m_readable.size()) {
            throw Failure(
                err::kSubscriptOutOfRange,
                "Column update of " + std::string(table) + ": no field " + std::to_string(index),
                std::string(source));
        }
        m_readable[static_cast<std::size_t>(index)] = true;
        if (written) {
            m_writable[static_cast<std::size_t>(index)] = true;
        }
    };
    for (const std::int32_t index : columns.read) {
        note(index, false);
    }
    for (const std::int32_t index : columns.written) {
        note(index, true);
    }
}

Failure ColumnMask::refusal(std::string_view field, Access access, std::string_view source) {
    return Failure(err::kHostFailure,
                   "Field " + std::string(field) + " is not " +
                       (access == Access::kRead ? "read" : "changed") + " by this column update",
                   std::string(source));
}

}  // namespace vark::host::common
