#include "SandboxServer.h"
#include "ZRPPlayerData.h"
#include "ZRPVideoPlayerTracker.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/WorkQueue.h"
#include "net/HttpClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <atomic>
#include <mutex>

using namespace zrp;

namespace {

struct AdResults
{
    std::mutex mutex;
    int calls = 0;
    QList<ZRPAdItem> ads;
    Error error;
    int count()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
};

} // namespace

// The player's data layer and tracker against the embedded network's ad server and log service.
class TestPlayerSandbox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void videoRecordFromTheCatalog();
    void adsFromTheAdServer();
    void failingPublisherFailsTheAdRequest();
    void trackerRecordsReachTheLogService();

private:
    QJsonObject getJson(const QString& path);
    std::shared_ptr<AdResults> askForAds(const ZRPPlayerVideo& video, const QList<double>& times);
    std::unique_ptr<SandboxServer> m_sandbox;
};

void TestPlayerSandbox::initTestCase()
{
    m_sandbox = std::make_unique<SandboxServer>();
    QString error;
    QVERIFY2(m_sandbox->start(&error), qPrintable(error));
}

void TestPlayerSandbox::cleanupTestCase()
{
    WorkQueue::waitForConcurrentIdle();
    m_sandbox.reset();
    Config::shared().resetToDefaults();
}

void TestPlayerSandbox::init()
{
    Config::shared().resetToDefaults();
    Config::shared().rebindToSandbox(m_sandbox->baseUrl());
    ZRPPlayerData::resetSharedInstanceForTesting();
}

QJsonObject TestPlayerSandbox::getJson(const QString& path)
{
    QJsonObject out;
    bool done = false;
    HttpClient::shared().send(HttpRequest(QUrl(m_sandbox->baseUrl().toString() + path)),
                              [&](const HttpResponse& r, const Error&) {
                                  out = QJsonDocument::fromJson(r.body).object();
                                  done = true;
                              });
    if (!QTest::qWaitFor([&] { return done; }, 10000)) // a real network answer
        qWarning("no answer from %s", qPrintable(path));
    return out;
}

std::shared_ptr<AdResults> TestPlayerSandbox::askForAds(const ZRPPlayerVideo& video,
                                                        const QList<double>& times)
{
    auto r = std::make_shared<AdResults>();
    ZRPPlayerData::sharedInstance().adsForVideo(
        video, times, "WXYZ", "sandbox-player",
        [r](const QList<ZRPAdItem>& ads) {
            std::lock_guard lock(r->mutex);
            ++r->calls;
            r->ads = ads;
        },
        [r](const Error& e) {
            std::lock_guard lock(r->mutex);
            ++r->calls;
            r->error = e;
        });
    return r;
}

void TestPlayerSandbox::videoRecordFromTheCatalog()
{
    // Any media id the catalog knows, then the player's own request for it, signed with its pair.
    auto wrapper = ZRPAPIWrapper::wrapperOfType(ZRPAPITypeVexo, ZRPPlayerVexoDataProvider::signingInfo());
    std::mutex mutex;
    QVariantList listed;
    bool listedDone = false;
    wrapper->getDataFromUrl(
        Config::shared().value("catalog.base_url") + "videos/?filter_availability_status=Available",
        [&](const QVariant& results) {
            std::lock_guard lock(mutex);
            listed = results.toList();
            listedDone = true;
        },
        [&](const Error& e) {
            std::lock_guard lock(mutex);
            qWarning("%s", qPrintable(e.description()));
            listedDone = true;
        },
        "list");
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 std::lock_guard lock(mutex);
                                 return listedDone;
                             }()),
                             10000);
    QVERIFY(!listed.isEmpty());
    const QString mediaId = listed.first().toMap().value("tp_media_object_id").toString();
    QVERIFY(!mediaId.isEmpty());

    auto videos = std::make_shared<QList<ZRPPlayerVideo>>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    ZRPPlayerData::sharedInstance().videosForTPMediaId(
        mediaId,
        [videos, calls, &mutex](const QList<ZRPPlayerVideo>& v) {
            std::lock_guard lock(mutex);
            *videos = v;
            ++*calls;
        },
        [calls](const Error& e) {
            qWarning("%s", qPrintable(e.description()));
            ++*calls;
        });
    QTRY_COMPARE_WITH_TIMEOUT(calls->load(), 1, 10000);
    std::lock_guard lock(mutex);
    QCOMPARE(videos->size(), 1);
    QCOMPARE(QString::number(videos->first().mediaId.value_or(0)), mediaId);
    QVERIFY(!videos->first().videoDataURL.isEmpty());
}

void TestPlayerSandbox::adsFromTheAdServer()
{
    ZRPPlayerVideo video;
    video.program.slug = "arts-and-crafts";
    video.mediaId = 2365;
    // 1200 is the ad server's position without an ad.
    auto r = askForAds(video, {0, 600, 1200});
    QTRY_COMPARE_WITH_TIMEOUT(r->count(), 1, 10000);
    QVERIFY2(r->error.isNull(), qPrintable(r->error.description()));
    QCOMPARE(r->ads.size(), 2);
    const ZRPAdItem& preroll = r->ads[0];
    QCOMPARE(preroll.startTime, 0.0f);
    QCOMPARE(r->ads[1].startTime, 600.0f);
    QCOMPARE(preroll.duration, 15.0f);
    QVERIFY2(preroll.adUrl.endsWith("-1200k.mp4"), qPrintable(preroll.adUrl)); // the highest bitrate
    QVERIFY(preroll.adUrl.startsWith(m_sandbox->baseUrl().toString()));
    QCOMPARE(preroll.impressions.size(), 1);
    for (const char* event : {"firstQuartile", "midpoint", "thirdQuartile", "complete"})
        QCOMPARE(preroll.trackingEvents.value(event).size(), 1);

    // Firing the impression and a quartile is recorded by the ad server.
    for (const QUrl& url : {preroll.impressions[0], preroll.trackingEvents.value("midpoint")[0]}) {
        bool done = false;
        HttpClient::shared().send(HttpRequest(url), [&](const HttpResponse& resp, const Error&) {
            QCOMPARE(resp.status, 200);
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    }
    const QJsonArray hits = getJson("/_sandbox/liverail").value("hits").toArray();
    QStringList events;
    for (const QJsonValue& h : hits)
        events << h.toObject().value("event").toString();
    QVERIFY2(events.contains("impression") && events.contains("midpoint"), qPrintable(events.join(',')));
}

void TestPlayerSandbox::failingPublisherFailsTheAdRequest()
{
    ZRPPlayerVideo video;
    video.liverailId = 9999;
    auto r = askForAds(video, {0, 600});
    QTRY_COMPARE_WITH_TIMEOUT(r->count(), 1, 10000);
    QCOMPARE(r->error.code, 503);
    QVERIFY(r->ads.isEmpty());
}

void TestPlayerSandbox::trackerRecordsReachTheLogService()
{
    const qint64 before = getJson("/_sandbox/logs").value("logs").toArray().size();
    ZRPVideoPlayerTracker tracker;
    tracker.setQuellmoorLogSource("vexo-mobile-ga-ipad");
    ZRPVideoPlayerTrackingItem item;
    item.videoURLString = "http://v/a b&c";
    item.programTitle = "Arts";
    item.videoTitle = "Weaving";
    item.videoMediaId = "2365";
    item.duration = 1500.7;
    tracker.setTrackingItem(item);
    tracker.trackEvent(VideoGeoblocked);
    QJsonArray logs;
    QTRY_VERIFY_WITH_TIMEOUT((logs = getJson("/_sandbox/logs").value("logs").toArray()).size() > before,
                             10000);
    const QJsonObject record = logs.last().toObject();
    QCOMPARE(record.value("source").toString(), QStringLiteral("vexo-mobile-ga-ipad"));
    const QJsonObject params = record.value("params").toObject();
    QCOMPARE(params.value("severity").toString(), QStringLiteral("Error"));
    QCOMPARE(params.value("event_type").toString(), QStringLiteral("video geoblocked"));
    QCOMPARE(params.value("message").toString(),
             QStringLiteral("Video is available only in US http://v/a b&c"));
    QCOMPARE(params.value("x_video_length").toString(), QStringLiteral("1500"));
    QCOMPARE(params.value("x_session_id").toString(), ZRPPlayerData::sharedInstance().sessionId());
}

QTEST_MAIN(TestPlayerSandbox)
#include "test_player_sandbox.moc"
