// A new field added (or an existing one overwritten) and filled as one
// change: a shapefile's table rewritten to a new file renamed over the old
// one, a GeoPackage's column added and filled in one transaction. And the
// lock that keeps two runs on one layer apart.

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <filesystem>
#include <thread>

#include "host/ogr/DbfRewrite.h"
#include "host/ogr/OgrData.h"

namespace vark::ogr {

namespace {

bool IsDbf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".dbf";
}

// The shapefile's table, rewritten whole beside the old one (DbfRewrite):
// the old table is untouched until Commit renames the new one over it.
class ShapefileNewFieldPass : public host::NewFieldPass {
public:
    ShapefileNewFieldPass(std::shared_ptr<OgrFeatureClass> featureClass, std::string name,
                          int sourceAttribute, const std::string& dbfPath, host::NewFieldMode mode)
        : m_class(std::move(featureClass)),
          m_name(std::move(name)),
          m_sourceAttribute(sourceAttribute),
          m_mode(mode),
          m_rewrite(dbfPath, EncodingOf(*m_class)) {}

    std::optional<std::string> EncodeText(std::string_view utf8) const override {
        return m_rewrite.encode(utf8);
    }

    std::int64_t Prepare(const ValueOf& valueOf) override {
        // A shapefile stores no null text: a blank one reads as "".
        const DbfRewrite::Result result = m_rewrite.prepare(
            m_name, m_sourceAttribute,
            [&valueOf](std::string_view text) { return valueOf(std::optional(text)); },
            m_mode == host::NewFieldMode::Overwrite ? DbfRewrite::Column::kOverwrite
                                                    : DbfRewrite::Column::kAdd);
        return result.records - result.deleted;
    }

    void Commit() override {
        m_rewrite.commit();
        // GDAL still reads the replaced table: open the data set again.
        m_class->source().reopen();
    }

private:
    static std::optional<std::string> EncodingOf(OgrFeatureClass& featureClass) {
        const char* encoding =
            featureClass.layer()->GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE");
        if (encoding == nullptr) {
            return std::nullopt;
        }
        return std::string(encoding);
    }

    std::shared_ptr<OgrFeatureClass> m_class;
    std::string m_name;
    int m_sourceAttribute;
    host::NewFieldMode m_mode;
    DbfRewrite m_rewrite;
};

// A database's column added (unless it is overwritten) and filled inside
// one transaction of the data set, committed by Commit and rolled back when
// the pass is dropped.
class TransactionNewFieldPass : public host::NewFieldPass {
public:
    TransactionNewFieldPass(std::shared_ptr<OgrFeatureClass> featureClass, host::Field field,
                            std::string sourceName, host::NewFieldMode mode)
        : m_class(std::move(featureClass)),
          m_field(std::move(field)),
          m_sourceName(std::move(sourceName)),
          m_mode(mode) {}

    ~TransactionNewFieldPass() override {
        if (!m_open) {
            return;
        }
        OgrSource& source = m_class->source();
        {
            GdalErrorScope scope;
            source.dataset().RollbackTransaction();
        }
        source.setInTransaction(false);
        source.setRunTransaction(false);
        try {
            // The driver keeps the rolled-back field in its own view.
            source.reopen();
        } catch (...) {
            // Nothing more can be done here; the next open sees the data.
        }
    }

    std::int64_t Prepare(const ValueOf& valueOf) override {
        OgrSource& source = m_class->source();
        const std::string what =
            "Cannot add the field " + m_field.GetFieldName() + " to " + m_class->describe();
        m_class->ensureWritable(what);
        if (source.inTransaction()) {
            throw gdalFailure(what + ": another update of the data set is in progress");
        }
        {
            GdalErrorScope scope;
            if (source.dataset().StartTransaction(FALSE) != OGRERR_NONE) {
                throw gdalFailure("Cannot start a transaction on " + m_class->describe(), scope);
            }
        }
        source.setInTransaction(true);
        source.setRunTransaction(true);
        m_open = true;

        if (m_mode == host::NewFieldMode::Add) {
            m_class->AddFieldToClass(m_field);
        }
        auto* db = static_cast<sqlite3*>(source.dataset().GetInternalHandle("SQLITE_HANDLE"));
        if (db == nullptr) {
            throw gdalFailure(what + ": the data set gives no SQLite connection");
        }
        return FillInDatabase(*db, valueOf);
    }

    void Commit() override {
        if (!m_open) {
            throw Failure(err::kInvalidProcedureCall, "Commit before Prepare", kGdalSource);
        }
        OgrSource& source = m_class->source();
        m_open = false;
        source.setInTransaction(false);
        source.setRunTransaction(false);
        GdalErrorScope scope;
        if (source.dataset().CommitTransaction() != OGRERR_NONE) {
            const Failure failure =
                gdalFailure("Cannot commit the new field of " + m_class->describe(), scope);
            try {
                source.reopen();
            } catch (...) {
            }
            throw failure;
        }
    }

private:
    /// Fills the new column by one UPDATE on the data set's own connection,
    /// inside the pass's transaction, which asks `valueOf` for each feature
    /// through a function of the connection: no feature travels through the
    /// driver.
    std::int64_t FillInDatabase(sqlite3& db, const ValueOf& valueOf) {
        OGRLayer* layer = m_class->layer();
        const std::string sql = "UPDATE " + QuotedSqlName(layer->GetName()) + " SET " +
                                QuotedSqlName(m_field.GetFieldName()) + " = vark_value(" +
                                QuotedSqlName(m_sourceName) + ")";
        struct Call {
            const ValueOf& valueOf;
            std::int64_t features = 0;
            std::exception_ptr failure;
        } call{valueOf, 0, nullptr};
        const auto function = [](sqlite3_context* context, int, sqlite3_value** args) {
            auto& c = *static_cast<Call*>(sqlite3_user_data(context));
            try {
                std::optional<double> value;
                if (sqlite3_value_type(args[0]) == SQLITE_NULL) {
                    value = c.valueOf(std::nullopt);
                } else {
                    const auto* text = sqlite3_value_text(args[0]);
                    value = c.valueOf(
                        std::string_view(reinterpret_cast<const char*>(text),
                                         static_cast<std::size_t>(sqlite3_value_bytes(args[0]))));
                }
                ++c.features;
                if (value) {
                    sqlite3_result_double(context, *value);
                } else {
                    sqlite3_result_null(context);
                }
            } catch (...) {
                c.failure = std::current_exception();
                sqlite3_result_error(context, "stopped", -1);
            }
        };
        if (sqlite3_create_function_v2(&db, "vark_value", 1, SQLITE_UTF8, &call, function, nullptr,
                                       nullptr, nullptr) != SQLITE_OK) {
            throw gdalFailure(
                "Cannot fill the field " + m_field.GetFieldName() + " of " + m_class->describe(),
                sqlite3_errmsg(&db));
        }
        const int result = sqlite3_exec(&db, sql.c_str(), nullptr, nullptr, nullptr);
        const std::string message = sqlite3_errmsg(&db);
        sqlite3_create_function_v2(&db, "vark_value", 1, SQLITE_UTF8, nullptr, nullptr, nullptr,
                                   nullptr, nullptr);
        if (call.failure) {
            std::rethrow_exception(call.failure);
        }
        if (result != SQLITE_OK) {
            throw gdalFailure("Cannot fill the field " + m_field.GetFieldName() + " of " +
                                  m_class->describe() + " (" + sql + ")",
                              message);
        }
        return call.features;
    }

    std::shared_ptr<OgrFeatureClass> m_class;
    host::Field m_field;
    std::string m_sourceName;
    host::NewFieldMode m_mode;
    bool m_open = false;
};

// An exclusive flock on a file of the data set, released when destroyed.
class FileLock : public host::UpdateLock {
public:
    explicit FileLock(int fd) : m_fd(fd) {}
    ~FileLock() override { ::close(m_fd); }

private:
    int m_fd;
};

}  // namespace

std::string QuotedSqlName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

std::string OgrFeatureClass::dbfPath() {
    std::string found;
    char** files = source().dataset().GetFileList();
    for (char** f = files; f && *f; ++f) {
        const std::filesystem::path path(*f);
        if (IsDbf(path) && path.stem().string() == m_layerName) {
            found = *f;
            break;
        }
    }
    CSLDestroy(files);
    return found;
}

std::unique_ptr<host::NewFieldPass> OgrFeatureClass::OpenNewFieldPass(const host::Field& field,
                                                                      std::int32_t sourceIndex,
                                                                      host::NewFieldMode mode) {
    if (m_source->isPostgres()) {
        return openPostgresPass(field, sourceIndex, mode);
    }
    const std::string sourceName = GetFields().GetField(sourceIndex).GetFieldName();
    if (m_source->isShapefile() && field.GetFieldType() == host::kFieldDouble) {
        const Column source = column(sourceIndex);
        const std::string dbf = dbfPath();
        if (source.kind == Column::kAttribute && !dbf.empty()) {
            if (mode == host::NewFieldMode::Add) {
                // The same checks and messages as an added field.
                newFieldDefinition(field);
            }
            return std::make_unique<ShapefileNewFieldPass>(shared_from_this(), field.GetFieldName(),
                                                           source.index, dbf, mode);
        }
    }
    if (m_source->driverName() == "GPKG" && m_source->dataset().TestCapability(ODsCTransactions)) {
        return std::make_unique<TransactionNewFieldPass>(shared_from_this(), field, sourceName,
                                                         mode);
    }
    return FeatureClassBase::OpenNewFieldPass(field, sourceIndex, mode);
}

std::unique_ptr<host::UpdateLock> OgrFeatureClass::LockForUpdate(std::int32_t waitMilliseconds) {
    if (m_source->isPostgres()) {
        return lockPostgres(waitMilliseconds);
    }
    std::error_code error;
    const std::filesystem::path file(m_source->path());
    if (!std::filesystem::is_regular_file(file, error)) {
        return std::make_unique<host::UpdateLock>();  // a server orders its own writers
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw Failure(err::kPermissionDenied,
                      "Cannot lock " + describe() + ": " + std::strerror(errno), kGdalSource);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        if ((cause != EWOULDBLOCK && cause != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            if (cause == EWOULDBLOCK || cause == EINTR) {
                throw Failure(err::kPermissionDenied,
                              "Another run is changing " + describe() +
                                  "; nothing was changed. Try again once it has finished.",
                              kGdalSource);
            }
            throw Failure(err::kPermissionDenied,
                          "Cannot lock " + describe() + ": " + std::strerror(cause), kGdalSource);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    auto lock = std::make_unique<FileLock>(fd);
    // Nobody else writes now: what a killed run left can go, and the data
    // set shows what other runs wrote since it was opened.
    if (m_source->isShapefile() && !m_source->readOnly()) {
        if (const std::string dbf = dbfPath(); !dbf.empty()) {
            DbfRewrite::RemoveLeftover(dbf);
        }
    }
    if (!m_source->inTransaction()) {
        m_source->reopen();
    }
    return lock;
}

}  // namespace vark::ogr
