#pragma once

// How a new field and its values reach a feature class's storage: the pass
// that writes them, the lock that keeps runs apart, and the routes an
// adapter can serve. Part of the host interface (host.h); no GDAL, Qt or
// SQLite type may appear here.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vark::host {

/// The ways a new field and its values can reach a feature class's storage.
/// An adapter says which it can serve for a class
/// (FeatureClass::GetWriteRoutes); the criterion module picks one.
enum class WriteRoute : std::int32_t {
    /// The host's update cursor, flushed at the end (whole or absent only
    /// where the format rolls back).
    kCursor,
    /// The host's own edit buffer, committed as one change.
    kEditBuffer,
    /// A shapefile's table written to a new file renamed over the old one.
    kShapefileTable,
    /// A GeoPackage or SQLite file: the column and its values in one
    /// transaction.
    kFileTransaction,
    /// A database server's table, computed in the server in one
    /// transaction with the criterion record.
    kServerTable,
};

/// Keeps the runs that change a feature class apart: while one lives, no
/// other run (in this process or another) gets one for the same data.
class UpdateLock {
public:
    virtual ~UpdateLock() = default;
};

/// A new double field added to a feature class and filled by one pass over
/// its features, in two steps: Prepare writes everything where nobody sees
/// it yet, Commit makes the field and its values part of the class at once.
/// Dropped before Commit, the pass leaves the class as it was, where the
/// format allows it (a shapefile's table is written to a new file renamed
/// over the old one; a database adds the column in the pass's transaction);
/// elsewhere the field stays and the values stored so far are kept or
/// rolled back as the format does.
class NewFieldPass {
public:
    virtual ~NewFieldPass() = default;
    /// The value of one feature from the text of its source field (nullopt
    /// for a null), as EncodeText gives texts; nullopt leaves the new field
    /// unset for that feature (null, as a field just added holds it, also
    /// when the pass overwrites an existing field).
    using ValueOf = std::function<std::optional<double>(std::optional<std::string_view> text)>;
    /// `utf8` in the encoding in which Prepare hands the source texts to
    /// its function (the layer's own); nullopt when the layer cannot hold
    /// it, so that no feature has it. For a class of undeclared encoding
    /// `utf8` is a text as its rows hand it, the layer's own bytes.
    virtual std::optional<std::string> EncodeText(std::string_view utf8) const {
        return std::string(utf8);
    }
    /// Adds the field and stores every feature's value (`valueOf`, called
    /// once per feature in the layer's order), flushed but not yet part of
    /// the class. Returns the features written. Throws Failure, and what
    /// `valueOf` throws. Call once.
    virtual std::int64_t Prepare(const ValueOf& valueOf) = 0;

    /// The new field as graded text values give it: a feature whose source
    /// text equals an entry's text exactly (bytes as EncodeText gives them;
    /// the first such entry in list order) gets the entry's degree; any
    /// other, a null included, gets `otherwise`.
    struct GradedColumn {
        struct Entry {
            std::string text;
            double degree = 0;
        };
        std::vector<Entry> entries;
        double otherwise = 0;
    };
    /// Features per outcome of a graded pass.
    struct GradedCounts {
        std::int64_t features = 0;
        /// Per entry of the column, in its order (0 for one shadowed by an
        /// earlier entry of the same text).
        std::vector<std::int64_t> entries;
        /// Features given `otherwise`: a text no entry has, an empty
        /// text, a null.
        std::int64_t unlisted = 0;
        std::int64_t empty = 0;
        std::int64_t null = 0;
    };
    /// Prepare for a graded column, where the host computes the values
    /// itself without handing each feature to the caller (a database server
    /// running one statement). With no entries the new field is left as the
    /// host initialises it. nullopt when the host cannot: then nothing was
    /// done and the caller calls Prepare. Call once, instead of Prepare.
    /// Throws Failure.
    virtual std::optional<GradedCounts> PrepareGraded(const GradedColumn& column) {
        (void)column;
        return std::nullopt;
    }
    /// Keeps `json`, the recipe of the field this pass makes, in the class's
    /// own data store as part of the pass's change (whole with the field or
    /// not at all), replacing an earlier recipe of that field and dropping
    /// those of columns the table no longer has. False when the store has no
    /// place for recipes: the caller keeps it elsewhere. `summary`: the
    /// recipe in one line, for a store that shows a column's comment. After
    /// Prepare, before Commit. Throws Failure.
    virtual bool StoreRecipe(const std::string& json, const std::string& summary) {
        (void)json;
        (void)summary;
        return false;
    }
    /// Makes the field part of the class. Throws Failure; after Prepare only.
    virtual void Commit() = 0;
};

/// What a NewFieldPass does with the field it is given.
enum class NewFieldMode : std::int32_t {
    /// The field is new: the pass adds it (its name must be free).
    Add,
    /// The class has a double field of that name already: the field keeps
    /// its place and its definition, and every feature's value in it is
    /// replaced (recomputing a criterion). A pass that adds columns skips
    /// that step.
    Overwrite,
};

}  // namespace vark::host
