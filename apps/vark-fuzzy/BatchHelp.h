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

}  // namespace vark::app
