#pragma once

// Inside of the criterion file module, shared by the reader/writer and the
// maintenance: the module state with the open file's descriptor, and the
// helpers that read, write and report on that file. Not for other modules.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "criterion_file/FzyLayout.h"
#include "criterion_file/fzy_io.h"
#include "host/host.h"
#include "support/Failure.h"

namespace vark::fzy {

struct FzyModule {
    FzyFileState state;
    /// The open file's descriptor, read-only; -1 when no file is open, when
    /// the file does not exist (yet), and after a replacement until the next
    /// read opens the new file.
    int fd = -1;
    /// Why writes are refused when state.readOnly is set.
    std::string readOnlyReason;
    int nextFileNumber = 1;
    std::shared_ptr<DescriptionTarget> target;
    /// The open file when its workspace keeps it (a database server's
    /// record, host::CriterionStore) rather than a file beside the data;
    /// with the workspace path and layer name it was opened with.
    std::unique_ptr<host::CriterionStore> store;
    std::string storeWorkspace;
    std::string storeLayer;
};

/// The one module state, created on first use.
FzyModule& Module();

/// True when a file was opened by fzy_io_open and not closed since.
bool IsOpen();

/// The whole open file and its records. `bytes` is empty when the file is
/// too long to be a criterion file (the layout says so). A missing or empty
/// file, or one shorter than a record's position whose counts are 0, reads
/// as the header it gets with its first record: mark 1 and counts 0 over
/// its first 8 bytes, its other bytes kept, zeros up to 23 bytes.
struct LoadedFile {
    std::string bytes;
    FzyLayout layout;
};
/// Throws Failure 52 when no file is open, 57 when reading fails.
LoadedFile LoadOpenFile();

/// Throws Failure 52 when no file is open, 70 when it was opened read-only.
void RequireWritable();

/// Replaces the open file, whole, by `bytes` (see AtomicFile.h; a symbolic
/// link is followed and stays a link). Afterwards the module reads the new
/// file. Throws Failure 52 (no file open), 70 (read-only) or what the
/// replacement throws; the file is then unchanged.
void ReplaceOpenFile(std::string_view bytes);

/// Throws the damaged-file Failure naming the open file and `damage`.
[[noreturn]] void ThrowDamaged(const std::string& damage);

/// Failure for a failed system call on `path`, from errno: 76 for a missing
/// file or folder, 70 for a refused access, 57 otherwise.
Failure SystemFailure(const std::string& what, const std::string& path, int error);

/// Shows "<number>  <description> <procedure> Debug=<marker>" in a message
/// box with OK, no icon and no title. Never throws.
void ReportFzyFailure(const Failure& failure, const char* procedure, int marker) noexcept;

}  // namespace vark::fzy
