#include "criterion/FieldListing.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <iterator>
#include <utility>

#include "criterion/RequireObject.h"
#include "support/Failure.h"

namespace vark {

namespace {

constexpr std::string_view kReservedNames[] = {"ID",       "FID",      "Shape_Leng", "Shape_Area",
                                               "gridcode", "OBJECTID", "Id",         "Shape"};

bool IsNumericType(std::int32_t type) {
    return type >= host::kFieldShort && type <= host::kFieldDouble;
}

template <typename T>
std::shared_ptr<T> Require(std::shared_ptr<T> object, const char* what) {
    return RequireObject(std::move(object), what, "FieldListing");
}

QLocale CollationLocale() {
    // Without a locale of its own (the C locale of a bare session) a person
    // still reads accents beside their letter: French rules do that.
    const QLocale system;
    if (system.language() == QLocale::C) {
        return QLocale(QLocale::French, QLocale::France);
    }
    return system;
}

QString ToQ(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

}  // namespace

bool IsReservedFieldName(std::string_view name) {
    return std::find(std::begin(kReservedNames), std::end(kReservedNames), name) !=
           std::end(kReservedNames);
}

FieldLists ListLayerFields(host::Application& application, host::FeatureLayer& layer,
                           bool unitIntervalOnly, std::int32_t* marker) {
    FieldLists lists;
    ListLayerFieldsInto(application, layer, unitIntervalOnly, lists, marker);
    return lists;
}

void ListLayerFieldsInto(host::Application& application, host::FeatureLayer& layer,
                         bool unitIntervalOnly, FieldLists& lists, std::int32_t* marker) {
    std::int32_t localMarker = 0;
    std::int32_t& mark = marker ? *marker : localMarker;
    mark = 9;
    const host::Fields fields = Require(layer.GetFeatureClass(), "feature class")->GetFields();
    for (std::int32_t f = 0; f < fields.GetFieldCount(); ++f) {
        mark = 10;
        const host::Field& field = fields.GetField(f);
        const std::string& name = field.GetFieldName();
        if (field.GetFieldType() == host::kFieldText) {
            lists.textFields.push_back(name);
        } else if (IsReservedFieldName(name)) {
            continue;
        } else if (!unitIntervalOnly) {
            lists.otherFields.push_back(name);
        } else if (IsNumericType(field.GetFieldType())) {
            auto statistics = application.CreateStatistics();
            Require(statistics, "statistics");
            statistics->SetStatisticsField(name);
            statistics->SetStatisticsCursor(layer.SearchLayer(nullptr, false));
            const host::MinMax range = statistics->GetStatistics();
            // Compared in single precision, as the criterion degrees are
            // stored: 1.0000000001 still counts as 1.
            const auto minimum = static_cast<float>(range.minimum);
            const auto maximum = static_cast<float>(range.maximum);
            if (maximum <= 1.0F && minimum >= 0.0F) {
                lists.otherFields.push_back(name);
            }
        }
    }
}

FieldValues ListFieldValues(host::Application& application, host::FeatureLayer& layer,
                            const std::string& fieldName, host::ProgressFn progress) {
    auto statistics = application.CreateStatistics();
    Require(statistics, "statistics");
    statistics->SetStatisticsField(fieldName);
    statistics->SetStatisticsCursor(layer.SearchLayer(nullptr, false));
    statistics->SetUniqueValueLimit(kValueLimit);
    if (progress) {
        statistics->SetProgress(std::move(progress));
    }
    auto values = statistics->GetUniqueValues();
    Require(values, "unique values");

    FieldValues result;
    result.encoding = Require(layer.GetFeatureClass(), "feature class")->GetTextEncoding();
    if (statistics->GetUniqueValueCount() > kValueLimit) {
        result.tooMany = true;
        return result;
    }
    const std::vector<std::int64_t> counts = statistics->GetUniqueValueFeatureCounts();
    values->Reset();
    for (std::size_t i = 0; auto value = values->Next(); ++i) {
        if (!host::IsNull(*value)) {
            result.values.push_back(host::ValueToText(*value));
            result.shown.push_back(host::DecodeLayerText(result.values.back(), result.encoding));
            if (i < counts.size()) {
                result.counts.push_back(counts[i]);
            }
        }
    }
    if (result.counts.size() != result.values.size()) {
        result.counts.clear();
    }
    ValueOrder().sort(result);
    return result;
}

ValueOrder::ValueOrder() : m_collator(std::make_unique<QCollator>(CollationLocale())) {}

ValueOrder::~ValueOrder() = default;

int ValueOrder::compare(std::string_view a, std::string_view b) const {
    return m_collator->compare(ToQ(a), ToQ(b));
}

void ValueOrder::sort(std::vector<std::string>& values) const {
    FieldValues listed;
    listed.shown = std::move(values);
    sort(listed);
    values = std::move(listed.shown);
}

void ValueOrder::sort(FieldValues& values) const {
    const std::size_t n = values.shown.size();
    const bool withValues = values.values.size() == n;
    const bool withCounts = values.counts.size() == n;
    std::vector<QString> keys;
    keys.reserve(n);
    for (const auto& text : values.shown) {
        keys.push_back(ToQ(text));
    }
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return m_collator->compare(keys[a], keys[b]) < 0;
    });
    FieldValues sorted;
    for (const std::size_t i : order) {
        sorted.shown.push_back(std::move(values.shown[i]));
        if (withValues) {
            sorted.values.push_back(std::move(values.values[i]));
        }
        if (withCounts) {
            sorted.counts.push_back(values.counts[i]);
        }
    }
    values.shown = std::move(sorted.shown);
    if (withValues) {
        values.values = std::move(sorted.values);
    }
    if (withCounts) {
        values.counts = std::move(sorted.counts);
    }
}

}  // namespace vark
