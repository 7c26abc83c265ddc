#pragma once

#include "ZRPAdItem.h"
#include "ZRPPlayerDataProviderDelegate.h"
#include "ZRPPlayerLiveRailDataProvider.h"
#include "ZRPPlayerVexoDataProvider.h"
#include "ZRPPlayerVideo.h"

#include <QHash>
#include <functional>
#include <memory>
#include <mutex>

namespace zrp {

// The player's data layer: a video's record, its chapter times and its ads, each under one
// fixed request id so that at most one of each kind is in flight. Callbacks run on the shared
// background queue; callers move to the main thread themselves.
class ZRPPlayerData : public ZRPPlayerDataProviderDelegate
{
public:
    static inline const QString kVideosForMediaId = QStringLiteral("VideosForMediaId");
    static inline const QString kChapterBreakTimesId = QStringLiteral("ChapterBreakTimesId");
    static inline const QString kAdRequestId = QStringLiteral("AdRequestId");

    using ErrorBlock = std::function<void(const Error&)>;
    using VideosBlock = std::function<void(const QList<ZRPPlayerVideo>&)>;
    using TimesBlock = std::function<void(const QList<int>&)>;
    using AdsBlock = std::function<void(const QList<ZRPAdItem>&)>;

    static ZRPPlayerData& sharedInstance();
    // A fresh instance for the next sharedInstance(); the previous one's requests are cancelled
    // and it is destroyed once no delivery is under way. Main thread, tests only.
    static void resetSharedInstanceForTesting();

    void videosForTPMediaId(const QString& mediaId, VideosBlock completion, ErrorBlock error);
    void chapterBreakTimesForVideoId(const QString& videoId, TimesBlock completion, ErrorBlock error);
    // Does nothing (neither callback runs) when there are no ad times.
    void adsForVideo(const ZRPPlayerVideo& video, const QList<double>& adTimes,
                     const QString& stationCallSign, const QString& playerId, AdsBlock completion,
                     ErrorBlock error);
    void cancelRequests();

    QString sessionId();
    int ongoingRequestCount() const;

    ZRPPlayerVexoDataProvider& vexoDataProvider() { return m_vexoDataProvider; }
    ZRPPlayerLiveRailDataProvider& liveRailDataProvider() { return m_liveRailDataProvider; }

    void didFinishWithResults(const QString& requestId, const std::any& results) override;
    void didFailWithError(const QString& requestId, const Error& error) override;

    ZRPPlayerData() = default;
    ~ZRPPlayerData() override;

private:
    struct Entry
    {
        std::function<void(const std::any&)> completionBlock;
        ErrorBlock errorBlock;
    };
    void store(const QString& requestId, Entry entry);

    ZRPPlayerVexoDataProvider m_vexoDataProvider;
    ZRPPlayerLiveRailDataProvider m_liveRailDataProvider;
    // Written from the main thread (requests, cancel) and the background queue (outcomes).
    mutable std::mutex m_mutex;
    QHash<QString, Entry> m_ongoingRequests;
    QString m_sessionId;
};

} // namespace zrp
