#include "host/common/ValueConversion.h"

#include <charconv>
#include <cmath>

#include "support/Failure.h"

namespace vark::host::common {

std::optional<double> ToNumber(const Value& value, std::string_view fieldName,
                               std::string_view source) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return static_cast<double>(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) {
        return *d;
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
        double number = 0;
        const auto res = std::from_chars(s->data(), s->data() + s->size(), number);
        if (res.ec != std::errc() || res.ptr != s->data() + s->size()) {
            throw Failure(err::kTypeMismatch,
                          "Type mismatch: \"" + *s + "\" for the field " + std::string(fieldName),
                          std::string(source));
        }
        return number;
    }
    return std::nullopt;
}

Value CoerceToField(std::int32_t type, const Value& value, std::string_view fieldName,
                    std::string_view source) {
    if (IsNull(value)) {
        return value;
    }
    switch (type) {
        case kFieldText:
            return ValueToText(value);
        case kFieldShort:
        case kFieldLong:
        case kFieldOid:
            return static_cast<std::int64_t>(std::llround(*ToNumber(value, fieldName, source)));
        case kFieldSingle:
            return static_cast<double>(static_cast<float>(*ToNumber(value, fieldName, source)));
        case kFieldDouble:
        case kFieldDate:
            return *ToNumber(value, fieldName, source);
        default:
            return value;
    }
}

bool IsNumericFieldType(std::int32_t type) {
    return (type >= kFieldShort && type <= kFieldDouble) || type == kFieldOid;
}

}  // namespace vark::host::common
