#pragma once

#include <string>

namespace vark {

/// Trims blanks at both ends, then leading CR/LF/blanks, then trailing CR/LF.
std::string TrimCrLf(const std::string& s);
/// The trimmed text after the first `key` in `source`, up to `delimiter`
/// (or the end when the delimiter is empty, or absent and `toEnd` is set);
/// `defaultValue` when that is empty.
std::string GetValueAfterKey(const std::string& source, const std::string& key,
                             const std::string& delimiter, bool toEnd,
                             const std::string& defaultValue);

}  // namespace vark
