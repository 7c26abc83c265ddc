#include "ZRPPlayerLiveRailDataProvider.h"

#include "core/Config.h"

namespace zrp {

ZRPPlayerLiveRailDataProvider::ZRPPlayerLiveRailDataProvider()
    : m_liveRailWraper(ZRPAPIWrapper::wrapperOfType(ZRPAPITypeLiveRail, {}))
{}

QString ZRPPlayerLiveRailDataProvider::tags(const ZRPPlayerVideo& video, const QString& stationCallSign)
{
    const QString slug = QString(video.program.slug).replace(QLatin1Char('-'), QLatin1Char('_'));
    QString tags = QStringLiteral("program_zrp_%1,localstation_%2").arg(slug, stationCallSign);
    if (!video.nolaRoot.isEmpty())
        tags += QStringLiteral(",nolaroot_%1").arg(video.nolaRoot);
    if (!video.nolaEpisode.isEmpty())
        tags += QStringLiteral(",%1_%2").arg(slug, video.nolaEpisode);
    return tags;
}

QString ZRPPlayerLiveRailDataProvider::adRequestURL(const ZRPPlayerVideo& video,
                                                    const QString& stationCallSign, const QString& playerId)
{
    const QString slug = QString(video.program.slug).replace(QLatin1Char('-'), QLatin1Char('_'));
    const QString publisher = video.liverailId != 0
                                  ? QString::number(video.liverailId)
                                  : Config::shared().value(QStringLiteral("liverail.publisher_id"));
    return Config::shared().value(QStringLiteral("liverail.base_url")) +
           QStringLiteral("?LR_PUBLISHER_ID=%1&LR_SCHEMA=vast2&LR_TAGS=%2&LR_FORMAT=video/mp4&LR_VIDEO_ID=%3"
                          "&LR_VIDEO_AMID=%4&LR_VERTICALS=program_zrp_%5")
               .arg(publisher, tags(video, stationCallSign),
                    video.mediaId ? QString::number(*video.mediaId) : QString(), playerId, slug);
}

void ZRPPlayerLiveRailDataProvider::getAdsForVideo(const ZRPPlayerVideo& video, const QList<double>& adTimes,
                                                   const QString& stationCallSign, const QString& playerId,
                                                   const QString& requestId,
                                                   ZRPPlayerDataProviderDelegate* delegate)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        m_liveRailURL = adRequestURL(video, stationCallSign, playerId);
        m_adTimes = adTimes;
        m_currentAdIndex = 0;
        m_delegate = delegate;
        m_requestId = requestId;
        m_ads.clear();
    }
    getCurrentAd();
}

void ZRPPlayerLiveRailDataProvider::getCurrentAd()
{
    QString url, requestId;
    quint64 generation;
    int position;
    {
        std::lock_guard lock(m_mutex);
        if (!m_liveRailWraper || m_currentAdIndex >= m_adTimes.size())
            return;
        position = int(m_adTimes[m_currentAdIndex]);
        url = m_liveRailURL + QStringLiteral("&LR_VIDEO_POSITION=%1").arg(position);
        requestId = m_requestId;
        generation = m_generation;
    }
    m_liveRailWraper->getDataFromUrl(
        url,
        [this, generation, position](const QVariant& results) {
            ZRPPlayerDataProviderDelegate* delegate = nullptr;
            QString requestId;
            QList<ZRPAdItem> ads;
            bool done = false;
            {
                std::lock_guard lock(m_mutex);
                if (generation != m_generation)
                    return; // cancelled or replaced meanwhile
                const QVariantList list = results.toList();
                if (!list.isEmpty()) {
                    if (auto item = ZRPAdItem::adItemWithDictionary(list.first().toMap())) {
                        item->startTime = float(position);
                        m_ads << *item;
                    }
                }
                ++m_currentAdIndex;
                if (m_currentAdIndex >= m_adTimes.size()) {
                    done = true;
                    delegate = m_delegate;
                    requestId = m_requestId;
                    ads = m_ads;
                    ++m_generation;
                    forget();
                }
            }
            if (!done)
                getCurrentAd(); // the next position only after this answer
            else if (delegate)
                delegate->didFinishWithResults(requestId, ads);
        },
        [this, generation](const Error& error) {
            ZRPPlayerDataProviderDelegate* delegate = nullptr;
            QString requestId;
            {
                std::lock_guard lock(m_mutex);
                if (generation != m_generation)
                    return;
                delegate = m_delegate;
                requestId = m_requestId;
                ++m_generation;
                forget();
            }
            if (delegate)
                delegate->didFailWithError(requestId, error);
        },
        requestId);
}

void ZRPPlayerLiveRailDataProvider::cancelRequestWithId(const QString& requestId)
{
    if (m_liveRailWraper)
        m_liveRailWraper->cancelRequestWithId(requestId);
    std::lock_guard lock(m_mutex);
    ++m_generation;
    forget();
}

void ZRPPlayerLiveRailDataProvider::forget()
{
    m_liveRailURL.clear();
    m_adTimes.clear();
    m_currentAdIndex = 0;
    m_ads.clear();
    m_delegate = nullptr;
    m_requestId.clear();
}

} // namespace zrp
