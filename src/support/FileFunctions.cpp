#include "support/FileFunctions.h"

#include <fnmatch.h>

#include <filesystem>
#include <system_error>

#include "support/UiServices.h"

namespace vark {

namespace {

namespace fs = std::filesystem;

bool HasWildcard(const std::string& s) {
    return s.find_first_of("*?") != std::string::npos;
}

// Only '*' and '?' are wildcards in a path; every other character, brackets
// and backslashes included, must match itself.
std::string ToFnmatchPattern(const std::string& name) {
    std::string pattern;
    pattern.reserve(name.size() * 2);
    for (char c : name) {
        if (c == '[' || c == ']' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern;
}

// Probe A: a search on the path, which accepts wildcards in its last part and
// succeeds on the first matching entry (files and folders alike).
bool FindFirstProbe(const std::string& path) {
    const fs::path p(path);
    const std::string name = p.filename().string();
    const std::string folder = p.parent_path().string();
    if (HasWildcard(folder)) return false;
    std::error_code ec;
    if (!HasWildcard(name)) return fs::exists(fs::symlink_status(p, ec)) && !ec;

    const std::string pattern = ToFnmatchPattern(name);
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    fs::directory_iterator it(dir, ec);
    if (ec) return false;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) return false;
        if (fnmatch(pattern.c_str(), it->path().filename().c_str(), 0) == 0) return true;
    }
    return false;
}

// Probe B: a plain existence test of the path (no wildcards).
bool PathExistsProbe(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec) && !ec;
}

}  // namespace

bool FileExists(const std::string& path, bool showMessage) {
    try {
        if (!path.empty()) {
            const bool a = FindFirstProbe(path);
            const bool b = PathExistsProbe(path);
            if (a || b) return true;
        }
        if (showMessage) {
            Ui().MsgBox("File does not exist.\r\n" + path, MsgIcon::Critical, MsgButtons::Ok);
        }
    } catch (...) {
    }
    return false;
}

}  // namespace vark
