// Opening, closing and reading one criterion file, and replacing it whole.

#include "criterion_file/CriterionFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "criterion_file/AtomicFile.h"
#include "criterion_file/FzyModule.h"
#include "support/Cp1252.h"
#include "support/UiServices.h"

namespace vark::fzy {

Failure SystemFailure(const std::string& what, const std::string& path, int error) {
    return Failure(FileErrorNumber(error), what + " \"" + path + "\": " + std::strerror(error),
                   "fzy_io");
}

void ReportFzyFailure(const Failure& failure, const char* procedure, int marker) noexcept {
    try {
        Ui().ReportFailure(std::to_string(failure.number()) + "  " + failure.description() + " " +
                           procedure + " Debug=" + std::to_string(marker));
    } catch (...) {
    }
}

namespace {

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

/// False when `path` names another file than the descriptor `fd` reads:
/// another writer replaced it since (every change replaces the file whole),
/// and a change made on the old bytes would drop theirs. True when `path`
/// cannot be examined: the descriptor is all there is to read then.
bool StillNamedBy(int fd, const std::string& path) {
    struct stat named {};
    struct stat open {};
    if (::stat(path.c_str(), &named) != 0 || ::fstat(fd, &open) != 0) {
        return true;
    }
    return named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

/// Why a change of the criterion file at `path` cannot be made ("" when it
/// can): replacing it needs the folder of the file the path leads to
/// writable, and an existing file that is read-only is respected.
std::string WhyNotWritable(const std::string& path) {
    const std::string target = FollowLinks(path);
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) {
        return std::string("the file is read-only (") + std::strerror(errno) + ")";
    }
    const std::string folder = FolderOf(target);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "its folder \"" + folder + "\" is read-only (" + std::strerror(errno) + ")";
    }
    return {};
}

}  // namespace

CriterionFile::~CriterionFile() {
    Reset();
}

void CriterionFile::RequireOpen() const {
    if (!IsOpen()) {
        throw Failure(err::kBadFileNameOrNumber, "No criterion file is open", "fzy_io");
    }
}

void CriterionFile::TakeHeader(const std::string& head) {
    m_state.Kind1Count = 0;
    m_state.Kind2Count = 0;
    m_state.DeletedCount = 0;
    if (IsEmptyHeader(head)) {
        m_state.OpenStatus = "New";
        return;
    }
    m_state.OpenStatus = "Old";
    m_state.Kind1Count = GetInt16(head, kKind1CountOffset);
    m_state.Kind2Count = GetInt16(head, kKind2CountOffset);
    m_state.DeletedCount = GetInt16(head, kDeletedCountOffset);
}

void CriterionFile::OpenStore(std::unique_ptr<host::CriterionStore> store,
                              const std::string& workspacePath, const std::string& layerName) {
    const std::optional<std::string> bytes = store->Load();
    std::string reason = store->WhyNotWritable();
    const std::string head = bytes ? bytes->substr(0, kHeaderSize + 1) : std::string();
    m_fd = -1;
    m_state.gFzyFile = m_nextFileNumber++;
    m_state.path = store->Location();
    m_state.readOnly = !reason.empty();
    m_state.inWorkspace = true;
    m_readOnlyReason = std::move(reason);
    m_store = std::move(store);
    m_storeWorkspace = workspacePath;
    m_storeLayer = layerName;
    TakeHeader(head);
}

std::int16_t CriterionFile::Open(std::string& path, std::string& layerName) {
    layerName = CriterionFileLayerName(std::move(layerName));
    Close();
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
        m_fd = fd;
        m_state.gFzyFile = m_nextFileNumber++;
        m_state.path = fzyPath;
        m_state.readOnly = !reason.empty();
        m_readOnlyReason = std::move(reason);
        TakeHeader(head);
        return 0;
    } catch (...) {
        // A file that could not be set up is not left open behind the caller's back.
        m_fd = -1;
        m_state.gFzyFile = 0;
        m_state.path.clear();
        if (fd >= 0) {
            ::close(fd);
        }
        throw;
    }
}

std::int16_t CriterionFile::Close() {
    const int fd = m_fd;
    const std::string path = m_state.path;
    m_fd = -1;
    m_state.gFzyFile = 0;
    m_state.path.clear();
    m_state.readOnly = false;
    m_state.inWorkspace = false;
    m_readOnlyReason.clear();
    m_store.reset();
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        throw SystemFailure("Cannot close the criterion file", path, errno);
    }
    return 1;
}

void CriterionFile::Reset() noexcept {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
    m_fd = -1;
    m_state = FzyFileState{};
    m_store.reset();
    m_readOnlyReason.clear();
    m_nextFileNumber = 1;
}

LoadedFile CriterionFile::Load() const {
    RequireOpen();
    LoadedFile f;
    std::optional<std::string> stored;
    if (m_store) {
        stored = m_store->Load();
    } else {
        if (m_fd >= 0 && !StillNamedBy(m_fd, m_state.path)) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (m_fd < 0) {
            m_fd = OpenExisting(m_state.path);
        }
    }
    if ((m_store && !stored) || (!m_store && m_fd < 0)) {
        f.bytes = NewHeaderBytes();
        f.layout = ReadFzyLayout(f.bytes);
        return f;
    }
    const std::size_t size = stored ? stored->size() : FileSize(m_fd, m_state.path);
    if (size > kMaxFileBytes) {
        f.layout.damage =
            "it is " + std::to_string(size) + " bytes long, more than a criterion file can hold";
        return f;
    }
    f.bytes = stored ? std::move(*stored) : ReadAll(m_fd, size, m_state.path);
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

void CriterionFile::RequireWritable() const {
    RequireOpen();
    if (m_state.readOnly) {
        throw Failure(err::kPermissionDenied,
                      "Permission denied: the criterion file \"" + m_state.path +
                          "\" can only be read: " + m_readOnlyReason,
                      "fzy_io");
    }
}

void CriterionFile::Replace(std::string_view bytes) {
    RequireWritable();
    if (m_store) {
        m_store->Replace(bytes);
        return;
    }
    ReplaceFileWhole(FollowLinks(m_state.path), bytes);
    // The descriptor still reads the replaced file: the next read opens the
    // new one.
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void CriterionFile::ThrowDamaged(const std::string& damage) const {
    throw Failure(kDamagedFileError,
                  "The criterion file \"" + m_state.path + "\" is damaged: " + damage +
                      ". It was left unchanged. " + RepairHint(m_state.path),
                  "fzy_io");
}

std::string CriterionFile::ReadChars(std::int16_t count, std::int16_t position) const {
    RequireOpen();
    if (count == 0) {
        return {};
    }
    if (count < 0 || position < 1) {
        throw Failure(err::kInvalidProcedureCall,
                      "Invalid procedure call: cannot read " + std::to_string(count) +
                          " bytes at position " + std::to_string(position),
                      "fzy_io_readchars");
    }
    const LoadedFile f = Load();
    const auto offset = static_cast<std::size_t>(position - 1);
    if (offset + static_cast<std::size_t>(count) > f.bytes.size()) {
        ThrowDamaged(std::to_string(count) + " bytes at position " + std::to_string(position) +
                     " run past the end of the file");
    }
    return DecodeCp1252(std::string_view(f.bytes).substr(offset, static_cast<std::size_t>(count)));
}

std::string CriterionFile::DamageUnless(bool (FzyLayout::*usable)() const) const {
    if (!IsOpen()) {
        return {};
    }
    try {
        const LoadedFile f = Load();
        if ((f.layout.*usable)()) {
            return {};
        }
        return "The criterion file \"" + m_state.path + "\" is damaged: " + f.layout.damage;
    } catch (...) {
        return CurrentFailure().description();
    }
}

std::string CriterionFile::ReadDamage() const {
    return DamageUnless(&FzyLayout::readable);
}

std::string CriterionFile::FileDamage() const {
    return DamageUnless(&FzyLayout::sound);
}

}  // namespace vark::fzy
