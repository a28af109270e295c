#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/FileFunctions.h"
#include "support/RecordingUi.h"
#include "testing/TempDir.h"

namespace vark {
namespace {

TEST(FileExists, BothProbes) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.path() / "sub");
    for (const char* name : {"roads.shp", "roads.dbf", "x[1].txt", ".hidden"}) {
        std::ofstream(dir.file(name)) << "x";
    }
    struct Case {
        std::string path;
        bool exists;
    } cases[] = {
        {dir.file("roads.shp"), true},
        {dir.file("sub"), true},  // a folder
        {dir.path().string(), true},
        {dir.file("*.shp"), true},  // wildcard matching one entry
        {dir.file("road?.dbf"), true},
        {dir.file("*"), true},
        {dir.file("*.gpkg"), false},   // wildcard matching nothing
        {dir.file("x[1].txt"), true},  // brackets are ordinary characters
        {dir.file("x1.txt"), false},
        {dir.file("x[1]*"), true},
        {dir.file("x[0-9]*"), false},      // no character classes
        {dir.file("*/roads.shp"), false},  // wildcards only in the last part
        {dir.file("missing.shp"), false},
        {dir.file("missing/roads.shp"), false},
        {"", false},
    };
    ScopedRecordingUi ui;
    for (const auto& c : cases) EXPECT_EQ(FileExists(c.path, false), c.exists) << c.path;
    EXPECT_TRUE(ui->calls.empty()) << "no message without showMessage";
}

TEST(FileExists, MessageNamesTheMissingPath) {
    ScopedRecordingUi ui;
    EXPECT_FALSE(FileExists("/no/such/text.db", true));
    EXPECT_FALSE(FileExists("", true));
    EXPECT_TRUE(FileExists("/", true));
    const auto boxes = ui->messages();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].prompt, "File does not exist.\r\n/no/such/text.db");
    EXPECT_EQ(boxes[0].icon, MsgIcon::Critical);
    EXPECT_EQ(boxes[0].title, "");
    EXPECT_EQ(boxes[1].prompt, "File does not exist.\r\n");
}

}  // namespace
}  // namespace vark
