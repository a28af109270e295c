// The program stopped at every write, flush and rename of a computation
// (strace's fault injection), then the layer checked with GDAL: the
// original values and geometries unchanged, the new field absent or
// complete and right, the criterion file readable, and the next run fine.
// Also: a clean abort on SIGTERM, a full disk, and two runs at once; and a
// criterion field recomputed (--replace) stopped the same way. With the QGIS
// plugin built, the same layers computed by "vark:textcriterion" inside a
// headless QGIS, stopped at every write, flush and rename of its run and
// killed (SIGKILL) at random moments.

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VARK_PROGRAM;
#ifdef VARK_QGIS_PROGRAM
/// The algorithm run in a headless QGIS, with compute's command line.
const std::string kQgisProgram = VARK_QGIS_PROGRAM;
#else
const std::string kQgisProgram;
#endif
/// The exit status of describe when no record names the field.
constexpr int kNoRecord = 5;
const std::string kLayerMaker = VARK_LAYER_MAKER;
const fs::path kSample = fs::path(VARK_SOURCE_DIR) / "data" / "sample";

/// The calls that make a change durable or visible.
const std::vector<std::string> kDurableCalls = {"write",     "pwrite64", "writev",    "fsync",
                                                "fdatasync", "rename",   "renameat2", "ftruncate"};

struct Exit {
    int status = -1;  ///< exit status, or 128 + signal
    std::string out;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

/// Runs a shell command, its standard output and error kept together.
Exit Shell(const std::string& command) {
    const fs::path out = fs::temp_directory_path() / ("vark-fault-" + std::to_string(::getpid()));
    const int raw = std::system((command + " > " + Quote(out.string()) + " 2>&1").c_str());
    Exit exit;
    std::ifstream in(out, std::ios::binary);
    exit.out.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(out);
    if (WIFEXITED(raw)) {
        exit.status = WEXITSTATUS(raw);
    } else if (WIFSIGNALED(raw)) {
        exit.status = 128 + WTERMSIG(raw);
    }
    return exit;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool HaveStrace() {
    return Shell("strace -V").status == 0;
}

/// Features as GDAL reads them: per FID, every attribute as text (a null
/// as "<null>") and the geometry as WKT.
struct Snapshot {
    std::vector<std::string> fields;  ///< every attribute field, in order
    /// Per FID: the values of the fields asked for (a null as "<null>"),
    /// then the geometry as WKT.
    std::map<GIntBig, std::vector<std::string>> rows;
    std::map<GIntBig, std::string> sources;          ///< the graded field's texts
    std::map<GIntBig, std::optional<double>> added;  ///< the new field, when present
    bool hasAdded = false;
};

/// The layer of `dataset` as GDAL reads it (opened for update, as a user
/// would, so that SQLite rolls back what a stopped run left in its journal): the fields `kept` (all
/// when empty), the source field's texts (a shapefile's null as "", as the shapefile driver cannot
/// tell them apart) and the field `added`.
Snapshot Take(const fs::path& dataset, const std::vector<std::string>& kept,
              const std::string& source, const std::string& added) {
    Snapshot s;
    GDALDatasetUniquePtr ds(
        GDALDataset::Open(dataset.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr, nullptr));
    if (!ds) {
        ADD_FAILURE() << "GDAL cannot open " << dataset;
        return s;
    }
    const bool shapefile = dataset.extension() == ".shp";
    OGRLayer* layer = ds->GetLayer(0);
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    std::vector<int> columns;
    for (int i = 0; i < defn->GetFieldCount(); ++i) {
        s.fields.push_back(defn->GetFieldDefn(i)->GetNameRef());
        if (kept.empty()) {
            columns.push_back(i);
        }
    }
    for (const auto& name : kept) {
        columns.push_back(defn->GetFieldIndex(name.c_str()));
    }
    const int addedIndex = defn->GetFieldIndex(added.c_str());
    s.hasAdded = addedIndex >= 0;
    const int sourceIndex = defn->GetFieldIndex(source.c_str());
    for (auto& feature : *layer) {
        std::vector<std::string> row;
        for (int i : columns) {
            row.push_back(i < 0                              ? "<missing>"
                          : feature->IsFieldSetAndNotNull(i) ? feature->GetFieldAsString(i)
                                                             : "<null>");
        }
        const OGRGeometry* geometry = feature->GetGeometryRef();
        row.push_back(geometry ? geometry->exportToWkt() : "");
        s.rows[feature->GetFID()] = std::move(row);
        if (feature->IsFieldSetAndNotNull(sourceIndex)) {
            s.sources[feature->GetFID()] = feature->GetFieldAsString(sourceIndex);
        } else if (shapefile) {
            s.sources[feature->GetFID()] = "";
        }
        if (addedIndex >= 0) {
            s.added[feature->GetFID()] =
                feature->IsFieldSetAndNotNull(addedIndex)
                    ? std::optional<double>(feature->GetFieldAsDouble(addedIndex))
                    : std::nullopt;
        }
    }
    return s;
}

/// The degrees of a grades file under 7 levels (the first entry of a value wins).
std::map<std::string, double> ReadGrades(const fs::path& file) {
    static const float kDegrees[] = {0.0f, 0.17f, 0.34f, 0.5f, 0.67f, 0.83f, 1.0f};
    std::map<std::string, double> grades;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() >= 3) {
            grades.emplace(line.substr(0, line.size() - 3), kDegrees[line.back() - '0']);
        }
    }
    return grades;
}

/// A layer to break, kept pristine, with its grades.
struct Case {
    std::string name;
    fs::path pristine;  ///< folder holding the layer's files
    std::string file;   ///< the layer's file name in that folder
    fs::path grades;
};

class ComputeFault : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!HaveStrace()) {
            GTEST_SKIP() << "strace is not installed (scripts/install-deps installs it)";
        }
        GDALAllRegister();
        m_root = fs::temp_directory_path() /
                 ("vark-fault-" + std::to_string(::getpid()) + "-" + std::to_string(++s_serial));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "pristine");
        m_case.name = GetParam();
        if (m_case.name.rfind("qgis-", 0) == 0) {
            if (kQgisProgram.empty()) {
                GTEST_SKIP() << "the QGIS plugin is not built (-DVARK_WITH_QGIS=ON)";
            }
            m_program = kQgisProgram;
            m_case.name = m_case.name.substr(5);
        }
        m_case.pristine = m_root / "pristine";
        m_case.grades = m_root / "grades.txt";
        if (m_case.name == "sample") {
            for (const auto& entry : fs::directory_iterator(kSample)) {
                if (entry.path().stem() == "parcelles" && entry.path().extension() != ".geojson") {
                    fs::copy_file(entry.path(), m_case.pristine / entry.path().filename());
                }
            }
            m_case.file = "parcelles.shp";
            std::ofstream(m_case.grades) << "Forêt->6\nPrairie->4\nÉtang->1\nLande->3\n->2\n";
            m_source = "NATURE";
        } else {
            m_case.file = m_case.name == "gpkg" ? "parcels.gpkg" : "parcels.shp";
            const int count = m_case.name == "gpkg" ? 2000 : 10000;
            ASSERT_EQ(
                Shell(Quote(kLayerMaker) + " layer " +
                      Quote((m_case.pristine / m_case.file).string()) + " " + std::to_string(count))
                    .status,
                0);
            ASSERT_EQ(Shell(Quote(kLayerMaker) + " grades " + Quote(m_case.grades.string())).status,
                      0);
            m_source = "NATURE";
        }
        m_original = Take(m_case.pristine / m_case.file, {}, m_source, "");
        m_grades = ReadGrades(m_case.grades);
        ASSERT_FALSE(m_original.rows.empty());
    }
    void TearDown() override { fs::remove_all(m_root); }

    /// A fresh copy of the pristine layer; returns its data set path.
    fs::path Fresh(const std::string& name) {
        const fs::path folder = m_root / name;
        fs::remove_all(folder);
        fs::create_directories(folder);
        for (const auto& entry : fs::directory_iterator(m_case.pristine)) {
            fs::copy_file(entry.path(), folder / entry.path().filename());
        }
        return folder / m_case.file;
    }

    std::string Compute(const fs::path& dataset, const std::string& name = "FZY_NATURE") const {
        return Quote(m_program) + " compute " + Quote(dataset.string()) + " " + m_source +
               " --grades " + Quote(m_case.grades.string()) + " --name " + name + " --quiet" +
               m_extra;
    }

    /// How often a whole run makes each of `calls`.
    std::map<std::string, int> CountCalls(const std::vector<std::string>& calls) {
        const fs::path dataset = Fresh("count");
        const fs::path log = m_root / "strace.log";
        std::string set;
        for (const auto& c : calls) {
            set += (set.empty() ? "" : ",") + c;
        }
        const Exit run = Shell("strace -f -qq -o " + Quote(log.string()) + " -e trace=" + set +
                               " " + Compute(dataset));
        EXPECT_EQ(run.status, 0) << run.out;
        std::map<std::string, int> counts;
        std::ifstream in(log);
        const std::regex call(R"(^\d+\s+(\w+)\()");
        std::smatch m;
        for (std::string line; std::getline(in, line);) {
            if (std::regex_search(line, m, call)) {
                ++counts[m[1]];
            }
        }
        return counts;
    }

    /// How often the run itself makes each of `calls` on the program's main
    /// thread, after the calls of its start (QGIS's own settings and
    /// profile): (calls before the run's first one on the layer's folder,
    /// calls in all), per call.
    std::map<std::string, std::pair<int, int>> CountRunCalls(
        const std::vector<std::string>& calls) {
        const fs::path dataset = Fresh("count");
        const fs::path log = m_root / "strace.log";
        std::string set;
        for (const auto& c : calls) {
            set += (set.empty() ? "" : ",") + c;
        }
        Shell(Compute(Fresh("warm")));  // the profile made once, as a user's is
        const Exit run = Shell("strace -f -qq -y -o " + Quote(log.string()) + " -e trace=" + set +
                               " " + Compute(dataset));
        EXPECT_EQ(run.status, 0) << run.out;
        std::map<std::string, std::pair<int, int>> counts;
        std::ifstream in(log);
        const std::regex call(R"(^(\d+)\s+(\w+)\()");
        const std::string folder = dataset.parent_path().string();
        std::string mainThread;
        bool inRun = false;
        std::smatch m;
        for (std::string line; std::getline(in, line);) {
            if (!std::regex_search(line, m, call)) continue;
            if (mainThread.empty()) mainThread = m[1];
            if (m[1] != mainThread) continue;
            inRun = inRun || line.find(folder) != std::string::npos;
            auto& [before, all] = counts[m[2]];
            ++all;
            if (!inRun) ++before;
        }
        return counts;
    }

    /// The stops to try among `count` calls: all of them, or the first and
    /// last ten and an even spread between when there are many.
    static std::vector<int> Stops(int count) {
        std::set<int> stops;
        for (int n = 1; n <= count; ++n) {
            if (count <= 40 || n <= 10 || n > count - 10 || n % (count / 20 + 1) == 0) {
                stops.insert(n);
            }
        }
        return {stops.begin(), stops.end()};
    }

    /// About `k` stops spread evenly over `count` calls, the first and the last included.
    static std::vector<int> Spread(int count, int k) {
        std::set<int> stops;
        for (int i = 0; i < k && count > 0; ++i) {
            stops.insert(1 +
                         static_cast<int>(static_cast<long>(count - 1) * i / std::max(k - 1, 1)));
        }
        return {stops.begin(), stops.end()};
    }

    /// The originals are as they were; the new field, when present, is
    /// complete and right. Returns whether the field is there.
    bool CheckLayer(const fs::path& dataset, const std::string& added, const std::string& when) {
        const Snapshot now = Take(dataset, m_original.fields, m_source, added);
        // The original fields first, in their order; then at most the new ones.
        EXPECT_TRUE(
            now.fields.size() >= m_original.fields.size() &&
            std::equal(m_original.fields.begin(), m_original.fields.end(), now.fields.begin()))
            << when << ": the fields changed";
        EXPECT_EQ(now.rows.size(), m_original.rows.size()) << when;
        int changed = 0;
        for (const auto& [fid, row] : m_original.rows) {
            const auto found = now.rows.find(fid);
            if (found == now.rows.end() || found->second != row) {
                ++changed;
            }
        }
        EXPECT_EQ(changed, 0) << when << ": original features changed";
        if (now.hasAdded) {
            int wrong = 0;
            for (const auto& [fid, value] : now.added) {
                const auto source = m_original.sources.find(fid);
                double expected = 0;
                if (source != m_original.sources.end()) {
                    const auto grade = m_grades.find(source->second);
                    expected = grade == m_grades.end() ? 0.0 : grade->second;
                }
                if (!value || std::fabs(*value - expected) > 1e-9) {
                    ++wrong;
                }
            }
            EXPECT_EQ(wrong, 0) << when << ": the new field is incomplete or wrong";
        }
        return now.hasAdded;
    }

    /// The files of the layer's folder but the criterion file and its recipes.
    static std::set<std::string> FilesOf(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::string name = entry.path().filename().string();
            // SQLite's own files beside a database QGIS opened (its WAL).
            const bool sqlite =
                name.size() > 4 && (name.ends_with("-wal") || name.ends_with("-shm"));
            if (entry.path().extension() != ".fzy" && !name.ends_with(".fzy.json") && !sqlite) {
                names.insert(entry.path().filename().string());
            }
        }
        return names;
    }

    /// After a stopped run: the layer sound, the criterion file readable,
    /// and a next run that works and leaves no stray file.
    void CheckAfterStop(const fs::path& dataset, const std::string& when) {
        const bool added = CheckLayer(dataset, "FZY_NATURE", when);
        const Exit describe = Shell(Quote(kProgram) + " describe " + Quote(dataset.string()) +
                                    " FZY_NATURE --quiet --lang en");
        EXPECT_TRUE(describe.status == 0 || describe.status == kNoRecord)
            << when << ": the criterion file is not readable\n"
            << describe.out;
        const Exit next = Shell(Compute(dataset, "FZY_NEXT"));
        ASSERT_EQ(next.status, 0) << when << ": the next run fails\n" << next.out;
        EXPECT_TRUE(CheckLayer(dataset, "FZY_NEXT", when + ", next run"));
        EXPECT_EQ(CheckLayer(dataset, "FZY_NATURE", when + ", after the next run"), added);
        std::set<std::string> expected = FilesOf(m_case.pristine);
        EXPECT_EQ(FilesOf(dataset.parent_path()), expected) << when << ": files left behind";
        const Exit after = Shell(Quote(kProgram) + " describe " + Quote(dataset.string()) +
                                 " FZY_NATURE --quiet --lang en");
        // A record of a field that never came is gone after the next run.
        EXPECT_EQ(after.out.find("999") != std::string::npos, added) << when << "\n" << after.out;
        // So is a recipe; the field that came has its own.
        EXPECT_EQ(HasRecipe(dataset), added) << when << ", after the next run";
    }

    /// Whether `describe --recipe` finds the recipe of FZY_NATURE.
    static bool HasRecipe(const fs::path& dataset) {
        const Exit recipe = Shell(Quote(kProgram) + " describe " + Quote(dataset.string()) +
                                  " FZY_NATURE --recipe --quiet --lang en");
        EXPECT_TRUE(recipe.status == 0 || recipe.status == kNoRecord) << recipe.out;
        return recipe.status == 0;
    }

    /// Right after an aborted run: no stray file, and the field and its
    /// criterion record both there and right, or both absent.
    void CheckAllOrNothing(const fs::path& dataset, const std::string& when) {
        EXPECT_EQ(FilesOf(dataset.parent_path()), FilesOf(m_case.pristine))
            << when << ": files left behind";
        const bool added = CheckLayer(dataset, "FZY_NATURE", when);
        const Exit describe = Shell(Quote(kProgram) + " describe " + Quote(dataset.string()) +
                                    " FZY_NATURE --quiet --lang en");
        EXPECT_TRUE(describe.status == 0 || describe.status == kNoRecord) << when << "\n"
                                                                          << describe.out;
        EXPECT_EQ(describe.out.find("999") != std::string::npos, added)
            << when << ": the field and its record do not go together\n"
            << describe.out;
        if (dataset.extension() == ".gpkg") {
            // In the database's own transaction: both or neither.
            EXPECT_EQ(HasRecipe(dataset), added) << when << ": a field and its recipe apart";
        } else if (added) {
            EXPECT_TRUE(HasRecipe(dataset)) << when << ": a field without its recipe";
        }
    }

    fs::path m_root;
    Case m_case;
    std::string m_source;
    Snapshot m_original;
    std::map<std::string, double> m_grades;
    std::string m_extra;               ///< more options for every compute run
    std::string m_program = kProgram;  ///< the program that computes
    static inline int s_serial = 0;
};

/// Whether the case runs the algorithm in QGIS (the tests of the command
/// line's own handling of signals, disks and races do not apply).
bool InQgis() {
    return std::string(::testing::UnitTest::GetInstance()->current_test_info()->value_param())
               .find("qgis-") != std::string::npos;
}

TEST_P(ComputeFault, KilledAtEveryWriteFlushAndRenameLosesNothing) {
    // Per call: the calls before the run's own (QGIS's start-up) and all.
    std::map<std::string, std::pair<int, int>> ranges;
    if (InQgis()) {
        ranges = CountRunCalls(kDurableCalls);
    } else {
        for (const auto& [call, count] : CountCalls(kDurableCalls)) ranges[call] = {0, count};
    }
    int tried = 0;
    for (const auto& [call, range] : ranges) {
        const auto [before, all] = range;
        for (int k : Stops(all - before)) {
            const int n = before + k;
            const std::string when = "killed at " + call + " #" + std::to_string(n);
            const fs::path dataset = Fresh("kill");
            Shell("strace -f -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
                  ":signal=KILL:when=" + std::to_string(n) + " " + Compute(dataset));
            CheckAfterStop(dataset, when);
            ++tried;
            if (HasFailure()) {
                return;
            }
        }
    }
    EXPECT_GT(tried, 5);
    RecordProperty("stops", tried);
    std::cout << "[ stops    ] " << tried << " stops tried on " << GetParam() << "\n";
}

TEST_P(ComputeFault, SigtermOrFullDiskLeavesAllOrNothing) {
    if (InQgis()) {
        GTEST_SKIP() << "the command line's own handling";
    }
    const auto counts = CountCalls({"write", "pwrite64", "fsync"});
    for (const auto& [call, count] : counts) {
        for (int n : Spread(count, 10)) {
            const std::string at = call + " #" + std::to_string(n);
            fs::path dataset = Fresh("term");
            const Exit term =
                Shell("strace -f -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
                      ":signal=TERM:when=" + std::to_string(n) + " " + Compute(dataset));
            EXPECT_TRUE(term.status == 143 || term.status == 0)
                << "SIGTERM at " << at << ": status " << term.status << "\n"
                << term.out;
            CheckAllOrNothing(dataset, "SIGTERM at " + at);
            dataset = Fresh("full");
            const Exit full =
                Shell("strace -f -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
                      ":error=ENOSPC:when=" + std::to_string(n) + " " + Compute(dataset));
            // The system's words, or SQLite's for a GeoPackage.
            if (full.status != 0 && full.out.find("No space left on device") == std::string::npos &&
                full.out.find("database or disk is full") == std::string::npos) {
                ADD_FAILURE() << "full disk at " << at << ": the message does not say so\n"
                              << full.out;
            }
            CheckAllOrNothing(dataset, "full disk at " + at);
            if (HasFailure()) {
                return;
            }
        }
    }
}

TEST_P(ComputeFault, TwoRunsAtOnceLoseNothing) {
    if (InQgis()) {
        GTEST_SKIP() << "the command line's own handling";
    }
    for (int race = 0; race < 20; ++race) {
        const fs::path dataset = Fresh("race");
        auto first = std::async(std::launch::async, [&] { return Shell(Compute(dataset)); });
        auto second = std::async(std::launch::async, [&] { return Shell(Compute(dataset)); });
        const Exit a = first.get();
        const Exit b = second.get();
        const std::string when = "race " + std::to_string(race);
        EXPECT_EQ((a.status == 0) + (b.status == 0), 1)
            << when << ": exactly one run adds the field\n"
            << a.out << "\n---\n"
            << b.out;
        EXPECT_TRUE(CheckLayer(dataset, "FZY_NATURE", when));
        if (HasFailure()) {
            return;
        }
    }
}

/// The criterion file's bytes with the date of its last record (just
/// before its EndMark) zeroed.
std::string WithoutLastDate(std::string fzy) {
    if (fzy.size() >= 23 + 10) {
        std::fill(fzy.end() - 10, fzy.end() - 2, '\0');
    }
    return fzy;
}

/// Recomputing a criterion field (--replace) stopped at every write, flush
/// and rename: every feature holds its old degree or every one its new one,
/// the criterion file its old bytes or its new ones, and the next run works
/// and leaves nothing behind.
TEST_P(ComputeFault, ReplaceKilledAtEveryWriteFlushAndRenameLeavesTheOldOrTheNew) {
    if (InQgis()) {
        GTEST_SKIP() << "the command line's own handling";
    }
    // The layer with its criterion field is the pristine one now.
    const fs::path base = Fresh("base");
    ASSERT_EQ(Shell(Compute(base)).status, 0);
    m_case.pristine = base.parent_path();
    const auto fzyOf = [](const fs::path& dataset) {
        return dataset.extension() == ".gpkg" ? fs::path(dataset.string() + ".parcels.fzy")
                                              : fs::path(dataset).replace_extension(".fzy");
    };
    const std::string oldFzy = ReadBytes(fzyOf(base));
    const std::vector<std::string> fields = Take(base, {}, m_source, "").fields;
    // The same values, other grades.
    std::map<std::string, double> grades[2] = {m_grades, {}};
    std::ifstream in(m_case.grades);
    m_case.grades = m_root / "new-grades.txt";
    std::ofstream out(m_case.grades);
    for (std::string line; std::getline(in, line);) {
        if (line.size() >= 3) {
            out << line.substr(0, line.size() - 1) << char('6' - (line.back() - '0')) << '\n';
        }
    }
    out.close();
    grades[1] = m_grades = ReadGrades(m_case.grades);
    m_extra = " --replace";
    // In the folder of every stopped run: the record names its folder.
    const fs::path whole = Fresh("kill");
    ASSERT_EQ(Shell(Compute(whole)).status, 0);
    const std::string newFzy = WithoutLastDate(ReadBytes(fzyOf(whole)));

    // 0 old degrees, 1 new ones, 2 neither.
    const auto degrees = [&](const fs::path& dataset) {
        const Snapshot now = Take(dataset, {}, m_source, "FZY_NATURE");
        EXPECT_EQ(now.fields, fields);
        for (int which : {0, 1}) {
            if (std::all_of(now.added.begin(), now.added.end(), [&](const auto& added) {
                    const auto source = m_original.sources.find(added.first);
                    const auto grade = source == m_original.sources.end()
                                           ? grades[which].end()
                                           : grades[which].find(source->second);
                    const double expected = grade == grades[which].end() ? 0.0 : grade->second;
                    return added.second && std::fabs(*added.second - expected) < 1e-9;
                })) {
                return which;
            }
        }
        return 2;
    };
    std::map<int, int> outcomes;
    for (const auto& [call, count] : CountCalls(kDurableCalls)) {
        for (int n : Stops(count)) {
            const std::string when = "replace killed at " + call + " #" + std::to_string(n);
            const fs::path dataset = Fresh("kill");
            Shell("strace -f -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
                  ":signal=KILL:when=" + std::to_string(n) + " " + Compute(dataset));
            const std::string fzy = ReadBytes(fzyOf(dataset));
            EXPECT_TRUE(fzy == oldFzy || WithoutLastDate(fzy) == newFzy) << when;
            const int state = degrees(dataset);
            EXPECT_NE(state, 2) << when << ": the degrees are neither all old nor all new";
            ++outcomes[state];
            const Exit next = Shell(Compute(dataset));
            ASSERT_EQ(next.status, 0) << when << ": the next run fails\n" << next.out;
            EXPECT_EQ(degrees(dataset), 1) << when << ", next run";
            EXPECT_EQ(FilesOf(dataset.parent_path()), FilesOf(m_case.pristine)) << when;
            if (HasFailure()) {
                return;
            }
        }
    }
    EXPECT_GT(outcomes[0], 0);  // stops before the change and after it
    EXPECT_GT(outcomes[1], 0);
}

/// QGIS killed (SIGKILL, as a crash or an out-of-memory kill would) at 20
/// moments spread over its runs on a 200,000-feature layer: the layer whole
/// or untouched every time, and the next run fine.
TEST_P(ComputeFault, KilledAtRandomMomentsLosesNothing) {
    if (!InQgis()) {
        GTEST_SKIP() << "QGIS only";
    }
    // About ten minutes for both formats: run by scripts/qgis-kill-test.
    if (std::getenv("VARK_QGIS_KILL_TEST") == nullptr) {
        GTEST_SKIP() << "set VARK_QGIS_KILL_TEST=1 (scripts/qgis-kill-test)";
    }
    const std::string file = m_case.file;
    fs::remove_all(m_case.pristine);
    fs::create_directories(m_case.pristine);
    ASSERT_EQ(
        Shell(Quote(kLayerMaker) + " layer " + Quote((m_case.pristine / file).string()) + " 200000")
            .status,
        0);
    m_original = Take(m_case.pristine / file, {}, m_source, "");
    // How long a whole run takes, QGIS's start included.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Shell(Compute(Fresh("timed"))).status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::srand(19);
    int changed = 0;
    for (int kill = 0; kill < 20; ++kill) {
        const double at = seconds * (0.2 + 0.8 * std::rand() / RAND_MAX);
        const std::string when = "QGIS killed after " + std::to_string(at) + " s";
        const fs::path dataset = Fresh("random");
        const Exit run = Shell("timeout -s KILL " + std::to_string(at) + " " + Compute(dataset));
        changed += run.status == 0;
        CheckAfterStop(dataset, when);
        if (HasFailure()) {
            return;
        }
    }
    std::cout << "[ kills    ] 20 kills on " << GetParam() << " (" << 20 - changed
              << " during the run)\n";
}

INSTANTIATE_TEST_SUITE_P(Layers, ComputeFault,
                         ::testing::Values("sample", "shp10k", "gpkg", "qgis-shp10k", "qgis-gpkg"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

}  // namespace
