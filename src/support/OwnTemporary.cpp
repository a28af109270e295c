#include "support/OwnTemporary.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string_view>

namespace vark {

namespace {

constexpr std::string_view kAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr std::size_t kRandomLength = 6;
constexpr int kAttempts = 100;

struct Parts {
    std::string folder;  ///< "." for a bare name
    std::string name;
};

Parts Split(const std::string& target) {
    const std::filesystem::path path(target);
    std::string folder = path.parent_path().string();
    return {folder.empty() ? std::string(".") : folder, path.filename().string()};
}

std::string Prefix(const std::string& targetName) {
    return "." + targetName + kOwnTemporaryMark;
}

}  // namespace

bool IsOwnTemporaryName(const std::string& targetName, const std::string& entry) {
    const std::string prefix = Prefix(targetName);
    if (entry.size() != prefix.size() + kRandomLength || !entry.starts_with(prefix)) {
        return false;
    }
    return entry.find_first_not_of(kAlphabet, prefix.size()) == std::string::npos;
}

TemporaryLock& TemporaryLock::operator=(TemporaryLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void TemporaryLock::release() noexcept {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int CreateOwnTemporary(const std::string& target, mode_t mode, std::string& path,
                       TemporaryLock& lock) {
    const Parts parts = Split(target);
    const std::string prefix = parts.folder + "/" + Prefix(parts.name);
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string candidate = prefix;
        for (std::size_t i = 0; i < kRandomLength; ++i) {
            candidate += kAlphabet[pick(device)];
        }
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0) {
            // Nobody else knows the name yet: the lock is had at once. The
            // lock belongs to the open file, which the copy keeps open.
            ::flock(fd, LOCK_EX | LOCK_NB);
            lock = TemporaryLock(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
            path = std::move(candidate);
            return fd;
        }
        if (errno != EEXIST) {
            path = std::move(candidate);
            return -1;
        }
    }
    path = prefix;
    errno = EEXIST;
    return -1;
}

int RemoveOwnLeftovers(const std::string& target) {
    const Parts parts = Split(target);
    DIR* folder = ::opendir(parts.folder.c_str());
    if (folder == nullptr) {
        return 0;
    }
    int removed = 0;
    const int folderFd = ::dirfd(folder);
    while (const dirent* entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (!IsOwnTemporaryName(parts.name, name)) {
            continue;
        }
        const int fd =
            ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;  // a link, gone meanwhile, or not ours to read
        }
        struct stat st {};
        // A live writer holds its file's lock until it has renamed or removed it.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat now {};
            // Still the same file under that name: remove it.
            if (::fstatat(folderFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
                ::unlinkat(folderFd, name.c_str(), 0) == 0) {
                ++removed;
            }
        }
        ::close(fd);
    }
    ::closedir(folder);
    return removed;
}

}  // namespace vark
