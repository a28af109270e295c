#pragma once

// How a criterion was made, kept beside its record so that it can be shown
// and reapplied: the source layer and field, the field written, the scale,
// every graded entry with its degree and the features it reached, the
// features left at 0, when, by which version and from which front end.
//
// A recipe is data the tool reads back: the reader refuses, with a Failure,
// anything that is not a recipe of the expected shape (bad JSON, wrong
// types, oversized texts, too many entries) and never trusts a count or a
// size it reads.
//
// Files. Beside a criterion file `<name>.fzy` lies `<name>.fzy.json`: one
// JSON document holding the recipe of each criterion field of that
// criterion file, by field name, replaced whole (temporary file, flush,
// rename) like the criterion file itself.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vark {

struct CriterionRequest;
struct CriterionResult;

/// The largest recipe file the reader takes, and the longest text in it.
inline constexpr std::size_t kMaxRecipeFileBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kMaxRecipeTextBytes = 4096;

struct RecipeEntry {
    /// The value as the entry shows it (UTF-8).
    std::string value;
    /// The value as the layer holds it, when the entry came from the
    /// layer's own list and its bytes differ from `value`.
    std::optional<std::string> layerText;
    std::int32_t grade = 0;
    /// The degree written (the single-precision degree widened).
    double degree = 0;
    /// Features that received it.
    std::int64_t features = 0;
};

struct Recipe {
    std::string layer;
    std::string sourceField;
    std::string field;
    std::int32_t levels = 7;
    std::vector<RecipeEntry> entries;
    std::int64_t unlisted = 0;
    std::int64_t empty = 0;
    std::int64_t nulls = 0;
    /// ISO 8601, UTC: "2026-12-09T14:03:27Z".
    std::string dateUtc;
    std::string toolVersion;
    /// "dialog", "batch" or "processing".
    std::string runBy;
};

/// The recipe of a computation that ran: `request` as asked, `result` as
/// written, on the layer `layerName`, now, by `runBy`.
Recipe MakeRecipe(const CriterionRequest& request, const CriterionResult& result,
                  const std::string& layerName, const std::string& runBy);

/// The recipes of one criterion file, by field name (exact).
using RecipeBook = std::map<std::string, Recipe>;

/// A recipe, or a book of them, as JSON text (UTF-8, indented).
std::string RecipeToJson(const Recipe& recipe);
std::string RecipeBookToJson(const RecipeBook& book);
/// Reads a book. Throws Failure 62 ("…is not a recipe file: …") naming
/// `source` and the first fault found.
RecipeBook RecipeBookFromJson(std::string_view json, const std::string& source);

/// The recipe file of the criterion file `fzyPath`: `fzyPath` + ".json".
std::string RecipeFilePath(const std::string& fzyPath);
/// The book of the recipe file `path`; empty when there is none. Throws
/// Failure when it cannot be read or is no recipe file.
RecipeBook ReadRecipeFile(const std::string& path);
/// Replaces the recipe file `path` whole by `book` (removes it when the
/// book is empty). Throws Failure; the file is then as it was.
void WriteRecipeFile(const std::string& path, const RecipeBook& book);

/// The recipe file of one computation: read before anything changes (a
/// file that is no recipe file refuses the run), written beside the
/// criterion record, put back when the layer's change fails.
class RecipeFileRun {
public:
    /// Reads the recipe file `path`. Throws Failure when it cannot be read
    /// or is no recipe file; nothing was written then.
    explicit RecipeFileRun(std::string path);
    /// Writes the file whole: the recipes of fields `fieldExists` denies
    /// dropped, `recipe` put in (replacing one of its field).
    void Put(Recipe recipe, const std::function<bool(const std::string&)>& fieldExists);
    /// Puts back what the file held before Put, when it still holds what
    /// Put wrote. Never throws.
    void Restore() noexcept;

private:
    std::string m_path;
    RecipeBook m_book;
    std::optional<std::string> m_before;  ///< nullopt: there was no file
    std::string m_written;
    bool m_put = false;
};

/// `recipe` in one line, for a column's comment: the source field, the
/// scale, the graded entries (cut past about 1,000 characters), the tool's
/// version and the date.
std::string RecipeSummary(const Recipe& recipe);

/// The graded entries of `recipe` as a grades file's lines ("value->grade"),
/// in its order.
std::vector<std::string> RecipeGradesLines(const Recipe& recipe);

}  // namespace vark
