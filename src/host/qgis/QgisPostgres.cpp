// The QGIS adapter's layers of a PostgreSQL server: the run's lock, the new
// field computed in the server and the criterion records kept in the
// table's schema, by the SQL the GDAL host runs (host/ogr/PgSql.h), on a
// connection of the adapter's own next to the provider's.

#include <qgsdatasourceuri.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>

#include "host/common/WorkspaceRegistry.h"
#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"
#include "routes/pg/PgSql.h"

namespace vark::qgis {

struct QgisFeatureClass::Postgres {
    /// The layer's data source when this was made.
    QString source;
    std::shared_ptr<QgisPgWorkspace> workspace;
    std::unique_ptr<pg::PgRelation> relation;
    /// The table of `layer`, resolved at first use.
    const pg::PgRelation& table(const QgsVectorLayer& layer);
};

bool IsPostgresLayer(const QgsVectorLayer& layer) {
    return layer.providerType() == QLatin1String("postgres");
}

std::string PostgresConnection(const QgsVectorLayer& layer) {
    return "PG:" + ToStdString(QgsDataSourceUri(layer.source()).connectionInfo(true));
}

// ---------------------------------------------------------------------------
// QgisPgWorkspace

QgisPgWorkspace::QgisPgWorkspace(std::string path, std::shared_ptr<pg::PgConnection> connection)
    : m_path(std::move(path)), m_connection(std::move(connection)) {}

std::shared_ptr<QgisPgWorkspace> QgisPgWorkspace::Of(const QgsVectorLayer& layer) {
    const std::string connection = PostgresConnection(layer);
    std::string path = pg::WithoutPassword(connection);
    // One connection per server while its layers are in use: the lock, the
    // field and the record of a run must share its transaction.
    if (auto live = std::dynamic_pointer_cast<QgisPgWorkspace>(host::common::FindWorkspace(path))) {
        return live;
    }
    auto workspace = std::make_shared<QgisPgWorkspace>(
        std::move(path), std::make_shared<pg::PgConnection>(connection));
    host::common::RegisterWorkspace(workspace);
    return workspace;
}

std::shared_ptr<host::FeatureClass> QgisPgWorkspace::OpenFeatureClass(const std::string& name) {
    throw HostFailure("Feature class " + name + ": cannot open by name in " + m_path);
}

std::unique_ptr<host::CriterionStore> QgisPgWorkspace::OpenCriterionStore(
    const std::string& layerName) {
    std::string table = layerName;
    const auto layers = QgsProject::instance()->mapLayers();
    for (QgsMapLayer* mapLayer : layers) {
        const auto* layer = qobject_cast<QgsVectorLayer*>(mapLayer);
        if (layer && layer->isValid() && IsPostgresLayer(*layer) &&
            ToStdString(layer->name()) == layerName) {
            const SourceInfo info = DescribeSource(*layer);
            if (info.workspacePath == m_path) {
                table = info.className;
                break;
            }
        }
    }
    pg::PgRelation relation = pg::ResolveRelation(*m_connection, table);
    return pg::OpenPgCriterionStore(m_connection, std::move(relation));
}

// ---------------------------------------------------------------------------
// QgisFeatureClass over a postgres layer

QgisFeatureClass::Postgres* QgisFeatureClass::postgres() {
    const QgsVectorLayer& l = layer();
    if (!IsPostgresLayer(l)) {
        return nullptr;
    }
    // Made without asking the server: a workspace is asked for its path
    // long before anything is read or written. A layer given another source
    // gets the workspace and the table of that one.
    if (!m_postgres || m_postgres->source != l.source()) {
        auto pg = std::make_shared<Postgres>();
        pg->source = l.source();
        pg->workspace = QgisPgWorkspace::Of(l);
        m_postgres = std::move(pg);
    }
    return m_postgres.get();
}

const pg::PgRelation& QgisFeatureClass::Postgres::table(const QgsVectorLayer& layer) {
    if (!relation) {
        relation = std::make_unique<pg::PgRelation>(
            pg::ResolveRelation(*workspace->connection(), DescribeSource(layer).className));
    }
    return *relation;
}

std::shared_ptr<host::Workspace> QgisFeatureClass::GetWorkspace() {
    if (Postgres* pg = postgres()) {
        return pg->workspace;
    }
    SourceInfo info = DescribeSource(layer());
    return std::make_shared<QgisWorkspace>(std::move(info.workspacePath), info.workspaceType);
}

std::unique_ptr<host::UpdateLock> QgisFeatureClass::LockForUpdate(std::int32_t waitMilliseconds) {
    Postgres* pg = postgres();
    if (!pg) {
        if (FileRoute* file = fileRoute()) {
            return lockFile(*file, waitMilliseconds);
        }
        return FeatureClassBase::LockForUpdate(waitMilliseconds);
    }
    return pg::LockRelation(pg->workspace->connection(), pg->table(layer()), waitMilliseconds);
}

std::unique_ptr<host::NewFieldPass> QgisFeatureClass::OpenNewFieldPass(const host::Field& field,
                                                                       std::int32_t sourceIndex,
                                                                       host::NewFieldMode mode,
                                                                       host::WriteRoute route) {
    switch (route) {
        case host::WriteRoute::kShapefileTable:
        case host::WriteRoute::kFileTransaction:
            if (FileRoute* file = fileRoute()) {
                return openFilePass(*file, field, sourceIndex, mode);
            }
            break;
        case host::WriteRoute::kServerTable:
            return openServerPass(field, sourceIndex, mode);
        case host::WriteRoute::kEditBuffer:
            return openEditBufferPass(field, sourceIndex, mode);
        case host::WriteRoute::kCursor:
            break;
    }
    return FeatureClassBase::OpenNewFieldPass(field, sourceIndex, mode, route);
}

std::unique_ptr<host::NewFieldPass> QgisFeatureClass::openServerPass(const host::Field& field,
                                                                     std::int32_t sourceIndex,
                                                                     host::NewFieldMode mode) {
    Postgres* pg = postgres();
    if (!pg) {
        return FeatureClassBase::OpenNewFieldPass(field, sourceIndex, mode,
                                                  host::WriteRoute::kServerTable);
    }
    QgsVectorLayer& l = layer();
    const NewFieldCheck check = checkNewField(field, sourceIndex, mode);
    QPointer<QgsVectorLayer> written(&l);
    return pg::OpenPgNewFieldPass(pg->workspace->connection(), pg->table(l), field.GetFieldName(),
                                  check.sourceName, mode == host::NewFieldMode::Add, [written] {
                                      if (written) {
                                          // A postgres provider learns of a column another
                                          // connection added only when it is made anew.
                                          ReopenLayersOnTable(*written);
                                      }
                                  });
}

}  // namespace vark::qgis
