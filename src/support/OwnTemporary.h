#pragma once

// The temporary files the tool writes beside a file it replaces whole.
//
// A temporary file of `<folder>/<name>` is `<folder>/.<name>.vark-tmp-XXXXXX`,
// the last six characters drawn at random from letters and digits: no file
// of the user's has such a name by chance, and two writers never share one.
// The file is created exclusively (never over an existing entry, never
// through a symbolic link) and held under an exclusive flock for as long
// as its writer keeps it open. A leftover (a run stopped between creating
// it and renaming it) is recognised by its name, by being a regular file
// and by nobody holding its lock: only such files are ever removed.

#include <sys/types.h>

#include <string>

namespace vark {

/// The fixed part of every temporary file's name, after ".<name>".
inline constexpr char kOwnTemporaryMark[] = ".vark-tmp-";

/// Whether `entry` (a bare file name) is the name of a temporary file of
/// the file named `targetName` (a bare file name too).
bool IsOwnTemporaryName(const std::string& targetName, const std::string& entry);

/// Holds a temporary file's lock, independently of the descriptor it is
/// written through (which may be closed before the file is renamed); let
/// go when dropped, once the file is renamed or removed.
class TemporaryLock {
public:
    TemporaryLock() = default;
    explicit TemporaryLock(int fd) : m_fd(fd) {}
    ~TemporaryLock() { release(); }
    TemporaryLock(TemporaryLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    TemporaryLock& operator=(TemporaryLock&& other) noexcept;
    TemporaryLock(const TemporaryLock&) = delete;
    TemporaryLock& operator=(const TemporaryLock&) = delete;
    void release() noexcept;

private:
    int m_fd = -1;
};

/// Creates a new temporary file for `target` beside it, with `mode` (cut
/// by the umask), opened for writing; `lock` holds its lock from then on.
/// Returns the descriptor and sets `path`; returns -1 with errno set (and
/// `path` naming the last name tried) when no file could be created.
int CreateOwnTemporary(const std::string& target, mode_t mode, std::string& path,
                       TemporaryLock& lock);

/// Removes the temporary files of `target` that stopped runs left beside
/// it: regular files of the pattern that no live writer holds. Anything
/// else is left alone; a file that cannot be removed is left too (the next
/// write takes a new name anyway). Returns how many were removed.
int RemoveOwnLeftovers(const std::string& target);

}  // namespace vark
