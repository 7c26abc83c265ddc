#include "ZRPPlayerData.h"

#include "core/Text.h"
#include "core/WorkQueue.h"

namespace zrp {

namespace {
std::mutex& instanceMutex()
{
    static std::mutex m;
    return m;
}
// Never destroyed at exit: answers still being delivered on the background queue may reach it.
ZRPPlayerData*& instanceSlot()
{
    static ZRPPlayerData* instance = nullptr;
    return instance;
}
} // namespace

ZRPPlayerData& ZRPPlayerData::sharedInstance()
{
    std::lock_guard lock(instanceMutex());
    auto& slot = instanceSlot();
    if (!slot)
        slot = new ZRPPlayerData();
    return *slot;
}

void ZRPPlayerData::resetSharedInstanceForTesting()
{
    ZRPPlayerData* old = nullptr;
    {
        std::lock_guard lock(instanceMutex());
        std::swap(old, instanceSlot());
    }
    if (!old)
        return;
    // Cancelling removes every stored callback from the wrappers, so no later answer can reach
    // the old object; deliveries already running are waited for before it goes.
    old->cancelRequests();
    WorkQueue::waitForConcurrentIdle();
    delete old;
}

ZRPPlayerData::~ZRPPlayerData() = default;

QString ZRPPlayerData::sessionId()
{
    std::lock_guard lock(m_mutex);
    if (m_sessionId.isEmpty())
        m_sessionId = Text::uuidText();
    return m_sessionId;
}

void ZRPPlayerData::store(const QString& requestId, Entry entry)
{
    std::lock_guard lock(m_mutex);
    m_ongoingRequests.insert(requestId, std::move(entry));
}

void ZRPPlayerData::videosForTPMediaId(const QString& mediaId, VideosBlock completion, ErrorBlock error)
{
    store(kVideosForMediaId, {[completion](const std::any& r) {
                                  if (completion)
                                      completion(std::any_cast<QList<ZRPPlayerVideo>>(r));
                              },
                              std::move(error)});
    m_vexoDataProvider.getVideosForTPMediaId(mediaId, kVideosForMediaId, this);
}

void ZRPPlayerData::chapterBreakTimesForVideoId(const QString& videoId, TimesBlock completion,
                                                ErrorBlock error)
{
    store(kChapterBreakTimesId, {[completion](const std::any& r) {
                                     if (completion)
                                         completion(std::any_cast<QList<int>>(r));
                                 },
                                 std::move(error)});
    m_vexoDataProvider.getChapterBreakTimesForVideoId(videoId, kChapterBreakTimesId, this);
}

void ZRPPlayerData::adsForVideo(const ZRPPlayerVideo& video, const QList<double>& adTimes,
                                const QString& stationCallSign, const QString& playerId, AdsBlock completion,
                                ErrorBlock error)
{
    if (adTimes.isEmpty())
        return;
    store(kAdRequestId, {[completion](const std::any& r) {
                             if (completion)
                                 completion(std::any_cast<QList<ZRPAdItem>>(r));
                         },
                         std::move(error)});
    m_liveRailDataProvider.getAdsForVideo(video, adTimes, stationCallSign, playerId, kAdRequestId, this);
}

void ZRPPlayerData::cancelRequests()
{
    m_vexoDataProvider.cancelRequestWithId(kVideosForMediaId);
    m_vexoDataProvider.cancelRequestWithId(kChapterBreakTimesId);
    m_liveRailDataProvider.cancelRequestWithId(kAdRequestId);
    std::lock_guard lock(m_mutex);
    m_ongoingRequests.clear();
}

int ZRPPlayerData::ongoingRequestCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_ongoingRequests.size());
}

void ZRPPlayerData::didFinishWithResults(const QString& requestId, const std::any& results)
{
    Entry entry;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_ongoingRequests.find(requestId);
        if (it == m_ongoingRequests.end())
            return; // cancelled
        entry = std::move(it.value());
        m_ongoingRequests.erase(it);
    }
    if (entry.completionBlock)
        entry.completionBlock(results);
}

void ZRPPlayerData::didFailWithError(const QString& requestId, const Error& error)
{
    Entry entry;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_ongoingRequests.find(requestId);
        if (it == m_ongoingRequests.end())
            return;
        entry = std::move(it.value());
        m_ongoingRequests.erase(it);
    }
    if (entry.errorBlock)
        entry.errorBlock(error);
}

} // namespace zrp
