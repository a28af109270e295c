// The computation core over the in-memory host: degrees written per scale,
// exact value matching, field name truncation, entry parsing, refusals before
// anything is written, failures part way, and the criterion record.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "criterion/CriterionComputation.h"
#include "criterion_file/fzy_io.h"
#include "host/fake/FakeHost.h"
#include "support/Failure.h"
#include "testing/TempDir.h"

namespace vark {
namespace {

using host::Value;
using host::fake::FakeFeatureClass;
using host::fake::FakeWorkspace;
using host::fake::MakeField;

using test::ReadBytes;

std::int16_t Int16At(const std::string& bytes, std::size_t offset) {
    std::int16_t v = 0;
    if (bytes.size() < offset + 2) {
        return v;  // a criterion file never written holds no count
    }
    std::memcpy(&v, bytes.data() + offset, 2);
    return v;
}

class ComputationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFzyState();
        m_workspace =
            std::make_shared<FakeWorkspace>(m_dir.path().string(), host::kWorkspaceFileSystem);
        m_fc = m_workspace->createFeatureClass("parcelles", host::kShapePolygon,
                                               {MakeField("NATURE", host::kFieldText)});
    }
    void TearDown() override { ResetFzyState(); }

    void AddNatures(const std::vector<Value>& values) {
        for (const auto& v : values) m_fc->addRecord({{"NATURE", v}});
    }

    CriterionRequest Request(std::vector<std::string> entries,
                             MembershipScale scale = MembershipScale::Seven,
                             std::string typed = "FZY_NATURE") {
        CriterionRequest r;
        r.sourceField = "NATURE";
        // One by one: the count is the computation's to refuse.
        for (const auto& entry : entries) r.gradedEntries.push_back(ParseGradedEntry(entry));
        r.typedName = std::move(typed);
        r.scale = scale;
        r.featureClass = m_fc;
        return r;
    }

    CriterionResult Run(const CriterionRequest& r, std::int32_t* marker = nullptr) {
        CriterionFileRun file(m_dir.path().string(), "parcelles", FieldsOf(r.featureClass));
        return ComputeCriterion(r, file, marker);
    }

    std::string FzyPath() const { return m_dir.file("parcelles.fzy"); }

    test::TempDir m_dir;
    std::shared_ptr<FakeWorkspace> m_workspace;
    std::shared_ptr<FakeFeatureClass> m_fc;
};

TEST_F(ComputationTest, WritesTheSinglePrecisionDegreeOfEveryGradeUnderEachScale) {
    struct Case {
        MembershipScale scale;
        int grade;
        double stored;
    };
    const Case cases[] = {
        {MembershipScale::Seven, 0, 0.0},
        {MembershipScale::Seven, 1, 0.17000000178813934},
        {MembershipScale::Seven, 2, 0.3400000035762787},
        {MembershipScale::Seven, 3, 0.5},
        {MembershipScale::Seven, 4, 0.6700000166893005},
        {MembershipScale::Seven, 5, 0.8299999833106995},
        {MembershipScale::Seven, 6, 1.0},
        {MembershipScale::Five, 0, 0.0},
        {MembershipScale::Five, 2, 0.25},
        {MembershipScale::Five, 3, 0.5},
        {MembershipScale::Five, 4, 0.75},
        {MembershipScale::Five, 6, 1.0},
        {MembershipScale::Three, 0, 0.0},
        {MembershipScale::Three, 3, 0.5},
        {MembershipScale::Three, 6, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("scale " + std::to_string(static_cast<int>(c.scale)) + " grade " +
                     std::to_string(c.grade));
        ResetFzyState();
        m_fc = m_workspace->createFeatureClass("parcelles", host::kShapePolygon,
                                               {MakeField("NATURE", host::kFieldText)});
        AddNatures({"Forêt", "Prairie"});
        const auto result = Run(Request({FormatGradedEntry("Forêt", c.grade)}, c.scale));
        const auto column = m_fc->column(result.fieldName);
        ASSERT_EQ(column.size(), 2u);
        EXPECT_EQ(std::get<double>(column[0]), c.stored);
        EXPECT_EQ(std::get<double>(column[1]), 0.0);
    }
    EXPECT_FALSE(MembershipDegree(1, MembershipScale::Five));
    EXPECT_FALSE(MembershipDegree(5, MembershipScale::Five));
    EXPECT_FALSE(MembershipDegree(4, MembershipScale::Three));
    EXPECT_FALSE(MembershipDegree(7, MembershipScale::Seven));
    EXPECT_FALSE(MembershipDegree(-1, MembershipScale::Seven));
}

TEST_F(ComputationTest, MatchesValuesExactlyAndGivesNullsZero) {
    AddNatures({"Forêt", "forêt", " Forêt", "", std::monostate{}, "Prairie", "Forêt"});
    const auto result = Run(Request({"Forêt->6", "->3"}));
    const auto column = m_fc->column("FZY_NATURE");
    const std::vector<Value> expected = {1.0, 0.0, 0.0, 0.5, 0.0, 0.0, 1.0};
    EXPECT_EQ(column, expected);
    EXPECT_EQ(result.featureCount, 7);
    EXPECT_EQ(result.entryCounts, (std::vector<std::int64_t>{2, 1}));
    EXPECT_EQ(result.unlistedCount, 3);
    EXPECT_EQ(result.emptyCount, 0);
    EXPECT_EQ(result.nullCount, 1);
}

TEST_F(ComputationTest, FirstEntryOfAValueWinsAsAScanInListOrderWould) {
    AddNatures({"A", "", "B"});
    const auto result = Run(Request({"A->6", "A->0", "B->3"}));
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>{1.0, 0.0, 0.5}));
    EXPECT_EQ(result.entryCounts, (std::vector<std::int64_t>{1, 0, 1}));
    EXPECT_EQ(result.emptyCount, 1);
}

TEST_F(ComputationTest, TruncatesLongNamesWithNumericSuffixes) {
    struct Case {
        std::string typed;
        std::vector<std::string> existing;
        std::string expected;
    };
    std::vector<std::string> upTo9 = {"FZY_OCCUPA"};
    for (int j = 1; j <= 9; ++j) upTo9.push_back("FZY_OCCUP" + std::to_string(j));
    const Case cases[] = {
        {"FZY_OCCUPATION", {}, "FZY_OCCUPA"},
        {"FZY_OCCUPATION", {"FZY_OCCUPA"}, "FZY_OCCUP1"},
        {"FZY_OCCUPATION", {"FZY_OCCUPA", "FZY_OCCUP1"}, "FZY_OCCUP2"},
        {"FZY_OCCUPATION", upTo9, "FZY_OCCUP10"},
        {"FZY_OCCUPATION", {"fzy_occupa"}, "FZY_OCCUPA"},
        // Ten characters or fewer: kept as typed, even when taken.
        {"FZY_NATURE", {"FZY_NATURE"}, "FZY_NATURE"},
        {"X", {}, "X"},
        // Characters, not bytes.
        {"FZY_ÉTATDESLIEUX", {}, "FZY_ÉTATDE"},
        {"FZY_ÉTATDESLIEUX", {"FZY_ÉTATDE"}, "FZY_ÉTATD1"},
    };
    for (const auto& c : cases) {
        std::vector<host::Field> fields;
        for (const auto& n : c.existing) fields.push_back(MakeField(n, host::kFieldDouble));
        EXPECT_EQ(FinalFieldName(c.typed, host::Fields(fields)), c.expected) << c.typed;
    }
}

TEST_F(ComputationTest, RecordNamesTheFinalFieldAndTheRunCreatesItWithThatName) {
    m_fc->addField("FZY_OCCUPA", host::kFieldDouble);
    AddNatures({"Forêt"});
    const auto result = Run(Request({"Forêt->6"}, MembershipScale::Seven, "FZY_OCCUPATION"));
    EXPECT_EQ(result.fieldName, "FZY_OCCUP1");
    EXPECT_GE(m_fc->fieldIndex("FZY_OCCUP1"), 0);

    const std::string bytes = ReadBytes(FzyPath());
    ASSERT_GT(bytes.size(), 23u);
    EXPECT_EQ(Int16At(bytes, 4), 1);                   // Kind2Count
    EXPECT_EQ(Int16At(bytes, 23), bytes.size() - 23);  // RecordLength
    EXPECT_EQ(Int16At(bytes, 25), 2);                  // RecordKind
    EXPECT_EQ(Int16At(bytes, 27), 10);                 // field name length
    EXPECT_EQ(bytes.substr(29, 10), "FZY_OCCUP1");     // field name
    EXPECT_EQ(Int16At(bytes, 39), 999);                // CriterionCode
    EXPECT_EQ(bytes.substr(43, 10), "FZY_OCCUP1");     // alias
    EXPECT_EQ(Int16At(bytes, bytes.size() - 2), 99);   // EndMark
    EXPECT_EQ(FzyState().path, "");                    // closed
}

TEST_F(ComputationTest, ParsesEntriesFromTheirEnd) {
    struct Case {
        std::string entry;
        std::string value;
        int grade;
    };
    const Case cases[] = {
        {"Forêt->4", "Forêt", 4}, {"A->2->3", "A->2", 3}, {"->6", "", 6}, {"é->0", "é", 0}};
    for (const auto& c : cases) {
        const auto e = ParseGradedEntry(c.entry);
        EXPECT_EQ(e.value, c.value) << c.entry;
        EXPECT_EQ(e.grade, c.grade) << c.entry;
    }
    struct Bad {
        std::string entry;
        std::int32_t number;
    };
    const Bad bad[] = {{"ab", err::kInvalidProcedureCall},
                       {"", err::kInvalidProcedureCall},
                       {"A->x", err::kTypeMismatch},
                       {"A->é", err::kTypeMismatch}};
    for (const auto& b : bad) {
        try {
            ParseGradedEntry(b.entry);
            ADD_FAILURE() << b.entry;
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), b.number) << b.entry;
        }
    }
}

TEST_F(ComputationTest, RefusesBeforeWritingAnything) {
    AddNatures({"Bon", "Forêt"});
    std::vector<std::string> tooMany;
    for (int i = 0; i < 102; ++i) tooMany.push_back("V" + std::to_string(i) + "->3");
    struct Case {
        const char* what;
        CriterionRequest request;
        std::int32_t number;
        std::string inDescription;
    };
    const Case cases[] = {
        {"102 entries", Request(tooMany), err::kSubscriptOutOfRange, "101"},
        {"grade 4 under 3 levels",
         Request({"Bon->4", "Forêt->6", "Lande->2"}, MembershipScale::Three),
         err::kInvalidProcedureCall, "\"Bon\", \"Lande\""},
        {"grade 5 under 5 levels", Request({"Bon->5"}, MembershipScale::Five),
         err::kInvalidProcedureCall, "\"Bon\""},
        {"grade digit 9", Request({"Bon->9"}), err::kInvalidProcedureCall, "\"Bon\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            Run(c.request);
            ADD_FAILURE();
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), c.number);
            EXPECT_NE(f.description().find(c.inDescription), std::string::npos) << f.description();
        }
        fzy_io_close();
        EXPECT_EQ(m_fc->addFieldCalls(), 0);
        EXPECT_EQ(m_fc->storedRows(), 0);
        EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 4), 0);
    }
    // 101 entries are taken.
    tooMany.pop_back();
    EXPECT_EQ(Run(Request(tooMany)).entryCounts.size(), 101u);
}

TEST_F(ComputationTest, EmptyListCreatesTheFieldLeavesItUnsetAndRecordsIt) {
    AddNatures({"Forêt", std::monostate{}});
    const auto result = Run(Request({}));
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>{std::monostate{}, std::monostate{}}));
    EXPECT_EQ(result.featureCount, 2);
    EXPECT_EQ(result.nullCount, 0);
    EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 4), 1);
}

TEST_F(ComputationTest, LayerWithoutFeaturesGetsTheFieldAndTheRecord) {
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    auto request = Request({"Forêt->6"});
    request.progress = [&](std::int64_t done, std::int64_t total) {
        progress.emplace_back(done, total);
    };
    const auto result = Run(request);
    EXPECT_EQ(result.featureCount, 0);
    EXPECT_GE(m_fc->fieldIndex("FZY_NATURE"), 0);
    EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 4), 1);
    EXPECT_EQ(progress, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 0}}));
}

TEST_F(ComputationTest, ReportsProgressOnLargeLayersAndFinishesWithTheTotal) {
    for (int i = 0; i < 10000; ++i) m_fc->addRecord({{"NATURE", i % 2 ? "A" : "B"}});
    std::vector<std::int64_t> done;
    auto request = Request({"A->6"});
    request.progress = [&](std::int64_t d, std::int64_t total) {
        EXPECT_EQ(total, 10000);
        done.push_back(d);
    };
    Run(request);
    EXPECT_EQ(done, (std::vector<std::int64_t>{4096, 8192, 10000}));
}

TEST_F(ComputationTest, FailureInTheLoopRollsBackWhereTheFormatCanAndWritesNoRecord) {
    struct Case {
        bool transactional;
        std::vector<Value> kept;
    };
    const Case cases[] = {
        {true, {std::monostate{}, std::monostate{}, std::monostate{}}},
        // Without transactions (a shapefile) the features stored before the
        // failure keep their degree.
        {false, {1.0, 0.0, std::monostate{}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.transactional ? "transactional" : "plain");
        ResetFzyState();
        m_fc = m_workspace->createFeatureClass("parcelles", host::kShapePolygon,
                                               {MakeField("NATURE", host::kFieldText)});
        AddNatures({"A", "B", "C"});
        m_fc->setTransactional(c.transactional);
        m_fc->setFailOnStore(3);
        std::int32_t marker = 0;
        EXPECT_THROW(Run(Request({"A->6"}), &marker), Failure);
        EXPECT_EQ(marker, 42);
        EXPECT_EQ(m_fc->column("FZY_NATURE"), c.kept);
        EXPECT_EQ(m_fc->flushCalls(), 0);
        EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 4), 0);
    }
}

TEST_F(ComputationTest, MarkersNameTheStageOfAFailure) {
    AddNatures({"A"});
    m_fc->addField("FZY_NATURE", host::kFieldDouble);
    struct Case {
        const char* what;
        CriterionRequest request;
        std::int32_t marker;
    };
    auto missingSource = Request({"A->6"});
    missingSource.sourceField = "GONE";
    auto emptyName = Request({"A->6"}, MembershipScale::Seven, "");
    const Case cases[] = {
        {"source field gone", missingSource, 41},
        {"name taken", Request({"A->6"}), 42},
        {"name empty", emptyName, 42},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::int32_t marker = 0;
        EXPECT_THROW(Run(c.request, &marker), Failure);
        EXPECT_EQ(marker, c.marker);
        fzy_io_close();
    }
    EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 4), 0);
}

TEST_F(ComputationTest, DamagedCriterionFileStopsTheRunBeforeTheLayerChanges) {
    AddNatures({"A"});
    // A header announcing three kind-2 records that are not there (a file
    // shorter than 24 bytes would be new: it cannot hold a record).
    std::string header(23, '\0');
    header[0] = 1;
    header[4] = 3;
    header += std::string(10, '\x07');
    std::ofstream(FzyPath(), std::ios::binary) << header;
    try {
        Run(Request({"A->6"}));
        ADD_FAILURE();
    } catch (const Failure& f) {
        EXPECT_EQ(f.number(), fzy::kDamagedFileError);
    }
    EXPECT_EQ(m_fc->addFieldCalls(), 0);
    EXPECT_EQ(ReadBytes(FzyPath()), header);
}

TEST_F(ComputationTest, GradedValuesNoFeatureHoldsAreToldOnceBeforeTheRecord) {
    AddNatures({"Forêt", "Lande", "", std::monostate{}});
    // A value graded twice, shadowed by its first entry, is held all the
    // same; the empty value is held by the empty text.
    std::vector<std::vector<std::string>> told;
    auto request = Request({"Foret->6", "Forêt->5", "Forêt->1", "Bati->2", "Foret->4", "->2"});
    request.unmatched = [&](const std::vector<std::string>& values) {
        told.push_back(values);
        throw std::runtime_error("refused");
    };
    EXPECT_THROW(Run(request), std::runtime_error);
    EXPECT_EQ(told, (std::vector<std::vector<std::string>>{{"Foret", "Bati"}}));
    EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 4), 0);  // no record
    EXPECT_EQ(m_fc->flushCalls(), 0);
    // Every value held, or no entry: not asked.
    for (const std::vector<std::string>& held :
         {std::vector<std::string>{"Lande->3"}, std::vector<std::string>{}}) {
        auto r = Request(held, MembershipScale::Seven, "FZY_" + std::to_string(held.size()));
        r.unmatched = [&](const std::vector<std::string>&) { ADD_FAILURE(); };
        Run(r);
    }
}

TEST_F(ComputationTest, ReplaceOverwritesTheFieldAndItsRecordInOneChange) {
    m_fc->addField("FZY_LONG", host::kFieldLong);
    AddNatures({"A", "B", std::monostate{}});
    Run(Request({"A->6"}));
    const auto fields = m_fc->fieldList().size();
    // A field the class lacks, or that is not a double field: refused
    // before anything is written.
    for (const char* name : {"FZY_NONE", "FZY_LONG", "NATURE"}) {
        auto refused = Request({"B->3"}, MembershipScale::Seven, name);
        refused.replace = true;
        EXPECT_THROW(Run(refused), Failure) << name;
        fzy_io_close();
    }
    EXPECT_EQ(m_fc->storedRows(), 3);

    auto replace = Request({"B->3"}, MembershipScale::Seven, "FZY_NATURE");
    replace.replace = true;
    EXPECT_EQ(Run(replace).fieldName, "FZY_NATURE");
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>{0.0, 0.5, 0.0}));
    EXPECT_EQ(m_fc->fieldList().size(), fields);
    EXPECT_EQ(Int16At(ReadBytes(FzyPath()), 25), 12);  // the old record, marked deleted

    // No entry: the field ends as a new one would, unset.
    replace.gradedEntries.clear();
    Run(replace);
    EXPECT_EQ(m_fc->column("FZY_NATURE"), (std::vector<Value>(3)));
    // The name a first run gave a long typed name, unless it is exact.
    const host::Fields taken({MakeField("FZY_OCCUPATION", host::kFieldDouble)});
    EXPECT_EQ(ReplacedFieldName("FZY_OCCUPATION", taken), "FZY_OCCUPATION");
    EXPECT_EQ(ReplacedFieldName("FZY_ÉTATDESLIEUX", taken), "FZY_ÉTATDE");
}

}  // namespace
}  // namespace vark
