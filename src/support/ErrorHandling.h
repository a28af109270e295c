#pragma once

// The two error reports of the component:
//  - the call-stack report, for procedures the host calls directly: shown,
//    never logged;
//  - the error handler of the dialog's procedures: a report text that is
//    appended to the error log beside the library and shown.
// Every text below is byte for byte what users and log readers see; every
// line ends with CR LF.

#include <cstdint>
#include <string>

#include "support/Failure.h"

namespace vark {

// ---- Call-stack report (procedures the host calls directly)

/// "" for 0, otherwise "Line : " followed by the number in decimal.
std::string FormatErrorLine(std::int32_t line);
/// The text of the call-stack report, eleven lines each ended by CR LF:
/// the request to note the call stack, "Error Call Stack Sequence " and a
/// tab + `location`, "Error Number " and a tab + `number`, "Description" and
/// a tab + `description`, with the empty lines between.
std::string BuildCallStackReport(const std::string& location, std::int32_t number,
                                 const std::string& description);
/// Beeps and shows the call-stack report (title "Unexpected Program Error",
/// exclamation icon, OK) and returns when the user has closed it. Never
/// throws: the caller is a boundary that must return normally to the host.
void ReportError(const std::string& location, std::int32_t number,
                 const std::string& description) noexcept;

// ---- Error handler and error log (dialog procedures)

/// Builds the report text:
///   CR LF
///   <local date-time "YYYY-MM-DD hh:mm:ss"> <library base name> v<major>.<minor>.<revision> CR LF
///   Error#<number> in <where> - <procedure>[ at Line#<line>] CR LF   (the part in [] when line !=
///   0) Exe:<library folder><separator><library base name> CR LF <description> CR LF CR LF <extra>
///   CR LF
std::string BuildErrorText(const std::string& number, const std::string& description,
                           const std::string& where, const std::string& procedure,
                           std::int32_t line, const std::string& extra);
/// Appends `text` + CR LF to ErrorLogFile() (created when missing; never
/// rewritten or truncated). When that file cannot be written (a library
/// installed in a read-only folder), appends to FallbackErrorLogFile()
/// instead, creating its folder. A failure of both is ignored. Never throws.
void WriteErrorLog(const std::string& text) noexcept;
/// Critical message box with `text`, an OK button and `title`. Never throws.
void ShowError(const std::string& text, const std::string& title) noexcept;
/// The library's folder + separator + base name + ".log" (beside the
/// library: bin/VARK_fuzzy.log) where the library lives with its texts (a
/// build tree, a folder of its own); for an installed library, whose texts
/// are in the data folder, FallbackErrorLogFile(): a system folder keeps
/// no log. Computed at first use, then kept for the life of the process.
std::string ErrorLogFile();
/// The per-user log used when ErrorLogFile() cannot be written:
///   $XDG_STATE_HOME/VARK_fuzzy/VARK_fuzzy.log, or, when XDG_STATE_HOME is
///   unset or not absolute, $HOME/.local/state/VARK_fuzzy/VARK_fuzzy.log
/// ("VARK_fuzzy" being the library's base name). "" when neither variable
/// is usable. Computed at first use, then kept.
std::string FallbackErrorLogFile();

/// Module state of the error log: the two cached paths. Tests (and only
/// tests) point them elsewhere; an empty path is computed again at next use.
struct ErrorLogState {
    std::string logFile;
    std::string fallbackLogFile;
};
ErrorLogState& errorLogState();

/// Handles `error`: for number 0 returns "" and does nothing else.
/// Otherwise builds the report (where = module + "(" + source + ")"),
/// writes it to the log when `writeLog` (preceded by "(Silent Error) : "
/// when `showMessage` is not set), shows it when `showMessage` (critical
/// icon, title "Error#<number> - <source>") and returns the report without
/// the silent marker. `reserved` is not read. Never throws; the caller
/// leaves its procedure afterwards.
std::string HandleError(const Failure& error, const std::string& module,
                        const std::string& procedure, bool showMessage, std::int32_t line,
                        const std::string& extra, std::int32_t reserved, bool writeLog) noexcept;

}  // namespace vark
