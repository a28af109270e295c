// Rows and cursors over a layer's data provider.

#include <qgsexpression.h>
#include <qgsexpressioncontext.h>
#include <qgsfeaturerequest.h>
#include <qgsvectorlayer.h>

#include <algorithm>

#include "host/common/ColumnMask.h"
#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"

namespace vark::qgis {

namespace {

/// Rows written per provider call: large enough to keep calls few, small
/// enough to keep the pending changes of a big layer out of memory.
constexpr std::size_t kBatchRows = 5000;

}  // namespace

QgisRow::QgisRow(std::shared_ptr<const FieldLayout> layout,
                 std::shared_ptr<const host::common::ColumnMask> mask)
    : RowBase(std::move(mask)),
      m_layout(std::move(layout)),
      m_text(m_layout->entries.size()),
      m_textGeneration(m_layout->entries.size(), 0) {}

const FieldSlot& QgisRow::slot(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= m_layout->entries.size()) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Field index " + std::to_string(index) + " out of range (" +
                          std::to_string(m_layout->entries.size()) + " fields)",
                      std::string(kSource));
    }
    return m_layout->entries[static_cast<std::size_t>(index)];
}

std::string QgisRow::fieldName(std::int32_t index) const {
    return m_layout->fields.GetField(index).GetFieldName();
}

std::int32_t QgisRow::fieldType(std::int32_t index) const {
    return m_layout->fields.GetField(index).GetFieldType();
}

std::string_view QgisRow::source() const {
    return kSource;
}

void QgisRow::load(const QgsFeature& feature) {
    m_feature = feature;
    m_changes.clear();
    ++m_generation;
}

host::Value QgisRow::readValue(std::int32_t index) const {
    const FieldSlot& s = slot(index);
    switch (s.kind) {
        case FieldSlot::Fid:
            return static_cast<std::int64_t>(m_feature.id());
        case FieldSlot::Geometry:
            return {};
        default: {
            const QVariant value = m_feature.attribute(s.providerIndex);
            if (s.nullReadsEmpty && value.isNull()) {
                return std::string();
            }
            return ToValue(value);
        }
    }
}

bool QgisRow::readText(std::int32_t index, std::optional<std::string_view>& text) const {
    const FieldSlot& s = slot(index);
    text = std::nullopt;
    if (s.kind == FieldSlot::Geometry) {
        return true;
    }
    const auto i = static_cast<std::size_t>(index);
    if (m_textGeneration[i] != m_generation) {
        if (s.kind == FieldSlot::Fid) {
            m_text[i] = std::to_string(m_feature.id());
        } else {
            const QVariant value = m_feature.attribute(s.providerIndex);
            if (value.isNull()) {
                if (!s.nullReadsEmpty) {
                    return true;
                }
                m_text[i].clear();
                m_textGeneration[i] = m_generation;
                text = std::string_view(m_text[i]);
                return true;
            }
            m_text[i] = value.type() == QVariant::String ? ToStdString(value.toString())
                                                         : host::ValueToText(ToValue(value));
        }
        m_textGeneration[i] = m_generation;
    }
    text = std::string_view(m_text[i]);
    return true;
}

void QgisRow::setAttribute(std::int32_t index, const QVariant& value) {
    const FieldSlot& s = slot(index);
    const host::Field& field = m_layout->fields.GetField(index);
    if (s.kind != FieldSlot::Attribute || field.GetFieldType() == host::kFieldOid) {
        throw HostFailure("Field " + field.GetFieldName() + " cannot be written");
    }
    m_changes.insert(s.providerIndex, value);
    m_feature.setAttribute(s.providerIndex, value);
    m_textGeneration[static_cast<std::size_t>(index)] = 0;
}

void QgisRow::writeValue(std::int32_t index, const host::Value& value) {
    setAttribute(index, ToVariant(value, slot(index).type));
}

void QgisRow::writeDouble(std::int32_t index, double value) {
    const QVariant::Type type = slot(index).type;
    if (type == QVariant::Date || type == QVariant::DateTime) {
        setAttribute(index, ToVariant(value, type));
    } else {
        setAttribute(index, QVariant(value));
    }
}

QgisCursor::QgisCursor(QgsVectorLayer& layer, std::shared_ptr<const FieldLayout> layout,
                       const std::shared_ptr<host::QueryFilter>& filter, bool recycling,
                       bool writable, std::shared_ptr<const host::common::ColumnMask> mask)
    : m_layer(&layer),
      m_layout(std::move(layout)),
      m_mask(std::move(mask)),
      m_filter(filter),
      m_recycling(recycling),
      m_writable(writable),
      m_filtered(filter && !filter->whereClause().empty()) {
    QgsVectorDataProvider& provider = ProviderOf(layer);
    QgsFeatureRequest request = baseRequest();
    if (m_filtered) {
        const QString where = ToQString(filter->whereClause());
        QgsExpression expression(where);
        if (expression.hasParserError()) {
            throw HostFailure("Where clause \"" + filter->whereClause() + "\" on " +
                              LayerLabel(layer) + ": " +
                              ToStdString(expression.parserErrorString()));
        }
        QgsExpressionContext context;
        context.setFields(provider.fields());
        request.setFilterExpression(where);
        request.setExpressionContext(context);
    }
    if (writable && !provider.transaction() && QgsTransaction::supportsTransaction(&layer)) {
        m_chunked = beginTransaction();
    }
    if (!m_chunked) {
        m_iterator = provider.getFeatures(request);
        return;
    }
    QgsFeatureRequest ids(request);
    if (!m_filtered) {
        ids.setNoAttributes();
    }
    QgsFeatureIterator it = provider.getFeatures(ids);
    QgsFeature feature;
    while (it.nextFeature(feature)) {
        m_ids.push_back(feature.id());
    }
    it.close();
}

QgisCursor::~QgisCursor() {
    m_iterator.close();
    if (m_transaction) {
        m_pending.clear();
        QString error;
        m_transaction->rollback(error);
        m_transaction.reset();
        return;
    }
    // Without a transaction the format keeps what each provider call wrote;
    // the rows stored since the last batch are kept as well.
    try {
        Flush();
    } catch (...) {
    }
}

bool QgisCursor::beginTransaction() {
    // QGIS gives no transaction when another layer of the project holds the
    // same data through a provider of its own; the cursor then writes
    // without one.
    m_transaction.reset(QgsTransaction::create(QSet<QgsVectorLayer*>{m_layer.data()}));
    QString error;
    if (!m_transaction || !m_transaction->begin(error)) {
        m_transaction.reset();
        return false;
    }
    return true;
}

QgsFeatureRequest QgisCursor::baseRequest() const {
    QgsFeatureRequest request;
    request.setFlags(QgsFeatureRequest::NoGeometry);
    if (!m_mask) {
        return request;
    }
    QgsAttributeList attributes;
    for (std::size_t i = 0; i < m_layout->entries.size(); ++i) {
        const FieldSlot& s = m_layout->entries[i];
        if (m_mask->allows(static_cast<std::int32_t>(i), host::common::ColumnMask::Access::kRead) &&
            s.kind == FieldSlot::Attribute) {
            attributes.append(s.providerIndex);
        }
    }
    request.setSubsetOfAttributes(attributes);
    return request;
}

bool QgisCursor::loadChunk() {
    m_chunk.clear();
    m_nextInChunk = 0;
    if (m_nextId >= m_ids.size() || !m_layer) {
        return false;
    }
    // Values stored so far are written now, while no read is open.
    writeBatch();
    const std::size_t end = std::min(m_ids.size(), m_nextId + kBatchRows);
    QgsFeatureIds ids;
    for (std::size_t i = m_nextId; i < end; ++i) {
        ids.insert(m_ids[i]);
    }
    m_nextId = end;
    QgsFeatureRequest request = baseRequest();
    request.setFilterFids(ids);
    QgsFeatureIterator it = ProviderOf(*m_layer).getFeatures(request);
    QgsFeature feature;
    while (it.nextFeature(feature)) {
        m_chunk.push_back(feature);
    }
    it.close();
    // A set of ids comes back in no useful order; the data's own order is
    // the ids' order.
    std::sort(m_chunk.begin(), m_chunk.end(),
              [](const QgsFeature& a, const QgsFeature& b) { return a.id() < b.id(); });
    return true;
}

bool QgisCursor::nextFeature(QgsFeature& feature) {
    if (!m_chunked) {
        if (m_iterator.nextFeature(feature)) {
            return true;
        }
        m_iterator.close();
        return false;
    }
    while (m_nextInChunk >= m_chunk.size()) {
        if (!loadChunk()) {
            return false;
        }
    }
    feature = m_chunk[m_nextInChunk++];
    return true;
}

std::shared_ptr<host::Row> QgisCursor::NextRow() {
    m_moved = true;
    if (!nextFeature(m_feature)) {
        return {};
    }
    std::shared_ptr<QgisRow> row = m_recycling ? m_row : nullptr;
    if (!row) {
        row = std::make_shared<QgisRow>(m_layout, m_mask);
        if (m_recycling) {
            m_row = row;
        }
    }
    row->load(m_feature);
    return row;
}

void QgisCursor::StoreRow(host::Row& row) {
    if (!m_writable) {
        throw HostFailure("StoreRow on a read-only cursor");
    }
    auto* own = dynamic_cast<QgisRow*>(&row);
    if (!own) {
        throw HostFailure("StoreRow with a row of another cursor");
    }
    if (own->changes().isEmpty()) {
        return;
    }
    QgsAttributeMap& pending = m_pending[own->feature().id()];
    for (auto it = own->changes().cbegin(); it != own->changes().cend(); ++it) {
        pending.insert(it.key(), it.value());
    }
    if (!m_chunked && static_cast<std::size_t>(m_pending.size()) >= kBatchRows) {
        writeBatch();
    }
}

void QgisCursor::writeBatch() {
    if (m_pending.isEmpty()) {
        return;
    }
    if (!m_layer) {
        m_pending.clear();
        throw HostFailure("The layer of this cursor has been removed");
    }
    QgsVectorDataProvider& provider = ProviderOf(*m_layer);
    provider.clearErrors();
    const bool ok = provider.changeAttributeValues(m_pending);
    m_pending.clear();
    m_written = true;
    if (!ok) {
        throw HostFailure("Values could not be written to " + LayerLabel(*m_layer) +
                          ProviderErrors(provider));
    }
}

void QgisCursor::Flush() {
    if (!m_writable) {
        return;
    }
    writeBatch();
    if (m_transaction) {
        QString error;
        const bool committed = m_transaction->commit(error);
        m_transaction.reset();
        if (!committed) {
            throw HostFailure("Values could not be committed to " + LayerLabel(*m_layer) + ": " +
                              ToStdString(error));
        }
        // Whatever is stored after this Flush needs a transaction of its own.
        if (m_layer && (m_nextId < m_ids.size() || m_nextInChunk < m_chunk.size())) {
            beginTransaction();
        }
    }
    if (m_written && m_layer) {
        m_written = false;
        NotifyDataChanged(*m_layer, false);
    }
}

std::shared_ptr<QgisCursor> QgisCursor::reopened() const {
    if (!m_layer) {
        throw HostFailure("The layer of this cursor has been removed");
    }
    return std::make_shared<QgisCursor>(*m_layer, m_layout, m_filter, false, false);
}

}  // namespace vark::qgis
