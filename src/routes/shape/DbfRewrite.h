#pragma once

// A shapefile's dBASE table given one more double field in a single pass:
// the table is read once and written once, whole, to a new file beside it,
// which then replaces it by a rename. The header's layout and the number
// format are in DbfLayout.h.
//
// The bytes written are those the shapefile driver writes when it adds the
// same field (OGRFieldDefn(name, OFTReal): type 'N', width 24, precision 15)
// and then stores every feature's value: its header (version 3, the date of
// the change in UTC, the other reserved bytes 0, the code page byte kept),
// the other fields' descriptors and bytes unchanged, deletion flags kept,
// the end-of-file mark 0x1A.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "routes/shape/DbfLayout.h"
#include "support/OwnTemporary.h"

struct stat;

namespace vark::routes {

/// Adds a double field to the dBASE table of a shapefile and fills every
/// record's value, writing a new table beside the old one.
///
///     DbfRewrite rewrite(dbfPath);                 // reads and checks the header
///     auto degree = rewrite.encode("Forêt");       // graded values, once
///     rewrite.prepare("FZY_NATURE", source, valueOf);  // new table written, flushed
///     ... make the criterion record durable ...
///     rewrite.commit();                            // renamed over the old table
///
/// Dropping the object without commit() removes the new file. Only the
/// .dbf is replaced: .shp, .shx, .prj and .cpg are never touched. GDAL data
/// sets that have the table open keep reading the old file after commit():
/// the caller reopens them. One run at a time per table is the caller's
/// business (a lock); without it, commit() still refuses a table that was
/// replaced or written meanwhile, and a temporary file of another run is
/// never removed (prepare() then refuses).
///
/// A symbolic link is followed: its target is replaced, the link stays.
class DbfRewrite {
public:
    /// What prepare() does with the field it is given.
    enum class Column {
        kAdd,        ///< a new double field after the others
        kOverwrite,  ///< the existing number field of that name, written in place
    };

    /// What prepare() wrote.
    struct Result {
        std::int64_t records = 0;  ///< records in the new table
        std::int64_t deleted = 0;  ///< among them, records flagged deleted
    };

    /// Gives the value of a record from its source text: the field's bytes
    /// as GDAL reads them (up to the first NUL byte, without leading and
    /// trailing blanks), in the table's encoding (encode()). GDAL reports an
    /// empty text as null; the adapter reads it as "". Called once per
    /// record that is not flagged deleted, in record order.
    /// nullopt leaves the record's new value unset ('*' in every byte, as
    /// the driver leaves a new field).
    using ValueOf = std::function<std::optional<double>(std::string_view text)>;

    /// Opens the table at `dbfPath` and checks it: a regular file (not a
    /// FIFO, not a folder), a sound header, and a size that matches the
    /// number of records the header counts. `encoding`: the one GDAL uses for
    /// the table, as a layer that has it open tells it (its metadata item
    /// SOURCE_ENCODING of domain SHAPEFILE); when not given, the table is
    /// opened through GDAL once more to ask (which costs the reading of the
    /// .shx index). Throws Failure naming the cause.
    explicit DbfRewrite(const std::string& dbfPath,
                        std::optional<std::string> encoding = std::nullopt);
    ~DbfRewrite();
    DbfRewrite(const DbfRewrite&) = delete;
    DbfRewrite& operator=(const DbfRewrite&) = delete;

    /// The table's file (a symbolic link resolved).
    const std::string& path() const { return m_path; }
    /// Where the new table is written once prepare() has begun: a name of
    /// the tool's own beside the table (support/OwnTemporary.h); "" before.
    const std::string& temporaryPath() const { return m_temporaryPath; }
    const DbfLayout& layout() const { return m_layout; }

    /// The encoding in which GDAL reads and writes this table's texts and
    /// field names: from the .cpg, else from the code page byte (0x57 read
    /// as Windows-1252, as the adapter opens it: ShapeEncoding.h), else
    /// GDAL's default (SHAPE_ENCODING honoured). "" means bytes are taken as
    /// they are.
    const std::string& encoding() const { return m_encoding; }
    /// `utf8` in the table's encoding; nullopt when a character of it has no
    /// code there (such a text matches no record).
    std::optional<std::string> encode(std::string_view utf8) const;
    /// The index of the field named `utf8Name` (exact comparison), or -1.
    int fieldIndex(std::string_view utf8Name) const;

    /// Throws Failure when a field named `utf8Name` cannot be added: empty,
    /// not encodable, longer than 10 bytes in the table's encoding (the
    /// driver would shorten it), already present (without regard to case,
    /// as the driver compares), or a record or header that would outgrow
    /// dBASE's 16-bit sizes.
    void checkNewField(std::string_view utf8Name) const;

    /// Checks the new field (checkNewField) and the room on disk, then
    /// writes the complete new table to temporaryPath(), created exclusively
    /// with the table's mode, and flushes it to disk. `sourceField` is the
    /// index of the field whose text valueOf() receives. Reads the table
    /// once in large buffers; one system call per buffer. Throws Failure on
    /// any failure (including a value too wide for the field, and whatever
    /// valueOf throws), after removing the temporary file; the table is
    /// never written. Call at most once.
    /// With kOverwrite, the field named `utf8Name` must be a number field
    /// ('N' or 'F') of the table (exact name): the header is kept but for
    /// the date of the change, every other byte of a record stays, records
    /// flagged deleted are copied as they are, and each value is written
    /// with the field's own size and decimals ('*' in every byte for
    /// nullopt, as the driver writes a null number).
    Result prepare(std::string_view utf8Name, int sourceField, const ValueOf& valueOf,
                   Column column = Column::kAdd);

    /// Renames the new table over the old one and flushes the folder. Refuses
    /// (Failure, temporary file removed) when prepare() did not succeed or
    /// the table or the new file changed since.
    void commit();

    /// Removes the temporary tables killed runs left beside `dbfPath` (its
    /// link resolved, as the constructor does): only files of the tool's
    /// own name that no live run holds. Called under the layer's lock. Never
    /// throws: a leftover that cannot be removed stays, and the next table
    /// takes another name.
    static void RemoveLeftover(const std::string& dbfPath);

    /// Removes the new table if it was not committed. Never throws.
    void abandon() noexcept;

private:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modifiedNs = 0;
    };
    static Identity identityOf(const struct stat& st);
    void checkUnchanged() const;

    std::string m_path;
    std::string m_temporaryPath;
    TemporaryLock m_temporaryLock;
    std::string m_encoding;
    DbfLayout m_layout;
    int m_fd = -1;
    Identity m_table;
    Identity m_written;
    mode_t m_mode = 0;
    uid_t m_owner = 0;
    gid_t m_group = 0;
    bool m_prepared = false;
    bool m_temporaryExists = false;
};

}  // namespace vark::routes
