// The batch subcommands over real data sets: what compute writes and
// prints, every exit status, grades files, the description, the language
// of one run.

#include <gdal_priv.h>
#include <gmock/gmock.h>
#include <ogrsf_frmts.h>

#include <fstream>
#include <map>

#include "criterion/CriterionComputation.h"
#include "criterion/FieldListing.h"
#include "criterion_file/fzy_io.h"
#include "host/ogr/OgrApplication.h"
#include "testing/BatchTestSupport.h"
#include "testing/OgrTestData.h"
#include "text_store/clsResourceMDB.h"

namespace vark::test {
namespace {

using namespace std::string_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;

double Degree(int grade, MembershipScale scale = MembershipScale::Seven) {
    return static_cast<double>(*MembershipDegree(grade, scale));
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

const Natures kMixed = {"Forêt",      "Forêt", "Prairie", "",       std::nullopt,
                        std::nullopt, "Lande", "forêt",   " Forêt", "A->2"};

TEST_F(BatchTest, ComputePrintsHowManyFeaturesEachEntryAndZeroGot) {
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string grades;  ///< content of a grades file, "" for none
        std::string expectedOut;
        std::vector<std::optional<double>> degrees;
    } cases[] = {
        {"a value holding an arrow, the empty value, a value graded twice",
         {"--grade", "Forêt->6", "--grade", "Forêt->1", "--grade", "A->2->5", "--grade", "->4"},
         "",
         "FZY_NATURE\n2\tForêt->6\n0\tForêt->1\n1\tA->2->5\n1\t->4\n"
         "4\t(valeurs non notées)\n0\t(textes vides)\n2\t(valeurs nulles)\n",
         {1.0, 1.0, 0.0, Degree(4), 0.0, 0.0, 0.0, 0.0, 0.0, Degree(5)}},
        {"the same from a grades file with CR LF, a byte-order mark and a blank line",
         {},
         "\xEF\xBB\xBF"
         "Forêt->6\r\nForêt->1\r\n\r\nA->2->5\r\n->4",
         "FZY_NATURE\n2\tForêt->6\n0\tForêt->1\n1\tA->2->5\n1\t->4\n"
         "4\t(valeurs non notées)\n0\t(textes vides)\n2\t(valeurs nulles)\n",
         {1.0, 1.0, 0.0, Degree(4), 0.0, 0.0, 0.0, 0.0, 0.0, Degree(5)}},
        {"three levels, a long name cut to ten characters, LF lines after a --grade",
         {"--levels", "3", "--name", "CRITERE_NATURE", "--grade", "Prairie->3"},
         "Lande->6\n",
         "CRITERE_NA\n1\tPrairie->3\n1\tLande->6\n5\t(valeurs non notées)\n1\t(textes vides)\n"
         "2\t(valeurs nulles)\n",
         {0.0, 0.0, 0.5, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0}},
        {"no entry: the field is made and left as the host made it",
         {},
         "",
         "FZY_NATURE\n0\t(valeurs non notées)\n0\t(textes vides)\n0\t(valeurs nulles)\n",
         std::vector<std::optional<double>>(10)},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = m_dir.path() / std::to_string(n++);
        fs::create_directory(folder);
        const fs::path gpkg = folder / "parcelles.gpkg";
        WriteNatures(gpkg, "GPKG", kMixed);
        std::vector<std::string> args = {gpkg.string(), "NATURE"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        if (!c.grades.empty()) {
            WriteFile(folder / "grades.txt", c.grades);
            args.insert(args.end(), {"--grades", (folder / "grades.txt").string()});
        }
        const BatchRun run = Run("compute", args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, c.expectedOut);
        EXPECT_EQ(run.err, "");
        const std::string field = c.expectedOut.substr(0, c.expectedOut.find('\n'));
        EXPECT_EQ(ReadDoubles(gpkg, field), c.degrees);
        EXPECT_TRUE(fs::exists(folder / ("parcelles.gpkg.parcelles.fzy")));
    }
}

/// A feature class that stores through ordinary update cursors only: the
/// straightforward pass, whole features read and written.
class WholeFeatures : public host::FeatureClass {
public:
    explicit WholeFeatures(std::shared_ptr<host::FeatureClass> inner) : m_inner(std::move(inner)) {}
    std::int32_t GetShapeType() const override { return m_inner->GetShapeType(); }
    std::string GetAliasName() const override { return m_inner->GetAliasName(); }
    std::shared_ptr<host::Workspace> GetWorkspace() override { return m_inner->GetWorkspace(); }
    host::Fields GetFields() override { return m_inner->GetFields(); }
    void AddFieldToClass(const host::Field& field) override { m_inner->AddFieldToClass(field); }
    std::shared_ptr<host::UpdateCursor> OpenColumnUpdateCursor(const host::ColumnUpdate&) override {
        return m_inner->OpenUpdateCursor(nullptr, true);
    }
    std::int64_t GetFeatureCount() override { return m_inner->GetFeatureCount(); }

private:
    std::shared_ptr<host::FeatureClass> m_inner;
};

/// The computation over `dataset` through whole-feature passes.
void ComputeStraightforwardly(const fs::path& dataset, const std::vector<std::string>& entries) {
    auto app = ogr::CreateOgrApplication();
    ogr::AddDataSource(*app, {dataset.string(), ""});
    auto layer = std::dynamic_pointer_cast<host::FeatureLayer>(
        app->GetDocument()->GetFocusMap()->GetMapLayer(0));
    ASSERT_TRUE(layer);
    CriterionRequest request;
    request.sourceField = "NATURE";
    request.gradedEntries = LoadGradedEntries(entries);
    request.typedName = "FZY_NATURE";
    request.featureClass = std::make_shared<WholeFeatures>(layer->GetFeatureClass());
    CriterionFileRun file(layer->GetFeatureClass()->GetWorkspace()->GetWorkspacePath(),
                          layer->GetLayerName(), FieldsOf(request.featureClass));
    ComputeCriterion(request, file);
}

// The column update the computation runs is an optimisation: the files must
// come out as the straightforward pass leaves them.
TEST_F(BatchTest, ComputeWritesWhatWholeFeaturePassesWrite) {
    Natures natures;
    for (int i = 0; i < 300; ++i) natures.insert(natures.end(), kMixed.begin(), kMixed.end());
    const std::vector<std::string> entries = {"Forêt->6", "Prairie->4", "->2", "A->2->5"};
    for (const char* file : {"parcelles.shp", "parcelles.gpkg"}) {
        SCOPED_TRACE(file);
        const fs::path folder = m_dir.path() / file;
        const fs::path dataset = folder / file;
        const bool shapefile = fs::path(file).extension() == ".shp";
        const fs::path fzy =
            folder / (shapefile ? "parcelles.fzy" : "parcelles.gpkg.parcelles.fzy");
        const auto makeData = [&] {
            fs::remove_all(folder);
            fs::create_directory(folder);
            WriteNatures(dataset, shapefile ? "ESRI Shapefile" : "GPKG", natures, "parcelles");
        };
        makeData();
        std::vector<std::string> args = {dataset.string(), "NATURE"};
        for (const auto& entry : entries) args.insert(args.end(), {"--grade", entry});
        ASSERT_EQ(Run("compute", args).status, 0);
        const auto values = ReadDoubles(dataset, "FZY_NATURE");
        const std::string table = ReadBytes(shapefile ? folder / "parcelles.dbf" : dataset);
        const std::string record = WithoutDates(ReadBytes(fzy));

        makeData();
        ComputeStraightforwardly(dataset, entries);
        EXPECT_EQ(ReadDoubles(dataset, "FZY_NATURE"), values);
        EXPECT_EQ(WithoutDates(ReadBytes(fzy)), record);
        if (shapefile) {
            // The new field's bytes in every record (it is the last field).
            // A whole-feature pass also writes the other fields back as it
            // read them (dBASE texts lose their leading blanks); the column
            // pass leaves them as they were.
            const std::string whole = ReadBytes(folder / "parcelles.dbf");
            ASSERT_EQ(whole.size(), table.size());
            const auto header = static_cast<std::size_t>(static_cast<unsigned char>(table[8]) |
                                                         static_cast<unsigned char>(table[9]) << 8);
            const auto record = static_cast<std::size_t>(
                static_cast<unsigned char>(table[10]) | static_cast<unsigned char>(table[11]) << 8);
            EXPECT_EQ(whole.substr(0, header), table.substr(0, header));
            for (std::size_t r = 0; r < natures.size(); ++r) {
                const std::size_t end = header + (r + 1) * record;
                ASSERT_EQ(whole.substr(end - 24, 24), table.substr(end - 24, 24)) << r;
            }
            EXPECT_EQ(table.substr(header + 8 * record + 1, 6),
                      " For\xEA"
                      "t"s);
        } else {
            EXPECT_EQ(values[9], Degree(5));  // "A->2"
        }
        ASSERT_EQ(values.size(), natures.size());
    }
}

TEST_F(BatchTest, ExitStatuses) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    const fs::path two = m_dir.path() / "two.gpkg";
    WriteNatures(two, "GPKG", {"x"}, "alpha");
    WriteNatures(two, "GPKG", {"y"}, "beta");
    Natures hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back("v" + std::to_string(1000 + i));
    const fs::path exactly = m_dir.path() / "hundred.gpkg";
    WriteNatures(exactly, "GPKG", hundred);
    hundred.push_back("v9999");
    hundred.push_back("v1000");
    const fs::path tooMany = m_dir.path() / "many.gpkg";
    WriteNatures(tooMany, "GPKG", hundred);
    std::vector<std::string> manyGrades = {shp.string(), "NATURE"};
    for (int i = 0; i < 102; ++i) manyGrades.insert(manyGrades.end(), {"--grade", "x->1"});
    const auto editing = [](host::Application& app) { ogr::SetEditState(app, 1); };

    struct Case {
        const char* name;
        std::string subcommand;
        std::vector<std::string> args;
        int status;
        std::string inErr;
        std::function<void(host::Application&)> prepare = {};
    } cases[] = {
        {"listing works", "fields", {shp.string()}, 0, ""},
        {"help", "compute", {"--help"}, 0, ""},
        {"no such data set",
         "fields",
         {(m_dir.path() / "none.shp").string()},
         1,
         "vark-fuzzy: erreur : impossible d'ouvrir le jeu de données " +
             (m_dir.path() / "none.shp").string() + " : vérifiez son chemin et son format.\n"},
        {"no such field",
         "values",
         {shp.string(), "NOPE"},
         1,
         "la couche parcelles n'a pas de champ texte NOPE. « vark-fuzzy fields " + shp.string() +
             " » liste ses champs.\n"},
        {"not a text field", "compute", {shp.string(), "INDICE"}, 1, "pas de champ texte INDICE"},
        {"the host is editing",
         "compute",
         {shp.string(), "NATURE", "--grade", "Forêt->6"},
         1,
         Text(133),
         editing},
        {"a short name already taken",
         "compute",
         {shp.string(), "NATURE", "--name", "NATURE"},
         1,
         "vark-fuzzy: erreur : la couche parcelles a déjà un champ NATURE ; rien n'a été "
         "modifié : --replace le recalcule"},
        {"a name the format refuses, found in the run",
         "compute",
         {shp.string(), "NATURE", "--name", "Nature"},
         1,
         "vark-fuzzy: erreur : la commande compute a échoué. Le rapport complet est dans le "
         "journal "},
        {"unknown option",
         "values",
         {shp.string(), "NATURE", "--frob"},
         2,
         "vark-fuzzy: erreur : option inconnue : --frob\nSyntaxe : vark-fuzzy values "},
        {"no field named", "values", {shp.string()}, 2, "attend DATASET FIELD, et non 1"},
        {"levels", "compute", {shp.string(), "NATURE", "--levels", "4"}, 2, "--levels"},
        {"no arrow",
         "compute",
         {shp.string(), "NATURE", "--grade", "Forêt6"},
         2,
         "--grade : « Forêt6 » n'est pas une valeur notée"},
        {"grade 7",
         "compute",
         {shp.string(), "NATURE", "--grade", "Forêt->7"},
         2,
         "n'est pas une valeur notée VALEUR->NIVEAU"},
        {"not UTF-8",
         "compute",
         {shp.string(), "NATURE", "--grade", "For\xEAt->6"},
         2,
         "n'est pas un texte UTF-8"},
        {"more than 101 entries", "compute", manyGrades, 2,
         "au plus 101 valeurs notées, et non 102"},
        {"a grade the scale lacks",
         "compute",
         {shp.string(), "NATURE", "--levels", "3", "--grade", "Forêt->4", "--grade", "Lande->6"},
         2,
         Text(171) + "\nForêt\n"},
        {"no grades file",
         "compute",
         {shp.string(), "NATURE", "--grades", (m_dir.path() / "none.txt").string()},
         2,
         "impossible de lire le fichier de notes"},
        {"several layers", "fields", {two.string()}, 2, "avec --layer : alpha, beta"},
        {"unknown language",
         "fields",
         {shp.string(), "--lang", "xx"},
         2,
         "pas de langue xx (connues : fr, en, es, de)"},
        {"exactly 100 values", "values", {exactly.string(), "NATURE"}, 0, ""},
        {"101 values",
         "values",
         {tooMany.string(), "NATURE"},
         3,
         std::string(kTooManyValuesText) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BatchRun run = Run(c.subcommand, c.args, c.prepare);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find(c.inErr), std::string::npos) << run.err;
        if (c.status == 3) {
            EXPECT_EQ(run.out, "");
        }
    }
    // Nothing above changed the layer, and the failures are in the log as
    // the dialog writes them.
    EXPECT_EQ(ReadFieldNames(shp),
              (std::vector<std::string>{"Id", "NATURE", "COMMUNE", "INDICE", "SURF_M2", "PENTE"}));
    const std::string log = Log();
    EXPECT_NE(log.find("in frm_CritereTexte(GDAL) - cmd_go_Click"), std::string::npos) << log;
    EXPECT_NE(log.find("Debug=42"), std::string::npos);
    EXPECT_NE(log.find("(Silent Error) : "), std::string::npos);
    EXPECT_EQ(Run("values", {exactly.string(), "NATURE"}).out.size(), 100u * 6);
    EXPECT_EQ(Run("fields", {two.string(), "--layer", "beta"}).status, 0);
}

// Texts stored in Windows-1252, declared or not, and mixed with UTF-8 in a
// file that declares nothing: listed in UTF-8, and a UTF-8 grade matches
// every stored form that reads as it. The code page byte 0x57 ("ANSI")
// reads as Windows-1252, its bytes 0x80-0x9F included, unless a .cpg says
// otherwise.
TEST_F(BatchTest, ValuesAndGradesInTheLayersEncoding) {
    const std::vector<std::string> forestAndPond = {"--grade", "Forêt->6", "--grade", "Étang->3"};
    struct Case {
        const char* name;
        Declared declared;
        Natures natures;
        std::vector<std::string> grades;
        std::string values;
        std::string counts;
        std::vector<std::optional<double>> degrees;
    } cases[] = {
        {"Windows-1252, nothing declared",
         Declared::kNothing,
         {"For\xEAt", "\xC9tang", "Prairie", "For\xEAt", ""},
         forestAndPond,
         "\n\xC3\x89tang\nFor\xC3\xAAt\nPrairie\n",
         "2\tForêt->6\n1\tÉtang->3\n1\t(valeurs non notées)\n1\t(textes vides)\n",
         {1.0, 0.5, 0.0, 1.0, 0.0}},
        {"Windows-1252 and UTF-8 mixed, nothing declared",
         Declared::kNothing,
         {"For\xEAt", "Forêt", "\xC9tang", "Étang", "Prairie"},
         forestAndPond,
         "Étang\nÉtang\nForêt\nForêt\nPrairie\n",
         "2\tForêt->6\n2\tÉtang->3\n1\t(valeurs non notées)\n0\t(textes vides)\n",
         {1.0, 1.0, 0.5, 0.5, 0.0}},
        {"code page byte 0x57",
         Declared::kCodePageByte,
         {"For\xEAt", "\xC9tang", "Prairie"},
         forestAndPond,
         "Étang\nForêt\nPrairie\n",
         "1\tForêt->6\n1\tÉtang->3\n1\t(valeurs non notées)\n0\t(textes vides)\n",
         {1.0, 0.5, 0.0}},
        {"code page byte 0x57, characters 0x80-0x9F",
         Declared::kCodePageByte,
         {"c\x9Cur",
          "l\x92"
          "eau",
          "For\xEAt", "c\x9Cur", "\x80 \x93x\x94"},
         {"--grade", "cœur->6", "--grade", "l’eau->3"},
         "€ “x”\ncœur\nForêt\nl’eau\n",
         "2\tcœur->6\n1\tl’eau->3\n2\t(valeurs non notées)\n0\t(textes vides)\n",
         {1.0, 0.5, 0.0, 1.0, 0.0}},
        {".cpg 1252",
         Declared::kCpg1252,
         {"For\xEAt", "\xC9tang", "Prairie"},
         forestAndPond,
         "Étang\nForêt\nPrairie\n",
         "1\tForêt->6\n1\tÉtang->3\n1\t(valeurs non notées)\n0\t(textes vides)\n",
         {1.0, 0.5, 0.0}},
        {".cpg UTF-8 and code page byte 0x57",
         Declared::kCpgUtf8AndCodePageByte,
         {"Forêt", "Étang", "Prairie", "l’eau"},
         forestAndPond,
         "Étang\nForêt\nl’eau\nPrairie\n",
         "1\tForêt->6\n1\tÉtang->3\n2\t(valeurs non notées)\n0\t(textes vides)\n",
         {1.0, 0.5, 0.0, 0.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = m_dir.path() / ("case" + std::to_string(&c - cases));
        fs::create_directory(folder);
        const fs::path shp = folder / "parcelles.shp";
        WriteDeclaredNatures(shp, c.natures, c.declared);

        const BatchRun values = Run("values", {shp.string(), "NATURE"});
        ASSERT_EQ(values.status, 0) << values.err;
        EXPECT_EQ(values.out, c.values);

        std::vector<std::string> args = {shp.string(), "NATURE"};
        args.insert(args.end(), c.grades.begin(), c.grades.end());
        const BatchRun compute = Run("compute", args);
        ASSERT_EQ(compute.status, 0) << compute.err;
        EXPECT_EQ(compute.out, "FZY_NATURE\n" + c.counts + "0\t(valeurs nulles)\n");
        EXPECT_EQ(ReadDoubles(shp, "FZY_NATURE"), c.degrees);
    }
}

/// Every file of `folder` with its bytes.
std::map<std::string, std::string> FolderBytes(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = ReadBytes(entry.path());
    }
    return files;
}

// The temporary files of a run have names of the tool's own: a user's
// files of names much like them stay, and no temporary file is left.
TEST_F(BatchTest, UsersFilesBesideTheLayerAreNeverTouched) {
    const fs::path dataset = CopySampleShapefile(m_dir.path());
    const std::vector<std::string> users = {"parcelles.tmp", "parcelles.dbf.tmp",
                                            "parcelles.fzy.tmp", ".parcelles.fzy.vark-tmp-"};
    for (const std::string& name : users) {
        WriteBytes(m_dir.path() / name, "the user's " + name);
    }
    for (const char* name : {"FZY_A", "FZY_B"}) {
        const BatchRun run =
            Run("compute", {dataset.string(), "NATURE", "--name", name, "--grade", "Lande->6"});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    for (const std::string& name : users) {
        EXPECT_EQ(ReadBytes(m_dir.path() / name), "the user's " + name);
    }
    EXPECT_EQ(TemporariesIn(m_dir.path()), std::vector<std::string>{".parcelles.fzy.vark-tmp-"});
}

void DropField(const fs::path& dataset, const char* name);

// Every computation records how it was made beside its criterion record:
// describe shows it, gives it back as a grades file that recomputes the
// same degrees, and a recipe goes with its field.
TEST_F(BatchTest, RecipesAreShownReappliedAndKeptInStep) {
    for (const char* file : {"parcelles.shp", "parcelles.gpkg"}) {
        SCOPED_TRACE(file);
        const bool shapefile = fs::path(file).extension() == ".shp";
        const fs::path folder = m_dir.path() / file;
        const fs::path again = m_dir.path() / (std::string("again-") + file);
        fs::create_directories(folder);
        fs::create_directories(again);
        const fs::path dataset = shapefile ? CopySampleShapefile(folder) : SampleGeoPackage(folder);
        const fs::path copy = shapefile ? CopySampleShapefile(again) : SampleGeoPackage(again);
        const std::vector<std::string> grading = {"--levels", "5",        "--grade", "Forêt->6",
                                                  "--grade",  "Lande->2", "--grade", "Bâti->0"};
        std::vector<std::string> args = {dataset.string(), "NATURE", "--quiet"};
        args.insert(args.end(), grading.begin(), grading.end());
        ASSERT_EQ(Run("compute", args).status, 0);

        BatchRun recipe =
            Run("describe", {dataset.string(), "FZY_NATURE", "--recipe", "--lang", "en"});
        ASSERT_EQ(recipe.status, 0) << recipe.err;
        EXPECT_THAT(recipe.out,
                    HasSubstr("Criterion FZY_NATURE: field NATURE of the layer parcelles, "
                              "scale of 5 levels\nmade on "));
        EXPECT_THAT(recipe.out, HasSubstr("(batch, version "));
        // A dBASE text loses the leading blank of " Forêt"; the GeoPackage keeps it.
        EXPECT_THAT(recipe.out, HasSubstr(std::string(shapefile ? "\n5" : "\n4") +
                                          "\t6\t1\tForêt\n1\t2\t0.25\tLande\n"));
        EXPECT_THAT(Run("describe", {dataset.string(), "FZY_NATURE", "--json"}).out,
                    HasSubstr("\"run_by\": \"batch\""));
        // A shapefile's recipe lies beside its criterion file; a GeoPackage
        // keeps it in its own metadata tables, scoped to the column.
        bool besideIt = false;
        for (const auto& entry : fs::directory_iterator(folder)) {
            besideIt = besideIt || entry.path().string().ends_with(".fzy.json");
        }
        EXPECT_EQ(besideIt, shapefile);
        if (!shapefile) {
            GDALDatasetUniquePtr gpkg(GDALDataset::Open(dataset.c_str(), GDAL_OF_VECTOR));
            ASSERT_TRUE(gpkg);
            OGRLayer* rows = gpkg->ExecuteSQL(
                "SELECT m.mime_type FROM gpkg_metadata m JOIN gpkg_metadata_reference r ON "
                "r.md_file_id = m.id WHERE r.reference_scope = 'column' AND r.column_name = "
                "'FZY_NATURE'",
                nullptr, nullptr);
            ASSERT_NE(rows, nullptr);
            EXPECT_EQ(rows->GetFeatureCount(), 1);
            gpkg->ReleaseResultSet(rows);
        }

        // Given back as a grades file, it recomputes the very same degrees.
        const BatchRun grades = Run("describe", {dataset.string(), "FZY_NATURE", "--grades"});
        EXPECT_EQ(grades.out, "Forêt->6\nLande->2\nBâti->0\n");
        EXPECT_EQ(grades.err, "--levels 5\n");
        const fs::path gradesFile = m_dir.path() / "grades.txt";
        WriteFile(gradesFile, grades.out);
        ASSERT_EQ(Run("compute", {copy.string(), "NATURE", "--levels", "5", "--grades",
                                  gradesFile.string(), "--quiet"})
                      .status,
                  0);
        EXPECT_EQ(ReadDoubles(copy, "FZY_NATURE"), ReadDoubles(dataset, "FZY_NATURE"));

        // No recipe for a field that has none; a field deleted behind the
        // tool's back loses its recipe with its record at the next run.
        EXPECT_EQ(Run("describe", {dataset.string(), "NATURE", "--recipe"}).status,
                  app::kExitNoRecord);
        DropField(dataset, "FZY_NATURE");
        ASSERT_EQ(Run("compute", {dataset.string(), "NATURE", "--name", "FZY_B", "--grade",
                                  "Lande->6", "--quiet"})
                      .status,
                  0);
        EXPECT_EQ(Run("describe", {dataset.string(), "FZY_NATURE", "--recipe"}).status,
                  app::kExitNoRecord);
        EXPECT_EQ(Run("describe", {dataset.string(), "FZY_B", "--recipe"}).status, 0);
    }
}

// A recipe file that is no recipe file refuses a computation before
// anything changes, and describe says what is wrong with it.
// --like takes the grading and the scale of a recorded criterion of another
// data set: the same degrees as its grades given by hand, and the values the
// new layer holds that it does not grade listed with their features.
TEST_F(BatchTest, AGradingIsReappliedFromARecordedCriterion) {
    const fs::path first = m_dir.path() / "first";
    const fs::path second = m_dir.path() / "second";
    fs::create_directories(first);
    fs::create_directories(second);
    const fs::path model = CopySampleShapefile(first);
    const fs::path target = SampleGeoPackage(second);
    ASSERT_EQ(Run("compute", {model.string(), "NATURE", "--levels", "5", "--grade", "Forêt->6",
                              "--grade", "Prairie->4", "--quiet"})
                  .status,
              0);
    const std::string like = model.string() + ":FZY_NATURE";
    const BatchRun run =
        Run("compute", {target.string(), "NATURE", "--like", like, "--quiet", "--lang", "en"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Every unlisted feature is in the listing, most held first.
    EXPECT_THAT(run.out, HasSubstr("\n17\t(unlisted values)\n1\t(empty texts)\n2\t(null values)\n"
                                   "values of the layer the reapplied grading does not grade:\n"
                                   "5\tTerre arable\n3\tBâti\n3\tVerger\n2\tZone humide\n"));
    EXPECT_THAT(run.out, HasSubstr("\n1\tLande\n"));
    ASSERT_EQ(Run("compute", {target.string(), "NATURE", "--name", "FZY_HAND", "--levels", "5",
                              "--grade", "Forêt->6", "--grade", "Prairie->4", "--quiet"})
                  .status,
              0);
    EXPECT_EQ(ReadDoubles(target, "FZY_NATURE"), ReadDoubles(target, "FZY_HAND"));

    EXPECT_EQ(Run("compute", {target.string(), "NATURE", "--name", "FZY_X", "--like",
                              model.string() + ":NATURE"})
                  .status,
              app::kExitNoRecord);
    EXPECT_EQ(Run("compute", {target.string(), "NATURE", "--like", model.string()}).status,
              app::kExitUsage);
    EXPECT_EQ(
        Run("compute", {target.string(), "NATURE", "--like", like, "--grade", "Lande->1"}).status,
        app::kExitUsage);
}

TEST_F(BatchTest, ADamagedRecipeFileRefusesTheRunAndIsTold) {
    // The layer in a folder of its own: the error log goes beside the program.
    const fs::path folder = m_dir.path() / "data";
    fs::create_directory(folder);
    const fs::path dataset = CopySampleShapefile(folder);
    const fs::path recipes = folder / "parcelles.fzy.json";
    WriteFile(recipes, "{\"format\": \"vark-fuzzy recipes\", \"criteria\": [");
    const auto before = FolderBytes(folder);
    const BatchRun run =
        Run("compute", {dataset.string(), "NATURE", "--grade", "Lande->6", "--lang", "en"});
    EXPECT_EQ(run.status, app::kExitFailure);
    EXPECT_THAT(run.err, HasSubstr(recipes.string() + "\" is not a recipe file: bad JSON"));
    EXPECT_EQ(FolderBytes(folder), before);
    const BatchRun describe = Run("describe", {dataset.string(), "FZY_NATURE", "--recipe"});
    EXPECT_EQ(describe.status, app::kExitFailure);
    EXPECT_THAT(describe.err, HasSubstr("is not a recipe file"));
}

// A field name with an accent in a table that declares no encoding reads
// as the texts do (Windows-1252 here): listed, addressed and computed by
// its text, and a new name goes to the table in the same code page, both
// through the table route and when the criterion is recomputed.
TEST_F(BatchTest, AccentedFieldNamesOfATableThatDeclaresNoEncoding) {
    const fs::path shp = m_dir.path() / "parcelles.shp";
    std::vector<vark::testing::FeatureSpec> features(3);
    features[0].values = {std::string("For\xEAt")};
    features[1].values = {std::string("Prairie")};
    features[2].values = {std::string("For\xEAt")};
    vark::testing::WriteLayer("ESRI Shapefile", shp, "parcelles", {{"NATUR\xC9", OFTString, 0, 40}},
                              features, wkbPolygon, {"ENCODING="});
    fs::remove(m_dir.path() / "parcelles.cpg");

    const BatchRun fields = Run("fields", {shp.string()});
    ASSERT_EQ(fields.status, 0) << fields.err;
    EXPECT_THAT(fields.out, HasSubstr("NATURÉ"));
    const BatchRun values = Run("values", {shp.string(), "NATURÉ"});
    ASSERT_EQ(values.status, 0) << values.err;
    EXPECT_EQ(values.out, "Forêt\nPrairie\n");
    for (const bool replace : {false, true}) {
        std::vector<std::string> args = {shp.string(), "NATURÉ", "--grade", "Forêt->6"};
        if (replace) {
            args.push_back("--replace");
        }
        const BatchRun compute = Run("compute", args);
        ASSERT_EQ(compute.status, 0) << compute.err;
        EXPECT_THAT(compute.out, StartsWith("FZY_NATURÉ\n"));
        EXPECT_EQ(ReadFieldNames(shp), (std::vector<std::string>{"NATUR\xC9", "FZY_NATUR\xC9"}));
        EXPECT_EQ(ReadDoubles(shp, "FZY_NATUR\xC9"),
                  (std::vector<std::optional<double>>{1.0, 0.0, 1.0}));
    }
    const BatchRun describe = Run("describe", {shp.string(), "FZY_NATURÉ"});
    EXPECT_EQ(describe.status, 0) << describe.err;
}

/// Deletes the field `name` of the first layer of `dataset` behind the
/// tool's back: its criterion record stays, naming a field that is gone.
void DropField(const fs::path& dataset, const char* name) {
    GDALDatasetUniquePtr ds(GDALDataset::Open(dataset.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    OGRLayer* layer = ds->GetLayer(0);
    ASSERT_EQ(layer->DeleteField(layer->GetLayerDefn()->GetFieldIndex(name)), OGRERR_NONE);
}

// A graded value no feature holds is refused before anything changes,
// named with the nearest values the field holds, every such value in one
// message; --allow-unmatched computes all the same. Also when recomputing.
// Nothing changes means the criterion file too: a record of a field that
// is gone stays until a run that does change the layer.
TEST_F(BatchTest, GradedValuesNoFeatureHoldsAreRefusedAndNothingChanges) {
    for (const bool shapefile : {true, false}) {
        SCOPED_TRACE(shapefile ? "shapefile" : "GeoPackage");
        const fs::path folder = m_dir.path() / (shapefile ? "shp" : "gpkg");
        fs::create_directory(folder);
        const fs::path dataset = shapefile ? CopySampleShapefile(folder) : SampleGeoPackage(folder);
        ASSERT_EQ(Run("compute",
                      {dataset.string(), "NATURE", "--name", "FZY_GONE", "--grade", "Lande->6"})
                      .status,
                  0);
        DropField(dataset, "FZY_GONE");
        // The GeoPackage keeps the leading blank of " Forêt"; a dBASE text loses it.
        const std::string told =
            std::string(
                "vark-fuzzy: erreur : Foret : aucune entité n'a cette valeur ; "
                "vouliez-vous dire forêt") +
            (shapefile ? " ou Forêt" : ", Forêt ou  Forêt") +
            " ?\n  Xyz : aucune entité n'a cette valeur.\n"
            // The layer's empty texts are never proposed.
            "  X : aucune entité n'a cette valeur.\n"
            "  Rien n'a été modifié ; --allow-unmatched calcule tout de même.\n";
        std::vector<std::string> args = {dataset.string(), "NATURE",   "--grade", "Foret->6",
                                         "--grade",        "Lande->3", "--grade", "Xyz->1",
                                         "--grade",        "X->2"};
        for (const bool replace : {false, true}) {
            const auto before = FolderBytes(folder);
            const BatchRun run = Run("compute", args);
            EXPECT_EQ(run.status, app::kExitUnmatched);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, told);
            EXPECT_EQ(FolderBytes(folder), before);
            if (!replace) {
                ASSERT_EQ(
                    Run("compute", {dataset.string(), "NATURE", "--grade", "Lande->6"}).status, 0);
                args.push_back("--replace");
            }
        }
        args.push_back("--allow-unmatched");
        const BatchRun run = Run("compute", args);
        EXPECT_EQ(run.out.rfind("FZY_NATURE\n0\tForet->6\n1\tLande->3\n0\tXyz->1\n0\tX->2\n", 0),
                  0u)
            << run.err;
    }
}

// --replace recomputes a criterion field, the other fields as they were
// (the fault tests check the degrees and the record); a field that is
// missing or not a double field is a usage error, and changes nothing.
TEST_F(BatchTest, ReplaceRecomputesOnlyACriterionField) {
    const fs::path dataset = m_dir.path() / "parcelles.shp";
    WriteNatures(dataset, "ESRI Shapefile", kMixed);
    for (const char* name : {"FZY_NATURE", "FZY_OTHER"}) {
        ASSERT_EQ(
            Run("compute", {dataset.string(), "NATURE", "--name", name, "--grade", "Lande->6"})
                .status,
            0);
    }
    const auto fields = ReadFieldNames(dataset);
    const auto other = ReadDoubles(dataset, "FZY_OTHER");
    ASSERT_EQ(
        Run("compute", {dataset.string(), "NATURE", "--replace", "--grade", "Forêt->6"}).status, 0);
    EXPECT_EQ(ReadFieldNames(dataset), fields);
    EXPECT_EQ(ReadDoubles(dataset, "FZY_OTHER"), other);
    EXPECT_EQ(ReadDoubles(dataset, "FZY_NATURE")[0], 1.0);

    const auto unchanged = FolderBytes(m_dir.path());
    const std::pair<std::string, std::string> refusals[] = {
        {"NATURE",
         "le champ NATURE de la couche parcelles n'est pas un champ réel double précision : "
         "--replace ne recalcule qu'un champ de critère.\n"},
        {"FZY_NATURX",
         "la couche parcelles n'a pas de champ FZY_NATURX à recalculer. Vouliez-vous dire "
         "FZY_NATURE ?\n"}};
    for (const auto& [name, err] : refusals) {
        const BatchRun refused = Run("compute", {dataset.string(), "NATURE", "--replace", "--name",
                                                 name, "--grade", "Forêt->6"});
        EXPECT_EQ(refused.status, app::kExitUsage);
        EXPECT_EQ(refused.err, "vark-fuzzy: erreur : " + err);
    }
    // Without --replace a taken name is refused before any file changes,
    // pointing to --replace.
    const BatchRun taken =
        Run("compute", {dataset.string(), "NATURE", "--name", "FZY_NATURE", "--grade", "Forêt->6"});
    EXPECT_EQ(taken.status, app::kExitFailure);
    EXPECT_EQ(taken.err,
              "vark-fuzzy: erreur : la couche parcelles a déjà un champ FZY_NATURE ; rien n'a été "
              "modifié : --replace le recalcule, --name en crée un autre.\n");
    for (const std::string lang : {"en", "es", "de"}) {
        const BatchRun told = Run("compute", {dataset.string(), "NATURE", "--name", "FZY_NATURE",
                                              "--grade", "Forêt->6", "--lang", lang});
        EXPECT_EQ(told.status, app::kExitFailure);
        EXPECT_THAT(told.err, HasSubstr(" FZY_NATURE"));
        EXPECT_THAT(told.err, HasSubstr("--replace ")) << lang;
    }
    EXPECT_EQ(FolderBytes(m_dir.path()), unchanged);
}

// A command line that cannot run is told in the language it asks for (or
// the user's), before the subcommand's usage in that language; the exit
// status stays 2.
TEST_F(BatchTest, UsageErrorsSpeakTheInterfaceLanguage) {
    const std::string usage =
        "Usage: vark-fuzzy compute DATASET FIELD [--layer NAME] [--levels 3|5|7]\n"
        "                          [--name NEW] [--grade ENTRY]... [--grades FILE]...\n"
        "                          [--replace] [--allow-unmatched]\n"
        "                          [--like DATASET:FIELD [--like-layer NAME]]\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{},
         "vark-fuzzy: erreur : compute attend DATASET FIELD, et non 0 argument(s)\n"
         "Syntaxe : vark-fuzzy compute DATASET FIELD"},
        {{"--lang", "en"},
         "vark-fuzzy: error: compute takes DATASET FIELD, not 0 argument(s)\n" + usage},
        {{"a.shp", "F", "--frob", "--lang", "de"},
         "vark-fuzzy: Fehler: unbekannte Option: --frob\nAufruf: vark-fuzzy compute DATASET"},
        {{"a.shp", "F", "--levels", "4", "--lang", "es"},
         "vark-fuzzy: error: --levels admite 3, 5 o 7, no 4\nUso: vark-fuzzy compute DATASET"},
    };
    for (const auto& [args, err] : cases) {
        const BatchRun run = Run("compute", args);
        EXPECT_EQ(run.status, app::kExitUsage);
        EXPECT_THAT(run.err, StartsWith(err));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 5) << run.err;
    }
}

TEST_F(BatchTest, FieldsListsTextFieldsThenTheOthers) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    EXPECT_EQ(Run("fields", {shp.string()}).out,
              "Attributs disponibles :\n  NATURE\n  COMMUNE\n"
              "Champs non texte :\n  INDICE\n  SURF_M2\n  PENTE\n");
    EXPECT_EQ(Run("fields", {shp.string(), "--unit-interval", "--lang", "en"}).out,
              "Available attributes :\n  NATURE\n  COMMUNE\nFields with values 0-1 :\n  INDICE\n");
}

TEST_F(BatchTest, DescribeShowsTheRecordAndCreatesNoFile) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    const fs::path fzy = m_dir.path() / "parcelles.fzy";
    const std::string none = Text(153) + "\n";

    BatchRun run = Run("describe", {shp.string(), "FZY_NATURE"});
    EXPECT_EQ(run.status, app::kExitNoRecord);
    EXPECT_EQ(run.out, none);
    EXPECT_FALSE(fs::exists(fzy));

    ASSERT_EQ(Run("compute", {shp.string(), "NATURE", "--grade", "Forêt->6"}).status, 0);
    run = Run("describe", {shp.string(), "FZY_NATURE"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Champ FZY_NATURE(alias :FZY_NATURE) fonction 999", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\n Val_a = 0\n"), std::string::npos);
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    run = Run("describe", {shp.string(), "INDICE"});
    EXPECT_EQ(run.out, none);
    EXPECT_EQ(run.status, app::kExitNoRecord);

    // Bytes after the counted records: read as the header counts them.
    const std::string sound = ReadBytes(fzy);
    WriteFile(fzy, sound + "tail");
    run = Run("describe", {shp.string(), "FZY_NATURE"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Champ FZY_NATURE(", 0), 0u) << run.out;

    // Counts the file does not hold: the damage and the repair are told.
    std::string bytes = sound;
    bytes[4] = 9;
    WriteFile(fzy, bytes);
    run = Run("describe", {shp.string(), "FZY_NATURE"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vark-fuzzy: erreur : le fichier de critères " + fzy.string() +
                           " est endommagé ; il n'a pas été modifié. Pour garder ses "
                           "enregistrements lisibles : vark-fuzzy repair-fzy " +
                           fzy.string() + "\n");
    EXPECT_NE(Log().find("sum_table_Click"), std::string::npos);
}

TEST_F(BatchTest, AnotherLanguageForOneRunOnly) {
    const fs::path gpkg = m_dir.path() / "parcelles.gpkg";
    WriteNatures(gpkg, "GPKG", kMixed);
    const BatchRun run = Run("compute", {gpkg.string(), "NATURE", "--lang", "en"});
    EXPECT_EQ(run.out, "FZY_NATURE\n0\t(unlisted values)\n0\t(empty texts)\n0\t(null values)\n");
    EXPECT_EQ(ReadLangSetting(), "fr");
}

TEST_F(BatchTest, ARefusedFieldIsNotReadToItsEnd) {
    Natures natures;
    for (int i = 0; i < 5000; ++i) natures.push_back("v" + std::to_string(i % 2000));
    for (const char* driver : {"GPKG", "ESRI Shapefile"}) {
        SCOPED_TRACE(driver);
        const fs::path path =
            m_dir.path() / (std::string(driver) == "GPKG" ? "many.gpkg" : "many.shp");
        WriteNatures(path, driver, natures);
        auto app = ogr::CreateOgrApplication();
        ogr::AddDataSource(*app, {path.string(), ""});
        auto layer = std::dynamic_pointer_cast<host::FeatureLayer>(
            app->GetDocument()->GetFocusMap()->GetMapLayer(0));
        ASSERT_TRUE(layer);
        std::int64_t furthest = 0;
        const FieldValues values = ListFieldValues(
            *app, *layer, "NATURE",
            [&](std::int64_t done, std::int64_t) { furthest = std::max(furthest, done); });
        EXPECT_TRUE(values.tooMany);
        EXPECT_TRUE(values.values.empty());
        EXPECT_LT(furthest, 5000);
    }
}

}  // namespace
}  // namespace vark::test
