// Statistics over a cursor of the QGIS adapter: the provider answers for an
// unfiltered cursor that has not moved, as QGIS itself does; any other
// cursor is read by the shared pass.

#include <qgsvectorlayer.h>

#include <algorithm>

#include "host/common/ValueConversion.h"
#include "host/common/ValueList.h"
#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"

namespace vark::qgis {

void QgisStatistics::SetStatisticsCursor(std::shared_ptr<host::Cursor> cursor) {
    FieldStatistics::SetStatisticsCursor(std::move(cursor));
    m_haveValues = false;
    m_values.clear();
    m_haveMinMax = false;
    m_minMax = {};
}

std::unique_ptr<host::common::FieldScan> QgisStatistics::openScan(
    const std::shared_ptr<host::Cursor>& cursor, const std::string& field) {
    auto own = std::dynamic_pointer_cast<QgisCursor>(cursor);
    if (!own) {
        throw HostFailure("Statistics need a cursor of the QGIS host");
    }
    const host::Fields& fields = own->fieldLayout()->fields;
    const std::int32_t index = fields.FindFieldIndex(field);
    if (index < 0) {
        throw HostFailure("Statistics: no field named " + field);
    }
    return std::make_unique<host::common::CursorFieldScan>(cursor, index,
                                                           fields.GetField(index).GetFieldType(),
                                                           -1, [own] { return own->reopened(); });
}

QgisStatistics::ProviderField QgisStatistics::providerField() const {
    auto own = std::dynamic_pointer_cast<QgisCursor>(cursor());
    if (!own || !own->untouchedAndUnfiltered() || !own->layer()) {
        return {};
    }
    const FieldLayout& layout = *own->fieldLayout();
    const std::int32_t index = layout.fields.FindFieldIndex(field());
    if (index < 0) {
        return {};
    }
    const FieldSlot& slot = layout.entries[static_cast<std::size_t>(index)];
    if (slot.kind != FieldSlot::Attribute) {
        return {};
    }
    return {own->layer(), &slot, layout.fields.GetField(index).GetFieldType()};
}

bool QgisStatistics::valuesFromProvider() {
    if (m_haveValues) {
        return true;
    }
    const ProviderField target = providerField();
    if (!target.layer) {
        return false;
    }
    const FieldSlot& s = *target.slot;
    QgsVectorDataProvider& provider = ProviderOf(*target.layer);
    // Two more than the limit: a null may be among the values returned.
    const int limit = this->limit() > 0 ? this->limit() + 2 : -1;
    const QSet<QVariant> values = provider.uniqueValues(s.providerIndex, limit);
    bool haveEmpty = false;
    for (const QVariant& value : values) {
        if (value.isNull() && !s.nullReadsEmpty) {
            continue;
        }
        host::Value v = value.isNull() ? host::Value(std::string()) : ToValue(value);
        if (v == host::Value(std::string())) {
            if (haveEmpty) {
                continue;
            }
            haveEmpty = true;
        }
        m_values.push_back(std::move(v));
    }
    if (this->limit() > 0 && m_values.size() > static_cast<std::size_t>(this->limit())) {
        m_values.resize(static_cast<std::size_t>(this->limit()) + 1);
    }
    m_haveValues = true;
    if (progress()) {
        const std::int64_t total = std::max<long long>(provider.featureCount(), 0);
        progress()(total, total);
    }
    return true;
}

std::shared_ptr<host::Statistics::ValueEnum> QgisStatistics::GetUniqueValues() {
    if (!valuesFromProvider()) {
        return FieldStatistics::GetUniqueValues();
    }
    return std::make_shared<host::common::ValueList>(m_values);
}

std::int32_t QgisStatistics::GetUniqueValueCount() {
    if (!valuesFromProvider()) {
        return FieldStatistics::GetUniqueValueCount();
    }
    return static_cast<std::int32_t>(m_values.size());
}

host::MinMax QgisStatistics::GetStatistics() {
    if (m_haveMinMax) {
        return m_minMax;
    }
    const ProviderField target = providerField();
    if (!target.layer || !host::common::IsNumericFieldType(target.type)) {
        return FieldStatistics::GetStatistics();
    }
    QgsVectorDataProvider& provider = ProviderOf(*target.layer);
    const QVariant lo = provider.minimumValue(target.slot->providerIndex);
    const QVariant hi = provider.maximumValue(target.slot->providerIndex);
    m_haveMinMax = true;
    m_minMax =
        lo.isNull() || hi.isNull() ? host::MinMax{} : host::MinMax{lo.toDouble(), hi.toDouble()};
    return m_minMax;
}

}  // namespace vark::qgis
