#include "support/LibraryInfo.h"

#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#ifndef VARK_VERSION_MAJOR
#error "VARK_VERSION_MAJOR must be set by the build"
#endif

namespace vark {

namespace {

namespace fs = std::filesystem;

// Any function defined in this library will do: dladdr maps its address back
// to the file the dynamic loader mapped it from.
void libraryAnchor() {}

fs::path ResolveLibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&libraryAnchor), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(info.dli_fname), ec);
    if (ec) p = fs::path(info.dli_fname);
    return p.lexically_normal();
}

// The library does not move while it is loaded, so the lookup is done once.
const fs::path& LibraryPath() {
    static const fs::path path = ResolveLibraryPath();
    return path;
}

}  // namespace

std::string LibraryFolder() {
    std::string folder = LibraryPath().parent_path().string();
    while (folder.size() > 1 && folder.back() == fs::path::preferred_separator) folder.pop_back();
    return folder;
}

std::string LibraryFileName() {
    return LibraryPath().filename().string();
}

std::string LibraryBaseName() {
    return LibraryPath().stem().string();
}

LibraryVersion GetLibraryVersion() {
    return LibraryVersion{VARK_VERSION_MAJOR, VARK_VERSION_MINOR, VARK_VERSION_REVISION};
}

std::string LibraryFileVersionText() {
    const LibraryVersion v = GetLibraryVersion();
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%d.%02d.%04d", v.major, v.minor, v.revision);
    return buffer;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == fs::path::preferred_separator) return folder + name;
    return folder + static_cast<char>(fs::path::preferred_separator) + name;
}

}  // namespace vark
