#include "ZRPAdItem.h"

#include "ZRPLiveRailWrapper.h"

#include <QStringList>
#include <cstring>

namespace zrp {

namespace {

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isLegalInURL(uchar c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    static const char legal[] = "-_.!~*'();/?:@&=+$,#";
    return c != 0 && std::strchr(legal, c) != nullptr;
}

QList<QUrl> urlsFrom(const QVariant& texts)
{
    QList<QUrl> out;
    for (const QVariant& v : texts.toList()) {
        const QString escaped = ZRPAdItem::escapedURLText(v.toString());
        if (escaped.isEmpty())
            continue;
        const QUrl url = QUrl::fromEncoded(escaped.toLatin1(), QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            out << url;
    }
    return out;
}

} // namespace

QString ZRPAdItem::escapedURLText(const QString& text)
{
    // Ad servers pad their CDATA URLs with newlines and tabs; those are layout, not URL.
    const QByteArray utf8 = text.trimmed().toUtf8();
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const uchar c = uchar(utf8[i]);
        // An escape already in the URL stays one; escaping its "%" again would change the URL.
        const bool existingEscape =
            c == '%' && i + 2 < utf8.size() && isHex(utf8[i + 1]) && isHex(utf8[i + 2]);
        if (isLegalInURL(c) || existingEscape) {
            out.append(char(c));
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xF]);
        }
    }
    return QString::fromLatin1(out);
}

float ZRPAdItem::durationFromText(const QString& text)
{
    const QStringList pieces = text.split(QLatin1Char(':'));
    if (pieces.size() != 3)
        return 0;
    const qint64 seconds = qint64(leadingInteger(pieces[0])) * 3600 + qint64(leadingInteger(pieces[1])) * 60 +
                           qint64(leadingInteger(pieces[2]));
    return float(seconds);
}

std::optional<ZRPAdItem> ZRPAdItem::adItemWithDictionary(const QVariantMap& ad)
{
    const QString url = ad.value(QStringLiteral("adURL")).toString().trimmed();
    if (url.isEmpty())
        return std::nullopt;
    ZRPAdItem item;
    item.adUrl = url;
    const QVariant click = ad.value(QStringLiteral("clickURL"));
    if (click.isValid())
        item.adClickUrl = click.toString().trimmed();
    item.duration = durationFromText(ad.value(QStringLiteral("Duration")).toString());
    item.impressions = urlsFrom(ad.value(QStringLiteral("Impressions")));
    const QVariantMap events = ad.value(QStringLiteral("TrackingEvents")).toMap();
    for (auto it = events.cbegin(); it != events.cend(); ++it)
        item.trackingEvents.insert(it.key(), urlsFrom(it.value()));
    return item;
}

ZRPAdItem ZRPAdItem::adItemWithUrl(const QString& url, float startTime)
{
    ZRPAdItem item;
    item.adUrl = url;
    item.startTime = startTime;
    return item;
}

QVariantMap ZRPAdItem::toVariantMap() const
{
    auto texts = [](const QList<QUrl>& urls) {
        QVariantList out;
        for (const QUrl& u : urls)
            out << QString::fromLatin1(u.toEncoded());
        return out;
    };
    QVariantMap events;
    for (auto it = trackingEvents.cbegin(); it != trackingEvents.cend(); ++it)
        events.insert(it.key(), texts(it.value()));
    return {{"adUrl", adUrl},
            {"adClickUrl", adClickUrl.isNull() ? QVariant() : QVariant(adClickUrl)},
            {"duration", double(duration)},
            {"impressions", texts(impressions)},
            {"trackingEvents", events}};
}

} // namespace zrp
