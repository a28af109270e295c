#include "criterion_file/AtomicFile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "criterion_file/FzyModule.h"
#include "support/OwnTemporary.h"

namespace vark::fzy {

namespace fs = std::filesystem;

std::string FolderOf(const std::string& path) {
    std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

namespace {

constexpr int kMaxLinks = 40;

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return current;
        }
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
            throw SystemFailure("Cannot read the symbolic link", current,
                                n < 0 ? errno : ENAMETOOLONG);
        }
        const fs::path target(std::string(buffer, static_cast<std::size_t>(n)));
        current = target.is_absolute() ? target.string()
                                       : (fs::path(FolderOf(current)) / target).string();
    }
    throw SystemFailure("Cannot follow the symbolic links of", path, ELOOP);
}

void ReplaceFileWhole(const std::string& target, std::string_view bytes) {
    struct stat old {};
    bool hasOld = true;
    if (::stat(target.c_str(), &old) != 0) {
        if (errno != ENOENT) {
            throw SystemFailure("Cannot examine the criterion file", target, errno);
        }
        hasOld = false;
    }
    RemoveOwnLeftovers(target);
    const mode_t mode = hasOld ? (old.st_mode & 07777) : 0666;
    std::string tmp;
    TemporaryLock lock;
    const int fd = CreateOwnTemporary(target, mode, tmp, lock);
    if (fd < 0) {
        throw SystemFailure("Cannot create the temporary file", tmp, errno);
    }
    auto fail = [&](const char* what, int error) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw SystemFailure(what, tmp, error);
    };
    if (hasOld) {
        // Best effort: only the superuser may give a file away, and a file
        // it rewrites should stay its owner's.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            errno = 0;
        }
        // The mode asked for at creation is cut by the umask.
        if (::fchmod(fd, mode) != 0) {
            fail("Cannot set the mode of the temporary file", errno);
        }
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            fail("Cannot write the temporary file", errno);
        }
        if (n == 0) {
            fail("Cannot write the temporary file", ENOSPC);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        fail("Cannot flush the temporary file", errno);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tmp.c_str());
        throw SystemFailure("Cannot close the temporary file", tmp, error);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tmp.c_str());
        throw SystemFailure("Cannot replace the criterion file", target, error);
    }
    // The rename is visible to every reader already; this makes it last
    // through a power cut.
    SyncFolder(FolderOf(target));
}

}  // namespace vark::fzy
