#include "catalog/VEXOFields.h"

#include "catalog/VEXOClientAPI.h"

#include <QCborArray>
#include <QVarLengthArray>
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

namespace {

// Two or four decimal digits at text[at]; -1 when any is not a digit.
int digits(QStringView text, qsizetype at, int count)
{
    int n = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = text[at + i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n;
}

} // namespace

std::optional<QDateTime> catalogDate(const QCborValue& value)
{
    if (!value.isString())
        return std::nullopt;
    const QString s = value.toString();
    // Exactly "yyyy-MM-dd HH:mm:ss", read by hand: it is on every video of every answer, and no
    // local time zone may take part.
    if (s.size() != 19 || s[4] != u'-' || s[7] != u'-' || s[10] != u' ' || s[13] != u':' || s[16] != u':')
        return std::nullopt;
    const QDate date(digits(s, 0, 4), digits(s, 5, 2), digits(s, 8, 2));
    const int h = digits(s, 11, 2), m = digits(s, 14, 2), sec = digits(s, 17, 2);
    if (!date.isValid() || !QTime::isValid(h, m, sec))
        return std::nullopt;
    return QDateTime(date, QTime(h, m, sec), Qt::UTC);
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

namespace {

// Preference lists, in order, by device.
const QStringList& tabletImages()
{
    static const QStringList l{QStringLiteral("iPad-Large"), QStringLiteral("iPhone-Medium"),
                               QStringLiteral("iPad-Small")};
    return l;
}
const QStringList& mediumFirst()
{
    static const QStringList l{QStringLiteral("iPhone-Medium"), QStringLiteral("iPad-Small"),
                               QStringLiteral("iPhone-Small")};
    return l;
}
const QStringList& smallFirst()
{
    static const QStringList l{QStringLiteral("iPhone-Small"), QStringLiteral("iPad-Small"),
                               QStringLiteral("iPhone-Medium")};
    return l;
}

} // namespace

QStringList imageUsageTypes()
{
    if (VEXOClientAPI::getUserInterfaceIdiom() != 0)
        return tabletImages();
    return VEXOClientAPI::isiPhone4() ? mediumFirst() : smallFirst();
}

QStringList thumbnailUsageTypes()
{
    if (VEXOClientAPI::getUserInterfaceIdiom() == 0 && VEXOClientAPI::isiPhone4())
        return tabletImages();
    return mediumFirst();
}

ImageChoice chooseImages(const QCborValue& associatedImages, bool stripSemicolons)
{
    ImageChoice choice;
    if (!associatedImages.isArray())
        return choice;
    // A handful of images per record: a short list searched from the end (a later image of a
    // usage type replaces an earlier one) costs less than a map.
    QVarLengthArray<std::pair<QString, QString>, 8> byUsage;
    for (const QCborValue& image : associatedImages.toArray()) {
        if (!image.isMap())
            continue;
        const QCborMap m = image.toMap();
        const QCborValue url = m.value(QLatin1String("url"));
        const QCborValue type = m.value(QLatin1String("type"));
        if (!type.isMap())
            continue;
        const QCborValue usage = type.toMap().value(QLatin1String("usage_type"));
        const std::optional<QString> u = text(url);
        if (!u || !usage.isString())
            continue;
        byUsage.append({usage.toString(), *u});
    }
    const auto firstOf = [&](const QStringList& order) -> std::optional<QString> {
        for (const QString& usage : order) {
            for (auto it = byUsage.crbegin(); it != byUsage.crend(); ++it) {
                if (it->first == usage) {
                    QString url = it->second;
                    if (stripSemicolons)
                        url.remove(QLatin1Char(';'));
                    return url;
                }
            }
        }
        return std::nullopt;
    };
    const bool tablet = VEXOClientAPI::getUserInterfaceIdiom() != 0;
    const bool retina = !tablet && VEXOClientAPI::isiPhone4();
    choice.imageURL = firstOf(tablet ? tabletImages() : retina ? mediumFirst() : smallFirst());
    choice.thumbnailURL = firstOf(retina ? tabletImages() : mediumFirst());
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
