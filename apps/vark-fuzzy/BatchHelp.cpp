#include "BatchHelp.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "BatchErrors.h"

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

/// The help of kHelp[index] in the interface language, from the text store
/// (the English here when it lacks it).
std::string Build(std::size_t index) {
    const std::string_view english = kHelp[index].second;
    const std::size_t body = english.find("\n\n") + 2;
    std::string text = UsageInLanguage(english.substr(0, body - 1)) + "\n";
    text += Said(clitext::kHelpFirst + static_cast<std::int32_t>(index), english.substr(body));
    text += Said(clitext::kHelpCommon, kCommonOptions);
    constexpr std::string_view kExampleWord = "\nExample:";
    text += "\n" + Said(clitext::kHelpExample, "Example:");
    text += kExamples[index].substr(kExampleWord.size());
    return text;
}

/// The columns `text` takes on a terminal: one a character (UTF-8).
std::size_t Columns(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::optional<std::size_t> IndexOf(std::string_view subcommand) {
    for (std::size_t i = 0; i < std::size(kHelp); ++i) {
        if (kHelp[i].first == subcommand) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string SubcommandUsage(std::string_view subcommand) {
    const std::optional<std::size_t> index = IndexOf(subcommand);
    if (!index) {
        return {};
    }
    const std::string_view help = kHelp[*index].second;
    return UsageInLanguage(help.substr(0, help.find("\n\n") + 1));
}

std::string UsageInLanguage(std::string_view english) {
    constexpr std::string_view kWord = "Usage:";
    if (!english.starts_with(kWord)) {
        return std::string(english);
    }
    const std::string word = Said(clitext::kHelpUsage, kWord);
    const auto shift =
        static_cast<std::ptrdiff_t>(Columns(word)) - static_cast<std::ptrdiff_t>(kWord.size());
    std::string_view rest = english.substr(kWord.size());
    // The next line of `rest`, with its line break.
    const auto takeLine = [&rest] {
        const std::size_t end = rest.find('\n');
        const std::string_view line =
            rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
        rest.remove_prefix(line.size());
        return line;
    };
    std::string text = word;
    text += takeLine();
    while (!rest.empty()) {
        const std::string_view line = takeLine();
        const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
        if (indent == 0) {
            text += line;
            continue;
        }
        // A line that goes on under the first keeps at least one space.
        const std::ptrdiff_t moved =
            std::max<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(indent) + shift);
        text.append(static_cast<std::size_t>(moved), ' ');
        text += line.substr(indent);
    }
    return text;
}

std::string SubcommandHelp(std::string_view subcommand) {
    const std::optional<std::size_t> index = IndexOf(subcommand);
    return index ? Build(*index) : std::string();
}

}  // namespace vark::app
