#pragma once

// Thin layer over SQLite for the text store: open, query into rows, fetch a
// single value, each with its numbered failures and fixed messages.

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vark {

/// An open database (empty when not opened). Owns the connection.
class Database {
public:
    Database();
    ~Database();
    Database(Database&&) noexcept;
    Database& operator=(Database&&) noexcept;
    bool isOpen() const { return m_handle != nullptr; }
    sqlite3* handle() const { return m_handle; }
    const std::string& path() const { return m_path; }
    void close() noexcept;
    void reset(sqlite3* handle, std::string path) noexcept;

private:
    sqlite3* m_handle = nullptr;
    std::string m_path;
};

/// A single column value: null, integer, real or text.
using DbValue = std::variant<std::monostate, long long, double, std::string>;

/// A forward-only row set over a prepared statement; finalises itself.
class Recordset {
public:
    Recordset();
    ~Recordset();
    Recordset(Recordset&&) noexcept;
    Recordset& operator=(Recordset&&) noexcept;
    bool isOpen() const { return m_stmt != nullptr; }
    /// True past the last row.
    bool EOF_() const { return m_eof; }
    void MoveNext();
    int columnCount() const;
    DbValue value(int column) const;
    void close() noexcept;
    void reset(sqlite3_stmt* stmt, std::string sql);
    const std::string& sql() const { return m_sql; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    std::string m_sql;
    bool m_eof = true;
};

/// The UNC prefix replaced by "w:" in every path DAO_Open opens.
extern const char* const kNetworkSharePrefix;

std::string DAO_Open(Database& db, std::string path, bool showErrors);
std::string DAO_OpenRs(Database& db, Recordset& rs, const std::string& path, const std::string& sql);
DbValue DAO_SQL2Value(Database& db, const std::string& sql, DbValue& defaultValue, bool showErrors);
DbValue DAO_GetMaxValue(Database& db, const std::string& table, const std::string& column,
                        DbValue defaultValue, bool showErrors);

/// Failure codes raised by this layer.
constexpr int kDaoOpenError = -2147220504;
constexpr int kDaoOpenRsError = -2147220503;

}  // namespace vark
