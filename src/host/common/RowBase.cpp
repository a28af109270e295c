#include "host/common/RowBase.h"

#include "host/common/ValueConversion.h"

namespace vark::host::common {

void RowBase::check(std::int32_t index, ColumnMask::Access access) const {
    checkField(index);
    if (m_mask && !m_mask->allows(index, access)) {
        throw ColumnMask::refusal(fieldName(index), access, source());
    }
}

Value RowBase::GetRowValue(std::int32_t index) const {
    check(index, ColumnMask::Access::kRead);
    return readValue(index);
}

void RowBase::SetRowValue(std::int32_t index, const Value& value) {
    check(index, ColumnMask::Access::kWrite);
    writeValue(index, CoerceToField(fieldType(index), value, fieldName(index), source()));
}

std::optional<std::string_view> RowBase::GetRowText(std::int32_t index) const {
    check(index, ColumnMask::Access::kRead);
    std::optional<std::string_view> text;
    if (readText(index, text)) {
        return text;
    }
    const Value value = readValue(index);
    if (IsNull(value)) {
        return std::nullopt;
    }
    const auto at = static_cast<std::size_t>(index);
    if (m_texts.size() <= at) {
        m_texts.resize(at + 1);
    }
    m_texts[at] = ValueToText(value);
    return std::string_view(m_texts[at]);
}

void RowBase::SetRowDouble(std::int32_t index, double value) {
    check(index, ColumnMask::Access::kWrite);
    writeDouble(index, value);
}

void RowBase::writeDouble(std::int32_t index, double value) {
    writeValue(index, CoerceToField(fieldType(index), value, fieldName(index), source()));
}

}  // namespace vark::host::common
