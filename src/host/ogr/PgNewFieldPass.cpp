// The GDAL host's layers of a PostgreSQL server: the new field computed in
// the server, the run's lock, and the criterion records kept in the layer's
// schema (see PgSql.h for the SQL and the connection).

#include "host/ogr/OgrData.h"
#include "routes/pg/PgSql.h"

namespace vark::ogr {

using namespace pg;

const PgRelation& OgrFeatureClass::relation() {
    if (!m_relation) {
        m_relation =
            std::make_shared<PgRelation>(ResolveRelation(*m_source->postgres(), m_layerName));
    }
    return *m_relation;
}

std::unique_ptr<host::NewFieldPass> OgrFeatureClass::openPostgresPass(const host::Field& field,
                                                                      std::int32_t sourceIndex,
                                                                      host::NewFieldMode mode) {
    const std::string& name = field.GetFieldName();
    const bool overwrite = mode == host::NewFieldMode::Overwrite;
    const std::string what = (overwrite ? "Cannot recompute the field " : "Cannot add the field ") +
                             name + " to " + describe();
    if (name.empty()) {
        throw gdalFailure("Cannot add a field without a name to " + describe());
    }
    if (field.GetFieldType() != host::kFieldDouble) {
        throw gdalFailure(what + ": the server computes double fields only");
    }
    const host::Fields fields = GetFields();
    const std::int32_t existing = fields.FindFieldIndex(name);
    if (!overwrite && existing >= 0) {
        throw gdalFailure(what + ": the layer has a field of that name");
    }
    if (overwrite &&
        (existing < 0 || fields.GetField(existing).GetFieldType() != host::kFieldDouble)) {
        throw gdalFailure(what + ": the layer has no double field of that name");
    }
    if (column(sourceIndex).kind != Column::kAttribute) {
        throw gdalFailure(what + ": the source field is not an attribute");
    }
    const std::string sourceName = fields.GetField(sourceIndex).GetFieldName();
    std::shared_ptr<PgConnection> connection = m_source->postgres();
    if (!connection->inTransaction()) {
        // Without the run's lock GDAL's own connection may still be reading
        // the table, which the new column would wait for.
        m_source->reopen();
    }
    std::shared_ptr<OgrSource> source = m_source;
    // The data set shows the new column from its next use on: a run that
    // reads nothing more opens it no more, and the COMMIT done is not
    // reported as a failure when the opening fails.
    return OpenPgNewFieldPass(std::move(connection), relation(), name, sourceName, !overwrite,
                              [source] { source->reopenLater(); });
}

void OgrFeatureClass::addPostgresField(const OGRFieldDefn& defn) {
    std::string type = "double precision";
    switch (defn.GetType()) {
        case OFTString:
            type = defn.GetWidth() > 0 ? "varchar(" + std::to_string(defn.GetWidth()) + ")"
                                       : std::string("text");
            break;
        case OFTInteger:
            type = defn.GetSubType() == OFSTInt16 ? "smallint" : "integer";
            break;
        case OFTInteger64:
            type = "bigint";
            break;
        case OFTReal:
            type = defn.GetSubType() == OFSTFloat32 ? "real" : "double precision";
            break;
        case OFTDate:
            type = "date";
            break;
        case OFTDateTime:
            type = "timestamp";
            break;
        default:
            throw gdalFailure("Cannot add the field " + std::string(defn.GetNameRef()) + " to " +
                              describe() + ": no column type for it");
    }
    const std::string what =
        "Cannot add the field " + std::string(defn.GetNameRef()) + " to " + describe();
    try {
        m_source->postgres()->exec("ALTER TABLE " + relation().quoted() + " ADD COLUMN " +
                                       PgIdentifier(defn.GetNameRef()) + " " + type,
                                   what);
    } catch (const PgFailure& failure) {
        throw RunFailure(failure, relation(), what);
    }
    m_source->reopen();
}

std::optional<std::string> OgrFeatureClass::readPostgresRecipe(const std::string& fieldName) {
    return ReadPgRecipe(*m_source->postgres(), relation(), fieldName);
}

std::unique_ptr<host::UpdateLock> OgrFeatureClass::lockPostgres(std::int32_t waitMilliseconds) {
    std::shared_ptr<PgConnection> connection = m_source->postgres();
    auto lock = LockRelation(connection, relation(), waitMilliseconds);
    // The table as it is now, fields of other runs included. GDAL's data
    // set is opened again unless what it read is still so (a connection and
    // the reading of the catalogue saved), and always when its session holds
    // a lock of its own (a read in progress, which the new column would wait
    // for).
    bool current = false;
    if (const PgSessionMark* mark = m_source->postgresMark()) {
        try {
            current = SessionShowsRelation(*connection, relation(), *mark);
        } catch (const PgFailure& failure) {
            throw RunFailure(failure, relation(), "Cannot change " + relation().display());
        }
    }
    if (!current) {
        m_source->reopen();
    }
    return lock;
}

std::unique_ptr<host::CriterionStore> OgrDatasetWorkspace::OpenCriterionStore(
    const std::string& layerName) {
    if (!m_source->isPostgres()) {
        return nullptr;
    }
    std::shared_ptr<PgConnection> connection = m_source->postgres();
    PgRelation relation = ResolveRelation(*connection, layerName);
    return OpenPgCriterionStore(std::move(connection), std::move(relation));
}

}  // namespace vark::ogr
