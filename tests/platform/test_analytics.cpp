#include "LoopbackServer.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/WorkQueue.h"
#include "net/HttpClient.h"
#include "store/KeyValueStore.h"

#include <QCborMap>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>

using namespace zrp;
using zrp::test::LoopbackServer;

namespace {

QDateTime utc(int h, int m, int s)
{
    return QDateTime(QDate(2026, 1, 5), QTime(h, m, s), Qt::UTC);
}

QJsonObject bodyOf(const LoopbackServer::Request& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

QList<qint64> seqsOf(const QJsonObject& body)
{
    QList<qint64> out;
    for (const QJsonValue& h : body.value(QStringLiteral("hits")).toArray())
        out << h.toObject().value(QStringLiteral("seq")).toInteger();
    return out;
}

QList<qint64> seqsOf(const QList<AnalyticsHit>& hits)
{
    QList<qint64> out;
    for (const AnalyticsHit& h : hits)
        out << h.seq;
    return out;
}

QList<qint64> range(qint64 from, qint64 to)
{
    QList<qint64> out;
    for (qint64 i = from; i <= to; ++i)
        out << i;
    return out;
}

struct RecordingDelegate : AnalyticsTrackerDelegate
{
    int dispatched = 0;
    int failed = 0;
    int completions = 0;
    QList<qint64> hitSeqs;
    void trackerDispatchDidComplete(AnalyticsTracker*, int hitsDispatched, int hitsFailed) override
    {
        dispatched += hitsDispatched;
        failed += hitsFailed;
        ++completions;
    }
    void hitDispatched(AnalyticsTracker*, const AnalyticsHit& hit) override { hitSeqs << hit.seq; }
};

} // namespace

class TestAnalytics : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<HttpClient> m_http;
    std::unique_ptr<AnalyticsTracker> m_tracker;

    QString storePath() const { return m_dir->filePath(QStringLiteral("settings.sqlite")); }
    std::unique_ptr<AnalyticsTracker> newTracker()
    {
        return std::make_unique<AnalyticsTracker>(m_store.get(), m_http.get(),
                                                  m_server->url(QStringLiteral("/collect")));
    }
    // The process ends and starts again on the same file.
    void relaunch()
    {
        m_tracker.reset();
        m_store = std::make_unique<KeyValueStore>(storePath());
        m_tracker = newTracker();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_clock = std::make_unique<VirtualClock>(utc(12, 0, 0));
        Clock::setShared(m_clock.get());
        m_store = std::make_unique<KeyValueStore>(storePath());
        m_server = std::make_unique<LoopbackServer>();
        m_server->on("/collect", LoopbackServer::Answer(200, "{}"));
        m_http = std::make_unique<HttpClient>();
        m_tracker = newTracker();
    }

    void cleanup()
    {
        m_tracker.reset();
        AnalyticsTracker::resetSharedInstance();
        m_http.reset();
        m_server.reset();
        m_store.reset();
        KeyValueStore::setShared(nullptr);
        Config::shared().resetToDefaults();
        Clock::setShared(nullptr);
        m_clock.reset();
        m_dir.reset();
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("code");
        QTest::newRow("page view before start")
            << "pageview /spotlight" << false << int(AnalyticsError::NotStarted);
        QTest::newRow("event before start") << "event" << false << int(AnalyticsError::NotStarted);
        QTest::newRow("path without slash")
            << "pageview spotlight" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("empty path") << "pageview " << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("event without category")
            << "event no-category" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("event without action")
            << "event no-action" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("event value below -1")
            << "event value -2" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("variable index 0") << "variable 0 2" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("variable index 6") << "variable 6 2" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("variable scope 0") << "variable 1 0" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("variable scope 4") << "variable 1 4" << true << int(AnalyticsError::InvalidArgument);
        QTest::newRow("empty account") << "start" << false << int(AnalyticsError::InvalidArgument);
    }

    // Refused calls return false with a reason and leave nothing behind.
    void refusals()
    {
        QFETCH(QString, call);
        QFETCH(bool, started);
        QFETCH(int, code);
        if (started)
            QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        Error error;
        bool ok = true;
        const QStringList parts = call.split(QLatin1Char(' '));
        if (parts[0] == QLatin1String("pageview"))
            ok = m_tracker->trackPageview(parts.value(1), &error);
        else if (call == QLatin1String("event"))
            ok =
                m_tracker->trackEvent(QStringLiteral("info"), QStringLiteral("reset"), QString(), -1, &error);
        else if (call == QLatin1String("event no-category"))
            ok = m_tracker->trackEvent(QString(), QStringLiteral("reset"), QString(), -1, &error);
        else if (call == QLatin1String("event no-action"))
            ok = m_tracker->trackEvent(QStringLiteral("info"), QString(), QString(), -1, &error);
        else if (call == QLatin1String("event value -2"))
            ok =
                m_tracker->trackEvent(QStringLiteral("info"), QStringLiteral("reset"), QString(), -2, &error);
        else if (parts[0] == QLatin1String("variable"))
            ok = m_tracker->setCustomVariableAtIndex(parts[1].toInt(), QStringLiteral("Platform"),
                                                     QStringLiteral("x"), parts[2].toInt(), &error);
        else if (call == QLatin1String("start"))
            ok = m_tracker->startTrackerWithAccountID(QStringLiteral("  "), 0, nullptr, &error);
        QVERIFY(!ok);
        QCOMPARE(error.domain, AnalyticsError::domain);
        QCOMPARE(error.code, code);
        QVERIFY(!error.message().isEmpty());
        QCOMPARE(m_tracker->queuedHitCount(), 0);
        QCOMPARE(m_tracker->customVariables().size(), 0);
    }

    // Every field of a hit is in the store before the call returns, and a relaunch finds it.
    void hitsAreQueuedDurably()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(1, QStringLiteral("Platform"), QStringLiteral("x86_64"), 2));
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(3, QStringLiteral("AppVersion"), QStringLiteral("1.0.0"), 2));
        QVERIFY(m_tracker->setReferrer(QStringLiteral("utm_campaign=a&utm_source=b&utm_medium=c")));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/spotlight")));
        m_clock->advance(1500);
        QVERIFY(m_tracker->trackEvent(QStringLiteral("favorites"), QStringLiteral("add_favorite_program"),
                                      QStringLiteral("Night Sky"), -1));

        // Another connection to the file sees both hits already.
        KeyValueStore reader(storePath());
        QCOMPARE(reader.keys(AnalyticsTracker::hitKeyPrefix()),
                 (QStringList{AnalyticsTracker::hitKey(1), AnalyticsTracker::hitKey(2)}));
        QCOMPARE(AnalyticsTracker::hitKey(2), QStringLiteral("zrp.analytics.hit.000000000002"));

        relaunch();
        const QList<AnalyticsHit> hits = m_tracker->queuedHits();
        QCOMPARE(hits.size(), 2);
        const QList<AnalyticsCustomVariable> vars{
            {1, QStringLiteral("Platform"), QStringLiteral("x86_64"), 2},
            {3, QStringLiteral("AppVersion"), QStringLiteral("1.0.0"), 2}};
        QCOMPARE(hits[0].seq, 1);
        QCOMPARE(hits[0].type, QStringLiteral("pageview"));
        QCOMPARE(hits[0].account, QStringLiteral("ZA-20481-7"));
        QCOMPARE(hits[0].path, QStringLiteral("/spotlight"));
        QCOMPARE(hits[0].customVariables, vars);
        QCOMPARE(hits[0].referrer, QStringLiteral("utm_campaign=a&utm_source=b&utm_medium=c"));
        QCOMPARE(hits[0].time, utc(12, 0, 0));
        QCOMPARE(hits[1].seq, 2);
        QCOMPARE(hits[1].type, QStringLiteral("event"));
        QCOMPARE(hits[1].category, QStringLiteral("favorites"));
        QCOMPARE(hits[1].action, QStringLiteral("add_favorite_program"));
        QCOMPARE(hits[1].label, QStringLiteral("Night Sky"));
        QCOMPARE(hits[1].value, -1);
        QCOMPARE(hits[1].time, utc(12, 0, 0).addMSecs(1500));

        // Numbering goes on after a relaunch, even once the queue has emptied.
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 0));
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        relaunch();
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/info")));
        QCOMPARE(seqsOf(m_tracker->queuedHits()), QList<qint64>{3});
    }

    void customVariableScopes()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        QVERIFY(m_tracker->setCustomVariableAtIndex(1, QStringLiteral("Member"), QStringLiteral("yes"), 1));
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(2, QStringLiteral("iOSVersion"), QStringLiteral("12"), 2));
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(4, QStringLiteral("Section"), QStringLiteral("schedule"), 3));
        QVERIFY(m_tracker->trackEvent(QStringLiteral("schedule"), QStringLiteral("open"), QString(), -1));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/schedule/ask_location")));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/program_list")));
        // A later setting at the same index replaces the earlier one, whatever its scope.
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(2, QStringLiteral("iOSVersion"), QStringLiteral("13"), 2));

        auto indexes = [](const AnalyticsHit& h) {
            QList<int> out;
            for (const AnalyticsCustomVariable& v : h.customVariables)
                out << v.index;
            return out;
        };
        QList<AnalyticsHit> hits = m_tracker->queuedHits();
        QCOMPARE(indexes(hits[0]), (QList<int>{1, 2, 4})); // page variable in force until its page view
        QCOMPARE(indexes(hits[1]), (QList<int>{1, 2, 4}));
        QCOMPARE(indexes(hits[2]), (QList<int>{1, 2}));
        QCOMPARE(m_tracker->customVariables().at(1).value, QStringLiteral("13"));

        // A new session keeps only the visitor's variable; so does a relaunch.
        m_tracker->stopTracker();
        QCOMPARE(m_tracker->customVariables(),
                 (QList<AnalyticsCustomVariable>{{1, QStringLiteral("Member"), QStringLiteral("yes"), 1}}));
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(2, QStringLiteral("iOSVersion"), QStringLiteral("14"), 2));
        relaunch();
        QCOMPARE(m_tracker->customVariables(),
                 (QList<AnalyticsCustomVariable>{{1, QStringLiteral("Member"), QStringLiteral("yes"), 1}}));
        // Replacing the visitor variable by a session one forgets it for later launches.
        QVERIFY(m_tracker->setCustomVariableAtIndex(1, QStringLiteral("Platform"), QStringLiteral("x"), 2));
        relaunch();
        QCOMPARE(m_tracker->customVariables().size(), 0);
    }

    // Periodic dispatch on the shared clock: nothing leaves before the period, then one POST
    // carries every queued hit in the collector's form and the queue empties.
    void periodicDispatchSendsTheCollectorsForm()
    {
        RecordingDelegate delegate;
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60, &delegate));
        QVERIFY(
            m_tracker->setCustomVariableAtIndex(1, QStringLiteral("Platform"), QStringLiteral("x86_64"), 2));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/spotlight")));
        m_clock->advance(2000);
        QVERIFY(m_tracker->setReferrer(QStringLiteral("utm_campaign=x")));
        QVERIFY(m_tracker->trackEvent(QStringLiteral("video_playback"), QStringLiteral("playback_complete"),
                                      QStringLiteral("Night Sky | User Ended Playback"), 312));

        m_clock->advance(57999);
        QCoreApplication::processEvents();
        QCOMPARE(m_server->requestCount(), 0);
        m_clock->advance(1);
        QTRY_COMPARE(m_server->requestCount(), 1);
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        QCOMPARE(delegate.dispatched, 2);
        QCOMPARE(delegate.hitSeqs, (QList<qint64>{1, 2}));

        const LoopbackServer::Request r = m_server->lastRequest();
        QCOMPARE(r.method, QByteArray("POST"));
        QCOMPARE(r.path, QByteArray("/collect"));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
        const QJsonObject expected = QJsonDocument::fromJson(R"({
            "account": "ZA-20481-7",
            "hits": [
              {"seq": 1, "type": "pageview", "path": "/spotlight",
               "custom_variables": [{"index": 1, "name": "Platform", "value": "x86_64", "scope": 2}],
               "referrer": null, "time": "2026-01-05T12:00:00.000Z"},
              {"seq": 2, "type": "event", "category": "video_playback", "action": "playback_complete",
               "label": "Night Sky | User Ended Playback", "value": 312,
               "custom_variables": [{"index": 1, "name": "Platform", "value": "x86_64", "scope": 2}],
               "referrer": "utm_campaign=x", "time": "2026-01-05T12:00:02.000Z"}
            ]})")
                                         .object();
        QCOMPARE(bodyOf(r), expected);

        // The period repeats.
        QVERIFY(m_tracker->trackEvent(QStringLiteral("info"), QStringLiteral("reset"), QString(), -1));
        m_clock->advance(60000);
        QTRY_COMPARE(m_server->requestCount(), 2);
        const QJsonObject hit =
            bodyOf(m_server->lastRequest())[QStringLiteral("hits")].toArray()[0].toObject();
        QCOMPARE(hit[QStringLiteral("label")], QJsonValue(QJsonValue::Null));
        QCOMPARE(hit[QStringLiteral("value")], QJsonValue(QJsonValue::Null));
    }

    void periodZeroSendsAtOnce()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 0));
        QVERIFY(m_tracker->trackEvent(QStringLiteral("video_playback"), QStringLiteral("playback_playing"),
                                      QStringLiteral("x | Start Playback"), -1));
        QTRY_COMPARE(m_server->requestCount(), 1); // no clock advance needed
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        QCOMPARE(m_clock->pendingTimerCount(), 0);

        // Recorded on background threads (the info panel's reset does that): queued there, sent
        // from the main loop.
        WorkQueue a(QStringLiteral("reset-a"));
        WorkQueue b(QStringLiteral("reset-b"));
        std::atomic<int> refused{0};
        for (WorkQueue* q : {&a, &b})
            q->async([&] {
                for (int i = 0; i < 10; ++i)
                    if (!m_tracker->trackEvent(QStringLiteral("info"), QStringLiteral("reset_all"), QString(),
                                               i))
                        ++refused;
            });
        a.waitForIdle();
        b.waitForIdle();
        QCOMPARE(refused.load(), 0);
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        QList<qint64> sent;
        for (const LoopbackServer::Request& r : m_server->requests())
            sent << seqsOf(bodyOf(r));
        QCOMPARE(sent, range(1, 21));
    }

    void failedDispatchKeepsHits_data()
    {
        QTest::addColumn<int>("status"); // 0: the collector is gone
        QTest::newRow("server error") << 500;
        QTest::newRow("not found") << 404;
        QTest::newRow("redirect") << 302;
        QTest::newRow("connection refused") << 0;
    }

    void failedDispatchKeepsHits()
    {
        QFETCH(int, status);
        RecordingDelegate delegate;
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60, &delegate));
        for (int i = 0; i < 3; ++i)
            QVERIFY(m_tracker->trackPageview(QStringLiteral("/page/%1").arg(i)));
        if (status == 0) {
            const QUrl gone = m_server->url(QStringLiteral("/collect"));
            m_server.reset();
            m_tracker->setCollectorURL(gone);
        } else {
            m_server->enqueue("/collect",
                              LoopbackServer::Answer(status, "nope").header("Location", "/elsewhere"));
        }
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("3 hits kept for the next dispatch")));
        QVERIFY(m_tracker->dispatch());
        QTRY_COMPARE(delegate.completions, 1);
        QCOMPARE(delegate.failed, 3);
        QCOMPARE(delegate.dispatched, 0);
        QVERIFY(!m_tracker->isDispatching());
        QCOMPARE(seqsOf(m_tracker->queuedHits()), (QList<qint64>{1, 2, 3}));
        if (status == 0)
            return;

        // The next dispatch delivers them.
        QVERIFY(m_tracker->dispatch());
        QTRY_COMPARE(delegate.completions, 2);
        QCOMPARE(delegate.dispatched, 3);
        QCOMPARE(m_tracker->queuedHitCount(), 0);
        QCOMPARE(seqsOf(bodyOf(m_server->lastRequest())), (QList<qint64>{1, 2, 3}));
    }

    // One batch at a time; a success removes exactly what it carried.
    void oneBatchInFlightAndOnlySentHitsRemoved()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 10));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/spotlight")));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/program_list")));
        LoopbackServer::Answer held(204);
        held.hold = true;
        m_server->enqueue("/collect", held);
        QVERIFY(m_tracker->dispatch());
        QTRY_COMPARE(m_server->activeCount(), 1);

        // Recorded while the batch is out, and asked to send again: it waits its turn.
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/info")));
        QVERIFY(m_tracker->dispatch());
        m_clock->advance(10000); // a period passes (well inside the request's time-out)
        QCoreApplication::processEvents();
        QCOMPARE(m_server->requestCount(), 1);

        m_server->releaseHeld();
        QTRY_COMPARE(m_server->requestCount(), 2);
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        QCOMPARE(m_server->peakActive(), 1);
        const QList<LoopbackServer::Request> requests = m_server->requests();
        QCOMPARE(seqsOf(bodyOf(requests[0])), (QList<qint64>{1, 2}));
        QCOMPARE(seqsOf(bodyOf(requests[1])), (QList<qint64>{3}));
    }

    void batchesHoldAtMostFifty()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        for (int i = 0; i < 120; ++i)
            QVERIFY(m_tracker->trackEvent(QStringLiteral("bulk"), QStringLiteral("n"), QString(), i));
        QVERIFY(m_tracker->dispatch());
        QTRY_COMPARE(m_server->requestCount(), 3);
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        const QList<LoopbackServer::Request> requests = m_server->requests();
        QCOMPARE(seqsOf(bodyOf(requests[0])), range(1, 50));
        QCOMPARE(seqsOf(bodyOf(requests[1])), range(51, 100));
        QCOMPARE(seqsOf(bodyOf(requests[2])), range(101, 120));
        QCOMPARE(m_server->peakActive(), 1);
    }

    // Hits keep the account they were recorded under; one request never mixes accounts.
    void restartWithAnotherAccount()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/spotlight")));
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-99999-1"), 60));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/episode")));
        QCOMPARE(m_clock->pendingTimerCount(), 1); // the first period's timer is gone
        m_clock->advance(60000);
        QTRY_COMPARE(m_server->requestCount(), 2);
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        const QList<LoopbackServer::Request> requests = m_server->requests();
        QCOMPARE(bodyOf(requests[0])[QStringLiteral("account")].toString(), QStringLiteral("ZA-20481-7"));
        QCOMPARE(seqsOf(bodyOf(requests[0])), QList<qint64>{1});
        QCOMPARE(bodyOf(requests[1])[QStringLiteral("account")].toString(), QStringLiteral("ZA-99999-1"));
        QCOMPARE(seqsOf(bodyOf(requests[1])), QList<qint64>{2});
    }

    // Stopping drops an answer still to come; the hits stay for a later session.
    void stopWhileSending()
    {
        RecordingDelegate delegate;
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60, &delegate));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/spotlight")));
        LoopbackServer::Answer held(200);
        held.hold = true;
        m_server->enqueue("/collect", held);
        QVERIFY(m_tracker->dispatch());
        QTRY_COMPARE(m_server->activeCount(), 1);
        m_tracker->stopTracker();
        QVERIFY(!m_tracker->dispatch());
        QVERIFY(!m_tracker->trackPageview(QStringLiteral("/info")));
        m_server->releaseHeld();
        QTRY_COMPARE(m_server->activeCount(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(delegate.completions, 0);
        QCOMPARE(m_tracker->queuedHitCount(), 1);
        QCOMPARE(m_clock->pendingTimerCount(), 0);

        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 0));
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0); // period 0 sends what was left at once
    }

    void fullQueueDropsOldest()
    {
        m_tracker->setMaxQueuedHits(5);
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        for (int i = 1; i <= 8; ++i)
            QVERIFY(m_tracker->trackPageview(QStringLiteral("/page/%1").arg(i)));
        QCOMPARE(seqsOf(m_tracker->queuedHits()), range(4, 8));
        QCOMPARE(m_tracker->droppedHitCount(), 3);

        relaunch();
        m_tracker->setMaxQueuedHits(5);
        QCOMPARE(m_tracker->droppedHitCount(), 3);
        QCOMPARE(seqsOf(m_tracker->queuedHits()), range(4, 8));
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/page/9")));
        QCOMPARE(seqsOf(m_tracker->queuedHits()), range(5, 9));
        QCOMPARE(m_tracker->droppedHitCount(), 4);
        KeyValueStore reader(storePath());
        QCOMPARE(reader.keys(AnalyticsTracker::hitKeyPrefix()).size(), 5);
    }

    // A queued entry that no longer reads as a hit must not hold the queue back forever.
    void unreadableHitIsDroppedNotSent()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(m_tracker->trackPageview(QStringLiteral("/page/%1").arg(i)));
        QVERIFY(m_store->setValue(AnalyticsTracker::hitKey(2), QStringLiteral("not a hit")));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("1 unreadable queued hits dropped")));
        QVERIFY(m_tracker->dispatch());
        QTRY_COMPARE(m_tracker->queuedHitCount(), 0);
        QCOMPARE(seqsOf(bodyOf(m_server->lastRequest())), (QList<qint64>{1, 3}));
        QCOMPARE(m_tracker->droppedHitCount(), 1);
        QVERIFY(!m_store->contains(AnalyticsTracker::hitKey(2)));
    }

    // A hit that cannot be stored is refused, not reported as recorded.
    void storeFailureRefusesTheHit()
    {
        QVERIFY(m_tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 60));
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/spotlight")));
        m_store->setMaxPageCount(1);
        Error error;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("hit not recorded")));
        QVERIFY(
            !m_tracker->trackPageview(QStringLiteral("/") + QString(300 * 1024, QLatin1Char('x')), &error));
        QCOMPARE(error.code, int(AnalyticsError::StoreFailed));
        m_store->setMaxPageCount(0);
        QVERIFY(m_tracker->trackPageview(QStringLiteral("/info")));
        QCOMPARE(seqsOf(m_tracker->queuedHits()), (QList<qint64>{1, 2}));
    }

    // The shared tracker takes the process's store and the configured collector.
    void sharedInstanceUsesTheProcessCollaborators()
    {
        KeyValueStore::setShared(m_store.get());
        Config::shared().setValue(QStringLiteral("analytics.collector_url"),
                                  m_server->url(QStringLiteral("/collect")).toString());
        AnalyticsTracker* shared = AnalyticsTracker::sharedInstance();
        QCOMPARE(AnalyticsTracker::sharedInstance(), shared);
        QCOMPARE(shared->store(), m_store.get());
        QCOMPARE(shared->httpClient(), &HttpClient::shared());
        // The process client keeps its connection alive past the server's end; a private one does not.
        shared->setHttpClient(m_http.get());
        QVERIFY(shared->startTrackerWithAccountID(
            Config::shared().value(QStringLiteral("analytics.account_id")), 0));
        QVERIFY(shared->trackPageview(QStringLiteral("/spotlight")));
        QTRY_COMPARE(shared->queuedHitCount(), 0);
        QCOMPARE(m_server->requestCount(), 1);
        QCOMPARE(bodyOf(m_server->lastRequest())[QStringLiteral("account")].toString(),
                 QStringLiteral("ZA-20481-7"));

        AnalyticsTracker::resetSharedInstance();
        AnalyticsTracker* fresh = AnalyticsTracker::sharedInstance();
        QVERIFY(!fresh->isStarted());
        QCOMPARE(fresh->queuedHitCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAnalytics)
#include "test_analytics.moc"
