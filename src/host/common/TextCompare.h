#pragma once

// Comparison of names the way the data formats under the hosts compare
// them (dBASE, SQL): without regard to the case of ASCII letters.

#include <algorithm>
#include <string_view>

namespace vark::host::common {

/// True when `a` and `b` differ at most in the case of ASCII letters; any
/// other byte (UTF-8 included) must be equal.
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace vark::host::common
