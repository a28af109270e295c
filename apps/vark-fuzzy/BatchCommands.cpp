#include "BatchCommands.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "BatchErrors.h"
#include "BatchHelp.h"
#include "CommandLine.h"
#include "Interruption.h"
#include "ProgressBar.h"
#include "RepairFzy.h"
#include "Suggestions.h"
#include "criterion/CriterionComputation.h"
#include "criterion/CriterionRun.h"
#include "criterion/FieldListing.h"
#include "criterion_file/fzy_io.h"
#include "host/ogr/OgrApplication.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "support/UiServices.h"
#include "text_store/DbHelpers.h"
#include "text_store/TextNumbers.h"
#include "text_store/clsResourceMDB.h"

namespace vark::app {

const std::string_view kBatchUsage =
    "       vark-fuzzy fields DATASET [--layer NAME] [--unit-interval]\n"
    "       vark-fuzzy values DATASET FIELD [--layer NAME]\n"
    "       vark-fuzzy compute DATASET FIELD [--layer NAME] [--levels 3|5|7]\n"
    "                  [--name NEW] [--grade ENTRY]... [--grades FILE]...\n"
    "                  [--replace] [--allow-unmatched]\n"
    "       vark-fuzzy describe DATASET FIELD [--layer NAME]\n"
    "       vark-fuzzy repair-fzy FILE\n"
    "  (each also takes --lang CODE, --quiet, --verbose and --help)\n";

namespace {

namespace fs = std::filesystem;

// The dialog's form and handler names: a failure is reported (and logged)
// exactly as the dialog reports the same failure.
constexpr const char* kProgramName = "vark-fuzzy";

/// The French texts, for a text database that lacks a number.
constexpr std::pair<std::int32_t, const char*> kFallbackTexts[] = {
    {text::kTextFields, "Attributs disponibles"},
    {text::kEditing,
     "Les données sont en cours de modification. Terminez la session de mise à jour avant de "
     "calculer le critère."},
    {text::kNoDescription, "Aucune description n'est enregistrée pour ce champ."},
    {text::kOtherFields, "Champs non texte"},
    {text::kUnitFields, "Champs avec valeur 0-1"},
    {text::kUndefinedGrades,
     "Ces valeurs ont un niveau que l'échelle choisie n'offre pas ; notez-les de nouveau :"},
    {text::kUnlisted, "valeurs non notées"},
    {text::kEmpty, "textes vides"},
    {text::kNull, "valeurs nulles"},
};

std::string Text(std::int32_t id) {
    std::string text = gTextStore().ResourceString(id);
    if (text.empty()) {
        for (const auto& [number, fallback] : kFallbackTexts) {
            if (number == id) {
                text = fallback;
            }
        }
    }
    return text;
}

/// `text` with its CR LF line ends as the platform's.
std::string Lines(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}

/// Message boxes as lines on the error stream: "title: prompt", or the
/// prompt alone; every question answered by its first button. While a
/// computation runs, a failure report of the criterion file's module
/// ("62  ... fzy_io_valid Debug=1") is held back: when the computation then
/// fails, its plain sentence says it better and the report goes to the log
/// (and to the error stream with --verbose); otherwise it is printed as it
/// came.
class StreamUi : public UiServices {
public:
    explicit StreamUi(std::ostream& err) : m_err(err) {}
    MsgResult MsgBox(const std::string& prompt, MsgIcon, MsgButtons buttons,
                     const std::string& title) override {
        ++m_shown;
        std::string line = title.empty() ? Lines(prompt) : Lines(title) + ": " + Lines(prompt);
        if (m_holding && IsFailureReport(prompt)) {
            m_held.push_back(std::move(line));
        } else {
            m_err << line << '\n';
            m_err.flush();
        }
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes
                                                                                  : MsgResult::Ok;
    }
    void Beep() override {}
    void SetBusyPointer(bool) override {}
    std::optional<std::string> AskOpenFile(const std::string&, const std::string&, int) override {
        return std::nullopt;
    }
    int shown() const { return m_shown; }

    void hold() { m_holding = true; }

    /// Ends the holding: every held report goes to the log, and to the error
    /// stream when `show`.
    void releaseHeld(bool show) noexcept {
        m_holding = false;
        try {
            for (const std::string& line : m_held) {
                WriteErrorLog(line);
                if (show) {
                    m_err << line << '\n';
                }
            }
            m_held.clear();
            m_err.flush();
        } catch (...) {
        }
    }

private:
    static bool IsFailureReport(std::string_view prompt) {
        const std::size_t at = prompt.rfind(" Debug=");
        return at != std::string_view::npos && at + 7 < prompt.size() &&
               prompt.find_first_not_of("0123456789", at + 7) == std::string_view::npos;
    }

    std::ostream& m_err;
    int m_shown = 0;
    bool m_holding = false;
    std::vector<std::string> m_held;
};

/// Installs a value for the length of a scope and puts back the previous.
class UiInstalled {
public:
    explicit UiInstalled(std::shared_ptr<UiServices> ui) : m_previous(SetUi(std::move(ui))) {}
    ~UiInstalled() { SetUi(m_previous); }
    UiInstalled(const UiInstalled&) = delete;
    UiInstalled& operator=(const UiInstalled&) = delete;

private:
    std::shared_ptr<UiServices> m_previous;
};

class DescriptionInstalled {
public:
    explicit DescriptionInstalled(std::shared_ptr<DescriptionTarget> target)
        : m_previous(SetDescriptionTarget(std::move(target))) {}
    ~DescriptionInstalled() { SetDescriptionTarget(m_previous); }
    DescriptionInstalled(const DescriptionInstalled&) = delete;
    DescriptionInstalled& operator=(const DescriptionInstalled&) = delete;

private:
    std::shared_ptr<DescriptionTarget> m_previous;
};

/// Reports `failure` of the subcommand `command` in one sentence (see
/// BatchErrors.h); the dialog's report goes to the error log.
int Report(BatchIo& io, std::string_view command, const Failure& failure, const char* module,
           const char* procedure, const std::string& extra = {}) {
    return TellFailure(io.err, PlainSentence(failure, command), failure, {module, procedure, extra},
                       io.verbose);
}

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
constexpr OptionSpec kComputeOptions[] = {{"--layer", true},           {"--lang", true},
                                          {"--quiet", false},          {"--help", false},
                                          {"--levels", true},          {"--name", true},
                                          {"--grade", true, true},     {"--grades", true, true},
                                          {"--verbose", false},        {"--replace", false},
                                          {"--allow-unmatched", false}};
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
    {"describe", kFieldOptions, 2, "sum_table_Click"},
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
// The layer worked on

struct Target {
    std::shared_ptr<host::Application> application;
    std::shared_ptr<host::FeatureLayer> layer;
    std::shared_ptr<host::FeatureClass> featureClass;
    std::string layerName;
    std::string workspacePath;
};

/// Opens `dataset` in a fresh focus map. Throws UsageError when it holds
/// several layers and none was named, Failure when it cannot be opened or
/// the layer is not a polygon layer (the dialog offers polygon layers only).
Target OpenTarget(const std::string& openedAs, const std::optional<std::string>& layerName,
                  BatchIo& io) {
    // Messages name the data set without its password.
    const std::string dataset = ogr::WithoutPassword(openedAs);
    Target target;
    target.application = ogr::CreateOgrApplication();
    try {
        ogr::AddDataSource(*target.application, {openedAs, layerName.value_or("")});
    } catch (...) {
        ThrowOpenFailure(CurrentFailure(), openedAs, layerName.value_or(""));
    }
    auto document = target.application->GetDocument();
    auto map = document ? document->GetFocusMap() : nullptr;
    if (!map || map->GetLayerCount() == 0) {
        throw Failure(err::kObjectVariableNotSet, "No layer in " + dataset, kProgramName);
    }
    if (map->GetLayerCount() > 1) {
        std::string names;
        for (std::int32_t i = 0; i < map->GetLayerCount(); ++i) {
            names += (i == 0 ? "" : ", ") + map->GetMapLayer(i)->GetLayerName();
        }
        throw UsageError(Said(clitext::kSeveralLayers,
                              "%1 holds several layers; name one with --layer: %2",
                              {dataset, names}));
    }
    target.layer = std::dynamic_pointer_cast<host::FeatureLayer>(map->GetMapLayer(0));
    if (target.layer) {
        target.featureClass = target.layer->GetFeatureClass();
    }
    if (!target.featureClass) {
        throw Failure(err::kObjectVariableNotSet, "No feature layer in " + dataset, kProgramName);
    }
    target.layerName = target.layer->GetLayerName();
    if (target.featureClass->GetShapeType() != host::kShapePolygon) {
        throw PlainError(Said(clitext::kNotPolygons,
                              "the layer %1 is not a polygon layer: criteria are made on polygon "
                              "layers.",
                              {target.layerName}));
    }
    auto workspace = target.featureClass->GetWorkspace();
    if (!workspace) {
        throw Failure(err::kObjectVariableNotSet,
                      "The layer " + target.layerName + " of " + dataset + " has no workspace",
                      kProgramName);
    }
    target.workspacePath = workspace->GetWorkspacePath();
    if (io.prepare) {
        io.prepare(*target.application);
    }
    return target;
}

/// Throws PlainError unless the layer has a text field named `field`
/// (exact), naming the text fields nearest to it.
void RequireTextField(const Target& target, const std::string& field, const std::string& dataset) {
    const host::Fields fields = target.featureClass->GetFields();
    const std::int32_t index = fields.FindFieldIndex(field);
    if (index >= 0 && fields.GetField(index).GetFieldType() == host::kFieldText) {
        return;
    }
    std::vector<std::string> textFields;
    for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
        if (fields.GetField(i).GetFieldType() == host::kFieldText) {
            textFields.push_back(fields.GetField(i).GetFieldName());
        }
    }
    const std::vector<std::string> near = NearestNames(field, textFields);
    throw PlainError(Said(clitext::kNoSuchTextField, "the layer %1 has no text field %2.",
                          {target.layerName, field}) +
                     " " +
                     (near.empty() ? Said(clitext::kFieldsListsThem,
                                          "\"vark-fuzzy fields %1\" lists its fields.", {dataset})
                                   : DidYouMean(near)));
}

// ---------------------------------------------------------------------------
// Subcommands

int RunFields(const Target& target, const ParsedArgs& args, BatchIo& io) {
    const bool unitInterval = args.has("--unit-interval");
    std::int32_t marker = 0;
    FieldLists lists;
    try {
        lists = ListLayerFields(*target.application, *target.layer, unitInterval, &marker);
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
            values = ListFieldValues(
                *target.application, *target.layer, field,
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

/// What compute does, taken from its command line before any data set is
/// opened.
struct ComputePlan {
    CriterionRequest request;
    /// The entries as given, for the counts printed beside them.
    std::vector<std::string> entries;
    /// Graded values that no feature holds are accepted.
    bool allowUnmatched = false;
};

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

/// Throws UsageError (in a sentence) unless the field --replace recomputes
/// is a double field of the layer.
void RequireReplacedField(const Target& target, const CriterionRequest& request) {
    const host::Fields fields = target.featureClass->GetFields();
    const std::string name = ReplacedFieldName(request.typedName, fields);
    const std::int32_t index = fields.FindFieldIndex(name);
    if (index >= 0 && fields.GetField(index).GetFieldType() == host::kFieldDouble) {
        return;
    }
    if (index >= 0) {
        throw PlainError(Said(clitext::kNotDoubleToReplace,
                              "the field %1 of the layer %2 is not a double-precision field: "
                              "--replace recomputes only a criterion field.",
                              {name, target.layerName}),
                         std::nullopt, kExitUsage);
    }
    std::vector<std::string> doubles;
    for (std::int32_t i = 0; i < fields.GetFieldCount(); ++i) {
        if (fields.GetField(i).GetFieldType() == host::kFieldDouble) {
            doubles.push_back(fields.GetField(i).GetFieldName());
        }
    }
    const std::vector<std::string> near = NearestNames(name, doubles);
    throw PlainError(Said(clitext::kNoFieldToReplace, "the layer %1 has no field %2 to recompute.",
                          {target.layerName, name}) +
                         (near.empty() ? "" : " " + DidYouMean(near)),
                     std::nullopt, kExitUsage);
}

/// The computation's request from the command line, its entries parsed.
/// Returns nullopt, after the dialog's message on `io.err`, when the scale
/// has no degree for some entries' grades. Throws UsageError.
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
    const auto undefined = UndefinedGradeValues(plan.request.gradedEntries, plan.request.scale);
    if (!undefined.empty()) {
        io.err << Lines(Text(text::kUndefinedGrades)) << '\n';
        for (const auto& value : undefined) {
            io.err << value << '\n';
        }
        return std::nullopt;
    }
    return plan;
}

int RunCompute(const Target& target, ComputePlan plan, BatchIo& io, bool progress, StreamUi& ui) {
    std::int32_t marker = 1;
    plan.request.featureClass = target.featureClass;
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
            run = RunCriterionComputation(*target.application, target.workspacePath,
                                          target.layerName, plan.request, marker);
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
    if (const int signal = InterruptionGuard::Signal(); signal != 0) {
        // The signal came once the change was made: it is whole.
        io.err << "vark-fuzzy: signal " << signal << " came once " << result.fieldName
               << " was written in full\n";
        return 128 + signal;
    }
    return kExitOk;
}

int RunDescribe(const Target& target, const ParsedArgs& args, BatchIo& io, const StreamUi& ui) {
    const std::string& field = args.positionals[1];
    auto description = std::make_shared<DescriptionBuffer>();
    DescriptionInstalled installed(description);
    const int messagesBefore = ui.shown();
    std::int32_t marker = 0;
    try {
        marker = 1;
        std::string layerPath = target.workspacePath;
        std::string layerName = CriterionFileLayerName(target.layerName);
        // Describing reads: a layer without a criterion file has no
        // description, and gets no empty file for asking.
        if (!fzy_io_exists(layerPath, layerName)) {
            io.out << Lines(Text(text::kNoDescription)) << '\n';
            return kExitNoRecord;
        }
        fzy_io_open(layerPath, layerName);
        struct Close {
            ~Close() {
                try {
                    fzy_io_close();
                } catch (...) {
                }
            }
        } close;
        marker = 2;
        const std::string damage = FzyReadDamage();
        if (!damage.empty()) {
            return TellFailure(io.err,
                               PlainSentence(Failure(fzy::kDamagedFileError, damage), "describe"),
                               Failure(fzy::kDamagedFileError, damage, "fzy_io"),
                               {text::kFormName, "sum_table_Click", "Debug=2"}, io.verbose);
        }
        marker = 3;
        const bool foundTextCriterion = fzy_io_numberinfo(field);
        marker = 4;
        const bool foundOtherCriterion = fzy_io_recordinfo(field, std::string());
        marker = 5;
        if (!foundTextCriterion && !foundOtherCriterion) {
            description->SetInfoText(Text(text::kNoDescription));
            io.out << Lines(description->text()) << '\n';
            return ui.shown() == messagesBefore ? kExitNoRecord : kExitFailure;
        }
    } catch (...) {
        return Report(io, "describe", CurrentFailure(), text::kFormName, "sum_table_Click",
                      "Debug=" + std::to_string(marker));
    }
    io.out << Lines(description->text()) << '\n';
    // A reader that met a damaged file said so and found nothing: that is
    // not a description.
    return ui.shown() == messagesBefore ? kExitOk : kExitFailure;
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
    }
    if (subcommand == "fields") return RunFields(target, args, io);
    if (subcommand == "values") return RunValues(target, args, io, progress);
    if (subcommand == "compute") return RunCompute(target, std::move(*plan), io, progress, *ui);
    return RunDescribe(target, args, io, *ui);
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
            const std::string_view usage = SubcommandUsage(subcommand);
            if (usage.empty()) {
                io.err << "Usage:\n" << kBatchUsage;
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
