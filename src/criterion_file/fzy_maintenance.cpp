#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "criterion_file/Cp1252.h"
#include "criterion_file/FzyModule.h"
#include "criterion_file/fzy_io.h"
#include "host/HostState.h"

namespace vark {

using namespace fzy;

namespace {

[[noreturn]] void ThrowNotSet(const std::string& what) {
    throw Failure(err::kObjectVariableNotSet, "Object variable not set: " + what, "fzy_io_check");
}

/// Writes `bytes` to a new file at `path` (a stale file of that name is
/// removed first, never followed if it is a link), flushes it to disk and
/// closes it. On failure nothing is left at `path`.
void WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        throw SystemFailure("Cannot remove the old temporary file", path, errno);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        throw SystemFailure("Cannot create the temporary file", path, errno);
    }
    auto fail = [&](const char* what) {
        const int error = errno;
        ::close(fd);
        ::unlink(path.c_str());
        throw SystemFailure(what, path, error);
    };
    // The mode asked for at creation is cut by the umask; the copy keeps the
    // criterion file's own.
    if (::fchmod(fd, mode) != 0) {
        fail("Cannot set the mode of the temporary file");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail("Cannot write the temporary file");
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        fail("Cannot flush the temporary file");
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        throw SystemFailure("Cannot close the temporary file", path, error);
    }
}

void SyncFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);  // best effort: the rename is already visible
        ::close(fd);
    }
}

}  // namespace

bool fzy_io_check(const std::string& fieldName, const std::string& layerName) {
    int marker = 1;
    try {
        const auto app = g_pApplication();
        if (!app) {
            ThrowNotSet("no map application");
        }
        const auto document = app->GetDocument();
        if (!document) {
            ThrowNotSet("the application has no document");
        }
        const auto map = document->GetFocusMap();
        if (!map) {
            ThrowNotSet("the document has no focus map");
        }
        std::shared_ptr<host::Layer> layer;
        const std::int32_t layerCount = map->GetLayerCount();
        for (std::int32_t i = 0; i < layerCount; ++i) {
            auto candidate = map->GetMapLayer(i);
            if (candidate && candidate->GetLayerName() == layerName) {
                layer = std::move(candidate);
                break;
            }
        }
        if (!layer) {
            // Some other layer's fields say nothing about this one's.
            return true;
        }
        marker = 2;
        const auto featureLayer = std::dynamic_pointer_cast<host::FeatureLayer>(layer);
        if (!featureLayer) {
            throw Failure(err::kTypeMismatch,
                          "Type mismatch: the layer \"" + layerName + "\" is not a feature layer",
                          "fzy_io_check");
        }
        const auto featureClass = featureLayer->GetFeatureClass();
        if (!featureClass) {
            ThrowNotSet("the layer \"" + layerName + "\" has no feature class");
        }
        const host::Fields fields = featureClass->GetFields();
        marker = 3;
        // Compared as the criterion file stores names, so that a field whose
        // name holds a character the file cannot store ("?" there) still
        // finds its record.
        const std::string stored = EncodeCp1252(fieldName);
        for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
            if (EncodeCp1252(fields.GetField(i).GetFieldName()) == stored) {
                return true;
            }
        }
        return false;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_check", marker);
        // A field that could not be checked counts as present: its record stays.
        return true;
    }
}

std::int16_t fzy_io_valid(const std::string& layerName, const std::string& workspacePath) {
    return ValidateCriterionFile(
        [&layerName](const std::string& fieldName) { return fzy_io_check(fieldName, layerName); },
        layerName, workspacePath);
}

std::int16_t ValidateCriterionFile(const FieldExistsFn& fieldExists, const std::string& layerName,
                                   const std::string& workspacePath) {
    int marker = 0;
    try {
        FzyModule& m = Module();
        const LoadedFile f = LoadOpenFile();
        m.state.Kind1Count = f.layout.Kind1Count;
        m.state.Kind2Count = f.layout.Kind2Count;
        m.state.DeletedCount = f.layout.DeletedCount;
        marker = 1;
        if (!f.layout.sound()) {
            ThrowDamaged(f.layout.damage);
        }
        std::int16_t deleted = f.layout.DeletedCount;
        for (const RecordFrame& frame : f.layout.records) {
            marker = 2;
            if (frame.kind >= kFirstDeletedKind) {
                continue;
            }
            const std::string name = DecodeCp1252(RecordFieldName(f.bytes, frame));
            marker = 3;
            if (fieldExists(name)) {
                continue;
            }
            // The count first: should the kind not follow, the next check
            // compacts a file with nothing to drop, which is harmless. The
            // count only has to stay above 0, so it stops at its maximum.
            if (deleted < INT16_MAX) {
                ++deleted;
            }
            std::string bytes(2, '\0');
            PutInt16(bytes, 0, deleted);
            WriteAt(kDeletedCountOffset, bytes);
            m.state.DeletedCount = deleted;
            PutInt16(bytes, 0, static_cast<std::int16_t>(frame.kind + kDeletedKindOffset));
            WriteAt(frame.offset + 2, bytes);
        }
        const LoadedFile after = LoadOpenFile();
        m.state.DeletedCount = after.layout.DeletedCount;
        if (after.layout.DeletedCount > 0) {
            fzy_io_compressfzy(m.state.gFzyFile, layerName, workspacePath);
        }
        return 1;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_valid", marker);
        return 0;
    }
}

void fzy_io_compressfzy(int fileNumber, const std::string& layerName,
                        const std::string& workspacePath) {
    int marker = 1;
    try {
        FzyModule& m = Module();
        if (m.fd < 0 || fileNumber != m.state.gFzyFile) {
            throw Failure(err::kBadFileNameOrNumber,
                          "Bad file name or number: file " + std::to_string(fileNumber) +
                              " is not the open criterion file",
                          "fzy_io_compressfzy");
        }
        const std::string named = FzyFilePath(workspacePath, layerName);
        if (named != m.state.path) {
            throw Failure(err::kInvalidProcedureCall,
                          "Invalid procedure call: layer \"" + layerName + "\" of \"" +
                              workspacePath + "\" has the criterion file \"" + named +
                              "\", not the open one \"" + m.state.path + "\"",
                          "fzy_io_compressfzy");
        }
        RequireWritable();
        const LoadedFile f = LoadOpenFile();
        if (!f.layout.sound()) {
            ThrowDamaged(f.layout.damage);
        }
        std::string out = f.bytes.substr(0, kHeaderSize);
        marker = 2;
        std::int16_t kind1 = 0;
        std::int16_t others = 0;
        marker = 3;
        for (const RecordFrame& frame : f.layout.records) {
            marker = 4;
            if (frame.kind < kFirstDeletedKind) {
                out.append(f.bytes, frame.offset, static_cast<std::size_t>(frame.length));
                marker = 5;
                if (frame.kind == 1) {
                    ++kind1;
                } else {
                    ++others;
                }
            }
            marker = 6;
        }
        PutInt16(out, kKind1CountOffset, kind1);
        PutInt16(out, kKind2CountOffset, others);
        PutInt16(out, kDeletedCountOffset, 0);

        marker = 7;
        std::string tmpPath = m.state.path;
        tmpPath.replace(tmpPath.size() - 4, 4, ".tmp");
        struct stat st {};
        const mode_t mode = (::fstat(m.fd, &st) == 0) ? (st.st_mode & 07777) : 0644;
        WriteNewFile(tmpPath, out, mode);
        marker = 8;
        const std::string path = m.state.path;
        marker = 9;
        if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
            const int error = errno;
            ::unlink(tmpPath.c_str());
            throw SystemFailure("Cannot replace the criterion file", path, error);
        }
        SyncFolderOf(path);
        marker = 10;
        const int number = m.state.gFzyFile;
        ::close(m.fd);
        m.fd = -1;
        m.state.gFzyFile = 0;
        m.state.path.clear();
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            throw SystemFailure("Cannot open the compacted criterion file", path, errno);
        }
        m.fd = fd;
        m.state.gFzyFile = number;
        m.state.path = path;
        m.state.Kind1Count = kind1;
        m.state.Kind2Count = others;
        m.state.DeletedCount = 0;
    } catch (...) {
        ReportFzyFailure(CurrentFailure(), "fzy_io_compressfzy", marker);
    }
}

}  // namespace vark
