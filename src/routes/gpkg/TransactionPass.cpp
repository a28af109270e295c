#include "routes/gpkg/TransactionPass.h"

#include <sqlite3.h>

#include <exception>

#include "routes/file/GdalErrors.h"
#include "routes/gpkg/GpkgRecipes.h"
#include "support/SqlText.h"

namespace vark::routes {

namespace {

class TransactionPass : public host::NewFieldPass {
public:
    TransactionPass(std::shared_ptr<TransactionHost> host, host::Field field,
                    std::string sourceName, host::NewFieldMode mode)
        : m_host(std::move(host)),
          m_field(std::move(field)),
          m_sourceName(std::move(sourceName)),
          m_mode(mode) {}

    ~TransactionPass() override {
        if (!m_open) {
            return;
        }
        {
            GdalErrorScope scope;
            m_host->dataset().RollbackTransaction();
        }
        m_host->transactionEnded(false);
    }

    std::int64_t Prepare(const ValueOf& valueOf) override {
        const std::string what =
            "Cannot add the field " + m_field.GetFieldName() + " to " + m_host->describe();
        m_host->checkWritable(what);
        {
            GdalErrorScope scope;
            if (m_host->dataset().StartTransaction(FALSE) != OGRERR_NONE) {
                throw gdalFailure("Cannot start a transaction on " + m_host->describe(), scope);
            }
        }
        m_open = true;
        m_host->transactionBegan();

        if (m_mode == host::NewFieldMode::Add) {
            m_host->addField(m_field);
        }
        auto* db = static_cast<sqlite3*>(m_host->dataset().GetInternalHandle("SQLITE_HANDLE"));
        if (db == nullptr) {
            throw gdalFailure(what + ": the data set gives no SQLite connection");
        }
        return FillInDatabase(*db, valueOf);
    }

    bool StoreRecipe(const std::string& json, const std::string&) override {
        GDALDriver* driver = m_host->dataset().GetDriver();
        if (!m_open || driver == nullptr || std::string(driver->GetDescription()) != "GPKG") {
            return false;
        }
        auto* db = static_cast<sqlite3*>(m_host->dataset().GetInternalHandle("SQLITE_HANDLE"));
        if (db == nullptr) {
            return false;
        }
        StoreGpkgRecipe(
            *db, m_host->layer().GetName(), m_field.GetFieldName(), json,
            "Cannot keep the recipe of " + m_field.GetFieldName() + " in " + m_host->describe());
        return true;
    }

    void Commit() override {
        if (!m_open) {
            throw Failure(err::kInvalidProcedureCall, "Commit before Prepare", kGdalSource);
        }
        m_open = false;
        GdalErrorScope scope;
        const bool committed = m_host->dataset().CommitTransaction() == OGRERR_NONE;
        m_host->transactionEnded(committed);
        if (!committed) {
            throw gdalFailure("Cannot commit the new field of " + m_host->describe(), scope);
        }
    }

private:
    /// Fills the new column by one UPDATE on the data set's own connection,
    /// inside the pass's transaction, which asks `valueOf` for each feature
    /// through a function of the connection: no feature travels through the
    /// driver.
    std::int64_t FillInDatabase(sqlite3& db, const ValueOf& valueOf) {
        OGRLayer* layer = &m_host->layer();
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
                "Cannot fill the field " + m_field.GetFieldName() + " of " + m_host->describe(),
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
                                  m_host->describe() + " (" + sql + ")",
                              message);
        }
        return call.features;
    }

    std::shared_ptr<TransactionHost> m_host;
    host::Field m_field;
    std::string m_sourceName;
    host::NewFieldMode m_mode;
    bool m_open = false;
};

}  // namespace

std::unique_ptr<host::NewFieldPass> OpenTransactionPass(std::shared_ptr<TransactionHost> host,
                                                        host::Field field, std::string sourceName,
                                                        host::NewFieldMode mode) {
    return std::make_unique<TransactionPass>(std::move(host), std::move(field),
                                             std::move(sourceName), mode);
}

std::string QuotedSqlName(const std::string& name) {
    return QuotedIdentifier(name);
}

}  // namespace vark::routes
