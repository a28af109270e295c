#include "criterion_file/fzy_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "criterion_file/AtomicFile.h"
#include "criterion_file/FzyFormat.h"
#include "criterion_file/FzyModule.h"
#include "host/common/WorkspaceRegistry.h"
#include "support/Cp1252.h"
#include "support/UiServices.h"

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

Failure SystemFailure(const std::string& what, const std::string& path, int error) {
    return Failure(FileErrorNumber(error), what + " \"" + path + "\": " + std::strerror(error),
                   "fzy_io");
}

namespace {

[[noreturn]] void ThrowNotOpen() {
    throw Failure(err::kBadFileNameOrNumber, "No criterion file is open", "fzy_io");
}

/// A file shorter than the first record's position holds no record,
/// whatever its counts say: the family's tools leave 8-byte ones when they
/// open a new file without appending to it, and take any such file as new.
bool IsEmptyHeader(std::string_view bytes) {
    return bytes.size() <= kHeaderSize;
}

std::string ReadAll(int fd, std::size_t size, const std::string& path) {
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemFailure("Cannot read the criterion file", path, errno);
        }
        if (n == 0) {
            break;  // shrunk meanwhile: take what is there
        }
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::size_t FileSize(int fd, const std::string& path) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        throw SystemFailure("Cannot examine the criterion file", path, errno);
    }
    return static_cast<std::size_t>(st.st_size);
}

void RemoveShp(std::string& layerName) {
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
    layerName = std::move(out);
}

/// Opens an existing criterion file for reading: the descriptor, or -1 when
/// there is no such file. Never blocks (a FIFO in its place is refused).
/// Throws Failure 52 for something that is not a regular file, 70 or 57
/// when it cannot be opened.
int OpenExisting(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return -1;
        }
        throw SystemFailure("Cannot open the criterion file", path, errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Failure(err::kBadFileNameOrNumber,
                      "Bad file name: \"" + path + "\" is not a regular file", "fzy_io");
    }
    return fd;
}

/// Why a change of the criterion file at `path` cannot be made ("" when it
/// can): replacing it needs the folder of the file the path leads to
/// writable, and an existing file that is read-only is respected.
std::string WhyNotWritable(const std::string& path) {
    const std::string target = FollowLinks(path);
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        return std::string("the file is read-only (") + std::strerror(errno) + ")";
    }
    std::string folder = fs::path(target).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "its folder \"" + folder + "\" is read-only (" + std::strerror(errno) + ")";
    }
    return {};
}

}  // namespace

bool IsOpen() {
    return Module().state.gFzyFile != 0;
}

namespace {

/// The module, with a file open: Failure 52 otherwise.
FzyModule& OpenModule() {
    if (!IsOpen()) {
        ThrowNotOpen();
    }
    return Module();
}

}  // namespace

LoadedFile LoadOpenFile() {
    FzyModule& m = OpenModule();
    LoadedFile f;
    std::optional<std::string> stored;
    if (m.store) {
        stored = m.store->Load();
    } else if (m.fd < 0) {
        m.fd = OpenExisting(m.state.path);
    }
    if ((m.store && !stored) || (!m.store && m.fd < 0)) {
        f.bytes = NewHeaderBytes();
        f.layout = ReadFzyLayout(f.bytes);
        return f;
    }
    const std::size_t size = stored ? stored->size() : FileSize(m.fd, m.state.path);
    if (size > kMaxFileBytes) {
        f.layout.damage =
            "it is " + std::to_string(size) + " bytes long, more than a criterion file can hold";
        return f;
    }
    f.bytes = stored ? std::move(*stored) : ReadAll(m.fd, size, m.state.path);
    if (IsEmptyHeader(f.bytes)) {
        // The header it gets with its first record, as the family's tools
        // complete it: the mark and the counts rewritten, the rest kept.
        const std::string header = NewHeaderBytes();
        f.bytes.resize(kHeaderSize, '\0');
        f.bytes.replace(0, 8, header, 0, 8);
    }
    f.layout = ReadFzyLayout(f.bytes);
    return f;
}

void RequireWritable() {
    FzyModule& m = OpenModule();
    if (m.state.readOnly) {
        throw Failure(err::kPermissionDenied,
                      "Permission denied: the criterion file \"" + m.state.path +
                          "\" can only be read: " + m.readOnlyReason,
                      "fzy_io");
    }
}

void ReplaceOpenFile(std::string_view bytes) {
    RequireWritable();
    FzyModule& m = Module();
    if (m.store) {
        m.store->Replace(bytes);
        return;
    }
    ReplaceFileWhole(FollowLinks(m.state.path), bytes);
    // The descriptor still reads the replaced file: the next read opens the
    // new one.
    if (m.fd >= 0) {
        ::close(m.fd);
        m.fd = -1;
    }
}

void ThrowDamaged(const std::string& damage) {
    throw Failure(kDamagedFileError,
                  "The criterion file \"" + Module().state.path + "\" is damaged: " + damage +
                      ". It was left unchanged. " + RepairHint(Module().state.path),
                  "fzy_io");
}

void ReportFzyFailure(const Failure& failure, const char* procedure, int marker) noexcept {
    try {
        Ui().ReportFailure(std::to_string(failure.number()) + "  " + failure.description() + " " +
                           procedure + " Debug=" + std::to_string(marker));
    } catch (...) {
    }
}

}  // namespace fzy

std::string CriterionFileLayerName(std::string layerName) {
    fzy::RemoveShp(layerName);
    return layerName;
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
    return Module().state;
}

void ResetFzyState() {
    FzyModule& m = Module();
    if (m.fd >= 0) {
        ::close(m.fd);
    }
    m.fd = -1;
    m.state = FzyFileState{};
    m.store.reset();
    m.readOnlyReason.clear();
    m.nextFileNumber = 1;
    m.target = std::make_shared<DescriptionBuffer>();
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
        fs::path folder = workspace.parent_path();
        if (folder.empty()) {
            folder = ".";
        }
        return (folder / (workspace.filename().string() + "." + layerName + ".fzy")).string();
    }
    throw Failure(err::kPathNotFound,
                  "Path not found: the workspace \"" + workspacePath + "\" of layer \"" +
                      layerName +
                      "\" is neither a folder nor a database file on this computer, so its "
                      "criterion file has no place to go",
                  "fzy_io");
}

namespace {

/// The store of the layer's criterion file when its workspace keeps it.
std::unique_ptr<host::CriterionStore> StoreOf(const std::string& workspacePath,
                                              const std::string& layerName) {
    if (const auto workspace = host::common::FindWorkspace(workspacePath)) {
        return workspace->OpenCriterionStore(layerName);
    }
    return nullptr;
}

/// The open status and the counts of the header `head` (the file's first
/// bytes) into the module state: "New" and no counts for a file without
/// records.
void TakeHeader(FzyModule& m, const std::string& head) {
    m.state.Kind1Count = 0;
    m.state.Kind2Count = 0;
    m.state.DeletedCount = 0;
    if (IsEmptyHeader(head)) {
        m.state.OpenStatus = "New";
        return;
    }
    m.state.OpenStatus = "Old";
    m.state.Kind1Count = GetInt16(head, kKind1CountOffset);
    m.state.Kind2Count = GetInt16(head, kKind2CountOffset);
    m.state.DeletedCount = GetInt16(head, kDeletedCountOffset);
}

void OpenStore(std::unique_ptr<host::CriterionStore> store, const std::string& workspacePath,
               const std::string& layerName) {
    FzyModule& m = Module();
    const std::optional<std::string> bytes = store->Load();
    std::string reason = store->WhyNotWritable();
    const std::string head = bytes ? bytes->substr(0, kHeaderSize + 1) : std::string();
    m.fd = -1;
    m.state.gFzyFile = m.nextFileNumber++;
    m.state.path = store->Location();
    m.state.readOnly = !reason.empty();
    m.state.inWorkspace = true;
    m.readOnlyReason = std::move(reason);
    m.store = std::move(store);
    m.storeWorkspace = workspacePath;
    m.storeLayer = layerName;
    TakeHeader(m, head);
}

}  // namespace

bool fzy_io_exists(const std::string& workspacePath, const std::string& layerName) {
    if (const auto store = StoreOf(workspacePath, layerName)) {
        return store->Load().has_value();
    }
    std::error_code error;
    return fs::exists(FzyFilePath(workspacePath, layerName), error);
}

std::int16_t fzy_io_open(std::string& path, std::string& layerName) {
    RemoveShp(layerName);
    fzy_io_close();
    FzyModule& m = Module();
    if (auto store = StoreOf(path, layerName)) {
        OpenStore(std::move(store), path, layerName);
        return 0;
    }
    const std::string fzyPath = FzyFilePath(path, layerName);

    // Opening only reads: a new file is written with its first record.
    const int fd = OpenExisting(fzyPath);
    try {
        std::string reason = WhyNotWritable(fzyPath);
        std::string head;
        if (fd >= 0) {
            head = ReadAll(fd, std::min(FileSize(fd, fzyPath), kHeaderSize + 1), fzyPath);
        }
        m.fd = fd;
        m.state.gFzyFile = m.nextFileNumber++;
        m.state.path = fzyPath;
        m.state.readOnly = !reason.empty();
        m.readOnlyReason = std::move(reason);
        TakeHeader(m, head);
        return 0;
    } catch (...) {
        // A file that could not be set up is not left open behind the caller's back.
        m.fd = -1;
        m.state.gFzyFile = 0;
        m.state.path.clear();
        if (fd >= 0) {
            ::close(fd);
        }
        throw;
    }
}

std::int16_t fzy_io_close() {
    FzyModule& m = Module();
    const int fd = m.fd;
    const std::string path = m.state.path;
    m.fd = -1;
    m.state.gFzyFile = 0;
    m.state.path.clear();
    m.state.readOnly = false;
    m.state.inWorkspace = false;
    m.readOnlyReason.clear();
    m.store.reset();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        throw SystemFailure("Cannot close the criterion file", path, errno);
    }
    return 1;
}

namespace {

/// The open file's bytes and the record to append, once everything that can
/// be known before writing has been checked.
struct PreparedAppend {
    LoadedFile file;
    std::string record;
};

PreparedAppend PrepareAppend(const Kind2Record& record) {
    RequireWritable();
    PreparedAppend p;
    p.file = LoadOpenFile();
    if (!p.file.layout.sound()) {
        ThrowDamaged(p.file.layout.damage);
    }
    p.record = EncodeKind2(record);
    const std::size_t nextPosition = p.file.bytes.size() + p.record.size() + 1;
    if (nextPosition > static_cast<std::size_t>(kMaxPosition) ||
        p.file.layout.Kind2Count == INT16_MAX) {
        throw Failure(err::kOverflow,
                      "Overflow: the record of field \"" + record.fieldName + "\" (" +
                          std::to_string(p.record.size()) +
                          " bytes) would take the criterion file \"" + Module().state.path +
                          "\" past position " + std::to_string(kMaxPosition) +
                          "; nothing was written",
                      "fzy_io");
    }
    return p;
}

Kind2Record MakeKind2(const std::string& fieldName, const std::string& alias, std::int16_t code,
                      double Val_a, double Val_b, double Val_c, double Val_d,
                      const std::string& workspacePath, const std::string& layerName) {
    return Kind2Record{fieldName, code,  alias,         Val_a,    Val_b,
                       Val_c,     Val_d, workspacePath, layerName};
}

/// Appends `record` (dated now) to the open file in one replacement of the
/// whole file, after marking deleted every live record of the field
/// `replaced` (none when null). Returns the records marked.
std::int16_t AppendKind2(Kind2Record record, const std::string* replaced) {
    record.created = OleDateNow();
    PreparedAppend p = PrepareAppend(record);
    std::string bytes = std::move(p.file.bytes);
    std::int16_t deleted = p.file.layout.DeletedCount;
    std::int16_t marked = 0;
    if (replaced) {
        const std::string stored = EncodeCp1252(*replaced);
        for (const RecordFrame& frame : p.file.layout.records) {
            if (frame.kind >= kFirstDeletedKind || RecordFieldName(bytes, frame) != stored) {
                continue;
            }
            PutInt16(bytes, frame.offset + 2,
                     static_cast<std::int16_t>(frame.kind + kDeletedKindOffset));
            // The count only has to stay above 0, so it stops at its maximum.
            if (deleted < INT16_MAX) {
                ++deleted;
            }
            ++marked;
        }
    }
    const auto kind2Count = static_cast<std::int16_t>(p.file.layout.Kind2Count + 1);
    bytes += p.record;
    PutInt16(bytes, kKind2CountOffset, kind2Count);
    PutInt16(bytes, kDeletedCountOffset, deleted);
    ReplaceOpenFile(bytes);
    FzyModule& m = Module();
    m.state.Kind1Count = p.file.layout.Kind1Count;
    m.state.Kind2Count = kind2Count;
    m.state.DeletedCount = deleted;
    return marked;
}

}  // namespace

std::int16_t fzy_io_addrecord(const std::string& fieldName, const std::string& alias,
                              std::int16_t code, double Val_a, double Val_b, double Val_c,
                              double Val_d, const std::string& workspacePath,
                              const std::string& layerName) {
    AppendKind2(
        MakeKind2(fieldName, alias, code, Val_a, Val_b, Val_c, Val_d, workspacePath, layerName),
        nullptr);
    return 1;
}

std::int16_t FzyReplaceKind2(const std::string& fieldName, const std::string& alias,
                             std::int16_t code, double Val_a, double Val_b, double Val_c,
                             double Val_d, const std::string& workspacePath,
                             const std::string& layerName) {
    return AppendKind2(
        MakeKind2(fieldName, alias, code, Val_a, Val_b, Val_c, Val_d, workspacePath, layerName),
        &fieldName);
}

void FzyCheckAppend(const std::string& fieldName, const std::string& alias,
                    const std::string& workspacePath, const std::string& layerName) {
    // The code, the values and the date have a fixed size: they do not
    // change whether the record fits.
    const Kind2Record record = MakeKind2(fieldName, alias, 0, 0, 0, 0, 0, workspacePath, layerName);
    const PreparedAppend p = PrepareAppend(record);
    FzyModule& m = Module();
    if (m.store) {
        return;  // no file, no folder: the server checks its own room
    }
    const std::string target = FollowLinks(m.state.path);
    const std::string tmp = TemporaryPathFor(target);
    struct stat st {};
    if (::lstat(tmp.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        throw SystemFailure("Cannot create the temporary file", tmp, EISDIR);
    }
    std::string folder = fs::path(target).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0 && vfs.f_frsize > 0) {
        const std::size_t size = p.file.bytes.size() + p.record.size();
        const auto needed = static_cast<fsblkcnt_t>((size + vfs.f_frsize - 1) / vfs.f_frsize);
        const fsblkcnt_t free = ::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail;
        if (free < needed) {
            throw SystemFailure("Cannot write the criterion file", m.state.path, ENOSPC);
        }
    }
}

std::string fzy_io_readchars(std::int16_t count, std::int16_t position) {
    if (!IsOpen()) {
        ThrowNotOpen();
    }
    if (count == 0) {
        return {};
    }
    if (count < 0 || position < 1) {
        throw Failure(err::kInvalidProcedureCall,
                      "Invalid procedure call: cannot read " + std::to_string(count) +
                          " bytes at position " + std::to_string(position),
                      "fzy_io_readchars");
    }
    const LoadedFile f = LoadOpenFile();
    const auto offset = static_cast<std::size_t>(position - 1);
    if (offset + static_cast<std::size_t>(count) > f.bytes.size()) {
        ThrowDamaged(std::to_string(count) + " bytes at position " + std::to_string(position) +
                     " run past the end of the file");
    }
    return DecodeCp1252(std::string_view(f.bytes).substr(offset, static_cast<std::size_t>(count)));
}

std::string RepairHint(const std::string& fzyPath) {
    return "To keep its readable records: vark-fuzzy repair-fzy \"" + fzyPath + "\"";
}

namespace {

/// Why the open criterion file fails `usable` ("" when it passes, or none
/// is open).
std::string DamageUnless(bool (FzyLayout::*usable)() const) {
    if (!IsOpen()) {
        return {};
    }
    try {
        const LoadedFile f = LoadOpenFile();
        if ((f.layout.*usable)()) {
            return {};
        }
        return "The criterion file \"" + Module().state.path + "\" is damaged: " + f.layout.damage;
    } catch (...) {
        return CurrentFailure().description();
    }
}

}  // namespace

std::string FzyReadDamage() {
    return DamageUnless(&FzyLayout::readable);
}

std::string FzyFileDamage() {
    return DamageUnless(&FzyLayout::sound);
}

}  // namespace vark
