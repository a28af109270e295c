#include "routes/gpkg/GpkgRecipes.h"

#include <initializer_list>
#include <vector>

#include "routes/file/GdalErrors.h"

namespace vark::routes {

namespace {

/// The document that defines the extension, as gpkg_extensions names it.
constexpr const char* kMetadataDefinition = "OGC 12-128, GeoPackage metadata extension";

/// One statement with text parameters bound in order; the rows go to
/// `row` (its first column as text).
template <typename Row>
void Run(sqlite3& db, const char* sql, std::initializer_list<const std::string*> params,
         const std::string& what, Row&& row) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(&db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        throw gdalFailure(what, sqlite3_errmsg(&db));
    }
    int index = 1;
    for (const std::string* param : params) {
        sqlite3_bind_text(statement, index++, param->c_str(), static_cast<int>(param->size()),
                          SQLITE_TRANSIENT);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(statement, 0);
        row(text == nullptr
                ? std::string()
                : std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, 0))));
    }
    const std::string message = sqlite3_errmsg(&db);
    sqlite3_finalize(statement);
    if (result != SQLITE_DONE) {
        throw gdalFailure(what, message);
    }
}

void Run(sqlite3& db, const char* sql, std::initializer_list<const std::string*> params,
         const std::string& what) {
    Run(db, sql, params, what, [](const std::string&) {});
}

bool HasTable(sqlite3& db, const std::string& name, const std::string& what) {
    bool found = false;
    Run(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", {&name}, what,
        [&found](const std::string&) { found = true; });
    return found;
}

}  // namespace

void StoreGpkgRecipe(sqlite3& db, const std::string& table, const std::string& column,
                     const std::string& json, const std::string& what) {
    const std::string uri = kRecipeStandardUri;
    const std::string definition = kMetadataDefinition;
    // The tables as the metadata extension defines them.
    Run(db,
        "CREATE TABLE IF NOT EXISTS gpkg_metadata (id INTEGER CONSTRAINT m_pk PRIMARY KEY ASC "
        "NOT NULL, md_scope TEXT NOT NULL DEFAULT 'dataset', md_standard_uri TEXT NOT NULL, "
        "mime_type TEXT NOT NULL DEFAULT 'text/xml', metadata TEXT NOT NULL DEFAULT '')",
        {}, what);
    Run(db,
        "CREATE TABLE IF NOT EXISTS gpkg_metadata_reference (reference_scope TEXT NOT NULL, "
        "table_name TEXT, column_name TEXT, row_id_value INTEGER, timestamp DATETIME NOT NULL "
        "DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')), md_file_id INTEGER NOT NULL, "
        "md_parent_id INTEGER, CONSTRAINT crmr_mfi_fk FOREIGN KEY (md_file_id) REFERENCES "
        "gpkg_metadata(id), CONSTRAINT crmr_mpi_fk FOREIGN KEY (md_parent_id) REFERENCES "
        "gpkg_metadata(id))",
        {}, what);
    Run(db,
        "CREATE TABLE IF NOT EXISTS gpkg_extensions (table_name TEXT, column_name TEXT, "
        "extension_name TEXT NOT NULL, definition TEXT NOT NULL, scope TEXT NOT NULL, "
        "CONSTRAINT ge_tce UNIQUE (table_name, column_name, extension_name))",
        {}, what);
    for (const char* name : {"gpkg_metadata", "gpkg_metadata_reference"}) {
        const std::string registered = name;
        Run(db,
            "INSERT INTO gpkg_extensions (table_name, column_name, extension_name, definition, "
            "scope) SELECT ?1, NULL, 'gpkg_metadata', ?2, 'read-write' WHERE NOT EXISTS "
            "(SELECT 1 FROM gpkg_extensions WHERE table_name = ?1 AND column_name IS NULL AND "
            "extension_name = 'gpkg_metadata')",
            {&registered, &definition}, what);
    }
    // The earlier recipe of this column, and those of columns that are gone.
    std::vector<std::string> gone;
    Run(db,
        "SELECT r.md_file_id FROM gpkg_metadata_reference r JOIN gpkg_metadata m ON m.id = "
        "r.md_file_id WHERE m.md_standard_uri = ?1 AND r.reference_scope = 'column' AND "
        "r.table_name = ?2 AND (r.column_name = ?3 OR r.column_name NOT IN (SELECT name FROM "
        "pragma_table_info(?2)))",
        {&uri, &table, &column}, what, [&gone](const std::string& id) { gone.push_back(id); });
    for (const std::string& id : gone) {
        Run(db, "DELETE FROM gpkg_metadata_reference WHERE md_file_id = CAST(?1 AS INTEGER)", {&id},
            what);
        Run(db, "DELETE FROM gpkg_metadata WHERE id = CAST(?1 AS INTEGER)", {&id}, what);
    }
    Run(db,
        "INSERT INTO gpkg_metadata (md_scope, md_standard_uri, mime_type, metadata) VALUES "
        "('attributeType', ?1, 'application/json', ?2)",
        {&uri, &json}, what);
    const std::string id = std::to_string(sqlite3_last_insert_rowid(&db));
    Run(db,
        "INSERT INTO gpkg_metadata_reference (reference_scope, table_name, column_name, "
        "md_file_id) VALUES ('column', ?1, ?2, CAST(?3 AS INTEGER))",
        {&table, &column, &id}, what);
}

std::optional<std::string> ReadGpkgRecipe(sqlite3& db, const std::string& table,
                                          const std::string& column, const std::string& what) {
    if (!HasTable(db, "gpkg_metadata", what) || !HasTable(db, "gpkg_metadata_reference", what)) {
        return std::nullopt;
    }
    const std::string uri = kRecipeStandardUri;
    std::optional<std::string> recipe;
    Run(db,
        "SELECT m.metadata FROM gpkg_metadata m JOIN gpkg_metadata_reference r ON r.md_file_id "
        "= m.id WHERE m.md_standard_uri = ?1 AND r.reference_scope = 'column' AND r.table_name "
        "= ?2 AND r.column_name = ?3 ORDER BY m.id DESC LIMIT 1",
        {&uri, &table, &column}, what, [&recipe](const std::string& text) { recipe = text; });
    return recipe;
}

}  // namespace vark::routes
