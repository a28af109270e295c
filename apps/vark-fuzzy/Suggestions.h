#pragma once

// Nearest names, for a name the user mistyped: a field, a layer, a
// subcommand.

#include <string>
#include <string_view>
#include <vector>

namespace vark::app {

/// The names of `candidates` close to `wanted`, nearest first, at most
/// `limit`: first those that differ from it only by case, then those within
/// an edit distance (insertions, deletions, substitutions and swaps of two
/// neighbours, counted on case-folded characters) of a third of its length,
/// at least 1. Ties keep the order of `candidates`; `wanted` itself is never
/// proposed. Texts are UTF-8; distances count characters, not bytes.
std::vector<std::string> NearestNames(std::string_view wanted,
                                      const std::vector<std::string>& candidates,
                                      std::size_t limit = 3);

/// The names joined for a sentence: "a", "a or b", "a, b or c", with
/// `orWord` between the last two.
std::string JoinNames(const std::vector<std::string>& names, std::string_view orWord);

}  // namespace vark::app
