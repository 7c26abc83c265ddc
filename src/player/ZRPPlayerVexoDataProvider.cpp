#include "ZRPPlayerVexoDataProvider.h"

#include "ZRPPlayerDictionary.h"
#include "core/Config.h"
#include "core/Device.h"

namespace zrp {

ZRPSigningInfo ZRPPlayerVexoDataProvider::signingInfo()
{
    const QString d = Device::platformDescription();
    const bool tablet = d.isEmpty() || d.contains(QStringLiteral("iPad"));
    const Config& c = Config::shared();
    const QString prefix = tablet ? QStringLiteral("player.tablet_") : QStringLiteral("player.phone_");
    return {{"consumerKey", c.value(prefix + "consumer_key")}, {"secretKey", c.value(prefix + "secret_key")}};
}

ZRPPlayerVexoDataProvider::ZRPPlayerVexoDataProvider()
    : m_apiWrapper(ZRPAPIWrapper::wrapperOfType(ZRPAPITypeVexo, signingInfo()))
{}

QString ZRPPlayerVexoDataProvider::videosURL(const QString& mediaId)
{
    return Config::shared().value(QStringLiteral("catalog.base_url")) +
           QStringLiteral(
               "videos/?fields=mediafiles,associated_images,producer,program__associated_images"
               "&filter_tp_media_object_id=%1&filter_availability_status=Available&order_by=-airdate"
               "&filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL")
               .arg(mediaId);
}

QString ZRPPlayerVexoDataProvider::chapterBreaksURL(const QString& videoId)
{
    return Config::shared().value(QStringLiteral("catalog.base_url")) +
           QStringLiteral("videos/?filter_segment_parent=%1").arg(videoId);
}

QList<ZRPPlayerVideo> ZRPPlayerVexoDataProvider::videosFromResults(const QVariantList& results)
{
    QList<ZRPPlayerVideo> videos;
    for (const QVariant& v : results) {
        if (auto video = ZRPPlayerVideo::videoWithDictionary(v.toMap()))
            videos << *video;
    }
    return videos;
}

QList<int> ZRPPlayerVexoDataProvider::chapterTimesFromResults(const QVariantList& results)
{
    QList<int> times;
    for (const QVariant& v : results) {
        const QVariant start =
            ZRPPlayerDictionary::valueForKey(v.toMap(), QStringLiteral("segment_start_time"));
        if (start.isValid())
            times << int(start.toLongLong() / 1000);
    }
    return times;
}

void ZRPPlayerVexoDataProvider::getVideosForTPMediaId(const QString& mediaId, const QString& requestId,
                                                      ZRPPlayerDataProviderDelegate* delegate)
{
    if (!m_apiWrapper)
        return;
    m_apiWrapper->getDataFromUrl(
        videosURL(mediaId),
        [delegate, requestId](const QVariant& results) {
            delegate->didFinishWithResults(requestId, videosFromResults(results.toList()));
        },
        [delegate, requestId](const Error& error) { delegate->didFailWithError(requestId, error); },
        requestId);
}

void ZRPPlayerVexoDataProvider::getChapterBreakTimesForVideoId(const QString& videoId,
                                                               const QString& requestId,
                                                               ZRPPlayerDataProviderDelegate* delegate)
{
    if (!m_apiWrapper)
        return;
    m_apiWrapper->getDataFromUrl(
        chapterBreaksURL(videoId),
        [delegate, requestId](const QVariant& results) {
            delegate->didFinishWithResults(requestId, chapterTimesFromResults(results.toList()));
        },
        [delegate, requestId](const Error& error) { delegate->didFailWithError(requestId, error); },
        requestId);
}

void ZRPPlayerVexoDataProvider::cancelRequestWithId(const QString& requestId)
{
    if (m_apiWrapper)
        m_apiWrapper->cancelRequestWithId(requestId);
}

} // namespace zrp
