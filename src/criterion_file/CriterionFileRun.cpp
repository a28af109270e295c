#include "criterion_file/CriterionFileRun.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <unordered_set>
#include <utility>

#include "criterion_file/AtomicFile.h"
#include "criterion_file/FzyModule.h"
#include "support/Cp1252.h"
#include "support/Failure.h"

namespace vark {

namespace {

/// The marker fzy_io_check reports when a layer's fields cannot be read.
constexpr int kFieldsMarker = 2;
/// The refusals before the layer changes name the computation, which asks.
constexpr const char* kComputation = "ComputeCriterion";

/// The bytes of the file `path`, nullopt when there is none. Throws
/// Failure 57 when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        if (error) {
            throw Failure(err::kDeviceIoError,
                          "Cannot examine \"" + path + "\": " + error.message(), "fzy_io");
        }
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        throw Failure(err::kDeviceIoError, "Cannot open \"" + path + "\"", "fzy_io");
    }
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        throw Failure(err::kDeviceIoError, "Cannot read \"" + path + "\"", "fzy_io");
    }
    return bytes;
}

}  // namespace

FieldExistsFn FieldsOf(std::shared_ptr<host::FeatureClass> featureClass) {
    // Shared by the copies std::function may make of the test.
    auto stored = std::make_shared<std::optional<std::unordered_set<std::string>>>();
    return [featureClass = std::move(featureClass), stored](const std::string& fieldName) {
        if (!*stored) {
            try {
                if (!featureClass) {
                    throw Failure(err::kObjectVariableNotSet,
                                  "Object variable not set: no feature class", "fzy_io_check");
                }
                const host::Fields fields = featureClass->GetFields();
                std::unordered_set<std::string> names;
                names.reserve(static_cast<std::size_t>(fields.GetFieldCount()));
                for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
                    names.insert(EncodeCp1252(fields.GetField(i).GetFieldName()));
                }
                *stored = std::move(names);
            } catch (...) {
                fzy::ReportFzyFailure(CurrentFailure(), "fzy_io_check", kFieldsMarker);
                return true;
            }
        }
        return (*stored)->contains(EncodeCp1252(fieldName));
    };
}

CriterionFileRun::CriterionFileRun(std::string workspacePath, std::string layerName,
                                   const FieldExistsFn& fieldExists, Maintenance maintenance)
    : m_workspacePath(std::move(workspacePath)), m_layerName(std::move(layerName)) {
    m_file.Open(m_workspacePath, m_layerName);
    m_inWorkspace = m_file.state().inWorkspace;
    if (maintenance == Maintenance::kAtOpen) {
        m_file.Validate(fieldExists, m_layerName, m_workspacePath);
    } else {
        m_pendingCheck = fieldExists;
        (void)m_pendingCheck(std::string());  // the fields as they are now
    }
}

CriterionFileRun::~CriterionFileRun() {
    Close();
}

void CriterionFileRun::RequireOpen(const char* source) const {
    if (!m_file.IsOpen()) {
        throw Failure(err::kBadFileNameOrNumber,
                      "Bad file name or number: the criterion file of layer \"" + m_layerName +
                          "\" is no longer open",
                      source);
    }
}

void CriterionFileRun::RequireWritable() const {
    RequireOpen(kComputation);
    if (const std::string damage = m_file.FileDamage(); !damage.empty()) {
        throw Failure(fzy::kDamagedFileError, damage, kComputation);
    }
    if (m_file.state().readOnly) {
        throw Failure(
            err::kPermissionDenied,
            "Permission denied: the criterion file " + m_file.state().path + " is read-only",
            kComputation);
    }
}

void CriterionFileRun::RequireWritable(const std::string& fieldName) const {
    RequireWritable();
    m_file.CheckAppend(fieldName, fieldName, m_workspacePath, m_layerName);
}

void CriterionFileRun::AddTextCriterion(const std::string& fieldName) {
    WriteRecord(fieldName, false);
}

void CriterionFileRun::ReplaceTextCriterion(const std::string& fieldName) {
    WriteRecord(fieldName, true);
}

void CriterionFileRun::WriteRecord(const std::string& fieldName, bool replace) {
    RequireOpen("fzy_io");
    if (m_pendingCheck) {
        const FieldExistsFn check = std::exchange(m_pendingCheck, nullptr);
        m_file.Validate(check, m_layerName, m_workspacePath);
    }
    // A text criterion's record: alias the field's name, its code, no values.
    const fzy::Kind2Record record = fzy::MakeKind2(fieldName, fieldName, kTextCriterionCode, 0.0,
                                                   0.0, 0.0, 0.0, m_workspacePath, m_layerName);
    try {
        if (!replace) {
            m_file.AddRecord(record);
        } else if (m_inWorkspace) {
            // The workspace's transaction takes the record back with the
            // layer's change: nothing to restore here.
            m_file.ReplaceKind2(record);
        } else {
            const std::string path = fzy::FollowLinks(m_file.state().path);
            std::optional<std::string> before = ReadWholeFile(path);
            m_file.ReplaceKind2(record);
            m_replacedPath = path;
            m_bytesBefore = std::move(before);
            m_bytesAfter = ReadWholeFile(path).value_or(std::string());
        }
    } catch (...) {
        Close();
        throw;
    }
    m_file.Close();
}

void CriterionFileRun::RestoreTextCriterion() noexcept {
    if (m_replacedPath.empty()) {
        return;
    }
    try {
        if (ReadWholeFile(m_replacedPath) != m_bytesAfter) {
            return;  // someone wrote it since: theirs to keep
        }
        if (m_bytesBefore) {
            fzy::ReplaceFileWhole(m_replacedPath, *m_bytesBefore);
        } else {
            std::filesystem::remove(m_replacedPath);
        }
        m_replacedPath.clear();
    } catch (...) {
        // The file describes the field with the new date: nothing is lost.
    }
}

void CriterionFileRun::WithdrawTextCriterion(const std::string& fieldName) noexcept {
    try {
        Close();
        if (m_inWorkspace) {
            return;
        }
        std::string workspacePath = m_workspacePath;
        std::string layerName = m_layerName;
        m_file.Open(workspacePath, layerName);
        const std::string stored = EncodeCp1252(fieldName);
        m_file.Validate([&stored](const std::string& name) { return EncodeCp1252(name) != stored; },
                        layerName, workspacePath);
        m_file.Close();
    } catch (...) {
        // The record names a field that does not exist: the next run's
        // check removes it.
    }
}

void CriterionFileRun::Close() noexcept {
    try {
        m_file.Close();
    } catch (...) {
        // The failure that brought us here is the one to report.
    }
}

}  // namespace vark
