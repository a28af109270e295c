#pragma once

// List helpers of the form-text loader: filling a list with a table's column
// names and selecting an entry by its text.

#include <cstdint>
#include <string>

#include "text_store/DbHelpers.h"

class QComboBox;
class QListWidget;

namespace vark {

/// Replaces the entries of `list` by the column names of `table`, in column
/// order, "id" left out (exact, case-sensitive). Returns "" on success, or
/// the failure's description (the list is then left as it was).
std::string FillListWithFieldNames(Database& database, const std::string& table, QComboBox* list);

/// Selects the first entry whose text equals `text` (exact, case-sensitive)
/// and returns its index; -1, and no change of selection, when there is none.
/// Setting the current index is an ordinary selection change: the list's
/// signals fire as for a user's choice.
std::int16_t SelectListItem(QComboBox* list, const std::string& text);
std::int16_t SelectListItem(QListWidget* list, const std::string& text);

}  // namespace vark
