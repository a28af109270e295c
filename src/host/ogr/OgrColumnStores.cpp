// Column updates: changed double attributes written straight into the
// format, where the driver would rewrite whole features (a shapefile's
// geometry and every attribute, a GeoPackage row and its spatial index).

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "host/ogr/OgrData.h"
#include "routes/shape/DbfRewrite.h"

namespace vark::ogr {

using namespace routes;

namespace {

// ---------------------------------------------------------------------------
// Shapefiles: the dBASE table

/// Records read, patched and written back at a time.
constexpr std::int64_t kChunkRecords = 8192;

/// The .dbf file of the shapefile layer, among the data set's files.
std::string DbfPathOf(OgrFeatureClass& featureClass) {
    return featureClass.dbfPath();
}

// Writes the numbers the way the shapefile driver does (FormatDbfNumber), a
// null as the field filled with '*'; a number that does not fit its field is
// refused, where the driver would cut it and warn.
class DbfColumnStore : public ColumnStore {
public:
    DbfColumnStore(OgrFeatureClass& featureClass, VSILFILE* file, std::size_t headerSize,
                   std::size_t recordSize, std::int64_t records, std::vector<DbfField> fields)
        : m_class(featureClass),
          m_file(file),
          m_headerSize(headerSize),
          m_recordSize(recordSize),
          m_records(records),
          m_fields(std::move(fields)) {}

    ~DbfColumnStore() override { abandon(); }

    void store(std::int64_t fid, const std::vector<std::optional<double>>& values) override {
        if (fid < 0 || fid >= m_records) {
            throw gdalFailure("Cannot store the feature " + std::to_string(fid) + " of " +
                              m_class.describe() + ": no such record in its table");
        }
        if (fid < m_first || fid >= m_first + m_count) {
            writeChunk();
            readChunk(fid);
        }
        char* record = m_chunk.data() + static_cast<std::size_t>(fid - m_first) * m_recordSize;
        for (std::size_t k = 0; k < m_fields.size(); ++k) {
            const DbfField& field = m_fields[k];
            char* bytes = record + field.offset;
            if (!values[k]) {
                std::memset(bytes, '*', static_cast<std::size_t>(field.size));
                continue;
            }
            if (!FormatDbfNumber(*values[k], field.size, field.decimals, bytes)) {
                char text[512];
                CPLsnprintf(text, sizeof text, "%.*f", field.decimals, *values[k]);
                throw gdalFailure("Cannot store the feature " + std::to_string(fid) + " of " +
                                  m_class.describe() + ": the value " + text +
                                  " is too wide for its field");
            }
        }
    }

    void flush() override {
        writeChunk();
        close();
        refreshDriver();
    }

    void abandon() noexcept override {
        try {
            if (m_file) {
                flush();
            }
        } catch (...) {
            // Nothing more can be done for what was stored: the pass failed.
        }
    }

private:
    void readChunk(std::int64_t first) {
        m_first = first;
        m_count = std::min(kChunkRecords, m_records - first);
        m_chunk.resize(static_cast<std::size_t>(m_count) * m_recordSize);
        if (VSIFSeekL(m_file, offsetOf(first), SEEK_SET) != 0 ||
            VSIFReadL(m_chunk.data(), 1, m_chunk.size(), m_file) != m_chunk.size()) {
            m_count = 0;
            throw gdalFailure("Cannot read the table of " + m_class.describe());
        }
        m_dirty = true;
    }

    void writeChunk() {
        if (!m_dirty || m_count == 0) {
            return;
        }
        m_dirty = false;
        if (VSIFSeekL(m_file, offsetOf(m_first), SEEK_SET) != 0 ||
            VSIFWriteL(m_chunk.data(), 1, m_chunk.size(), m_file) != m_chunk.size()) {
            throw gdalFailure("Cannot write the table of " + m_class.describe());
        }
    }

    vsi_l_offset offsetOf(std::int64_t record) const {
        return static_cast<vsi_l_offset>(m_headerSize) +
               static_cast<vsi_l_offset>(record) * static_cast<vsi_l_offset>(m_recordSize);
    }

    void close() {
        if (m_file) {
            VSILFILE* file = m_file;
            m_file = nullptr;
            if (VSIFCloseL(file) != 0) {
                throw gdalFailure("Cannot write the table of " + m_class.describe());
            }
        }
    }

    // The driver keeps the last record it read, and its file buffer, from
    // before the records were written here: it forgets both when its file
    // is flushed and it reads two other records in turn.
    void refreshDriver() {
        GdalErrorScope scope;
        OGRLayer* layer = m_class.layer();
        layer->SyncToDisk();
        FeaturePtr first(layer->GetFeature(0));
        FeaturePtr second(layer->GetFeature(1));
    }

    OgrFeatureClass& m_class;
    VSILFILE* m_file;
    std::size_t m_headerSize;
    std::size_t m_recordSize;
    std::int64_t m_records;
    std::vector<DbfField> m_fields;
    std::string m_chunk;
    std::int64_t m_first = 0;
    std::int64_t m_count = 0;
    bool m_dirty = false;
};

// ---------------------------------------------------------------------------
// GeoPackages

/// Features stored by one UPDATE, and the widest span of ids it covers.
constexpr std::size_t kBatchFeatures = 500;
constexpr std::int64_t kBatchSpan = 4 * static_cast<std::int64_t>(kBatchFeatures);

// Stores features in batches: one UPDATE over a range of ids, taking each
// feature's values from this store through two SQL functions of its own,
// costs about what the format's own UPDATE of a column costs; an UPDATE per
// feature costs twice that, above all while the driver's reading statement
// walks the same table. A failure therefore shows at a later store or at
// flush, naming the ids of its batch. Ids must grow within a batch: one
// stored again, or out of order, sends the batch first.
class SqliteColumnStore : public ColumnStore {
public:
    SqliteColumnStore(OgrFeatureClass& featureClass, sqlite3* db, std::size_t width)
        : m_class(featureClass), m_db(db), m_width(width) {}

    ~SqliteColumnStore() override {
        sqlite3_finalize(m_statement);
        for (const std::string& name : m_functions) {
            sqlite3_create_function_v2(m_db, name.c_str(), -1, SQLITE_UTF8, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
        }
    }

    /// Registers the functions and prepares the UPDATE; false when the
    /// connection refuses.
    bool prepare(const std::string& table, const std::string& fidColumn,
                 const std::vector<std::string>& columns) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_%p", static_cast<void*>(this));
        const std::string valueFunction = std::string("vark_column_value") + suffix;
        const std::string storedFunction = std::string("vark_column_stored") + suffix;
        if (sqlite3_create_function_v2(m_db, valueFunction.c_str(), 2,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC, this, &valueOf, nullptr,
                                       nullptr, nullptr) != SQLITE_OK) {
            return false;
        }
        m_functions.push_back(valueFunction);
        if (sqlite3_create_function_v2(m_db, storedFunction.c_str(), 1,
                                       SQLITE_UTF8 | SQLITE_DETERMINISTIC, this, &isStored, nullptr,
                                       nullptr, nullptr) != SQLITE_OK) {
            return false;
        }
        m_functions.push_back(storedFunction);
        std::string sql = "UPDATE " + table + " SET ";
        for (std::size_t k = 0; k < columns.size(); ++k) {
            sql += (k ? ", " : "") + columns[k] + " = " + valueFunction + "(" + fidColumn + ", " +
                   std::to_string(k) + ")";
        }
        sql += " WHERE " + fidColumn + " BETWEEN ?1 AND ?2 AND " + storedFunction + "(" +
               fidColumn + ")";
        return sqlite3_prepare_v2(m_db, sql.c_str(), -1, &m_statement, nullptr) == SQLITE_OK;
    }

    void store(std::int64_t fid, const std::vector<std::optional<double>>& values) override {
        if (m_count > 0 && (fid <= m_last || fid - m_first >= kBatchSpan)) {
            send();
        }
        if (m_count == 0) {
            m_first = fid;
            m_stored.clear();
            m_values.clear();
        }
        const auto slot = static_cast<std::size_t>(fid - m_first);
        m_stored.resize(slot + 1, 0);
        m_values.resize((slot + 1) * m_width);
        m_stored[slot] = 1;
        std::copy(values.begin(), values.end(), m_values.begin() + slot * m_width);
        m_last = fid;
        if (++m_count == kBatchFeatures) {
            send();
        }
    }

    void flush() override { send(); }

    void abandon() noexcept override {
        // What was not sent belongs to a transaction that is rolled back.
        m_count = 0;
    }

private:
    static void valueOf(sqlite3_context* context, int, sqlite3_value** arguments) {
        const auto* self = static_cast<const SqliteColumnStore*>(sqlite3_user_data(context));
        const std::int64_t slot = sqlite3_value_int64(arguments[0]) - self->m_first;
        const std::int64_t column = sqlite3_value_int64(arguments[1]);
        const auto at =
            static_cast<std::size_t>(slot) * self->m_width + static_cast<std::size_t>(column);
        if (slot < 0 || column < 0 || static_cast<std::size_t>(column) >= self->m_width ||
            at >= self->m_values.size() || !self->m_values[at]) {
            sqlite3_result_null(context);
        } else {
            sqlite3_result_double(context, *self->m_values[at]);
        }
    }

    static void isStored(sqlite3_context* context, int, sqlite3_value** arguments) {
        const auto* self = static_cast<const SqliteColumnStore*>(sqlite3_user_data(context));
        const std::int64_t slot = sqlite3_value_int64(arguments[0]) - self->m_first;
        sqlite3_result_int(context, slot >= 0 &&
                                        static_cast<std::size_t>(slot) < self->m_stored.size() &&
                                        self->m_stored[static_cast<std::size_t>(slot)]);
    }

    void send() {
        if (m_count == 0) {
            return;
        }
        const std::size_t expected = m_count;
        m_count = 0;
        const std::string what = expected == 1 ? "the feature " + std::to_string(m_first)
                                               : "the features " + std::to_string(m_first) +
                                                     " to " + std::to_string(m_last);
        sqlite3_bind_int64(m_statement, 1, m_first);
        sqlite3_bind_int64(m_statement, 2, m_last);
        const int result = sqlite3_step(m_statement);
        sqlite3_reset(m_statement);
        if (result != SQLITE_DONE) {
            throw gdalFailure("Cannot store " + what + " of " + m_class.describe(),
                              sqlite3_errmsg(m_db));
        }
        if (static_cast<std::size_t>(sqlite3_changes(m_db)) != expected) {
            throw gdalFailure("Cannot store " + what + " of " + m_class.describe() +
                              ": not every one of them is in the table");
        }
    }

    OgrFeatureClass& m_class;
    sqlite3* m_db;
    std::size_t m_width;
    sqlite3_stmt* m_statement = nullptr;
    std::vector<std::string> m_functions;
    std::int64_t m_first = 0;
    std::int64_t m_last = 0;
    std::size_t m_count = 0;
    std::vector<char> m_stored;
    std::vector<std::optional<double>> m_values;
};

}  // namespace

std::unique_ptr<ColumnStore> OpenDbfColumnStore(OgrFeatureClass& featureClass,
                                                const std::vector<int>& attrs) {
    OGRLayer* layer = featureClass.layer();
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    GdalErrorScope scope;
    const GIntBig features = layer->GetFeatureCount(TRUE);
    if (features < 2 || layer->GetAttrQueryString() != nullptr) {
        return nullptr;
    }
    // Whatever the driver still holds goes to the file first.
    if (layer->SyncToDisk() != OGRERR_NONE) {
        return nullptr;
    }
    const std::string path = DbfPathOf(featureClass);
    if (path.empty()) {
        return nullptr;
    }
    VSILFILE* file = VSIFOpenL(path.c_str(), "r+b");
    if (!file) {
        return nullptr;
    }
    auto refuse = [&]() -> std::unique_ptr<ColumnStore> {
        VSIFCloseL(file);
        return nullptr;
    };

    unsigned char prefix[kDbfPrefixSize];
    if (VSIFReadL(prefix, 1, sizeof prefix, file) != sizeof prefix) {
        return refuse();
    }
    std::string header(std::max(DbfHeaderSize(prefix), kDbfPrefixSize), '\0');
    std::memcpy(header.data(), prefix, sizeof prefix);
    const std::size_t rest = header.size() - sizeof prefix;
    DbfLayout layout;
    if (VSIFReadL(header.data() + sizeof prefix, 1, rest, file) != rest ||
        !ParseDbfHeader(header, layout).empty() || layout.records != features) {
        return refuse();
    }
    const std::vector<DbfField>& table = layout.fields;
    const std::size_t headerSize = layout.headerSize;
    const std::size_t recordSize = layout.recordSize;
    const std::int64_t records = layout.records;
    if (static_cast<int>(table.size()) != defn->GetFieldCount()) {
        return refuse();
    }
    std::vector<DbfField> fields;
    for (int attr : attrs) {
        if (attr < 0 || attr >= static_cast<int>(table.size())) {
            return refuse();
        }
        const DbfField& field = table[static_cast<std::size_t>(attr)];
        const OGRFieldDefn* ogrField = defn->GetFieldDefn(attr);
        if ((field.type != 'N' && field.type != 'F') || field.size != ogrField->GetWidth() ||
            field.decimals != ogrField->GetPrecision()) {
            return refuse();
        }
        fields.push_back(field);
    }
    return std::make_unique<DbfColumnStore>(featureClass, file, headerSize, recordSize, records,
                                            std::move(fields));
}

std::unique_ptr<ColumnStore> OpenSqliteColumnStore(OgrFeatureClass& featureClass,
                                                   const std::vector<int>& attrs) {
    OGRLayer* layer = featureClass.layer();
    auto* db =
        static_cast<sqlite3*>(featureClass.source().dataset().GetInternalHandle("SQLITE_HANDLE"));
    const char* fid = layer->GetFIDColumn();
    if (!db || !fid || !*fid || attrs.empty()) {
        return nullptr;
    }
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    std::vector<std::string> columns;
    for (int attr : attrs) {
        columns.push_back(QuotedSqlName(defn->GetFieldDefn(attr)->GetNameRef()));
    }
    auto store = std::make_unique<SqliteColumnStore>(featureClass, db, columns.size());
    if (!store->prepare(QuotedSqlName(layer->GetName()), QuotedSqlName(fid), columns)) {
        return nullptr;
    }
    return store;
}

}  // namespace vark::ogr
