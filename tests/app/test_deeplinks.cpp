#include "SandboxServer.h"
#include "analytics/AnalyticsTracker.h"
#include "app/ContainerViewController.h"
#include "app/ZRPiPadAppDelegate.h"
#include "catalog/VEXOClientAPI.h"
#include "core/Config.h"
#include "net/HttpClient.h"
#include "net/Reachability.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/LoadingOverlay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace zrp;

namespace {
struct Collector : VEXOClientAPIDelegate
{
    bool done = false;
    VEXOResults results;
    void didFindResults(const QString&, const VEXOResults& r) override
    {
        results = r;
        done = true;
    }
    void didFail(const QString&, const Error&) override { done = true; }
};
} // namespace

class TestDeepLinks : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SandboxServer> m_sandbox;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<FakeReachability> m_reach;
    std::unique_ptr<ZRPiPadAppDelegate> m_delegate;
    QString m_mediaId, m_episodeTitle, m_slug, m_programTitle;

    QJsonArray sandboxRequests()
    {
        QJsonArray out;
        bool done = false;
        HttpClient::shared().send(
            HttpRequest(QUrl(m_sandbox->baseUrl().toString() + "/_sandbox/requests?since=0")),
            [&](const HttpResponse& r, const Error&) {
                out = QJsonDocument::fromJson(r.body).object().value("requests").toArray();
                done = true;
            });
        if (!QTest::qWaitFor([&] { return done; }, 10000))
            qWarning("the request log did not answer");
        return out;
    }

    int catalogRequestCount()
    {
        int n = 0;
        for (const QJsonValue& r : sandboxRequests())
            if (r.toObject().value("path").toString().startsWith("/vexo/v1/"))
                ++n;
        return n;
    }

    QList<AnalyticsHit> events() const
    {
        QList<AnalyticsHit> out;
        for (const AnalyticsHit& h : AnalyticsTracker::sharedInstance()->queuedHits())
            if (h.type == QLatin1String("event"))
                out << h;
        return out;
    }

    ui::AlertView* waitForAlert()
    {
        if (!QTest::qWaitFor([] { return !ui::AlertView::visibleAlerts().isEmpty(); }, 15000))
            return nullptr;
        return ui::AlertView::visibleAlerts().value(0);
    }

private slots:
    void initTestCase()
    {
        m_sandbox = std::make_unique<SandboxServer>();
        QVERIFY(m_sandbox->start());
        Config::shared().setDataDir(m_dir.path());
        Config::shared().rebindToSandbox(m_sandbox->baseUrl());
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath("settings.sqlite"));
        KeyValueStore::setShared(m_store.get());
        m_reach = std::make_unique<FakeReachability>(Reachability::ReachableViaWiFi);
        Reachability::setShared(m_reach.get());
        // The alerts here are the links' own: no launch questions in front of them.
        Config::shared().setValue(QStringLiteral("rating.enabled"), QStringLiteral("false"));
        Config::shared().setValue(QStringLiteral("survey.enabled"), QStringLiteral("false"));
        m_delegate = std::make_unique<ZRPiPadAppDelegate>();
        QVERIFY(m_delegate->didFinishLaunchingWithOptions());
        // The events stay queued where the test reads them: nothing collects them.
        AnalyticsTracker::sharedInstance()->setCollectorURL(
            QUrl(QStringLiteral("http://127.0.0.1:9/collect")));

        // A real video and a real program of the sample catalog.
        Collector c;
        VEXOClientAPI api;
        api.setDelegate(&c);
        api.getEpisodesByGroup(QStringLiteral("ipad_previews"), QStringLiteral("pick"));
        QTRY_VERIFY_WITH_TIMEOUT(c.done, 15000);
        QVERIFY(!c.results.episodes.isEmpty());
        const VEXOEpisode& e = c.results.episodes.first();
        m_mediaId = e.mediaID();
        m_episodeTitle = e.title().value_or(QString());
        QVERIFY(e.program());
        m_programTitle = e.program()->title();
        m_slug = e.program()->programDictionary().value(QStringLiteral("slug")).toString();
        QVERIFY(!m_mediaId.isEmpty());
        QVERIFY(!m_slug.isEmpty());
    }

    void cleanup()
    {
        for (ui::AlertView* a : ui::AlertView::visibleAlerts())
            a->dismissWithClickedButtonIndex(-1, false);
        // Dismissed alerts that own themselves go on a later turn; let them go now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void cleanupTestCase()
    {
        m_delegate.reset();
        Reachability::setShared(nullptr);
        KeyValueStore::setShared(nullptr);
        m_sandbox->stop();
    }

    void queryParsing()
    {
        const auto q =
            ZRPiPadAppDelegate::parseQuery(QStringLiteral("a=1&b=x%20y&flag&a=2&&c=%E2%9C%93&d=%FF&e=1=2"));
        QCOMPARE(q.value("a"), QStringLiteral("2")); // later wins
        QCOMPARE(q.value("b"), QStringLiteral("x y"));
        QVERIFY(q.contains("flag"));
        QCOMPARE(q.value("flag"), QString());
        QCOMPARE(q.value("c"), QString::fromUtf8("\xE2\x9C\x93"));
        QCOMPARE(q.value("d"), QString());             // not UTF-8: empty
        QCOMPARE(q.value("e"), QStringLiteral("1=2")); // split at the first "=" only
    }

    void videoLinkOpensItsEpisode()
    {
        QVERIFY(m_delegate->handleOpenURL(QStringLiteral("zrptv://video/%1").arg(m_mediaId)));
        QVERIFY(m_delegate->isLookingUp());
        QVERIFY(ContainerViewController::sharedInstance()->loadingView()->isShowing());
        QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->isLookingUp(), 15000);
        QVERIFY(!ContainerViewController::sharedInstance()->loadingView()->isShowing());
        QTRY_VERIFY(ContainerViewController::sharedInstance()->activeController() &&
                    ContainerViewController::sharedInstance()->activeController()->title() == m_episodeTitle);
        const AnalyticsHit last = events().last();
        QCOMPARE(last.category, QStringLiteral("external_link"));
        QCOMPARE(last.action, QStringLiteral("video|%1").arg(m_mediaId));
        QCOMPARE(last.label, QStringLiteral("zrptv://video/%1").arg(m_mediaId));
    }

    void programLinkJoinsThePathIntoTheSlug()
    {
        // The slash inside the link's path is dropped: "a/b" looks up "ab".
        const QString half = m_slug.left(m_slug.size() / 2);
        const QString link = QStringLiteral("zrptv://program/%1/%2").arg(half, m_slug.mid(half.size()));
        QVERIFY(m_delegate->handleOpenURL(link));
        QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->isLookingUp(), 15000);
        QTRY_VERIFY(ContainerViewController::sharedInstance()->activeController() &&
                    ContainerViewController::sharedInstance()->activeController()->title() == m_programTitle);
        bool sawSlug = false;
        for (const QJsonValue& r : sandboxRequests())
            sawSlug = sawSlug || r.toObject().value("query").toString().contains("filter_slug=" + m_slug);
        QVERIFY(sawSlug);
    }

    void lookUpsThatFindNothingOrFail_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown video") << "zrptv://video/999999999"
                                       << ""
                                       << "Sorry, that video is not currently available for ZRP mobile";
        QTest::newRow("unknown program") << "zrptv://program/no-such-show"
                                         << ""
                                         << "Sorry, that program is not currently available for ZRP mobile";
        QTest::newRow("service failing") << "zrptv://video/1"
                                         << "prefix=/vexo/v1/videos/,count=8,status=503"
                                         << "Sorry, there was a problem trying to load that video";
    }

    void lookUpsThatFindNothingOrFail()
    {
        QFETCH(QString, link);
        QFETCH(QString, fault);
        QFETCH(QString, message);
        if (!fault.isEmpty())
            QVERIFY(m_sandbox->addFault(fault));
        QVERIFY(m_delegate->handleOpenURL(link));
        ui::AlertView* alert = waitForAlert();
        QVERIFY(alert);
        QCOMPARE(alert->title(), QStringLiteral("External Link Error"));
        QCOMPARE(alert->message(), message);
        QCOMPARE(alert->buttonTitleAtIndex(0), QStringLiteral("OK"));
        QVERIFY(!m_delegate->isLookingUp());
        QVERIFY(!ContainerViewController::sharedInstance()->loadingView()->isShowing());
    }

    void linkIdCannotAddToTheCatalogQuery()
    {
        QVERIFY(m_delegate->handleOpenURL(QStringLiteral("zrptv://video/1&filter_id__in=2")));
        QVERIFY(waitForAlert());
        bool sent = false;
        for (const QJsonValue& r : sandboxRequests()) {
            const QString query = r.toObject().value("query").toString();
            if (!query.contains("filter_tp_media_object_id="))
                continue;
            sent = true;
            QVERIFY2(!query.contains("&filter_id__in="), qPrintable(query));
        }
        QVERIFY(sent);
    }

    void unknownKindAlertsWithoutARequest()
    {
        const int before = catalogRequestCount();
        const int eventsBefore = int(events().size());
        QVERIFY(m_delegate->handleOpenURL(QStringLiteral("zrptv://channel/5")));
        ui::AlertView* alert = waitForAlert();
        QCOMPARE(
            alert->message(),
            QStringLiteral("Sorry, there was a problem trying to load the external link:zrptv://channel/5"));
        QCOMPARE(catalogRequestCount(), before);
        QCOMPARE(int(events().size()), eventsBefore + 1);
        QCOMPARE(events().last().action, QStringLiteral("channel|5"));
        QVERIFY(!m_delegate->handleOpenURL(QString()));
    }

    void referrerNeedsAllThreeUtmKeys()
    {
        AnalyticsTracker::sharedInstance()->setReferrer(QString());
        m_delegate->handleOpenURL(QStringLiteral("zrptv://channel/1?utm_campaign=a&utm_source=b"));
        QCOMPARE(AnalyticsTracker::sharedInstance()->referrer(), QString());
        m_delegate->handleOpenURL(
            QStringLiteral("zrptv://channel/1?utm_campaign=a&utm_source=b&utm_medium=c"));
        QCOMPARE(AnalyticsTracker::sharedInstance()->referrer(),
                 QStringLiteral("utm_campaign=a&utm_source=b&utm_medium=c"));
    }
};

QTEST_MAIN(TestDeepLinks)
#include "test_deeplinks.moc"
