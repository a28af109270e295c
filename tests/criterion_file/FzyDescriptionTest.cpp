// A criterion field's description as a result: the text the description
// target receives from fzy_io_numberinfo then fzy_io_recordinfo, for the
// same file and field, and the damage those report in a message box.

#include <gtest/gtest.h>

#include <memory>

#include "criterion_file/FzyDescription.h"
#include "criterion_file/fzy_io.h"
#include "support/Failure.h"
#include "testing/FzyTestSupport.h"

namespace vark::test {
namespace {

using Status = FieldDescription::Status;

class FzyDescription : public FzyTest {
protected:
    /// What the description window ends with after the readers ran on the
    /// module's open file, as the dialog calls them.
    std::string DescribedThroughTheTarget(const std::string& layer, const std::string& field) {
        const auto buffer = std::make_shared<DescriptionBuffer>();
        const auto previous = SetDescriptionTarget(buffer);
        std::string path = folder();
        std::string name = layer;
        fzy_io_open(path, name);
        fzy_io_numberinfo(field);
        fzy_io_recordinfo(field, "");
        fzy_io_close();
        SetDescriptionTarget(previous);
        return buffer->text();
    }
};

TEST_F(FzyDescription, TextIsWhatTheDescriptionTargetReceives) {
    const std::array<std::string, 9> t = {"a1", "x", "x", "src", "/in", "dem", "c2", "/in2", "d2"};
    struct Case {
        const char* what;
        std::string bytes;
        std::string field;
        Status status;
    };
    const Case cases[] = {
        {"kind 2", Header(0, 2, 0) + Kind2("G", "other") + Kind2("F", "first"), "F",
         Status::kFound},
        {"kind 1", Header(1, 0, 0) + Record(1, Kind1Body("F", 4, t, 45306.25)), "F",
         Status::kFound},
        // The kind-1 record is what the window ends with.
        {"both", Header(1, 1, 0) + Kind1("F") + Kind2("F"), "F", Status::kFound},
        {"deleted only", Header(0, 2, 2) + Kind2("F", "a", 12) + Kind1("F", "t", 11), "F",
         Status::kNoRecord},
        {"none", Header(0, 1, 0) + Kind2("G"), "F", Status::kNoRecord},
        {"no name", Header(1, 0, 0) + Kind1(""), "", Status::kNoRecord},
        // Bytes after the counted records: not sound, but readable.
        {"trailing bytes", Header(0, 1, 0) + Kind2("F") + "junk", "F", Status::kFound},
        {"new file", std::string(8, '\0'), "F", Status::kNoRecord},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(fzy("p"), c.bytes);
        const std::string expected = DescribedThroughTheTarget("p", c.field);
        const FieldDescription d = DescribeCriterionField(folder(), "p.shp", c.field);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.text, expected);
        EXPECT_EQ(d.status == Status::kFound, !expected.empty());
        EXPECT_FALSE(d.failure.has_value());
        EXPECT_EQ(ReadBytes(fzy("p")), c.bytes);
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FzyDescription, DamageIsReportedNotShownAndNothingIsCreated) {
    // Two kind-2 records counted, one there.
    const std::string damaged = Header(0, 2, 0) + Kind2("F");
    WriteBytes(fzy("p"), damaged);
    EXPECT_EQ(DescribedThroughTheTarget("p", "F"), "");
    // The readers say it in a message box each...
    EXPECT_EQ(Messages().size(), 2u);
    const FieldDescription d = DescribeCriterionField(folder(), "p", "F");
    // ...the result says it once, without a box.
    EXPECT_EQ(Messages().size(), 2u);
    EXPECT_EQ(d.status, Status::kDamaged);
    EXPECT_EQ(d.text, "");
    ASSERT_TRUE(d.failure.has_value());
    EXPECT_EQ(d.failure->number(), fzy::kDamagedFileError);
    EXPECT_NE(d.failure->description().find(fzy("p")), std::string::npos);
    EXPECT_EQ(ReadBytes(fzy("p")), damaged);

    // A layer without a criterion file gets none for asking.
    EXPECT_EQ(DescribeCriterionField(folder(), "q", "F").status, Status::kNoFile);
    EXPECT_FALSE(std::filesystem::exists(fzy("q")));
    // A workspace with no place for one: a failure, not a missing file.
    const FieldDescription failed = DescribeCriterionField(folder() + "/missing", "p", "F");
    EXPECT_EQ(failed.status, Status::kFailed);
    ASSERT_TRUE(failed.failure.has_value());
    EXPECT_EQ(failed.failure->number(), err::kPathNotFound);
}

TEST_F(FzyDescription, LeavesTheModulesOpenFileAlone) {
    WriteBytes(fzy("p"), Header(0, 1, 0) + Kind2("F"));
    WriteBytes(fzy("other"), Header(0, 2, 0) + Kind2("A") + Kind2("B"));
    Open("other");
    EXPECT_EQ(DescribeCriterionField(folder(), "p", "F").status, Status::kFound);
    EXPECT_EQ(FzyState().path, fzy("other"));
    EXPECT_EQ(FzyState().Kind2Count, 2);
    EXPECT_TRUE(fzy_io_numberinfo("B"));
}

}  // namespace
}  // namespace vark::test
