#include "LiveRailService.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonObject>
#include <QRegularExpression>

namespace zrp::sandbox {

namespace {

QString queryValue(const QList<QueryItem>& items, const char* name)
{
    for (const QueryItem& i : items) {
        if (i.name == QLatin1String(name))
            return i.value;
    }
    return QString();
}

bool isNumber(const QString& s)
{
    static const QRegularExpression digits(QStringLiteral("^\\d{1,9}$"));
    return digits.match(s).hasMatch();
}

HttpReply text(int status, const QByteArray& contentType, const QByteArray& body)
{
    HttpReply r;
    r.status = status;
    r.contentType = contentType;
    r.body = body;
    return r;
}

// Attribute and CDATA safe: the values are digits, hex and the sandbox's own host.
QByteArray cdata(const QString& s)
{
    QByteArray b = s.toUtf8();
    b.replace("]]>", "]]]]><![CDATA[>");
    return "<![CDATA[" + b + "]]>";
}

} // namespace

std::optional<HttpReply> LiveRailService::route(const HttpRequest& r)
{
    if (r.path == QLatin1String("/_sandbox/liverail")) {
        if (r.method == "DELETE") {
            clear();
            return HttpReply::noContent();
        }
        return HttpReply::json(200, QJsonObject{{QStringLiteral("hits"), trackingHits()}});
    }
    if (r.path.startsWith(QLatin1String("/liverail/track/")))
        return trackReply(r);
    if (r.path == QLatin1String("/liverail/") || r.path == QLatin1String("/liverail"))
        return adReply(r);
    return std::nullopt;
}

HttpReply LiveRailService::adReply(const HttpRequest& r)
{
    if (r.method != "GET" && r.method != "HEAD")
        return HttpReply::error(405, QStringLiteral("Method not allowed."),
                                QStringLiteral("The ad server answers GET."));
    const QList<QueryItem> q = parseQuery(r.rawQuery);
    const QString publisher = queryValue(q, "LR_PUBLISHER_ID");
    const QString position = queryValue(q, "LR_VIDEO_POSITION");
    if (!isNumber(publisher) || !isNumber(position) || queryValue(q, "LR_SCHEMA") != QLatin1String("vast2")) {
        return HttpReply::error(
            400, QStringLiteral("Bad ad request."),
            QStringLiteral("LR_PUBLISHER_ID, LR_VIDEO_POSITION (numbers) and LR_SCHEMA=vast2 "
                           "are required."));
    }
    if (publisher.toInt() == kFailingPublisher)
        return HttpReply::error(503, QStringLiteral("Ad server unavailable."),
                                QStringLiteral("Publisher %1 is configured to fail.").arg(publisher));
    if (position.toInt() == kNoAdPosition)
        return text(200, "application/xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VAST version=\"2.0\"/>\n");

    // The ad id follows from what was asked, so that the same request gets the same ad.
    const QByteArray seed = (publisher + QLatin1Char('/') + queryValue(q, "LR_VIDEO_ID") + QLatin1Char('/') +
                             position + QLatin1Char('/') + queryValue(q, "LR_TAGS"))
                                .toUtf8();
    const QString adId =
        QString::fromLatin1(QCryptographicHash::hash(seed, QCryptographicHash::Sha1).toHex().left(12));
    const QString base = QStringLiteral("http://") + QString::fromLatin1(r.host());
    auto track = [&](const QString& event) {
        return QStringLiteral("%1/liverail/track/%2?ad=%3&position=%4").arg(base, event, adId, position);
    };
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<VAST version=\"2.0\">\n <Ad id=\"" +
                     adId.toLatin1() + "\">\n  <InLine>\n   <AdSystem version=\"2.0\">LiveRail</AdSystem>\n" +
                     "   <AdTitle>Sandbox ad " + adId.toLatin1() + "</AdTitle>\n" + "   <Impression>" +
                     cdata(track(QStringLiteral("impression"))) + "</Impression>\n" +
                     "   <Creatives>\n    <Creative sequence=\"1\">\n     <Linear>\n" +
                     "      <Duration>00:00:15</Duration>\n      <TrackingEvents>\n";
    for (const char* event : {"start", "firstQuartile", "midpoint", "thirdQuartile", "complete"}) {
        xml += "       <Tracking event=\"" + QByteArray(event) + "\">" +
               cdata(track(QString::fromLatin1(event))) + "</Tracking>\n";
    }
    xml += "      </TrackingEvents>\n      <VideoClicks>\n       <ClickThrough>" +
           cdata(base + QStringLiteral("/liverail/click?ad=") + adId) +
           "</ClickThrough>\n      </VideoClicks>\n" + "      <MediaFiles>\n";
    for (int bitrate : {400, 1200, 800}) {
        xml += "       <MediaFile delivery=\"progressive\" type=\"video/mp4\" bitrate=\"" +
               QByteArray::number(bitrate) + "\" width=\"640\" height=\"360\">" +
               cdata(QStringLiteral("%1/media/ads/%2-%3k.mp4").arg(base, adId).arg(bitrate)) +
               "</MediaFile>\n";
    }
    xml += "      </MediaFiles>\n     </Linear>\n    </Creative>\n   </Creatives>\n  </InLine>\n "
           "</Ad>\n</VAST>\n";
    return text(200, "application/xml", xml);
}

HttpReply LiveRailService::trackReply(const HttpRequest& r)
{
    const QString event = r.path.mid(int(QStringLiteral("/liverail/track/").size()));
    const QList<QueryItem> q = parseQuery(r.rawQuery);
    {
        std::lock_guard lock(m_mutex);
        if (m_hits.size() >= kMaxHits)
            m_hits.removeFirst();
        m_hits.append(
            QJsonObject{{QStringLiteral("index"), m_nextIndex++},
                        {QStringLiteral("event"), event},
                        {QStringLiteral("ad"), queryValue(q, "ad")},
                        {QStringLiteral("position"), queryValue(q, "position")},
                        {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}});
    }
    // A 1x1 transparent GIF, as tracking pixels are.
    static const QByteArray gif =
        QByteArray::fromBase64("R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7");
    return text(200, "image/gif", gif);
}

QJsonArray LiveRailService::trackingHits() const
{
    std::lock_guard lock(m_mutex);
    return m_hits;
}

void LiveRailService::clear()
{
    std::lock_guard lock(m_mutex);
    m_hits = QJsonArray();
}

} // namespace zrp::sandbox
