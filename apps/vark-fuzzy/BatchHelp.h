#pragma once

// The own help of each batch subcommand (vark-fuzzy SUBCOMMAND --help).

#include <string>
#include <string_view>

namespace vark::app {

/// The help text of `subcommand` (one of kBatchSubcommands) in the
/// interface language: its usage, what it does, its options and an
/// example; "" for any other word.
std::string SubcommandHelp(std::string_view subcommand);

/// The usage lines of `subcommand`, as its help begins ("Usage: ..."), for
/// a command line that cannot run; "" for any other word.
std::string SubcommandUsage(std::string_view subcommand);

/// The usage lines `english` ("Usage: vark-fuzzy ...", then the lines that
/// go on under it, indented) in the interface language: its own word for
/// "Usage:", the indented lines moved so that they stay under the same
/// words. Any other text as it is.
std::string UsageInLanguage(std::string_view english);

}  // namespace vark::app
