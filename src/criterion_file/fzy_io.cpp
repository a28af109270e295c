#include "criterion_file/fzy_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "criterion_file/Cp1252.h"
#include "criterion_file/FzyFormat.h"
#include "criterion_file/FzyModule.h"
#include "support/UiServices.h"
#include "text_store/clsResourceMDB.h"

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
    std::int32_t number = err::kDeviceIoError;
    if (error == ENOENT || error == ENOTDIR) {
        number = err::kPathNotFound;
    } else if (error == EACCES || error == EPERM || error == EROFS) {
        number = err::kPermissionDenied;
    }
    return Failure(number, what + " \"" + path + "\": " + std::strerror(error), "fzy_io");
}

namespace {

[[noreturn]] void ThrowNotOpen() {
    throw Failure(err::kBadFileNameOrNumber, "No criterion file is open", "fzy_io");
}

/// An empty file, or one shorter than the first record's position whose
/// three counts are there and 0, holds no record: the family's tools leave
/// 8-byte ones when they open a new file without appending to it.
bool IsEmptyHeader(std::string_view bytes) {
    if (bytes.empty()) {
        return true;
    }
    return bytes.size() >= 8 && bytes.size() <= kHeaderSize && GetInt16(bytes, 2) == 0 &&
           GetInt16(bytes, 4) == 0 && GetInt16(bytes, 6) == 0;
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

std::string TextOf(int number) {
    return gTextStore().ResourceString(number);
}

std::string Separator() {
    return std::string(1, static_cast<char>(fs::path::preferred_separator));
}

}  // namespace

LoadedFile LoadOpenFile() {
    FzyModule& m = Module();
    if (m.fd < 0) {
        ThrowNotOpen();
    }
    LoadedFile f;
    const std::size_t size = FileSize(m.fd, m.state.path);
    if (size > kMaxFileBytes) {
        f.layout.damage =
            "it is " + std::to_string(size) + " bytes long, more than a criterion file can hold";
        return f;
    }
    f.bytes = ReadAll(m.fd, size, m.state.path);
    if (f.bytes.size() < kHeaderSize && IsEmptyHeader(f.bytes)) {
        f.bytes.resize(kHeaderSize, '\0');
    }
    f.layout = ReadFzyLayout(f.bytes);
    return f;
}

void RequireWritable() {
    FzyModule& m = Module();
    if (m.fd < 0) {
        ThrowNotOpen();
    }
    if (m.state.readOnly) {
        throw Failure(err::kPermissionDenied,
                      "Permission denied: the criterion file \"" + m.state.path +
                          "\" can only be read (the file or its folder is read-only)",
                      "fzy_io");
    }
}

void WriteAt(std::size_t offset, std::string_view bytes) {
    RequireWritable();
    FzyModule& m = Module();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pwrite(m.fd, bytes.data() + done, bytes.size() - done,
                                 static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw SystemFailure("Cannot write the criterion file", m.state.path, errno);
        }
        done += static_cast<std::size_t>(n);
    }
}

void ThrowDamaged(const std::string& damage) {
    throw Failure(kDamagedFileError,
                  "The criterion file \"" + Module().state.path + "\" is damaged: " + damage +
                      ". It was left unchanged.",
                  "fzy_io");
}

void ReportFzyFailure(const Failure& failure, const char* procedure, int marker) noexcept {
    try {
        Ui().MsgBox(std::to_string(failure.number()) + "  " + failure.description() + " " +
                        procedure + " Debug=" + std::to_string(marker),
                    MsgIcon::None, MsgButtons::Ok, {});
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

std::int16_t fzy_io_open(std::string& path, std::string& layerName) {
    RemoveShp(layerName);
    fzy_io_close();
    FzyModule& m = Module();
    const std::string fzyPath = FzyFilePath(path, layerName);

    bool readOnly = false;
    int fd = ::open(fzyPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        const int openError = errno;
        fd = ::open(fzyPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw SystemFailure("Cannot open the criterion file", fzyPath, openError);
        }
        readOnly = true;
    }
    if (fd < 0) {
        throw SystemFailure("Cannot open the criterion file", fzyPath, errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Failure(err::kBadFileNameOrNumber,
                      "Bad file name: \"" + fzyPath + "\" is not a regular file", "fzy_io");
    }
    m.fd = fd;
    m.state.gFzyFile = m.nextFileNumber++;
    m.state.path = fzyPath;
    m.state.readOnly = readOnly;
    m.state.Kind1Count = 0;
    m.state.Kind2Count = 0;
    m.state.DeletedCount = 0;

    const std::size_t size = static_cast<std::size_t>(st.st_size);
    try {
        const std::string head = ReadAll(fd, std::min(size, kHeaderSize + 1), fzyPath);
        if (head.size() <= kHeaderSize && IsEmptyHeader(head)) {
            if (!readOnly) {
                if (head.empty()) {
                    WriteAt(0, NewHeaderBytes());
                } else {
                    WriteAt(0, NewHeaderBytes().substr(0, 8));
                    WriteAt(head.size(), std::string(kHeaderSize - head.size(), '\0'));
                }
            }
            m.state.OpenStatus = "New";
            return 0;
        }
        m.state.OpenStatus = "Old";
        if (head.size() >= 8) {
            m.state.Kind1Count = GetInt16(head, kKind1CountOffset);
            m.state.Kind2Count = GetInt16(head, kKind2CountOffset);
            m.state.DeletedCount = GetInt16(head, kDeletedCountOffset);
        }
        return 0;
    } catch (...) {
        // A file that could not be set up is not left open behind the caller's back.
        m.fd = -1;
        m.state.gFzyFile = 0;
        m.state.path.clear();
        ::close(fd);
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
    if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) {
        throw SystemFailure("Cannot close the criterion file", path, errno);
    }
    return 1;
}

std::int16_t fzy_io_addrecord(const std::string& fieldName, const std::string& alias,
                              std::int16_t code, double Val_a, double Val_b, double Val_c,
                              double Val_d, const std::string& workspacePath,
                              const std::string& layerName) {
    FzyModule& m = Module();
    if (m.fd < 0) {
        ThrowNotOpen();
    }
    RequireWritable();
    const LoadedFile f = LoadOpenFile();
    if (!f.layout.sound()) {
        ThrowDamaged(f.layout.damage);
    }
    Kind2Record record;
    record.fieldName = fieldName;
    record.code = code;
    record.alias = alias;
    record.Val_a = Val_a;
    record.Val_b = Val_b;
    record.Val_c = Val_c;
    record.Val_d = Val_d;
    record.workspacePath = workspacePath;
    record.layerName = layerName;
    record.created = OleDateNow();
    const std::string bytes = EncodeKind2(record);

    const std::size_t start = f.bytes.size();
    const std::size_t nextPosition = start + bytes.size() + 1;
    if (nextPosition > static_cast<std::size_t>(kMaxPosition) || f.layout.Kind2Count == INT16_MAX) {
        throw Failure(
            err::kOverflow,
            "Overflow: the record of field \"" + fieldName + "\" (" + std::to_string(bytes.size()) +
                " bytes) would take the criterion file \"" + m.state.path + "\" past position " +
                std::to_string(kMaxPosition) + "; nothing was written",
            "fzy_io");
    }
    WriteAt(start, bytes);
    const auto kind2Count = static_cast<std::int16_t>(f.layout.Kind2Count + 1);
    std::string count(2, '\0');
    PutInt16(count, 0, kind2Count);
    WriteAt(kKind2CountOffset, count);
    m.state.Kind1Count = f.layout.Kind1Count;
    m.state.Kind2Count = kind2Count;
    m.state.DeletedCount = f.layout.DeletedCount;
    return 1;
}

std::string fzy_io_readchars(std::int16_t count, std::int16_t position) {
    FzyModule& m = Module();
    if (m.fd < 0) {
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
    std::string bytes(static_cast<std::size_t>(count), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = pread(m.fd, bytes.data() + done, bytes.size() - done,
                                static_cast<off_t>(position - 1 + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw SystemFailure("Cannot read the criterion file", m.state.path, errno);
        }
        if (n == 0) {
            ThrowDamaged(std::to_string(count) + " bytes at position " + std::to_string(position) +
                         " run past the end of the file");
        }
        done += static_cast<std::size_t>(n);
    }
    return DecodeCp1252(bytes);
}

std::string DescribeKind2(const Kind2Record& r, const std::function<std::string(int)>& text) {
    static constexpr const char* kCrLf = "\r\n";
    std::string s;
    s += text(147) + " " + r.fieldName + "(" + text(148) + " :" + r.alias + ") ";
    s += text(154) + " " + std::to_string(r.code) + " " + text(154) + " :" + kCrLf;
    s += " Val_a = " + FormatNumber(r.Val_a) + kCrLf;
    s += " Val_b = " + FormatNumber(r.Val_b) + kCrLf;
    s += " Val_c = " + FormatNumber(r.Val_c) + kCrLf;
    s += " Val_d = " + FormatNumber(r.Val_d) + kCrLf;
    s += text(152) + " " + r.workspacePath + Separator() + r.layerName + " " + text(156) + " " +
         FormatOleDate(r.created);
    return s;
}

std::string DescribeKind1(const Kind1Record& r, const std::function<std::string(int)>& text) {
    static constexpr const char* kCrLf = "\r\n";
    const std::string sep = Separator();
    std::string s;
    s += text(147) + " " + r.fieldName + " (" + text(148) + " :" + r.T[0] + ") " + text(149) +
         " : " + kCrLf;
    s += r.T[3] + " (" + text(150) + " " + r.T[4] + sep + r.T[5] + ")" + kCrLf;
    s += text(151) + " " + kCrLf;
    s += r.T[6] + " (" + text(150) + " " + r.T[7] + sep + r.T[8] + ")." + kCrLf;
    s +=
        " " + text(152) + " " + std::to_string(r.N) + " " + text(156) + " " + FormatOleDate(r.date);
    return s;
}

bool fzy_io_numberinfo(const std::string& fieldName) {
    int marker = 1;
    try {
        const LoadedFile f = LoadOpenFile();
        if (!f.layout.sound()) {
            ThrowDamaged(f.layout.damage);
        }
        for (const RecordFrame& frame : f.layout.records) {
            marker = 2;
            if (frame.kind != 2) {
                continue;
            }
            const std::string name = DecodeCp1252(RecordFieldName(f.bytes, frame));
            marker = 3;
            if (name == fieldName) {
                marker = 4;
                const Kind2Record record = DecodeKind2(f.bytes, frame);
                marker = 5;
                const std::string text = DescribeKind2(record, TextOf);
                marker = 6;
                const auto target = Module().target;
                target->SetInfoText(text);
                return true;
            }
            marker = 7;
            marker = 8;
        }
        marker = 9;
        return false;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_numberinfo", marker);
        return false;
    }
}

bool fzy_io_recordinfo(const std::string& fieldName, const std::string& /*unused*/) {
    if (fieldName.empty()) {
        return false;
    }
    int marker = 1;
    try {
        const LoadedFile f = LoadOpenFile();
        if (!f.layout.sound()) {
            ThrowDamaged(f.layout.damage);
        }
        for (const RecordFrame& frame : f.layout.records) {
            marker = 2;
            if (frame.kind != 1) {
                continue;
            }
            const std::string name = DecodeCp1252(RecordFieldName(f.bytes, frame));
            marker = 3;
            if (name == fieldName) {
                marker = 4;
                const Kind1Record record = DecodeKind1(f.bytes, frame);
                marker = 5;
                const std::string text = DescribeKind1(record, TextOf);
                marker = 6;
                const auto target = Module().target;
                target->SetInfoText(text);
                return true;
            }
        }
        marker = 7;
        return false;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_recordinfo", marker);
        return false;
    }
}

void fzy_io_showinfo() {
    const auto target = Module().target;
    target->Show();
}

std::string FzyFileDamage() {
    if (Module().fd < 0) {
        return {};
    }
    try {
        const LoadedFile f = LoadOpenFile();
        if (f.layout.sound()) {
            return {};
        }
        return "The criterion file \"" + Module().state.path + "\" is damaged: " + f.layout.damage;
    } catch (...) {
        return CurrentFailure().description();
    }
}

}  // namespace vark
