#pragma once

// The conversions of a value assigned to a field, shared by every adapter:
// what a host does with SetRowValue before the format sees the value.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"

namespace vark::host::common {

/// The number a value stands for: an integer or a real as is, a text that
/// reads wholly as a number (C locale); nullopt for null. Throws Failure
/// (err::kTypeMismatch, naming `fieldName`, from `source`) for any other text.
std::optional<double> ToNumber(const Value& value, std::string_view fieldName,
                               std::string_view source);

/// `value` as a field of host type `type` holds it: null stays null; a text
/// field takes the value's text (ValueToText); integer fields (short, long,
/// object id) the number rounded to the nearest integer; a single field the
/// number rounded to single precision; double and date fields the number.
/// Values for other types are returned unchanged. Throws as ToNumber.
Value CoerceToField(std::int32_t type, const Value& value, std::string_view fieldName,
                    std::string_view source);

/// True for the host types whose values are numbers (short, long, single,
/// double, object id): those GetStatistics accepts.
bool IsNumericFieldType(std::int32_t type);

}  // namespace vark::host::common
