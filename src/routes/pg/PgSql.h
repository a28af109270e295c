#pragma once

// The database-server route, shared by every host: a libpq connection of its
// own to a "PG:" data source, next to the host's, for what GDAL's driver cannot give
// (SQLSTATEs to tell a lock, a right or a lost connection apart, bytea
// parameters, a transaction the driver does not interleave with its own
// cursors); the SQL of a new field computed in the server; the criterion
// record kept in the layer's schema; and the one function that takes a
// password out of a connection string or of any text quoting one.

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "routes/pg/PgPassword.h"
#include "support/Failure.h"

namespace vark::pg {

/// The libpq connection string of a GDAL "PG:" data source: the prefix
/// taken off, and the keywords only GDAL knows (schemas, active_schema,
/// tables, list_all_tables) left out.
std::string LibpqConnectionString(std::string_view gdalConnection);

/// True for a GDAL "PG:" (or "PostgreSQL:") connection string.
bool IsPostgresConnection(std::string_view path);

/// `name` as an SQL identifier: in double quotes, a quote doubled.
std::string PgIdentifier(std::string_view name);
/// `text` as an SQL string literal: quotes doubled; with
/// standard_conforming_strings off, an E'' literal with backslashes doubled.
std::string PgLiteral(std::string_view text, bool standardStrings);
/// A degree as written into the SQL: 17 significant digits, so that the
/// server reads back exactly the double it was given.
std::string PgDouble(double value);

/// A failure of the server or of the connection, with its SQLSTATE ("" when
/// the connection itself failed).
class PgFailure : public Failure {
public:
    PgFailure(std::int32_t number, std::string description, std::string sqlstate)
        : Failure(number, std::move(description), "PostgreSQL"), m_sqlstate(std::move(sqlstate)) {}
    const std::string& sqlstate() const { return m_sqlstate; }
    /// The connection was lost (or could not be made).
    bool connectionLost() const {
        return m_sqlstate.empty() || m_sqlstate.rfind("08", 0) == 0 ||
               m_sqlstate.rfind("57P", 0) == 0;
    }

private:
    std::string m_sqlstate;
};

struct PgResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

/// One libpq connection, made at first use. Failures name the connection
/// without its password.
class PgConnection {
public:
    /// `gdalConnection`: the "PG:" string the data set was opened with.
    explicit PgConnection(std::string gdalConnection);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    /// The connection string without its password, for messages.
    const std::string& safeName() const { return m_safeName; }

    /// Runs `sql`; `what` says what for the failure's description. Throws
    /// PgFailure.
    PgResult exec(const std::string& sql, const std::string& what);
    /// Runs `sql` with text parameters (a null for nullopt), except those
    /// flagged in `binary`; the result in text form.
    PgResult execParams(const std::string& sql,
                        const std::vector<std::optional<std::string>>& params,
                        const std::vector<bool>& binary, const std::string& what);

    bool inTransaction() const { return m_inTransaction; }
    void begin(const std::string& what);
    void commit(const std::string& what);
    /// Never throws; a lost connection has nothing to roll back.
    void rollback() noexcept;

    bool standardStrings();

    /// Which of `texts` the database can hold: false for one its encoding
    /// has no character for (or not valid UTF-8), which no row can hold and
    /// which the server refuses as soon as it is sent. Asks the server only
    /// for texts beyond ASCII, and only when its encoding is not SQL_ASCII;
    /// the refusals are rolled back to a savepoint, so that the transaction
    /// goes on. Precondition: in a transaction. Throws PgFailure for any
    /// other failure.
    std::vector<bool> holds(const std::vector<std::string_view>& texts, const std::string& what);

private:
    PGconn& connection();
    PgResult check(PGresult* result, const std::string& what);

    std::string m_connInfo;
    std::string m_safeName;
    PGconn* m_conn = nullptr;
    bool m_inTransaction = false;
};

/// A table (or view) of the server, as a layer names it.
struct PgRelation {
    std::string schema;
    std::string table;
    /// pg_class.relkind: 'r' a table, 'p' a partitioned table, 'v' a view,
    /// 'm' a materialised view, 'f' a foreign table.
    char kind = 'r';
    std::string quoted() const { return PgIdentifier(schema) + "." + PgIdentifier(table); }
    std::string display() const { return schema + "." + table; }
    bool isTable() const { return kind == 'r' || kind == 'p'; }
};

/// The relation a layer name ("schema.table", or "table" on the search
/// path) names, exactly as spelled. Throws Failure when there is none.
PgRelation ResolveRelation(PgConnection& connection, const std::string& layerName);

/// GDAL's own session of a data set as it was when the data set was opened,
/// before any of its tables was read through it: its backend, and the
/// oldest transaction of the server then still running (a txid).
struct PgSessionMark {
    std::int64_t backendPid = 0;
    std::int64_t horizon = 0;
};

/// The SQL that reads a PgSessionMark (two text columns: horizon, pid).
extern const char* const kSessionMarkSql;
/// The mark of the row `kSessionMarkSql` gave; nullopt for anything else.
std::optional<PgSessionMark> ParseSessionMark(const char* horizon, const char* pid);

/// True when what GDAL's session of `mark` read of `relation` is what the
/// server holds now: the session still runs and holds no lock (no read of
/// its own in progress), and no transaction of the mark's horizon or later
/// changed the table's row or one of its columns (added, dropped, renamed,
/// of another type). Precondition: `connection` holds the run's lock, so
/// that no other session changes the columns meanwhile. False also where it
/// cannot tell; throws PgFailure when the query fails.
bool SessionShowsRelation(PgConnection& connection, const PgRelation& relation,
                          const PgSessionMark& mark);

/// Takes the run's lock on `relation`: BEGIN, lock_timeout, LOCK TABLE ...
/// IN SHARE ROW EXCLUSIVE MODE. Throws Failure naming the table (locked by
/// another session, a view, no right to change it); nothing is left open
/// then. Dropped, it rolls back what was not committed.
std::unique_ptr<host::UpdateLock> LockRelation(std::shared_ptr<PgConnection> connection,
                                               const PgRelation& relation,
                                               std::int32_t waitMilliseconds);

/// The failure for a statement of a run on `relation` that failed: a
/// clear sentence for a lost connection, a lock, missing rights.
Failure RunFailure(const PgFailure& failure, const PgRelation& relation, const std::string& what);

/// ALTER TABLE adding the double precision column `column`, named exactly.
std::string AddColumnSql(const PgRelation& relation, std::string_view column);
/// One UPDATE filling `column` from the text column `source` by a CASE over
/// the entries (exact byte-wise comparison, trailing blanks of a char(n)
/// column aside as DistinctTexts lists them; first entry wins, anything else
/// `otherwise`). Entries repeating an earlier text are left out, and so are
/// those `held` flags false (texts the database cannot hold: they match no
/// row); an empty `held` holds all.
std::string GradedUpdateSql(const PgRelation& relation, std::string_view column,
                            std::string_view source, const host::NewFieldPass::GradedColumn& graded,
                            bool standardStrings, const std::vector<bool>& held = {});
/// The features per outcome of that UPDATE, counted in the server by the
/// same comparisons: rows (k, count), k the index of the entry a row
/// matches, -1 a null, -2 an ungraded empty text, -3 any other text.
std::string GradedCountSql(const PgRelation& relation, std::string_view source,
                           const host::NewFieldPass::GradedColumn& graded, bool standardStrings,
                           const std::vector<bool>& held = {});

/// The pass adding the new column and filling it in the server, in the
/// transaction of the run's lock (its own, taking the same lock, when no
/// lock is held): no feature travels to the client. Commit is the COMMIT;
/// dropped before it rolls back. `addColumn` false fills an existing column
/// instead. `afterCommit` runs once the COMMIT is done (the GDAL data set to
/// be opened again, to show the new column).
std::unique_ptr<host::NewFieldPass> OpenPgNewFieldPass(std::shared_ptr<PgConnection> connection,
                                                       PgRelation relation, std::string column,
                                                       std::string source, bool addColumn,
                                                       std::function<void()> afterCommit);

/// The table of criterion recipes of `relation`'s schema (vark_recipes),
/// quoted; NewFieldPass::StoreRecipe of the pass above writes it.
std::string PgRecipeTable(const PgRelation& relation);
/// The recipe of column `column` of `relation` (its jsonb as text); nullopt
/// when there is none or no such table. Throws Failure.
std::optional<std::string> ReadPgRecipe(PgConnection& connection, const PgRelation& relation,
                                        const std::string& column);

/// The criterion record of a layer, in the table vark_criteria of its
/// schema (created at the first write), one row per table.
std::unique_ptr<host::CriterionStore> OpenPgCriterionStore(std::shared_ptr<PgConnection> connection,
                                                           PgRelation relation);

/// The distinct values of the text column `column` with the features
/// holding each (nullopt: the nulls), from one grouped query stopping past
/// `limit` values (0: no limit). A char(n) value comes without the blanks
/// that pad it, as the server reads it as text.
std::vector<std::pair<std::optional<std::string>, std::int64_t>> DistinctTexts(
    PgConnection& connection, const PgRelation& relation, std::string_view column,
    std::int32_t limit);

}  // namespace vark::pg
