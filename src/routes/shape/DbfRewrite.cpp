#include "routes/shape/DbfRewrite.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <fcntl.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "routes/shape/ShapeEncoding.h"
#include "support/Failure.h"

namespace vark::routes {

namespace {

constexpr const char* kSource = "GDAL";
constexpr char kEndOfFile = 0x1A;
constexpr char kDeleted = '*';
constexpr std::size_t kMaxNameBytes = 10;
constexpr std::size_t kMaxSize16 = 65535;
/// What the shapefile driver gives OGRFieldDefn(name, OFTReal).
constexpr int kValueSize = 24;
constexpr int kValueDecimals = 15;
/// Bytes read (and about as many written) per system call.
constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

/// A failure of the system, numbered as the runtime numbers file errors:
/// "No space left on device writing "<path>"".
Failure SystemFailure(int error, const std::string& doing, const std::string& path) {
    return Failure(FileErrorNumber(error),
                   std::string(std::strerror(error)) + " " + doing + " " + Quoted(path), kSource);
}

Failure TableFailure(const std::string& path, const std::string& why) {
    return Failure(err::kHostFailure, "Cannot rewrite the table " + Quoted(path) + ": " + why,
                   kSource);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
               return lower(x) == lower(y);
           });
}

void ReadAt(int fd, char* data, std::size_t size, off_t at, const std::string& path) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw SystemFailure(errno, "reading", path);
        }
        if (n == 0) {
            throw TableFailure(path, "the file ended before the records its header counts");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        at += n;
    }
}

void WriteAll(int fd, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw SystemFailure(errno, "writing", path);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

/// The text of a field as the shapefile driver reads it: up to the first
/// NUL byte, without leading and trailing blanks.
std::string_view FieldText(const char* bytes, std::size_t size) {
    if (const void* nul = std::memchr(bytes, '\0', size)) {
        size = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes);
    }
    std::size_t first = 0;
    while (first < size && bytes[first] == ' ') {
        ++first;
    }
    while (size > first && bytes[size - 1] == ' ') {
        --size;
    }
    return {bytes + first, size - first};
}

/// The last values formatted, by their bits: a run writes a handful of
/// distinct values, and formatting is most of the cost of a record.
class FormattedValues {
public:
    FormattedValues(int size, int decimals)
        : m_size(size), m_decimals(decimals), m_texts(kSlots * static_cast<std::size_t>(size)) {}

    /// The `size` bytes of `value`, or nullptr when it does not fit.
    const char* get(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        const std::size_t slot = (bits ^ (bits >> 32) ^ (bits >> 52)) % kSlots;
        Entry& entry = m_entries[slot];
        char* text = m_texts.data() + slot * static_cast<std::size_t>(m_size);
        if (!entry.used || entry.bits != bits) {
            std::memset(text, ' ', static_cast<std::size_t>(m_size));
            if (!FormatDbfNumber(value, m_size, m_decimals, text)) {
                entry.used = false;
                return nullptr;
            }
            entry.used = true;
            entry.bits = bits;
        }
        return text;
    }

private:
    static constexpr std::size_t kSlots = 61;
    struct Entry {
        std::uint64_t bits = 0;
        bool used = false;
    };
    int m_size;
    int m_decimals;
    std::array<Entry, kSlots> m_entries{};
    std::vector<char> m_texts;
};

bool IsNumberField(const DbfField& field) {
    return field.type == 'N' || field.type == 'F';
}

bool SameFile(const struct stat& st, dev_t device, ino_t inode) {
    return st.st_dev == device && st.st_ino == inode;
}

/// The encoding the shapefile driver gives the table at `path`.
std::string GdalEncodingOf(const std::string& path) {
    if (GetGDALDriverManager()->GetDriverByName("ESRI Shapefile") == nullptr) {
        GDALAllRegister();
    }
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const char* const drivers[] = {"ESRI Shapefile", nullptr};
    std::unique_ptr<GDALDataset> dataset(GDALDataset::Open(
        path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr));
    CPLPopErrorHandler();
    OGRLayer* layer = dataset ? dataset->GetLayer(0) : nullptr;
    if (!layer) {
        throw TableFailure(path, "GDAL cannot open it as a shapefile table");
    }
    // As the adapter opens it (ShapeEncoding.h).
    if (TakesAnsiCodePage(*layer)) {
        return kAnsiCodePage;
    }
    const char* encoding = layer->GetMetadataItem("SOURCE_ENCODING", "SHAPEFILE");
    return encoding ? encoding : "";
}

}  // namespace

DbfRewrite::Identity DbfRewrite::identityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size,
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void DbfRewrite::RemoveLeftover(const std::string& dbfPath) {
    std::error_code error;
    std::filesystem::path table(dbfPath);
    if (std::filesystem::is_symlink(table, error)) {
        table = std::filesystem::canonical(table, error);
        if (error) {
            return;  // a dangling link: the rewrite itself will say so
        }
    }
    RemoveOwnLeftovers(table.string());
}

DbfRewrite::DbfRewrite(const std::string& dbfPath, std::optional<std::string> encoding)
    : m_path(dbfPath) {
    struct stat st {};
    if (::lstat(m_path.c_str(), &st) != 0) {
        throw SystemFailure(errno, "opening", m_path);
    }
    if (S_ISLNK(st.st_mode)) {
        std::error_code error;
        const std::filesystem::path target = std::filesystem::canonical(m_path, error);
        if (error) {
            throw SystemFailure(error.value(), "following the link", m_path);
        }
        m_path = target.string();
    }

    // Non-blocking, so that a FIFO does not hang the open; refused below.
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        throw SystemFailure(errno, "opening", m_path);
    }
    try {
        if (::fstat(m_fd, &st) != 0) {
            throw SystemFailure(errno, "examining", m_path);
        }
        if (S_ISDIR(st.st_mode)) {
            throw TableFailure(m_path, "it is a folder, not a file");
        }
        if (S_ISFIFO(st.st_mode)) {
            throw TableFailure(m_path, "it is a FIFO, not a file");
        }
        if (!S_ISREG(st.st_mode)) {
            throw TableFailure(m_path, "it is not a regular file");
        }
        m_table = identityOf(st);
        m_mode = st.st_mode & 07777;
        m_owner = st.st_uid;
        m_group = st.st_gid;

        const auto size = static_cast<std::uint64_t>(st.st_size);
        unsigned char prefix[kDbfPrefixSize];
        if (size < sizeof prefix) {
            throw TableFailure(m_path, "the table is damaged: its header is cut short");
        }
        ReadAt(m_fd, reinterpret_cast<char*>(prefix), sizeof prefix, 0, m_path);
        const std::size_t headerSize = DbfHeaderSize(prefix);
        std::string header(std::max(headerSize, kDbfPrefixSize), '\0');
        if (size < header.size()) {
            throw TableFailure(m_path, "the table is damaged: its header is cut short");
        }
        ReadAt(m_fd, header.data(), header.size(), 0, m_path);
        const std::string problem = ParseDbfHeader(header, m_layout);
        if (!problem.empty()) {
            throw TableFailure(m_path, "the table is damaged: " + problem);
        }

        // The records the header counts, then at most the end-of-file mark.
        const std::uint64_t expected =
            headerSize + std::uint64_t{m_layout.records} * m_layout.recordSize;
        char last = 0;
        ReadAt(m_fd, &last, 1, static_cast<off_t>(size - 1), m_path);
        const std::uint64_t stored = size - (last == kEndOfFile ? 1 : 0);
        if (stored != expected) {
            const std::size_t recordSize = std::max<std::size_t>(m_layout.recordSize, 1);
            const std::uint64_t bytes = stored > headerSize ? stored - headerSize : 0;
            std::string holds = std::to_string(bytes / recordSize);
            if (bytes % recordSize != 0) {
                holds += " and part of another";
            }
            throw TableFailure(m_path, "the table is damaged: its header counts " +
                                           std::to_string(m_layout.records) +
                                           " records but the file holds " + holds);
        }
        m_encoding = encoding ? std::move(*encoding) : GdalEncodingOf(m_path);
        ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    } catch (...) {
        ::close(m_fd);
        m_fd = -1;
        throw;
    }
}

DbfRewrite::~DbfRewrite() {
    abandon();
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

std::optional<std::string> DbfRewrite::encode(std::string_view utf8) const {
    // The driver cuts a text at its first NUL byte: such a text matches nothing.
    if (utf8.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    if (m_encoding.empty() || EQUAL(m_encoding.c_str(), CPL_ENC_UTF8)) {
        return std::string(utf8);
    }
    const std::string text(utf8);
    CPLPushErrorHandler(CPLQuietErrorHandler);
    char* encoded = CPLRecode(text.c_str(), CPL_ENC_UTF8, m_encoding.c_str());
    char* back = CPLRecode(encoded, m_encoding.c_str(), CPL_ENC_UTF8);
    CPLPopErrorHandler();
    // A character without a code comes back as something else ("?").
    std::optional<std::string> result;
    if (text == back) {
        result = encoded;
    }
    CPLFree(encoded);
    CPLFree(back);
    return result;
}

int DbfRewrite::fieldIndex(std::string_view utf8Name) const {
    const std::optional<std::string> name = encode(utf8Name);
    for (std::size_t k = 0; name && k < m_layout.fields.size(); ++k) {
        if (m_layout.fields[k].name == *name) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

void DbfRewrite::checkNewField(std::string_view utf8Name) const {
    const std::string what =
        "Cannot add the field " + Quoted(std::string(utf8Name)) + " to " + Quoted(m_path) + ": ";
    const auto refuse = [&](const std::string& why) {
        return Failure(err::kHostFailure, what + why, kSource);
    };
    if (utf8Name.empty()) {
        throw refuse("a field needs a name");
    }
    const std::optional<std::string> name = encode(utf8Name);
    if (!name) {
        throw refuse("its name cannot be written in the table's encoding (" + m_encoding + ")");
    }
    if (name->size() > kMaxNameBytes) {
        throw refuse("a dBASE field name has at most 10 bytes, and this one has " +
                     std::to_string(name->size()));
    }
    for (const DbfField& field : m_layout.fields) {
        if (EqualsIgnoringAsciiCase(field.name, *name)) {
            throw refuse("the table already has a field named " + field.name);
        }
    }
    if (m_layout.recordSize + kValueSize > kMaxSize16) {
        throw refuse("its records would be longer than 65535 bytes");
    }
    if (m_layout.headerSize + kDbfDescriptorSize > kMaxSize16) {
        throw refuse("its header would be longer than 65535 bytes");
    }
}

DbfRewrite::Result DbfRewrite::prepare(std::string_view utf8Name, int sourceField,
                                       const ValueOf& valueOf, Column column) {
    if (m_prepared || m_temporaryExists || m_fd < 0) {
        throw TableFailure(m_path, "it was already rewritten once");
    }
    if (sourceField < 0 || static_cast<std::size_t>(sourceField) >= m_layout.fields.size()) {
        throw TableFailure(m_path, "it has no field " + std::to_string(sourceField));
    }
    const bool add = column == Column::kAdd;
    // Where each record's value goes, and how wide it is.
    std::size_t valueOffset = m_layout.recordSize;
    int valueSize = kValueSize;
    int valueDecimals = kValueDecimals;
    if (add) {
        checkNewField(utf8Name);
    } else {
        const int target = fieldIndex(utf8Name);
        if (target < 0 || !IsNumberField(m_layout.fields[static_cast<std::size_t>(target)])) {
            throw TableFailure(m_path, "it has no number field " + Quoted(std::string(utf8Name)) +
                                           " to overwrite");
        }
        const DbfField& field = m_layout.fields[static_cast<std::size_t>(target)];
        valueOffset = field.offset;
        valueSize = field.size;
        valueDecimals = field.decimals;
    }
    const std::string name = *encode(utf8Name);
    const DbfField& source = m_layout.fields[static_cast<std::size_t>(sourceField)];

    // The new header: the old one with the new descriptor after the others
    // (whatever followed their terminator stays after it), or, to overwrite,
    // the old one with the date of the change.
    std::string header(m_layout.headerSize, '\0');
    ReadAt(m_fd, header.data(), header.size(), 0, m_path);
    const std::size_t oldRecord = m_layout.recordSize;
    const std::size_t newRecord = add ? oldRecord + kValueSize : oldRecord;
    const std::time_t now = std::time(nullptr);
    std::tm date{};
    ::gmtime_r(&now, &date);
    std::string newHeader;
    if (add) {
        newHeader =
            DbfHeaderWithNumberField(header, m_layout, name, kValueSize, kValueDecimals, date);
    } else {
        newHeader = std::move(header);
        newHeader[1] = static_cast<char>(date.tm_year);
        newHeader[2] = static_cast<char>(date.tm_mon + 1);
        newHeader[3] = static_cast<char>(date.tm_mday);
    }
    if (newHeader.size() > kMaxSize16) {
        throw TableFailure(m_path, "its header would be longer than 65535 bytes");
    }

    const std::uint64_t newSize =
        newHeader.size() + std::uint64_t{m_layout.records} * newRecord + 1;
    std::string folder = std::filesystem::path(m_path).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    struct statvfs room {};
    if (::statvfs(folder.c_str(), &room) == 0 &&
        std::uint64_t{room.f_bavail} * room.f_frsize < newSize) {
        throw SystemFailure(ENOSPC, "writing", m_path);
    }

    const int out = CreateOwnTemporary(m_path, 0600, m_temporaryPath, m_temporaryLock);
    if (out < 0) {
        throw SystemFailure(errno, "creating", m_temporaryPath);
    }
    m_temporaryExists = true;
    Result result;
    try {
        // The mode asked at creation is cut by the umask.
        if (::fchmod(out, m_mode) != 0) {
            throw SystemFailure(errno, "setting the mode of", m_temporaryPath);
        }
        WriteAll(out, newHeader.data(), newHeader.size(), m_temporaryPath);

        const std::size_t chunk = std::max<std::size_t>(1, kBufferBytes / newRecord);
        std::vector<char> input(chunk * oldRecord);
        std::vector<char> output(chunk * newRecord + 1);
        FormattedValues values(valueSize, valueDecimals);
        const auto valueBytes = static_cast<std::size_t>(valueSize);
        const auto remaining = static_cast<std::int64_t>(m_layout.records);
        auto at = static_cast<off_t>(m_layout.headerSize);
        for (std::int64_t first = 0; first < remaining || first == 0;) {
            const auto count =
                static_cast<std::size_t>(std::min<std::int64_t>(chunk, remaining - first));
            ReadAt(m_fd, input.data(), count * oldRecord, at, m_path);
            at += static_cast<off_t>(count * oldRecord);
            const char* record = input.data();
            char* target = output.data();
            for (std::size_t k = 0; k < count; ++k) {
                std::memcpy(target, record, oldRecord);
                char* value = target + valueOffset;
                if (record[0] == kDeleted) {
                    // What the driver's new field holds until a value is set.
                    if (add) {
                        std::memset(value, '*', kValueSize);
                    }
                    ++result.deleted;
                } else {
                    const std::optional<double> number = valueOf(
                        FieldText(record + source.offset, static_cast<std::size_t>(source.size)));
                    const char* text = number ? values.get(*number) : nullptr;
                    if (!number) {
                        std::memset(value, '*', valueBytes);
                    } else if (!text) {
                        throw TableFailure(
                            m_path, "the value " + std::to_string(*number) + " of record " +
                                        std::to_string(first + static_cast<std::int64_t>(k)) +
                                        " is too wide for its field");
                    } else {
                        std::memcpy(value, text, valueBytes);
                    }
                }
                record += oldRecord;
                target += newRecord;
            }
            first += static_cast<std::int64_t>(count);
            if (first >= remaining) {
                *target++ = kEndOfFile;
            }
            WriteAll(out, output.data(), static_cast<std::size_t>(target - output.data()),
                     m_temporaryPath);
            if (first >= remaining) {
                break;
            }
        }
        result.records = remaining;
        if (::fsync(out) != 0) {
            throw SystemFailure(errno, "flushing", m_temporaryPath);
        }
        struct stat st {};
        if (::fstat(out, &st) != 0) {
            throw SystemFailure(errno, "examining", m_temporaryPath);
        }
        m_written = identityOf(st);
        // Best effort: the owner of the old table keeps it.
        if (st.st_uid != m_owner || st.st_gid != m_group) {
            (void)!::fchown(out, m_owner, m_group);
        }
        const int closed = ::close(out);
        if (closed != 0) {
            const int error = errno;
            ::unlink(m_temporaryPath.c_str());
            m_temporaryExists = false;
            throw SystemFailure(error, "closing", m_temporaryPath);
        }
    } catch (...) {
        if (m_temporaryExists) {
            ::close(out);
            ::unlink(m_temporaryPath.c_str());
            m_temporaryExists = false;
        }
        throw;
    }
    ::close(m_fd);
    m_fd = -1;
    m_prepared = true;
    return result;
}

void DbfRewrite::checkUnchanged() const {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0 || !SameFile(st, m_table.device, m_table.inode) ||
        st.st_size != m_table.size || identityOf(st).modifiedNs != m_table.modifiedNs) {
        throw TableFailure(m_path, "the table was changed by someone else meanwhile");
    }
    if (::lstat(m_temporaryPath.c_str(), &st) != 0 ||
        !SameFile(st, m_written.device, m_written.inode) || st.st_size != m_written.size) {
        throw TableFailure(m_path, "its temporary file " + Quoted(m_temporaryPath) +
                                       " was changed by someone else meanwhile");
    }
}

void DbfRewrite::commit() {
    if (!m_prepared || !m_temporaryExists) {
        throw TableFailure(m_path, "there is no complete new table to put in its place");
    }
    try {
        checkUnchanged();
    } catch (...) {
        abandon();
        throw;
    }
    if (::rename(m_temporaryPath.c_str(), m_path.c_str()) != 0) {
        const int error = errno;
        abandon();
        throw SystemFailure(error, "replacing", m_path);
    }
    m_temporaryExists = false;
    m_temporaryLock.release();
    std::string folder = std::filesystem::path(m_path).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);  // best effort: the rename is already visible
        ::close(fd);
    }
}

void DbfRewrite::abandon() noexcept {
    if (!m_temporaryExists) {
        return;
    }
    m_temporaryExists = false;
    // Only our own file: another run may have put its own there.
    struct stat st {};
    if (::lstat(m_temporaryPath.c_str(), &st) == 0 &&
        SameFile(st, m_written.device, m_written.inode)) {
        ::unlink(m_temporaryPath.c_str());
    }
}

}  // namespace vark::routes
