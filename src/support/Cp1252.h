#pragma once

// The Windows-1252 code page, one byte a character: the texts of the
// criterion file, which the other tools of the family read and write, and
// the texts of a layer that does not declare its encoding. In memory every
// text of the component is UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace vark {

/// UTF-8 to Windows-1252, one byte per character. A character the code page
/// has no byte for, and every byte of a malformed UTF-8 sequence, becomes
/// "?". U+0081, U+008D, U+008F, U+0090 and U+009D (the five bytes the code
/// page leaves unassigned, as DecodeCp1252 gives them) map back to their
/// byte, so any byte string survives a decode-encode round trip.
std::string EncodeCp1252(std::string_view utf8);

/// Windows-1252 to UTF-8. Never fails: the five unassigned bytes become the
/// control characters of the same number.
std::string DecodeCp1252(std::string_view bytes);

/// UTF-8 to Windows-1252 when the code page has a byte for every character
/// (the five unassigned bytes included, as EncodeCp1252 maps them); nullopt
/// for a character it lacks and for malformed UTF-8.
std::optional<std::string> EncodeCp1252Exactly(std::string_view utf8);

/// True when `text` is well-formed UTF-8 (no overlong form, surrogate or
/// code point past U+10FFFF).
bool IsValidUtf8(std::string_view text);

}  // namespace vark
