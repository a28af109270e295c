#pragma once

// Internals of the GDAL/OGR host adapter: data sets, workspaces, feature
// classes, cursors and statistics over OGR layers. Only the adapter's own
// files include this header; everything else sees the host interface.
//
// One GDAL data set is opened once per path and shared by every layer,
// feature class and workspace that refers to it (SourceCache), so that a
// field added through one layer is seen through every other.
//
// An OGR layer has one reading position. A cursor claims the layer when it
// starts reading; a later claim (another cursor, or a field being added)
// invalidates the earlier cursor, whose next NextRow throws Failure rather
// than return features of someone else's pass.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/common/FeatureClassBase.h"
#include "host/host.h"
#include "routes/file/GdalErrors.h"
#include "routes/gpkg/TransactionPass.h"
#include "support/Failure.h"

namespace vark::host::common {
class ColumnMask;
}

namespace vark::pg {
class PgConnection;
struct PgRelation;
struct PgSessionMark;
}  // namespace vark::pg

namespace vark::ogr {

using routes::GdalErrorScope;
using routes::gdalFailure;
using routes::kGdalSource;

struct FeatureDeleter {
    void operator()(OGRFeature* f) const { OGRFeature::DestroyFeature(f); }
};
using FeaturePtr = std::unique_ptr<OGRFeature, FeatureDeleter>;

class SourceCache;
using pg::PgConnection;
using pg::PgRelation;

/// One opened GDAL vector data set.
class OgrSource : public std::enable_shared_from_this<OgrSource> {
public:
    OgrSource(GDALDataset* dataset, std::string path, bool readOnly, std::string readOnlyReason,
              std::shared_ptr<SourceCache> cache);
    ~OgrSource();
    OgrSource(const OgrSource&) = delete;
    OgrSource& operator=(const OgrSource&) = delete;

    /// Throws Failure when a reopening failed (reopen).
    GDALDataset& dataset();
    /// The path or connection string the data set was opened with (file
    /// paths made absolute), without a password: for messages and records.
    const std::string& path() const { return m_safePath; }
    /// A data set of a PostgreSQL server (GDAL's "PostgreSQL" driver).
    bool isPostgres() const { return m_driver == "PostgreSQL"; }
    /// This program's own connection to the server of a PostgreSQL data set
    /// (see PgSql.h), made at first use; nullptr for other data sets.
    std::shared_ptr<PgConnection> postgres();
    const std::string& driverName() const { return m_driver; }
    bool isShapefile() const { return m_isShapefile; }
    bool readOnly() const { return m_readOnly; }
    /// Why the data set could not be opened for update ("" when it could).
    const std::string& readOnlyReason() const { return m_readOnlyReason; }
    std::int32_t workspaceType() const { return m_workspaceType; }
    /// Folder of a shapefile, file of a local database, connection string.
    std::string workspacePath() const;
    std::shared_ptr<SourceCache> cache() const { return m_cache; }

    /// Claims the reading position of `layer`; returns the claim's number.
    std::uint64_t claim(OGRLayer* layer) { return ++m_layerState[layer].claims; }
    std::uint64_t currentClaim(OGRLayer* layer) { return m_layerState[layer].claims; }
    /// Incremented each time the layer's fields change.
    std::uint64_t schemaVersion(OGRLayer* layer) { return m_layerState[layer].schema; }
    void schemaChanged(OGRLayer* layer) { ++m_layerState[layer].schema; }

    /// Transactions: one update run at a time per data set.
    bool inTransaction() const { return m_inTransaction; }
    void setInTransaction(bool on) { m_inTransaction = on; }
    /// A transaction opened around a whole run (a new field added and
    /// filled): update passes then run inside it instead of opening their own.
    bool runTransaction() const { return m_runTransaction; }
    void setRunTransaction(bool on) { m_runTransaction = on; }

    /// Closes the data set and opens it again (in the same mode), so that
    /// it shows the files as they are now: after its table was replaced, a
    /// rolled-back change of its fields, or another run's change. Layers
    /// are looked up again (generation()); cursors started before fail.
    /// Throws Failure when it cannot be opened; the data set then fails
    /// every use.
    void reopen();
    /// The same, the data set opened again at its next use (dataset()): a
    /// change that may be all the run does costs no opening. Never throws;
    /// the failure to open comes with that use.
    void reopenLater() noexcept;
    /// Counts the reopenings.
    std::uint64_t generation() const { return m_generation; }
    /// GDAL's session of a PostgreSQL data set as it was when the data set
    /// was opened (PgSql.h); nullptr for other data sets, before the data
    /// set is opened again, or when the server could not tell.
    const pg::PgSessionMark* postgresMark() const { return m_pgMark.get(); }

private:
    /// Rolls back an open transaction and closes the data set, if open.
    void closeDataset() noexcept;
    /// Opens the data set closed by reopenLater. Throws Failure.
    void openAgain();
    /// Reads GDAL's session mark of a PostgreSQL data set just opened.
    void markPostgresSession() noexcept;
    struct LayerState {
        std::uint64_t claims = 0;
        std::uint64_t schema = 0;
    };
    GDALDataset* m_dataset;
    std::string m_path;
    std::string m_safePath;
    std::string m_driver;
    std::shared_ptr<PgConnection> m_pg;
    std::unique_ptr<pg::PgSessionMark> m_pgMark;
    bool m_reopenPending = false;
    bool m_isShapefile;
    bool m_readOnly;
    std::string m_readOnlyReason;
    std::int32_t m_workspaceType;
    std::shared_ptr<SourceCache> m_cache;
    std::map<OGRLayer*, LayerState> m_layerState;
    bool m_inTransaction = false;
    bool m_runTransaction = false;
    std::uint64_t m_generation = 0;
};

/// Opens each path once: a second open of the same path while the first
/// data set is alive gives the same OgrSource.
class SourceCache : public std::enable_shared_from_this<SourceCache> {
public:
    /// Opens `path` for update where possible, read-only otherwise. Throws
    /// Failure when GDAL cannot open it as a vector data set.
    std::shared_ptr<OgrSource> open(const std::string& path);

private:
    /// Registers the GDAL drivers needed to open `path`: only the shapefile
    /// or GeoPackage driver for such a file, every driver otherwise (and
    /// when `everything`). Registering every driver costs the process some
    /// ten MiB of memory, touching the code of each.
    void registerDriversFor(const std::string& path, bool everything);

    std::map<std::string, std::weak_ptr<OgrSource>> m_sources;
    bool m_everyDriver = false;
};

/// `name` as an SQL identifier: in double quotes, a quote doubled.
using routes::QuotedSqlName;

/// Makes a file path absolute; leaves connection strings and GDAL virtual
/// paths alone.
std::string NormalisePath(const std::string& path);

class OgrFeatureClass;

/// A folder of shapefiles (type 0).
class OgrFolderWorkspace : public host::Workspace {
public:
    OgrFolderWorkspace(std::string folder, std::shared_ptr<SourceCache> cache)
        : m_folder(std::move(folder)), m_cache(std::move(cache)) {}
    std::string GetWorkspacePath() const override { return m_folder; }
    std::int32_t GetWorkspaceType() const override { return host::kWorkspaceFileSystem; }
    /// Opens <folder>/<name>.shp (or .SHP).
    std::shared_ptr<host::FeatureClass> OpenFeatureClass(const std::string& name) override;

private:
    std::string m_folder;
    std::shared_ptr<SourceCache> m_cache;
};

/// A data set holding several layers (types 1 and 2).
class OgrDatasetWorkspace : public host::Workspace {
public:
    explicit OgrDatasetWorkspace(std::shared_ptr<OgrSource> source) : m_source(std::move(source)) {}
    std::string GetWorkspacePath() const override { return m_source->workspacePath(); }
    std::int32_t GetWorkspaceType() const override { return m_source->workspaceType(); }
    /// The layer of that name in the data set.
    std::shared_ptr<host::FeatureClass> OpenFeatureClass(const std::string& name) override;
    /// A PostgreSQL data set keeps the criterion records in the layer's
    /// schema (PgSql.h); nullptr for the others.
    std::unique_ptr<host::CriterionStore> OpenCriterionStore(const std::string& layerName) override;

private:
    std::shared_ptr<OgrSource> m_source;
};

/// Where a host field index points in an OGR feature.
struct Column {
    enum Kind { kOid, kGeometry, kAttribute } kind;
    int index;  ///< geometry field or attribute field index; unused for the oid
};

class FeatureReader;

/// A feature class over one OGR layer. Field order: the object id, the
/// geometry field(s), then the attribute fields in OGR order.
class OgrFeatureClass : public host::common::FeatureClassBase,
                        public std::enable_shared_from_this<OgrFeatureClass> {
public:
    OgrFeatureClass(std::shared_ptr<OgrSource> source, OGRLayer* layer);

    std::int32_t GetShapeType() const override;
    std::string GetAliasName() const override { return m_layerName; }
    std::shared_ptr<host::Workspace> GetWorkspace() override;
    host::Fields GetFields() override;
    void AddFieldToClass(const host::Field& field) override;
    std::shared_ptr<host::Cursor> Search(std::shared_ptr<host::QueryFilter> filter,
                                         bool recycling) override;
    /// A pass over whole features reads everything (geometry included) and
    /// stores whole features.
    /// A column update stores only the changed fields where the format
    /// allows it: shapefiles (the numbers are written straight into the
    /// dBASE table, the geometries are not touched) and GeoPackages (one
    /// UPDATE of the changed columns per feature, so the spatial index is
    /// not touched), when every changed field is a double field. Otherwise,
    /// and for a shapefile of fewer than two features, an ordinary update
    /// cursor. Rows of a column update refuse other fields than those named.
    std::shared_ptr<host::UpdateCursor> OpenColumnUpdateCursor(
        const host::ColumnUpdate& columns) override;
    std::int64_t GetFeatureCount() override;
    /// Undeclared for a shapefile without a .cpg or code page byte, and for
    /// a layer whose driver does not hand UTF-8; UTF-8 otherwise.
    host::TextEncoding GetTextEncoding() const override;
    /// A GeoPackage keeps recipes in its metadata tables.
    std::optional<std::string> ReadRecipe(const std::string& fieldName) override;
    /// A PostgreSQL table: the server route alone; a shapefile with its
    /// table: the table route or the cursor; a GeoPackage: one transaction
    /// or the cursor; other formats: the cursor.
    std::vector<host::WriteRoute> GetWriteRoutes() override;
    /// The server's statements (routes/pg); a shapefile's table rewritten to
    /// a new file with the field and its values (routes/shape; to overwrite,
    /// the field's column rewritten in place); a GeoPackage's field added
    /// (unless overwritten) and filled in one transaction (routes/gpkg); the
    /// column update.
    std::unique_ptr<host::NewFieldPass> OpenNewFieldPass(const host::Field& field,
                                                         std::int32_t sourceIndex,
                                                         host::NewFieldMode mode,
                                                         host::WriteRoute route) override;
    /// An exclusive lock (flock) on the data set's main file (a shapefile's
    /// .shp, which no run replaces); none for a data set without a file.
    /// Once held, a temporary table left by a killed run is removed and the
    /// data set is opened again to show the data as they are now.
    std::unique_ptr<host::UpdateLock> LockForUpdate(std::int32_t waitMilliseconds) override;

    OgrSource& source() { return *m_source; }
    std::shared_ptr<OgrSource> sourcePtr() const { return m_source; }
    /// The OGR layer, looked up again after the data set was reopened.
    OGRLayer* layer() const;
    /// The shapefile's dBASE table among the data set's files ("" if none).
    std::string dbfPath();
    /// Maps a host field index; throws Failure when out of range.
    Column column(std::int32_t index) const;
    /// The host type code of OGR attribute field `attr`.
    std::int32_t attributeType(int attr) const;
    /// The host type code of host field `index`.
    std::int32_t fieldType(std::int32_t index) const;
    /// A shapefile stores no null text: unset text reads as "".
    bool textNullAsEmpty() const { return m_source->isShapefile(); }
    /// "layer <name> of <path>", for messages.
    std::string describe() const;
    std::string fieldName(std::int32_t index) const;
    /// The name of an attribute field as the host shows it: a shapefile
    /// that declares no encoding stores its names as bytes, read as its
    /// texts are (UTF-8 when valid, Windows-1252 otherwise).
    std::string shownName(const char* stored) const;
    /// The bytes the layer stores the new name `utf8` as: as shownName
    /// reads them back. In a shapefile that declares no encoding, UTF-8
    /// when one of its names already is, else Windows-1252 where the code
    /// page has every character (as dBASE tables of that kind are written).
    std::string storedName(const std::string& utf8) const;
    /// The server's table of a PostgreSQL layer (looked up once).
    const PgRelation& relation();
    /// The new field of a PostgreSQL layer, computed in the server
    /// (PgNewFieldPass.cpp).
    std::unique_ptr<host::NewFieldPass> openShapefilePass(const host::Field& field,
                                                          std::int32_t sourceIndex,
                                                          host::NewFieldMode mode);
    std::unique_ptr<host::NewFieldPass> openPostgresPass(const host::Field& field,
                                                         std::int32_t sourceIndex,
                                                         host::NewFieldMode mode);
    /// Adds `defn` to a PostgreSQL layer's table under its exact name (the
    /// driver would fold it to lower case), then opens the data set again.
    void addPostgresField(const OGRFieldDefn& defn);
    /// The recipe of `fieldName` in the table of recipes of its schema.
    std::optional<std::string> readPostgresRecipe(const std::string& fieldName);
    /// The run's lock of a PostgreSQL layer: a transaction holding LOCK
    /// TABLE, then the data set opened again to show the table as it is.
    std::unique_ptr<host::UpdateLock> lockPostgres(std::int32_t waitMilliseconds);

    /// Throws Failure naming `action` when the data set is open read-only.
    void ensureWritable(const std::string& action) const;
    /// The definition AddFieldToClass would create for `field`, after its
    /// checks (a name, a writable data set, a format that takes new fields,
    /// a type it can add, a name not taken in any case, a shapefile name of
    /// at most 10 characters). Throws Failure.
    std::unique_ptr<OGRFieldDefn> newFieldDefinition(const host::Field& field);

private:
    std::shared_ptr<OgrSource> m_source;
    std::string m_layerName;
    mutable OGRLayer* m_layer;
    mutable std::uint64_t m_generation;
    /// The workspace of a data set whose criterion records it keeps itself,
    /// kept alive (and findable by its path) while the class lives.
    std::shared_ptr<host::Workspace> m_workspace;
    std::shared_ptr<PgRelation> m_relation;
};

/// The host type code of an OGR field definition.
std::int32_t HostFieldType(const OGRFieldDefn& defn);

/// Converts between OGR date/time parts and days since 1899-12-30.
double ToOleDate(int year, int month, int day, int hour, int minute, float second);
void FromOleDate(double date, int& year, int& month, int& day, int& hour, int& minute,
                 float& second);

/// One pass over a layer's features (see the claim rules above).
class FeatureReader {
public:
    enum class Mode {
        kRead,    ///< every attribute, no geometry
        kUpdate,  ///< everything: a stored feature must carry all it had
    };
    FeatureReader(std::shared_ptr<OgrFeatureClass> featureClass, std::string where, Mode mode);
    ~FeatureReader();

    /// Before the first next(): read only attribute `attr` (-1: none, the
    /// object id only). Ignored once reading has started.
    void restrictTo(int attr);
    /// Before the first next(): read only the attributes `attrs` (and the
    /// object id). Ignored once reading has started.
    void restrictTo(std::vector<int> attrs);
    /// The next feature, or null at the end. Throws Failure when the layer
    /// was claimed by someone else or GDAL fails.
    FeaturePtr next();
    bool started() const { return m_started; }
    /// The where clause of the pass ("" for every feature).
    const std::string& where() const { return m_where; }
    OgrFeatureClass& featureClass() { return *m_class; }
    std::shared_ptr<OgrFeatureClass> featureClassPtr() const { return m_class; }
    /// Features in the pass, or -1 when it would cost a pass to know.
    std::int64_t expectedCount();

private:
    void start();
    void release();

    std::shared_ptr<OgrFeatureClass> m_class;
    std::string m_where;
    Mode m_mode;
    bool m_restricted = false;
    std::vector<int> m_only;  ///< the attributes read when m_restricted
    bool m_started = false;
    bool m_finished = false;
    std::uint64_t m_claim = 0;
};

/// Where a column update stores the changed fields of a feature: written
/// straight into the format, bypassing the driver's whole-feature write.
class ColumnStore {
public:
    virtual ~ColumnStore() = default;
    /// Stores `values` (one per attribute the store was opened for, in that
    /// order; nullopt: null) into the feature `fid`. Throws Failure.
    virtual void store(std::int64_t fid, const std::vector<std::optional<double>>& values) = 0;
    /// Makes everything stored visible to the driver and the disk. Throws
    /// Failure.
    virtual void flush() = 0;
    /// What flush does, for a cursor dropped without Flush; never throws.
    virtual void abandon() noexcept = 0;
};

/// A store writing double attributes `attrs` of a shapefile layer straight
/// into its dBASE table, in the bytes the shapefile driver writes. nullptr
/// when the table cannot be written that way (a layer of fewer than two
/// features, a table whose header does not match the layer, a field that is
/// not a dBASE number). Storing in FID order reads and writes the table once.
std::unique_ptr<ColumnStore> OpenDbfColumnStore(OgrFeatureClass& featureClass,
                                                const std::vector<int>& attrs);
/// A store updating attributes `attrs` of a GeoPackage layer by a prepared
/// UPDATE on the data set's own connection (inside its transaction).
/// nullptr when the driver gives no connection or the statement cannot be
/// prepared.
std::unique_ptr<ColumnStore> OpenSqliteColumnStore(OgrFeatureClass& featureClass,
                                                   const std::vector<int>& attrs);

/// The read-only pass over the features `where` selects ("" every one).
std::shared_ptr<host::Cursor> OpenSearchCursor(std::shared_ptr<OgrFeatureClass> featureClass,
                                               std::string where, bool recycling);
/// The update pass over whole features: read with everything, stored one by
/// one with the driver.
std::shared_ptr<host::UpdateCursor> OpenWholeFeatureCursor(
    std::shared_ptr<OgrFeatureClass> featureClass, std::string where, bool recycling);
/// The column update: reads the attributes `readAttrs` only (no geometry)
/// and stores the double attributes `writtenAttrs` through `store`; its
/// rows refuse the fields outside `mask`.
std::shared_ptr<host::UpdateCursor> OpenColumnCursor(
    std::shared_ptr<OgrFeatureClass> featureClass, std::vector<int> readAttrs,
    std::vector<int> writtenAttrs, std::shared_ptr<const host::common::ColumnMask> mask,
    std::unique_ptr<ColumnStore> store);

/// A cursor of this adapter, which the statistics read natively.
class NativeCursor {
public:
    virtual ~NativeCursor() = default;
    virtual FeatureReader& reader() = 0;
};

/// Statistics over a cursor of this adapter: one pass reading only the
/// field concerned.
std::shared_ptr<host::Statistics> CreateOgrStatistics();

}  // namespace vark::ogr
