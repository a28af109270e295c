#pragma once

// Thin layer over SQLite for the text store: open a database file, run a
// query into a row set, fetch a single value. Each operation either raises a
// numbered Failure with a fixed source and a composed description, or shows
// a message box and returns a default; the texts are fixed (English).
//
// Only one SQL statement is run per call: text after the first statement
// (other than blanks and a closing ";") is a failure, so a language code or
// table name can never smuggle in a second statement.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "support/Failure.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vark {

/// An open database (empty when not opened). Owns the connection and closes
/// it on destruction.
class Database {
public:
    Database();
    ~Database();
    Database(Database&&) noexcept;
    Database& operator=(Database&&) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    bool isOpen() const { return m_handle != nullptr; }
    sqlite3* handle() const { return m_handle; }
    /// The path the database was opened from (after the share mapping).
    const std::string& path() const { return m_path; }
    /// Closes the connection; never fails. Row sets still open on it stay
    /// valid until they are closed.
    void close() noexcept;
    /// Takes ownership of `handle` (closing the current one).
    void reset(sqlite3* handle, std::string path) noexcept;

private:
    sqlite3* m_handle = nullptr;
    std::string m_path;
};

/// A single column value: null, integer, real or text (blobs read as text).
using DbValue = std::variant<std::monostate, long long, double, std::string>;

/// A forward-only row set over a prepared statement; finalises itself.
/// Positioned on its first row once opened.
class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(Recordset&&) noexcept;
    Recordset& operator=(Recordset&&) noexcept;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;
    bool isOpen() const { return m_stmt != nullptr; }
    /// True past the last row (and when not open).
    bool EOF_() const { return m_eof; }
    /// Steps to the next row. Throws Failure (the engine's number and
    /// message, source "SQLite") when the engine fails.
    void MoveNext();
    int columnCount() const;
    /// Value of `column` (from 0) in the current row. Throws Failure
    /// kNoCurrentRecord past the end, kItemNotFound for a bad column.
    DbValue value(int column) const;
    void close() noexcept;
    /// Takes ownership of a prepared statement and steps to its first row
    /// (throws like MoveNext; the statement is then owned and finalised).
    void reset(sqlite3_stmt* stmt, std::string sql);
    const std::string& sql() const { return m_sql; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    std::string m_sql;
    bool m_eof = true;
};

/// The UNC prefix replaced by "w:" in every path DAO_Open opens: the data
/// share \\kelmo-srv\data (as a C string "\\\\kelmo-srv\\data"), matched
/// exactly and case-sensitively wherever it occurs in the path.
extern const char* const kNetworkSharePrefix;

/// Failure codes raised by this layer.
constexpr std::int32_t kDaoOpenError = -2147220504;    // source "DAO_Open"
constexpr std::int32_t kDaoOpenRsError = -2147220503;  // source "DAO_OpenRs"
/// Failures of a row set once opened (numbers of the family's runtime).
constexpr std::int32_t kNoCurrentRecord = 3021;  // "No current record."
constexpr std::int32_t kItemNotFound = 3265;     // "Item not found in this collection."

/// Opens the database file at `path` (the share prefix mapped to "w:") into
/// `db`, read-write when the file allows it, read-only otherwise; returns "".
/// A missing file raises kDaoOpenError "Database not found:" CR LF <path>
/// whatever `showErrors` says. A file that cannot be opened as a database
/// raises kDaoOpenError "Error open database:" CR LF <path> when
/// `showErrors`, otherwise returns the engine's description and leaves `db`
/// as it was.
std::string DAO_Open(Database& db, std::string path, bool showErrors);
/// Opens `db` from `path` first when it is not open (DAO_Open without
/// showErrors; a missing file still raises), then runs `sql` into `rs`,
/// positioned on the first row. A failure raises kDaoOpenRsError
/// "Error SQL:" <sql> CR LF "on database" CR LF <path> CR LF "Error: " <engine description>.
/// Returns "".
std::string DAO_OpenRs(Database& db, Recordset& rs, const std::string& path,
                       const std::string& sql);
/// Column 0 of the first row of `sql` (null stays null). On any failure
/// (no open database, bad SQL, no row) shows, when `showErrors`, a critical
/// box titled "DAO_SQL2Value": <description> CR LF "SQL=" <sql>, and returns
/// `defaultValue`. Never throws.
DbValue DAO_SQL2Value(Database& db, const std::string& sql, const DbValue& defaultValue,
                      bool showErrors);
/// DAO_SQL2Value of "SELECT max(<column>) FROM <table>"; null over an empty table.
DbValue DAO_GetMaxValue(Database& db, const std::string& table, const std::string& column,
                        const DbValue& defaultValue, bool showErrors);

/// The column names of `table`, in the table's column order. Throws Failure
/// when the database is not open or has no such table.
std::vector<std::string> TableColumnNames(Database& db, const std::string& table);

/// Conversions of a column value as the text store needs them.
/// To a 16-bit integer: integers as they are, reals and numeric texts rounded
/// half to even. Throws Failure: null 94 "Invalid use of Null", out of range
/// 6 "Overflow", a non-numeric text 13 "Type mismatch".
std::int16_t DbValueToInt16(const DbValue& value);
/// To text: integers and reals in decimal. Throws Failure 94 for null.
std::string DbValueToText(const DbValue& value);

}  // namespace vark
