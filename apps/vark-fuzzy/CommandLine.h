#pragma once

// Command-line handling of the standalone host: which subcommand runs, and
// the data sets that make up the focus map.

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
};

/// Splits argv into the subcommand and its arguments. A first argument that
/// is one of `known` selects that subcommand; anything else belongs to the
/// default action.
Invocation SplitSubcommand(std::span<char* const> argv, std::span<const std::string_view> known);

/// Data sets named on a command line: each argument not starting with "-"
/// is a data set (a path or connection string GDAL can open); "--layer NAME"
/// restricts the data set just before it to its layer NAME. "--" ends the
/// options, so that a path may start with "-". Throws UsageError for an
/// unknown option, "--layer" without a name or without a data set before it,
/// or a second "--layer" for the same data set.
std::vector<ogr::DataSourceSpec> ParseDataSources(const std::vector<std::string>& args);

}  // namespace vark::app
