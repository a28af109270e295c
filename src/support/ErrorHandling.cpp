#include "support/ErrorHandling.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "support/LibraryInfo.h"
#include "support/UiServices.h"

namespace vark {

namespace {

namespace fs = std::filesystem;

constexpr const char* kCrLf = "\r\n";

std::string LocalDateTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return {};
    char buffer[32];
    if (std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local) == 0) return {};
    return buffer;
}

// fopen/fwrite rather than streams: every failure must be seen, so that the
// entry can go to the fallback log instead.
bool AppendToFile(const std::string& path, const std::string& data) {
    if (path.empty()) return false;
    std::FILE* f = std::fopen(path.c_str(), "ab");
    if (f == nullptr) return false;
    const bool written = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    const bool closed = std::fclose(f) == 0;
    return written && closed;
}

std::string ComputeFallbackLogFile() {
    fs::path base;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && fs::path(state).is_absolute()) {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || !fs::path(home).is_absolute()) return {};
        base = fs::path(home) / ".local" / "state";
    }
    const std::string name = LibraryBaseName();
    return (base / name / (name + ".log")).string();
}

}  // namespace

std::string FormatErrorLine(std::int32_t line) {
    if (line == 0) return {};
    return "Line : " + std::to_string(line);
}

std::string BuildCallStackReport(const std::string& location, std::int32_t number,
                                 const std::string& description) {
    const std::string crLf = kCrLf;
    return "An error has occured in the application.   Record the call stack sequence" + crLf +
           "and the description of the error." + crLf + crLf + "Error Call Stack Sequence " + crLf +
           "\t" + location + crLf + crLf + "Error Number " + crLf + "\t" + std::to_string(number) +
           crLf + "Description" + crLf + "\t" + description + crLf + crLf;
}

void ReportError(const std::string& location, std::int32_t number,
                 const std::string& description) noexcept {
    try {
        const std::string text = BuildCallStackReport(location, number, description);
        Ui().Beep();
        Ui().MsgBox(text, MsgIcon::Exclamation, MsgButtons::Ok, "Unexpected Program Error");
    } catch (...) {
    }
}

std::string BuildErrorText(const std::string& number, const std::string& description,
                           const std::string& where, const std::string& procedure,
                           std::int32_t line, const std::string& extra) {
    const LibraryVersion v = GetLibraryVersion();
    const std::string baseName = LibraryBaseName();
    std::string text = kCrLf;
    text += LocalDateTimeText() + " " + baseName + " v" + std::to_string(v.major) + "." +
            std::to_string(v.minor) + "." + std::to_string(v.revision) + kCrLf;
    text += "Error#" + number + " in " + where + " - " + procedure;
    if (line != 0) text += " at Line#" + std::to_string(line);
    text += kCrLf;
    text += "Exe:" + JoinPath(LibraryFolder(), baseName) + kCrLf;
    text += description + kCrLf;
    text += kCrLf;
    text += extra + kCrLf;
    return text;
}

ErrorLogState& errorLogState() {
    static ErrorLogState state;
    return state;
}

std::string ErrorLogFile() {
    ErrorLogState& state = errorLogState();
    if (state.logFile.empty()) {
        const std::string folder = LibraryFolder();
        std::error_code error;
        if (!fs::exists(JoinPath(folder, "text.db"), error)) {
            state.logFile = FallbackErrorLogFile();
        }
        if (state.logFile.empty()) {
            state.logFile = JoinPath(folder, LibraryBaseName() + ".log");
        }
    }
    return state.logFile;
}

std::string FallbackErrorLogFile() {
    ErrorLogState& state = errorLogState();
    if (state.fallbackLogFile.empty()) state.fallbackLogFile = ComputeFallbackLogFile();
    return state.fallbackLogFile;
}

void WriteErrorLog(const std::string& text) noexcept {
    try {
        const std::string entry = text + kCrLf;
        if (AppendToFile(ErrorLogFile(), entry)) return;
        const std::string fallback = FallbackErrorLogFile();
        if (fallback.empty()) return;
        std::error_code ec;
        fs::create_directories(fs::path(fallback).parent_path(), ec);
        AppendToFile(fallback, entry);
    } catch (...) {
    }
}

void ShowError(const std::string& text, const std::string& title) noexcept {
    try {
        Ui().MsgBox(text, MsgIcon::Critical, MsgButtons::Ok, title);
    } catch (...) {
    }
}

std::string HandleError(const Failure& error, const std::string& module,
                        const std::string& procedure, bool showMessage, std::int32_t line,
                        const std::string& extra, [[maybe_unused]] std::int32_t reserved,
                        bool writeLog) noexcept {
    if (error.number() == 0) return {};
    std::string result;
    try {
        const std::string number = std::to_string(error.number());
        std::string report =
            BuildErrorText(number, error.description(), module + "(" + error.source() + ")",
                           procedure, line, extra);
        result = report;
        if (!showMessage) report = "(Silent Error) : " + report;
        if (writeLog) WriteErrorLog(report);
        if (showMessage) ShowError(report, "Error#" + number + " - " + error.source());
    } catch (...) {
    }
    return result;
}

}  // namespace vark
