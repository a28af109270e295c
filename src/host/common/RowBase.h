#pragma once

// The row operations of every adapter, written once: GetRowValue,
// SetRowValue, GetRowText and SetRowDouble over the adapter's access to
// one field, with the column mask of a column update and the value
// conversion of an assignment (CoerceToField).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/common/ColumnMask.h"
#include "host/host.h"

namespace vark::host::common {

class RowBase : public Row {
public:
    /// Throws Failure for a field out of range or outside the mask.
    Value GetRowValue(std::int32_t index) const final;
    /// Converts `value` for the field's type, then stores it in the row.
    /// Throws Failure for a field out of range, outside the mask, that
    /// cannot be written, or a text that is not a number for a numeric
    /// field (err::kTypeMismatch).
    void SetRowValue(std::int32_t index, const Value& value) final;
    /// A text field's text without copying where the adapter has it; the
    /// text of any other value otherwise. Valid until the row is refilled
    /// or the same field is read again.
    std::optional<std::string_view> GetRowText(std::int32_t index) const final;
    void SetRowDouble(std::int32_t index, double value) final;

protected:
    explicit RowBase(std::shared_ptr<const ColumnMask> mask) : m_mask(std::move(mask)) {}

    /// Throws Failure unless field `index` can be reached now (in range,
    /// the row still current).
    virtual void checkField(std::int32_t index) const = 0;
    /// The field's name, for messages.
    virtual std::string fieldName(std::int32_t index) const = 0;
    /// The field's host type code.
    virtual std::int32_t fieldType(std::int32_t index) const = 0;
    /// The value of field `index` (already checked).
    virtual Value readValue(std::int32_t index) const = 0;
    /// Sets `text` to the field's text without a copy and returns true
    /// where the adapter has one (nullopt for null); false lets the value
    /// of readValue be converted.
    virtual bool readText(std::int32_t index, std::optional<std::string_view>& text) const {
        (void)index;
        (void)text;
        return false;
    }
    /// Stores `value`, already converted for the field's type. Throws
    /// Failure for a field that cannot be written.
    virtual void writeValue(std::int32_t index, const Value& value) = 0;
    /// Stores a double; by default the converted value through writeValue.
    virtual void writeDouble(std::int32_t index, double value);
    /// The source of the adapter's failures.
    virtual std::string_view source() const = 0;

private:
    void check(std::int32_t index, ColumnMask::Access access) const;

    std::shared_ptr<const ColumnMask> m_mask;
    mutable std::vector<std::string> m_texts;
};

}  // namespace vark::host::common
