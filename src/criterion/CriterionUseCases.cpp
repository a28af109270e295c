#include "criterion/CriterionUseCases.h"

#include <utility>

#include "criterion/RequireObject.h"
#include "criterion_file/CriterionFileRun.h"
#include "criterion_file/fzy_io.h"

namespace vark {

FieldLists ListFields(host::Application& application, const CriterionTarget& target,
                      bool unitIntervalOnly, std::int32_t* marker) {
    return ListLayerFields(application, *RequireObject(target.layer, "feature layer", "ListFields"),
                           unitIntervalOnly, marker);
}

FieldValues ListValues(host::Application& application, const CriterionTarget& target,
                       const std::string& fieldName, host::ProgressFn progress) {
    return ListFieldValues(application, *RequireObject(target.layer, "feature layer", "ListValues"),
                           fieldName, std::move(progress));
}

GradingCheck CheckGrading(const std::vector<GradedEntry>& entries, MembershipScale scale) {
    GradingCheck check;
    check.tooMany = entries.size() > kMaxGradedEntries;
    check.undefined = UndefinedGradeValues(entries, scale);
    return check;
}

CriterionRun ComputeOn(host::Application& application, const CriterionTarget& target,
                       CriterionRequest request, std::int32_t& marker) {
    request.featureClass = target.featureClass;
    request.route = target.route;
    return RunCriterionComputation(application, target.workspacePath, target.layerName, request,
                                   marker);
}

FieldDescription DescribeOn(const CriterionTarget& target, const std::string& fieldName) {
    return DescribeCriterionField(target.workspacePath, target.layerName, fieldName);
}

namespace {

/// The recipe file of the target's criterion file; "" when the workspace
/// keeps the record.
std::string RecipePathOf(const CriterionTarget& target) {
    if (target.recordPlace != RecordPlace::kFileBesideLayer) {
        return {};
    }
    return RecipeFilePath(
        FzyFilePath(target.workspacePath, CriterionFileLayerName(target.layerName)));
}

}  // namespace

std::vector<Recipe> RecipesOn(const CriterionTarget& target,
                              const std::vector<std::string>& fieldNames) {
    const auto featureClass = RequireObject(target.featureClass, "feature class", "RecipesOn");
    const std::string path = RecipePathOf(target);
    std::optional<RecipeBook> file;  // read at the first field the layer's store lacks
    std::vector<Recipe> recipes;
    for (const std::string& fieldName : fieldNames) {
        // The layer's own store first (a database's), then the file.
        if (std::optional<std::string> json = featureClass->ReadRecipe(fieldName)) {
            RecipeBook book = RecipeBookFromJson(
                *json, "the recipe of " + fieldName + " in " + target.layerName + "'s metadata");
            if (auto found = book.find(fieldName); found != book.end()) {
                recipes.push_back(std::move(found->second));
                continue;
            }
        }
        if (path.empty()) {
            continue;
        }
        if (!file) {
            file = ReadRecipeFile(path);
        }
        if (auto found = file->find(fieldName); found != file->end()) {
            recipes.push_back(found->second);
        }
    }
    return recipes;
}

std::optional<Recipe> RecipeOn(const CriterionTarget& target, const std::string& fieldName) {
    std::vector<Recipe> recipes = RecipesOn(target, {fieldName});
    if (recipes.empty()) {
        return std::nullopt;
    }
    return std::move(recipes.front());
}

void MaintainRecordOf(const CriterionTarget& target) {
    const auto featureClass =
        RequireObject(target.featureClass, "feature class", "MaintainRecordOf");
    const auto lock = featureClass->LockForUpdate(kLayerLockWaitMilliseconds);
    const FieldExistsFn fieldExists = FieldsOf(featureClass);
    CriterionFileRun criterionFile(target.workspacePath, target.layerName, fieldExists);
    if (const std::string path = RecipePathOf(target); !path.empty()) {
        RecipeBook book = ReadRecipeFile(path);
        if (std::erase_if(book, [&](const auto& item) { return !fieldExists(item.first); }) > 0) {
            WriteRecipeFile(path, book);
        }
    }
}

}  // namespace vark
