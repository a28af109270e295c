#include <algorithm>
#include <set>
#include <stdexcept>
#include <utility>

#include "BatchErrors.h"
#include "BatchParts.h"
#include "Interruption.h"
#include "ProgressBar.h"
#include "Suggestions.h"
#include "criterion/CriterionRun.h"
#include "criterion/CriterionUseCases.h"
#include "criterion/FieldListing.h"
#include "criterion/GradesFile.h"
#include "criterion/Recipe.h"
#include "text_store/TextNumbers.h"

namespace vark::app {

namespace {

/// The graded entries of the command line, in its order: each --grade, and
/// the lines of each --grades file where it stands.
std::vector<std::string> GradedEntries(const ParsedArgs& args) {
    std::vector<std::string> entries;
    for (const auto& [option, value] : args.options) {
        if (option == "--grade") {
            CheckGradedEntry(value, "--grade");
            entries.push_back(value);
        } else if (option == "--grades") {
            auto lines = ReadGradesFile(value);
            entries.insert(entries.end(), std::make_move_iterator(lines.begin()),
                           std::make_move_iterator(lines.end()));
        }
    }
    if (entries.size() > kMaxGradedEntries) {
        throw UsageError(Said(clitext::kTooManyEntries, "at most %1 graded entries, not %2",
                              {std::to_string(kMaxGradedEntries), std::to_string(entries.size())}));
    }
    return entries;
}

MembershipScale ScaleOf(const ParsedArgs& args) {
    const std::string levels = args.value("--levels").value_or("7");
    if (levels == "3") return MembershipScale::Three;
    if (levels == "5") return MembershipScale::Five;
    if (levels == "7") return MembershipScale::Seven;
    throw UsageError(Said(clitext::kBadLevels, "--levels takes 3, 5 or 7, not %1", {levels}));
}

/// Thrown by the computation's check of the graded values (before any
/// change): the values no feature holds.
class UnmatchedValues : public std::runtime_error {
public:
    explicit UnmatchedValues(std::vector<std::string> values)
        : std::runtime_error("graded values that no feature holds"), m_values(std::move(values)) {}
    const std::vector<std::string>& values() const { return m_values; }

private:
    std::vector<std::string> m_values;
};

/// The distinct texts of the field `field`, sorted as the value list sorts
/// them: one pass over the features.
std::vector<std::string> HeldValues(const Target& target, const std::string& field) {
    auto statistics = target.application->CreateStatistics();
    statistics->SetStatisticsField(field);
    statistics->SetStatisticsCursor(target.layer->SearchLayer(nullptr, true));
    statistics->SetUniqueValueLimit(0);
    std::vector<std::string> values;
    const auto found = statistics->GetUniqueValues();
    while (const auto value = found->Next()) {
        values.push_back(host::ValueToText(*value));
    }
    ValueOrder().sort(values);
    return values;
}

/// Tells the graded values no feature holds, each with the nearest values
/// the field holds, in one message. Exit status kExitUnmatched.
int TellUnmatched(const Target& target, const std::string& field,
                  const std::vector<std::string>& unmatched, BatchIo& io) {
    std::vector<std::string> held;
    try {
        held = HeldValues(target, field);
    } catch (...) {
        // The values are told without suggestions.
    }
    // The empty text is as near to every short value as it is meaningless
    // as a suggestion: it is never proposed.
    std::erase(held, std::string());
    std::string sentence;
    for (const std::string& value : unmatched) {
        const std::string shown =
            value.empty() ? Said(clitext::kEmptyValue, "(empty text)") : value;
        // Every short value is "near" the empty one: none is proposed for it.
        const std::vector<std::string> near =
            value.empty() ? std::vector<std::string>() : NearestNames(value, held);
        sentence += (sentence.empty() ? "" : "\n  ") +
                    (near.empty()
                         ? Said(clitext::kUnmatchedValue, "%1: no feature has this value.", {shown})
                         : Said(clitext::kUnmatchedValueNear,
                                "%1: no feature has this value; did you mean %2?",
                                {shown, JoinNames(near, Said(clitext::kOr, "or"))}));
    }
    sentence += "\n  " + Said(clitext::kUnmatchedHint,
                              "Nothing was changed; --allow-unmatched computes all the same.");
    TellFailure(io.err, sentence, std::nullopt, {kProgramName, "compute", {}}, io.verbose);
    return kExitUnmatched;
}

/// The values of the layer a reapplied grading does not grade, with the
/// features holding each, most held first: the first 20, then how many more.
/// Nothing when the layer's values cannot be listed (too many of them).
void ListNotGraded(const Target& target, const ComputePlan& plan, BatchIo& io) {
    constexpr std::size_t kShown = 20;
    FieldValues values;
    try {
        values = ListValues(*target.application, target, plan.request.sourceField);
    } catch (...) {
        return;  // the criterion is written; the listing is a courtesy
    }
    if (values.tooMany || values.counts.size() != values.shown.size()) {
        return;
    }
    std::set<std::string> graded;
    for (const GradedEntry& entry : plan.request.gradedEntries) {
        graded.insert(entry.value);
    }
    std::vector<std::pair<std::int64_t, std::string>> rest;
    for (std::size_t k = 0; k < values.shown.size(); ++k) {
        if (!values.shown[k].empty() && !graded.contains(values.shown[k])) {
            rest.emplace_back(values.counts[k], values.shown[k]);
        }
    }
    if (rest.empty()) {
        return;
    }
    std::stable_sort(rest.begin(), rest.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    io.out << Said(clitext::kNotGradedByRecipe,
                   "values of the layer the reapplied grading does not grade:")
           << '\n';
    for (std::size_t k = 0; k < rest.size() && k < kShown; ++k) {
        io.out << rest[k].first << '\t' << rest[k].second << '\n';
    }
    if (rest.size() > kShown) {
        io.out << Said(clitext::kAndMoreValues, "… and %1 more values",
                       {std::to_string(rest.size() - kShown)})
               << '\n';
    }
}

}  // namespace

int TakeRecipe(ComputePlan& plan, const ParsedArgs& args, BatchIo& io) {
    const std::optional<std::string> like = args.value("--like");
    if (!like) {
        if (args.has("--like-layer")) {
            throw UsageError(Said(clitext::kBadLike, "--like takes DATASET:FIELD, not %1", {""}));
        }
        return kExitOk;
    }
    if (args.has("--grade") || args.has("--grades")) {
        throw UsageError(Said(clitext::kLikeAlone,
                              "--like takes the grades of a recorded criterion: neither "
                              "--grade nor --grades with it"));
    }
    // The last colon: a PG: connection holds colons of its own.
    const std::size_t colon = like->rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == like->size()) {
        throw UsageError(Said(clitext::kBadLike, "--like takes DATASET:FIELD, not %1", {*like}));
    }
    const std::string dataset = like->substr(0, colon);
    const std::string field = like->substr(colon + 1);
    std::optional<Recipe> recipe;
    try {
        const Target source = OpenTarget(dataset, args.value("--like-layer"), io);
        recipe = RecipeOn(source, field);
    } catch (const UsageError&) {
        throw;
    } catch (const PlainError&) {
        throw;
    } catch (...) {
        return Report(io, "compute", CurrentFailure(), kProgramName, "main");
    }
    if (!recipe) {
        io.err << kProgramName << ": "
               << Said(clitext::kNoRecipe, "no recipe is recorded for the field %1.", {field})
               << '\n';
        return kExitNoRecord;
    }
    plan.entries = RecipeGradesLines(*recipe);
    plan.request.gradedEntries = LoadGradedEntries(plan.entries);
    if (!args.has("--levels")) {
        plan.request.scale = recipe->levels == 3   ? MembershipScale::Three
                             : recipe->levels == 5 ? MembershipScale::Five
                                                   : MembershipScale::Seven;
    }
    plan.reapplied = true;
    const GradingCheck check = CheckGrading(plan.request.gradedEntries, plan.request.scale);
    if (!check.undefined.empty()) {
        io.err << Lines(Text(text::kUndefinedGrades)) << '\n';
        for (const auto& value : check.undefined) {
            io.err << value << '\n';
        }
        return kExitUsage;
    }
    return kExitOk;
}

void RequireFreeName(const Target& target, const CriterionRequest& request) {
    const TargetField field =
        CheckTargetField(request.typedName, false, target.featureClass->GetFields());
    if (field.problem == TargetField::Problem::kTaken) {
        throw PlainError(Said(clitext::kNameTaken,
                              "the layer %1 already has a field %2; nothing was changed: "
                              "--replace recomputes it, --name makes another.",
                              {target.layerName, field.name}));
    }
}

void RequireReplacedField(const Target& target, const CriterionRequest& request) {
    const host::Fields fields = target.featureClass->GetFields();
    const TargetField field = CheckTargetField(request.typedName, true, fields);
    if (field.problem == TargetField::Problem::kNone) {
        return;
    }
    if (field.problem == TargetField::Problem::kNotDouble) {
        throw PlainError(Said(clitext::kNotDoubleToReplace,
                              "the field %1 of the layer %2 is not a double-precision field: "
                              "--replace recomputes only a criterion field.",
                              {field.name, target.layerName}),
                         std::nullopt, kExitUsage);
    }
    const std::vector<std::string> near =
        NearestNames(field.name, FieldNamesOfType(fields, host::kFieldDouble));
    throw PlainError(Said(clitext::kNoFieldToReplace, "the layer %1 has no field %2 to recompute.",
                          {target.layerName, field.name}) +
                         (near.empty() ? "" : " " + DidYouMean(near)),
                     std::nullopt, kExitUsage);
}

std::optional<ComputePlan> PlanCompute(const ParsedArgs& args, BatchIo& io) {
    ComputePlan plan;
    const std::string& field = args.positionals[1];
    plan.entries = GradedEntries(args);
    plan.request.sourceField = field;
    plan.request.gradedEntries = LoadGradedEntries(plan.entries);
    plan.request.typedName = args.value("--name").value_or("FZY_" + field);
    plan.request.scale = ScaleOf(args);
    plan.request.replace = args.has("--replace");
    plan.allowUnmatched = args.has("--allow-unmatched");
    const GradingCheck check = CheckGrading(plan.request.gradedEntries, plan.request.scale);
    if (!check.undefined.empty()) {
        io.err << Lines(Text(text::kUndefinedGrades)) << '\n';
        for (const auto& value : check.undefined) {
            io.err << value << '\n';
        }
        return std::nullopt;
    }
    return plan;
}

int RunCompute(const Target& target, ComputePlan plan, BatchIo& io, bool progress, StreamUi& ui) {
    std::int32_t marker = 1;
    // A signal stops the run where nothing is half-written.
    InterruptionGuard interruption;
    plan.request.cancelled = [] { return InterruptionGuard::Signal() != 0; };
    if (!plan.allowUnmatched) {
        plan.request.unmatched = [](const std::vector<std::string>& values) {
            throw UnmatchedValues(values);
        };
    }
    const auto interrupted = [&io] {
        const int signal = InterruptionGuard::Signal();
        io.err << "vark-fuzzy: interrupted (signal " << signal << ")\n";
        return 128 + signal;
    };
    CriterionRun run;
    {
        ProgressBar bar(io.err, progress);
        plan.request.progress = [&bar](std::int64_t done, std::int64_t total) {
            bar.update(done, total);
        };
        ui.hold();
        try {
            run = ComputeOn(*target.application, target, plan.request, marker);
        } catch (const UnmatchedValues& unmatched) {
            bar.finish();
            ui.releaseHeld(io.verbose);
            return TellUnmatched(target, plan.request.sourceField, unmatched.values(), io);
        } catch (...) {
            const Failure failure = CurrentFailure();
            bar.finish();
            if (InterruptionGuard::Signal() != 0) {
                ui.releaseHeld(true);
                return interrupted();
            }
            const int status = Report(io, "compute", failure, text::kFormName, "cmd_go_Click",
                                      "Debug=" + std::to_string(marker));
            ui.releaseHeld(io.verbose);
            return status;
        }
        bar.finish();
        ui.releaseHeld(true);
    }
    if (InterruptionGuard::Signal() != 0 && run.outcome == RunOutcome::Editing) {
        return interrupted();
    }
    if (run.outcome == RunOutcome::Editing) {
        io.err << Lines(Text(text::kEditing)) << '\n';
        return kExitFailure;
    }

    const CriterionResult& result = run.result;
    io.out << result.fieldName << '\n';
    for (std::size_t k = 0; k < plan.entries.size(); ++k) {
        io.out << result.entryCounts[k] << '\t' << plan.entries[k] << '\n';
    }
    io.out << result.unlistedCount << "\t(" << Text(text::kUnlisted) << ")\n"
           << result.emptyCount << "\t(" << Text(text::kEmpty) << ")\n"
           << result.nullCount << "\t(" << Text(text::kNull) << ")\n";
    if (plan.reapplied && result.unlistedCount > 0) {
        ListNotGraded(target, plan, io);
    }
    if (const int signal = InterruptionGuard::Signal(); signal != 0) {
        // The signal came once the change was made: it is whole.
        io.err << "vark-fuzzy: signal " << signal << " came once " << result.fieldName
               << " was written in full\n";
        return 128 + signal;
    }
    return kExitOk;
}

}  // namespace vark::app
