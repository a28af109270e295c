#pragma once

// Recipes of criterion fields kept in a GeoPackage itself, through the
// format's metadata extension: one gpkg_metadata row (a JSON document) per
// field, referenced by a gpkg_metadata_reference row of scope "column".

#include <sqlite3.h>

#include <optional>
#include <string>

namespace vark::routes {

/// What tells the tool's recipes from other metadata of the GeoPackage.
inline constexpr const char* kRecipeStandardUri = "urn:vark-fuzzy:criterion-recipe:1";

/// Keeps `json` as the recipe of column `column` of table `table` on the
/// connection `db`, in the transaction it is in: the metadata tables and
/// the extension's registration created when missing, an earlier recipe of
/// that column replaced, recipes of columns the table no longer has
/// dropped. Throws Failure naming `what` and SQLite's message.
void StoreGpkgRecipe(sqlite3& db, const std::string& table, const std::string& column,
                     const std::string& json, const std::string& what);

/// The recipe of column `column` of table `table`; nullopt when there is
/// none (no metadata tables at all included). Throws Failure naming `what`.
std::optional<std::string> ReadGpkgRecipe(sqlite3& db, const std::string& table,
                                          const std::string& column, const std::string& what);

}  // namespace vark::routes
