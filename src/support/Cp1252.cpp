#include "support/Cp1252.h"

#include <array>
#include <cstdint>
#include <utility>

namespace vark {

namespace {

// Code points of bytes 0x80..0x9F; the unassigned ones keep their own value.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

std::optional<char> ByteForCodePoint(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<char>(cp);
    }
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == cp) {
            return static_cast<char>(0x80 + i);
        }
    }
    return std::nullopt;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

/// The code point of the well-formed UTF-8 sequence at `utf8[i]` and its
/// length in bytes; nullopt when the sequence there is malformed.
std::optional<std::pair<char32_t, std::size_t>> CodePointAt(std::string_view utf8, std::size_t i) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    std::size_t extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        return std::pair<char32_t, std::size_t>{lead, 1};
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    for (std::size_t taken = 1; taken <= extra; ++taken) {
        if (i + taken >= utf8.size()) {
            return std::nullopt;
        }
        const auto next = static_cast<std::uint8_t>(utf8[i + taken]);
        if ((next & 0xC0) != 0x80) {
            return std::nullopt;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    return std::pair<char32_t, std::size_t>{cp, extra + 1};
}

}  // namespace

std::string EncodeCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto sequence = CodePointAt(utf8, i);
        if (!sequence) {
            // One "?" for the lead byte; the bytes after it are looked at again
            // on their own, so a stray continuation byte also becomes "?".
            out.push_back('?');
            ++i;
            continue;
        }
        out.push_back(ByteForCodePoint(sequence->first).value_or('?'));
        i += sequence->second;
    }
    return out;
}

std::optional<std::string> EncodeCp1252Exactly(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const auto sequence = CodePointAt(utf8, i);
        if (!sequence) {
            return std::nullopt;
        }
        const std::optional<char> byte = ByteForCodePoint(sequence->first);
        if (!byte) {
            return std::nullopt;
        }
        out.push_back(*byte);
        i += sequence->second;
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto sequence = CodePointAt(text, i);
        if (!sequence) {
            return false;
        }
        i += sequence->second;
    }
    return true;
}

std::string DecodeCp1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    for (char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else if (b < 0xA0) {
            AppendUtf8(out, kHighControls[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

}  // namespace vark
