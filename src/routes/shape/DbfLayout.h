#pragma once

// The layout of a dBASE table (a shapefile's .dbf): its header read into
// field descriptors, a header formatted with one more number field, and
// numbers formatted as the shapefile driver writes them. Pure byte work: no
// file is opened here.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vark::routes {

/// One field descriptor of a dBASE table.
struct DbfField {
    std::string name;  ///< the descriptor's name bytes (up to 11, in the table's encoding)
    char type = 'C';
    int size = 0;
    int decimals = 0;
    std::size_t offset = 0;  ///< within the record (the deletion flag is byte 0)
};

/// What a dBASE header describes.
struct DbfLayout {
    std::uint32_t records = 0;
    std::size_t headerSize = 0;
    std::size_t recordSize = 0;
    unsigned char languageDriver = 0;  ///< the code page byte (LDID)
    std::vector<DbfField> fields;
    std::size_t descriptorsEnd = 0;  ///< offset of the descriptors' terminator 0x0D
};

inline constexpr std::size_t kDbfPrefixSize = 32;
inline constexpr std::size_t kDbfDescriptorSize = 32;
inline constexpr char kDbfDescriptorEnd = 0x0D;

/// The header size a table's first kDbfPrefixSize bytes announce.
std::size_t DbfHeaderSize(const unsigned char* prefix);

/// Reads the header `header` (the table's first DbfHeaderSize bytes) into
/// `layout`. Returns "" when it is sound, else what is wrong with it (no
/// descriptor terminator, a record size that is not the sum of its fields).
std::string ParseDbfHeader(std::string_view header, DbfLayout& layout);

/// The header of the table `layout` describes (`header`, its bytes) with a
/// number field ('N', `size`, `decimals`) named `nameBytes` (at most 11
/// bytes, in the table's encoding) after the other descriptors; whatever
/// followed their terminator stays after it. As the shapefile driver writes
/// it: version 3, the date `dateUtc`, the counts and sizes, the code page
/// byte kept, every other prefix byte 0. Does not check that the result
/// fits dBASE's 16-bit header size: the caller compares its size().
std::string DbfHeaderWithNumberField(std::string_view header, const DbfLayout& layout,
                                     std::string_view nameBytes, int size, int decimals,
                                     const std::tm& dateUtc);

/// Writes `value` into `out` (`size` bytes) the way the shapefile driver
/// writes a number of that size and decimals: "%<size>.<decimals>f" in the
/// C locale, aligned right. Returns false, writing nothing, when the text is
/// wider than the field (the driver would cut it and warn).
bool FormatDbfNumber(double value, int size, int decimals, char* out);

}  // namespace vark::routes
