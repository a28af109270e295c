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
#include "support/Failure.h"

namespace vark::fzy {

struct FzyModule {
    FzyFileState state;
    int fd = -1;
    int nextFileNumber = 1;
    std::shared_ptr<DescriptionTarget> target;
};

/// The one module state, created on first use.
FzyModule& Module();

/// The whole open file and its records. `bytes` is empty when the file is
/// too long to be a criterion file (the layout says so). An empty file, or
/// one shorter than a header whose counts are 0, reads as a bare header.
struct LoadedFile {
    std::string bytes;
    FzyLayout layout;
};
/// Throws Failure 52 when no file is open, 57 when reading fails.
LoadedFile LoadOpenFile();

/// Throws Failure 52 when no file is open, 70 when it was opened read-only.
void RequireWritable();

/// Writes `bytes` at `offset` of the open file. Throws Failure 52 (no file
/// open), 70 (opened read-only) or 57.
void WriteAt(std::size_t offset, std::string_view bytes);

/// Throws the damaged-file Failure naming the open file and `damage`.
[[noreturn]] void ThrowDamaged(const std::string& damage);

/// Failure for a failed system call on `path`, from errno: 76 for a missing
/// file or folder, 70 for a refused access, 57 otherwise.
Failure SystemFailure(const std::string& what, const std::string& path, int error);

/// Shows "<number>  <description> <procedure> Debug=<marker>" in a message
/// box with OK, no icon and no title. Never throws.
void ReportFzyFailure(const Failure& failure, const char* procedure, int marker) noexcept;

}  // namespace vark::fzy
