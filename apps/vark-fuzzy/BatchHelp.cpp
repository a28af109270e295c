#include "BatchHelp.h"

#include <iterator>
#include <string>
#include <utility>

namespace vark::app {

namespace {

constexpr std::string_view kCommonOptions =
    "  --lang CODE   texts in that language for this run (fr, en, es, de)\n"
    "  --quiet       no progress bar\n"
    "  --verbose     on a failure, the full report too (it always goes to the log)\n"
    "  --help        this text\n";

constexpr std::pair<std::string_view, std::string_view> kHelp[] = {
    {"fields",
     "Usage: vark-fuzzy fields DATASET [--layer NAME] [--unit-interval]\n"
     "\n"
     "Lists the text fields of a polygon layer, then its other fields, as the\n"
     "dialog lists them.\n"
     "\n"
     "  --layer NAME     the layer of DATASET (needed when it holds several)\n"
     "  --unit-interval  as other fields, only those valued in 0..1\n"},
    {"values",
     "Usage: vark-fuzzy values DATASET FIELD [--layer NAME]\n"
     "\n"
     "Prints the distinct values of the text field FIELD, one per line, in the\n"
     "dialog's order. A field with more than 100 values is refused (exit 3).\n"
     "\n"
     "  --layer NAME  the layer of DATASET (needed when it holds several)\n"},
    {"compute",
     "Usage: vark-fuzzy compute DATASET FIELD [--layer NAME] [--levels 3|5|7]\n"
     "                          [--name NEW] [--grade ENTRY]... [--grades FILE]...\n"
     "                          [--replace] [--allow-unmatched]\n"
     "                          [--like DATASET:FIELD [--like-layer NAME]]\n"
     "\n"
     "Adds the criterion field FZY_FIELD (or NEW) to the layer, with every\n"
     "feature's degree from the grade of its FIELD value (0 for values not\n"
     "graded), and records it in the layer's criterion file. Prints the field's\n"
     "name, the features per entry, then those left at 0.\n"
     "A graded VALUE that no feature holds (a typing slip, a missing accent)\n"
     "is refused before anything is changed, with the nearest values the field\n"
     "holds (exit 4).\n"
     "\n"
     "  --layer NAME       the layer of DATASET (needed when it holds several)\n"
     "  --levels N         the scale: 3, 5 or 7 levels (default 7)\n"
     "  --name NEW         the field to create (default FZY_ followed by FIELD)\n"
     "  --grade ENTRY      VALUE->GRADE, GRADE 0 (Exclu) to 6 (Excellent)\n"
     "  --grades FILE      one ENTRY per line, UTF-8 (the dialog's graded list\n"
     "                     can save one)\n"
     "  --replace          recompute the existing criterion field NEW (or\n"
     "                     FZY_FIELD), a double field: its values and its\n"
     "                     record are replaced in one change (exit 2 when the\n"
     "                     layer has no such double field)\n"
     "  --allow-unmatched  compute even with graded values no feature holds\n"
     "  --like DATASET:FIELD  the grades and the scale of the criterion FIELD of\n"
     "                     DATASET, as its recipe recorded them (--levels still\n"
     "                     sets the scale); the values of the layer it does not\n"
     "                     grade are listed after the counts\n"
     "  --like-layer NAME  the layer of that DATASET (when it holds several)\n"},
    {"describe",
     "Usage: vark-fuzzy describe DATASET FIELD [--layer NAME] [--recipe | --json | --grades]\n"
     "\n"
     "Prints the criterion file's description of the criterion field FIELD.\n"
     "Exit status 5 when the file holds no record of it.\n"
     "\n"
     "  --layer NAME  the layer of DATASET (needed when it holds several)\n"
     "  --recipe      how the field was made instead: every graded value with\n"
     "                its grade, degree and features, and those left at 0\n"
     "  --json        the same as JSON\n"
     "  --grades      the graded values as a grades file that compute --grades\n"
     "                reads back (its --levels on the error stream)\n"
     "                (exit 5 when no recipe is recorded)\n"},
    {"repair-fzy",
     "Usage: vark-fuzzy repair-fzy FILE\n"
     "\n"
     "Repairs the damaged criterion file FILE (.fzy): keeps the records that\n"
     "can be read, puts the old file aside as FILE.damaged and says what it\n"
     "kept. A sound file is left as it is.\n"},
};

constexpr std::string_view kExamples[] = {
    "\nExample:\n  vark-fuzzy fields parcelles.gpkg --layer parcelles\n",
    "\nExample:\n  vark-fuzzy values parcelles.shp NATURE\n",
    "\nExample:\n  vark-fuzzy compute parcelles.shp NATURE --levels 3 \\\n"
    "      --grade 'Forêt->6' --grade 'Lande->3' --grade 'Bâti->0'\n"
    "  vark-fuzzy compute parcelles.shp NATURE --replace --grades nature.txt\n",
    "\nExample:\n  vark-fuzzy describe parcelles.shp FZY_NATURE\n",
    "\nExample:\n  vark-fuzzy repair-fzy parcelles.fzy\n",
};

std::string Build(std::size_t index) {
    std::string text(kHelp[index].second);
    text += kCommonOptions;
    text += kExamples[index];
    return text;
}

}  // namespace

std::string_view SubcommandUsage(std::string_view subcommand) {
    const std::string_view help = SubcommandHelp(subcommand);
    const std::size_t end = help.find("\n\n");
    return end == std::string_view::npos ? help : help.substr(0, end + 1);
}

std::string_view SubcommandHelp(std::string_view subcommand) {
    static const std::string texts[] = {Build(0), Build(1), Build(2), Build(3), Build(4)};
    for (std::size_t i = 0; i < std::size(kHelp); ++i) {
        if (kHelp[i].first == subcommand) {
            return texts[i];
        }
    }
    return {};
}

}  // namespace vark::app
