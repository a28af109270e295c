// The criterion file of one computation: validated against the feature
// class it is given, the record appended, closed exactly once whatever the
// way out.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "criterion_file/CriterionFileRun.h"
#include "host/fake/FakeHost.h"
#include "support/Failure.h"
#include "testing/FzyTestSupport.h"

namespace vark::test {
namespace {

using host::fake::FakeFeatureClass;
using host::fake::FakeWorkspace;
using host::fake::MakeField;
using ::testing::ElementsAre;
using ::testing::EndsWith;

class CriterionFileRunTest : public FzyTest {
protected:
    std::shared_ptr<FakeFeatureClass> Class(const std::vector<std::string>& fields) {
        std::vector<host::Field> list;
        for (const auto& f : fields) list.push_back(MakeField(f, host::kFieldDouble));
        return m_workspace->createFeatureClass("parcelles", host::kShapePolygon, list);
    }

    std::shared_ptr<FakeWorkspace> m_workspace =
        std::make_shared<FakeWorkspace>(folder(), host::kWorkspaceFileSystem);
};

TEST_F(CriterionFileRunTest, ValidatesAgainstTheFieldsOfTheClassItIsGiven) {
    // "FZY_Ω" is stored as "FZY_?": its record is found through the
    // stored form of the field's name.
    const std::string kept = Kind2("FZY_A") + Kind2("FZY_?") + Kind1("K1");
    WriteBytes(fzy("parcelles"),
               Header(1, 3, 0) + Kind2("FZY_A") + Kind2("FZY_GONE") + Kind2("FZY_?") + Kind1("K1"));
    {
        // The display name of a shapefile layer: the file drops ".shp", and
        // the class's fields decide all the same.
        CriterionFileRun run(folder(), "parcelles.shp", FieldsOf(Class({"FZY_A", "FZY_Ω", "K1"})));
        EXPECT_EQ(run.layerName(), "parcelles");
        // The run's own file: the module's stays closed.
        EXPECT_EQ(run.state().path, fzy("parcelles"));
        EXPECT_TRUE(FzyState().path.empty());
    }
    EXPECT_EQ(ReadBytes(fzy("parcelles")), Header(1, 2, 0) + kept);
    EXPECT_TRUE(FzyState().path.empty());
    EXPECT_TRUE(Messages().empty());

    // A class whose fields cannot be read removes nothing, and says why.
    { CriterionFileRun run(folder(), "parcelles", FieldsOf(nullptr)); }
    EXPECT_EQ(ReadBytes(fzy("parcelles")), Header(1, 2, 0) + kept);
    // Asked once per live record, as the check by layer name is.
    EXPECT_THAT(Messages(),
                ElementsAre(EndsWith(" fzy_io_check Debug=2"), EndsWith(" fzy_io_check Debug=2"),
                            EndsWith(" fzy_io_check Debug=2")));
}

TEST_F(CriterionFileRunTest, AppendsTheRecordAndClosesExactlyOnce) {
    const auto fields = FieldsOf(Class({"FZY_NATURE"}));
    std::string path = folder();
    std::string other = "autre";
    {
        CriterionFileRun run(folder(), "parcelles.shp", fields);
        run.RequireWritable();
        run.AddTextCriterion("FZY_NATURE");
        EXPECT_TRUE(FzyState().path.empty());
        // Closed already: a file opened since is not the run's to write or close.
        fzy_io_open(path, other);
        EXPECT_THROW(run.RequireWritable(), Failure);
        EXPECT_THROW(run.AddTextCriterion("FZY_X"), Failure);
    }
    EXPECT_EQ(FzyState().path, fzy("autre"));
    EXPECT_EQ(FzyState().Kind2Count, 0);

    // A file the module opens during a run stays open after it.
    {
        CriterionFileRun run(folder(), "parcelles", fields);
        fzy_io_open(path, other);
    }
    EXPECT_EQ(FzyState().path, fzy("autre"));

    std::string layer = "parcelles";
    fzy_io_open(path, layer);
    EXPECT_EQ(FzyState().Kind2Count, 1);
    EXPECT_TRUE(fzy_io_numberinfo("FZY_NATURE"));
    fzy_io_close();
    // The record names the layer as the file does, without ".shp".
    EXPECT_NE(ReadBytes(fzy("parcelles")).find(Txt(path) + Txt("parcelles")), std::string::npos);

    EXPECT_THROW(CriterionFileRun(folder() + "/missing", "parcelles", fields), Failure);
    EXPECT_TRUE(FzyState().path.empty());
}

}  // namespace
}  // namespace vark::test
