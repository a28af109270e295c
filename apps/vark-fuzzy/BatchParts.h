#pragma once

// What the batch subcommands share: the texts and streams they write, the
// layer they open, and the compute subcommand's plan. Internal to
// vark-fuzzy.

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "BatchCommands.h"
#include "CommandLine.h"
#include "criterion/CriterionComputation.h"
#include "criterion/CriterionTarget.h"
#include "criterion_file/fzy_io.h"
#include "support/ErrorHandling.h"
#include "support/Failure.h"
#include "support/UiServices.h"

namespace vark::app {

// The dialog's form and handler names: a failure is reported (and logged)
// exactly as the dialog reports the same failure.
inline constexpr const char* kProgramName = "vark-fuzzy";

/// The text `id` of the interface language; the French text when the text
/// database lacks it.
std::string Text(std::int32_t id);

/// `text` with its CR LF line ends as the platform's.
std::string Lines(std::string_view text);

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
        m_err << (title.empty() ? Lines(prompt) : Lines(title) + ": " + Lines(prompt)) << '\n';
        m_err.flush();
        return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MsgResult::Yes
                                                                                  : MsgResult::Ok;
    }
    void ReportFailure(const std::string& report) override {
        if (!m_holding) {
            MsgBox(report, MsgIcon::None, MsgButtons::Ok, {});
            return;
        }
        m_held.push_back(Lines(report));
    }
    void Beep() override {}
    void SetBusyPointer(bool) override {}
    std::optional<std::string> AskOpenFile(const std::string&, const std::string&, int) override {
        return std::nullopt;
    }

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
    std::ostream& m_err;
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

/// Reports `failure` of the subcommand `command` in one sentence (see
/// BatchErrors.h); the dialog's report goes to the error log.
int Report(BatchIo& io, std::string_view command, const Failure& failure, const char* module,
           const char* procedure, const std::string& extra = {});

/// The layer a subcommand works on, resolved for the criterion module, and
/// the application whose focus map holds it.
struct Target : CriterionTarget {
    std::shared_ptr<host::Application> application;
};

/// Opens `openedAs` (a data set, as the command line names it) in a fresh
/// focus map and resolves its layer. Throws UsageError when it holds
/// several layers and none was named, Failure when it cannot be opened or
/// the layer is not a polygon layer (the dialog offers polygon layers only).
Target OpenTarget(const std::string& openedAs, const std::optional<std::string>& layerName,
                  BatchIo& io);

/// The names of the fields of type `type`, in the table's order (for the
/// names a message proposes).
std::vector<std::string> FieldNamesOfType(const host::Fields& fields, std::int32_t type);

/// Throws PlainError unless the layer has a text field named `field`
/// (exact), naming the text fields nearest to it.
void RequireTextField(const Target& target, const std::string& field, const std::string& dataset);

/// What compute does, taken from its command line before any data set is
/// opened.
struct ComputePlan {
    CriterionRequest request;
    /// The entries as given, for the counts printed beside them.
    std::vector<std::string> entries;
    /// Graded values that no feature holds are accepted.
    bool allowUnmatched = false;
    /// The grading is a recorded criterion's (--like): the values of the
    /// layer it does not grade are listed after the counts.
    bool reapplied = false;
};

/// The computation's request from the command line, its entries parsed.
/// Returns nullopt, after the dialog's message on `io.err`, when the scale
/// has no degree for some entries' grades. Throws UsageError.
std::optional<ComputePlan> PlanCompute(const ParsedArgs& args, BatchIo& io);

/// With --like DATASET:FIELD [--like-layer NAME]: the grading and the scale
/// of the criterion FIELD of that data set, from its recorded recipe (the
/// scale unless --levels is given). Returns kExitOk, or the exit status
/// after telling why not (no recipe, a data set that cannot be opened, a
/// damaged recipe). Throws UsageError.
int TakeRecipe(ComputePlan& plan, const ParsedArgs& args, BatchIo& io);

/// Throws UsageError (in a sentence) unless the field --replace recomputes
/// is a double field of the layer.
void RequireReplacedField(const Target& target, const CriterionRequest& request);

/// Throws PlainError, before anything is written, when the field the
/// computation would add (FinalFieldName) is one the layer has already:
/// the message names --replace and --name.
void RequireFreeName(const Target& target, const CriterionRequest& request);

/// Runs the computation of `plan` on `target` and prints its counts.
/// Returns the exit status.
int RunCompute(const Target& target, ComputePlan plan, BatchIo& io, bool progress, StreamUi& ui);

}  // namespace vark::app
