#pragma once

// The dialog's two selection steps without their windows: the fields of a
// layer as the two field lists show them, and the distinct values of a text
// field in the order the value list shows them. The dialog and the batch
// commands of vark-fuzzy both list through these functions.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

class QCollator;

namespace vark {

/// The most distinct values a field may have to be listed (exactly 100 are).
inline constexpr std::int32_t kValueLimit = 100;
/// The refusal of a field with more distinct values: a fixed text.
inline constexpr std::string_view kTooManyValuesText =
    "Désolé! Il y a plus de 100 valeurs uniques.";

/// True for the names of non-text fields that are never offered: "ID",
/// "FID", "Shape_Leng", "Shape_Area", "gridcode", "OBJECTID", "Id", "Shape"
/// (exact, case-sensitive: "id" and "SHAPE" are offered).
bool IsReservedFieldName(std::string_view name);

/// The two field lists of a layer, each in the table's field order.
struct FieldLists {
    /// Text fields (type 4), reserved names included: the source fields.
    std::vector<std::string> textFields;
    /// The other fields, reserved names left out.
    std::vector<std::string> otherFields;
};

/// Lists the fields of `layer`'s feature class. With `unitIntervalOnly`
/// (the dialog's "values 0-1" box ticked) `otherFields` keeps only the
/// numeric fields (types 0 to 3) whose minimum and maximum, converted to
/// single precision, lie in 0..1; each such field costs one pass over the
/// layer (a fresh SearchLayer cursor and a fresh statistics object of
/// `application`). A field without any value has minimum and maximum 0 and
/// is kept. `marker`, when given, is set to 9 before the fields are read and
/// to 10 at each field. Throws Failure (no feature class, statistics that
/// fail).
FieldLists ListLayerFields(host::Application& application, host::FeatureLayer& layer,
                           bool unitIntervalOnly, std::int32_t* marker = nullptr);
/// The same, appending to `lists` field by field, so that after a failure
/// `lists` holds what was listed before it (the dialog shows that much).
void ListLayerFieldsInto(host::Application& application, host::FeatureLayer& layer,
                         bool unitIntervalOnly, FieldLists& lists, std::int32_t* marker = nullptr);

/// The distinct values of one field.
struct FieldValues {
    /// More than kValueLimit distinct values: `values` is then empty.
    bool tooMany = false;
    /// The distinct non-null values, converted to text (host::ValueToText)
    /// as the layer holds them (the bytes a computation matches), in the
    /// order of ValueOrder on `shown`; an empty text is listed as "".
    std::vector<std::string> values;
    /// Each value as a list shows it, same order: decoded by the layer's
    /// text encoding (host::DecodeLayerText), UTF-8.
    std::vector<std::string> shown;
    /// The features holding each value, same order as `values`; empty when
    /// the host does not count them.
    std::vector<std::int64_t> counts;
    /// How the layer's texts read.
    host::TextEncoding encoding = host::TextEncoding::kUtf8;
};

/// Gathers the distinct values of `fieldName` over every feature of
/// `layer` with a statistics object of `application`, which is told to stop
/// reading once more than kValueLimit values are seen, so that a refused
/// field is not read to its end. `progress` (optional) receives the
/// features read. Throws Failure (a field the layer lacks, a read error).
/// Does not check that the field is a text field.
FieldValues ListFieldValues(host::Application& application, host::FeatureLayer& layer,
                            const std::string& fieldName, host::ProgressFn progress = {});

/// The order of the value lists: alphabetical as a person reads it, by the
/// collation rules of the user's locale (accented letters beside their base
/// letter, case a secondary difference), French rules when the session has
/// no locale of its own (the C locale). Texts are UTF-8.
class ValueOrder {
public:
    ValueOrder();
    ~ValueOrder();
    ValueOrder(const ValueOrder&) = delete;
    ValueOrder& operator=(const ValueOrder&) = delete;

    /// Negative, 0 or positive as `a` sorts before, with or after `b`.
    int compare(std::string_view a, std::string_view b) const;
    /// Sorts `values`; values that compare equal keep their order, as
    /// inserting each in turn after its equals would leave them.
    void sort(std::vector<std::string>& values) const;
    /// Sorts `values` by their shown texts, the layer's texts and the
    /// counts (empty, or one per value) moved with them.
    void sort(FieldValues& values) const;
    /// The collator itself, for lists that insert entries one at a time.
    const QCollator& collator() const { return *m_collator; }

private:
    std::unique_ptr<QCollator> m_collator;
};

}  // namespace vark
