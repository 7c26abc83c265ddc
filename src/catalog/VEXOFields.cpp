#include "catalog/VEXOFields.h"

#include "catalog/VEXOClientAPI.h"

#include <QCborArray>
#include <QMap>
#include <cmath>

namespace VEXOFields {

std::optional<QString> text(const QCborValue& value)
{
    switch (value.type()) {
    case QCborValue::String:
        return value.toString();
    case QCborValue::Integer:
        return QString::number(value.toInteger());
    case QCborValue::Double: {
        const double d = value.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        if (d == std::trunc(d) && std::fabs(d) < 9.0e15)
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    default:
        return std::nullopt;
    }
}

QString sanitizedText(const QCborValue& value)
{
    return text(value).value_or(QString());
}

std::optional<qint64> integer(const QCborValue& value)
{
    switch (value.type()) {
    case QCborValue::Integer:
        return value.toInteger();
    case QCborValue::Double: {
        const double d = value.toDouble();
        if (!std::isfinite(d) || std::fabs(d) >= 9.0e18)
            return std::nullopt;
        return qint64(std::trunc(d));
    }
    case QCborValue::False:
        return 0;
    case QCborValue::True:
        return 1;
    case QCborValue::String: {
        bool ok = false;
        const qint64 n = value.toString().trimmed().toLongLong(&ok);
        if (ok)
            return n;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QDateTime> catalogDate(const QCborValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString s = value.toString();
    // Exactly "yyyy-MM-dd HH:mm:ss"; parsed in parts so that no local time zone is involved.
    if (s.size() != 19 || s.at(10) != QLatin1Char(' '))
        return std::nullopt;
    const QDate date = QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(s.mid(11), QStringLiteral("HH:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

std::optional<QDateTime> storedDate(const QCborValue& value)
{
    QDateTime t;
    if (value.isDateTime())
        t = value.toDateTime();
    else if (value.isString())
        t = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    if (!t.isValid())
        return std::nullopt;
    return t.toUTC();
}

QStringList imageUsageTypes()
{
    if (VEXOClientAPI::getUserInterfaceIdiom() != 0)
        return {QStringLiteral("iPad-Large"), QStringLiteral("iPhone-Medium"), QStringLiteral("iPad-Small")};
    if (VEXOClientAPI::isiPhone4())
        return {QStringLiteral("iPhone-Medium"), QStringLiteral("iPad-Small"),
                QStringLiteral("iPhone-Small")};
    return {QStringLiteral("iPhone-Small"), QStringLiteral("iPad-Small"), QStringLiteral("iPhone-Medium")};
}

QStringList thumbnailUsageTypes()
{
    if (VEXOClientAPI::getUserInterfaceIdiom() == 0 && VEXOClientAPI::isiPhone4())
        return {QStringLiteral("iPad-Large"), QStringLiteral("iPhone-Medium"), QStringLiteral("iPad-Small")};
    return {QStringLiteral("iPhone-Medium"), QStringLiteral("iPad-Small"), QStringLiteral("iPhone-Small")};
}

ImageChoice chooseImages(const QCborValue& associatedImages, bool stripSemicolons)
{
    ImageChoice choice;
    if (!associatedImages.isArray())
        return choice;
    QMap<QString, QString> byUsage;
    for (const QCborValue& image : associatedImages.toArray()) {
        if (!image.isMap())
            continue;
        const QCborMap m = image.toMap();
        const std::optional<QString> url = text(m.value(QLatin1String("url")));
        const QCborValue type = m.value(QLatin1String("type"));
        if (!url || !type.isMap())
            continue;
        const QCborValue usage = type.toMap().value(QLatin1String("usage_type"));
        if (!usage.isString())
            continue;
        QString u = *url;
        if (stripSemicolons)
            u.remove(QLatin1Char(';'));
        byUsage.insert(usage.toString(), u);
    }
    const auto firstOf = [&](const QStringList& order) -> std::optional<QString> {
        for (const QString& usage : order) {
            auto it = byUsage.constFind(usage);
            if (it != byUsage.constEnd())
                return *it;
        }
        return std::nullopt;
    };
    choice.imageURL = firstOf(imageUsageTypes());
    choice.thumbnailURL = firstOf(thumbnailUsageTypes());
    return choice;
}

bool isLocalProducer(const QCborValue& producer)
{
    if (!producer.isMap())
        return false;
    const std::optional<QString> name = text(producer.toMap().value(QLatin1String("name")));
    return name && *name != VEXOProgram::kNetworkProducer;
}

} // namespace VEXOFields
