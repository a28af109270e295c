#pragma once

// Numbers of the texts the dialog and the batch commands show, and the
// dialog's name as error reports give it. The wording lives in the text
// database (src/text_store/texts.tsv).

#include <cstdint>

namespace vark::text {

inline constexpr const char* kFormName = "frm_CritereTexte";

inline constexpr std::int32_t kTextFields = 121;
inline constexpr std::int32_t kNoSourceField = 131;
inline constexpr std::int32_t kEditing = 133;
inline constexpr std::int32_t kNoDescription = 153;
inline constexpr std::int32_t kNameTakenPrompt = 157;
inline constexpr std::int32_t kNameTakenTitle = 158;
inline constexpr std::int32_t kComputed = 162;
inline constexpr std::int32_t kOtherFields = 163;
inline constexpr std::int32_t kUnitFields = 164;
/// Prompt of the refusal of grades the chosen scale does not define.
inline constexpr std::int32_t kUndefinedGrades = 171;
inline constexpr std::int32_t kUnlisted = 172;
inline constexpr std::int32_t kEmpty = 173;
inline constexpr std::int32_t kNull = 174;
/// Tooltips of the value lists: the features holding a value.
inline constexpr std::int32_t kOneFeature = 236;
inline constexpr std::int32_t kFeatures = 237;
/// The graded list's context menu and its grades files.
inline constexpr std::int32_t kSaveGrades = 238;
inline constexpr std::int32_t kLoadGrades = 239;
inline constexpr std::int32_t kGradesFilter = 240;
inline constexpr std::int32_t kGradesNotLoaded = 241;
inline constexpr std::int32_t kGradesNotSaved = 242;
inline constexpr std::int32_t kTooManyGrades = 243;
/// How a list of values names the empty text.
inline constexpr std::int32_t kEmptyText = 247;
/// The question before a computation whose graded values some feature
/// lacks: the layer's name, the values, then whether to compute.
inline constexpr std::int32_t kUnmatchedInLayer = 290;
inline constexpr std::int32_t kComputeAnyway = 291;
/// A criterion's recipe as a table: its head line, when and how it was
/// made, the columns' names.
inline constexpr std::int32_t kRecipeHead = 292;
inline constexpr std::int32_t kRecipeMade = 293;
inline constexpr std::int32_t kRecipeColumns = 295;
/// The graded list's menu: a recorded criterion's grading taken again.
inline constexpr std::int32_t kLikeGrades = 310;
inline constexpr std::int32_t kNoRecipeInLayer = 311;
inline constexpr std::int32_t kChooseRecipe = 312;
inline constexpr std::int32_t kRecipeChoice = 313;

}  // namespace vark::text
