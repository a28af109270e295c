// The runs on a table of the server: the relation a layer names, the run's
// lock, whether GDAL's session still shows the table, the new field computed
// in the server, the criterion record kept in the table's schema and the
// distinct values of a text column.

#include <algorithm>
#include <charconv>
#include <unordered_map>

#include "routes/pg/PgSql.h"

namespace vark::pg {

// ---------------------------------------------------------------------------
// Relations and the run's lock

PgRelation ResolveRelation(PgConnection& connection, const std::string& layerName) {
    // "schema.table" spelled exactly first, then a table of that exact name
    // on the search path, in its order.
    static const std::string kSql =
        "SELECT n.nspname, c.relname, c.relkind FROM pg_class c "
        "JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r','p','v','m','f') AND "
        "(n.nspname || '.' || c.relname = $1 OR "
        "(c.relname = $1 AND n.nspname = ANY (current_schemas(false)))) "
        "ORDER BY (n.nspname || '.' || c.relname = $1) DESC, "
        "array_position(current_schemas(false), n.nspname::text) LIMIT 1";
    const PgResult result =
        connection.execParams(kSql, {layerName}, {}, "Cannot find the table of layer " + layerName);
    if (PQntuples(result.get()) == 0) {
        throw Failure(err::kHostFailure,
                      "No table or view " + layerName + " in " + connection.safeName(),
                      "PostgreSQL");
    }
    PgRelation relation;
    relation.schema = PQgetvalue(result.get(), 0, 0);
    relation.table = PQgetvalue(result.get(), 0, 1);
    relation.kind = PQgetvalue(result.get(), 0, 2)[0];
    return relation;
}

Failure RunFailure(const PgFailure& failure, const PgRelation& relation, const std::string& what) {
    const std::string& state = failure.sqlstate();
    const std::string table = "the table " + relation.display();
    if (failure.connectionLost()) {
        return Failure(err::kDeviceIoError,
                       what + ": the connection to the server was lost; the server keeps " + table +
                           " and its criterion record as they were. (" + failure.description() +
                           ")",
                       "PostgreSQL");
    }
    if (state == "55P03") {
        return Failure(err::kPermissionDenied,
                       what + ": " + table +
                           " is locked by another session; nothing was changed. Try again once "
                           "it has finished.",
                       "PostgreSQL");
    }
    if (state == "42501") {
        return Failure(err::kPermissionDenied,
                       what + ": the role may not change " + table + "; nothing was changed. (" +
                           failure.description() + ")",
                       "PostgreSQL");
    }
    if (state == "40P01") {
        return Failure(err::kPermissionDenied,
                       what + ": another session needed " + table +
                           " at the same time; nothing was changed. Try again.",
                       "PostgreSQL");
    }
    return Failure(failure.number(), failure.description() + "; nothing was changed", "PostgreSQL");
}

namespace {

class PgUpdateLock : public host::UpdateLock {
public:
    explicit PgUpdateLock(std::shared_ptr<PgConnection> connection)
        : m_connection(std::move(connection)) {}
    ~PgUpdateLock() override { m_connection->rollback(); }

private:
    std::shared_ptr<PgConnection> m_connection;
};

}  // namespace

std::unique_ptr<host::UpdateLock> LockRelation(std::shared_ptr<PgConnection> connection,
                                               const PgRelation& relation,
                                               std::int32_t waitMilliseconds) {
    const std::string what = "Cannot change " + relation.display();
    if (!relation.isTable()) {
        throw Failure(err::kPermissionDenied,
                      what +
                          ": it is a view, not a table; a new field needs a table. Nothing "
                          "was changed.",
                      "PostgreSQL");
    }
    if (connection->inTransaction()) {
        throw Failure(err::kPermissionDenied,
                      what + ": another run of this program holds it; nothing was changed.",
                      "PostgreSQL");
    }
    try {
        connection->begin(what);
        auto lock = std::make_unique<PgUpdateLock>(connection);
        connection->exec("SET LOCAL lock_timeout = '" +
                             std::to_string(std::max<std::int32_t>(waitMilliseconds, 1)) + "ms'",
                         what);
        connection->exec("LOCK TABLE " + relation.quoted() + " IN SHARE ROW EXCLUSIVE MODE", what);
        return lock;
    } catch (const PgFailure& failure) {
        connection->rollback();
        throw RunFailure(failure, relation, what);
    }
}

// ---------------------------------------------------------------------------
// GDAL's session

// txid_* rather than pg_current_snapshot(): servers before 13 have them too.
const char* const kSessionMarkSql =
    "SELECT txid_snapshot_xmin(txid_current_snapshot())::text AS horizon, "
    "pg_backend_pid()::text AS pid";

std::optional<PgSessionMark> ParseSessionMark(const char* horizon, const char* pid) {
    if (horizon == nullptr || pid == nullptr) {
        return std::nullopt;
    }
    PgSessionMark mark;
    const auto parse = [](std::string_view text, std::int64_t& value) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() && value > 0;
    };
    if (!parse(horizon, mark.horizon) || !parse(pid, mark.backendPid)) {
        return std::nullopt;
    }
    return mark;
}

bool SessionShowsRelation(PgConnection& connection, const PgRelation& relation,
                          const PgSessionMark& mark) {
    // A catalogue row written by a transaction of the horizon or later is
    // as young as the horizon or younger; one written before was there
    // when the session read the table. xmin is the transaction id modulo
    // 2^32, compared by age() within the server's window.
    static const std::string kSql =
        "SELECT EXISTS (SELECT 1 FROM pg_stat_activity WHERE pid = $1::int) "
        "AND NOT EXISTS (SELECT 1 FROM pg_locks WHERE pid = $1::int) "
        "AND NOT EXISTS (SELECT 1 FROM pg_class WHERE oid = $2::regclass "
        "AND age(xmin) <= age(h.x)) "
        "AND NOT EXISTS (SELECT 1 FROM pg_attribute WHERE attrelid = $2::regclass "
        "AND age(xmin) <= age(h.x)) "
        "FROM (SELECT (($3::bigint % 4294967296)::text)::xid AS x) h";
    const PgResult result = connection.execParams(
        kSql, {std::to_string(mark.backendPid), relation.quoted(), std::to_string(mark.horizon)},
        {}, "Cannot compare the table " + relation.display() + " with GDAL's view of it");
    return PQntuples(result.get()) == 1 && std::string_view(PQgetvalue(result.get(), 0, 0)) == "t";
}

// ---------------------------------------------------------------------------
// The new field, computed in the server

std::string AddColumnSql(const PgRelation& relation, std::string_view column) {
    return "ALTER TABLE " + relation.quoted() + " ADD COLUMN " + PgIdentifier(column) +
           " double precision";
}

namespace {

/// The WHEN arms of the graded entries: the degree of each, and its index.
struct GradedArms {
    std::string compared;
    std::string degrees;
    std::string outcomes;
};

GradedArms ArmsOf(std::string_view source, const host::NewFieldPass::GradedColumn& graded,
                  bool standardStrings, const std::vector<bool>& held) {
    // Byte-wise equality whatever the column's collation. A char(n) column
    // compares as the server compares char(n), its padding blanks not part
    // of the value: that is the value DistinctTexts lists (the cast to text
    // drops them) and the one its rows hold for the server. Comparing the
    // padded bytes instead would make every listed value match nothing.
    GradedArms arms;
    arms.compared = PgIdentifier(source) + " COLLATE \"C\"";
    std::unordered_map<std::string_view, bool> seen;
    for (std::size_t k = 0; k < graded.entries.size(); ++k) {
        const auto& entry = graded.entries[k];
        if (k < held.size() && !held[k]) {
            continue;
        }
        if (!seen.emplace(entry.text, true).second) {
            continue;  // the first entry of a text wins
        }
        const std::string when =
            " WHEN " + arms.compared + " = " + PgLiteral(entry.text, standardStrings);
        arms.degrees += when + " THEN float8 '" + PgDouble(entry.degree) + "'";
        arms.outcomes += when + " THEN " + std::to_string(k);
    }
    return arms;
}

}  // namespace

std::string GradedUpdateSql(const PgRelation& relation, std::string_view column,
                            std::string_view source, const host::NewFieldPass::GradedColumn& graded,
                            bool standardStrings, const std::vector<bool>& held) {
    const GradedArms arms = ArmsOf(source, graded, standardStrings, held);
    const std::string otherwise = "float8 '" + PgDouble(graded.otherwise) + "'";
    return "UPDATE " + relation.quoted() + " SET " + PgIdentifier(column) + " = " +
           (arms.degrees.empty() ? otherwise
                                 : "CASE" + arms.degrees + " ELSE " + otherwise + " END");
}

std::string GradedCountSql(const PgRelation& relation, std::string_view source,
                           const host::NewFieldPass::GradedColumn& graded, bool standardStrings,
                           const std::vector<bool>& held) {
    // The outcome of each row as a small number rather than its text: the
    // grouping holds one entry per outcome.
    const GradedArms arms = ArmsOf(source, graded, standardStrings, held);
    return "SELECT CASE" + arms.outcomes + " WHEN " + PgIdentifier(source) +
           " IS NULL THEN -1 WHEN " + arms.compared + " = '' THEN -2 ELSE -3 END AS k, " +
           "count(*) FROM " + relation.quoted() + " GROUP BY 1";
}

namespace {

/// How long a pass outside a run's lock waits for the table.
constexpr int kOwnLockWaitMilliseconds = 5000;

class PgNewFieldPass : public host::NewFieldPass {
public:
    PgNewFieldPass(std::shared_ptr<PgConnection> connection, PgRelation relation,
                   std::string column, std::string source, bool addColumn,
                   std::function<void()> afterCommit)
        : m_connection(std::move(connection)),
          m_relation(std::move(relation)),
          m_column(std::move(column)),
          m_source(std::move(source)),
          m_addColumn(addColumn),
          m_afterCommit(std::move(afterCommit)) {}

    ~PgNewFieldPass() override {
        if (m_open) {
            m_connection->rollback();
        }
    }

    std::int64_t Prepare(const ValueOf&) override {
        throw Failure(err::kInvalidProcedureCall,
                      "The field " + m_column + " of " + m_relation.display() +
                          " is computed in the server: its values come from graded entries",
                      "PostgreSQL");
    }

    std::optional<GradedCounts> PrepareGraded(const GradedColumn& graded) override {
        const std::string what = "Cannot add the field " + m_column + " to " + m_relation.display();
        GradedCounts counts;
        counts.entries.assign(graded.entries.size(), 0);
        try {
            if (!m_connection->inTransaction()) {
                m_connection->begin(what);
                m_open = true;
                m_connection->exec(
                    "SET LOCAL lock_timeout = '" + std::to_string(kOwnLockWaitMilliseconds) + "ms'",
                    what);
                // The run's lock, as LockRelation takes it: no other session
                // writes the table between the counts and the UPDATE.
                m_connection->exec(
                    "LOCK TABLE " + m_relation.quoted() + " IN SHARE ROW EXCLUSIVE MODE", what);
            }
            m_open = true;
            if (m_addColumn) {
                m_connection->exec(AddColumnSql(m_relation, m_column), what);
            }
            if (graded.entries.empty()) {
                const PgResult result =
                    m_connection->exec("SELECT count(*) FROM " + m_relation.quoted(), what);
                counts.features = std::stoll(PQgetvalue(result.get(), 0, 0));
                return counts;
            }
            // A graded text the database cannot hold is a value no feature
            // has: it counts 0, as any other, rather than failing the run.
            std::vector<std::string_view> texts;
            texts.reserve(graded.entries.size());
            for (const auto& entry : graded.entries) {
                texts.emplace_back(entry.text);
            }
            const std::vector<bool> held = m_connection->holds(texts, what);
            const bool standardStrings = m_connection->standardStrings();
            // The counts first, from the rows as they are (the lock keeps
            // them so), then the UPDATE alone: an UPDATE returning a row per
            // feature to count would keep them all in the server, on disk
            // past work_mem, and take longer than a second reading.
            const PgResult result = m_connection->exec(
                GradedCountSql(m_relation, m_source, graded, standardStrings, held), what);
            m_connection->exec(
                GradedUpdateSql(m_relation, m_column, m_source, graded, standardStrings, held),
                what);
            for (int row = 0; row < PQntuples(result.get()); ++row) {
                const long long k = std::stoll(PQgetvalue(result.get(), row, 0));
                const std::int64_t n = std::stoll(PQgetvalue(result.get(), row, 1));
                counts.features += n;
                if (k == -1) {
                    counts.null += n;
                } else if (k == -2) {
                    counts.empty += n;
                } else if (k < 0) {
                    counts.unlisted += n;
                } else if (static_cast<std::size_t>(k) < counts.entries.size()) {
                    counts.entries[static_cast<std::size_t>(k)] += n;
                }
            }
            return counts;
        } catch (const PgFailure& failure) {
            throw RunFailure(failure, m_relation, what);
        }
    }

    /// The recipe in the table vark_recipes of the layer's schema (one row
    /// per table and column, jsonb), and `summary` as the column's comment:
    /// both in the run's transaction. Rows of columns the table no longer
    /// has go. A recipe the database has no characters for is not kept.
    bool StoreRecipe(const std::string& json, const std::string& summary) override {
        if (!m_open) {
            return false;
        }
        const std::string what =
            "Cannot keep the recipe of " + m_column + " of " + m_relation.display();
        const std::string table = PgRecipeTable(m_relation);
        try {
            // A database not in UTF-8 may have no character for a graded
            // text (which then matched no row): such a recipe is not kept.
            const std::vector<bool> held = m_connection->holds({json, summary}, what);
            if (!held[0]) {
                return true;
            }
            const PgResult exists =
                m_connection->execParams("SELECT to_regclass($1) IS NOT NULL", {table}, {}, what);
            if (std::string(PQgetvalue(exists.get(), 0, 0)) != "t") {
                // Two first recipes of one schema at once: the second creator
                // waits for the first, then finds its table; one already there
                // is not created again (no right on the schema needed then).
                m_connection->exec("SELECT pg_advisory_xact_lock(hashtext(" +
                                       PgLiteral(table, m_connection->standardStrings()) + "))",
                                   what);
                m_connection->exec("CREATE TABLE IF NOT EXISTS " + table +
                                       " (table_name text NOT NULL, column_name text NOT NULL, "
                                       "recipe jsonb NOT NULL, made timestamptz NOT NULL DEFAULT "
                                       "now(), PRIMARY KEY (table_name, column_name))",
                                   what);
            }
            m_connection->execParams(
                "DELETE FROM " + table +
                    " r WHERE r.table_name = $1 AND (r.column_name = $2 OR NOT EXISTS (SELECT 1 "
                    "FROM pg_attribute a WHERE a.attrelid = $3::regclass AND a.attname = "
                    "r.column_name AND a.attnum > 0 AND NOT a.attisdropped))",
                {m_relation.table, m_column, m_relation.quoted()}, {}, what);
            m_connection->execParams("INSERT INTO " + table +
                                         " (table_name, column_name, recipe) VALUES ($1, $2, "
                                         "$3::jsonb)",
                                     {m_relation.table, m_column, json}, {}, what);
            if (held[1]) {
                m_connection->exec("COMMENT ON COLUMN " + m_relation.quoted() + "." +
                                       PgIdentifier(m_column) + " IS " +
                                       PgLiteral(summary, m_connection->standardStrings()),
                                   what);
            }
        } catch (const PgFailure& failure) {
            throw RunFailure(failure, m_relation, what);
        }
        return true;
    }

    void Commit() override {
        if (!m_open) {
            throw Failure(err::kInvalidProcedureCall, "Commit before Prepare", "PostgreSQL");
        }
        m_open = false;
        const std::string what =
            "Cannot commit the new field " + m_column + " of " + m_relation.display();
        try {
            m_connection->commit(what);
        } catch (const PgFailure& failure) {
            m_connection->rollback();
            throw RunFailure(failure, m_relation, what);
        }
        if (m_afterCommit) {
            m_afterCommit();
        }
    }

private:
    std::shared_ptr<PgConnection> m_connection;
    PgRelation m_relation;
    std::string m_column;
    std::string m_source;
    bool m_addColumn;
    std::function<void()> m_afterCommit;
    bool m_open = false;
};

// ---------------------------------------------------------------------------
// The criterion record

constexpr const char* kStoreTable = "vark_criteria";

class PgCriterionStore : public host::CriterionStore {
public:
    PgCriterionStore(std::shared_ptr<PgConnection> connection, PgRelation relation)
        : m_connection(std::move(connection)), m_relation(std::move(relation)) {}

    std::optional<std::string> Load() override {
        const std::string what = "Cannot read the criterion record of " + m_relation.display();
        try {
            if (!exists(what)) {
                return std::nullopt;
            }
            const PgResult result = m_connection->execParams(
                "SELECT encode(fzy, 'hex') FROM " + table() + " WHERE layer_name = $1",
                {m_relation.table}, {}, what);
            if (PQntuples(result.get()) == 0) {
                return std::nullopt;
            }
            return FromHex(PQgetvalue(result.get(), 0, 0));
        } catch (const PgFailure& failure) {
            throw RunFailure(failure, m_relation, what);
        }
    }

    void Replace(std::string_view bytes) override {
        const std::string what = "Cannot write the criterion record of " + m_relation.display();
        try {
            const bool own = !m_connection->inTransaction();
            if (own) {
                m_connection->begin(what);
            }
            try {
                if (!exists(what)) {
                    // Two first records of one schema at once: the second
                    // creator waits for the first, then finds its table. A
                    // table already there is not created again: that would
                    // ask a right on the schema that writing does not need.
                    m_connection->exec("SELECT pg_advisory_xact_lock(hashtext(" +
                                           PgLiteral(table(), m_connection->standardStrings()) +
                                           "))",
                                       what);
                    m_connection->exec("CREATE TABLE IF NOT EXISTS " + table() +
                                           " (layer_name text PRIMARY KEY, fzy bytea NOT NULL, "
                                           "changed timestamptz NOT NULL DEFAULT now())",
                                       what);
                }
                m_connection->execParams(
                    "INSERT INTO " + table() +
                        " (layer_name, fzy) VALUES ($1, $2) ON CONFLICT (layer_name) DO UPDATE "
                        "SET fzy = excluded.fzy, changed = now()",
                    {m_relation.table, std::string(bytes)}, {false, true}, what);
                if (own) {
                    m_connection->commit(what);
                }
            } catch (...) {
                if (own) {
                    m_connection->rollback();
                }
                throw;
            }
        } catch (const PgFailure& failure) {
            throw RunFailure(failure, m_relation, what);
        }
    }

    std::string WhyNotWritable() override {
        try {
            const std::string what = "Cannot check the rights on " + table();
            const PgResult result = m_connection->execParams(
                "SELECT CASE WHEN to_regclass($1) IS NULL THEN has_schema_privilege($2, 'CREATE') "
                "ELSE has_table_privilege($1, 'INSERT') AND has_table_privilege($1, 'UPDATE') "
                "END",
                {table(), m_relation.schema}, {}, what);
            if (std::string_view(PQgetvalue(result.get(), 0, 0)) == "t") {
                return {};
            }
            return "the role may not write the table " + m_relation.schema + "." + kStoreTable;
        } catch (...) {
            return CurrentFailure().description();
        }
    }

    std::string Location() const override {
        return "the row " + m_relation.table + " of the table " + m_relation.schema + "." +
               kStoreTable + " of " + m_connection->safeName();
    }

private:
    std::string table() const {
        return PgIdentifier(m_relation.schema) + "." + PgIdentifier(kStoreTable);
    }

    bool exists(const std::string& what) {
        const PgResult result =
            m_connection->execParams("SELECT to_regclass($1) IS NOT NULL", {table()}, {}, what);
        return std::string_view(PQgetvalue(result.get(), 0, 0)) == "t";
    }

    static std::string FromHex(std::string_view hex) {
        std::string out;
        out.reserve(hex.size() / 2);
        const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
        }
        return out;
    }

    std::shared_ptr<PgConnection> m_connection;
    PgRelation m_relation;
};

}  // namespace

std::unique_ptr<host::NewFieldPass> OpenPgNewFieldPass(std::shared_ptr<PgConnection> connection,
                                                       PgRelation relation, std::string column,
                                                       std::string source, bool addColumn,
                                                       std::function<void()> afterCommit) {
    return std::make_unique<PgNewFieldPass>(std::move(connection), std::move(relation),
                                            std::move(column), std::move(source), addColumn,
                                            std::move(afterCommit));
}

std::unique_ptr<host::CriterionStore> OpenPgCriterionStore(std::shared_ptr<PgConnection> connection,
                                                           PgRelation relation) {
    return std::make_unique<PgCriterionStore>(std::move(connection), std::move(relation));
}

std::vector<std::pair<std::optional<std::string>, std::int64_t>> DistinctTexts(
    PgConnection& connection, const PgRelation& relation, std::string_view column,
    std::int32_t limit) {
    // The cast drops the padding of a char(n) value (see GradedUpdateSql).
    std::string sql = "SELECT " + PgIdentifier(column) + "::text, count(*) FROM " +
                      relation.quoted() + " GROUP BY 1";
    if (limit > 0) {
        // The nulls may take a row of their own.
        sql += " LIMIT " + std::to_string(static_cast<std::int64_t>(limit) + 2);
    }
    const PgResult result = connection.exec(
        sql, "Cannot read the values of " + std::string(column) + " in " + relation.display());
    std::vector<std::pair<std::optional<std::string>, std::int64_t>> out;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
        std::optional<std::string> value;
        if (!PQgetisnull(result.get(), row, 0)) {
            value.emplace(PQgetvalue(result.get(), row, 0),
                          static_cast<std::size_t>(PQgetlength(result.get(), row, 0)));
        }
        out.emplace_back(std::move(value), std::stoll(PQgetvalue(result.get(), row, 1)));
    }
    return out;
}

std::string PgRecipeTable(const PgRelation& relation) {
    return PgIdentifier(relation.schema) + "." + PgIdentifier("vark_recipes");
}

std::optional<std::string> ReadPgRecipe(PgConnection& connection, const PgRelation& relation,
                                        const std::string& column) {
    const std::string what = "Cannot read the recipe of " + column + " of " + relation.display();
    const std::string table = PgRecipeTable(relation);
    try {
        const PgResult exists =
            connection.execParams("SELECT to_regclass($1) IS NOT NULL", {table}, {}, what);
        if (std::string(PQgetvalue(exists.get(), 0, 0)) != "t") {
            return std::nullopt;
        }
        const PgResult row = connection.execParams(
            "SELECT recipe::text FROM " + table + " WHERE table_name = $1 AND column_name = $2",
            {relation.table, column}, {}, what);
        if (PQntuples(row.get()) == 0) {
            return std::nullopt;
        }
        return std::string(PQgetvalue(row.get(), 0, 0),
                           static_cast<std::size_t>(PQgetlength(row.get(), 0, 0)));
    } catch (const PgFailure& failure) {
        throw RunFailure(failure, relation, what);
    }
}

}  // namespace vark::pg
