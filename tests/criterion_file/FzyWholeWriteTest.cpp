// Every change of a criterion file replaces it whole; opening and reading
// never write; the append can be checked before anything else changes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "criterion_file/FzyLayout.h"
#include "criterion_file/fzy_io.h"
#include "host/fake/FakeHost.h"
#include "support/Failure.h"
#include "testing/FzyTestSupport.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::int32_t FailureNumber(const std::function<void()>& action, std::string* text = nullptr) {
    try {
        action();
    } catch (const Failure& f) {
        if (text != nullptr) {
            *text = f.description();
        }
        return f.number();
    }
    return 0;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class FzyWholeWrite : public FzyTest {
protected:
    void SetUp() override {
        FzyTest::SetUp();
        app = std::make_shared<host::fake::FakeApplication>();
        g_pApplication() = app;
        auto fc = app->addWorkspace(folder())->createFeatureClass(
            "p", host::kShapePolygon, {host::fake::MakeField("A", host::kFieldDouble)});
        app->addFeatureLayer("p", fc);
    }

    static void Append(const std::string& name = "N") {
        fzy_io_addrecord(name, name, 999, 0, 0, 0, 0, "/w", "p");
    }

    std::shared_ptr<host::fake::FakeApplication> app;
};

TEST_F(FzyWholeWrite, OpeningAndReadingWriteNothing) {
    struct Case {
        const char* name;
        bool exists;
        std::string bytes;
    };
    const Case cases[] = {
        {"missing", false, ""},
        {"empty", true, ""},
        {"eight bytes left by a peer", true, I16(1) + I16(0) + I16(0) + I16(0)},
        {"23 bytes, odd mark", true, I16(7) + std::string(21, '\0')},
        {"short and damaged", true, I16(1) + I16(0) + I16(1)},
        {"sound", true, Header(0, 1, 0) + Kind2("A")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(fzy("p"));
        if (c.exists) {
            WriteBytes(fzy("p"), c.bytes);
        }
        Open("p");
        EXPECT_EQ(FzyState().OpenStatus, c.bytes.size() < 24 ? "New" : "Old");
        fzy_io_numberinfo("A");
        fzy_io_recordinfo("A", "");
        fzy_io_valid("p", folder());  // every field exists: nothing to drop
        fzy_io_close();
        EXPECT_EQ(fs::exists(fzy("p")), c.exists);
        EXPECT_EQ(ReadBytes(fzy("p")), c.bytes);
        EXPECT_TRUE(test::TemporariesIn(dir.path()).empty());
    }
}

TEST_F(FzyWholeWrite, LinkIsFollowedAndStaysALink) {
    // The criterion file is a link into another folder, relative and
    // absolute, possibly through a second link; both the append and the
    // compaction (which once put a plain file in the link's place) replace
    // the target.
    const fs::path store = dir.path() / "store";
    fs::create_directory(store);
    struct Case {
        const char* name;
        std::function<void()> link;
    };
    const Case cases[] = {
        {"relative", [&] { fs::create_symlink("store/real.fzy", fzy("p")); }},
        {"absolute", [&] { fs::create_symlink(store / "real.fzy", fzy("p")); }},
        {"chain",
         [&] {
             fs::create_symlink("real.fzy", store / "hop.fzy");
             fs::create_symlink(store / "hop.fzy", fzy("p"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(fzy("p"));
        fs::remove(store / "hop.fzy");
        WriteBytes((store / "real.fzy").string(), Header(0, 2, 0) + Kind2("A") + Kind2("GONE"));
        c.link();

        Open("p");
        EXPECT_EQ(fzy_io_valid("p", folder()), 1);
        Append("B");
        fzy_io_close();

        EXPECT_TRUE(fs::is_symlink(fzy("p")));
        const std::string bytes = ReadBytes((store / "real.fzy").string());
        const fzy::FzyLayout layout = fzy::ReadFzyLayout(bytes);
        ASSERT_TRUE(layout.sound()) << layout.damage;
        ASSERT_EQ(layout.records.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 23 + Kind2("A").size()), Header(0, 2, 0) + Kind2("A"));
        EXPECT_EQ(fzy::RecordFieldName(bytes, layout.records[1]), "B");
        EXPECT_EQ(std::distance(fs::directory_iterator(store), {}), c.name[0] == 'c' ? 2 : 1);
        EXPECT_TRUE(test::TemporariesIn(dir.path()).empty());
    }
    // A dangling link gets its target created.
    fs::remove(store / "real.fzy");
    Open("p");
    Append("C");
    fzy_io_close();
    EXPECT_TRUE(fs::is_symlink(fzy("p")));
    EXPECT_EQ(ReadBytes((store / "real.fzy").string()).substr(0, 23), Header(0, 1, 0));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FzyWholeWrite, ModeIsKeptAndTheNewFileFollowsTheUmask) {
    WriteBytes(fzy("p"), Header(0, 2, 0) + Kind2("A") + Kind2("GONE"));
    fs::permissions(fzy("p"), static_cast<fs::perms>(0640));
    Open("p");
    Append("B");
    EXPECT_EQ(ModeOf(fzy("p")), 0640u);
    fs::permissions(fzy("p"), static_cast<fs::perms>(0604));
    fzy_io_valid("p", folder());
    EXPECT_EQ(ModeOf(fzy("p")), 0604u);
    fzy_io_close();

    const mode_t mask = ::umask(027);
    Open("q");
    Append();
    fzy_io_close();
    ::umask(mask);
    EXPECT_EQ(ModeOf(fzy("q")), 0640u);
}

TEST_F(FzyWholeWrite, FailedReplacementLeavesTheFileAndNoTemporaryFile) {
    const std::string file = Header(0, 2, 0) + Kind2("A") + Kind2("GONE");
    WriteBytes(fzy("p"), file);
    // A leftover temporary file of a killed run is removed by the next
    // change; the user's own files of names much like it are not.
    WriteBytes(dir.file(".p.fzy.vark-tmp-dead01"), std::string(3000, 'z'));
    WriteBytes(dir.file("p.tmp"), "the user's");
    fs::create_directory(dir.file("p.fzy.tmp"));
    Open("p");
    Append("B");
    EXPECT_TRUE(test::TemporariesIn(dir.path()).empty());
    EXPECT_EQ(ReadBytes(dir.file("p.tmp")), "the user's");
    EXPECT_TRUE(fs::is_directory(dir.file("p.fzy.tmp")));
    const std::string appended = ReadBytes(fzy("p"));
    EXPECT_EQ(appended.size(), file.size() + 56 + 1 + 1 + 2 + 1);

    // A write that fails midway (as on a full disk): the append fails, the
    // file is untouched, no temporary file stays, and the module still
    // reads it.
    std::string text;
    {
        test::FileSizeLimit full(16);
        EXPECT_EQ(FailureNumber([] { Append("C"); }, &text), err::kDeviceIoError);
    }
    EXPECT_THAT(text, HasSubstr(".p.fzy.vark-tmp-"));
    EXPECT_EQ(ReadBytes(fzy("p")), appended);
    EXPECT_TRUE(test::TemporariesIn(dir.path()).empty());
    EXPECT_EQ(FzyState().Kind2Count, 3);
    EXPECT_TRUE(fzy_io_numberinfo("B"));
    fzy_io_close();
    EXPECT_EQ(ReadBytes(dir.file("p.tmp")), "the user's");
}

TEST_F(FzyWholeWrite, CheckAppendTellsEveryKnownFailureBeforehand) {
    EXPECT_EQ(FailureNumber([] { FzyCheckAppend("F", "F", "/w", "p"); }),
              err::kBadFileNameOrNumber);

    // Sizes as in the append's own limit: a record of 60 bytes fits a file
    // of 32706 bytes and not one of 32707.
    const auto filled = [](std::size_t size) {
        const std::size_t pad = size - 23 - 65;
        return Header(0, 1, 0) +
               Record(2, Kind2Body("FILL", "FILL", std::string(pad, 'x'), "p", 45000.0));
    };
    struct Case {
        const char* name;
        bool exists;
        std::string bytes;
        std::string fieldName;
        std::int32_t number;
    };
    const Case cases[] = {
        {"new file", false, "", "F", 0},
        {"just fits", true, filled(32706), "F", 0},
        {"one byte too many", true, filled(32707), "F", err::kOverflow},
        {"text too long", false, "", std::string(40000, 'x'), err::kOverflow},
        {"damaged", true, Header(0, 2, 0) + Kind2("A"), "F", fzy::kDamagedFileError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(fzy("p"));
        if (c.exists) {
            WriteBytes(fzy("p"), c.bytes);
        }
        Open("p");
        EXPECT_EQ(FailureNumber([&] { FzyCheckAppend(c.fieldName, "F", "w", "p"); }), c.number);
        // The append agrees, and the check wrote nothing.
        EXPECT_EQ(fs::exists(fzy("p")), c.exists);
        EXPECT_EQ(ReadBytes(fzy("p")), c.bytes);
        EXPECT_EQ(
            FailureNumber([&] { fzy_io_addrecord(c.fieldName, "F", 999, 0, 0, 0, 0, "w", "p"); }),
            c.number);
        fzy_io_close();
    }
}

TEST_F(FzyWholeWrite, ReadOnlyFolderRefusesChangesWithItsReason) {
    if (geteuid() == 0) {
        GTEST_SKIP()
            << "permissions do not bind the superuser (the fault-injection test covers it)";
    }
    const std::string file = Header(0, 2, 0) + Kind2("A") + Kind2("GONE");
    WriteBytes(fzy("p"), file);
    fs::permissions(dir.path(), static_cast<fs::perms>(0555));
    Open("p");
    EXPECT_TRUE(FzyState().readOnly);
    EXPECT_TRUE(fzy_io_numberinfo("A"));
    std::string text;
    EXPECT_EQ(FailureNumber([] { FzyCheckAppend("F", "F", "w", "p"); }, &text),
              err::kPermissionDenied);
    EXPECT_THAT(text, HasSubstr("folder"));
    EXPECT_EQ(FailureNumber([] { Append(); }), err::kPermissionDenied);
    EXPECT_EQ(fzy_io_valid("p", folder()), 0);
    fzy_io_close();
    fs::permissions(dir.path(), static_cast<fs::perms>(0755));
    EXPECT_EQ(ReadBytes(fzy("p")), file);
}

}  // namespace
}  // namespace vark::test
