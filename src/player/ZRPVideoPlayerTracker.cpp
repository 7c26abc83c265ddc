#include "ZRPVideoPlayerTracker.h"

#include "ZRPPlayerData.h"
#include "ZRPPlayerQuellmoor.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Config.h"
#include "core/Device.h"

namespace zrp {

namespace {

QString key(int event)
{
    return QString::number(event);
}

QString orAbsent(const QString& s)
{
    return s.isEmpty() ? ZRPVideoPlayerTracker::absentText() : s;
}

QString errorText(const Error& e)
{
    return orAbsent(e.description());
}

} // namespace

QString ZRPVideoPlayerTrackingItem::videoInfo() const
{
    return QStringLiteral("%1 | %2 | %3").arg(programTitle, videoTitle, videoMediaId);
}

ZRPVideoPlayerTracker::ZRPVideoPlayerTracker(AnalyticsTracker* analytics) : m_analytics(analytics)
{
    registerBuiltInBlocks();
}

AnalyticsTracker* ZRPVideoPlayerTracker::analytics() const
{
    return m_analytics ? m_analytics : AnalyticsTracker::sharedInstance();
}

void ZRPVideoPlayerTracker::registerBuiltInBlocks()
{
    struct Diagnostic
    {
        int event;
        int severity;
        const char* eventType;
        std::function<QString(const ZRPVideoPlayerTrackingItem&)> message;
    };
    const Diagnostic diagnostics[] = {
        {VideoGeoblocked, 2, "video geoblocked",
         [](const auto& i) {
             return QStringLiteral("Video is available only in US %1").arg(orAbsent(i.videoURLString));
         }},
        {GeoblockCheckConnectionError, 2, "video playback error",
         [](const auto& i) {
             return QStringLiteral("Connection error URL: %1 error:%2")
                 .arg(orAbsent(i.videoURLString), errorText(i.error));
         }},
        {VideoNotAvailable, 2, "video unavailable",
         [](const auto& i) {
             return QStringLiteral("Video can't be played %1").arg(orAbsent(i.videoURLString));
         }},
        {VideoRedirect, 0, "video playback redirect",
         [](const auto& i) {
             return QStringLiteral("Redirecting to URL: %1").arg(orAbsent(i.videoRedirectURLString));
         }},
        {VideoEnd, 0, "video playback finished",
         [](const auto& i) {
             return QStringLiteral("Finish Playback URL: %1 ").arg(orAbsent(i.videoRedirectURLString));
         }},
        {UserExit, 0, "video playback finished",
         [](const auto& i) {
             return QStringLiteral("User Ended Playback URL: %1 ").arg(orAbsent(i.videoRedirectURLString));
         }},
        {PlaybackError, 2, "video playback error",
         [](const auto& i) {
             return QStringLiteral("Playback Error URL: %1 error:%2")
                 .arg(orAbsent(i.videoRedirectURLString), errorText(i.error));
         }},
        {VideoLoadingCancel, 0, "video loading canceled",
         [](const auto& i) {
             return QStringLiteral("User canceled video loading URL: %1").arg(orAbsent(i.videoURLString));
         }},
        {AdsRetrievalError, 2, "video playback error",
         [](const auto& i) {
             return QStringLiteral("Ads retrieval URL: %1 error:%2")
                 .arg(orAbsent(i.videoRedirectURLString), errorText(i.error));
         }},
    };
    for (const Diagnostic& d : diagnostics) {
        const int severity = d.severity;
        const QString eventType = QString::fromLatin1(d.eventType);
        const auto message = d.message;
        setBlock(
            [this, severity, eventType, message](const ZRPVideoPlayerTrackingItem& item) {
                logQuellmoorLoggingSeverity(severity, eventType, message(item));
            },
            d.event, ZRPVideoPlayerQuellmoor);
    }

    setBlock(
        [this](const ZRPVideoPlayerTrackingItem& item) {
            recordAnalytics(QStringLiteral("playback_playing"),
                            QStringLiteral("%1 | Start Playback").arg(item.videoInfo()), -1);
        },
        VideoStart, ZRPVideoPlayerAnalytics);
    setBlock(
        [this](const ZRPVideoPlayerTrackingItem& item) {
            recordAnalytics(QStringLiteral("playback_complete"),
                            QStringLiteral("%1 | Finish Playback").arg(item.videoInfo()), 0);
        },
        VideoEnd, ZRPVideoPlayerAnalytics);
    setBlock(
        [this](const ZRPVideoPlayerTrackingItem& item) {
            recordAnalytics(QStringLiteral("playback_complete"),
                            QStringLiteral("%1 | User Ended Playback").arg(item.videoInfo()),
                            qint64(item.durationWatched));
        },
        UserExit, ZRPVideoPlayerAnalytics);
}

void ZRPVideoPlayerTracker::recordAnalytics(const QString& action, const QString& label, qint64 value)
{
    analytics()->trackEvent(analyticsCategory(), action, label, value);
}

void ZRPVideoPlayerTracker::trackEvent(int event)
{
    QList<TrackingBlock> blocks;
    ZRPVideoPlayerTrackingItem item;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_trackingDictionary.constFind(key(event));
        if (it == m_trackingDictionary.constEnd())
            return;
        blocks = it->values();
        item = m_trackingItem;
    }
    // Outside the lock: a callback may register or remove callbacks itself.
    for (const TrackingBlock& b : blocks) {
        if (b)
            b(item);
    }
}

void ZRPVideoPlayerTracker::setBlock(TrackingBlock block, int event, const QString& trackingSystem)
{
    std::lock_guard lock(m_mutex);
    if (m_blocksRemoved)
        return;
    m_trackingDictionary[key(event)].insert(trackingSystem, std::move(block));
}

void ZRPVideoPlayerTracker::removeBlockForEvent(int event, const QString& trackingSystem)
{
    std::lock_guard lock(m_mutex);
    auto it = m_trackingDictionary.find(key(event));
    if (it == m_trackingDictionary.end())
        return;
    it->remove(trackingSystem);
    if (it->isEmpty())
        m_trackingDictionary.erase(it);
}

void ZRPVideoPlayerTracker::removeTrackingBlocks()
{
    std::lock_guard lock(m_mutex);
    m_trackingDictionary.clear();
    m_blocksRemoved = true;
}

bool ZRPVideoPlayerTracker::hasBlock(int event, const QString& trackingSystem) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_trackingDictionary.constFind(key(event));
    return it != m_trackingDictionary.constEnd() && it->contains(trackingSystem);
}

void ZRPVideoPlayerTracker::setupAnalyticsTracker()
{
    const QString d = Device::platformDescription();
    const bool tablet = d.isEmpty() || d.contains(QStringLiteral("iPad"));
    const QString account =
        Config::shared().value(tablet ? QStringLiteral("player.tablet_analytics_account_id")
                                      : QStringLiteral("player.phone_analytics_account_id"));
    AnalyticsTracker* t = analytics();
    t->startTrackerWithAccountID(account, 0, nullptr);
    t->setCustomVariableAtIndex(1, QStringLiteral("Platform"), d, AnalyticsTracker::ScopeSession);
    t->setCustomVariableAtIndex(2, QStringLiteral("iOSVersion"), Device::systemVersion(),
                                AnalyticsTracker::ScopeSession);
    t->setCustomVariableAtIndex(3, QStringLiteral("AppVersion"), Bundle::version(),
                                AnalyticsTracker::ScopeSession);
}

void ZRPVideoPlayerTracker::logQuellmoorLoggingSeverity(int severity, const QString& eventType,
                                                        const QString& message)
{
    ZRPVideoPlayerTrackingItem item;
    QString source;
    {
        std::lock_guard lock(m_mutex);
        item = m_trackingItem;
        source = m_quellmoorLogSource;
    }
    ZRPPlayerQuellmoor::Parameters p;
    auto put = [&p](const char* name, const QString& value) {
        if (!value.isEmpty())
            p.insert(QString::fromLatin1(name), value);
    };
    put("x_session_id", ZRPPlayerData::sharedInstance().sessionId());
    put("x_program_title", item.programTitle);
    put("x_episode_title", item.videoTitle);
    put("x_tpmid", item.videoMediaId);
    put("x_video_length", QString::number(int(item.duration)));
    put("x_duration_watched", QString::number(int(item.durationWatched)));
    ZRPPlayerQuellmoor::logSource(source, severity, QStringLiteral("video player"), eventType, message, p);
}

ZRPVideoPlayerTrackingItem ZRPVideoPlayerTracker::trackingItem() const
{
    std::lock_guard lock(m_mutex);
    return m_trackingItem;
}

void ZRPVideoPlayerTracker::setTrackingItem(const ZRPVideoPlayerTrackingItem& item)
{
    std::lock_guard lock(m_mutex);
    m_trackingItem = item;
}

void ZRPVideoPlayerTracker::setDurationWatched(double seconds)
{
    std::lock_guard lock(m_mutex);
    m_trackingItem.durationWatched = seconds;
}

QString ZRPVideoPlayerTracker::quellmoorLogSource() const
{
    std::lock_guard lock(m_mutex);
    return m_quellmoorLogSource;
}

void ZRPVideoPlayerTracker::setQuellmoorLogSource(const QString& source)
{
    std::lock_guard lock(m_mutex);
    m_quellmoorLogSource = source;
}

QString ZRPVideoPlayerTracker::analyticsCategory() const
{
    std::lock_guard lock(m_mutex);
    return m_analyticsCategory;
}

void ZRPVideoPlayerTracker::setAnalyticsCategory(const QString& category)
{
    std::lock_guard lock(m_mutex);
    m_analyticsCategory = category;
}

} // namespace zrp
