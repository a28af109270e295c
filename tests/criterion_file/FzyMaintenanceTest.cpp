#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "criterion_file/FzyRepair.h"
#include "criterion_file/fzy_io.h"
#include "host/fake/FakeHost.h"
#include "support/Failure.h"
#include "testing/FzyTestSupport.h"

namespace vark::test {
namespace {

namespace fs = std::filesystem;
using host::fake::FakeApplication;
using host::fake::FakeLayer;
using host::fake::MakeField;
using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class FzyMaintenance : public FzyTest {
protected:
    void SetUp() override {
        FzyTest::SetUp();
        app = std::make_shared<FakeApplication>();
        g_pApplication() = app;
    }

public:
    /// A polygon layer named `name` with double fields named `fields`.
    void AddLayer(const std::string& name, const std::vector<std::string>& fields) {
        std::vector<host::Field> list;
        for (const auto& f : fields) {
            list.push_back(MakeField(f, host::kFieldDouble));
        }
        auto fc = app->addWorkspace(folder())->createFeatureClass(name, host::kShapePolygon, list);
        app->addFeatureLayer(name, fc);
    }

    std::int16_t Valid(const std::string& layer = "parcelles") {
        return fzy_io_valid(layer, folder());
    }

    /// The tool's temporary files in the folder.
    std::vector<std::string> tmps() const { return test::TemporariesIn(dir.path()); }

    std::shared_ptr<FakeApplication> app;
};

TEST_F(FzyMaintenance, VanishedFieldIsMarkedThenCompactedAway) {
    AddLayer("parcelles", {"FZY_A", "FZY_C"});
    const std::string a = Kind2("FZY_A", "a");
    const std::string b = Kind2("FZY_B", "b");
    const std::string c = Kind2("FZY_C", "c");
    const std::string original = Header(0, 3, 0) + a + b + c;
    WriteBytes(fzy("parcelles"), original);
    // A failed write of the temporary file stops the compaction: the
    // marking was only in memory, so the file is left exactly as it was.
    Open("parcelles");
    {
        test::FileSizeLimit full(16);
        EXPECT_EQ(Valid(), 1);
    }
    EXPECT_THAT(Messages(), ::testing::ElementsAre(EndsWith(" fzy_io_compressfzy Debug=7")));
    EXPECT_EQ(ReadBytes(fzy("parcelles")), original);
    EXPECT_EQ(FzyState().DeletedCount, 0);
    EXPECT_EQ(FzyState().path, fzy("parcelles"));
    EXPECT_TRUE(tmps().empty());

    // The next check marks the record again and compacts it away.
    const int number = FzyState().gFzyFile;
    EXPECT_EQ(Valid(), 1);
    EXPECT_EQ(Messages().size(), 1u);
    const std::string compacted = ReadBytes(fzy("parcelles"));
    EXPECT_EQ(compacted.size(), original.size() - b.size());
    EXPECT_EQ(compacted, Header(0, 2, 0) + a + c);
    EXPECT_TRUE(tmps().empty());
    EXPECT_EQ(FzyState().gFzyFile, number);
    EXPECT_EQ(FzyState().Kind2Count, 2);
    EXPECT_EQ(FzyState().DeletedCount, 0);

    // The open file is the compacted one: reads and appends go there.
    EXPECT_TRUE(fzy_io_numberinfo("FZY_C"));
    EXPECT_FALSE(fzy_io_numberinfo("FZY_B"));
    fzy_io_addrecord("FZY_D", "FZY_D", 999, 0, 0, 0, 0, folder(), "parcelles");
    fzy_io_close();
    const std::string after = ReadBytes(fzy("parcelles"));
    EXPECT_EQ(after.substr(0, compacted.size()).substr(8), compacted.substr(8));
    EXPECT_TRUE(fzy::ReadFzyLayout(after).sound());
}

TEST_F(FzyMaintenance, CompactionKeepsHeaderBytesAndCountsEachKind) {
    AddLayer("parcelles", {"K1", "K2"});
    std::string header = Header(3, 3, 1);
    header[12] = 'u';  // unused bytes are copied as they are
    const std::string file = header + Kind1("K1") + Kind1("GONE1") + Kind2("K2") +
                             Kind2("old", "x", 12) + Record(3, Txt("K2") + "odd") +
                             Kind1("K1", "again");
    WriteBytes(fzy("parcelles"), file);
    Open("parcelles");
    EXPECT_EQ(Valid(), 1);
    fzy_io_close();
    const std::string bytes = ReadBytes(fzy("parcelles"));
    // Kept in order: K1, K2, the kind-3 record (counted with kind 2 so that
    // the walk reaches it), K1 again.
    std::string expectedHeader = header;
    expectedHeader.replace(2, 6, I16(2) + I16(2) + I16(0));
    EXPECT_EQ(bytes, expectedHeader + Kind1("K1") + Kind2("K2") + Record(3, Txt("K2") + "odd") +
                         Kind1("K1", "again"));
    EXPECT_TRUE(fzy::ReadFzyLayout(bytes).sound());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FzyMaintenance, NothingIsWrittenWhenEveryFieldExists) {
    AddLayer("parcelles", {"FZY_A", "FZY_B"});
    const std::string file = Header(0, 2, 0) + Kind2("FZY_A") + Kind2("FZY_B");
    WriteBytes(fzy("parcelles"), file);
    Open("parcelles");
    struct stat before {};
    stat(fzy("parcelles").c_str(), &before);
    EXPECT_EQ(Valid(), 1);
    struct stat after {};
    stat(fzy("parcelles").c_str(), &after);
    fzy_io_close();
    EXPECT_EQ(ReadBytes(fzy("parcelles")), file);
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_TRUE(tmps().empty());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FzyMaintenance, RecordsStayWhenTheFieldCannotBeChecked) {
    struct Case {
        const char* name;
        std::function<void(FzyMaintenance&)> setUp;
        std::string message;  // "" when no message is expected
    };
    const Case cases[] = {
        {"layer not in the map", [](FzyMaintenance& t) { t.AddLayer("autre", {"X"}); }, ""},
        {"layer is not a feature layer",
         [](FzyMaintenance& t) {
             t.app->focusMap()->AddLayer(std::make_shared<FakeLayer>("parcelles"));
             t.AddLayer("parcelles", {"X"});
         },
         " fzy_io_check Debug=2"},
        {"no application", [](FzyMaintenance&) { g_pApplication().reset(); },
         " fzy_io_check Debug=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        app = std::make_shared<FakeApplication>();
        g_pApplication() = app;
        c.setUp(*this);
        ui->clear();
        const std::string file = Header(0, 1, 0) + Kind2("FZY_A");
        WriteBytes(fzy("parcelles"), file);
        Open("parcelles");
        EXPECT_EQ(Valid(), 1);
        fzy_io_close();
        EXPECT_EQ(ReadBytes(fzy("parcelles")), file);
        if (c.message.empty()) {
            EXPECT_TRUE(Messages().empty());
        } else {
            EXPECT_THAT(Messages(), ::testing::ElementsAre(EndsWith(c.message)));
        }
    }
}

TEST_F(FzyMaintenance, FieldNamesCompareExactlyAsStored) {
    // FZY_Type differs from FZY_TYPE; FZY_Ω was stored as "FZY_?" and its
    // field still exists, so its record stays.
    AddLayer("parcelles", {"FZY_TYPE", "FZY_Ω"});
    Open("parcelles");
    fzy_io_addrecord("FZY_Type", "FZY_Type", 999, 0, 0, 0, 0, folder(), "parcelles");
    fzy_io_addrecord("FZY_Ω", "FZY_Ω", 999, 0, 0, 0, 0, folder(), "parcelles");
    EXPECT_EQ(Valid(), 1);
    EXPECT_EQ(FzyState().Kind2Count, 1);
    EXPECT_FALSE(fzy_io_numberinfo("FZY_Type"));
    EXPECT_TRUE(fzy_io_numberinfo("FZY_?"));
    fzy_io_close();
}

TEST_F(FzyMaintenance, StaleTemporaryFileIsNeverReused) {
    AddLayer("parcelles", {"A"});
    const std::string file = Header(0, 2, 0) + Kind2("A") + Kind2("B");
    struct Case {
        const char* name;
        std::function<void()> setUp;
    };
    const std::string victim = dir.file("victim");
    const std::string leftover = dir.file(".parcelles.fzy.vark-tmp-dead01");
    const std::string link = dir.file(".parcelles.fzy.vark-tmp-link01");
    const Case cases[] = {
        {"longer leftover", [&] { WriteBytes(leftover, std::string(5000, 'z')); }},
        {"link to another file",
         [&] {
             WriteBytes(victim, "keep me");
             fs::create_symlink(victim, link);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(fzy("parcelles"), file);
        c.setUp();
        Open("parcelles");
        EXPECT_EQ(Valid(), 1);
        fzy_io_close();
        EXPECT_EQ(ReadBytes(fzy("parcelles")), Header(0, 1, 0) + Kind2("A"));
        EXPECT_FALSE(fs::exists(leftover));
    }
    // A link is no file the tool wrote: it stays, and so does its target.
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadBytes(victim), "keep me");
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FzyMaintenance, CompactionRefusesAnotherFile) {
    AddLayer("parcelles", {"A"});
    const std::string file = Header(0, 2, 1) + Kind2("A") + Kind2("B", "b", 12);
    WriteBytes(fzy("parcelles"), file);
    WriteBytes(fzy("autre"), file);
    Open("parcelles");
    fzy_io_compressfzy(FzyState().gFzyFile + 1, "parcelles", folder());
    fzy_io_compressfzy(FzyState().gFzyFile, "autre", folder());
    fzy_io_close();
    EXPECT_THAT(Messages(), ::testing::ElementsAre(StartsWith("52  "),
                                                   AllOf(StartsWith("5  "), HasSubstr("autre.fzy"),
                                                         EndsWith("fzy_io_compressfzy Debug=1"))));
    EXPECT_EQ(ReadBytes(fzy("parcelles")), file);
    EXPECT_EQ(ReadBytes(fzy("autre")), file);
}

TEST_F(FzyMaintenance, DatabaseWorkspaceCompactsBesideTheDatabase) {
    const std::string db = dir.file("roads.gpkg");
    WriteBytes(db, "database");
    auto fc = app->addWorkspace(db, host::kWorkspaceLocalDatabase)
                  ->createFeatureClass("parcelles", host::kShapePolygon,
                                       {MakeField("A", host::kFieldDouble)});
    app->addFeatureLayer("parcelles", fc);
    const std::string fzyPath = dir.file("roads.gpkg.parcelles.fzy");
    WriteBytes(fzyPath, Header(0, 2, 0) + Kind2("A") + Kind2("B"));
    std::string path = db;
    std::string layer = "parcelles";
    fzy_io_open(path, layer);
    EXPECT_EQ(fzy_io_valid(layer, path), 1);
    fzy_io_close();
    EXPECT_EQ(ReadBytes(fzyPath), Header(0, 1, 0) + Kind2("A"));
    EXPECT_EQ(ReadBytes(db), "database");
    EXPECT_TRUE(Messages().empty());
}

// ---- Damaged files: reported, never changed, never looped over.

TEST_F(FzyMaintenance, DamagedFilesAreReportedAndLeftUnchanged) {
    AddLayer("parcelles", {"OTHER"});  // every record would be marked deleted
    const std::string good = Kind2("FZY_A");
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"counts with no record", Header(0, 1, 0) + "x"},
        {"record cut short", Header(0, 1, 0) + good.substr(0, 40)},
        {"record frame cut short", Header(0, 2, 0) + good + I16(60) + I16(2)},
        {"zero RecordLength", Header(0, 2, 0) + I16(0) + good.substr(2) + good},
        {"RecordLength below its frame", Header(0, 1, 0) + I16(4) + good.substr(2)},
        {"negative RecordLength", Header(0, 1, 0) + I16(-88) + good.substr(2)},
        {"huge RecordLength", Header(0, 1, 0) + I16(32000) + good.substr(2)},
        {"negative RecordKind", Header(0, 1, 0) + good.substr(0, 2) + I16(-32439) + good.substr(4)},
        {"name past its record",
         Header(0, 1, 0) + I16(10) + I16(2) + I16(9) + "FZY_A" + good.substr(11)},
        {"negative Kind1Count", Header(-1, 2, 0) + good},
        {"negative Kind2Count", Header(0, -3, 0) + good},
        {"negative DeletedCount", Header(0, 1, -1) + good},
        {"huge counts", Header(32767, 32767, 0) + good},
        {"longer than a criterion file", Header(0, 1, 0) + good + std::string(40000, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ui->clear();
        WriteBytes(fzy("parcelles"), c.bytes);
        Open("parcelles");
        EXPECT_FALSE(FzyFileDamage().empty());
        EXPECT_FALSE(fzy_io_numberinfo("FZY_A"));
        EXPECT_FALSE(fzy_io_recordinfo("FZY_A", ""));
        EXPECT_EQ(Valid(), 0);
        fzy_io_compressfzy(FzyState().gFzyFile, "parcelles", folder());
        std::int32_t number = 0;
        try {
            fzy_io_addrecord("FZY_B", "FZY_B", 999, 0, 0, 0, 0, folder(), "parcelles");
        } catch (const Failure& f) {
            number = f.number();
        }
        EXPECT_EQ(number, fzy::kDamagedFileError);
        fzy_io_close();

        EXPECT_EQ(ReadBytes(fzy("parcelles")), c.bytes);
        EXPECT_TRUE(tmps().empty());
        const auto messages = Messages();
        ASSERT_EQ(messages.size(), 4u);
        for (const auto& m : messages) {
            EXPECT_THAT(
                m, StartsWith("62  The criterion file \"" + fzy("parcelles") + "\" is damaged: "));
        }
        EXPECT_THAT(messages[0], EndsWith(". It was left unchanged. To keep its readable records: "
                                          "vark-fuzzy repair-fzy \"" +
                                          fzy("parcelles") + "\" fzy_io_numberinfo Debug=1"));
        EXPECT_THAT(messages[1], EndsWith(" fzy_io_recordinfo Debug=1"));
        EXPECT_THAT(messages[2], EndsWith(" fzy_io_valid Debug=1"));
        EXPECT_THAT(messages[3], EndsWith(" fzy_io_compressfzy Debug=1"));
    }
}

// ---- Files read as their format says: a file too short to hold a record is
// new; bytes after the counted records are ignored by the readers, refused
// by the writers, and dropped by a repair that keeps every readable record.

TEST_F(FzyMaintenance, ShortFilesAreNewAndGetTheirHeaderWithTheFirstRecord) {
    const struct {
        const char* name;
        std::string bytes;
        std::string header;  // what the first append leaves before its record
    } cases[] = {
        {"three bytes", I16(1) + "x", Header(0, 0, 0)},
        {"eight bytes with a count", I16(1) + I16(0) + I16(2) + I16(0), Header(0, 0, 0)},
        {"a header counting a record", Header(0, 1, 0), Header(0, 0, 0)},
        {"unused bytes kept", Header(3, 0, 0).substr(0, 8) + "abc",
         Header(0, 0, 0).replace(8, 3, "abc")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ui->clear();
        WriteBytes(fzy("parcelles"), c.bytes);
        Open("parcelles");
        EXPECT_EQ(FzyState().OpenStatus, "New");
        EXPECT_EQ(FzyFileDamage(), "");
        EXPECT_FALSE(fzy_io_numberinfo("FZY_A"));
        fzy_io_addrecord("FZY_A", "FZY_A", 999, 0, 0, 0, 0, folder(), "parcelles");
        fzy_io_close();
        const std::string bytes = ReadBytes(fzy("parcelles"));
        ASSERT_GT(bytes.size(), 23u);
        EXPECT_EQ(bytes.substr(0, 23), c.header.substr(0, 4) + I16(1) + c.header.substr(6, 17));
        EXPECT_TRUE(Messages().empty());
    }
}

TEST_F(FzyMaintenance, BytesAfterTheCountedRecordsAreReadNotWrittenAndRepairDropsThem) {
    AddLayer("parcelles", {"FZY_A", "FZY_B"});
    const std::string a = Kind2("FZY_A", "a");
    const std::string b = Kind2("FZY_B", "b");
    const std::string damaged = Header(0, 2, 0) + a + b + "tail";
    WriteBytes(fzy("parcelles"), damaged);
    Open("parcelles");
    EXPECT_EQ(FzyReadDamage(), "");
    EXPECT_THAT(FzyFileDamage(), HasSubstr("4 bytes follow the last of the 2 records"));
    EXPECT_TRUE(fzy_io_numberinfo("FZY_B"));
    EXPECT_THAT(static_cast<const DescriptionBuffer&>(CurrentDescriptionTarget()).text(),
                HasSubstr("FZY_B( :b)"));
    EXPECT_THROW(fzy_io_addrecord("FZY_C", "FZY_C", 999, 0, 0, 0, 0, folder(), "parcelles"),
                 Failure);
    fzy_io_close();
    EXPECT_EQ(ReadBytes(fzy("parcelles")), damaged);
    EXPECT_TRUE(Messages().empty());

    // Repair: the records kept, the old bytes aside, nothing when sound.
    const FzyRepairResult result = RepairCriterionFile(fzy("parcelles"));
    EXPECT_TRUE(result.repaired);
    EXPECT_EQ(result.keptRecords, 2u);
    EXPECT_EQ(result.countedRecords, 2u);
    EXPECT_EQ(ReadBytes(fzy("parcelles")), Header(0, 2, 0) + a + b);
    EXPECT_EQ(ReadBytes(result.damagedCopy), damaged);
    EXPECT_EQ(result.damagedCopy, fzy("parcelles") + ".damaged");
    EXPECT_FALSE(RepairCriterionFile(fzy("parcelles")).repaired);
}

TEST_F(FzyMaintenance, RepairKeepsTheRecordsBeforeTheDamage) {
    const std::string one = Kind1("K1");
    const std::string a = Kind2("FZY_A", "a");
    const std::string deleted = Kind2("FZY_D", "d", 12);
    const struct {
        const char* name;
        std::string bytes;
        std::string repaired;
        std::size_t counted;
    } cases[] = {
        {"record cut short", Header(1, 3, 1) + one + deleted + a + a.substr(0, 30),
         Header(1, 2, 1) + one + deleted + a, 4},
        {"huge counts", Header(32767, 32767, 0) + a, Header(0, 1, 0) + a, 65534},
        {"negative count", Header(0, -3, 0) + a, Header(0, 0, 0), 0},
        {"longer than a criterion file", Header(0, 1, 0) + a + std::string(40000, 'x'),
         Header(0, 1, 0) + a, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(fzy("parcelles") + ".damaged");
        WriteBytes(fzy("parcelles"), c.bytes);
        const FzyRepairResult result = RepairCriterionFile(fzy("parcelles"));
        EXPECT_TRUE(result.repaired);
        EXPECT_FALSE(result.damage.empty());
        EXPECT_EQ(result.countedRecords, c.counted);
        EXPECT_EQ(ReadBytes(fzy("parcelles")), c.repaired);
        EXPECT_EQ(ReadBytes(fzy("parcelles") + ".damaged"), c.bytes);
    }
    // An earlier repair's copy is never overwritten: nothing changes.
    const std::string again = Header(0, 2, 0) + a;
    WriteBytes(fzy("parcelles"), again);
    EXPECT_THROW(RepairCriterionFile(fzy("parcelles")), Failure);
    EXPECT_EQ(ReadBytes(fzy("parcelles")), again);
    EXPECT_THROW(RepairCriterionFile(fzy("none")), Failure);
}

}  // namespace
}  // namespace vark::test
