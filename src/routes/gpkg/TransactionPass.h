#pragma once

// The database-file route (GeoPackage, SQLite): a new double field added to
// (or an existing one overwritten in) a layer and filled inside one
// transaction of the data set, by one UPDATE on its own SQLite connection.
// Commit is the COMMIT; a pass dropped before it rolls back.

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <memory>
#include <string>

#include "host/host.h"

namespace vark::routes {

/// What the route needs of the host holding the data set.
class TransactionHost {
public:
    virtual ~TransactionHost() = default;
    /// The data set (it has transactions and an SQLite connection) and the
    /// layer.
    virtual GDALDataset& dataset() = 0;
    virtual OGRLayer& layer() = 0;
    /// The layer, for messages.
    virtual std::string describe() const = 0;
    /// Throws Failure (starting with `what`) when the data set cannot take
    /// the change now: read-only, another update in progress.
    virtual void checkWritable(const std::string& what) = 0;
    /// Adds `field` inside the transaction. Throws Failure.
    virtual void addField(const host::Field& field) = 0;
    /// The transaction has begun.
    virtual void transactionBegan() {}
    /// The transaction has ended: committed, or rolled back (or its commit
    /// failed). Never throws.
    virtual void transactionEnded(bool committed) noexcept { (void)committed; }
};

/// The pass for `field` filled from the text field `sourceName`. With
/// `mode` Overwrite the field exists already and is only filled.
std::unique_ptr<host::NewFieldPass> OpenTransactionPass(std::shared_ptr<TransactionHost> host,
                                                        host::Field field, std::string sourceName,
                                                        host::NewFieldMode mode);

/// `name` as an SQL identifier: in double quotes, a quote doubled.
std::string QuotedSqlName(const std::string& name);

}  // namespace vark::routes
