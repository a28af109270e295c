#pragma once

// The criterion file of one computation, from its opening to its closing:
// opened and cleared of the records of vanished fields when the run starts,
// given the new criterion's record when the run succeeds, closed on every
// way out, exactly once. The run keeps the file open in an object of its
// own (fzy::CriterionFile): the module's open file and state
// (fzy_io_open, FzyState) play no part in it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "criterion_file/CriterionFile.h"
#include "criterion_file/fzy_io.h"
#include "host/host.h"

namespace vark {

/// The test ValidateCriterionFile needs, over the fields of `featureClass`:
/// a name is present when a field's name equals it as the criterion file
/// stores names (both encoded to Windows-1252, so a name holding a
/// character the file cannot store still finds its record). The fields are
/// read at the first question and kept. When they cannot be read the
/// failure is shown ("... fzy_io_check Debug=2") and the answer is true: a
/// field that cannot be checked keeps its record.
FieldExistsFn FieldsOf(std::shared_ptr<host::FeatureClass> featureClass);

class CriterionFileRun {
public:
    /// The code of every text criterion's record.
    static constexpr std::int16_t kTextCriterionCode = 999;

    /// When the records of fields that no longer exist are removed.
    enum class Maintenance {
        kAtOpen,         ///< at once, as the criterion file is opened
        kBeforeWriting,  ///< just before the run's record is written: a run
                         ///< refused before that changes no file at all
    };

    /// Opens the criterion file of `layerName` in `workspacePath` (as
    /// fzy_io_open does: nothing is written yet, ".shp" removed from the name),
    /// then validates it (ValidateCriterionFile with `fieldExists`, which
    /// reports its own failures) at the moment `maintenance` says. With
    /// kBeforeWriting the fields are asked about at once (FieldsOf keeps its
    /// first answer): the check sees the layer as it was before the run
    /// changed it. Throws fzy_io_open's failures; nothing is open then.
    CriterionFileRun(std::string workspacePath, std::string layerName,
                     const FieldExistsFn& fieldExists,
                     Maintenance maintenance = Maintenance::kAtOpen);
    /// Closes the file unless AddTextCriterion already did. Never throws.
    ~CriterionFileRun();
    CriterionFileRun(const CriterionFileRun&) = delete;
    CriterionFileRun& operator=(const CriterionFileRun&) = delete;

    const std::string& workspacePath() const { return m_workspacePath; }
    /// The layer name as the file knows it (".shp" removed).
    const std::string& layerName() const { return m_layerName; }
    /// The state of the run's file (path "" once closed).
    const FzyFileState& state() const { return m_file.state(); }

    /// Throws Failure when the record could not be appended: the file is
    /// damaged (fzy::kDamagedFileError), read-only (70), or no longer open
    /// (52). Lets the run stop before it changes the layer.
    void RequireWritable() const;
    /// The same, and every other failure the append of the record of
    /// `fieldName` can be known to meet beforehand (FzyCheckAppend: the
    /// 16-bit size of the file, the room on disk).
    void RequireWritable(const std::string& fieldName) const;
    /// Appends the kind-2 record of the text criterion `fieldName` (alias
    /// the same, code 999, values 0, this run's workspace path and layer
    /// name; as fzy_io_addrecord), after the check that kBeforeWriting put
    /// off, then closes the file. Throws
    /// fzy_io_addrecord's and fzy_io_close's failures; the file is closed
    /// all the same.
    void AddTextCriterion(const std::string& fieldName);

    /// Recomputing the criterion `fieldName`: its old records marked
    /// deleted and its new kind-2 record appended (as AddTextCriterion) in
    /// one replacement of the file (FzyReplaceKind2), whose bytes before are
    /// kept for RestoreTextCriterion; then closes the file. Throws the
    /// failures of FzyReplaceKind2 and fzy_io_close; the file is closed all
    /// the same.
    void ReplaceTextCriterion(const std::string& fieldName);
    /// Puts back the bytes the file held before ReplaceTextCriterion (or
    /// removes the file it created), after the layer's change failed, so
    /// that the file describes the field the layer still has. Only when the
    /// file still holds what ReplaceTextCriterion wrote. Best effort (the old
    /// and the new record differ by their date only). Never throws.
    void RestoreTextCriterion() noexcept;

    /// Takes back the records of `fieldName` after the layer's change
    /// failed, so that the file names no field the layer lacks: the file is
    /// opened again and checked with that field counted as absent. Best
    /// effort: what it cannot remove, the next run's check does. Nothing
    /// for a record its workspace keeps: the failed change took it back
    /// with it, and one whose commit merely went unanswered must stay.
    /// Never throws.
    void WithdrawTextCriterion(const std::string& fieldName) noexcept;

private:
    /// Throws Failure 52, from `source`, unless the run's file is open.
    void RequireOpen(const char* source) const;
    void Close() noexcept;
    /// Appends the record of `fieldName` (as fzy_io_addrecord), or with
    /// `replace` replaces its records by it (as FzyReplaceKind2, the bytes
    /// before kept for RestoreTextCriterion), then closes the file.
    void WriteRecord(const std::string& fieldName, bool replace);

    std::string m_workspacePath;
    std::string m_layerName;
    /// The run's file: open from the constructor to the record's write (or
    /// the end of the run), and again while WithdrawTextCriterion works.
    fzy::CriterionFile m_file;
    /// What ReplaceTextCriterion replaced, for RestoreTextCriterion: the
    /// file (links followed), its bytes before (nullopt: there was none) and
    /// after.
    std::string m_replacedPath;
    std::optional<std::string> m_bytesBefore;
    std::string m_bytesAfter;
    /// The record lives in the workspace (FzyFileState::inWorkspace).
    bool m_inWorkspace = false;
    /// The check kBeforeWriting put off, until it is done.
    FieldExistsFn m_pendingCheck;
};

}  // namespace vark
