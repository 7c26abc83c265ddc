#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <optional>

namespace zrp {

// One video ad: what to play, for how long, where a click goes, and the URLs to fire.
class ZRPAdItem
{
public:
    // None without a media URL. Reads the ad maps of the VAST reading.
    static std::optional<ZRPAdItem> adItemWithDictionary(const QVariantMap& ad);
    static ZRPAdItem adItemWithUrl(const QString& url, float startTime);

    // "hours:minutes:seconds", each read as a leading integer; 0 for any other form.
    static float durationFromText(const QString& text);
    // Escapes what may not stand in a URL, leaves the delimiters and any escape already made.
    static QString escapedURLText(const QString& text);

    QString adUrl;
    QString adClickUrl;
    float duration = 0;
    QList<QUrl> impressions;
    QMap<QString, QList<QUrl>> trackingEvents;
    float startTime = 0;
    qint32 playedCount = 0;

    QVariantMap toVariantMap() const; // "adUrl", "adClickUrl", "duration", "impressions", "trackingEvents"
};

} // namespace zrp
