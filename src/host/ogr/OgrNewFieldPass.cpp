// The GDAL host's layers take the write routes every host shares: a
// shapefile's table rewritten to a new file renamed over the old one, a
// GeoPackage's column added and filled in one transaction; and the lock
// that keeps two runs on one layer apart.

#include <cctype>
#include <filesystem>

#include "host/ogr/OgrData.h"
#include "routes/file/FileLock.h"
#include "routes/gpkg/TransactionPass.h"
#include "routes/shape/DbfRewrite.h"
#include "routes/shape/ShapefilePass.h"

namespace vark::ogr {

namespace {

bool IsDbf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".dbf";
}

// The data set of a feature class, as the transaction route sees it: the
// adapter's own, shared data set, flagged while the run's transaction is
// open so that no cursor of the adapter interleaves with it.
class SourceTransactionHost : public routes::TransactionHost {
public:
    explicit SourceTransactionHost(std::shared_ptr<OgrFeatureClass> featureClass)
        : m_class(std::move(featureClass)) {}

    GDALDataset& dataset() override { return m_class->source().dataset(); }
    OGRLayer& layer() override { return *m_class->layer(); }
    std::string describe() const override { return m_class->describe(); }
    void checkWritable(const std::string& what) override {
        m_class->ensureWritable(what);
        if (m_class->source().inTransaction()) {
            throw gdalFailure(what + ": another update of the data set is in progress");
        }
    }
    void addField(const host::Field& field) override { m_class->AddFieldToClass(field); }
    void transactionBegan() override {
        m_class->source().setInTransaction(true);
        m_class->source().setRunTransaction(true);
    }
    void transactionEnded(bool committed) noexcept override {
        OgrSource& source = m_class->source();
        source.setInTransaction(false);
        source.setRunTransaction(false);
        if (committed) {
            return;
        }
        try {
            // The driver keeps the rolled-back field in its own view.
            source.reopen();
        } catch (...) {
            // Nothing more can be done here; the next open sees the data.
        }
    }

private:
    std::shared_ptr<OgrFeatureClass> m_class;
};

}  // namespace

std::string OgrFeatureClass::dbfPath() {
    std::string found;
    char** files = source().dataset().GetFileList();
    for (char** f = files; f && *f; ++f) {
        const std::filesystem::path path(*f);
        if (IsDbf(path) && path.stem().string() == m_layerName) {
            found = *f;
            break;
        }
    }
    CSLDestroy(files);
    return found;
}

std::vector<host::WriteRoute> OgrFeatureClass::GetWriteRoutes() {
    if (m_source->isPostgres()) {
        return {host::WriteRoute::kServerTable};
    }
    if (m_source->isShapefile() && !dbfPath().empty()) {
        return {host::WriteRoute::kShapefileTable, host::WriteRoute::kCursor};
    }
    if (m_source->driverName() == "GPKG" && m_source->dataset().TestCapability(ODsCTransactions)) {
        return {host::WriteRoute::kFileTransaction, host::WriteRoute::kCursor};
    }
    return {host::WriteRoute::kCursor};
}

std::unique_ptr<host::NewFieldPass> OgrFeatureClass::OpenNewFieldPass(const host::Field& field,
                                                                      std::int32_t sourceIndex,
                                                                      host::NewFieldMode mode,
                                                                      host::WriteRoute route) {
    switch (route) {
        case host::WriteRoute::kServerTable:
            return openPostgresPass(field, sourceIndex, mode);
        case host::WriteRoute::kShapefileTable:
            return openShapefilePass(field, sourceIndex, mode);
        case host::WriteRoute::kFileTransaction:
            return routes::OpenTransactionPass(
                std::make_shared<SourceTransactionHost>(shared_from_this()), field,
                GetFields().GetField(sourceIndex).GetFieldName(), mode);
        default:
            return FeatureClassBase::OpenNewFieldPass(field, sourceIndex, mode, route);
    }
}

std::unique_ptr<host::NewFieldPass> OgrFeatureClass::openShapefilePass(const host::Field& field,
                                                                       std::int32_t sourceIndex,
                                                                       host::NewFieldMode mode) {
    const Column source = column(sourceIndex);
    const std::string dbf = dbfPath();
    if (source.kind != Column::kAttribute || dbf.empty() ||
        field.GetFieldType() != host::kFieldDouble) {
        // The table route rewrites one double column from an attribute.
        return FeatureClassBase::OpenNewFieldPass(field, sourceIndex, mode,
                                                  host::WriteRoute::kCursor);
    }
    if (mode == host::NewFieldMode::Add) {
        // The same checks and messages as an added field.
        newFieldDefinition(field);
    }
    std::optional<std::string> encoding;
    if (const char* e = layer()->GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE")) {
        encoding = e;
    }
    std::shared_ptr<OgrSource> opened = m_source;
    // GDAL still reads the replaced table: the data set is opened again.
    return routes::OpenShapefilePass(
        {dbf, std::move(encoding), storedName(field.GetFieldName()), source.index, mode},
        [opened] { opened->reopen(); });
}

std::unique_ptr<host::UpdateLock> OgrFeatureClass::LockForUpdate(std::int32_t waitMilliseconds) {
    if (m_source->isPostgres()) {
        return lockPostgres(waitMilliseconds);
    }
    auto lock = routes::LockFile(m_source->path(), waitMilliseconds, describe());
    if (!lock) {
        return std::make_unique<host::UpdateLock>();  // a server orders its own writers
    }
    // Nobody else writes now: what a killed run left can go, and the data
    // set shows what other runs wrote since it was opened.
    if (m_source->isShapefile() && !m_source->readOnly()) {
        if (const std::string dbf = dbfPath(); !dbf.empty()) {
            routes::DbfRewrite::RemoveLeftover(dbf);
        }
    }
    if (!m_source->inTransaction()) {
        m_source->reopen();
    }
    return lock;
}

}  // namespace vark::ogr
