// The hub's share and buy sheets and its in-app web page.
#include "LoopbackServer.h"
#include "SandboxServer.h"
#include "analytics/AnalyticsTracker.h"
#include "app/ContainerViewController.h"
#include "browse/BuyActionSheet.h"
#include "browse/LinkAlertView.h"
#include "browse/ModalWebViewController.h"
#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "net/Reachability.h"
#include "social/ShareKit.h"
#include "store/KeyValueStore.h"
#include "ui/ActionSheet.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "web/WebPanel.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

using namespace zrp;
using namespace zrp::ui;

namespace {

VEXOEpisode makeEpisode(const QString& program, const QString& title, const QJsonObject& extra = {})
{
    QJsonObject v{
        {"resource_uri", "/vexo/v1/videos/77/"},
        {"title", title},
        {"tp_media_object_id", 2365000077LL},
        {"type", "Episode"},
        {"availability", "Available"},
        {"mediafiles",
         QJsonArray{QJsonObject{
             {"video_encoding", QJsonObject{{"mime_type", "application/x-mpegURL"}, {"name", "iPad-16x9"}}},
             {"video_data_url", "https://media.example/77.m3u8"},
             {"length_mseconds", 1500000}}}},
        {"is_segment", false},
        {"program", QJsonObject{{"resource_uri", "/vexo/v1/programs/5/"}, {"title", program}}},
    };
    for (auto it = extra.begin(); it != extra.end(); ++it)
        v.insert(it.key(), it.value());
    return *VEXOEpisode::episodeWithDictionary(v);
}

// The text of the page on show. The engine answers later; the answer lands in storage that
// outlives this call, whatever the engine does with answers still due when the page goes.
QString pageText(WebPanel* panel)
{
    auto answer = std::make_shared<std::optional<QString>>();
    panel->toPlainText([answer](const QString& t) { *answer = t; });
    if (!QTest::qWaitFor([&] { return answer->has_value(); }, 5000))
        return QString();
    return answer->value_or(QString());
}

QString queryValue(const QUrl& url, const QString& key)
{
    return QUrlQuery(url).queryItemValue(key, QUrl::FullyDecoded);
}

} // namespace

class TestShareBuy : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SandboxServer> m_sandbox;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<FakeReachability> m_reach;
    QList<QUrl> m_opened;
    std::unique_ptr<test::LoopbackServer> m_shop; // the shop pages the buy links point at
    std::unique_ptr<VirtualClock> m_clock;

    ContainerViewController* hub() { return ContainerViewController::sharedInstance(); }

    QList<AnalyticsHit> events(const QString& category) const
    {
        QList<AnalyticsHit> out;
        for (const AnalyticsHit& h : AnalyticsTracker::sharedInstance()->queuedHits())
            if (h.type == QLatin1String("event") && h.category == category)
                out << h;
        return out;
    }

    void start()
    {
        m_reach = std::make_unique<FakeReachability>(Reachability::ReachableViaWiFi);
        hub()->setReachability(m_reach.get());
        QWidget* window = hub()->view();
        setMainWindow(window);
        window->resize(1024, 768);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(hub()->activeController());
    }

    // Opens a page for the episode (or the program) and waits until it is the active section.
    void showPage(const std::optional<VEXOEpisode>& episode, const std::optional<VEXOProgram>& program)
    {
        if (episode)
            hub()->loadEpisode(*episode);
        else
            hub()->loadProgram(*program);
        QTRY_VERIFY(hub()->activeController() &&
                    hub()->activeController()->kind() == SectionViewController::Kind::Episode);
    }

private slots:
    void initTestCase()
    {
        m_sandbox = std::make_unique<SandboxServer>();
        QVERIFY(m_sandbox->start());
        Config::shared().rebindToSandbox(m_sandbox->baseUrl());
        m_shop = std::make_unique<test::LoopbackServer>();
        m_shop->on("/item/9", [](const test::LoopbackServer::Request&) {
            test::LoopbackServer::Answer a(200, "<html><body>DVD of the month</body></html>");
            a.contentType = "text/html";
            return a;
        });
    }

    void cleanupTestCase()
    {
        m_shop.reset();
        m_sandbox.reset();
    }

    void init()
    {
        static int n = 0;
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++n)));
        AnalyticsTracker::resetSharedInstance();
        AnalyticsTracker::sharedInstance()->setStore(m_store.get());
        AnalyticsTracker::sharedInstance()->setCollectorURL(
            QUrl(QStringLiteral("http://127.0.0.1:9/collect")));
        AnalyticsTracker::sharedInstance()->startTrackerWithAccountID(QStringLiteral("ZA-1"), 3600);
        m_opened.clear();
        setExternalUrlOpenerForTesting([this](const QUrl& u) {
            m_opened << u;
            return true;
        });
    }

    void cleanup()
    {
        ContainerViewController::resetSharedInstance();
        for (AlertView* a : AlertView::visibleAlerts())
            a->dismissWithClickedButtonIndex(-1, false);
        // Dismissed alerts that own themselves go on a later turn; let them go now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        AnalyticsTracker::resetSharedInstance();
        setExternalUrlOpenerForTesting({});
        Clock::setShared(nullptr);
        m_clock.reset();
        m_reach.reset();
        m_store.reset();
    }

    void shareEventAction_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("action");
        QTest::newRow("episode twitter") << "episode" << ShareKit::kTwitter << "episode_twitter";
        QTest::newRow("episode mail") << "episode" << ShareKit::kEmail << "episode_email";
        QTest::newRow("program facebook") << "program" << ShareKit::kFacebook << "program_facebook";
        QTest::newRow("airdate is schedule") << "airdate" << ShareKit::kTwitter << "schedule_twitter";
        QTest::newRow("airdate mail") << "airdate" << ShareKit::kEmail << "schedule_email";
        QTest::newRow("other service") << "episode"
                                       << "Printer"
                                       << "";
        QTest::newRow("other kind") << "clip" << ShareKit::kFacebook << "";
    }
    void shareEventAction()
    {
        QFETCH(QString, type);
        QFETCH(QString, service);
        QFETCH(QString, action);
        QCOMPARE(ContainerViewController::shareEventAction(type, service), action);
    }

    void shareServiceLinks()
    {
        ShareItem link = ShareItem::link(QUrl(QStringLiteral("https://video.zrp.example/video/2365000077/")),
                                         QStringLiteral("Enjoying Tides & Time - Low Water from @zrpvideo"));
        link.customValues.insert(QStringLiteral("emailTitle"),
                                 QStringLiteral("A recommendation for Tides & Time"));
        link.customValues.insert(
            QStringLiteral("body"),
            QStringLiteral("I found this video.<BR><BR><a href=\"https://v.example/1\">Watch</a>"));
        link.customValues.insert(QStringLiteral("facebookTitle"),
                                 QStringLiteral("Low Water, Tides & Time, ZRP Video"));

        const QUrl mail = ShareKit::emailURL(link);
        QCOMPARE(mail.scheme(), QStringLiteral("mailto"));
        QCOMPARE(queryValue(mail, "subject"), QStringLiteral("A recommendation for Tides & Time"));
        const QString body = queryValue(mail, "body");
        QVERIFY2(body.startsWith(QStringLiteral("I found this video.")), qPrintable(body));
        QVERIFY(!body.contains(QLatin1Char('<'))); // mail links carry plain text
        QVERIFY(body.endsWith(QStringLiteral("Sent from ZRP iPad Viewer")));

        const QUrl fb = ShareKit::facebookURL(link);
        QCOMPARE(queryValue(fb, "u"), QStringLiteral("https://video.zrp.example/video/2365000077/"));
        QCOMPARE(queryValue(fb, "t"), QStringLiteral("Low Water, Tides & Time, ZRP Video"));

        const QUrl tw = ShareKit::twitterURL(link);
        QCOMPARE(queryValue(tw, "text"), link.title);
        QCOMPARE(queryValue(tw, "url"), link.url.toString());

        // A text item has no link of its own.
        const ShareItem text =
            ShareItem::plainText(QStringLiteral("Enjoying Night Sky - 10+ \"stars\" from @zrpvideo"));
        QCOMPARE(queryValue(ShareKit::twitterURL(text), "text"), text.text);
        QVERIFY(!QUrlQuery(ShareKit::twitterURL(text)).hasQueryItem(QStringLiteral("url")));
        QCOMPARE(queryValue(ShareKit::facebookURL(text), "u"),
                 Config::shared().url(QStringLiteral("video_site.base_url")).toString());
    }

    void shareSheetHandsTheItemOnAndRecordsTheService()
    {
        start();
        ShareItem item = ShareItem::link(QUrl(QStringLiteral("https://video.zrp.example/video/1/")),
                                         QStringLiteral("Enjoying A - B from @zrpvideo"));
        item.customValues.insert(QStringLiteral("shareTypeEvent"), QStringLiteral("episode"));
        item.customValues.insert(QStringLiteral("shareDetailEvent"), QStringLiteral("A|B"));
        hub()->shareItem(item, QRect(100, 100, 40, 40));
        ActionSheet* sheet = hub()->shareActionSheet();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->numberOfButtons(), 3);
        QCOMPARE(sheet->buttonTitleAtIndex(2), ShareKit::kTwitter);
        sheet->clickButtonAtIndex(2);
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened.first().host(), QStringLiteral("twitter.com"));
        const QList<AnalyticsHit> shares = events(QStringLiteral("share"));
        QCOMPARE(shares.size(), 1);
        QCOMPARE(shares.first().action, QStringLiteral("episode_twitter"));
        QCOMPARE(shares.first().label, QStringLiteral("A|B"));
        QCOMPARE(shares.first().value, -1);

        // A touch outside shares nothing and records nothing.
        hub()->shareItem(item, QRect(100, 100, 40, 40));
        hub()->shareActionSheet()->clickButtonAtIndex(-1);
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(events(QStringLiteral("share")).size(), 1);
    }

    void buyChoices_data()
    {
        QTest::addColumn<bool>("onEpisode");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("sheetEvent");
        QTest::addColumn<QString>("sheetLabel");
        QTest::addColumn<QString>("choiceAction");
        QTest::addColumn<QString>("choiceLabel");
        QTest::newRow("episode store") << true << VEXOEpisode::kITunesTitle << "episode_buy"
                                       << "Tides|Low Water"
                                       << "episode_itunes"
                                       << "Tides|Low Water";
        QTest::newRow("episode dvd") << true << VEXOEpisode::kDVDTitle << "episode_buy"
                                     << "Tides|Low Water"
                                     << "episode_shop_zrp"
                                     << "Tides|Low Water";
        QTest::newRow("program shop") << false << VEXOProgram::kShopTitle << "program_buy"
                                      << "Tides"
                                      << "program_shop_zrp"
                                      << "Tides";
    }
    void buyChoices()
    {
        QFETCH(bool, onEpisode);
        QFETCH(QString, button);
        QFETCH(QString, sheetEvent);
        QFETCH(QString, sheetLabel);
        QFETCH(QString, choiceAction);
        QFETCH(QString, choiceLabel);

        start();
        const VEXOEpisode episode = makeEpisode(QStringLiteral("Tides"), QStringLiteral("Low Water"));
        if (onEpisode)
            showPage(episode, std::nullopt);
        else
            showPage(std::nullopt, *episode.program());

        const QUrl shopPage = m_shop->url(QStringLiteral("/item/9"));
        const QMap<QString, QString> links{{button, shopPage.toString()}};
        hub()->popupBuyLinks(links, QRect(10, 10, 30, 30));
        BuyActionSheet* sheet = hub()->buyActionSheet();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->title(), QStringLiteral("Buy"));
        QCOMPARE(sheet->episode().has_value(), onEpisode);
        QCOMPARE(sheet->program().has_value(), !onEpisode);
        QList<AnalyticsHit> buys = events(QStringLiteral("buy"));
        QCOMPARE(buys.size(), 1);
        QCOMPARE(buys.first().action, sheetEvent);
        QCOMPARE(buys.first().label, sheetLabel);

        sheet->clickButtonAtIndex(0);
        buys = events(QStringLiteral("buy"));
        QCOMPARE(buys.size(), 2);
        QCOMPARE(buys.last().action, choiceAction);
        QCOMPARE(buys.last().label, choiceLabel);

        if (button == VEXOEpisode::kITunesTitle) {
            // Leaving for the store is asked first; only "OK" opens the link.
            const QList<AlertView*> alerts = AlertView::visibleAlerts();
            QCOMPARE(alerts.size(), 1);
            auto* ask = qobject_cast<LinkAlertView*>(alerts.first());
            QVERIFY(ask);
            QCOMPARE(ask->title(),
                     QStringLiteral("This action will close ZRP for iPad and open the iTunes Store"));
            QVERIFY(m_opened.isEmpty());
            ask->clickButtonAtIndex(1);
            QCOMPARE(m_opened, QList<QUrl>{shopPage});
            QVERIFY(!hub()->modalWebView());
        } else {
            QVERIFY(hub()->modalWebView());
            QCOMPARE(hub()->modalWebView()->url(), shopPage);
            QCOMPARE(hub()->modalViewController(), hub()->modalWebView());
            QVERIFY(m_opened.isEmpty());
            // The close button takes the panel down through its delegate.
            hub()->modalWebView()->closeButton()->click();
            QTRY_VERIFY(!hub()->modalWebView());
            QVERIFY(!hub()->modalViewController());
        }
    }

    void unknownBuyTitleAndSheetsClosedBySplash()
    {
        start();
        hub()->popupBuyLinks({{QStringLiteral("Stream it elsewhere"), QStringLiteral("https://x.example/")}},
                             QRect(10, 10, 30, 30));
        // Not on a program or episode page: no sheet event.
        QVERIFY(events(QStringLiteral("buy")).isEmpty());
        hub()->buyActionSheet()->clickButtonAtIndex(0);
        QVERIFY(events(QStringLiteral("buy")).isEmpty());
        QVERIFY(m_opened.isEmpty());
        QVERIFY(AlertView::visibleAlerts().isEmpty());

        hub()->popupBuyLinks({{VEXOEpisode::kITunesTitle, QStringLiteral("https://x.example/")}},
                             QRect(10, 10, 30, 30));
        hub()->shareItem(ShareItem::plainText(QStringLiteral("Hello")), QRect(10, 10, 30, 30));
        QPointer<ActionSheet> share = hub()->shareActionSheet();
        QPointer<BuyActionSheet> buy = hub()->buyActionSheet();
        QVERIFY(buy && buy->isVisible());
        hub()->showSplashImage();
        // Closed as by index -1: nothing is opened or asked.
        QVERIFY(!share || !share->isVisible());
        QVERIFY(!buy || !buy->isVisible());
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        QVERIFY(m_opened.isEmpty());
    }

    void onlyWebLinksLeaveTheApp()
    {
        start();
        // A catalog link to a local file or another program's scheme is refused on both paths.
        hub()->popupBuyLinks({{VEXOEpisode::kDVDTitle, QStringLiteral("file:///etc/passwd")}},
                             QRect(10, 10, 30, 30));
        hub()->buyActionSheet()->clickButtonAtIndex(0);
        QVERIFY(!hub()->modalWebView());
        QVERIFY(!openExternalUrl(QUrl(QStringLiteral("file:///etc/passwd"))));
        QVERIFY(!openExternalUrl(QUrl(QStringLiteral("zrpother://run"))));
        QVERIFY(m_opened.isEmpty());
        // Through the store question the viewer is told, not left wondering.
        LinkAlertView* ask = LinkAlertView::alertViewWithLink(QUrl(QStringLiteral("file:///etc/passwd")));
        ask->show();
        ask->clickButtonAtIndex(1);
        const QList<AlertView*> told = AlertView::visibleAlerts();
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first()->title(), QStringLiteral("Can't Open Link"));
        QVERIFY(m_opened.isEmpty());
        QVERIFY(openExternalUrl(QUrl(QStringLiteral("mailto:?subject=Hi"))));
        QCOMPARE(m_opened.size(), 1);
    }

    void retryReloadsTheFailedPage()
    {
        start();
        const VEXOEpisode episode = makeEpisode(QStringLiteral("Tides"), QStringLiteral("Low Water"));
        showPage(episode, std::nullopt);
        m_clock = std::make_unique<VirtualClock>();
        Clock::setShared(m_clock.get());
        hub()->loadFailed(hub()->activeController());
        m_clock->advance(3000);
        const QList<AlertView*> alerts = AlertView::visibleAlerts();
        QCOMPARE(alerts.size(), 1);
        QPointer<SectionViewController> failed = hub()->activeController();
        alerts.first()->clickButtonAtIndex(1);
        QTRY_VERIFY(hub()->activeController() && hub()->activeController() != failed);
        QCOMPARE(hub()->activeController()->pageEpisode()->title(), episode.title());
    }

    void webPageLoadsShowsErrorsButNotCancellations()
    {
        test::LoopbackServer server;
        server.on("/shop", [](const test::LoopbackServer::Request&) {
            test::LoopbackServer::Answer a(200, "<html><body><p>Shop of the month</p></body></html>");
            a.contentType = "text/html";
            return a;
        });
        server.on("/slow", [](const test::LoopbackServer::Request&) {
            test::LoopbackServer::Answer a(200, "<html><body>late</body></html>");
            a.contentType = "text/html";
            a.hold = true;
            return a;
        });

        ModalWebViewController page(server.url(QStringLiteral("/shop")));
        QWidget* view = page.view();
        view->show();
        QVERIFY(page.myWebView()->isEngineCreated());
        QTRY_VERIFY_WITH_TIMEOUT(
            !page.myWebView()->isLoading() && !page.activityIndicatorView()->isAnimating(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(pageText(page.myWebView()).contains(QStringLiteral("Shop of the month")),
                                 10000);
        QVERIFY(!isNetworkActivityIndicatorVisible());

        // A refused connection shows the panel's own error page.
        page.myWebView()->loadUrl(QUrl(QStringLiteral("http://127.0.0.1:1/")));
        QTRY_VERIFY_WITH_TIMEOUT(pageText(page.myWebView()).contains(QStringLiteral("An error occurred:")),
                                 20000);

        // A load replaced by another is no error: the second page shows, not the error page.
        page.myWebView()->loadUrl(server.url(QStringLiteral("/slow")));
        QTRY_VERIFY_WITH_TIMEOUT(page.myWebView()->isLoading(), 10000);
        QSignalSpy failures(page.myWebView(), &WebPanel::loadFailed);
        page.myWebView()->loadUrl(server.url(QStringLiteral("/shop")));
        QTRY_VERIFY_WITH_TIMEOUT(pageText(page.myWebView()).contains(QStringLiteral("Shop of the month")),
                                 20000);
        for (const QList<QVariant>& f : failures)
            QVERIFY2(f.at(2).toBool(), qPrintable(f.at(1).toString()));
        server.releaseHeld();
    }

    void missingEngineIsSaidNotHidden()
    {
        WebPanel::setEngineModulePathForTesting(m_dir.filePath(QStringLiteral("no-such-engine.so")));
        ModalWebViewController page(QUrl(QStringLiteral("https://shop.zrp.example/")));
        page.view()->show(); // loading fails at once; the error page cannot show either
        WebPanel::setEngineModulePathForTesting(QString());
        QVERIFY(!page.myWebView()->isEngineCreated());
        auto* said = page.myWebView()->findChild<QLabel*>(QStringLiteral("WebPanelUnavailable"));
        QVERIFY(said && said->isVisible());
        QVERIFY(!page.activityIndicatorView()->isAnimating());
        QVERIFY(!isNetworkActivityIndicatorVisible());
    }

    void errorPageEscapesTheDescription()
    {
        QCOMPARE(ModalWebViewController::errorPage(QStringLiteral("<b>x</b> & y")),
                 QStringLiteral(
                     "<html><center><font size=+5 color='red'>An error occurred:<br>&lt;b&gt;x&lt;/b&gt; "
                     "&amp; y</font></center></html>"));
    }
};

int main(int argc, char** argv)
{
    prepareWebEngine();
    QApplication app(argc, argv);
    TestShareBuy test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_share_buy.moc"
