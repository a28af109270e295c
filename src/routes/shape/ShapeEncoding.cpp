#include "routes/shape/ShapeEncoding.h"

#include <cpl_conv.h>
#include <ogrsf_frmts.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace vark::routes {

namespace {

constexpr std::size_t kLdidOffset = 29;
constexpr char kAnsiLdid = 0x57;

bool ShapeEncodingSet() {
    return CPLGetConfigOption("SHAPE_ENCODING", nullptr) != nullptr;
}

}  // namespace

// GDAL names the code page byte 0x57 ISO-8859-1. The byte means the ANSI
// code page of the machine that wrote the table, which for the data we read
// (French, Spanish, German) is Windows-1252: read as ISO-8859-1, its
// characters 0x80-0x9F (€ ‚ „ … ‘ ’ “ ” – — œ Œ Š...) became control
// characters, and a grade holding one could not be encoded to match them.
// Windows-1252 gives every other printable byte the same character.
bool TakesAnsiCodePage(OGRLayer& layer) {
    if (ShapeEncodingSet()) {
        return false;
    }
    const char* ldid = layer.GetMetadataItem("LDID_VALUE", "SHAPEFILE");
    const char* cpg = layer.GetMetadataItem("CPG_VALUE", "SHAPEFILE");
    return ldid != nullptr && std::strcmp(ldid, "87") == 0 && cpg == nullptr;
}

bool MayTakeAnsiCodePage(const std::string& path) {
    namespace fs = std::filesystem;
    if (ShapeEncodingSet()) {
        return false;
    }
    fs::path table(path);
    std::string extension = table.extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (extension != ".shp" && extension != ".dbf") {
        return false;
    }
    std::error_code ec;
    for (const char* dbf : {".dbf", ".DBF"}) {
        table.replace_extension(dbf);
        if (!fs::is_regular_file(table, ec)) {
            continue;
        }
        std::ifstream in(table, std::ios::binary);
        char ldid = 0;
        return in.seekg(kLdidOffset) && in.get(ldid) && ldid == kAnsiLdid;
    }
    return false;
}

}  // namespace vark::routes
