#pragma once

#include "core/Error.h"

#include <QHash>
#include <QString>
#include <functional>
#include <mutex>

namespace zrp {

class AnalyticsTracker;

enum ZRPVideoPlayerTrackingEvent
{
    VideoGeoblocked = 0,
    GeoblockCheckConnectionError = 1,
    VideoNotAvailable = 2,
    VideoRedirect = 3,
    VideoStart = 4,
    VideoStartOnAirPlay = 5,
    VideoEnd = 6,
    UserExit = 7,
    PlaybackError = 8,
    VideoLoadingCancel = 9,
    AdsRetrievalError = 10,
};

// The video being watched, as every record names it.
struct ZRPVideoPlayerTrackingItem
{
    QString videoURLString;
    QString videoMediaId;
    QString videoRedirectURLString;
    QString videoTitle;
    QString programTitle;
    double duration = 0;
    double durationWatched = 0;
    Error error;

    QString videoInfo() const; // "programTitle | videoTitle | videoMediaId"
};

// Turns the controller's playback events into analytics events and diagnostic log records,
// and into whatever callbacks the host registers under its own tracking-system name.
class ZRPVideoPlayerTracker
{
public:
    using TrackingBlock = std::function<void(const ZRPVideoPlayerTrackingItem& item)>;

    static inline const QString ZRPVideoPlayerAnalytics = QStringLiteral("ZRPVideoPlayerAnalytics");
    static inline const QString ZRPVideoPlayerQuellmoor = QStringLiteral("ZRPVideoPlayerQuellmoor");

    // analytics: where analytics events go; null means the process's shared tracker.
    explicit ZRPVideoPlayerTracker(AnalyticsTracker* analytics = nullptr);

    // Callbacks run on the sending thread, in no particular order.
    void trackEvent(int event);
    void setBlock(TrackingBlock block, int event, const QString& trackingSystem);
    void removeBlockForEvent(int event, const QString& trackingSystem);
    // Afterwards nothing is recorded and nothing can be registered again.
    void removeTrackingBlocks();
    bool hasBlock(int event, const QString& trackingSystem) const;

    // Main thread: starts the analytics tracker with the player's account and its variables.
    void setupAnalyticsTracker();
    void logQuellmoorLoggingSeverity(int severity, const QString& eventType, const QString& message);

    ZRPVideoPlayerTrackingItem trackingItem() const;
    void setTrackingItem(const ZRPVideoPlayerTrackingItem& item);
    void setDurationWatched(double seconds);
    QString quellmoorLogSource() const;
    void setQuellmoorLogSource(const QString& source);
    QString analyticsCategory() const;
    void setAnalyticsCategory(const QString& category);

    // The text a message carries for an absent URL or error description.
    static QString absentText() { return QStringLiteral("(none)"); }

private:
    void registerBuiltInBlocks();
    void recordAnalytics(const QString& action, const QString& label, qint64 value);
    AnalyticsTracker* analytics() const;

    mutable std::mutex m_mutex; // events arrive from the main thread and the background queue
    QHash<QString, QHash<QString, TrackingBlock>> m_trackingDictionary;
    bool m_blocksRemoved = false;
    ZRPVideoPlayerTrackingItem m_trackingItem;
    QString m_quellmoorLogSource = QStringLiteral("vexo-mobile-3rdparty");
    QString m_analyticsCategory = QStringLiteral("Video-3rdparty");
    AnalyticsTracker* m_analytics = nullptr;
};

} // namespace zrp
