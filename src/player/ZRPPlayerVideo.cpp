#include "ZRPPlayerVideo.h"

#include "ZRPPlayerDataPicker.h"
#include "ZRPPlayerDictionary.h"
#include "core/Config.h"

namespace zrp {

using namespace ZRPPlayerDictionary;

namespace {
QString text(const QVariantMap& d, const char* key)
{
    const QVariant v = valueForKey(d, QString::fromLatin1(key));
    return v.isValid() ? v.toString() : QString();
}
const QString kDateFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");
} // namespace

ZRPPlayerVideoType ZRPPlayerVideo::typeEnumForTypeString(const QString& type)
{
    static const QMap<QString, ZRPPlayerVideoType> types{{"Clip", ZRPPlayerVideoTypeClip},
                                                         {"Episode", ZRPPlayerVideoTypeEpisode},
                                                         {"Segment", ZRPPlayerVideoTypeSegment},
                                                         {"Promotion", ZRPPlayerVideoTypePromotion},
                                                         {"Other", ZRPPlayerVideoTypeOther}};
    return types.value(type, ZRPPlayerVideoTypeOther);
}

void ZRPPlayerVideo::setResourceURI(const QString& uri)
{
    m_resourceURI = uri;
    const QString id = ZRPPlayerProgram::idFromResourceURI(uri);
    if (!id.isNull())
        videoId = id;
}

std::optional<ZRPPlayerVideo> ZRPPlayerVideo::videoWithDictionary(const QVariantMap& d)
{
    const auto file = ZRPPlayerDataPicker::mediaFileFromOptions(valueForKey(d, "mediafiles").toList());
    if (!file)
        return std::nullopt;
    const QString dataURL = text(*file, "video_data_url");
    if (dataURL.isEmpty())
        return std::nullopt;

    ZRPPlayerVideo v;
    v.title = text(d, "title");
    v.shortDescription = text(d, "short_description");
    v.longDescription = text(d, "long_description");
    v.nolaEpisode = text(d, "nola_episode");
    v.nolaRoot = text(d, "nola_root");
    v.setResourceURI(text(d, "resource_uri"));
    v.episodeURL = text(d, "episode_url");
    const QVariant media = valueForKey(d, "tp_media_object_id");
    bool ok = false;
    const qint64 mediaId = media.toLongLong(&ok);
    if (ok)
        v.mediaId = mediaId;
    v.type = typeEnumForTypeString(valueForKey(d, "type", QStringLiteral("Other")).toString());
    v.isGated = valueForKey(d, "gated_content", false).toBool();
    v.airDate = ZRPPlayerDateStringConversions::gmtDateFromString(text(d, "airdate"), kDateFormat);
    v.expirationDate =
        ZRPPlayerDateStringConversions::gmtDateFromString(text(d, "expire_datetime"), kDateFormat);
    for (const char* key : {"buy_dvd_link", "itunes_link"}) {
        const QString link = text(d, key);
        if (!link.isNull())
            v.m_buyLinks.insert(QString::fromLatin1(key), link);
    }
    const QVariantList images = valueForKey(d, "associated_images").toList();
    v.imageURL = ZRPPlayerDataPicker::imageURLFromOptions(images);
    v.thumbnailURL = ZRPPlayerDataPicker::thumbnailURLFromOptions(images);
    v.videoDataURL = dataURL;
    v.duration = valueForKey(*file, "length_mseconds", 0).toDouble() / 1000.0;
    if (v.mediaId) {
        v.m_episodeLink = Config::shared().value(QStringLiteral("video_site.base_url")) +
                          QStringLiteral("video/%1").arg(quint32(*v.mediaId));
    }
    v.program = ZRPPlayerProgram::programWithDictionary(valueForKey(d, "program").toMap());
    v.liverailId = qint32(valueForKeyPath(d, QStringLiteral("producer.liverail_id"), 0).toLongLong());
    return v;
}

QString ZRPPlayerVideo::description() const
{
    auto num = [](const std::optional<double>& x) { return x ? QString::number(*x) : QString(); };
    auto date = [](const QDateTime& t) { return t.isValid() ? t.toString(Qt::ISODate) : QString(); };
    QStringList segs;
    for (double s : segments)
        segs << QString::number(s);
    QStringList links;
    for (auto it = m_buyLinks.cbegin(); it != m_buyLinks.cend(); ++it)
        links << it.key() + QLatin1Char('=') + it.value();
    return describeProperties({{"title", title},
                               {"shortDescription", shortDescription},
                               {"longDescription", longDescription},
                               {"nolaEpisode", nolaEpisode},
                               {"nolaRoot", nolaRoot},
                               {"resourceURI", m_resourceURI},
                               {"videoId", videoId},
                               {"episodeURL", episodeURL},
                               {"mediaId", mediaId ? QString::number(*mediaId) : QString()},
                               {"type", QString::number(int(type))},
                               {"isGated", isGated ? QStringLiteral("1") : QStringLiteral("0")},
                               {"airDate", date(airDate)},
                               {"expirationDate", date(expirationDate)},
                               {"buyLinks", links.isEmpty() ? QString() : links.join(QLatin1Char(','))},
                               {"imageURL", imageURL},
                               {"thumbnailURL", thumbnailURL},
                               {"videoDataURL", videoDataURL},
                               {"duration", QString::number(duration)},
                               {"episodeLink", m_episodeLink},
                               {"program", program.description()},
                               {"liverailId", QString::number(liverailId)},
                               {"seekTime", num(seekTime)},
                               {"lastWatched", date(lastWatched)},
                               {"segments", segs.isEmpty() ? QString() : segs.join(QLatin1Char(','))}});
}

} // namespace zrp
