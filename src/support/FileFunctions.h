#pragma once

#include <string>

namespace vark {

/// True when `path` names an existing file or folder, or, with wildcard
/// characters (* ?) in its last part, matches at least one entry. Otherwise
/// shows "File does not exist." CR LF path (critical icon) when
/// `showMessage` is set, and returns false. Never throws.
bool FileExists(const std::string& path, bool showMessage);

}  // namespace vark
