#pragma once

#include "ZRPAPIWrapper.h"
#include "ZRPAdItem.h"
#include "ZRPPlayerDataProviderDelegate.h"
#include "ZRPPlayerVideo.h"

#include <memory>
#include <mutex>

namespace zrp {

// Asks the LiveRail ad server for one ad per ad time, one position after another.
class ZRPPlayerLiveRailDataProvider
{
public:
    ZRPPlayerLiveRailDataProvider();

    void getAdsForVideo(const ZRPPlayerVideo& video, const QList<double>& adTimes,
                        const QString& stationCallSign, const QString& playerId, const QString& requestId,
                        ZRPPlayerDataProviderDelegate* delegate);
    void cancelRequestWithId(const QString& requestId);

    // The request URL without its position.
    static QString adRequestURL(const ZRPPlayerVideo& video, const QString& stationCallSign,
                                const QString& playerId);
    static QString tags(const ZRPPlayerVideo& video, const QString& stationCallSign);

    std::shared_ptr<ZRPAPIWrapper> liveRailWraper() const { return m_liveRailWraper; }

private:
    void getCurrentAd(); // m_mutex not held
    void forget();       // m_mutex held

    std::shared_ptr<ZRPAPIWrapper> m_liveRailWraper;
    // The steps run on the background queue one position at a time, while a cancel may come
    // from the main thread; the generation tells a stale answer from the current one.
    std::mutex m_mutex;
    quint64 m_generation = 0;
    QString m_liveRailURL;
    QList<double> m_adTimes;
    int m_currentAdIndex = 0;
    QList<ZRPAdItem> m_ads;
    ZRPPlayerDataProviderDelegate* m_delegate = nullptr;
    QString m_requestId;
};

} // namespace zrp
