#include "text_store/DbHelpers.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "support/FileFunctions.h"
#include "support/UiServices.h"

namespace vark {

const char* const kNetworkSharePrefix = "\\\\kelmo-srv\\data";

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kEngineSource = "SQLite";

Failure EngineFailure(sqlite3* handle) {
    return Failure(sqlite3_extended_errcode(handle), sqlite3_errmsg(handle), kEngineSource);
}

bool IsBlankTail(sqlite3* handle, const char* tail) {
    // The tail may hold blanks, comments and ";" only: compiling it must
    // yield no statement at all.
    while (tail != nullptr && *tail != '\0') {
        sqlite3_stmt* extra = nullptr;
        const char* next = nullptr;
        if (sqlite3_prepare_v2(handle, tail, -1, &extra, &next) != SQLITE_OK) return false;
        if (extra != nullptr) {
            sqlite3_finalize(extra);
            return false;
        }
        if (next == tail) break;
        tail = next;
    }
    return true;
}

// Compiles exactly one statement; throws Failure with the engine's message.
sqlite3_stmt* PrepareOne(const Database& db, const std::string& sql) {
    if (!db.isOpen()) {
        throw Failure(err::kObjectVariableNotSet, "The database is not open.", kEngineSource);
    }
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db.handle(), sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail) !=
        SQLITE_OK) {
        throw EngineFailure(db.handle());
    }
    if (stmt == nullptr)
        throw Failure(err::kInvalidProcedureCall, "No SQL statement.", kEngineSource);
    if (!IsBlankTail(db.handle(), tail)) {
        sqlite3_finalize(stmt);
        throw Failure(err::kInvalidProcedureCall, "Only one SQL statement may be run at a time.",
                      kEngineSource);
    }
    return stmt;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = s.find(from); at != std::string::npos;
         at = s.find(from, at + to.size())) {
        s.replace(at, from.size(), to);
    }
}

std::int16_t CheckedInt16(double v) {
    if (!(v >= std::numeric_limits<std::int16_t>::min() - 0.5 &&
          v < std::numeric_limits<std::int16_t>::max() + 0.5)) {
        throw Failure(err::kOverflow, "Overflow", err::kRuntimeSource);
    }
    // Round half to even, as the family's runtime converts to whole numbers.
    const double r = std::nearbyint(v);
    if (r < std::numeric_limits<std::int16_t>::min() ||
        r > std::numeric_limits<std::int16_t>::max()) {
        throw Failure(err::kOverflow, "Overflow", err::kRuntimeSource);
    }
    return static_cast<std::int16_t>(r);
}

}  // namespace

// ---- Database

Database::Database() = default;
Database::~Database() {
    close();
}

Database::Database(Database&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_path(std::move(other.m_path)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_path = std::move(other.m_path);
    }
    return *this;
}

void Database::close() noexcept {
    if (m_handle != nullptr) {
        sqlite3_close_v2(m_handle);
        m_handle = nullptr;
    }
    m_path.clear();
}

void Database::reset(sqlite3* handle, std::string path) noexcept {
    close();
    m_handle = handle;
    m_path = std::move(path);
}

// ---- Recordset

Recordset::Recordset() = default;
Recordset::~Recordset() {
    close();
}

Recordset::Recordset(Recordset&& other) noexcept
    : m_stmt(std::exchange(other.m_stmt, nullptr)),
      m_sql(std::move(other.m_sql)),
      m_eof(std::exchange(other.m_eof, true)) {}

Recordset& Recordset::operator=(Recordset&& other) noexcept {
    if (this != &other) {
        close();
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_sql = std::move(other.m_sql);
        m_eof = std::exchange(other.m_eof, true);
    }
    return *this;
}

void Recordset::close() noexcept {
    if (m_stmt != nullptr) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
    m_eof = true;
}

void Recordset::reset(sqlite3_stmt* stmt, std::string sql) {
    close();
    m_stmt = stmt;
    m_sql = std::move(sql);
    m_eof = false;
    try {
        MoveNext();
    } catch (...) {
        close();
        throw;
    }
}

void Recordset::MoveNext() {
    if (m_stmt == nullptr || m_eof) {
        throw Failure(kNoCurrentRecord, "No current record.", kEngineSource);
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return;
    m_eof = true;
    if (rc != SQLITE_DONE) throw EngineFailure(sqlite3_db_handle(m_stmt));
}

int Recordset::columnCount() const {
    return m_stmt == nullptr ? 0 : sqlite3_column_count(m_stmt);
}

DbValue Recordset::value(int column) const {
    if (m_stmt == nullptr || m_eof) {
        throw Failure(kNoCurrentRecord, "No current record.", kEngineSource);
    }
    if (column < 0 || column >= sqlite3_column_count(m_stmt)) {
        throw Failure(kItemNotFound, "Item not found in this collection.", kEngineSource);
    }
    switch (sqlite3_column_type(m_stmt, column)) {
        case SQLITE_NULL:
            return std::monostate{};
        case SQLITE_INTEGER:
            return static_cast<long long>(sqlite3_column_int64(m_stmt, column));
        case SQLITE_FLOAT:
            return sqlite3_column_double(m_stmt, column);
        default: {
            const auto* text = sqlite3_column_text(m_stmt, column);
            const int size = sqlite3_column_bytes(m_stmt, column);
            return std::string(text == nullptr ? "" : reinterpret_cast<const char*>(text),
                               static_cast<std::size_t>(size));
        }
    }
}

// ---- Operations

std::string DAO_Open(Database& db, std::string path, bool showErrors) {
    ReplaceAll(path, kNetworkSharePrefix, "w:");
    if (!FileExists(path, false)) {
        throw Failure(kDaoOpenError, std::string("Database not found:") + kCrLf + path, "DAO_Open");
    }
    sqlite3* handle = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr);
    // Opening is lazy: reading the schema is what proves the file is a database.
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(handle, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        std::string description = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
        sqlite3_close_v2(handle);
        if (showErrors) {
            throw Failure(kDaoOpenError, std::string("Error open database:") + kCrLf + path,
                          "DAO_Open");
        }
        return description;
    }
    db.reset(handle, path);
    return {};
}

std::string DAO_OpenRs(Database& db, Recordset& rs, const std::string& path,
                       const std::string& sql) {
    if (!db.isOpen()) DAO_Open(db, path, false);
    try {
        rs.reset(PrepareOne(db, sql), sql);
    } catch (const Failure& f) {
        throw Failure(kDaoOpenRsError,
                      "Error SQL:" + sql + kCrLf + "on database" + kCrLf + path + kCrLf +
                          "Error: " + f.description(),
                      "DAO_OpenRs");
    }
    return {};
}

DbValue DAO_SQL2Value(Database& db, const std::string& sql, const DbValue& defaultValue,
                      bool showErrors) {
    Recordset rs;
    try {
        rs.reset(PrepareOne(db, sql), sql);
        DbValue result = rs.value(0);
        rs.close();
        return result;
    } catch (...) {
        const Failure f = CurrentFailure();
        rs.close();
        if (showErrors) {
            Ui().MsgBox(f.description() + kCrLf + "SQL=" + sql, MsgIcon::Critical, MsgButtons::Ok,
                        "DAO_SQL2Value");
        }
        return defaultValue;
    }
}

DbValue DAO_GetMaxValue(Database& db, const std::string& table, const std::string& column,
                        const DbValue& defaultValue, bool showErrors) {
    return DAO_SQL2Value(db, "SELECT max(" + column + ") FROM " + table, defaultValue, showErrors);
}

std::vector<std::string> TableColumnNames(Database& db, const std::string& table) {
    Recordset rs;
    sqlite3_stmt* stmt = PrepareOne(db, "SELECT name FROM pragma_table_info(?1)");
    if (sqlite3_bind_text(stmt, 1, table.c_str(), static_cast<int>(table.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        Failure f = EngineFailure(db.handle());
        sqlite3_finalize(stmt);
        throw f;
    }
    rs.reset(stmt, "table_info");
    std::vector<std::string> names;
    for (; !rs.EOF_(); rs.MoveNext()) names.push_back(DbValueToText(rs.value(0)));
    if (names.empty()) {
        throw Failure(kItemNotFound, "Table not found in the database: " + table, kEngineSource);
    }
    return names;
}

std::int16_t DbValueToInt16(const DbValue& value) {
    if (std::holds_alternative<std::monostate>(value)) {
        throw Failure(err::kInvalidUseOfNull, "Invalid use of Null", err::kRuntimeSource);
    }
    if (const auto* i = std::get_if<long long>(&value)) {
        if (*i < std::numeric_limits<std::int16_t>::min() ||
            *i > std::numeric_limits<std::int16_t>::max()) {
            throw Failure(err::kOverflow, "Overflow", err::kRuntimeSource);
        }
        return static_cast<std::int16_t>(*i);
    }
    if (const auto* d = std::get_if<double>(&value)) return CheckedInt16(*d);

    const std::string& s = std::get<std::string>(value);
    const auto first = s.find_first_not_of(' ');
    const auto last = s.find_last_not_of(' ');
    double parsed = 0;
    if (first != std::string::npos) {
        const char* begin = s.data() + first;
        const char* end = s.data() + last + 1;
        if (*begin == '+') ++begin;
        const auto [ptr, ec] = std::from_chars(begin, end, parsed);
        if (ec == std::errc() && ptr == end && std::isfinite(parsed)) return CheckedInt16(parsed);
        if (ec == std::errc::result_out_of_range && ptr == end) {
            throw Failure(err::kOverflow, "Overflow", err::kRuntimeSource);
        }
    }
    throw Failure(err::kTypeMismatch, "Type mismatch", err::kRuntimeSource);
}

std::string DbValueToText(const DbValue& value) {
    if (std::holds_alternative<std::monostate>(value)) {
        throw Failure(err::kInvalidUseOfNull, "Invalid use of Null", err::kRuntimeSource);
    }
    if (const auto* i = std::get_if<long long>(&value)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&value)) {
        char buffer[32];
        const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, *d);
        return ec == std::errc() ? std::string(buffer, ptr) : std::string();
    }
    return std::get<std::string>(value);
}

}  // namespace vark
