#include "BatchCommands.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "BatchErrors.h"
#include "BatchHelp.h"
#include "BatchParts.h"
#include "CommandLine.h"
#include "ProgressBar.h"
#include "RepairFzy.h"
#include "criterion/CriterionUseCases.h"
#include "criterion/FieldListing.h"
#include "criterion_file/fzy_io.h"
#include "host/ogr/OgrApplication.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "text_store/DbHelpers.h"
#include "text_store/TextNumbers.h"
#include "text_store/clsResourceMDB.h"

namespace vark::app {

namespace {

/// Under the program's own usage lines ("Usage: vark-fuzzy ...").
constexpr std::string_view kBatchSynopsis =
    "       vark-fuzzy fields DATASET [--layer NAME] [--unit-interval]\n"
    "       vark-fuzzy values DATASET FIELD [--layer NAME]\n"
    "       vark-fuzzy compute DATASET FIELD [--layer NAME] [--levels 3|5|7]\n"
    "                  [--name NEW] [--grade ENTRY]... [--grades FILE]...\n"
    "                  [--replace] [--allow-unmatched]\n"
    "                  [--like DATASET:FIELD [--like-layer NAME]]\n"
    "       vark-fuzzy describe DATASET FIELD [--layer NAME]\n"
    "                  [--recipe | --json | --grades]\n"
    "       vark-fuzzy repair-fzy FILE\n";

}  // namespace

std::string BatchUsage(std::string_view head) {
    std::string lines(head);
    lines += kBatchSynopsis;
    return UsageInLanguage(lines) + "  " +
           Said(clitext::kHelpEachTakes,
                "(each also takes --lang CODE, --quiet, --verbose and --help)") +
           "\n";
}

namespace {

// ---------------------------------------------------------------------------
// Command lines

constexpr OptionSpec kFieldsOptions[] = {{"--layer", true},    {"--lang", true},
                                         {"--quiet", false},   {"--help", false},
                                         {"--verbose", false}, {"--unit-interval", false}};
constexpr OptionSpec kFieldOptions[] = {{"--layer", true},
                                        {"--lang", true},
                                        {"--quiet", false},
                                        {"--help", false},
                                        {"--verbose", false}};
constexpr OptionSpec kDescribeOptions[] = {
    {"--layer", true},    {"--lang", true},    {"--quiet", false}, {"--help", false},
    {"--verbose", false}, {"--recipe", false}, {"--json", false},  {"--grades", false}};
constexpr OptionSpec kComputeOptions[] = {{"--layer", true},
                                          {"--lang", true},
                                          {"--quiet", false},
                                          {"--help", false},
                                          {"--levels", true},
                                          {"--name", true},
                                          {"--grade", true, true},
                                          {"--grades", true, true},
                                          {"--verbose", false},
                                          {"--replace", false},
                                          {"--allow-unmatched", false},
                                          {"--like", true},
                                          {"--like-layer", true}};
constexpr OptionSpec kRepairOptions[] = {
    {"--lang", true}, {"--quiet", false}, {"--help", false}, {"--verbose", false}};

struct CommandForm {
    std::string_view word;
    std::span<const OptionSpec> options;
    std::size_t positionals;
    const char* procedure;  ///< the dialog handler whose work it does
};

constexpr CommandForm kForms[] = {
    {"fields", kFieldsOptions, 1, "Lst_shapes_MouseUp"},
    {"values", kFieldOptions, 2, "Lst_fields_MouseUp"},
    {"compute", kComputeOptions, 2, "cmd_go_Click"},
    {"describe", kDescribeOptions, 2, "sum_table_Click"},
    {"repair-fzy", kRepairOptions, 1, "repair-fzy"},
};

const CommandForm& FormOf(std::string_view word) {
    for (const CommandForm& form : kForms) {
        if (form.word == word) {
            return form;
        }
    }
    throw UsageError("unknown subcommand " + std::string(word));
}

/// The value of the --lang option of `args` (read as ParseOptions would,
/// without refusing anything), so that even a command line that cannot run
/// is answered in the language it asks for.
std::optional<std::string> LanguageAsked(const std::vector<std::string>& args,
                                         std::span<const OptionSpec> options) {
    std::optional<std::string> language;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            break;
        }
        const auto option = std::find_if(options.begin(), options.end(),
                                         [&](const OptionSpec& o) { return o.name == args[i]; });
        if (option == options.end() || !option->takesValue || i + 1 >= args.size()) {
            continue;
        }
        if (option->name == "--lang") {
            language = args[i + 1];
        }
        ++i;
    }
    return language;
}

// ---------------------------------------------------------------------------
// Subcommands

int RunFields(const Target& target, const ParsedArgs& args, BatchIo& io) {
    const bool unitInterval = args.has("--unit-interval");
    std::int32_t marker = 0;
    FieldLists lists;
    try {
        lists = ListFields(*target.application, target, unitInterval, &marker);
    } catch (...) {
        return Report(io, "fields", CurrentFailure(), text::kFormName, "Lst_shapes_MouseUp",
                      "Debug=" + std::to_string(marker));
    }
    io.out << Text(text::kTextFields) << " :\n";
    for (const auto& name : lists.textFields) {
        io.out << "  " << name << '\n';
    }
    io.out << Text(unitInterval ? text::kUnitFields : text::kOtherFields) << " :\n";
    for (const auto& name : lists.otherFields) {
        io.out << "  " << name << '\n';
    }
    return kExitOk;
}

int RunValues(const Target& target, const ParsedArgs& args, BatchIo& io, bool progress) {
    const std::string& field = args.positionals[1];
    FieldValues values;
    {
        ProgressBar bar(io.err, progress);
        try {
            values = ListValues(
                *target.application, target, field,
                [&bar](std::int64_t done, std::int64_t total) { bar.update(done, total); });
        } catch (...) {
            const Failure failure = CurrentFailure();
            bar.finish();
            return Report(io, "values", failure, text::kFormName, "Lst_fields_MouseUp");
        }
    }
    if (values.tooMany) {
        io.err << kTooManyValuesText << '\n';
        return kExitRefused;
    }
    // Decoded as the dialog shows them; a grade given so matches the layer's bytes.
    for (const auto& value : values.shown) {
        io.out << value << '\n';
    }
    return kExitOk;
}

/// The recipe of a criterion field: a readable table (--recipe), its JSON
/// (--json), or a grades file that compute --grades reads back (--grades,
/// the scale told on the error stream as the option that gives it).
int RunRecipe(const Target& target, const ParsedArgs& args, BatchIo& io) {
    const std::string& field = args.positionals[1];
    std::optional<Recipe> recipe;
    try {
        recipe = RecipeOn(target, field);
    } catch (...) {
        return Report(io, "describe", CurrentFailure(), text::kFormName, "sum_table_Click");
    }
    if (!recipe) {
        io.err << kProgramName << ": "
               << Said(clitext::kNoRecipe, "no recipe is recorded for the field %1.", {field})
               << '\n';
        return kExitNoRecord;
    }
    if (args.has("--json")) {
        io.out << RecipeToJson(*recipe);
        return kExitOk;
    }
    if (args.has("--grades")) {
        for (const std::string& line : RecipeGradesLines(*recipe)) {
            io.out << line << '\n';
        }
        io.err << "--levels " << recipe->levels << '\n';
        return kExitOk;
    }
    io.out << Said(clitext::kRecipeHead,
                   "Criterion %1: field %2 of the layer %3, scale of %4 levels",
                   {recipe->field, recipe->sourceField, recipe->layer,
                    std::to_string(recipe->levels)})
           << '\n'
           << Said(clitext::kRecipeMade, "made on %1 (%2, version %3)",
                   {recipe->dateUtc, recipe->runBy, recipe->toolVersion})
           << '\n'
           << Said(clitext::kRecipeColumns, "features, grade, degree, value:") << '\n';
    for (const RecipeEntry& entry : recipe->entries) {
        io.out << entry.features << '\t' << entry.grade << '\t' << entry.degree << '\t'
               << entry.value << '\n';
    }
    io.out << recipe->unlisted << "\t\t\t(" << Text(text::kUnlisted) << ")\n"
           << recipe->empty << "\t\t\t(" << Text(text::kEmpty) << ")\n"
           << recipe->nulls << "\t\t\t(" << Text(text::kNull) << ")\n";
    return kExitOk;
}

int RunDescribe(const Target& target, const ParsedArgs& args, BatchIo& io) {
    if (args.has("--recipe") || args.has("--json") || args.has("--grades")) {
        return RunRecipe(target, args, io);
    }
    const FieldDescription description = DescribeOn(target, args.positionals[1]);
    using Status = FieldDescription::Status;
    switch (description.status) {
        case Status::kFound:
            io.out << Lines(description.text) << '\n';
            return kExitOk;
        case Status::kNoFile:
        case Status::kNoRecord:
            io.out << Lines(Text(text::kNoDescription)) << '\n';
            return kExitNoRecord;
        case Status::kDamaged:
            return TellFailure(
                io.err,
                PlainSentence(Failure(fzy::kDamagedFileError, description.failure->description()),
                              "describe"),
                *description.failure, {text::kFormName, "sum_table_Click", "Debug=2"}, io.verbose);
        case Status::kFailed:
            break;
    }
    return Report(io, "describe", *description.failure, text::kFormName, "sum_table_Click",
                  "Debug=" + std::to_string(description.marker));
}

int Run(std::string_view subcommand, const std::vector<std::string>& argv, BatchIo& io,
        const std::shared_ptr<StreamUi>& ui) {
    const CommandForm& form = FormOf(subcommand);
    ChooseLanguage(LanguageAsked(argv, form.options));
    const ParsedArgs args = ParseOptions(argv, form.options);
    if (args.has("--help")) {
        io.out << SubcommandHelp(subcommand);
        return kExitOk;
    }
    io.verbose = args.has("--verbose");
    if (args.positionals.size() != form.positionals) {
        throw UsageError(Said(clitext::kTakesArguments, "%1 takes %2, not %3 argument(s)",
                              {std::string(subcommand),
                               subcommand == "repair-fzy" ? "FILE"
                               : form.positionals == 1    ? "DATASET"
                                                          : "DATASET FIELD",
                               std::to_string(args.positionals.size())}));
    }
    const bool progress = io.progress && !args.has("--quiet");
    if (subcommand == "repair-fzy") {
        return RunRepairFzy(args.positionals[0], io);
    }
    std::optional<ComputePlan> plan;
    if (subcommand == "compute") {
        plan = PlanCompute(args, io);
        if (!plan) {
            return kExitUsage;
        }
        if (const int status = TakeRecipe(*plan, args, io); status != kExitOk) {
            return status;
        }
    }

    Target target;
    try {
        target = OpenTarget(args.positionals[0], args.value("--layer"), io);
    } catch (const UsageError&) {
        throw;
    } catch (const PlainError&) {
        throw;
    } catch (...) {
        return Report(io, subcommand, CurrentFailure(), kProgramName, form.procedure);
    }
    if (subcommand == "values" || subcommand == "compute") {
        RequireTextField(target, args.positionals[1], ogr::WithoutPassword(args.positionals[0]));
    }
    if (plan && plan->request.replace) {
        RequireReplacedField(target, plan->request);
    } else if (plan) {
        RequireFreeName(target, plan->request);
    }
    if (subcommand == "fields") return RunFields(target, args, io);
    if (subcommand == "values") return RunValues(target, args, io, progress);
    if (subcommand == "compute") return RunCompute(target, std::move(*plan), io, progress, *ui);
    return RunDescribe(target, args, io);
}

}  // namespace

void ChooseLanguage(const std::optional<std::string>& code) {
    InitLanguage();
    if (!code) {
        return;
    }
    clsResourceMDB& store = gTextStore();
    std::vector<std::string> languages;
    try {
        languages = TableColumnNames(store.db(), store.TableName());
    } catch (...) {
        throw UsageError(
            Said(clitext::kNoTextDatabase, "--lang: the text database cannot be read"));
    }
    std::erase(languages, std::string("id"));
    if (std::find(languages.begin(), languages.end(), *code) == languages.end()) {
        std::string known;
        for (const auto& language : languages) {
            known += (known.empty() ? "" : ", ") + language;
        }
        throw UsageError(
            Said(clitext::kUnknownLanguage, "--lang: no language %1 (known: %2)", {*code, known}));
    }
    store.setLanguageCode(*code);
    store.LoadResData();
}

int RunBatch(std::string_view subcommand, const std::vector<std::string>& args,
             BatchIo& io) noexcept {
    try {
        auto ui = std::make_shared<StreamUi>(io.err);
        UiInstalled installed(ui);
        try {
            return Run(subcommand, args, io, ui);
        } catch (const UsageError& error) {
            io.err << kProgramName << ": " << Said(clitext::kErrorPrefix, "error:") << ' '
                   << error.what() << '\n';
            const std::string usage = SubcommandUsage(subcommand);
            if (usage.empty()) {
                io.err << BatchUsage("Usage:\n");
            } else {
                io.err << usage;
            }
            return kExitUsage;
        } catch (const PlainError& error) {
            const std::string procedure(subcommand);
            TellFailure(io.err, error.what(), error.cause(), {kProgramName, procedure.c_str(), {}},
                        io.verbose);
            return error.exitStatus();
        } catch (...) {
            return Report(io, subcommand, CurrentFailure(), kProgramName,
                          std::string(subcommand).c_str());
        }
    } catch (...) {
        return kExitFailure;
    }
}

}  // namespace vark::app
