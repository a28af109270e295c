#pragma once

// Builds small SQLite text tables for the text store's tests.

#include <sqlite3.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vark::test {

/// A cell: a text, or null (nullopt). The first cell of a row is written as
/// an integer when it is all digits (with an optional "-").
using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

inline void Exec(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "?";
        sqlite3_free(message);
        throw std::runtime_error(text + " in " + sql);
    }
}

/// Creates `path` with table `table` of `columns` ("name TYPE" each) and rows.
inline void MakeDb(const std::string& path, const std::string& table,
                   const std::vector<std::string>& columns, const std::vector<Row>& rows) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + path);
    std::string create = "CREATE TABLE " + table + " (";
    std::string insert = "INSERT INTO " + table + " VALUES (";
    for (std::size_t i = 0; i < columns.size(); ++i) {
        create += (i ? ", " : "") + columns[i];
        insert += i ? ", ?" : "?";
    }
    Exec(db, create + ")");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, (insert + ")").c_str(), -1, &stmt, nullptr);
    for (const Row& row : rows) {
        sqlite3_reset(stmt);
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int at = static_cast<int>(i) + 1;
            if (!row[i]) {
                sqlite3_bind_null(stmt, at);
            } else if (i == 0 && row[i]->find_first_not_of("-0123456789") == std::string::npos) {
                sqlite3_bind_int64(stmt, at, std::stoll(*row[i]));
            } else {
                sqlite3_bind_text(stmt, at, row[i]->c_str(), -1, SQLITE_TRANSIENT);
            }
        }
        if (sqlite3_step(stmt) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}

/// The usual shape: id, fr, en.
inline void MakeTextDb(const std::string& path, const std::vector<Row>& rows) {
    MakeDb(path, "tblText", {"id INTEGER", "fr TEXT", "en TEXT"}, rows);
}

}  // namespace vark::test
