#include "host/qgis/QgisData.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <qgsdatasourceuri.h>
#include <qgsexpression.h>
#include <qgsexpressioncontext.h>
#include <qgsfeaturerequest.h>
#include <qgsproject.h>
#include <qgsproviderregistry.h>
#include <qgsvectorlayer.h>
#include <qgswkbtypes.h>

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <set>

#include "host/qgis/QgisValues.h"

namespace vark::qgis {

namespace {

/// Rows written per provider call: large enough to keep calls few, small
/// enough to keep the pending changes of a big layer out of memory.
constexpr std::size_t kBatchRows = 5000;

/// File suffixes of data sets that hold several layers in one file (or one
/// folder): their workspace is the file itself.
bool isDatabaseSuffix(const QString& suffix) {
    static const QStringList kSuffixes{"gpkg", "sqlite", "sqlite3", "db", "gdb", "mdb", "accdb"};
    return kSuffixes.contains(suffix, Qt::CaseInsensitive);
}

bool isNumericCode(std::int32_t code) {
    return code == host::kFieldShort || code == host::kFieldLong || code == host::kFieldSingle ||
           code == host::kFieldDouble || code == host::kFieldOid;
}

bool isIntegerType(QVariant::Type type) {
    return type == QVariant::Int || type == QVariant::UInt || type == QVariant::LongLong ||
           type == QVariant::ULongLong;
}

std::string layerLabel(const QgsVectorLayer& layer) {
    return "layer \"" + ToStdString(layer.name()) + "\" (" + ToStdString(layer.publicSource()) +
           ")";
}

std::string providerErrors(QgsVectorDataProvider& provider) {
    const QStringList errors = provider.errors();
    provider.clearErrors();
    return errors.isEmpty() ? std::string() : ": " + ToStdString(errors.join(QStringLiteral("; ")));
}

bool sameData(const QgsVectorLayer& a, const QgsVectorLayer& b) {
    return a.providerType() == b.providerType() && a.source() == b.source();
}

QgsVectorDataProvider& providerOf(const QgsVectorLayer& layer) {
    QgsVectorDataProvider* provider = const_cast<QgsVectorLayer&>(layer).dataProvider();
    if (!provider || !layer.isValid()) {
        throw HostFailure("The data of " + layerLabel(layer) + " cannot be read");
    }
    return *provider;
}

QgsVectorLayer::LayerOptions layerOptions() {
    QgsVectorLayer::LayerOptions options(QgsProject::instance()->transformContext());
    options.loadDefaultStyle = false;
    return options;
}

/// What QGIS does not tell of an OGR layer: the name of its geometry column
/// and the fields stored as 16-bit integers, booleans or 32-bit reals.
struct OgrDetails {
    std::string geometryColumn;
    QHash<QString, std::int32_t> codes;
};

OgrDetails ogrDetails(const QgsVectorLayer& layer) {
    OgrDetails details;
    if (layer.providerType() != QLatin1String("ogr")) {
        return details;
    }
    const QVariantMap parts =
        QgsProviderRegistry::instance()->decodeUri(layer.providerType(), layer.source());
    const QString path = parts.value(QStringLiteral("path")).toString();
    const QString layerName = parts.value(QStringLiteral("layerName")).toString();
    const QVariant layerId = parts.value(QStringLiteral("layerId"));
    GDALDatasetUniquePtr dataset(
        GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!dataset) {
        return details;
    }
    OGRLayer* ogrLayer = !layerName.isEmpty()
                             ? dataset->GetLayerByName(layerName.toUtf8().constData())
                         : layerId.isValid() ? dataset->GetLayer(layerId.toInt())
                                             : dataset->GetLayer(0);
    if (!ogrLayer) {
        return details;
    }
    const char* column = ogrLayer->GetGeometryColumn();
    details.geometryColumn = column ? column : "";
    OGRFeatureDefn* definition = ogrLayer->GetLayerDefn();
    for (int i = 0; i < definition->GetFieldCount(); ++i) {
        const OGRFieldDefn* field = definition->GetFieldDefn(i);
        const OGRFieldSubType subType = field->GetSubType();
        if (subType == OFSTInt16 || subType == OFSTBoolean) {
            details.codes.insert(QString::fromUtf8(field->GetNameRef()), host::kFieldShort);
        } else if (subType == OFSTFloat32) {
            details.codes.insert(QString::fromUtf8(field->GetNameRef()), host::kFieldSingle);
        }
    }
    return details;
}

/// The values of a unique-value list, as the host enumerates them.
class ValueList : public host::Statistics::ValueEnum {
public:
    explicit ValueList(std::vector<host::Value> values) : m_values(std::move(values)) {}
    void Reset() override { m_next = 0; }
    std::optional<host::Value> Next() override {
        if (m_next >= m_values.size()) {
            return std::nullopt;
        }
        return m_values[m_next++];
    }

private:
    std::vector<host::Value> m_values;
    std::size_t m_next = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Sources and fields

SourceInfo DescribeSource(const QgsVectorLayer& layer) {
    SourceInfo info;
    info.providerKey = layer.providerType();
    const QVariantMap parts =
        QgsProviderRegistry::instance()->decodeUri(info.providerKey, layer.source());
    QString path = parts.value(QStringLiteral("path")).toString();
    if (path.isEmpty() && info.providerKey == QLatin1String("spatialite")) {
        path = QgsDataSourceUri(layer.source()).database();
    }
    const QString layerName = parts.value(QStringLiteral("layerName")).toString();
    const QFileInfo file(path);
    if (!path.isEmpty() && file.exists()) {
        if (isDatabaseSuffix(file.suffix())) {
            info.workspaceType = host::kWorkspaceLocalDatabase;
            info.workspacePath = ToStdString(file.absoluteFilePath());
            QString name = layerName;
            if (name.isEmpty()) {
                name = QgsDataSourceUri(layer.source()).table();
            }
            info.className = ToStdString(name.isEmpty() ? file.completeBaseName() : name);
        } else if (file.isDir()) {
            info.workspaceType = host::kWorkspaceFileSystem;
            info.workspacePath = ToStdString(file.absoluteFilePath());
            info.className = ToStdString(layerName.isEmpty() ? layer.name() : layerName);
        } else {
            info.workspaceType = host::kWorkspaceFileSystem;
            info.workspacePath = ToStdString(file.absolutePath());
            info.className = ToStdString(file.completeBaseName());
        }
        return info;
    }
    info.workspaceType = host::kWorkspaceRemoteDatabase;
    // The public source leaves out passwords: the path may end up in files
    // and logs.
    info.workspacePath = ToStdString(layer.publicSource());
    const QString table = QgsDataSourceUri(layer.source()).table();
    info.className = ToStdString(!layerName.isEmpty() ? layerName
                                 : !table.isEmpty()   ? table
                                                      : layer.name());
    return info;
}

std::shared_ptr<const FieldLayout> BuildFieldLayout(const QgsVectorLayer& layer) {
    QgsVectorDataProvider& provider = providerOf(layer);
    const QgsFields fields = provider.fields();
    auto layout = std::make_shared<FieldLayout>();
    std::vector<host::Field> hostFields;

    int oidIndex = -1;
    const QgsAttributeList keys = provider.pkAttributeIndexes();
    if (keys.size() == 1 && keys.front() >= 0 && keys.front() < fields.count() &&
        isIntegerType(fields.at(keys.front()).type())) {
        oidIndex = keys.front();
    }
    host::Field oid;
    oid.SetFieldType(host::kFieldOid);
    if (oidIndex >= 0) {
        oid.SetFieldName(ToStdString(fields.at(oidIndex).name()));
        layout->entries.push_back({FieldSlot::Attribute, oidIndex, fields.at(oidIndex).type()});
    } else {
        oid.SetFieldName("FID");
        layout->entries.push_back({FieldSlot::Fid, -1, QVariant::LongLong});
    }
    hostFields.push_back(oid);

    const OgrDetails details = ogrDetails(layer);
    if (layer.isSpatial()) {
        host::Field shape;
        std::string column = details.geometryColumn;
        if (column.empty()) {
            column = ToStdString(QgsDataSourceUri(layer.source()).geometryColumn());
        }
        shape.SetFieldName(column.empty() ? "Shape" : column);
        shape.SetFieldType(host::kFieldGeometry);
        layout->entries.push_back({FieldSlot::Geometry, -1, QVariant::Invalid});
        hostFields.push_back(shape);
    }

    const bool dbase = provider.storageType() == QLatin1String("ESRI Shapefile");
    const QgsFields layerFields = layer.fields();
    for (int i = 0; i < fields.count(); ++i) {
        if (i == oidIndex) {
            continue;
        }
        const QgsField& f = fields.at(i);
        host::Field field;
        field.SetFieldName(ToStdString(f.name()));
        field.SetFieldType(details.codes.value(f.name(), FieldTypeCode(f)));
        field.SetFieldLength(std::max(0, f.length()));
        field.SetFieldPrecision(std::max(0, f.precision()));
        const int layerIndex = layerFields.indexFromName(f.name());
        if (layerIndex >= 0) {
            const QString alias = layer.attributeAlias(layerIndex);
            if (!alias.isEmpty()) {
                field.SetFieldAlias(ToStdString(alias));
            }
        }
        layout->entries.push_back(
            {FieldSlot::Attribute, i, f.type(), dbase && f.type() == QVariant::String});
        hostFields.push_back(std::move(field));
    }
    layout->fields = host::Fields(std::move(hostFields));
    return layout;
}

void NotifyDataChanged(QgsVectorLayer& written, bool fieldsChanged) {
    const auto layers = QgsProject::instance()->mapLayers();
    for (QgsMapLayer* mapLayer : layers) {
        auto* other = qobject_cast<QgsVectorLayer*>(mapLayer);
        if (!other || other == &written || !sameData(*other, written)) {
            continue;
        }
        // Another layer on the same data has a provider of its own, which
        // knows nothing of what this one wrote.
        other->reload();
        other->updateFields();
        emit other->dataChanged();
        other->triggerRepaint();
    }
    if (fieldsChanged) {
        written.updateFields();
    }
    emit written.dataChanged();
    written.triggerRepaint();
}

// ---------------------------------------------------------------------------
// Feature class

QgisFeatureClass::QgisFeatureClass(QgsVectorLayer* layer) : m_layer(layer) {}

QgisFeatureClass::QgisFeatureClass(std::unique_ptr<QgsVectorLayer> layer)
    : m_layer(layer.get()), m_owned(std::move(layer)) {}

QgisFeatureClass::~QgisFeatureClass() = default;

QgsVectorLayer& QgisFeatureClass::layer() const {
    if (!m_layer) {
        throw HostFailure("The layer of this feature class has been removed");
    }
    return *m_layer;
}

std::shared_ptr<const FieldLayout> QgisFeatureClass::layout() const {
    const QgsFields fields = providerOf(layer()).fields();
    if (!m_layout || !(fields == m_layoutFields)) {
        m_layout = BuildFieldLayout(layer());
        m_layoutFields = fields;
    }
    return m_layout;
}

std::int32_t QgisFeatureClass::GetShapeType() const {
    const QgsWkbTypes::Type type = layer().wkbType();
    switch (QgsWkbTypes::geometryType(type)) {
        case QgsWkbTypes::PointGeometry:
            return QgsWkbTypes::isMultiType(type) ? host::kShapeMultipoint : host::kShapePoint;
        case QgsWkbTypes::LineGeometry:
            return host::kShapePolyline;
        case QgsWkbTypes::PolygonGeometry:
            return host::kShapePolygon;
        default:
            return host::kShapeNull;
    }
}

std::string QgisFeatureClass::GetAliasName() const {
    return DescribeSource(layer()).className;
}

std::shared_ptr<host::Workspace> QgisFeatureClass::GetWorkspace() {
    SourceInfo info = DescribeSource(layer());
    return std::make_shared<QgisWorkspace>(std::move(info.workspacePath), info.workspaceType);
}

host::Fields QgisFeatureClass::GetFields() {
    return layout()->fields;
}

void QgisFeatureClass::checkNotEditing(const char* what) const {
    const QgsVectorLayer& self = layer();
    bool editing = self.isEditable();
    const auto layers = QgsProject::instance()->mapLayers();
    for (QgsMapLayer* mapLayer : layers) {
        const auto* other = qobject_cast<QgsVectorLayer*>(mapLayer);
        editing = editing || (other && other->isEditable() && sameData(*other, self));
    }
    if (editing) {
        throw HostFailure(std::string("Cannot ") + what + " " + layerLabel(self) +
                          " while it is being edited");
    }
}

void QgisFeatureClass::AddFieldToClass(const host::Field& field) {
    QgsVectorLayer& l = layer();
    QgsVectorDataProvider& provider = providerOf(l);
    const std::string& name = field.GetFieldName();
    if (name.empty()) {
        throw HostFailure("A field needs a name (" + layerLabel(l) + ")");
    }
    if (!(provider.capabilities() & QgsVectorDataProvider::AddAttributes)) {
        throw HostFailure("Field " + name + ": " + layerLabel(l) + " does not accept new fields");
    }
    if (layout()->fields.FindFieldIndex(name) >= 0) {
        throw HostFailure("Field " + name + " already exists in " + layerLabel(l));
    }
    checkNotEditing("add a field to");
    const QgsField newField = ToQgsField(field);
    const QgsFields before = provider.fields();
    provider.clearErrors();
    if (!provider.addAttributes({newField})) {
        const std::string why = providerErrors(provider);
        l.updateFields();
        throw HostFailure("Field " + name + " could not be added to " + layerLabel(l) + why);
    }
    l.updateFields();

    // The format may have stored the field under another name (a shapefile
    // cuts names to 10 characters) without saying so.
    const QgsFields after = provider.fields();
    if (after.indexFromName(newField.name()) < 0) {
        QgsAttributeIds added;
        QStringList addedNames;
        for (int i = 0; i < after.count(); ++i) {
            if (before.indexFromName(after.at(i).name()) < 0) {
                added.insert(i);
                addedNames << after.at(i).name();
            }
        }
        bool removed = false;
        if (!added.isEmpty() &&
            (provider.capabilities() & QgsVectorDataProvider::DeleteAttributes)) {
            removed = provider.deleteAttributes(added);
        }
        NotifyDataChanged(l, true);
        throw HostFailure("Field " + name + " could not be added to " + layerLabel(l) +
                          ": the format stored it as \"" +
                          ToStdString(addedNames.join(QStringLiteral("\", \""))) + "\"" +
                          (removed ? ", which was removed again" : ""));
    }
    if (field.GetFieldAlias() != name) {
        const int index = l.fields().indexFromName(newField.name());
        if (index >= 0) {
            l.setFieldAlias(index, ToQString(field.GetFieldAlias()));
        }
    }
    NotifyDataChanged(l, true);
}

std::shared_ptr<host::UpdateCursor> QgisFeatureClass::OpenUpdateCursor(
    std::shared_ptr<host::QueryFilter> filter, bool recycling) {
    QgsVectorLayer& l = layer();
    if (!(providerOf(l).capabilities() & QgsVectorDataProvider::ChangeAttributeValues)) {
        throw HostFailure("The values of " + layerLabel(l) + " cannot be changed");
    }
    checkNotEditing("write to");
    return std::make_shared<QgisCursor>(l, layout(), filter, recycling, true);
}

std::shared_ptr<host::UpdateCursor> QgisFeatureClass::OpenColumnUpdateCursor(
    const host::ColumnUpdate& columns) {
    QgsVectorLayer& l = layer();
    if (!(providerOf(l).capabilities() & QgsVectorDataProvider::ChangeAttributeValues)) {
        throw HostFailure("The values of " + layerLabel(l) + " cannot be changed");
    }
    checkNotEditing("write to");
    const auto fields = layout();
    const std::size_t count = fields->entries.size();
    auto mask = std::make_shared<ColumnMask>();
    mask->readable.assign(count, false);
    mask->writable.assign(count, false);
    mask->readable[0] = true;  // the object id comes with every feature
    const auto note = [&](std::int32_t index, bool written) {
        if (index < 0 || static_cast<std::size_t>(index) >= count) {
            throw Failure(
                err::kSubscriptOutOfRange,
                "Column update of " + layerLabel(l) + ": no field " + std::to_string(index),
                std::string(kSource));
        }
        mask->readable[static_cast<std::size_t>(index)] = true;
        if (written) {
            mask->writable[static_cast<std::size_t>(index)] = true;
        }
    };
    for (const std::int32_t index : columns.read) {
        note(index, false);
    }
    for (const std::int32_t index : columns.written) {
        note(index, true);
    }
    return std::make_shared<QgisCursor>(l, fields, nullptr, true, true, mask);
}

std::shared_ptr<host::Cursor> QgisFeatureClass::Search(std::shared_ptr<host::QueryFilter> filter,
                                                       bool recycling) {
    return std::make_shared<QgisCursor>(layer(), layout(), filter, recycling, false);
}

std::int64_t QgisFeatureClass::GetFeatureCount() {
    const long long count = providerOf(layer()).featureCount();
    return count < 0 ? -1 : static_cast<std::int64_t>(count);
}

QgsVectorLayer* QgisFeatureClass::layerForProject(const QString& name) {
    if (m_owned) {
        m_owned->setName(name);
        return m_owned.release();
    }
    const QgsVectorLayer& l = layer();
    auto copy =
        std::make_unique<QgsVectorLayer>(l.source(), name, l.providerType(), layerOptions());
    if (!copy->isValid()) {
        throw HostFailure("QGIS cannot open " + layerLabel(l) + " again");
    }
    return copy.release();
}

// ---------------------------------------------------------------------------
// Workspace

std::shared_ptr<host::FeatureClass> QgisWorkspace::OpenFeatureClass(const std::string& name) {
    QString uri;
    const QString path = ToQString(m_path);
    const QString qname = ToQString(name);
    switch (m_type) {
        case host::kWorkspaceFileSystem: {
            uri = QDir(path).filePath(qname + QStringLiteral(".shp"));
            if (!QFileInfo(uri).isFile()) {
                throw Failure(err::kFileNotFound,
                              "Shapefile " + ToStdString(uri) + " does not exist",
                              std::string(kSource));
            }
            break;
        }
        case host::kWorkspaceLocalDatabase:
            uri = QgsProviderRegistry::instance()->encodeUri(
                QStringLiteral("ogr"),
                {{QStringLiteral("path"), path}, {QStringLiteral("layerName"), qname}});
            break;
        default:
            throw HostFailure("Feature class " + name + ": cannot open by name in " + m_path);
    }
    auto layer =
        std::make_unique<QgsVectorLayer>(uri, qname, QStringLiteral("ogr"), layerOptions());
    if (!layer->isValid()) {
        throw HostFailure("QGIS cannot open feature class " + name + " (" + ToStdString(uri) + ")");
    }
    return std::make_shared<QgisFeatureClass>(std::move(layer));
}

// ---------------------------------------------------------------------------
// Rows and cursors

QgisRow::QgisRow(std::shared_ptr<const FieldLayout> layout, std::shared_ptr<const ColumnMask> mask)
    : m_layout(std::move(layout)),
      m_mask(std::move(mask)),
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

const FieldSlot& QgisRow::readSlot(std::int32_t index) const {
    const FieldSlot& s = slot(index);
    if (m_mask && !m_mask->readable[static_cast<std::size_t>(index)]) {
        throw HostFailure("Field " + m_layout->fields.GetField(index).GetFieldName() +
                          " is not read by this column update");
    }
    return s;
}

void QgisRow::load(const QgsFeature& feature) {
    m_feature = feature;
    m_changes.clear();
    ++m_generation;
}

host::Value QgisRow::GetRowValue(std::int32_t index) const {
    const FieldSlot& s = readSlot(index);
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

std::optional<std::string_view> QgisRow::GetRowText(std::int32_t index) const {
    const FieldSlot& s = readSlot(index);
    if (s.kind == FieldSlot::Geometry) {
        return std::nullopt;
    }
    const auto i = static_cast<std::size_t>(index);
    if (m_textGeneration[i] != m_generation) {
        if (s.kind == FieldSlot::Fid) {
            m_text[i] = std::to_string(m_feature.id());
        } else {
            const QVariant value = m_feature.attribute(s.providerIndex);
            if (value.isNull()) {
                if (!s.nullReadsEmpty) {
                    return std::nullopt;
                }
                m_text[i].clear();
                m_textGeneration[i] = m_generation;
                return std::string_view(m_text[i]);
            }
            m_text[i] = value.type() == QVariant::String ? ToStdString(value.toString())
                                                         : host::ValueToText(ToValue(value));
        }
        m_textGeneration[i] = m_generation;
    }
    return std::string_view(m_text[i]);
}

void QgisRow::setAttribute(std::int32_t index, const QVariant& value) {
    const FieldSlot& s = slot(index);
    const host::Field& field = m_layout->fields.GetField(index);
    if (s.kind != FieldSlot::Attribute || field.GetFieldType() == host::kFieldOid) {
        throw HostFailure("Field " + field.GetFieldName() + " cannot be written");
    }
    if (m_mask && !m_mask->writable[static_cast<std::size_t>(index)]) {
        throw HostFailure("Field " + field.GetFieldName() +
                          " is not changed by this column update");
    }
    m_changes.insert(s.providerIndex, value);
    m_feature.setAttribute(s.providerIndex, value);
    m_textGeneration[static_cast<std::size_t>(index)] = 0;
}

void QgisRow::SetRowValue(std::int32_t index, const host::Value& value) {
    setAttribute(index, ToVariant(value, slot(index).type));
}

void QgisRow::SetRowDouble(std::int32_t index, double value) {
    const QVariant::Type type = slot(index).type;
    if (type == QVariant::Date || type == QVariant::DateTime) {
        setAttribute(index, ToVariant(value, type));
    } else {
        setAttribute(index, QVariant(value));
    }
}

QgisCursor::QgisCursor(QgsVectorLayer& layer, std::shared_ptr<const FieldLayout> layout,
                       const std::shared_ptr<host::QueryFilter>& filter, bool recycling,
                       bool writable, std::shared_ptr<const ColumnMask> mask)
    : m_layer(&layer),
      m_layout(std::move(layout)),
      m_mask(std::move(mask)),
      m_recycling(recycling),
      m_writable(writable),
      m_filtered(filter && !filter->whereClause().empty()) {
    QgsVectorDataProvider& provider = providerOf(layer);
    QgsFeatureRequest request;
    request.setFlags(QgsFeatureRequest::NoGeometry);
    if (m_mask) {
        request.setSubsetOfAttributes(maskedAttributes());
    }
    if (m_filtered) {
        const QString where = ToQString(filter->whereClause());
        QgsExpression expression(where);
        if (expression.hasParserError()) {
            throw HostFailure("Where clause \"" + filter->whereClause() + "\" on " +
                              layerLabel(layer) + ": " +
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

QgsAttributeList QgisCursor::maskedAttributes() const {
    QgsAttributeList attributes;
    for (std::size_t i = 0; i < m_layout->entries.size(); ++i) {
        const FieldSlot& s = m_layout->entries[i];
        if (m_mask->readable[i] && s.kind == FieldSlot::Attribute) {
            attributes.append(s.providerIndex);
        }
    }
    return attributes;
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
    QgsFeatureRequest request;
    request.setFlags(QgsFeatureRequest::NoGeometry);
    if (m_mask) {
        request.setSubsetOfAttributes(maskedAttributes());
    }
    request.setFilterFids(ids);
    QgsFeatureIterator it = providerOf(*m_layer).getFeatures(request);
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
    QgsVectorDataProvider& provider = providerOf(*m_layer);
    provider.clearErrors();
    const bool ok = provider.changeAttributeValues(m_pending);
    m_pending.clear();
    m_written = true;
    if (!ok) {
        throw HostFailure("Values could not be written to " + layerLabel(*m_layer) +
                          providerErrors(provider));
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
            throw HostFailure("Values could not be committed to " + layerLabel(*m_layer) + ": " +
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

// ---------------------------------------------------------------------------
// Statistics

void QgisStatistics::SetStatisticsCursor(std::shared_ptr<host::Cursor> cursor) {
    m_cursor = std::dynamic_pointer_cast<QgisCursor>(cursor);
    m_foreignCursor = cursor && !m_cursor;
    m_haveValues = false;
    m_overLimit = false;
    m_values.clear();
    m_haveMinMax = false;
    m_minMax = {};
}

const FieldSlot& QgisStatistics::fieldSlot() {
    if (m_foreignCursor) {
        throw HostFailure("Statistics need a cursor of the QGIS host");
    }
    if (!m_cursor) {
        throw Failure(err::kObjectVariableNotSet, "Statistics without a cursor",
                      std::string(kSource));
    }
    const std::int32_t index = m_cursor->fieldLayout()->fields.FindFieldIndex(m_field);
    if (index < 0) {
        throw HostFailure("Statistics: no field named " + m_field);
    }
    return m_cursor->fieldLayout()->entries[static_cast<std::size_t>(index)];
}

void QgisStatistics::gatherValues() {
    if (m_haveValues) {
        return;
    }
    const FieldSlot& s = fieldSlot();
    QgsVectorLayer* layer = m_cursor->layer();
    if (s.kind != FieldSlot::Attribute || !m_cursor->untouchedAndUnfiltered() || !layer) {
        readCursor();
        return;
    }
    QgsVectorDataProvider& provider = providerOf(*layer);
    // Two more than the limit: a null may be among the values returned.
    const int limit = m_limit > 0 ? m_limit + 2 : -1;
    const QSet<QVariant> values = provider.uniqueValues(s.providerIndex, limit);
    m_values.clear();
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
    if (m_limit > 0 && m_values.size() > static_cast<std::size_t>(m_limit)) {
        m_overLimit = true;
        m_values.resize(static_cast<std::size_t>(m_limit) + 1);
    }
    m_haveValues = true;
    if (m_progress) {
        const std::int64_t total = std::max<long long>(provider.featureCount(), 0);
        m_progress(total, total);
    }
}

void QgisStatistics::readCursor() {
    const std::int32_t index = m_cursor->fieldLayout()->fields.FindFieldIndex(m_field);
    fieldSlot();
    const bool numeric =
        isNumericCode(m_cursor->fieldLayout()->fields.GetField(index).GetFieldType());
    std::set<host::Value> seen;
    m_values.clear();
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    std::int64_t done = 0;
    while (auto row = m_cursor->NextRow()) {
        const host::Value value = row->GetRowValue(index);
        if (!host::IsNull(value)) {
            if (numeric) {
                const double d = std::holds_alternative<double>(value)
                                     ? std::get<double>(value)
                                     : static_cast<double>(std::get<std::int64_t>(value));
                lo = std::min(lo, d);
                hi = std::max(hi, d);
            }
            if (!m_overLimit && seen.insert(value).second) {
                m_values.push_back(value);
                m_overLimit = m_limit > 0 && m_values.size() > static_cast<std::size_t>(m_limit);
            }
        }
        ++done;
        if (m_progress && done % 1000 == 0) {
            m_progress(done, -1);
        }
        if (m_overLimit && !numeric) {
            break;
        }
    }
    if (m_progress) {
        m_progress(done, m_overLimit && !numeric ? -1 : done);
    }
    m_haveValues = true;
    if (numeric) {
        m_haveMinMax = true;
        m_minMax = lo <= hi ? host::MinMax{lo, hi} : host::MinMax{};
    }
}

std::shared_ptr<host::Statistics::ValueEnum> QgisStatistics::GetUniqueValues() {
    gatherValues();
    return std::make_shared<ValueList>(m_values);
}

std::int32_t QgisStatistics::GetUniqueValueCount() {
    gatherValues();
    return static_cast<std::int32_t>(m_values.size());
}

host::MinMax QgisStatistics::GetStatistics() {
    const FieldSlot& s = fieldSlot();
    const std::int32_t index = m_cursor->fieldLayout()->fields.FindFieldIndex(m_field);
    const std::int32_t code = m_cursor->fieldLayout()->fields.GetField(index).GetFieldType();
    if (!isNumericCode(code)) {
        throw Failure(err::kTypeMismatch, "Statistics: field " + m_field + " is not numeric",
                      std::string(kSource));
    }
    if (m_haveMinMax) {
        return m_minMax;
    }
    QgsVectorLayer* layer = m_cursor->layer();
    if (s.kind == FieldSlot::Attribute && m_cursor->untouchedAndUnfiltered() && layer) {
        QgsVectorDataProvider& provider = providerOf(*layer);
        const QVariant lo = provider.minimumValue(s.providerIndex);
        const QVariant hi = provider.maximumValue(s.providerIndex);
        m_haveMinMax = true;
        m_minMax = lo.isNull() || hi.isNull() ? host::MinMax{}
                                              : host::MinMax{lo.toDouble(), hi.toDouble()};
        return m_minMax;
    }
    if (m_haveValues) {
        throw HostFailure("Statistics: the cursor was already read for field " + m_field);
    }
    readCursor();
    return m_minMax;
}

}  // namespace vark::qgis
