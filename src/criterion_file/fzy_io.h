#pragma once

// The criterion file of a layer (".fzy"): the fzy_io_* functions work on
// one open file at a time, the module's (an fzy::CriterionFile, see
// CriterionFile.h, which offers the same operations on a file of its own);
// header counts, kind-2 records written by this tool, kind-1 records
// written by other tools of the family; and its maintenance (records of
// fields that vanished from the layer are marked deleted, then dropped by a
// compaction).
//
// Location. FzyFilePath() names the file:
// - a workspace that is a folder (shapefiles): <folder>/<layer>.fzy;
// - a workspace that is a single database file (GeoPackage, SQLite...):
//   beside that file, named after the file and the layer,
//   <folder>/<database file name>.<layer>.fzy (roads.gpkg, layer "parcelles"
//   -> roads.gpkg.parcelles.fzy), so layers of two databases of one folder
//   never share a file;
// - a workspace that keeps its layers' criterion files itself (a database
//   server's, found live through host/common/WorkspaceRegistry.h): the same
//   bytes, read and replaced whole through its host::CriterionStore, in the
//   transaction of the run that holds the layer's lock;
// - anything else (a path that does not exist, a server connection no live
//   workspace has) has no place for the file: Failure 76 before anything is
//   written.
//
// Bytes. The layout is fixed by the family of tools (see FzyLayout.h). Texts
// are Windows-1252 on disk, UTF-8 in memory; a character outside the code
// page is written as "?", and the count written is the number of bytes.
//
// Writes. Every change of a file (an append, marking records deleted, a
// compaction) replaces it whole, atomically (AtomicFile.h): a temporary file
// ".<name>.fzy.vark-tmp-XXXXXX" beside it, flushed, renamed over it. Whatever stops the
// program, the file holds its old bytes or its new bytes. A symbolic link
// to a criterion file is followed: its target is replaced, the link stays.
// Opening and reading never write.
//
// Damaged files. A file whose header counts do not fit its bytes, with a
// negative count, or a record whose RecordLength is shorter than its frame
// or runs past the end of the file, is never written to by this module:
// fzy_io_open leaves it as it is, fzy_io_addrecord throws Failure
// kDamagedFileError (its description says how to repair the file, see
// RepairHint), and the maintenance shows its message box (number
// kDamagedFileError) and returns its default. The readers read the records
// the header counts and ignore bytes that follow the last of them; any
// other damage makes them show their message box and return false. A file
// shorter than 24 bytes cannot hold a record: it is taken as new.
//
// Threads: the user-interface thread only; no locking.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "criterion_file/FzyLayout.h"

namespace vark {

/// Where the readers put a record's description: the description window's
/// text box, or a plain buffer when there is no window.
class DescriptionTarget {
public:
    virtual ~DescriptionTarget() = default;
    /// Sets the text of the text box (creating the window if needed). UTF-8,
    /// lines ended by CR LF.
    virtual void SetInfoText(const std::string& text) = 0;
    /// Shows the window modally; returns when the user closes it.
    virtual void Show() = 0;
};

/// A target without a window: keeps the last text set, counts the shows.
/// The default target, and what a batch command installs to print the text.
class DescriptionBuffer : public DescriptionTarget {
public:
    void SetInfoText(const std::string& text) override { m_text = text; }
    void Show() override { ++m_shown; }
    const std::string& text() const { return m_text; }
    int shown() const { return m_shown; }

private:
    std::string m_text;
    int m_shown = 0;
};

/// Installs the description target (nullptr: a fresh DescriptionBuffer).
/// Returns the previous one.
std::shared_ptr<DescriptionTarget> SetDescriptionTarget(std::shared_ptr<DescriptionTarget> target);
DescriptionTarget& CurrentDescriptionTarget();

/// The module state, as last loaded or written.
struct FzyFileState {
    /// The open criterion file's number; 0 when none is open. Every open
    /// takes a new number.
    int gFzyFile = 0;
    /// "New" when fzy_io_open created the header, "Old" when it found an
    /// existing file; "" before the first open.
    std::string OpenStatus;
    std::int16_t Kind1Count = 0;
    std::int16_t Kind2Count = 0;
    std::int16_t DeletedCount = 0;
    /// Path of the open criterion file ("" when none is open).
    std::string path;
    /// The file can only be read (a read-only file, or a read-only folder,
    /// where no file can replace it): readers work, writes throw Failure 70.
    bool readOnly = false;
    /// The file is a record its workspace keeps (host::CriterionStore): its
    /// changes during a run come and go with the layer's own transaction.
    bool inWorkspace = false;
};
const FzyFileState& FzyState();
/// Closes the open file, if any, and starts from a fresh state (counts 0,
/// file numbers from 1, a DescriptionBuffer as target). For tests.
void ResetFzyState();

/// Path of the criterion file for a workspace path and a layer name (".shp"
/// already removed); see the rule at the top. Throws Failure 76 for a
/// workspace with no file-system location, 52 for an empty layer name or one
/// holding a path separator (it would put the file elsewhere).
std::string FzyFilePath(const std::string& workspacePath, const std::string& layerName);

/// The name a layer's criterion file is known by: `layerName` without any
/// ".shp", exact case (".SHP" stays), removed in one pass from the left as
/// a text replacement does ("a.s.shphp" gives "a.shp").
std::string CriterionFileLayerName(std::string layerName);

/// True when the layer has a criterion file (or, for a workspace that
/// keeps it, a record): reading, never creating. `layerName` without ".shp".
/// Throws what FzyFilePath and the store throw.
bool fzy_io_exists(const std::string& workspacePath, const std::string& layerName);

/// Removes every ".shp" from `layerName` (CriterionFileLayerName; the
/// caller's variable changes), then opens the layer's criterion file; a
/// file left open by an earlier open is closed first. Opening writes
/// nothing and creates nothing. A missing file, or one shorter than 24
/// bytes (it cannot hold a record; the family's tools leave 8-byte ones),
/// is OpenStatus "New", counts 0. Such a file gets its header with its
/// first record: mark 1 and counts 0 over its first 8 bytes, its other
/// bytes kept, zeros up to 23 bytes. Any other file: OpenStatus "Old",
/// counts loaded from its header (a damaged one included). When the file or the
/// folder it lies in is read-only, FzyState().readOnly is set. Returns 0.
/// Throws Failure: 76 (no folder for the workspace, see FzyFilePath), 52
/// (bad layer name, or something other than a regular file, a FIFO
/// included, in the file's place), 70 (permission denied), 57 (other I/O
/// errors).
std::int16_t fzy_io_open(std::string& path, std::string& layerName);
/// Closes the open file (nothing happens when none is open). Returns 1.
std::int16_t fzy_io_close();
/// Appends one kind-2 record at the end of the file (whatever OpenStatus
/// says, so several appends in one open follow one another), dated now in
/// local time, with Kind2Count + 1 in the header: one replacement of the
/// whole file (a new file gets its header with it). Checks everything
/// before writing a byte. Returns 1. Throws Failure: 52 when no file is
/// open, kDamagedFileError for a damaged file, 6 (overflow) when the record
/// would end past position 32767 (the file's end must stay a 16-bit
/// position, as the family's tools read it) or a text is longer than 32767
/// bytes, 70 for a read-only file or folder, 57 when writing fails (a full
/// disk among them); the file is then unchanged.
std::int16_t fzy_io_addrecord(const std::string& fieldName, const std::string& alias,
                              std::int16_t code, double Val_a, double Val_b, double Val_c,
                              double Val_d, const std::string& workspacePath,
                              const std::string& layerName);
/// Recomputing a criterion field: marks deleted (kind + 10, DeletedCount +
/// 1 up to 32767) every live record whose field name is `fieldName`
/// (compared as the file stores names) and appends the kind-2 record as
/// fzy_io_addrecord does, in ONE replacement of the whole file: a reader
/// sees the old records or the new one, never both, never neither. Returns
/// the number of records marked. The same checks and failures as
/// fzy_io_addrecord; the file is then unchanged.
std::int16_t FzyReplaceKind2(const std::string& fieldName, const std::string& alias,
                             std::int16_t code, double Val_a, double Val_b, double Val_c,
                             double Val_d, const std::string& workspacePath,
                             const std::string& layerName);
/// Checks, writing nothing, that fzy_io_addrecord with these texts (any
/// code and values) would succeed on the open file now: throws the Failure
/// the append would throw (52, kDamagedFileError, 6, 70), and 57 when the
/// folder has no room for the new file or a folder stands where its
/// temporary file goes. For a caller that must know before it changes
/// anything else; the append checks again.
void FzyCheckAppend(const std::string& fieldName, const std::string& alias,
                    const std::string& workspacePath, const std::string& layerName);
/// `count` bytes from 1-based `position` of the open file, decoded from
/// Windows-1252; "" for count 0. Throws Failure: 52 when no file is open,
/// 5 for a negative count or a position below 1, kDamagedFileError when the
/// bytes run past the end of the file.
std::string fzy_io_readchars(std::int16_t count, std::int16_t position);
/// Describes the first live kind-2 record named `fieldName` (exact
/// comparison) into the description target; true when one was found.
/// Reports its own failures (message box "<n>  <description>
/// fzy_io_numberinfo Debug=<marker>") and returns false then.
bool fzy_io_numberinfo(const std::string& fieldName);
/// The same for kind-1 records; false at once for an empty name. The second
/// argument plays no part.
bool fzy_io_recordinfo(const std::string& fieldName, const std::string& unused);
/// Shows the description target (the window, modally).
void fzy_io_showinfo();

/// The text of a kind-2 description, with `text` giving the texts of the
/// text store by number (147 to 156). Numbers and the date follow the
/// user's locale; the path separator is the platform's.
std::string DescribeKind2(const fzy::Kind2Record& record,
                          const std::function<std::string(int)>& text);
/// The text of a kind-1 description (T2 and T3 are not shown).
std::string DescribeKind1(const fzy::Kind1Record& record,
                          const std::function<std::string(int)>& text);

/// Why the open criterion file must not be written to: "" when it is sound
/// (or none is open). Lets a caller stop before it changes anything else.
std::string FzyFileDamage();
/// Why the readers cannot read the open criterion file: "" when its counted
/// records are all there (bytes after them are ignored), or none is open.
std::string FzyReadDamage();
/// The sentence that tells how to repair the damaged criterion file
/// `fzyPath` (English, as the failures of this module are).
std::string RepairHint(const std::string& fzyPath);

// ---- Maintenance

/// True when the first layer of the focus map named `layerName` (exact) has
/// a field named `fieldName` (exact). Also true when no layer has that name
/// or the check fails (no application, the layer is not a feature layer...):
/// a field that cannot be checked counts as present, so its record is kept.
/// A failure is shown in a message box ("... fzy_io_check Debug=<marker>").
bool fzy_io_check(const std::string& fieldName, const std::string& layerName);
/// Whether the layer still has a field of the name a record gives (decoded
/// from Windows-1252). A test that cannot tell says true, so that the
/// record is kept.
using FieldExistsFn = std::function<bool(const std::string& fieldName)>;

/// Marks deleted (kind + 10, DeletedCount + 1 up to 32767) every live
/// record of the open file whose field `fieldExists` does not find, then
/// compacts the file (as fzy_io_compressfzy with `layerName` and
/// `workspacePath`) when DeletedCount is above 0 (records marked by an
/// earlier run included). The marking is done in memory and the compaction
/// writes the result: one replacement of the whole file, none when every
/// field exists and nothing was marked before. Returns 1; on a failure (a
/// damaged file among them, a test that throws) shows its message box
/// ("... fzy_io_valid Debug=<marker>") and returns 0; a failed compaction
/// shows its own (see fzy_io_compressfzy) and the function still returns 1.
std::int16_t ValidateCriterionFile(const FieldExistsFn& fieldExists, const std::string& layerName,
                                   const std::string& workspacePath);
/// ValidateCriterionFile with fzy_io_check(name, layerName) as the test: the
/// fields of the first focus-map layer named `layerName`.
std::int16_t fzy_io_valid(const std::string& layerName, const std::string& workspacePath);
/// Rewrites the open file without its deleted records: the header bytes are
/// kept, Kind1Count becomes the number of kept kind-1 records, Kind2Count
/// the number of the other kept records (kind 2, or a kind no tool of the
/// family writes, so that the walk still reaches every record), DeletedCount
/// 0. The file is replaced whole (see Writes above); the module's open
/// file is then the compacted one, with the same number. `fileNumber` must
/// be the open file's number and the layer name and workspace path must
/// name the open file. Failures are shown in a message box ("...
/// fzy_io_compressfzy Debug=<marker>"); the criterion file is then
/// unchanged.
void fzy_io_compressfzy(int fileNumber, const std::string& layerName,
                        const std::string& workspacePath);

}  // namespace vark
