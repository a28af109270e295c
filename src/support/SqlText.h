#pragma once

// Small pieces of SQL text every database route writes alike.

#include <string>
#include <string_view>

namespace vark {

/// `name` as an SQL identifier: in double quotes, each double quote doubled.
inline std::string QuotedIdentifier(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += c;
        }
    }
    return out + "\"";
}
}  // namespace vark
