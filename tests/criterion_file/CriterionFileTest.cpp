// Open criterion files as objects: each keeps its own state and descriptor,
// and none disturbs the module's open file or another object's.

#include <gtest/gtest.h>

#include <filesystem>

#include "criterion_file/CriterionFile.h"
#include "testing/FzyTestSupport.h"

namespace vark::test {
namespace {

int OpenDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n;
}

fzy::Kind2Record Record(const std::string& field) {
    return fzy::MakeKind2(field, field, 999, 0, 0, 0, 0, "/data", "parcelles");
}

class CriterionFileTest : public FzyTest {
protected:
    void OpenOn(fzy::CriterionFile& file, std::string layer) {
        std::string path = folder();
        file.Open(path, layer);
    }
};

TEST_F(CriterionFileTest, ObjectsKeepTheirOwnStateAndLeaveTheModulesFileAlone) {
    const std::string other = Header(0, 1, 0) + Kind2("M");
    WriteBytes(fzy("a"), Header(1, 0, 0) + Kind1("K"));
    WriteBytes(fzy("m"), other);
    Open("m");
    const int descriptors = OpenDescriptors();
    {
        fzy::CriterionFile a;
        fzy::CriterionFile b;
        OpenOn(a, "a.shp");
        OpenOn(b, "b");
        EXPECT_EQ(a.state().OpenStatus, "Old");
        EXPECT_EQ(b.state().OpenStatus, "New");
        // Numbered by each object, from 1.
        EXPECT_EQ(a.state().gFzyFile, 1);
        EXPECT_EQ(b.state().gFzyFile, 1);
        a.AddRecord(Record("FZY_A"));
        b.AddRecord(Record("FZY_B"));
        b.AddRecord(Record("FZY_C"));
        EXPECT_EQ(a.state().Kind1Count, 1);
        EXPECT_EQ(a.state().Kind2Count, 1);
        EXPECT_EQ(b.state().Kind2Count, 2);
        EXPECT_EQ(b.state().path, fzy("b"));
        int marker = 0;
        EXPECT_TRUE(a.DescribeRecord(2, "FZY_A", marker).has_value());
        EXPECT_FALSE(a.DescribeRecord(2, "FZY_B", marker).has_value());
        // Left open: the objects close their files as they go.
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);
    EXPECT_EQ(FzyState().path, fzy("m"));
    EXPECT_EQ(FzyState().Kind2Count, 1);
    EXPECT_EQ(ReadBytes(fzy("m")), other);
    EXPECT_TRUE(fzy_io_numberinfo("M"));
    EXPECT_TRUE(Messages().empty());
}

TEST_F(CriterionFileTest, AWriteReadsWhatAnotherObjectWroteSinceItsOpening) {
    WriteBytes(fzy("p"), Header(0, 1, 0) + Kind2("FZY_OLD"));
    fzy::CriterionFile first;
    fzy::CriterionFile second;
    OpenOn(first, "p");
    OpenOn(second, "p");
    second.ReplaceKind2(Record("FZY_OLD"));
    // The other object's record is kept, and its replacement seen.
    first.AddRecord(Record("FZY_NEW"));
    int marker = 0;
    EXPECT_TRUE(first.DescribeRecord(2, "FZY_OLD", marker).has_value());
    EXPECT_EQ(first.state().Kind2Count, 3);
    EXPECT_EQ(first.state().DeletedCount, 1);
    const std::string bytes = ReadBytes(fzy("p"));
    EXPECT_EQ(bytes.substr(4, 4), I16(3) + I16(1));
}

}  // namespace
}  // namespace vark::test
