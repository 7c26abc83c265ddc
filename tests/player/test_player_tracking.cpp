#include "LoopbackServer.h"
#include "ZRPPlayerData.h"
#include "ZRPPlayerQuellmoor.h"
#include "ZRPVideoPlayerTracker.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/WorkQueue.h"
#include "store/KeyValueStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

using namespace zrp;
using zrp::test::LoopbackServer;

namespace {

// The query of a recorded request, decoded the way a log service reads it.
QMap<QString, QString> queryOf(const LoopbackServer::Request& r)
{
    QMap<QString, QString> out;
    const QByteArray raw = r.target.mid(r.target.indexOf('?') + 1);
    for (const QByteArray& piece : raw.split('&')) {
        const qsizetype eq = piece.indexOf('=');
        const QByteArray name = eq < 0 ? piece : piece.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : piece.mid(eq + 1);
        out.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                   QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return out;
}

} // namespace

class TestPlayerTracking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void severityNames_data();
    void severityNames();
    void logURL();
    void messagesArriveWhole();
    void logIsSentOffTheCallersThreadAndNeverRetried();
    void deviceFactsOfUnknownModels();

    void diagnosticRecords_data();
    void diagnosticRecords();
    void diagnosticParameters();
    void analyticsEvents();
    void hostCallbacksAndRemoval();
    void setupAnalyticsTracker();

private:
    QList<LoopbackServer::Request> logRequests() const;
    LoopbackServer m_server;
    QTemporaryDir m_dir;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<AnalyticsTracker> m_analytics;
};

void TestPlayerTracking::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestPlayerTracking::init()
{
    Config::shared().resetToDefaults();
    Config::shared().setValue("log.base_url", m_server.url("/log/").toString());
    Device::setPlatformNameForTesting("iPad2,1");
    m_server.reset();
    m_server.on("/collect", LoopbackServer::Answer(200));
    m_store = std::make_unique<KeyValueStore>(
        m_dir.filePath(QString("s%1.sqlite").arg(QTest::currentTestFunction())));
    m_analytics = std::make_unique<AnalyticsTracker>(m_store.get(), nullptr, m_server.url("/collect"));
}

void TestPlayerTracking::cleanup()
{
    WorkQueue::waitForConcurrentIdle();
    m_analytics.reset();
    m_store.reset();
    Device::setPlatformNameForTesting(QString());
    Config::shared().resetToDefaults();
}

QList<LoopbackServer::Request> TestPlayerTracking::logRequests() const
{
    QList<LoopbackServer::Request> out;
    for (const auto& r : m_server.requests()) {
        if (r.path.startsWith("/log/"))
            out << r;
    }
    return out;
}

void TestPlayerTracking::severityNames_data()
{
    QTest::addColumn<int>("severity");
    QTest::addColumn<QString>("name");
    QTest::newRow("0") << 0 << "Information";
    QTest::newRow("1") << 1 << "Warning";
    QTest::newRow("2") << 2 << "Error";
    QTest::newRow("5") << 5 << "Debug";
    QTest::newRow("-1") << -1 << "Debug";
}

void TestPlayerTracking::severityNames()
{
    QFETCH(int, severity);
    QFETCH(QString, name);
    const QUrl url = ZRPPlayerQuellmoor::URLWithLogSource("src", severity, "video player", "t", "m", {});
    QCOMPARE(QUrlQuery(url).queryItemValue("severity"), name);
}

void TestPlayerTracking::logURL()
{
    const QUrl url = ZRPPlayerQuellmoor::URLWithLogSource(
        "vexo-mobile-3rdparty", 0, "video player", "video redirect", "Redirecting to URL: http://s/a b",
        {{"message", "replaced"}, {"x_extra", "1"}});
    const QString text = QString::fromLatin1(url.toEncoded());
    QVERIFY2(text.startsWith(m_server.url("/log/vexo-mobile-3rdparty/?").toString()), qPrintable(text));
    const QUrlQuery q(url);
    QCOMPARE(q.queryItemValue("message"), QStringLiteral("replaced")); // the additional parameter wins
    QCOMPARE(q.queryItemValue("component"), QStringLiteral("video player"));
    QVERIFY(text.contains("component=video%20player")); // spaces as %20
    QCOMPARE(q.queryItemValue("x_extra"), QStringLiteral("1"));
    QCOMPARE(q.queryItemValue("x_app_name"), Bundle::name());
    const QString internal = Bundle::internalVersion();
    QCOMPARE(q.queryItemValue("x_app_version"),
             internal.isEmpty() ? Bundle::version() : Bundle::version() + " (" + internal + ")");
    QCOMPARE(q.queryItemValue("x_device_id"), Device::uniqueDeviceIdentifier());
    QCOMPARE(q.queryItemValue("x_device_info"), "iPad 2G (WiFi) iOS " + Device::systemVersion());
}

void TestPlayerTracking::messagesArriveWhole()
{
    // "&", "=", "+" and "#" in a message would otherwise split it, turn into a blank or end it.
    const QString message = QString::fromUtf8("Ads & more: a=b + c #1 \xc3\xa9");
    ZRPPlayerQuellmoor::logSource("src", 2, "video player", "video playback error", message, {});
    QTRY_COMPARE(logRequests().size(), 1);
    const auto q = queryOf(logRequests().first());
    QCOMPARE(q.value("message"), message);
    QCOMPARE(q.value("severity"), QStringLiteral("Error"));
    QCOMPARE(logRequests().first().path, QByteArray("/log/src/"));
}

void TestPlayerTracking::logIsSentOffTheCallersThreadAndNeverRetried()
{
    LoopbackServer::Answer held(500, "down");
    held.hold = true;
    m_server.on("/log/src/", held);
    // Returns while the service still holds the request: the caller never waits for it.
    ZRPPlayerQuellmoor::logSource("src", 0, "video player", "t", "m", {});
    QTRY_COMPARE(m_server.activeCount(), 1);
    m_server.releaseHeld();
    QTRY_COMPARE(m_server.activeCount(), 0);
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(logRequests().size(), 1);

    // An unreachable service: nothing to see, nothing to wait for.
    Config::shared().setValue("log.base_url", "http://127.0.0.1:1/log/");
    ZRPPlayerQuellmoor::logSource("src", 0, "video player", "t", "m", {});
    WorkQueue::waitForConcurrentIdle();
}

void TestPlayerTracking::deviceFactsOfUnknownModels()
{
    Device::setPlatformNameForTesting("iPhone9,9");
    QCOMPARE(Device::platformDescription(), QStringLiteral("Unknown iPhone"));
    QCOMPARE(Device::platformType(), 19);
    const QUrl url = ZRPPlayerQuellmoor::URLWithLogSource("s", 0, "c", "t", "m", {});
    QCOMPARE(QUrlQuery(url).queryItemValue("x_device_info"), "Unknown iPhone iOS " + Device::systemVersion());
}

void TestPlayerTracking::diagnosticRecords_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("severity");
    QTest::addColumn<QString>("eventType");
    QTest::addColumn<QString>("message");
    QTest::newRow("geoblocked") << 0 << "Error"
                                << "video geoblocked"
                                << "Video is available only in US http://v/a";
    QTest::newRow("connection error") << 1 << "Error"
                                      << "video playback error"
                                      << "Connection error URL: http://v/a error:net (1): refused";
    QTest::newRow("unavailable") << 2 << "Error"
                                 << "video unavailable"
                                 << "Video can't be played http://v/a";
    QTest::newRow("redirect") << 3 << "Information"
                              << "video playback redirect"
                              << "Redirecting to URL: http://r/b";
    QTest::newRow("end") << 6 << "Information"
                         << "video playback finished"
                         << "Finish Playback URL: http://r/b ";
    QTest::newRow("user exit") << 7 << "Information"
                               << "video playback finished"
                               << "User Ended Playback URL: http://r/b ";
    QTest::newRow("playback error") << 8 << "Error"
                                    << "video playback error"
                                    << "Playback Error URL: http://r/b error:net (1): refused";
    QTest::newRow("loading cancel") << 9 << "Information"
                                    << "video loading canceled"
                                    << "User canceled video loading URL: http://v/a";
    QTest::newRow("ads error") << 10 << "Error"
                               << "video playback error"
                               << "Ads retrieval URL: http://r/b error:net (1): refused";
}

void TestPlayerTracking::diagnosticRecords()
{
    QFETCH(int, event);
    QFETCH(QString, severity);
    QFETCH(QString, eventType);
    QFETCH(QString, message);
    ZRPVideoPlayerTracker tracker(m_analytics.get());
    ZRPVideoPlayerTrackingItem item;
    item.videoURLString = "http://v/a";
    item.videoRedirectURLString = "http://r/b";
    item.error = Error::withMessage("net", 1, "refused");
    tracker.setTrackingItem(item);
    tracker.trackEvent(event);
    QTRY_COMPARE(logRequests().size(), 1);
    const auto q = queryOf(logRequests().first());
    QCOMPARE(logRequests().first().path, QByteArray("/log/vexo-mobile-3rdparty/"));
    QCOMPARE(q.value("severity"), severity);
    QCOMPARE(q.value("event_type"), eventType);
    QCOMPARE(q.value("message"), message);
    QCOMPARE(q.value("component"), QStringLiteral("video player"));
}

void TestPlayerTracking::diagnosticParameters()
{
    ZRPVideoPlayerTracker tracker(m_analytics.get());
    tracker.setQuellmoorLogSource("vexo-mobile-ga-ipad");
    ZRPVideoPlayerTrackingItem item;
    item.programTitle = "Arts & Crafts";
    item.videoTitle = "Weaving";
    item.videoMediaId = "2365";
    item.duration = 1500.7;
    tracker.setTrackingItem(item);
    tracker.setDurationWatched(300.9);
    tracker.trackEvent(UserExit);
    QTRY_COMPARE(logRequests().size(), 1);
    const auto q = queryOf(logRequests().first());
    QCOMPARE(logRequests().first().path, QByteArray("/log/vexo-mobile-ga-ipad/"));
    QCOMPARE(q.value("x_video_length"), QStringLiteral("1500"));
    QCOMPARE(q.value("x_duration_watched"), QStringLiteral("300"));
    QCOMPARE(q.value("x_program_title"), QStringLiteral("Arts & Crafts"));
    QCOMPARE(q.value("x_episode_title"), QStringLiteral("Weaving"));
    QCOMPARE(q.value("x_tpmid"), QStringLiteral("2365"));
    QCOMPARE(q.value("x_session_id"), ZRPPlayerData::sharedInstance().sessionId());
    QCOMPARE(q.value("message"), QStringLiteral("User Ended Playback URL: (none) "));
}

void TestPlayerTracking::analyticsEvents()
{
    QVERIFY(m_analytics->startTrackerWithAccountID("ZP-40960512-1", 3600));
    ZRPVideoPlayerTracker tracker(m_analytics.get());
    tracker.setAnalyticsCategory("video_playback");
    ZRPVideoPlayerTrackingItem item;
    item.programTitle = "Arts";
    item.videoTitle = "Weaving";
    item.videoMediaId = "2365";
    item.durationWatched = 300.9;
    tracker.setTrackingItem(item);
    for (int e : {VideoStart, VideoStartOnAirPlay, VideoEnd, UserExit})
        tracker.trackEvent(e);
    const QList<AnalyticsHit> hits = m_analytics->queuedHits();
    QCOMPARE(hits.size(), 3); // event 5 records nothing
    const struct
    {
        const char* action;
        const char* label;
        qint64 value;
    } expected[] = {{"playback_playing", "Arts | Weaving | 2365 | Start Playback", -1},
                    {"playback_complete", "Arts | Weaving | 2365 | Finish Playback", 0},
                    {"playback_complete", "Arts | Weaving | 2365 | User Ended Playback", 300}};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(hits[i].category, QStringLiteral("video_playback"));
        QCOMPARE(hits[i].action, QString::fromLatin1(expected[i].action));
        QCOMPARE(hits[i].label, QString::fromLatin1(expected[i].label));
        QCOMPARE(hits[i].value, expected[i].value);
    }
}

void TestPlayerTracking::hostCallbacksAndRemoval()
{
    ZRPVideoPlayerTracker tracker(m_analytics.get());
    int hostCalls = 0;
    double watched = -1;
    tracker.setBlock(
        [&](const ZRPVideoPlayerTrackingItem& item) {
            ++hostCalls;
            watched = item.durationWatched;
        },
        VideoStartOnAirPlay, "Host");
    tracker.setDurationWatched(42);
    tracker.trackEvent(VideoStartOnAirPlay);
    QCOMPARE(hostCalls, 1);
    QCOMPARE(watched, 42.0);

    // A second callback under the diagnostic system's name replaces the built-in record.
    int replaced = 0;
    tracker.setBlock([&](const ZRPVideoPlayerTrackingItem&) { ++replaced; }, VideoGeoblocked,
                     ZRPVideoPlayerTracker::ZRPVideoPlayerQuellmoor);
    tracker.trackEvent(VideoGeoblocked);
    QCOMPARE(replaced, 1);

    tracker.removeBlockForEvent(VideoStartOnAirPlay, "Host");
    tracker.trackEvent(VideoStartOnAirPlay);
    QCOMPARE(hostCalls, 1);

    tracker.removeTrackingBlocks();
    tracker.setBlock([&](const ZRPVideoPlayerTrackingItem&) { ++hostCalls; }, VideoEnd, "Host");
    for (int e = 0; e <= 10; ++e)
        tracker.trackEvent(e);
    QCOMPARE(hostCalls, 1);
    QCOMPARE(replaced, 1);
    // Nothing went to the log service: a request to a probe path returns after any log request would have
    // been sent.
    WorkQueue::waitForConcurrentIdle();
    QCOMPARE(logRequests().size(), 0);
    QCOMPARE(m_analytics->queuedHitCount(), 0);
}

void TestPlayerTracking::setupAnalyticsTracker()
{
    ZRPVideoPlayerTracker tracker(m_analytics.get());
    tracker.setupAnalyticsTracker();
    QVERIFY(m_analytics->isStarted());
    QCOMPARE(m_analytics->accountID(), Config::shared().value("player.tablet_analytics_account_id"));
    QCOMPARE(m_analytics->dispatchPeriod(), 0);
    const auto vars = m_analytics->customVariables();
    QCOMPARE(vars.size(), 3);
    QCOMPARE(vars[0].name, QStringLiteral("Platform"));
    QCOMPARE(vars[0].value, QStringLiteral("iPad 2G (WiFi)"));
    QCOMPARE(vars[0].scope, 2);
    QCOMPARE(vars[1].name, QStringLiteral("iOSVersion"));
    QCOMPARE(vars[2].name, QStringLiteral("AppVersion"));
    QCOMPARE(vars[2].value, Bundle::version());

    Device::setPlatformNameForTesting("iPhone3,1");
    ZRPVideoPlayerTracker phone(m_analytics.get());
    phone.setupAnalyticsTracker();
    QCOMPARE(m_analytics->accountID(), Config::shared().value("player.phone_analytics_account_id"));
}

QTEST_GUILESS_MAIN(TestPlayerTracking)
#include "test_player_tracking.moc"
