#pragma once

// How the batch subcommands tell a failure: one sentence in the interface
// language, saying what went wrong and what to do, on the error stream
// ("vark-fuzzy: erreur : ..."); the dialog's full report goes to the error
// log, and to the error stream as well with --verbose.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/Failure.h"
#include "text_store/TextNumbers.h"

namespace vark::app {

/// Text numbers of the command line's own sentences.
namespace clitext {
constexpr std::int32_t kErrorPrefix = 220;
constexpr std::int32_t kCannotOpenDataSet = 221;
constexpr std::int32_t kNoSuchLayer = 222;
constexpr std::int32_t kNoSuchTextField = 223;
constexpr std::int32_t kDidYouMean = 224;
constexpr std::int32_t kOr = 225;
constexpr std::int32_t kFieldsListsThem = 226;
constexpr std::int32_t kItsLayers = 227;
constexpr std::int32_t kNotPolygons = 228;
constexpr std::int32_t kDamagedCriterionFile = 229;
constexpr std::int32_t kAccessDenied = 230;
constexpr std::int32_t kCommandFailed = 231;
constexpr std::int32_t kRepaired = 232;
constexpr std::int32_t kNothingToRepair = 233;
constexpr std::int32_t kDamagedCopyExists = 234;
constexpr std::int32_t kNoSuchFile = 235;
constexpr std::int32_t kUnmatchedValueNear = 244;
constexpr std::int32_t kUnmatchedValue = 245;
constexpr std::int32_t kUnmatchedHint = 246;
constexpr std::int32_t kEmptyValue = 247;
constexpr std::int32_t kNoFieldToReplace = 248;
constexpr std::int32_t kNotDoubleToReplace = 249;
constexpr std::int32_t kUnknownOption = 250;
constexpr std::int32_t kOptionTwice = 251;
constexpr std::int32_t kNeedsValue = 252;
constexpr std::int32_t kTakesArguments = 253;
constexpr std::int32_t kBadLevels = 254;
constexpr std::int32_t kTooManyEntries = 255;
constexpr std::int32_t kUnknownLanguage = 256;
constexpr std::int32_t kNoTextDatabase = 257;
constexpr std::int32_t kSeveralLayers = 258;
constexpr std::int32_t kNotUtf8Entry = 259;
constexpr std::int32_t kNotAnEntry = 260;
constexpr std::int32_t kCannotReadGrades = 261;
constexpr std::int32_t kUnknownSubcommand = 262;
constexpr std::int32_t kLayerFirst = 263;
constexpr std::int32_t kLayerNeedsName = 264;
constexpr std::int32_t kLayerTwice = 265;
constexpr std::int32_t kNeedsDisplay = 266;
constexpr std::int32_t kNameTaken = 267;
constexpr std::int32_t kRecipeHead = text::kRecipeHead;
constexpr std::int32_t kRecipeMade = text::kRecipeMade;
constexpr std::int32_t kNoRecipe = 294;
constexpr std::int32_t kRecipeColumns = text::kRecipeColumns;
constexpr std::int32_t kNotGradedByRecipe = 296;
constexpr std::int32_t kAndMoreValues = 297;
constexpr std::int32_t kBadLike = 298;
constexpr std::int32_t kLikeAlone = 299;
/// What each subcommand does and its own options (its usage lines keep their
/// words but the first): fields, values, compute, describe, repair-fzy, in
/// that order.
constexpr std::int32_t kHelpFirst = 300;
constexpr std::int32_t kHelpCommon = 305;
constexpr std::int32_t kHelpExample = 306;
/// The program's own help, after its usage lines.
constexpr std::int32_t kHelpProgram = 307;
/// The word that opens the usage lines ("Usage:").
constexpr std::int32_t kHelpUsage = 308;
/// The options every batch subcommand takes, under their usage lines.
constexpr std::int32_t kHelpEachTakes = 309;
}  // namespace clitext

/// The text `number` of the current language with %1, %2... replaced by
/// `args`; `english` when the text database lacks it.
std::string Said(std::int32_t number, std::string_view english,
                 std::initializer_list<std::string> args = {});

/// The word that opens an error line ("erreur :", "error:").
std::string ErrorWord();

/// "Did you mean a, b or c?" in the current language; "" for no names.
std::string DidYouMean(const std::vector<std::string>& names);

/// A failure already told in a sentence of the interface language. `cause`,
/// when there is one, is what the log and --verbose get.
class PlainError : public std::runtime_error {
public:
    PlainError(std::string sentence, std::optional<Failure> cause = std::nullopt,
               int exitStatus = 1)
        : std::runtime_error(sentence), m_cause(std::move(cause)), m_exitStatus(exitStatus) {}
    const std::optional<Failure>& cause() const { return m_cause; }
    int exitStatus() const { return m_exitStatus; }

private:
    std::optional<Failure> m_cause;
    int m_exitStatus;
};

/// The sentence that tells `failure` to a user of `subcommand`, from its
/// number: a damaged criterion file (with the repair command), a refused
/// access, or the command's failure with the way to its full report.
std::string PlainSentence(const Failure& failure, std::string_view subcommand);

/// Throws the PlainError for `failure`, met while opening the data set
/// `dataset` (restricted to its layer `layerName` when not empty): a layer
/// it lacks is named with the nearest layers it has (or all of them), any
/// other failure says the data set cannot be opened.
[[noreturn]] void ThrowOpenFailure(const Failure& failure, const std::string& dataset,
                                   const std::string& layerName);

/// Where a failure is reported from: the dialog's names, as its log has them.
struct ReportPlace {
    const char* module;
    const char* procedure;
    std::string extra;
};

/// Tells `sentence` on `err` ("vark-fuzzy: <error word> <sentence>"), then,
/// when there is a `failure`, appends the dialog's report of it to the
/// error log and, with `verbose`, writes that report to `err` too. Returns
/// kExitFailure. Never throws.
int TellFailure(std::ostream& err, const std::string& sentence,
                const std::optional<Failure>& failure, const ReportPlace& place,
                bool verbose) noexcept;

}  // namespace vark::app
