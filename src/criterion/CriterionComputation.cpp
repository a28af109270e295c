#include "criterion/CriterionComputation.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "criterion/CriterionTarget.h"
#include "criterion/Recipe.h"
#include "support/Failure.h"
#include "support/TextHash.h"

namespace vark {

namespace {

constexpr std::int32_t kNoDegree = -1;
constexpr std::size_t kMaxTypedNameLength = 10;
constexpr std::int64_t kProgressStep = 4096;

// Degrees per scale, indexed by grade; a negative entry marks a grade the
// scale does not define. Kept in single precision: that is what is stored.
constexpr std::array<float, 7> kSeven = {0.0F, 0.17F, 0.34F, 0.5F, 0.67F, 0.83F, 1.0F};
constexpr std::array<float, 7> kFive = {0.0F, -1.0F, 0.25F, 0.5F, 0.75F, -1.0F, 1.0F};
constexpr std::array<float, 7> kThree = {0.0F, -1.0F, -1.0F, 0.5F, -1.0F, -1.0F, 1.0F};

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0U) == 0x80U;
}

std::size_t CountCharacters(std::string_view text) {
    std::size_t n = 0;
    for (char c : text) {
        if (!IsContinuationByte(c)) {
            ++n;
        }
    }
    return n;
}

std::string FirstCharacters(std::string_view text, std::size_t count) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsContinuationByte(text[i])) {
            if (seen == count) {
                return std::string(text.substr(0, i));
            }
            ++seen;
        }
    }
    return std::string(text);
}

std::string JoinValues(const std::vector<std::string>& values) {
    std::string out;
    for (const auto& v : values) {
        if (!out.empty()) {
            out += ", ";
        }
        out += '"';
        out += v;
        out += '"';
    }
    return out;
}

/// Has `pass` compute the column itself from the stored forms of the
/// entries' values (one per slot, in slot order), when it can; fills
/// `slotCounts` and the other counts of `result` then. False when it cannot
/// (nothing done).
bool PrepareGraded(host::NewFieldPass& pass, const std::vector<std::string>& slotText,
                   const std::vector<double>& slotDegree, std::vector<std::int64_t>& slotCounts,
                   CriterionResult& result) {
    host::NewFieldPass::GradedColumn graded;
    graded.entries.reserve(slotText.size());
    for (std::size_t slot = 0; slot < slotText.size(); ++slot) {
        graded.entries.push_back({slotText[slot], slotDegree[slot]});
    }
    const std::optional<host::NewFieldPass::GradedCounts> counts = pass.PrepareGraded(graded);
    if (!counts) {
        return false;
    }
    result.featureCount = counts->features;
    for (std::size_t slot = 0; slot < slotCounts.size() && slot < counts->entries.size(); ++slot) {
        slotCounts[slot] = counts->entries[slot];
    }
    result.unlistedCount = counts->unlisted;
    result.emptyCount = counts->empty;
    result.nullCount = counts->null;
    return true;
}

/// The forms in which the layer may hold the value of `entry`.
std::vector<std::string> FormsOf(const GradedEntry& entry, host::TextEncoding encoding) {
    return entry.layerText ? std::vector<std::string>{*entry.layerText}
                           : host::LayerTextForms(entry.value, encoding);
}

/// The values of `entries` no feature of `featureClass` holds in its field
/// `sourceIndex`, each once, in list order: one read of that field,
/// nothing stored.
std::vector<std::string> UnmatchedByReading(host::FeatureClass& featureClass,
                                            std::int32_t sourceIndex,
                                            const std::vector<GradedEntry>& entries) {
    const host::TextEncoding encoding = featureClass.GetTextEncoding();
    std::unordered_map<std::string, bool, TextHash, std::equal_to<>> held;
    for (const GradedEntry& entry : entries) {
        for (std::string& form : FormsOf(entry, encoding)) {
            held.emplace(std::move(form), false);
        }
    }
    host::ColumnUpdate columns;
    columns.read = {sourceIndex};
    const auto cursor = featureClass.OpenColumnUpdateCursor(columns);
    while (const auto row = cursor->NextRow()) {
        if (const auto text = row->GetRowText(sourceIndex)) {
            if (const auto it = held.find(*text); it != held.end()) {
                it->second = true;
            }
        }
    }
    std::vector<std::string> unmatched;
    for (const GradedEntry& entry : entries) {
        const auto forms = FormsOf(entry, encoding);
        const bool found = std::any_of(forms.begin(), forms.end(),
                                       [&](const std::string& form) { return held[form]; });
        if (!found &&
            std::find(unmatched.begin(), unmatched.end(), entry.value) == unmatched.end()) {
            unmatched.push_back(entry.value);
        }
    }
    return unmatched;
}

}  // namespace

std::optional<float> MembershipDegree(std::int32_t grade, MembershipScale scale) {
    if (grade < 0 || grade > 6) {
        return std::nullopt;
    }
    const auto& table = scale == MembershipScale::Seven  ? kSeven
                        : scale == MembershipScale::Five ? kFive
                                                         : kThree;
    const float d = table[static_cast<std::size_t>(grade)];
    if (d < 0.0F) {
        return std::nullopt;
    }
    return d;
}

std::string DropLastCharacters(std::string_view text, std::size_t count) {
    std::size_t end = text.size();
    while (count > 0 && end > 0) {
        --end;
        while (end > 0 && IsContinuationByte(text[end])) {
            --end;
        }
        --count;
    }
    return count > 0 ? std::string() : std::string(text.substr(0, end));
}

GradedEntry ParseGradedEntry(std::string_view entry) {
    if (CountCharacters(entry) < 3) {
        throw Failure(err::kInvalidProcedureCall,
                      "Invalid procedure call or argument: graded entry \"" + std::string(entry) +
                          "\" is shorter than its arrow and grade",
                      "ParseGradedEntry");
    }
    const char last = entry.back();
    if (last < '0' || last > '9') {
        throw Failure(err::kTypeMismatch,
                      "Type mismatch: graded entry \"" + std::string(entry) +
                          "\" does not end in a grade digit",
                      "ParseGradedEntry");
    }
    return GradedEntry{DropLastCharacters(entry, 3), last - '0'};
}

std::string FormatGradedEntry(std::string_view value, std::int32_t grade) {
    std::string s(value);
    s += "->";
    s += std::to_string(grade);
    return s;
}

std::vector<GradedEntry> LoadGradedEntries(const std::vector<std::string>& entries) {
    std::vector<GradedEntry> out;
    out.reserve(std::min(entries.size(), kMaxGradedEntries));
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (k >= kMaxGradedEntries) {
            throw Failure(err::kSubscriptOutOfRange,
                          "Subscript out of range: more than " + std::to_string(kMaxGradedEntries) +
                              " graded values",
                          "LoadGradedEntries");
        }
        out.push_back(ParseGradedEntry(entries[k]));
    }
    return out;
}

std::vector<std::string> UndefinedGradeValues(const std::vector<GradedEntry>& entries,
                                              MembershipScale scale) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        if (!MembershipDegree(e.grade, scale)) {
            out.push_back(e.value);
        }
    }
    return out;
}

std::string FinalFieldName(std::string_view typedName, const host::Fields& fields) {
    if (CountCharacters(typedName) <= kMaxTypedNameLength) {
        return std::string(typedName);
    }
    std::string candidate = FirstCharacters(typedName, kMaxTypedNameLength);
    const std::string stem = FirstCharacters(candidate, kMaxTypedNameLength - 1);
    for (std::int64_t j = 1; fields.FindFieldIndex(candidate) >= 0; ++j) {
        // The suffix goes on the first nine characters of the previous
        // candidate, which are always the same nine: FZY_OCCUP1 .. FZY_OCCUP10.
        candidate = stem + std::to_string(j);
    }
    return candidate;
}

TargetField CheckTargetField(std::string_view typedName, bool replace, const host::Fields& fields) {
    TargetField target;
    target.name =
        replace ? ReplacedFieldName(typedName, fields) : FinalFieldName(typedName, fields);
    const std::int32_t index = fields.FindFieldIndex(target.name);
    if (!replace) {
        target.problem = index >= 0 ? TargetField::Problem::kTaken : TargetField::Problem::kNone;
    } else if (index < 0) {
        target.problem = TargetField::Problem::kMissing;
    } else if (fields.GetField(index).GetFieldType() != host::kFieldDouble) {
        target.problem = TargetField::Problem::kNotDouble;
    }
    return target;
}

std::string ReplacedFieldName(std::string_view typedName, const host::Fields& fields) {
    if (fields.FindFieldIndex(typedName) >= 0) {
        return std::string(typedName);
    }
    return FirstCharacters(typedName, kMaxTypedNameLength);
}

CriterionResult ComputeCriterion(const CriterionRequest& request, CriterionFileRun& criterionFile,
                                 std::int32_t* marker) {
    std::int32_t localMarker = 0;
    std::int32_t& mark = marker ? *marker : localMarker;

    const std::vector<GradedEntry>& entries = request.gradedEntries;
    if (entries.size() > kMaxGradedEntries) {
        throw Failure(err::kSubscriptOutOfRange,
                      "Subscript out of range: more than " + std::to_string(kMaxGradedEntries) +
                          " graded values",
                      "ComputeCriterion");
    }
    const auto undefined = UndefinedGradeValues(entries, request.scale);
    if (!undefined.empty()) {
        throw Failure(err::kInvalidProcedureCall,
                      "The " + std::to_string(static_cast<int>(request.scale)) +
                          "-level scale does not define the grade of: " + JoinValues(undefined),
                      "ComputeCriterion");
    }
    if (!request.featureClass) {
        throw Failure(err::kObjectVariableNotSet, "Object variable not set: no feature class",
                      "ComputeCriterion");
    }
    host::FeatureClass& featureClass = *request.featureClass;

    const host::Fields before = featureClass.GetFields();
    const std::int32_t sourceIndexBefore = before.FindFieldIndex(request.sourceField);
    mark = 41;
    const std::string sourceName = before.GetField(sourceIndexBefore).GetFieldName();
    mark = 42;

    const TargetField target = CheckTargetField(request.typedName, request.replace, before);
    const std::string& finalName = target.name;
    if (finalName.empty()) {
        throw Failure(err::kInvalidProcedureCall, "The name of the field to create is empty",
                      "ComputeCriterion");
    }
    // A new field's taken name is the host's to refuse, in its own words.
    if (request.replace && target.problem != TargetField::Problem::kNone) {
        throw Failure(err::kInvalidProcedureCall,
                      "Cannot recompute the field \"" + finalName + "\": the layer has " +
                          (target.problem == TargetField::Problem::kMissing
                               ? "no such field"
                               : "it, but not as a double field"),
                      "ComputeCriterion");
    }
    // Whatever can be known to fail is checked before the layer changes:
    // the criterion file must take the record (size, damage, rights, room).
    criterionFile.RequireWritable(finalName);
    // The recipe goes beside a criterion file of a folder; a file that is
    // no recipe file refuses the run here, before anything changes.
    std::optional<RecipeFileRun> recipes;
    if (!criterionFile.state().inWorkspace && !criterionFile.state().path.empty()) {
        recipes.emplace(RecipeFilePath(criterionFile.state().path));
    }
    const host::WriteRoute route =
        request.route ? *request.route : ChooseWriteRoute(featureClass.GetWriteRoutes());
    const bool writeDegrees = !entries.empty();
    // The cursor route adds its field at once and cannot drop it: the graded
    // values no feature holds are found by a read before.
    bool unmatchedTold = false;
    if (request.unmatched && writeDegrees && route == host::WriteRoute::kCursor) {
        if (const auto unmatched = UnmatchedByReading(featureClass, sourceIndexBefore, entries);
            !unmatched.empty()) {
            request.unmatched(unmatched);
        }
        unmatchedTold = true;
    }
    host::Field field = host::NewField();
    field.SetFieldName(finalName);
    field.SetFieldType(host::kFieldDouble);
    field.SetFieldAlias(finalName);
    std::unique_ptr<host::NewFieldPass> pass = featureClass.OpenNewFieldPass(
        field, sourceIndexBefore,
        request.replace ? host::NewFieldMode::Overwrite : host::NewFieldMode::Add, route);
    if (!pass) {
        throw Failure(err::kObjectVariableNotSet, "The host gave no pass for the new field",
                      "ComputeCriterion");
    }

    // First entry of a value wins, as a scan in list order would find it.
    // The values are compared as the layer stores its texts: each entry in
    // every form that reads as it, so that no feature's text is converted.
    const host::TextEncoding encoding = featureClass.GetTextEncoding();
    // Each stored form of an entry's value is a slot; a form already taken
    // by an earlier entry keeps that entry's slot.
    std::unordered_map<std::string, std::size_t, TextHash, std::equal_to<>> lookup;
    lookup.reserve(entries.size());
    std::vector<std::size_t> slotEntry;
    std::vector<std::string> slotText;
    std::vector<double> slotDegree;
    // The slots of the forms of each entry's value (none for a value the
    // layer cannot hold): a feature holds the value when one of them counts.
    std::vector<std::vector<std::size_t>> entrySlots(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const double degree =
            static_cast<double>(*MembershipDegree(entries[k].grade, request.scale));
        for (const std::string& form : FormsOf(entries[k], encoding)) {
            if (std::optional<std::string> stored = pass->EncodeText(form)) {
                const auto [it, added] = lookup.emplace(*stored, slotEntry.size());
                if (added) {
                    slotEntry.push_back(k);
                    slotText.push_back(std::move(*stored));
                    slotDegree.push_back(degree);
                }
                entrySlots[k].push_back(it->second);
            }
        }
    }
    std::vector<std::int64_t> slotCounts(slotEntry.size(), 0);

    CriterionResult result;
    result.fieldName = finalName;
    result.entryCounts.assign(entries.size(), 0);
    const std::int64_t total = request.progress ? featureClass.GetFeatureCount() : -1;
    const auto stopIfCancelled = [&request] {
        if (request.cancelled && request.cancelled()) {
            throw Failure(err::kUserInterrupt, "Interrupted: nothing was changed",
                          "ComputeCriterion");
        }
    };
    stopIfCancelled();

    // A host that computes the column itself (a database server) is given
    // the entries whole; the others see every feature through Prepare.
    result.featureCount =
        PrepareGraded(*pass, slotText, slotDegree, slotCounts, result)
            ? result.featureCount
            : pass->Prepare([&](std::optional<std::string_view> text) -> std::optional<double> {
                  if (++result.featureCount % kProgressStep == 0) {
                      stopIfCancelled();
                      if (request.progress) {
                          request.progress(result.featureCount, total);
                      }
                  }
                  if (!writeDegrees) {
                      return std::nullopt;
                  }
                  if (!text) {
                      ++result.nullCount;
                  } else if (auto it = lookup.find(*text); it != lookup.end()) {
                      ++slotCounts[it->second];
                      return slotDegree[it->second];
                  } else if (text->empty()) {
                      ++result.emptyCount;
                  } else {
                      ++result.unlistedCount;
                  }
                  return 0.0;
              });
    if (request.progress) {
        request.progress(result.featureCount, total);
    }
    for (std::size_t slot = 0; slot < slotEntry.size(); ++slot) {
        result.entryCounts[slotEntry[slot]] += slotCounts[slot];
    }
    if (request.unmatched && writeDegrees && !unmatchedTold) {
        std::vector<std::string> unmatched;
        for (std::size_t k = 0; k < entries.size(); ++k) {
            const bool held = std::any_of(entrySlots[k].begin(), entrySlots[k].end(),
                                          [&](std::size_t slot) { return slotCounts[slot] > 0; });
            if (!held && std::find(unmatched.begin(), unmatched.end(), entries[k].value) ==
                             unmatched.end()) {
                unmatched.push_back(entries[k].value);
            }
        }
        if (!unmatched.empty()) {
            request.unmatched(unmatched);
        }
    }
    stopIfCancelled();

    // The record first, the layer's change last: stopped between the two,
    // the file names a field that does not exist (removed by the next run's
    // check), or, recomputing, the new record describes the old values
    // (the two records differ by their date only).
    // The recipe before the record: a run stopped between them leaves a
    // recipe of a field that does not exist, which the next run drops.
    // A data store that keeps recipes itself takes it in the layer's change.
    Recipe recipe = MakeRecipe(request, result, criterionFile.layerName(), request.runBy);
    if (pass->StoreRecipe(RecipeBookToJson({{finalName, recipe}}), RecipeSummary(recipe))) {
        recipes.reset();
    }
    if (recipes) {
        std::unordered_set<std::string> names{finalName};
        for (std::int32_t i = 0; i < before.GetFieldCount(); ++i) {
            names.insert(before.GetField(i).GetFieldName());
        }
        recipes->Put(std::move(recipe),
                     [&names](const std::string& name) { return names.contains(name); });
    }
    try {
        if (request.replace) {
            criterionFile.ReplaceTextCriterion(finalName);
        } else {
            criterionFile.AddTextCriterion(finalName);
        }
    } catch (...) {
        if (recipes) {
            recipes->Restore();
        }
        throw;
    }
    try {
        pass->Commit();
    } catch (...) {
        if (recipes) {
            recipes->Restore();
        }
        if (request.replace) {
            criterionFile.RestoreTextCriterion();
        } else {
            criterionFile.WithdrawTextCriterion(finalName);
        }
        throw;
    }
    return result;
}

}  // namespace vark
