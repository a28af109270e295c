#pragma once

// Grades files: a list of graded entries kept on disk so that a
// classification can be reused, by the dialog's graded list (save, load)
// and by vark-fuzzy compute --grades. One entry VALUE->GRADE per line,
// UTF-8, lines ended by LF (CR LF read too).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vark {

/// What is wrong with a graded entry read from a file or a command line, or
/// nullopt when it is one: the value (any text, "->" included, possibly
/// empty), "->" and one grade digit 0 to 6, the whole UTF-8.
std::optional<std::string> GradedEntryProblem(std::string_view entry);

/// The entries of a grades file's content: lines ended by LF or CR LF (the
/// last one may lack it), empty lines skipped, a UTF-8 byte-order mark at
/// the start ignored. Throws Failure 13 (type mismatch) naming
/// "<fileName>:<line>" and the problem at the first line that is no entry.
std::vector<std::string> ParseGradesText(std::string_view content, const std::string& fileName);

/// Reads and parses the grades file `path`. Throws Failure 53 when there is
/// no such file, 57 when it cannot be read, 13 as ParseGradesText.
std::vector<std::string> ReadGradesFile(const std::string& path);

/// The content of a grades file holding `entries`: each followed by LF.
std::string GradesText(const std::vector<std::string>& entries);

/// Writes `entries` to `path` whole or not at all: a temporary file beside
/// it, flushed and renamed over it (an existing file is replaced). Throws
/// Failure (70, 76, 57) with the file untouched.
void WriteGradesFile(const std::string& path, const std::vector<std::string>& entries);

}  // namespace vark
