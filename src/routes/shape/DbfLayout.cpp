#include "routes/shape/DbfLayout.h"

#include <cpl_string.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vark::routes {

namespace {

std::uint32_t LittleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t LittleEndian16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

void PutLittleEndian(char* p, std::uint32_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
        p[k] = static_cast<char>((value >> (8 * k)) & 0xFF);
    }
}

}  // namespace

std::size_t DbfHeaderSize(const unsigned char* prefix) {
    return LittleEndian16(prefix + 8);
}

std::string ParseDbfHeader(std::string_view header, DbfLayout& layout) {
    if (header.size() < kDbfPrefixSize) {
        return "its header is cut short";
    }
    const auto* p = reinterpret_cast<const unsigned char*>(header.data());
    layout.records = LittleEndian32(p + 4);
    layout.headerSize = LittleEndian16(p + 8);
    layout.recordSize = LittleEndian16(p + 10);
    layout.languageDriver = p[29];
    layout.fields.clear();
    if (layout.headerSize < kDbfPrefixSize + 1 || header.size() < layout.headerSize) {
        return "its header is cut short";
    }
    std::size_t offset = 1;
    std::size_t at = kDbfPrefixSize;
    for (; at + kDbfDescriptorSize <= layout.headerSize && header[at] != kDbfDescriptorEnd;
         at += kDbfDescriptorSize) {
        const auto* d = p + at;
        DbfField field;
        const auto* nameEnd = static_cast<const unsigned char*>(std::memchr(d, 0, 11));
        field.name.assign(reinterpret_cast<const char*>(d), nameEnd ? nameEnd - d : 11);
        while (!field.name.empty() && field.name.back() == ' ') {
            field.name.pop_back();
        }
        field.type = static_cast<char>(d[11]);
        field.size = d[16];
        field.decimals = d[17];
        field.offset = offset;
        offset += static_cast<std::size_t>(field.size);
        layout.fields.push_back(std::move(field));
    }
    layout.descriptorsEnd = at;
    if (offset != layout.recordSize) {
        return "its record size (" + std::to_string(layout.recordSize) +
               " bytes) is not the sum of its fields' sizes (" + std::to_string(offset) + ")";
    }
    return {};
}

std::string DbfHeaderWithNumberField(std::string_view header, const DbfLayout& layout,
                                     std::string_view nameBytes, int size, int decimals,
                                     const std::tm& dateUtc) {
    const bool terminated = layout.descriptorsEnd < layout.headerSize;
    std::string out(kDbfPrefixSize, '\0');
    out.append(header.substr(kDbfPrefixSize, layout.descriptorsEnd - kDbfPrefixSize));
    char descriptor[kDbfDescriptorSize] = {};
    std::memcpy(descriptor, nameBytes.data(), std::min<std::size_t>(nameBytes.size(), 11));
    descriptor[11] = 'N';
    descriptor[16] = static_cast<char>(size);
    descriptor[17] = static_cast<char>(decimals);
    out.append(descriptor, sizeof descriptor);
    out += kDbfDescriptorEnd;
    if (terminated) {
        out.append(header.substr(layout.descriptorsEnd + 1));
    }
    out[0] = 0x03;
    out[1] = static_cast<char>(dateUtc.tm_year);
    out[2] = static_cast<char>(dateUtc.tm_mon + 1);
    out[3] = static_cast<char>(dateUtc.tm_mday);
    PutLittleEndian(&out[4], layout.records, 4);
    PutLittleEndian(&out[8], static_cast<std::uint32_t>(out.size()), 2);
    PutLittleEndian(&out[10],
                    static_cast<std::uint32_t>(layout.recordSize + static_cast<std::size_t>(size)),
                    2);
    out[29] = static_cast<char>(layout.languageDriver);
    return out;
}

bool FormatDbfNumber(double value, int size, int decimals, char* out) {
    char format[32];
    std::snprintf(format, sizeof format, "%%%d.%df", std::min(size, 254), decimals);
    char text[512];
    const int length = CPLsnprintf(text, sizeof text, format, value);
    if (length < 0 || length > size) {
        return false;
    }
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return true;
}

}  // namespace vark::routes
