#pragma once

// One open criterion file: its state, its descriptor or its workspace's
// store, and every operation on it. The fzy_io_* functions work on the
// module's own one (see FzyModule.h); a computation's run keeps one of its
// own, so that nothing of it passes through module state. The rules of the
// file (location, bytes, writes, damage) are those of fzy_io.h.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "criterion_file/FzyLayout.h"
#include "criterion_file/fzy_io.h"
#include "host/host.h"

namespace vark::fzy {

/// The whole open file and its records. `bytes` is empty when the file is
/// too long to be a criterion file (the layout says so). A missing or empty
/// file, or one shorter than a record's position whose counts are 0, reads
/// as the header it gets with its first record: mark 1 and counts 0 over
/// its first 8 bytes, its other bytes kept, zeros up to 23 bytes.
struct LoadedFile {
    std::string bytes;
    FzyLayout layout;
};

class CriterionFile {
public:
    CriterionFile() = default;
    /// Closes the file, if one is open. Never throws.
    ~CriterionFile();
    CriterionFile(const CriterionFile&) = delete;
    CriterionFile& operator=(const CriterionFile&) = delete;

    /// The state, as last loaded or written.
    const FzyFileState& state() const { return m_state; }
    /// True when a file was opened by Open and not closed since.
    bool IsOpen() const { return m_state.gFzyFile != 0; }

    // ---- Opening (CriterionFile.cpp)

    /// fzy_io_open on this object.
    std::int16_t Open(std::string& path, std::string& layerName);
    /// fzy_io_close on this object.
    std::int16_t Close();
    /// Closes the file, if any, whatever closing says, and starts again from
    /// a fresh state (counts 0, file numbers from 1).
    void Reset() noexcept;

    // ---- Writing (FzyAppend.cpp)

    /// fzy_io_addrecord on this object.
    std::int16_t AddRecord(const Kind2Record& record);
    /// FzyReplaceKind2 on this object.
    std::int16_t ReplaceKind2(const Kind2Record& record);
    /// FzyCheckAppend on this object.
    void CheckAppend(const std::string& fieldName, const std::string& alias,
                     const std::string& workspacePath, const std::string& layerName) const;

    // ---- Reading (CriterionFile.cpp, FzyDescription.cpp)

    /// fzy_io_readchars on this object.
    std::string ReadChars(std::int16_t count, std::int16_t position) const;
    /// FzyFileDamage on this object.
    std::string FileDamage() const;
    /// FzyReadDamage on this object.
    std::string ReadDamage() const;
    /// The description of the first live record of kind `kind` (1 or 2)
    /// named `fieldName` (exact comparison), as fzy_io_numberinfo (kind 2)
    /// and fzy_io_recordinfo (kind 1) give it to the description target;
    /// nullopt when there is none. Throws Failure (no file open, a damaged
    /// file); `marker` then holds the stage reached, as those functions
    /// report it.
    std::optional<std::string> DescribeRecord(int kind, const std::string& fieldName,
                                              int& marker) const;

    // ---- Maintenance (fzy_maintenance.cpp)

    /// ValidateCriterionFile on this object.
    std::int16_t Validate(const FieldExistsFn& fieldExists, const std::string& layerName,
                          const std::string& workspacePath);
    /// fzy_io_compressfzy on this object.
    void Compress(int fileNumber, const std::string& layerName, const std::string& workspacePath);

private:
    /// Throws Failure 52 unless a file is open.
    void RequireOpen() const;
    /// Throws Failure 52 when no file is open, 57 when reading fails.
    LoadedFile Load() const;
    /// Throws Failure 52 when no file is open, 70 when it was opened
    /// read-only.
    void RequireWritable() const;
    /// Replaces the open file, whole, by `bytes` (see AtomicFile.h; a
    /// symbolic link is followed and stays a link). Afterwards the object
    /// reads the new file. Throws Failure 52 (no file open), 70 (read-only)
    /// or what the replacement throws; the file is then unchanged.
    void Replace(std::string_view bytes);
    /// Throws the damaged-file Failure naming the open file and `damage`.
    [[noreturn]] void ThrowDamaged(const std::string& damage) const;
    /// Why the open file fails `usable` ("" when it passes, or none is open).
    std::string DamageUnless(bool (FzyLayout::*usable)() const) const;
    /// The open status and the counts of the header `head` (the file's
    /// first bytes): "New" and no counts for a file without records.
    void TakeHeader(const std::string& head);
    void OpenStore(std::unique_ptr<host::CriterionStore> store, const std::string& workspacePath,
                   const std::string& layerName);

    /// The file's bytes and the record to append, once everything that can
    /// be known before writing has been checked.
    struct PreparedAppend {
        LoadedFile file;
        std::string record;
    };
    PreparedAppend PrepareAppend(const Kind2Record& record) const;
    /// Appends `record` (dated now) in one replacement of the whole file,
    /// after marking deleted every live record of the field `replaced`
    /// (none when null). Returns the records marked.
    std::int16_t AppendKind2(Kind2Record record, const std::string* replaced);

    /// Throws Failure 5 unless the layer name and workspace path name the
    /// open file: a compaction writes the file the caller meant, or nothing.
    void RequireNamesOpenFile(const std::string& layerName, const std::string& workspacePath) const;
    /// Writes `f` without its deleted records over the open file; `marker`
    /// follows the stages.
    void CompactOpenFile(const LoadedFile& f, int& marker);

    FzyFileState m_state;
    /// The open file's descriptor, read-only; -1 when no file is open, when
    /// the file does not exist (yet), and after a replacement until the next
    /// read opens the new file. A read also opens the file anew when another
    /// writer (another object) replaced it since (reading opens it: hence
    /// mutable).
    mutable int m_fd = -1;
    /// Why writes are refused when m_state.readOnly is set.
    std::string m_readOnlyReason;
    int m_nextFileNumber = 1;
    /// The open file when its workspace keeps it (a database server's
    /// record, host::CriterionStore) rather than a file beside the data;
    /// with the workspace path and layer name it was opened with.
    std::unique_ptr<host::CriterionStore> m_store;
    std::string m_storeWorkspace;
    std::string m_storeLayer;
};

/// A kind-2 record of the values fzy_io_addrecord and FzyReplaceKind2 take
/// (not yet dated).
Kind2Record MakeKind2(const std::string& fieldName, const std::string& alias, std::int16_t code,
                      double Val_a, double Val_b, double Val_c, double Val_d,
                      const std::string& workspacePath, const std::string& layerName);

}  // namespace vark::fzy
