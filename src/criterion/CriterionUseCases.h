#pragma once

// The criterion's use cases over a resolved target (CriterionTarget.h):
// plain arguments in, plain results out, failures as Failure (the error
// number, its text and where it arose). The dialog, the batch commands and
// the Processing algorithm call these and show the results their own way;
// none of them shows anything itself.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "criterion/CriterionComputation.h"
#include "criterion/CriterionRun.h"
#include "criterion/CriterionTarget.h"
#include "criterion/FieldListing.h"
#include "criterion/Recipe.h"
#include "criterion_file/FzyDescription.h"

namespace vark {

/// The target layer's two field lists (ListLayerFields). Throws Failure 91
/// for a target without a map layer.
FieldLists ListFields(host::Application& application, const CriterionTarget& target,
                      bool unitIntervalOnly, std::int32_t* marker = nullptr);

/// The distinct values of the text field `fieldName` (ListFieldValues).
/// Throws Failure 91 for a target without a map layer.
FieldValues ListValues(host::Application& application, const CriterionTarget& target,
                       const std::string& fieldName, host::ProgressFn progress = {});

/// What is wrong with a grading before anything is opened.
struct GradingCheck {
    /// More entries than a computation takes (kMaxGradedEntries).
    bool tooMany = false;
    /// Values whose grade the scale does not define, in list order.
    std::vector<std::string> undefined;
    bool ok() const { return !tooMany && undefined.empty(); }
};
GradingCheck CheckGrading(const std::vector<GradedEntry>& entries, MembershipScale scale);

/// Computes the criterion on `target` (RunCriterionComputation: the lock,
/// the criterion record's check, the editing guard, ComputeCriterion), the
/// request's feature class and route taken from the target.
CriterionRun ComputeOn(host::Application& application, const CriterionTarget& target,
                       CriterionRequest request, std::int32_t& marker);

/// The description of the criterion field `fieldName` of the target, as
/// the description window would show it, read without creating anything
/// and without any message box (DescribeCriterionField).
FieldDescription DescribeOn(const CriterionTarget& target, const std::string& fieldName);

/// The recipe of the criterion field `fieldName` of the target (exact
/// name): from the layer's own store (a GeoPackage's metadata, a server's
/// table), else from the recipe file beside the criterion file; nullopt
/// when none is recorded. Throws Failure when a recipe cannot be read or is
/// no recipe.
std::optional<Recipe> RecipeOn(const CriterionTarget& target, const std::string& fieldName);
/// RecipeOn for each of `fieldNames`, those that have one, in that order;
/// the recipe file read once.
std::vector<Recipe> RecipesOn(const CriterionTarget& target,
                              const std::vector<std::string>& fieldNames);

/// The upkeep of the target's criterion record under the layer's lock: the
/// records of fields the layer no longer has are removed and the file is
/// compacted, as every computation does first; so are their recipes. Throws
/// Failure.
void MaintainRecordOf(const CriterionTarget& target);

}  // namespace vark
