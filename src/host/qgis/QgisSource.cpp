// Where a QGIS layer's data lives and how its table looks to the host,
// and the helpers every part of the adapter uses on a layer.

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

#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"
#include "routes/pg/PgPassword.h"

namespace vark::qgis {

namespace {

/// File suffixes of data sets that hold several layers in one file (or one
/// folder): their workspace is the file itself.
bool isDatabaseSuffix(const QString& suffix) {
    static const QStringList kSuffixes{"gpkg", "sqlite", "sqlite3", "db", "gdb", "mdb", "accdb"};
    return kSuffixes.contains(suffix, Qt::CaseInsensitive);
}

bool isIntegerType(QVariant::Type type) {
    return type == QVariant::Int || type == QVariant::UInt || type == QVariant::LongLong ||
           type == QVariant::ULongLong;
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
}  // namespace

std::string LayerLabel(const QgsVectorLayer& layer) {
    return "layer \"" + ToStdString(layer.name()) + "\" (" + ToStdString(layer.publicSource()) +
           ")";
}

std::string ProviderErrors(QgsVectorDataProvider& provider) {
    const QStringList errors = provider.errors();
    provider.clearErrors();
    return errors.isEmpty() ? std::string() : ": " + ToStdString(errors.join(QStringLiteral("; ")));
}

bool SameData(const QgsVectorLayer& a, const QgsVectorLayer& b) {
    return a.providerType() == b.providerType() && a.source() == b.source();
}

QgsVectorDataProvider& ProviderOf(const QgsVectorLayer& layer) {
    QgsVectorDataProvider* provider = const_cast<QgsVectorLayer&>(layer).dataProvider();
    if (!provider || !layer.isValid()) {
        throw HostFailure("The data of " + LayerLabel(layer) + " cannot be read");
    }
    return *provider;
}

QgsVectorLayer::LayerOptions LayerOptions() {
    QgsVectorLayer::LayerOptions options(QgsProject::instance()->transformContext());
    options.loadDefaultStyle = false;
    return options;
}

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
    if (IsPostgresLayer(layer)) {
        const QgsDataSourceUri uri(layer.source());
        info.workspacePath = pg::WithoutPassword(PostgresConnection(layer));
        const QString schema = uri.schema();
        info.className = ToStdString(schema.isEmpty() || schema == QLatin1String("public")
                                         ? uri.table()
                                         : schema + '.' + uri.table());
        return info;
    }
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
    QgsVectorDataProvider& provider = ProviderOf(layer);
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
        if (!other || other == &written || !SameData(*other, written)) {
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

void ReopenLayersOnTable(QgsVectorLayer& written) {
    QList<QgsVectorLayer*> layers{&written};
    const auto mapLayers = QgsProject::instance()->mapLayers();
    for (QgsMapLayer* mapLayer : mapLayers) {
        auto* other = qobject_cast<QgsVectorLayer*>(mapLayer);
        if (other && other != &written && SameTable(*other, written)) {
            layers << other;
        }
    }
    QgsDataProvider::ProviderOptions options;
    options.transformContext = QgsProject::instance()->transformContext();
    for (QgsVectorLayer* layer : layers) {
        layer->setDataSource(layer->source(), layer->name(), layer->providerType(), options);
    }
    NotifyDataChanged(written, true);
}

}  // namespace vark::qgis
