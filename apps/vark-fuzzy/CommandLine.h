#pragma once

// Command-line handling of the standalone host: which subcommand runs, and
// the data sets that make up the focus map.

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/ogr/OgrApplication.h"

namespace vark::app {

/// A command line the program cannot run (exit code 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// What runs: the subcommand word (argv[1] when it names one of `known`,
/// otherwise "" for the default action) and the arguments after it.
struct Invocation {
    std::string subcommand;
    std::vector<std::string> args;
    /// The CODE of a leading `--lang CODE`, whatever follows it.
    std::optional<std::string> language;
};

/// Splits argv into the subcommand and its arguments. A first argument that
/// is one of `known` selects that subcommand; anything else belongs to the
/// default action. `--lang CODE`, `--quiet` and `--verbose` before a
/// subcommand's word (not an option's, like `--about`) are passed to it as
/// its first arguments; before the default action's arguments they are
/// taken off them (the dialog has no progress bar; its language is
/// `language`).
Invocation SplitSubcommand(std::span<char* const> argv, std::span<const std::string_view> known);

/// The usage message for a first argument that looks like a mistyped
/// subcommand: not an option, naming no file or folder, without a path
/// separator or ":" (a connection string), and near one of `known`
/// ("unknown subcommand comptue; did you mean compute?"). "" when it may be
/// a data set.
std::string MistypedSubcommand(std::string_view word, std::span<const std::string_view> known);

/// Data sets named on a command line: each argument not starting with "-"
/// is a data set (a path or connection string GDAL can open); "--layer NAME"
/// restricts the data set just before it to its layer NAME. "--" ends the
/// options, so that a path may start with "-". Throws UsageError for an
/// unknown option, "--layer" without a name or without a data set before it,
/// or a second "--layer" for the same data set.
std::vector<ogr::DataSourceSpec> ParseDataSources(const std::vector<std::string>& args);

/// An option a batch subcommand accepts.
struct OptionSpec {
    std::string_view name;  ///< with its dashes: "--layer"
    bool takesValue = false;
    bool repeatable = false;
};

/// A batch command line split into its positional arguments and its
/// options, both in command-line order.
struct ParsedArgs {
    std::vector<std::string> positionals;
    /// (name, value) per option given; the value is "" for a flag.
    std::vector<std::pair<std::string, std::string>> options;

    bool has(std::string_view name) const;
    /// The value of the (last) option `name`, nullopt when not given.
    std::optional<std::string> value(std::string_view name) const;
};

/// Splits `args` by `options`. The argument after an option that takes a
/// value is its value whatever it looks like (so `--grade '->6'` works);
/// any other argument starting with "-" must be an option of `options`;
/// "--" ends the options. Throws UsageError for an unknown option, a
/// missing value, or an option given twice that is not repeatable.
ParsedArgs ParseOptions(const std::vector<std::string>& args, std::span<const OptionSpec> options);

/// Checks a graded entry given on the command line or in a grades file:
/// the value, "->" and one grade digit 0 to 6 (the value may be empty and
/// may itself contain "->"; only the last three characters are read).
/// Throws UsageError naming `where` for anything else, and for text that
/// is not UTF-8.
void CheckGradedEntry(const std::string& entry, const std::string& where);

/// The graded entries of a grades file's content: one entry per line, lines
/// ended by LF or CR LF (the last one may lack it), empty lines skipped, a
/// UTF-8 byte-order mark at the start ignored. Each entry is checked with
/// CheckGradedEntry; errors name `fileName` and the line number.
std::vector<std::string> ParseGradesText(std::string_view content, const std::string& fileName);

/// Reads and parses the grades file `path`. Throws UsageError when it
/// cannot be read.
std::vector<std::string> ReadGradesFile(const std::string& path);

}  // namespace vark::app
