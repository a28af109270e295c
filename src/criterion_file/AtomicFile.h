#pragma once

// The one way the criterion file module changes a file on disk: the complete
// new content goes to a temporary file beside the old one, is flushed to
// disk and renamed over it, then the folder is flushed. Whatever stops the
// program, the file holds either its old bytes or its new bytes, whole.

#include <string>
#include <string_view>

namespace vark::fzy {

/// The file `path` names once its symbolic links are followed, link by link
/// (a relative link is read from the link's own folder): `path` itself when
/// it is no link or does not exist, the last target of the chain otherwise,
/// even when that target does not exist yet. Throws Failure 57 for a chain
/// of more than 40 links or a link that cannot be read.
std::string FollowLinks(const std::string& path);

/// The folder of the file `path`: "." for a bare file name.
std::string FolderOf(const std::string& path);

/// Replaces the file `target` (a path that is no symbolic link: see
/// FollowLinks) by `bytes`:
/// 1. the temporary files a stopped run left are removed, and a new one is
///    created exclusively beside `target` under a name of the tool's own
///    (support/OwnTemporary.h), with the owner and mode of the old file (a
///    new file gets the mode the umask allows);
/// 2. the bytes are written and flushed to disk (fsync), the file closed;
/// 3. it is renamed over `target`, and the folder is flushed.
/// A failure at any step throws Failure (70 permission, 76 missing folder,
/// 57 otherwise, with the system's reason, e.g. "No space left on device")
/// and leaves `target` as it was and no temporary file behind. Only a
/// failed flush of the folder, once the rename is done, is not reported:
/// the new file is then in place and every reader sees it.
void ReplaceFileWhole(const std::string& target, std::string_view bytes);

}  // namespace vark::fzy
