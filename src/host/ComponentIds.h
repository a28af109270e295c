#pragma once

// Identifiers of the component and of the host interfaces it implements or
// receives, in one place. Class, interface and type-library ids are written
// in the registry form: upper-case hexadecimal between braces.

#include <cstdint>
#include <string_view>

namespace vark::ids {

// ---- The component's type library
inline constexpr std::string_view kTypeLibraryName = "VARK_fuzzy";
inline constexpr std::string_view kTypeLibraryId = "{F1ABAB55-5A17-4600-A68A-E96AAB0DA855}";
inline constexpr std::int32_t kTypeLibraryMajor = 1;
inline constexpr std::int32_t kTypeLibraryMinor = 0;
inline constexpr std::string_view kTypeLibraryVersion = "1.0";

// ---- The command
inline constexpr std::string_view kClassName_clsRequeteText = "clsRequeteText";
inline constexpr std::string_view kClsid_clsRequeteText = "{A8DD6A25-82AE-4C3D-A0C1-6377234F7292}";
/// Default interface `_clsRequeteText` (Mainprog, mainprog2).
inline constexpr std::string_view kIid__clsRequeteText = "{B9D4F814-6A0A-4124-828A-9D4C9AAFA056}";
inline constexpr std::string_view kProgId_clsRequeteText = "VARK_fuzzy.clsRequeteText";

// ---- The root menu
inline constexpr std::string_view kClassName_menu_requeteur = "menu_requeteur";
inline constexpr std::string_view kClsid_menu_requeteur = "{4CDD0063-E19E-4A31-B430-0ED3CC724E70}";
/// Default interface `_menu_requeteur` (no methods).
inline constexpr std::string_view kIid__menu_requeteur = "{4FC9833C-D622-4BAE-9951-977F4389C4C2}";
inline constexpr std::string_view kProgId_menu_requeteur = "VARK_fuzzy.menu_requeteur";

// ---- Host interfaces implemented
inline constexpr std::string_view kIid_ICommand = "{36B06538-4437-11D1-B970-080009EE4E51}";
inline constexpr std::string_view kIid_IMenuDef = "{58E2C6A1-CD8D-11D1-91A7-0080C718DF97}";
inline constexpr std::string_view kIid_IRootLevelMenu = "{66767665-D576-11D2-9F57-00C04F6BC61A}";

// ---- Host event sources received
inline constexpr std::string_view kIid_DocumentEvents = "{91E55EF5-FBC5-11D1-94A2-080009EEBECB}";
inline constexpr std::string_view kIid_MapActiveViewEvents =
    "{E79C5940-52DD-11D0-98BE-00805F7CED21}";

}  // namespace vark::ids

namespace vark::ids {

/// True when two ids are equal, ignoring the case of ASCII letters (ids and
/// program ids are matched as a registry matches them).
constexpr bool IdEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace vark::ids
