#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "support/OwnTemporary.h"
#include "testing/TempDir.h"

namespace vark {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempDir;
using test::TemporariesIn;
using test::WriteBytes;

TEST(OwnTemporary, NamesAreTheToolsOwnAndNeverTakenTwice) {
    TempDir dir;
    const std::string target = dir.file("parcelles.dbf");
    std::set<std::string> paths;
    std::vector<int> open;
    std::vector<TemporaryLock> locks(20);
    for (TemporaryLock& lock : locks) {
        std::string path;
        const int fd = CreateOwnTemporary(target, 0640, path, lock);
        ASSERT_GE(fd, 0) << path;
        open.push_back(fd);
        const std::string name = fs::path(path).filename().string();
        EXPECT_TRUE(IsOwnTemporaryName("parcelles.dbf", name)) << name;
        EXPECT_EQ(fs::path(path).parent_path(), dir.path());
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), 20u);
    for (int fd : open) ::close(fd);

    // What no user file is called by chance, and only that.
    EXPECT_FALSE(IsOwnTemporaryName("parcelles.dbf", "parcelles.dbf.tmp"));
    EXPECT_FALSE(IsOwnTemporaryName("parcelles.dbf", ".parcelles.dbf.vark-tmp-abc"));
    EXPECT_FALSE(IsOwnTemporaryName("parcelles.dbf", ".parcelles.dbf.vark-tmp-abcdef.bak"));
    EXPECT_FALSE(IsOwnTemporaryName("parcelles.dbf", ".parcelles.dbf.vark-tmp-abc-ef"));
    EXPECT_FALSE(IsOwnTemporaryName("parcelles.fzy", ".parcelles.dbf.vark-tmp-abcdef"));
    EXPECT_TRUE(IsOwnTemporaryName("parcelles.dbf", ".parcelles.dbf.vark-tmp-aB3dE9"));
}

TEST(OwnTemporary, OnlyLeftoversNobodyHoldsAreRemoved) {
    TempDir dir;
    const std::string target = dir.file("p.fzy");
    // The user's own files, one of them much like ours, and a link of our
    // pattern to a file of theirs.
    for (const char* name : {"p.tmp", "p.fzy.tmp", ".p.fzy.vark-tmp-abc", "victim"}) {
        WriteBytes(dir.file(name), "keep me");
    }
    fs::create_symlink(dir.file("victim"), dir.file(".p.fzy.vark-tmp-LINK01"));
    fs::create_directory(dir.file(".p.fzy.vark-tmp-FOLDER"));
    // A stopped run's file, and a live writer's.
    WriteBytes(dir.file(".p.fzy.vark-tmp-dead01"), "half");
    std::string live;
    TemporaryLock liveLock;
    const int fd = CreateOwnTemporary(target, 0600, live, liveLock);
    ASSERT_GE(fd, 0);
    ::close(fd);  // the lock outlives the descriptor the file is written through

    EXPECT_EQ(RemoveOwnLeftovers(target), 1);
    EXPECT_FALSE(fs::exists(dir.file(".p.fzy.vark-tmp-dead01")));
    EXPECT_TRUE(fs::exists(live));
    for (const char* name : {"p.tmp", "p.fzy.tmp", ".p.fzy.vark-tmp-abc", "victim"}) {
        EXPECT_EQ(ReadBytes(dir.file(name)), "keep me") << name;
    }
    EXPECT_TRUE(fs::is_symlink(dir.file(".p.fzy.vark-tmp-LINK01")));
    EXPECT_TRUE(fs::is_directory(dir.file(".p.fzy.vark-tmp-FOLDER")));

    // Once its writer lets go, it is a leftover like any other.
    liveLock.release();
    EXPECT_EQ(RemoveOwnLeftovers(target), 1);
    // The link, the folder and the lookalike stay.
    EXPECT_EQ(TemporariesIn(dir.path()).size(), 3u);
}

}  // namespace
}  // namespace vark
