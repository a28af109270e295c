#pragma once

// The batch subcommands of vark-fuzzy: the dialog's work without windows,
// for scripts. Each runs the component's own code (the dialog's listing
// and computation, the criterion file's readers) on one layer of one data
// set:
//
//   fields   DATASET [--layer NAME] [--unit-interval]
//   values   DATASET FIELD [--layer NAME]
//   compute  DATASET FIELD [--layer NAME] [--levels 3|5|7] [--name NEW]
//            [--grade ENTRY]... [--grades FILE]... [--replace]
//            [--allow-unmatched]
//   describe DATASET FIELD [--layer NAME]
//   repair-fzy FILE
//
// and, for every one of them, --lang CODE (the texts of another language,
// the per-user setting left as it is), --quiet (no progress bar), --verbose
// (the full report of a failure on the error stream too) and --help (the
// subcommand's own help).
//
// A data set with several layers needs --layer: the command would
// otherwise have to guess which one to change.

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace vark::app {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
/// A field with more distinct values than the value list takes.
inline constexpr int kExitRefused = 3;
/// compute: a graded value that no feature holds (nothing was changed).
inline constexpr int kExitUnmatched = 4;
/// describe: the criterion file holds no record of that field.
inline constexpr int kExitNoRecord = 5;

inline constexpr std::string_view kBatchSubcommands[] = {"fields", "values", "compute", "describe",
                                                         "repair-fzy"};

/// The usage lines `head` ("Usage: vark-fuzzy ...", see UsageInLanguage),
/// those of the batch subcommands under them and the options they all
/// take, in the interface language: for the program's help text.
std::string BatchUsage(std::string_view head);

/// Where a batch run writes, and what it may draw.
struct BatchIo {
    std::ostream& out;
    std::ostream& err;
    /// Draw a progress bar on `err` during long work. The caller decides
    /// (stderr is a terminal); --quiet turns it off whatever this says.
    bool progress = false;
    /// Called with the application once the data set is in its focus map,
    /// before any work (lets a test put the editor into its editing state).
    std::function<void(host::Application&)> prepare;
    /// Write the full report of a failure to `err` too (--verbose sets it).
    bool verbose = false;
};

/// Loads the texts of the per-user setting's language, or of `code` for
/// this run only (the setting left as it is). Throws UsageError (in the
/// setting's language) when the text database has no language `code`.
void ChooseLanguage(const std::optional<std::string>& code);

/// Runs the batch subcommand `subcommand` (one of kBatchSubcommands) with
/// the arguments that follow it. Results go to `io.out`; messages, failures
/// (one sentence in the interface language, see BatchErrors.h; the dialog's
/// report goes to the error log) and the progress bar to `io.err`. Returns
/// the exit status: kExitOk, kExitFailure, kExitUsage (a command line that
/// cannot run: the message in the interface language and the subcommand's
/// usage go to `io.err`), kExitRefused, kExitUnmatched or kExitNoRecord. Installs its own UI
/// services and a description buffer for the length of the run and puts back what was there; the
/// application reference (g_pApplication) is left alone: the commands hand the layer they opened to
/// the work. Never throws.
int RunBatch(std::string_view subcommand, const std::vector<std::string>& args,
             BatchIo& io) noexcept;

}  // namespace vark::app
