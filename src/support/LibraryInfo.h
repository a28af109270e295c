#pragma once

#include <string>

namespace vark {

struct LibraryVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

/// Identity of the component library, found at run time from the loaded
/// library file itself (not from the executable that loaded it).
/// Folder that holds the library file (no trailing separator).
std::string LibraryFolder();
/// The library's file name, e.g. "VARK_fuzzy.so".
std::string LibraryFileName();
/// The library's file name without its extension, e.g. "VARK_fuzzy".
std::string LibraryBaseName();
/// The library's version as set by the build (10.3.2).
LibraryVersion GetLibraryVersion();
/// The file version text, "10.03.0002".
std::string LibraryFileVersionText();
/// Joins a folder and a name with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace vark
