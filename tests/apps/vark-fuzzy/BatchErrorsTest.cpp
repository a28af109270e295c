// What a user of the batch subcommands reads when something is wrong: one
// sentence in the interface language with the nearest names or the way
// out, the full report only in the log (and with --verbose); criterion
// files read as their format says, and repaired.

#include <gmock/gmock.h>

#include <fstream>

#include "host/ogr/OgrApplication.h"
#include "testing/BatchTestSupport.h"
#include "text_store/clsResourceMDB.h"

namespace vark::test {
namespace {

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(BatchTest, UnknownNamesGetTheNearestOnes) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    const fs::path two = m_dir.path() / "two.gpkg";
    WriteNatures(two, "GPKG", {"x"}, "parcelles");
    WriteNatures(two, "GPKG", {"y"}, "routes");
    struct Case {
        const char* name;
        std::string subcommand;
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {"another case",
         "values",
         {shp.string(), "nature"},
         "la couche parcelles n'a pas de champ texte nature. Vouliez-vous dire NATURE ?\n"},
        {"a typo, in English",
         "compute",
         {shp.string(), "COMUNE", "--lang", "en"},
         "vark-fuzzy: error: the layer parcelles has no text field COMUNE. Did you mean "
         "COMMUNE?\n"},
        {"a layer",
         "fields",
         {two.string(), "--layer", "Parcelle"},
         "le jeu de données " + two.string() +
             " n'a pas de couche Parcelle. Vouliez-vous dire parcelles ?\n"},
        {"a layer far from all",
         "fields",
         {two.string(), "--layer", "zzz"},
         "n'a pas de couche zzz. Ses couches : parcelles ou routes.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const BatchRun run = Run(c.subcommand, c.args);
        EXPECT_EQ(run.status, app::kExitFailure);
        EXPECT_TRUE(Has(run.err, c.err)) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(Has(run.err, "Error#")) << run.err;
    }
    // The data set's own failure still goes to the log, told as it happened.
    EXPECT_TRUE(Has(Log(), "No layer zzz in " + two.string())) << Log();
}

TEST_F(BatchTest, VerboseAddsTheFullReportWhichTheLogAlwaysGets) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    // A name the format refuses (dBASE names ignore case), found in the run.
    const std::vector<std::string> args = {shp.string(), "NATURE", "--name", "Nature"};
    BatchRun run = Run("compute", args);
    EXPECT_EQ(run.status, app::kExitFailure);
    EXPECT_TRUE(Has(run.err,
                    "la commande compute a échoué. Le rapport complet est dans le "
                    "journal " +
                        (m_dir.path() / "VARK_fuzzy.log").string()))
        << run.err;
    EXPECT_FALSE(Has(run.err, "Error#"));
    EXPECT_TRUE(Has(Log(), "cmd_go_Click"));

    std::vector<std::string> verbose = args;
    verbose.push_back("--verbose");
    run = Run("compute", verbose);
    EXPECT_EQ(run.status, app::kExitFailure);
    EXPECT_EQ(run.err.rfind("vark-fuzzy: erreur : la commande compute a échoué.", 0), 0u);
    EXPECT_TRUE(Has(run.err, "in frm_CritereTexte(GDAL) - cmd_go_Click\n")) << run.err;
    EXPECT_TRUE(Has(run.err, "Debug=42\n"));
    EXPECT_FALSE(Has(run.err, "\r"));
}

// Each subcommand's help in the interface language (French unless --lang
// says otherwise), its usage lines opened by that language's word and the
// lines that go on kept under the same words.
TEST_F(BatchTest, EachSubcommandHasItsOwnHelp) {
    const struct {
        std::vector<std::string> lang;
        std::string usage;
        std::string example;
        std::string progress;
    } languages[] = {{{}, "Syntaxe : ", "\nExemple :\n", "pas de barre de progression"},
                     {{"--lang", "en"}, "Usage: ", "\nExample:\n", "no progress bar"},
                     {{"--lang", "es"}, "Uso: ", "\nEjemplo:\n", "sin barra de progreso"},
                     {{"--lang", "de"}, "Aufruf: ", "\nBeispiel:\n", "keine Fortschrittsanzeige"}};
    for (const auto& language : languages) {
        for (const std::string word : {"fields", "values", "compute", "describe", "repair-fzy"}) {
            SCOPED_TRACE(word + " " + language.example);
            std::vector<std::string> args = {"--help"};
            args.insert(args.end(), language.lang.begin(), language.lang.end());
            const BatchRun run = Run(word, args);
            EXPECT_EQ(run.status, 0);
            const std::string head = language.usage + "vark-fuzzy " + word + " ";
            EXPECT_EQ(run.out.rfind(head, 0), 0u) << run.out;
            if (word == "compute") {
                EXPECT_TRUE(Has(
                    run.out, "[--levels 3|5|7]\n" + std::string(head.size(), ' ') + "[--name NEW]"))
                    << run.out;
            }
            EXPECT_TRUE(Has(run.out, language.example + "  vark-fuzzy " + word + " ")) << run.out;
            EXPECT_TRUE(Has(run.out, language.progress)) << run.out;
        }
    }

    // The saved language; the English help when the texts cannot be read.
    gTextStore().setLanguageCode("de");
    gTextStore().SaveLangSetting();
    EXPECT_EQ(Run("values", {"--help"}).out.rfind("Aufruf: vark-fuzzy values DATASET FIELD", 0),
              0u);
    textStoreState().databasePathOverride = (m_dir.path() / "missing.db").string();
    const BatchRun english = Run("values", {"--help"});
    EXPECT_EQ(english.out.rfind("Usage: vark-fuzzy values DATASET FIELD [--layer NAME]\n\n"
                                "Prints the distinct values",
                                0),
              0u)
        << english.out;
    EXPECT_TRUE(Has(english.out, "  --help        this text\n\nExample:\n"));
}

TEST_F(BatchTest, CriterionFilesReadAsTheirFormatSaysAndRepaired) {
    const fs::path shp = CopySampleShapefile(m_dir.path());
    const fs::path fzy = m_dir.path() / "parcelles.fzy";

    // Too short to hold a record: new, its header written with the record.
    WriteFile(fzy, std::string("\x01\x00\x05", 3));
    BatchRun run = Run("compute", {shp.string(), "NATURE", "--grade", "Forêt->6"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string sound = ReadBytes(fzy);
    EXPECT_EQ(sound.substr(0, 8), std::string("\x01\x00\x00\x00\x01\x00\x00\x00", 8));

    // Bytes after the counted records: read, but not appended to.
    WriteFile(fzy, sound + "tail");
    EXPECT_EQ(Run("describe", {shp.string(), "FZY_NATURE"}).status, 0);
    run = Run("compute", {shp.string(), "NATURE", "--name", "FZY_N2", "--lang", "en"});
    EXPECT_EQ(run.status, app::kExitFailure);
    // One plain sentence: the full report goes to the log, and to the
    // error stream only with --verbose.
    EXPECT_EQ(run.err, "vark-fuzzy: error: the criterion file " + fzy.string() +
                           " is damaged; it was left unchanged. To keep its readable records: "
                           "vark-fuzzy repair-fzy " +
                           fzy.string() + "\n");
    run = Run("compute", {shp.string(), "NATURE", "--name", "FZY_N2", "--verbose"});
    EXPECT_EQ(run.status, app::kExitFailure);
    EXPECT_EQ(run.err.rfind("vark-fuzzy: erreur : le fichier de critères ", 0), 0u) << run.err;
    // The run's own check of the file, before the layer changes, is what
    // refuses it.
    EXPECT_TRUE(Has(run.err, "4 bytes follow the last of the 1 records")) << run.err;
    EXPECT_EQ(ReadBytes(fzy), sound + "tail");
    EXPECT_EQ(ReadFieldNames(shp).back(), "FZY_NATURE");

    // The repair it names keeps the record and puts the old bytes aside.
    run = Run("repair-fzy", {fzy.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(fzy.string() +
                                " : 1 des 1 enregistrements que compte son en-tête "
                                "sont gardés ; l'ancien fichier est mis de côté sous " +
                                fzy.string() + ".damaged.\n",
                            0),
              0u)
        << run.out;
    EXPECT_EQ(ReadBytes(fzy), sound);
    EXPECT_EQ(ReadBytes(fs::path(fzy.string() + ".damaged")), sound + "tail");
    run = Run("repair-fzy", {fzy.string()});
    EXPECT_EQ(run.out, fzy.string() + " n'est pas endommagé : rien à réparer.\n");
    EXPECT_EQ(Run("compute", {shp.string(), "NATURE", "--name", "FZY_N2"}).status, 0);

    // Failures of the repair, told plainly.
    WriteFile(fzy, sound + "tail");
    run = Run("repair-fzy", {fzy.string()});
    EXPECT_EQ(run.status, app::kExitFailure);
    EXPECT_TRUE(Has(run.err, fzy.string() + ".damaged existe déjà")) << run.err;
    run = Run("repair-fzy", {(m_dir.path() / "none.fzy").string()});
    EXPECT_EQ(run.status, app::kExitFailure);
    EXPECT_TRUE(
        Has(run.err, "le fichier " + (m_dir.path() / "none.fzy").string() + " n'existe pas.\n"))
        << run.err;
}

}  // namespace
}  // namespace vark::test
