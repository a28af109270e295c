#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace vark {

/// A hash of texts that finds std::string keys from std::string_view ones
/// (with std::equal_to<>), so that a lookup in a hot loop copies nothing.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
        return std::hash<std::string_view>{}(s);
    }
};

}  // namespace vark
