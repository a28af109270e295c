#pragma once

// Conversions between QGIS field definitions and values and those of the
// host interface. Internal to the QGIS adapter.

#include <QString>
#include <QVariant>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/host.h"
#include "support/Failure.h"

class QgsField;

namespace vark::qgis {

/// Source text of the failures the adapter raises.
inline constexpr std::string_view kSource = "QGIS";

/// A Failure numbered err::kHostFailure with `description`.
Failure HostFailure(const std::string& description);

inline QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}
inline std::string ToStdString(const QString& text) {
    return text.toUtf8().toStdString();
}

/// The host type code of a QGIS field: integers 32-bit and 64-bit are long
/// (booleans short), reals double, texts text, dates and times date, byte
/// arrays blob; any other kind (lists, maps) is shown as text.
std::int32_t FieldTypeCode(const QgsField& field);

/// A QGIS field for a new host field: short and long become 32-bit integers,
/// single and double become reals, text, date and blob keep their kind.
/// Throws Failure for the codes a table cannot hold (object id, geometry,
/// raster, GUID, global id, XML).
QgsField ToQgsField(const host::Field& field);

/// A QGIS value as a host value: null stays null; integers and booleans are
/// integers; reals are reals; dates and times are days since 1899-12-30 (the
/// time as the fraction); texts and anything else as UTF-8 text.
host::Value ToValue(const QVariant& value);

/// A host value as a QGIS value for a field of `type` (a QVariant::Type):
/// null becomes a null of that type; days become a date or date-time for
/// date fields. Other conversions are left to the data provider.
QVariant ToVariant(const host::Value& value, QVariant::Type type);

}  // namespace vark::qgis
