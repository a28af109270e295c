// The module's functions: where a layer's criterion file lies, and the
// fzy_io_* operations on the module's own open file (FzyModule.h).

#include "criterion_file/fzy_io.h"

#include <filesystem>

#include "criterion_file/AtomicFile.h"
#include "criterion_file/FzyModule.h"
#include "host/common/WorkspaceRegistry.h"

namespace vark {

namespace fs = std::filesystem;
using namespace fzy;

namespace fzy {

FzyModule& Module() {
    static FzyModule module;
    if (!module.target) {
        module.target = std::make_shared<DescriptionBuffer>();
    }
    return module;
}

std::unique_ptr<host::CriterionStore> StoreOf(const std::string& workspacePath,
                                              const std::string& layerName) {
    if (const auto workspace = host::common::FindWorkspace(workspacePath)) {
        return workspace->OpenCriterionStore(layerName);
    }
    return nullptr;
}

}  // namespace fzy

std::string CriterionFileLayerName(std::string layerName) {
    // One pass, left to right, without looking again at what the removal
    // joined: "a.s.shphp" gives "a.shp", as a text replacement does.
    static constexpr std::string_view kShp = ".shp";
    std::string out;
    out.reserve(layerName.size());
    std::size_t from = 0;
    for (std::size_t at = layerName.find(kShp); at != std::string::npos;
         at = layerName.find(kShp, from)) {
        out.append(layerName, from, at - from);
        from = at + kShp.size();
    }
    out.append(layerName, from, std::string::npos);
    return out;
}

std::string FzyFilePath(const std::string& workspacePath, const std::string& layerName) {
    if (layerName.empty() || layerName.find('/') != std::string::npos ||
        layerName.find('\0') != std::string::npos ||
        (fs::path::preferred_separator != '/' &&
         layerName.find(static_cast<char>(fs::path::preferred_separator)) != std::string::npos)) {
        throw Failure(
            err::kBadFileNameOrNumber,
            "Bad file name: the layer name \"" + layerName + "\" cannot name a criterion file",
            "fzy_io");
    }
    std::error_code ec;
    const fs::path workspace(workspacePath);
    const fs::file_status status =
        workspacePath.empty() ? fs::file_status{} : fs::status(workspace, ec);
    if (fs::is_directory(status)) {
        return (workspace / (layerName + ".fzy")).string();
    }
    if (fs::is_regular_file(status)) {
        return (fs::path(FolderOf(workspacePath)) /
                (workspace.filename().string() + "." + layerName + ".fzy"))
            .string();
    }
    throw Failure(err::kPathNotFound,
                  "Path not found: the workspace \"" + workspacePath + "\" of layer \"" +
                      layerName +
                      "\" is neither a folder nor a database file on this computer, so its "
                      "criterion file has no place to go",
                  "fzy_io");
}

std::string RepairHint(const std::string& fzyPath) {
    return "To keep its readable records: vark-fuzzy repair-fzy \"" + fzyPath + "\"";
}

bool fzy_io_exists(const std::string& workspacePath, const std::string& layerName) {
    if (const auto store = StoreOf(workspacePath, layerName)) {
        return store->Load().has_value();
    }
    std::error_code error;
    return fs::exists(FzyFilePath(workspacePath, layerName), error);
}

std::shared_ptr<DescriptionTarget> SetDescriptionTarget(std::shared_ptr<DescriptionTarget> target) {
    FzyModule& m = Module();
    auto previous = m.target;
    m.target = target ? std::move(target) : std::make_shared<DescriptionBuffer>();
    return previous;
}

DescriptionTarget& CurrentDescriptionTarget() {
    return *Module().target;
}

const FzyFileState& FzyState() {
    return Module().file.state();
}

void ResetFzyState() {
    FzyModule& m = Module();
    m.file.Reset();
    m.target = std::make_shared<DescriptionBuffer>();
}

std::int16_t fzy_io_open(std::string& path, std::string& layerName) {
    return Module().file.Open(path, layerName);
}

std::int16_t fzy_io_close() {
    return Module().file.Close();
}

std::int16_t fzy_io_addrecord(const std::string& fieldName, const std::string& alias,
                              std::int16_t code, double Val_a, double Val_b, double Val_c,
                              double Val_d, const std::string& workspacePath,
                              const std::string& layerName) {
    return Module().file.AddRecord(
        MakeKind2(fieldName, alias, code, Val_a, Val_b, Val_c, Val_d, workspacePath, layerName));
}

std::int16_t FzyReplaceKind2(const std::string& fieldName, const std::string& alias,
                             std::int16_t code, double Val_a, double Val_b, double Val_c,
                             double Val_d, const std::string& workspacePath,
                             const std::string& layerName) {
    return Module().file.ReplaceKind2(
        MakeKind2(fieldName, alias, code, Val_a, Val_b, Val_c, Val_d, workspacePath, layerName));
}

void FzyCheckAppend(const std::string& fieldName, const std::string& alias,
                    const std::string& workspacePath, const std::string& layerName) {
    Module().file.CheckAppend(fieldName, alias, workspacePath, layerName);
}

std::string fzy_io_readchars(std::int16_t count, std::int16_t position) {
    return Module().file.ReadChars(count, position);
}

std::string FzyReadDamage() {
    return Module().file.ReadDamage();
}

std::string FzyFileDamage() {
    return Module().file.FileDamage();
}

std::int16_t ValidateCriterionFile(const FieldExistsFn& fieldExists, const std::string& layerName,
                                   const std::string& workspacePath) {
    return Module().file.Validate(fieldExists, layerName, workspacePath);
}

std::int16_t fzy_io_valid(const std::string& layerName, const std::string& workspacePath) {
    return ValidateCriterionFile(
        [&layerName](const std::string& fieldName) { return fzy_io_check(fieldName, layerName); },
        layerName, workspacePath);
}

void fzy_io_compressfzy(int fileNumber, const std::string& layerName,
                        const std::string& workspacePath) {
    Module().file.Compress(fileNumber, layerName, workspacePath);
}

}  // namespace vark
