#include "routes/file/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "routes/file/GdalErrors.h"

namespace vark::routes {

namespace {

class FileLock : public host::UpdateLock {
public:
    explicit FileLock(int fd) : m_fd(fd) {}
    ~FileLock() override { ::close(m_fd); }

private:
    int m_fd;
};

}  // namespace

std::unique_ptr<host::UpdateLock> LockFile(const std::string& file, std::int32_t waitMilliseconds,
                                           const std::string& description) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return nullptr;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw Failure(err::kPermissionDenied,
                      "Cannot lock " + description + ": " + std::strerror(errno), kGdalSource);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int cause = errno;
        if ((cause != EWOULDBLOCK && cause != EINTR) ||
            std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            if (cause == EWOULDBLOCK || cause == EINTR) {
                throw Failure(err::kPermissionDenied,
                              "Another run is changing " + description +
                                  "; nothing was changed. Try again once it has finished.",
                              kGdalSource);
            }
            throw Failure(err::kPermissionDenied,
                          "Cannot lock " + description + ": " + std::strerror(cause), kGdalSource);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return std::make_unique<FileLock>(fd);
}

}  // namespace vark::routes
