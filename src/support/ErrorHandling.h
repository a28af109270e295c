#pragma once

#include <cstdint>
#include <string>

#include "support/Failure.h"

namespace vark {

// ---- Call-stack report (procedures the host calls directly)

/// "" for 0, otherwise "Line : " followed by the number.
std::string FormatErrorLine(std::int32_t line);
/// The text of the call-stack report (every line ended by CR LF).
std::string BuildCallStackReport(const std::string& location, std::int32_t number,
                                 const std::string& description);
/// Beeps and shows the call-stack report ("Unexpected Program Error",
/// exclamation icon, OK). Never throws.
void ReportError(const std::string& location, std::int32_t number,
                 const std::string& description) noexcept;

// ---- Error handler and error log (dialog procedures)

/// Builds the report text: leading CR LF, date line, "Error#" line, "Exe:"
/// line, description, empty line, extra text; each line ended by CR LF.
std::string BuildErrorText(const std::string& number, const std::string& description,
                           const std::string& where, const std::string& procedure,
                           std::int32_t line, const std::string& extra);
/// Appends `text` + CR LF to the error log. When the log beside the library
/// cannot be written, appends to the per-user fallback log instead.
void WriteErrorLog(const std::string& text) noexcept;
/// Critical message box with `text` and `title`. Never throws.
void ShowError(const std::string& text, const std::string& title) noexcept;
/// The library's folder + separator + base name + ".log"; computed once.
std::string ErrorLogFile();
/// The per-user log used when ErrorLogFile() cannot be written.
std::string FallbackErrorLogFile();

/// Handles `error`: builds the report, logs it (writeLog), shows it
/// (showMessage, title "Error#<n> - <source>") and returns it. Returns ""
/// and does nothing for number 0. Never throws.
std::string HandleError(const Failure& error, const std::string& module,
                        const std::string& procedure, bool showMessage, std::int32_t line,
                        const std::string& extra, std::int32_t reserved, bool writeLog) noexcept;

}  // namespace vark
