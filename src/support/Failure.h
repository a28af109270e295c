#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vark {

/// The one exception type of the component: a numbered failure with a
/// description and the name of its source, as every handler reports it.
/// Number 0 means "no failure" and is never thrown.
class Failure : public std::exception {
public:
    Failure(std::int32_t number, std::string description, std::string source = {})
        : m_number(number), m_description(std::move(description)), m_source(std::move(source)) {}

    std::int32_t number() const noexcept { return m_number; }
    const std::string& description() const noexcept { return m_description; }
    const std::string& source() const noexcept { return m_source; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    std::int32_t m_number;
    std::string m_description;
    std::string m_source;
};

/// Numbers used when a failure has no number of its own. They follow the
/// numbering of the runtime the component's peers were written for, so that
/// reports and logs read the same across the family of tools.
namespace err {
constexpr std::int32_t kSubscriptOutOfRange = 9;
/// The user stopped the work (Ctrl-C, a termination signal, a cancel).
constexpr std::int32_t kUserInterrupt = 18;
constexpr std::int32_t kOverflow = 6;
constexpr std::int32_t kFileNotFound = 53;
constexpr std::int32_t kBadFileNameOrNumber = 52;
constexpr std::int32_t kPathNotFound = 76;
constexpr std::int32_t kPermissionDenied = 70;
constexpr std::int32_t kDeviceIoError = 57;
constexpr std::int32_t kObjectVariableNotSet = 91;
constexpr std::int32_t kTypeMismatch = 13;
constexpr std::int32_t kInvalidProcedureCall = 5;
constexpr std::int32_t kInvalidUseOfNull = 94;
/// A file that is not of the format it should be (a recipe file).
constexpr std::int32_t kInvalidFileFormat = 321;
/// Base of object-defined failures; host adapters add their own offsets.
constexpr std::int32_t kObjectError = -2147221504;
/// Failures raised by a host adapter (GDAL, QGIS, ...): kObjectError + 2000.
constexpr std::int32_t kHostFailure = kObjectError + 2000;
/// A C++ exception that was not a Failure, caught at a boundary.
constexpr std::int32_t kUnexpected = 440;
/// Source of failures that have no more specific source (runtime-style
/// failures such as kOverflow, and exceptions turned into failures).
inline constexpr const char* kRuntimeSource = "VARK_fuzzy";
}  // namespace err

/// The number of a failed file operation of the system (an errno value):
/// kPathNotFound for a missing file or folder, kPermissionDenied for a
/// refused access or a read-only file system, kDeviceIoError for anything
/// else (a full disk included).
std::int32_t FileErrorNumber(int error);

/// Turns whatever is in flight inside a catch block into a Failure, so that
/// boundaries report any exception with a number, a description and a source:
/// a Failure as it is; any other std::exception as kUnexpected with its
/// what() ("Out of memory" for std::bad_alloc); anything else, or nothing in
/// flight, as kUnexpected "Unknown error". The source of the last three is
/// err::kRuntimeSource.
Failure CurrentFailure();

}  // namespace vark
