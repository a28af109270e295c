#pragma once

// The criterion computation: turns graded text values of a source field into
// a new double field holding every feature's fuzzy membership degree, and
// records the new field in the layer's criterion file. The dialog's "Calculer"
// button and the batch command both run ComputeCriterion, through
// RunCriterionComputation (CriterionRun.h).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "criterion_file/CriterionFileRun.h"
#include "host/host.h"

namespace vark {

/// Number of grade levels offered: 3 (grades 0, 3, 6), 5 (0, 2, 3, 4, 6) or 7.
enum class MembershipScale : std::int32_t { Three = 3, Five = 5, Seven = 7 };

/// The membership degree of `grade` under `scale`, in single precision as it
/// is stored (widened to double when written). nullopt for a grade the scale
/// does not define, and for a grade outside 0..6.
std::optional<float> MembershipDegree(std::int32_t grade, MembershipScale scale);

/// One entry of the graded value list.
struct GradedEntry {
    /// The value as the entry shows it, UTF-8.
    std::string value;
    std::int32_t grade = 0;
    /// The value as the layer's texts hold it, when the entry comes from
    /// the layer's own value list: matched exactly. Without it `value`
    /// matches every text of the layer that reads as it
    /// (host::LayerTextForms).
    std::optional<std::string> layerText = std::nullopt;
};

/// The most graded entries a computation takes (slots 0 to 100).
inline constexpr std::size_t kMaxGradedEntries = 101;

/// The grade of an entry text "value->digit": the last character, as a
/// number. Throws Failure (type mismatch) when the last character is not a
/// decimal digit, and (invalid procedure call) for a text of fewer than three
/// characters.
GradedEntry ParseGradedEntry(std::string_view entry);
/// The entry text for a value and a grade: value, "->", the digit.
std::string FormatGradedEntry(std::string_view value, std::int32_t grade);
/// `text` without its last `count` characters (UTF-8 code points); "" when it
/// has no more than `count`.
std::string DropLastCharacters(std::string_view text, std::size_t count);

/// Parses the entries in list order. Throws Failure (subscript out of range)
/// at the 102nd entry, before looking at it, and ParseGradedEntry's failures.
std::vector<GradedEntry> LoadGradedEntries(const std::vector<std::string>& entries);

/// Values of the entries whose grade `scale` does not define, in list order.
std::vector<std::string> UndefinedGradeValues(const std::vector<GradedEntry>& entries,
                                              MembershipScale scale);

/// The name of the field to create from the typed name: a name of at most 10
/// characters is kept as typed (not compared with `fields`); a longer one is
/// cut to 10 characters and, while a field of that name exists (exact
/// comparison), given a numeric suffix on its first 9 characters: FZY_OCCUPA,
/// FZY_OCCUP1 ... FZY_OCCUP9, FZY_OCCUP10 (11 characters from suffix 10 on).
std::string FinalFieldName(std::string_view typedName, const host::Fields& fields);

/// The name of the field a recomputation replaces: the typed name when a
/// field of `fields` has exactly that name, else its first 10 characters
/// (the name a first run gave it, when that name was free). Whether the
/// field exists is not checked here.
std::string ReplacedFieldName(std::string_view typedName, const host::Fields& fields);

/// The field a computation writes, and what stands in its way.
struct TargetField {
    enum class Problem {
        kNone,
        /// A new field's name is one the class has already.
        kTaken,
        /// The field to recompute is missing, or not a double field.
        kMissing,
        kNotDouble,
    };
    /// FinalFieldName of the typed name, or ReplacedFieldName to recompute.
    std::string name;
    Problem problem = Problem::kNone;
};
/// The field a computation of `typedName` (recomputing it when `replace`)
/// writes among `fields`, checked as the front ends and the computation
/// check it.
TargetField CheckTargetField(std::string_view typedName, bool replace, const host::Fields& fields);

/// Everything the computation reads, as values.
struct CriterionRequest {
    /// Name of the source text field.
    std::string sourceField;
    /// Graded entries in list order, parsed once by the caller (at most
    /// kMaxGradedEntries).
    std::vector<GradedEntry> gradedEntries;
    /// Name typed for the new field (truncated by FinalFieldName, or
    /// ReplacedFieldName when `replace`).
    std::string typedName;
    /// Recompute an existing criterion field instead of adding one: the
    /// field must be a double field of the class; its values and its
    /// criterion record are replaced (host::NewFieldMode::Overwrite, the
    /// record by CriterionFileRun::ReplaceTextCriterion).
    bool replace = false;
    MembershipScale scale = MembershipScale::Seven;
    /// The feature class to extend, resolved by the caller.
    std::shared_ptr<host::FeatureClass> featureClass;
    /// The route of the new field, as the target's resolution chose it;
    /// unset: chosen here the same way (ChooseWriteRoute).
    std::optional<host::WriteRoute> route = std::nullopt;
    /// Called every few thousand features and once at the end of the pass,
    /// with (features done, feature count or -1).
    host::ProgressFn progress;
    /// Asked every few thousand features and once more before the criterion
    /// record is written: true stops the run (Failure 18) with the layer and
    /// the criterion file as they were, where the format allows it.
    std::function<bool()> cancelled;
    /// The front end that runs the computation, as its recipe records it:
    /// "dialog", "batch" or "processing".
    std::string runBy = "batch";
    /// Called, when some graded values are held by no feature, before the
    /// layer or the criterion file changes: with those values (each once,
    /// in list order; a value the layer cannot even hold among them). Along
    /// a route whose pass is dropped whole, once every feature's value is
    /// written where nobody sees it yet; along the cursor route, which adds
    /// its field at once, after a read of the source field before the pass
    /// opens. What it throws stops the run with the layer and the criterion
    /// file as they were, as `cancelled` does. Unset: such values are
    /// accepted (their entries count 0).
    std::function<void(const std::vector<std::string>& unmatched)> unmatched;
};

struct CriterionResult {
    /// Name of the field created.
    std::string fieldName;
    /// Features written.
    std::int64_t featureCount = 0;
    /// Per graded entry, in list order: features that received its degree
    /// (0 for an entry shadowed by an earlier entry of the same value).
    std::vector<std::int64_t> entryCounts;
    /// Features that received 0 because their value is not graded: a
    /// non-empty text, an empty text, a null. All 0 for an empty entry list,
    /// which leaves the new field as the host initialised it.
    std::int64_t unlistedCount = 0;
    std::int64_t emptyCount = 0;
    std::int64_t nullCount = 0;
};

/// Runs the computation on `request.featureClass`:
/// 1. refuses, with a Failure, more than kMaxGradedEntries entries
///    (subscript out of range) and any entry whose grade the scale does not
///    define (naming the values), before anything is written;
/// 2. finds the source field (marker 41, then 42 once its name is read);
/// 3. refuses a criterion file that could not take the record
///    (`criterionFile.RequireWritable()`), then adds a double field named
///    FinalFieldName(typedName), alias the same; with `replace`, refuses
///    (Failure 5) a field ReplacedFieldName(typedName) that the class lacks
///    or that is not a double field, and overwrites it instead;
/// 4. writes every feature's degree through one column update (reading the
///    source field, writing the new one; host::ColumnUpdate): the
///    degree of the first entry (list order) whose value equals the feature's
///    text exactly (its layerText, else any of the value's forms in the
///    layer's text encoding), 0 when none does or the value is null; with no entries
///    the features are stored unchanged. The cursor is flushed at the end;
///    a failure part way leaves it unflushed, so formats with transactions
///    roll the features back (the new field stays);
///    `request.unmatched` sees the graded values no feature holds here (on
///    the cursor route, after a read before the field is added);
/// 5. has `criterionFile` append the kind-2 record and close
///    (AddTextCriterion; with `replace`, ReplaceTextCriterion), then
///    commits the layer's change; when that fails, the record is taken
///    back (WithdrawTextCriterion; RestoreTextCriterion).
/// Throws Failure; `marker` (when given) holds the progress marker reached.
/// Does not check the editor state, open or validate the criterion file, or
/// touch any dialog state.
CriterionResult ComputeCriterion(const CriterionRequest& request, CriterionFileRun& criterionFile,
                                 std::int32_t* marker = nullptr);

}  // namespace vark
