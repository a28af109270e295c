#include "host/qgis/QgisValues.h"

#include <qgsfield.h>

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <algorithm>
#include <cmath>

namespace vark::qgis {

namespace {

const QDate kDayZero(1899, 12, 30);
constexpr double kSecondsPerDay = 86400.0;

}  // namespace

Failure HostFailure(const std::string& description) {
    return Failure(err::kHostFailure, description, std::string(kSource));
}

std::int32_t FieldTypeCode(const QgsField& field) {
    switch (field.type()) {
        case QVariant::Bool:
            return host::kFieldShort;
        case QVariant::Int:
        case QVariant::UInt:
        case QVariant::LongLong:
        case QVariant::ULongLong:
            return host::kFieldLong;
        case QVariant::Double:
            return host::kFieldDouble;
        case QVariant::Date:
        case QVariant::DateTime:
        case QVariant::Time:
            return host::kFieldDate;
        case QVariant::ByteArray:
            return host::kFieldBlob;
        default:
            return host::kFieldText;
    }
}

QgsField ToQgsField(const host::Field& field) {
    const QString name = ToQString(field.GetFieldName());
    const int length = field.GetFieldLength();
    const int precision = field.GetFieldPrecision();
    switch (field.GetFieldType()) {
        case host::kFieldShort:
        case host::kFieldLong:
            return QgsField(name, QVariant::Int, QStringLiteral("integer"), length, 0);
        case host::kFieldSingle:
        case host::kFieldDouble:
            return QgsField(name, QVariant::Double, QStringLiteral("double"), length, precision);
        case host::kFieldText:
            return QgsField(name, QVariant::String, QStringLiteral("string"), length, 0);
        case host::kFieldDate:
            return QgsField(name, QVariant::Date, QStringLiteral("date"));
        case host::kFieldBlob:
            return QgsField(name, QVariant::ByteArray, QStringLiteral("binary"));
        default:
            throw HostFailure("Field " + field.GetFieldName() + ": type code " +
                              std::to_string(field.GetFieldType()) + " cannot be added to a table");
    }
}

host::Value ToValue(const QVariant& value) {
    if (value.isNull()) {
        return {};
    }
    switch (value.userType()) {
        case QMetaType::Bool:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return static_cast<std::int64_t>(value.toLongLong());
        case QMetaType::ULong:
        case QMetaType::ULongLong:
            return static_cast<std::int64_t>(value.toULongLong());
        case QMetaType::Float:
        case QMetaType::Double:
            return value.toDouble();
        case QMetaType::QDate:
            return static_cast<double>(kDayZero.daysTo(value.toDate()));
        case QMetaType::QDateTime: {
            const QDateTime dt = value.toDateTime();
            return static_cast<double>(kDayZero.daysTo(dt.date())) +
                   dt.time().msecsSinceStartOfDay() / (1000.0 * kSecondsPerDay);
        }
        case QMetaType::QTime:
            return value.toTime().msecsSinceStartOfDay() / (1000.0 * kSecondsPerDay);
        case QMetaType::QByteArray: {
            const QByteArray bytes = value.toByteArray();
            return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        }
        default:
            return ToStdString(value.toString());
    }
}

QVariant ToVariant(const host::Value& value, QVariant::Type type) {
    if (host::IsNull(value)) {
        return QVariant(type);
    }
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        return QVariant(static_cast<qlonglong>(*i));
    }
    if (const auto* d = std::get_if<double>(&value)) {
        if ((type == QVariant::Date || type == QVariant::DateTime) && std::isfinite(*d)) {
            const double days = std::floor(*d);
            const QDate date = kDayZero.addDays(static_cast<qint64>(days));
            if (type == QVariant::Date) {
                return date;
            }
            const long msecs = std::min(std::lround((*d - days) * kSecondsPerDay * 1000.0),
                                        static_cast<long>(kSecondsPerDay * 1000.0) - 1);
            return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)));
        }
        return QVariant(*d);
    }
    const auto& text = std::get<std::string>(value);
    if (type == QVariant::ByteArray) {
        return QByteArray(text.data(), static_cast<int>(text.size()));
    }
    return ToQString(text);
}

}  // namespace vark::qgis
