// The QGIS adapter's layers of files the routes write themselves (a
// shapefile, a GeoPackage or SQLite layer of the ogr provider): the run's
// lock, the new field and the layer's change go through the very routes of
// the command line (routes/), beside QGIS's own connections, which are
// told of the change once it is made.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <qgsogrproviderutils.h>
#include <qgsproject.h>
#include <qgsproviderregistry.h>
#include <qgsvectorlayer.h>
#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>

#include "host/qgis/QgisData.h"
#include "host/qgis/QgisValues.h"
#include "routes/file/FileLock.h"
#include "routes/file/GdalErrors.h"
#include "routes/gpkg/TransactionPass.h"
#include "routes/shape/DbfRewrite.h"
#include "routes/shape/ShapefilePass.h"

namespace vark::qgis {

/// How long a run waits for QGIS's own readers of a database file to let
/// its commit through.
constexpr int kBusyMilliseconds = 5000;

struct QgisFeatureClass::FileRoute {
    enum Kind { Shapefile, Database };
    /// The layer's data source when this was made.
    QString source;
    Kind kind = Shapefile;
    /// The path as QGIS names the data set (its cache's key), and the file
    /// the lock is taken on: the .shp, or the database file.
    QString datasetPath;
    std::string lockFile;
    /// The table of a shapefile; the layer's name in a database file.
    std::string dbfPath;
    std::string layerName;
};

namespace {

/// The .dbf beside `shp`, whatever the case of its extension; "" when none.
std::string DbfBeside(const QFileInfo& shp) {
    const QDir folder = shp.absoluteDir();
    const QStringList names = folder.entryList(QDir::Files);
    for (const QString& name : names) {
        const QFileInfo file(folder.filePath(name));
        if (file.completeBaseName() == shp.completeBaseName() &&
            file.suffix().compare(QLatin1String("dbf"), Qt::CaseInsensitive) == 0) {
            return ToStdString(file.absoluteFilePath());
        }
    }
    return {};
}

/// The project's layers on the file read it anew: QGIS's cached data sets
/// of the file are dropped (they hold the table and the fields as they
/// were) and each layer gets a new provider.
void ShowFileChange(QgsVectorLayer& written, const QString& datasetPath) {
    QgsOgrProviderUtils::invalidateCachedDatasets(datasetPath);
    QgsOgrProviderUtils::invalidateCachedLastModifiedDate(datasetPath);
    ReopenLayersOnTable(written);
}

/// The transaction route over a data set of the adapter's own, opened on
/// the database file next to QGIS's connections.
class OwnDatabase : public routes::TransactionHost {
public:
    OwnDatabase(const std::string& file, const std::string& layerName, std::string label,
                std::function<void()> afterCommit)
        : m_label(std::move(label)), m_afterCommit(std::move(afterCommit)) {
        routes::GdalErrorScope scope;
        m_dataset.reset(GDALDataset::Open(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        if (!m_dataset) {
            throw routes::gdalFailure("Cannot open " + m_label + " for writing", scope);
        }
        m_layer = m_dataset->GetLayerByName(layerName.c_str());
        if (m_layer == nullptr) {
            throw routes::gdalFailure("Cannot find the table of " + m_label, scope);
        }
        if (!m_dataset->TestCapability(ODsCTransactions)) {
            throw routes::gdalFailure(m_label + " cannot be changed in one transaction");
        }
        // QGIS may be reading the file (a map being drawn): the commit
        // waits for such a read to end instead of failing at once.
        if (auto* db = static_cast<sqlite3*>(m_dataset->GetInternalHandle("SQLITE_HANDLE"))) {
            sqlite3_busy_timeout(db, kBusyMilliseconds);
        }
    }

    GDALDataset& dataset() override { return *m_dataset; }
    OGRLayer& layer() override { return *m_layer; }
    std::string describe() const override { return m_label; }
    void checkWritable(const std::string&) override {}
    void addField(const host::Field& field) override {
        OGRFieldDefn definition(field.GetFieldName().c_str(), OFTReal);
        routes::GdalErrorScope scope;
        const std::string what = "Cannot add the field " + field.GetFieldName() + " to " + m_label;
        if (m_layer->CreateField(&definition, FALSE) != OGRERR_NONE) {
            throw routes::gdalFailure(what, scope);
        }
        if (m_layer->GetLayerDefn()->GetFieldIndex(field.GetFieldName().c_str()) < 0) {
            throw routes::gdalFailure(what + ": the format stored it under another name");
        }
    }
    void transactionEnded(bool committed) noexcept override {
        if (committed && m_afterCommit) {
            try {
                m_afterCommit();
            } catch (...) {
                // The change is made; QGIS shows it when the layer is read again.
            }
        }
    }

private:
    std::string m_label;
    std::function<void()> m_afterCommit;
    GDALDatasetUniquePtr m_dataset;
    OGRLayer* m_layer = nullptr;
};

}  // namespace

bool SameTable(const QgsVectorLayer& a, const QgsVectorLayer& b) {
    if (SameData(a, b)) {
        return true;
    }
    if (a.providerType() != b.providerType() || !a.isValid() || !b.isValid()) {
        return false;
    }
    const SourceInfo left = DescribeSource(a);
    const SourceInfo right = DescribeSource(b);
    return left.workspaceType != host::kWorkspaceRemoteDatabase &&
           left.workspacePath == right.workspacePath && left.className == right.className;
}

QgisFeatureClass::FileRoute* QgisFeatureClass::fileRoute() {
    const QgsVectorLayer& l = layer();
    if (l.providerType() != QLatin1String("ogr") || !l.isValid()) {
        return nullptr;
    }
    if (m_file && m_file->source == l.source()) {
        return m_file.get();
    }
    m_file.reset();
    const QString storage = ProviderOf(l).storageType();
    const QVariantMap parts =
        QgsProviderRegistry::instance()->decodeUri(l.providerType(), l.source());
    const QString path = parts.value(QStringLiteral("path")).toString();
    const QFileInfo file(path);
    if (path.isEmpty() || !file.isFile()) {
        return nullptr;
    }
    auto route = std::make_shared<FileRoute>();
    route->source = l.source();
    route->datasetPath = path;
    route->lockFile = ToStdString(file.absoluteFilePath());
    if (storage == QLatin1String("ESRI Shapefile") &&
        file.suffix().compare(QLatin1String("shp"), Qt::CaseInsensitive) == 0) {
        route->kind = FileRoute::Shapefile;
        route->dbfPath = DbfBeside(file);
        if (route->dbfPath.empty()) {
            return nullptr;
        }
    } else if (storage == QLatin1String("GPKG") || storage == QLatin1String("SQLite")) {
        route->kind = FileRoute::Database;
        route->layerName = DescribeSource(l).className;
    } else {
        return nullptr;
    }
    m_file = std::move(route);
    return m_file.get();
}

std::vector<host::WriteRoute> QgisFeatureClass::GetWriteRoutes() {
    if (postgres()) {
        return {host::WriteRoute::kServerTable};
    }
    if (FileRoute* file = fileRoute()) {
        return {file->kind == FileRoute::Shapefile ? host::WriteRoute::kShapefileTable
                                                   : host::WriteRoute::kFileTransaction};
    }
    return {host::WriteRoute::kEditBuffer};
}

std::unique_ptr<host::UpdateLock> QgisFeatureClass::lockFile(FileRoute& route,
                                                             std::int32_t waitMilliseconds) {
    auto lock = routes::LockFile(route.lockFile, waitMilliseconds, LayerLabel(layer()));
    if (!lock) {
        return std::make_unique<host::UpdateLock>();
    }
    // Nobody else writes now: what a killed run left can go.
    if (route.kind == FileRoute::Shapefile) {
        routes::DbfRewrite::RemoveLeftover(route.dbfPath);
    }
    return lock;
}

std::unique_ptr<host::NewFieldPass> QgisFeatureClass::openFilePass(FileRoute& route,
                                                                   const host::Field& field,
                                                                   std::int32_t sourceIndex,
                                                                   host::NewFieldMode mode) {
    QgsVectorLayer& l = layer();
    const NewFieldCheck check = checkNewField(field, sourceIndex, mode);
    QPointer<QgsVectorLayer> written(&l);
    const QString datasetPath = route.datasetPath;
    auto afterCommit = [written, datasetPath] {
        if (written) {
            ShowFileChange(*written, datasetPath);
        }
    };
    if (route.kind == FileRoute::Shapefile) {
        return routes::OpenShapefilePass(
            {route.dbfPath, std::nullopt, field.GetFieldName(), check.sourceAttribute, mode},
            std::move(afterCommit));
    }
    return routes::OpenTransactionPass(
        std::make_shared<OwnDatabase>(route.lockFile, route.layerName, LayerLabel(l),
                                      std::move(afterCommit)),
        field, check.sourceName, mode);
}

}  // namespace vark::qgis
