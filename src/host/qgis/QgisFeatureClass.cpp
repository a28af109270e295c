// The feature class over a QGIS vector layer and the workspaces that open
// one by name.

#include <qgsdatasourceuri.h>
#include <qgsproject.h>
#include <qgsproviderregistry.h>
#include <qgsvectorlayer.h>
#include <qgswkbtypes.h>

#include <QDir>
#include <QFileInfo>

#include "host/common/ColumnMask.h"
#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"

namespace vark::qgis {

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
    const QgsFields fields = ProviderOf(layer()).fields();
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

host::Fields QgisFeatureClass::GetFields() {
    return layout()->fields;
}

void QgisFeatureClass::checkNotEditing(const char* what) const {
    const QgsVectorLayer& self = layer();
    bool editing = self.isEditable();
    const auto layers = QgsProject::instance()->mapLayers();
    for (QgsMapLayer* mapLayer : layers) {
        const auto* other = qobject_cast<QgsVectorLayer*>(mapLayer);
        editing = editing || (other && other->isEditable() && SameTable(*other, self));
    }
    if (editing) {
        throw HostFailure(std::string("Cannot ") + what + " " + LayerLabel(self) +
                          " while it is being edited");
    }
}

QgisFeatureClass::NewFieldCheck QgisFeatureClass::checkNewField(const host::Field& field,
                                                                std::int32_t sourceIndex,
                                                                host::NewFieldMode mode) {
    QgsVectorLayer& l = layer();
    const std::string& name = field.GetFieldName();
    const bool overwrite = mode == host::NewFieldMode::Overwrite;
    NewFieldCheck check;
    check.what = (overwrite ? "Cannot recompute the field " : "Cannot add the field ") + name +
                 " to " + LayerLabel(l);
    if (name.empty()) {
        throw HostFailure("A field needs a name (" + LayerLabel(l) + ")");
    }
    if (field.GetFieldType() != host::kFieldDouble) {
        throw HostFailure(check.what + ": only a double field is written this way");
    }
    check.layout = layout();
    const host::Fields& fields = check.layout->fields;
    const std::int32_t existing = fields.FindFieldIndex(name);
    if (!overwrite && existing >= 0) {
        throw HostFailure(check.what + ": the layer has a field of that name");
    }
    if (overwrite &&
        (existing < 0 || fields.GetField(existing).GetFieldType() != host::kFieldDouble)) {
        throw HostFailure(check.what + ": the layer has no double field of that name");
    }
    if (sourceIndex < 0 || sourceIndex >= static_cast<std::int32_t>(check.layout->entries.size()) ||
        check.layout->entries[static_cast<std::size_t>(sourceIndex)].kind != FieldSlot::Attribute) {
        throw HostFailure(check.what + ": the source field is not an attribute");
    }
    checkNotEditing("write to");
    check.sourceName = fields.GetField(sourceIndex).GetFieldName();
    check.sourceAttribute =
        check.layout->entries[static_cast<std::size_t>(sourceIndex)].providerIndex;
    return check;
}

void QgisFeatureClass::AddFieldToClass(const host::Field& field) {
    QgsVectorLayer& l = layer();
    QgsVectorDataProvider& provider = ProviderOf(l);
    const std::string& name = field.GetFieldName();
    if (name.empty()) {
        throw HostFailure("A field needs a name (" + LayerLabel(l) + ")");
    }
    if (!(provider.capabilities() & QgsVectorDataProvider::AddAttributes)) {
        throw HostFailure("Field " + name + ": " + LayerLabel(l) + " does not accept new fields");
    }
    if (layout()->fields.FindFieldIndex(name) >= 0) {
        throw HostFailure("Field " + name + " already exists in " + LayerLabel(l));
    }
    checkNotEditing("add a field to");
    const QgsField newField = ToQgsField(field);
    const QgsFields before = provider.fields();
    provider.clearErrors();
    if (!provider.addAttributes({newField})) {
        const std::string why = ProviderErrors(provider);
        l.updateFields();
        throw HostFailure("Field " + name + " could not be added to " + LayerLabel(l) + why);
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
        throw HostFailure("Field " + name + " could not be added to " + LayerLabel(l) +
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

std::shared_ptr<host::UpdateCursor> QgisFeatureClass::OpenColumnUpdateCursor(
    const host::ColumnUpdate& columns) {
    QgsVectorLayer& l = layer();
    if (!(ProviderOf(l).capabilities() & QgsVectorDataProvider::ChangeAttributeValues)) {
        throw HostFailure("The values of " + LayerLabel(l) + " cannot be changed");
    }
    checkNotEditing("write to");
    if (columns.wholeFeatures) {
        std::shared_ptr<host::QueryFilter> filter;
        if (!columns.where.empty()) {
            filter = host::CreateQueryFilter();
            filter->SetWhereClause(columns.where);
        }
        return std::make_shared<QgisCursor>(l, layout(), filter, columns.recycling, true);
    }
    const auto fields = layout();
    auto mask = std::make_shared<const host::common::ColumnMask>(
        static_cast<std::int32_t>(fields->entries.size()), columns, LayerLabel(l), kSource);
    return std::make_shared<QgisCursor>(l, fields, nullptr, true, true, mask);
}

std::shared_ptr<host::Cursor> QgisFeatureClass::Search(std::shared_ptr<host::QueryFilter> filter,
                                                       bool recycling) {
    return std::make_shared<QgisCursor>(layer(), layout(), filter, recycling, false);
}

std::int64_t QgisFeatureClass::GetFeatureCount() {
    const long long count = ProviderOf(layer()).featureCount();
    return count < 0 ? -1 : static_cast<std::int64_t>(count);
}

QgsVectorLayer* QgisFeatureClass::layerForProject(const QString& name) {
    if (m_owned) {
        m_owned->setName(name);
        return m_owned.release();
    }
    const QgsVectorLayer& l = layer();
    auto copy =
        std::make_unique<QgsVectorLayer>(l.source(), name, l.providerType(), LayerOptions());
    if (!copy->isValid()) {
        throw HostFailure("QGIS cannot open " + LayerLabel(l) + " again");
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
        std::make_unique<QgsVectorLayer>(uri, qname, QStringLiteral("ogr"), LayerOptions());
    if (!layer->isValid()) {
        throw HostFailure("QGIS cannot open feature class " + name + " (" + ToStdString(uri) + ")");
    }
    return std::make_shared<QgisFeatureClass>(std::move(layer));
}

}  // namespace vark::qgis
