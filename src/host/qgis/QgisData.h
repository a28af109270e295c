#pragma once

// Workspaces, feature classes, cursors and statistics over QGIS vector
// layers. Internal to the QGIS adapter: everything here reads and writes
// through the layer's data provider, so it sees the stored data, not a
// layer's edit buffer.

#include <qgsfeature.h>
#include <qgsfeatureiterator.h>
#include <qgsfeaturerequest.h>
#include <qgstransaction.h>
#include <qgsvectordataprovider.h>
#include <qgsvectorlayer.h>

#include <QPointer>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/common/ColumnMask.h"
#include "host/common/FeatureClassBase.h"
#include "host/common/FieldStatistics.h"
#include "host/common/RowBase.h"
#include "host/host.h"

class QgsVectorLayer;

namespace vark::pg {
class PgConnection;
struct PgRelation;
}  // namespace vark::pg

namespace vark::qgis {

/// True for a layer of the postgres provider: its run's lock, its new
/// fields and its criterion records are the server's (QgisPostgres.cpp).
bool IsPostgresLayer(const QgsVectorLayer& layer);
/// "PG:" and the libpq connection string of a postgres layer's data source,
/// the credentials of an authentication configuration expanded: for
/// connecting only, it may hold a password.
std::string PostgresConnection(const QgsVectorLayer& layer);

/// Where a layer's data lives, read from its data source.
struct SourceInfo {
    /// Folder (file-per-layer data), database file (GeoPackage, SQLite,
    /// file geodatabase) or the connection text without credentials (for a
    /// PostgreSQL layer "PG:" and its libpq connection string, as the GDAL
    /// host names the same server).
    std::string workspacePath;
    std::int32_t workspaceType = host::kWorkspaceRemoteDatabase;
    /// The data's own name: a file's name without extension, or the table or
    /// layer name inside a database (a PostgreSQL table "schema.table", or
    /// "table" in schema public, as the GDAL host names it).
    std::string className;
    /// QGIS provider key ("ogr", "postgres", ...).
    QString providerKey;
};
SourceInfo DescribeSource(const QgsVectorLayer& layer);

/// What one host field index stands for.
struct FieldSlot {
    enum Kind { Fid, Geometry, Attribute };
    Kind kind = Attribute;
    /// Index in the provider's fields (Attribute and a provider's own object
    /// id field); -1 otherwise.
    int providerIndex = -1;
    QVariant::Type type = QVariant::Invalid;
    /// A text field of a format that cannot tell a null text from an empty
    /// one (dBASE): a null reads as an empty text, as other programs read it.
    bool nullReadsEmpty = false;
};

/// The host's view of a provider's table: an object id field first (the
/// provider's primary key when it has an integer one, else "FID"), the
/// geometry field next for a spatial layer ("Shape" unless the source names
/// its geometry column), then the provider's attributes in table order.
/// Values of the object id field come from the feature id; the geometry
/// field reads as null (its shape is not part of the values).
struct FieldLayout {
    std::vector<FieldSlot> entries;
    host::Fields fields;
};
std::shared_ptr<const FieldLayout> BuildFieldLayout(const QgsVectorLayer& layer);

/// "layer "name" (source)", for messages.
std::string LayerLabel(const QgsVectorLayer& layer);
/// ": " and the provider's errors (which are cleared), or "" when none.
std::string ProviderErrors(QgsVectorDataProvider& provider);
/// True when both layers read the same data through the same provider.
bool SameData(const QgsVectorLayer& a, const QgsVectorLayer& b);
/// True when both layers read the same table of the same file through the
/// same provider, whatever their filters (SameData, or the same workspace
/// and class name of a file).
bool SameTable(const QgsVectorLayer& a, const QgsVectorLayer& b);
/// The layer's data provider; throws Failure when the layer has none or is
/// not valid.
QgsVectorDataProvider& ProviderOf(const QgsVectorLayer& layer);
/// Options of the layers the adapter opens itself: no default style.
QgsVectorLayer::LayerOptions LayerOptions();

/// Tells the project's layers that the data of `written` changed: every
/// project layer on the same source sees new fields (when `fieldsChanged`)
/// and new values, and is repainted.
void NotifyDataChanged(QgsVectorLayer& written, bool fieldsChanged);

/// Every layer of the project on `written`'s table (whatever its filter,
/// SameTable), `written` included, gets a new provider on its own source,
/// then is told of the change (NotifyDataChanged): a provider made anew
/// reads the columns another connection added, which reloading its data
/// would not.
void ReopenLayersOnTable(QgsVectorLayer& written);

/// A feature class over a QGIS vector layer. The layer is either one the
/// project owns (the class follows it and fails cleanly once it is gone) or
/// one the class owns until AddLayer hands it to the project.
class QgisFeatureClass : public host::common::FeatureClassBase {
public:
    /// Over a layer owned elsewhere (normally by the project).
    explicit QgisFeatureClass(QgsVectorLayer* layer);
    /// Over a layer of its own (opened from a workspace). `layer` must be valid.
    explicit QgisFeatureClass(std::unique_ptr<QgsVectorLayer> layer);
    ~QgisFeatureClass() override;

    std::int32_t GetShapeType() const override;
    std::string GetAliasName() const override;
    std::shared_ptr<host::Workspace> GetWorkspace() override;
    host::Fields GetFields() override;
    /// Adds the field through the data provider, then looks it up again by
    /// name: a format that stored it under another name (a shapefile cuts
    /// names to 10 characters) has the field removed again where it can, and
    /// the call fails. Refused while a project layer on the same data is in
    /// an edit session, because provider writes would bypass its edit buffer.
    void AddFieldToClass(const host::Field& field) override;
    /// Values stored by StoreRow are written in batches through the
    /// provider (see QgisCursor). Refused while a project layer on the same
    /// data is in an edit session. A column update fetches only the fields
    /// read or written (and the object id) and its rows refuse the others;
    /// throws Failure for an index out of range.
    std::shared_ptr<host::UpdateCursor> OpenColumnUpdateCursor(
        const host::ColumnUpdate& columns) override;
    std::shared_ptr<host::Cursor> Search(std::shared_ptr<host::QueryFilter> filter,
                                         bool recycling) override;
    std::int64_t GetFeatureCount() override;
    /// The routes the layer's provider can serve:
    /// - the postgres provider: the server route alone (the field computed
    ///   in the server, in the transaction of the run's lock);
    /// - a shapefile of the ogr provider: its table rewritten whole beside
    ///   the old one and renamed over it at Commit;
    /// - a GeoPackage or SQLite layer of the ogr provider: the column added
    ///   and filled in one transaction of a connection of the adapter's
    ///   own, committed at Commit;
    /// - any other layer: its edit buffer, committed at Commit (refused for
    ///   a provider that cannot add a field, openEditBufferPass).
    std::vector<host::WriteRoute> GetWriteRoutes() override;
    /// The pass of `route`, refused while a project layer on the same table
    /// is in an edit session. Once committed, the project's layers on the
    /// table (whatever their filters) read it anew and show the new field.
    /// The routes of the server and of files write the whole table, a
    /// filter aside.
    std::unique_ptr<host::NewFieldPass> OpenNewFieldPass(const host::Field& field,
                                                         std::int32_t sourceIndex,
                                                         host::NewFieldMode mode,
                                                         host::WriteRoute route) override;
    /// A layer of the postgres provider: the table locked in the run's
    /// transaction (LockRelation), on the connection the criterion records
    /// of its workspace use. A file the routes write: an exclusive flock of
    /// the .shp or the database file, as the command line takes it (a
    /// shapefile's table a killed run left is removed then). Any other
    /// layer: a lock that keeps nobody out.
    std::unique_ptr<host::UpdateLock> LockForUpdate(std::int32_t waitMilliseconds) override;

    /// The layer; throws Failure when it has been deleted.
    QgsVectorLayer& layer() const;
    /// The layout of GetFields, rebuilt when the provider's fields changed.
    std::shared_ptr<const FieldLayout> layout() const;
    /// The layer to add to the project, named `name`: the class's own layer
    /// the first time (the project takes it over and the class follows it),
    /// a new layer on the same source after that.
    QgsVectorLayer* layerForProject(const QString& name);

private:
    void checkNotEditing(const char* what) const;
    /// What every route checks of a new double field before anything
    /// changes: a name, free (or, overwriting, a double field of that
    /// name), a source field that is an attribute, no edit session on the
    /// table. Throws Failure starting with `what`.
    struct NewFieldCheck {
        std::string what;
        std::shared_ptr<const FieldLayout> layout;
        std::string sourceName;
        /// The source field's index in the provider's fields.
        int sourceAttribute = -1;
    };
    NewFieldCheck checkNewField(const host::Field& field, std::int32_t sourceIndex,
                                host::NewFieldMode mode);
    /// The server side of a postgres layer (QgisPostgres.cpp), made at
    /// first use; nullptr for a layer of any other provider.
    struct Postgres;
    Postgres* postgres();
    /// The file route of a shapefile, GeoPackage or SQLite layer of the ogr
    /// provider (QgisFileRoute.cpp), made at first use; nullptr for any
    /// other layer.
    struct FileRoute;
    FileRoute* fileRoute();
    std::unique_ptr<host::UpdateLock> lockFile(FileRoute& route, std::int32_t waitMilliseconds);
    std::unique_ptr<host::NewFieldPass> openFilePass(FileRoute& route, const host::Field& field,
                                                     std::int32_t sourceIndex,
                                                     host::NewFieldMode mode);
    /// The route of any other provider: the layer's own edit buffer,
    /// committed at Commit, rolled back when dropped before
    /// (QgisEditBufferRoute.cpp). Refused, before anything changes, for a
    /// provider that cannot add a field or change values.
    std::unique_ptr<host::NewFieldPass> openServerPass(const host::Field& field,
                                                       std::int32_t sourceIndex,
                                                       host::NewFieldMode mode);
    std::unique_ptr<host::NewFieldPass> openEditBufferPass(const host::Field& field,
                                                           std::int32_t sourceIndex,
                                                           host::NewFieldMode mode);

    QPointer<QgsVectorLayer> m_layer;
    std::shared_ptr<Postgres> m_postgres;
    std::shared_ptr<FileRoute> m_file;
    std::unique_ptr<QgsVectorLayer> m_owned;
    mutable std::shared_ptr<const FieldLayout> m_layout;
    mutable QgsFields m_layoutFields;
};

/// A workspace: a folder of shapefiles, a database file or a remote source.
class QgisWorkspace : public host::Workspace {
public:
    QgisWorkspace(std::string path, std::int32_t type) : m_path(std::move(path)), m_type(type) {}
    std::string GetWorkspacePath() const override { return m_path; }
    std::int32_t GetWorkspaceType() const override { return m_type; }
    /// A folder opens <folder>/<name>.shp, a database file its layer `name`.
    /// Throws Failure for a remote workspace, a missing file or a layer
    /// QGIS cannot open.
    std::shared_ptr<host::FeatureClass> OpenFeatureClass(const std::string& name) override;

private:
    std::string m_path;
    std::int32_t m_type;
};

/// The workspace of the postgres layers of one connection: the criterion
/// records of its tables live in the server (OpenPgCriterionStore), on the
/// connection its layers' runs lock and write with, so that a record comes
/// with the field or not at all. One per connection while a feature class
/// keeps it, registered by its path (host/common/WorkspaceRegistry.h).
class QgisPgWorkspace : public host::Workspace {
public:
    /// The live workspace of `layer`'s connection, or a new one, registered.
    static std::shared_ptr<QgisPgWorkspace> Of(const QgsVectorLayer& layer);
    QgisPgWorkspace(std::string path, std::shared_ptr<pg::PgConnection> connection);

    /// The connection without its password.
    std::string GetWorkspacePath() const override { return m_path; }
    std::int32_t GetWorkspaceType() const override { return host::kWorkspaceRemoteDatabase; }
    /// Throws Failure: a table is opened as a project layer, not by name.
    std::shared_ptr<host::FeatureClass> OpenFeatureClass(const std::string& name) override;
    /// `layerName`: the name of a project layer on this connection (the
    /// dialog's), else a table as the GDAL host names it ("schema.table",
    /// "table" on the search path). Throws Failure when there is none.
    std::unique_ptr<host::CriterionStore> OpenCriterionStore(const std::string& layerName) override;

    const std::shared_ptr<pg::PgConnection>& connection() const { return m_connection; }

private:
    std::string m_path;
    std::shared_ptr<pg::PgConnection> m_connection;
};

/// One feature as a QGIS cursor delivers it. With a column mask, reading or
/// changing a field outside it fails.
class QgisRow : public host::common::RowBase {
public:
    QgisRow(std::shared_ptr<const FieldLayout> layout,
            std::shared_ptr<const host::common::ColumnMask> mask);

    /// Refills the row with `feature`, forgetting earlier changes.
    void load(const QgsFeature& feature);
    const QgsFeature& feature() const { return m_feature; }
    const QgsAttributeMap& changes() const { return m_changes; }

protected:
    void checkField(std::int32_t index) const override { slot(index); }
    std::string fieldName(std::int32_t index) const override;
    std::int32_t fieldType(std::int32_t index) const override;
    host::Value readValue(std::int32_t index) const override;
    /// Every field's text, kept until the row is refilled.
    bool readText(std::int32_t index, std::optional<std::string_view>& text) const override;
    void writeValue(std::int32_t index, const host::Value& value) override;
    void writeDouble(std::int32_t index, double value) override;
    std::string_view source() const override;

private:
    const FieldSlot& slot(std::int32_t index) const;
    void setAttribute(std::int32_t index, const QVariant& value);

    std::shared_ptr<const FieldLayout> m_layout;
    QgsFeature m_feature;
    QgsAttributeMap m_changes;
    mutable std::vector<std::string> m_text;
    mutable std::vector<std::uint64_t> m_textGeneration;
    std::uint64_t m_generation = 1;
};

/// A cursor over a layer's provider; an update cursor when `writable`.
///
/// A read-only cursor, and an update cursor over data without transactions
/// (a shapefile), stream the features; stored values are written in batches
/// while the pass goes on (QGIS reads through a connection of its own then).
/// An update cursor over data with transactions (a GeoPackage) works inside
/// one QGIS transaction: it reads the features in chunks, by their ids, and
/// writes each chunk's values between chunks (within a transaction reads and
/// writes share one connection, and a write would restart an open read);
/// Flush commits, a cursor destroyed without Flush rolls back. (QGIS gives
/// no transaction while another project layer holds the same data: such a
/// cursor streams and keeps what it stored, as over a shapefile.)
class QgisCursor : public host::UpdateCursor {
public:
    /// With `mask`, only the provider attributes the mask lets rows read are
    /// fetched.
    QgisCursor(QgsVectorLayer& layer, std::shared_ptr<const FieldLayout> layout,
               const std::shared_ptr<host::QueryFilter>& filter, bool recycling, bool writable,
               std::shared_ptr<const host::common::ColumnMask> mask = nullptr);
    ~QgisCursor() override;

    std::shared_ptr<host::Row> NextRow() override;
    /// Throws Failure for a read-only cursor or a row of another cursor.
    void StoreRow(host::Row& row) override;
    void Flush() override;

    /// True while the cursor has no filter and has not moved: statistics can
    /// then ask the provider directly instead of reading every feature.
    bool untouchedAndUnfiltered() const { return !m_filtered && !m_moved; }
    QgsVectorLayer* layer() const { return m_layer; }
    const std::shared_ptr<const FieldLayout>& fieldLayout() const { return m_layout; }
    /// A new read-only cursor over the same features, not recycling rows.
    std::shared_ptr<QgisCursor> reopened() const;

private:
    bool nextFeature(QgsFeature& feature);
    /// A request without geometries, for the fields the mask lets rows read.
    QgsFeatureRequest baseRequest() const;
    bool loadChunk();
    bool beginTransaction();
    void writeBatch();

    QPointer<QgsVectorLayer> m_layer;
    std::shared_ptr<const FieldLayout> m_layout;
    std::shared_ptr<const host::common::ColumnMask> m_mask;
    std::shared_ptr<host::QueryFilter> m_filter;
    QgsFeatureIterator m_iterator;
    std::unique_ptr<QgsTransaction> m_transaction;
    std::vector<QgsFeatureId> m_ids;
    std::size_t m_nextId = 0;
    std::vector<QgsFeature> m_chunk;
    std::size_t m_nextInChunk = 0;
    std::shared_ptr<QgisRow> m_row;
    QgsFeature m_feature;
    QgsChangedAttributesMap m_pending;
    bool m_recycling;
    bool m_writable;
    bool m_filtered;
    bool m_chunked = false;
    bool m_moved = false;
    bool m_written = false;
};

/// Statistics over a cursor of this adapter. An unfiltered cursor that has
/// not moved is not read at all: distinct values, minimum and maximum come
/// from the provider (which asks the data source, with the limit), the way
/// QGIS itself does. Any other cursor of this adapter is read by the shared
/// pass.
class QgisStatistics : public host::common::FieldStatistics {
public:
    void SetStatisticsCursor(std::shared_ptr<host::Cursor> cursor) override;
    std::shared_ptr<ValueEnum> GetUniqueValues() override;
    std::int32_t GetUniqueValueCount() override;
    host::MinMax GetStatistics() override;

protected:
    std::unique_ptr<host::common::FieldScan> openScan(const std::shared_ptr<host::Cursor>& cursor,
                                                      const std::string& field) override;

private:
    /// The field when the provider can answer for it (an attribute, over a
    /// cursor of this adapter untouched and unfiltered); layer null otherwise.
    struct ProviderField {
        QgsVectorLayer* layer = nullptr;
        const FieldSlot* slot = nullptr;
        std::int32_t type = host::kFieldText;
    };
    ProviderField providerField() const;
    /// Gathers the distinct values from the provider; false when it cannot.
    bool valuesFromProvider();

    bool m_haveValues = false;
    std::vector<host::Value> m_values;
    bool m_haveMinMax = false;
    host::MinMax m_minMax;
};

}  // namespace vark::qgis
