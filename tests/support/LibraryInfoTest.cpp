#include <gtest/gtest.h>

#include <filesystem>

#include "support/Failure.h"
#include "support/LibraryInfo.h"

namespace vark {
namespace {

TEST(LibraryInfo, FindsTheLoadedLibraryAndItsVersion) {
    EXPECT_EQ(LibraryFileName(), "VARK_fuzzy.so");
    EXPECT_EQ(LibraryBaseName(), "VARK_fuzzy");
    const std::filesystem::path folder(LibraryFolder());
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(folder / "VARK_fuzzy.so"));
    // The build puts the text database beside the library.
    EXPECT_TRUE(std::filesystem::exists(folder / "text.db"));

    const LibraryVersion v = GetLibraryVersion();
    EXPECT_EQ(v.major, 10);
    EXPECT_EQ(v.minor, 3);
    EXPECT_EQ(v.revision, 2);
    EXPECT_EQ(LibraryFileVersionText(), "10.03.0002");
}

TEST(LibraryInfo, JoinPathUsesOneSeparator) {
    EXPECT_EQ(JoinPath("/a/b", "c.db"), "/a/b/c.db");
    EXPECT_EQ(JoinPath("/", "c.db"), "/c.db");
}

TEST(CurrentFailure, TurnsAnyExceptionIntoAFailure) {
    auto caught = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return CurrentFailure();
        }
        return Failure(0, "not thrown");
    };
    const Failure own = caught([] { throw Failure(-5, "own text", "own source"); });
    EXPECT_EQ(own.number(), -5);
    EXPECT_EQ(own.description(), "own text");
    EXPECT_EQ(own.source(), "own source");

    const Failure std = caught([] { throw std::runtime_error("disk on fire"); });
    EXPECT_EQ(std.number(), err::kUnexpected);
    EXPECT_EQ(std.description(), "disk on fire");
    EXPECT_EQ(std.source(), "VARK_fuzzy");

    const Failure other = caught([] { throw 42; });
    EXPECT_EQ(other.number(), err::kUnexpected);
    EXPECT_EQ(other.description(), "Unknown error");

    EXPECT_EQ(CurrentFailure().description(), "Unknown error");  // nothing in flight
}

}  // namespace
}  // namespace vark
