#include "host/host.h"

#include <array>
#include <charconv>
#include <cmath>

#include "support/Cp1252.h"
#include "support/Failure.h"

namespace vark::host {

std::string ValueToText(const Value& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&v)) {
        if (std::isnan(*d)) {
            return "NaN";
        }
        // Shortest text that reads back as the same double: lists and value
        // comparisons then agree with what is stored.
        std::array<char, 64> buf{};
        auto res = std::to_chars(buf.data(), buf.data() + buf.size(), *d);
        return std::string(buf.data(), res.ptr);
    }
    if (const auto* s = std::get_if<std::string>(&v)) {
        return *s;
    }
    return {};
}

std::string DecodeLayerText(std::string_view text, TextEncoding encoding) {
    if (encoding == TextEncoding::kUndeclared && !IsValidUtf8(text)) {
        return DecodeCp1252(text);
    }
    return std::string(text);
}

std::vector<std::string> LayerTextForms(std::string_view utf8, TextEncoding encoding) {
    std::vector<std::string> forms{std::string(utf8)};
    if (encoding != TextEncoding::kUndeclared || !IsValidUtf8(utf8)) {
        return forms;
    }
    // Bytes that are valid UTF-8 read as UTF-8: as `utf8` itself when it is
    // plain ASCII, as another text otherwise.
    if (std::optional<std::string> bytes = EncodeCp1252Exactly(utf8);
        bytes && !IsValidUtf8(*bytes)) {
        forms.push_back(std::move(*bytes));
    }
    return forms;
}

Field Fields::GetField(std::int32_t index) && {
    return static_cast<const Fields&>(*this).GetField(index);
}

const Field& Fields::GetField(std::int32_t index) const& {
    if (index < 0 || index >= GetFieldCount()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Field index " + std::to_string(index) + " out of range (" +
                          std::to_string(GetFieldCount()) + " fields)",
                      "Fields");
    }
    return m_fields[static_cast<std::size_t>(index)];
}

std::shared_ptr<UpdateCursor> FeatureClass::OpenUpdateCursor(std::shared_ptr<QueryFilter> filter,
                                                             bool recycling) {
    ColumnUpdate whole;
    whole.wholeFeatures = true;
    whole.where = filter ? filter->whereClause() : std::string();
    whole.recycling = recycling;
    return OpenColumnUpdateCursor(whole);
}

std::int32_t Fields::FindFieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].GetFieldName() == name) {
            return static_cast<std::int32_t>(i);
        }
    }
    return -1;
}

}  // namespace vark::host
