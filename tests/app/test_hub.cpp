#include "SandboxControl.h"
#include "SandboxServer.h"
#include "analytics/AnalyticsTracker.h"
#include "app/ContainerViewController.h"
#include "app/TabBarViewiPad.h"
#include "app/UnavailableViewController.h"
#include "catalog/VEXOProgram.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "net/HttpClient.h"
#include "net/Reachability.h"
#include "notify/PushClient.h"
#include "push/PushRegistrar.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"
#include "ui/LoadingOverlay.h"
#include "ui/PopoverController.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace zrp;
using namespace zrp::ui;

// A section that can say it failed, standing for any screen of a given kind.
class FakeSection : public SectionViewController
{
public:
    explicit FakeSection(Kind k) : m_kind(k) {}
    Kind kind() const override { return m_kind; }

private:
    Kind m_kind;
};

class TestHub : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<FakeReachability> m_reach;
    QWidget* m_window = nullptr;

    ContainerViewController* hub() { return ContainerViewController::sharedInstance(); }

    QStringList pageViews() const
    {
        QStringList out;
        for (const AnalyticsHit& h : AnalyticsTracker::sharedInstance()->queuedHits())
            if (h.type == QLatin1String("pageview"))
                out << h.path;
        return out;
    }

    void start(Reachability::Status status)
    {
        m_reach = std::make_unique<FakeReachability>(status);
        hub()->setReachability(m_reach.get());
        m_window = hub()->view();
        setMainWindow(m_window);
        m_window->resize(1024, 768);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    AlertView* onlyAlert()
    {
        const auto alerts = AlertView::visibleAlerts();
        return alerts.size() == 1 ? alerts.first() : nullptr;
    }

    std::unique_ptr<SandboxServer> m_sandbox;

    QJsonObject control(const QString& path, const QByteArray& method = "GET", const QJsonObject& body = {})
    {
        return test::sandboxControl(m_sandbox->baseUrl(), path, method, body);
    }

    void queuePush(const QString& title, const QString& text)
    {
        control(QStringLiteral("/_sandbox/push/notifications"), "POST",
                {{"device", PushClient::deviceId()}, {"short", title}, {"long", text}});
    }

    QStringList alertTexts() const
    {
        QStringList out;
        for (AlertView* a : AlertView::visibleAlerts())
            out << a->title() + QLatin1Char('|') + a->message() + QLatin1Char('|') + a->buttonTitleAtIndex(0);
        return out;
    }

private slots:
    void initTestCase()
    {
        // The Spotlight section loads its groups from the embedded network.
        m_sandbox = std::make_unique<SandboxServer>();
        QVERIFY(m_sandbox->start());
        Config::shared().rebindToSandbox(m_sandbox->baseUrl());
    }

    void cleanupTestCase() { m_sandbox.reset(); }

    void init()
    {
        m_clock = std::make_unique<VirtualClock>();
        Clock::setShared(m_clock.get());
        static int n = 0;
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++n)));
        AnalyticsTracker::resetSharedInstance();
        AnalyticsTracker::sharedInstance()->setStore(m_store.get());
        AnalyticsTracker::sharedInstance()->setCollectorURL(
            QUrl(QStringLiteral("http://127.0.0.1:9/collect")));
        AnalyticsTracker::sharedInstance()->startTrackerWithAccountID(QStringLiteral("ZA-1"), 3600);
        PushRegistrar::resetSharedInstance();
        PushRegistrar::sharedInstance()->setStore(m_store.get());
    }

    void cleanup()
    {
        ContainerViewController::resetSharedInstance();
        m_window = nullptr;
        for (AlertView* a : AlertView::visibleAlerts())
            a->dismissWithClickedButtonIndex(-1, false);
        // Dismissed alerts that own themselves go on a later turn; let them go now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        AnalyticsTracker::resetSharedInstance();
        PushRegistrar::sharedInstance()->setDelegate(nullptr);
        m_reach.reset();
        Clock::setShared(nullptr);
        m_clock.reset();
        m_store.reset();
    }

    void launchOnlineOpensSpotlightOnTheNextTurn()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        QCOMPARE(hub()->activeController()->sectionTitle(), QStringLiteral("Spotlight"));
        QCOMPARE(hub()->sectionLabel()->text(), QStringLiteral("Spotlight"));
        QVERIFY(hub()->featuredButton()->isChecked());
        QVERIFY(!hub()->featuredButton()->isEnabled());
        QVERIFY(hub()->programsButton()->isEnabled());
        QCOMPARE(pageViews(), QStringList{"/spotlight"});
        QVERIFY(hub()->loadingView());
        QCOMPARE(hub()->loadingView()->size(), QSize(200, 200));
        QVERIFY(AlertView::visibleAlerts().isEmpty());
    }

    void switchingSectionsTearsTheOldOneDown()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        QPointer<SectionViewController> first = hub()->activeController();
        QTest::mouseClick(hub()->scheduleButton(), Qt::LeftButton);
        QVERIFY(!hub()->activeController());
        QTRY_VERIFY(first.isNull());
        QTRY_VERIFY(hub()->activeController());
        QCOMPARE(hub()->sectionLabel()->text(), QStringLiteral("TV Schedule"));
        QVERIFY(hub()->scheduleButton()->isChecked());
        QVERIFY(hub()->featuredButton()->isEnabled());

        hub()->loadProgram(VEXOProgram::programWithDictionary(QJsonObject{{"title", "Garden Hour"}}));
        QTRY_VERIFY(hub()->activeController() &&
                    hub()->activeController()->title() == QStringLiteral("Garden Hour"));
        for (QPushButton* b : {hub()->featuredButton(), hub()->programsButton(), hub()->scheduleButton()}) {
            QVERIFY(!b->isChecked());
            QVERIFY(b->isEnabled());
        }
        QCOMPARE(pageViews(),
                 (QStringList{"/spotlight", "/schedule/ask_location", "/program_page/Garden Hour"}));
    }

    void failureAlertComesOnceAfterThreeSecondsAndRetries()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        FakeSection first(SectionViewController::Kind::Schedule);
        FakeSection second(SectionViewController::Kind::ProgramList);
        hub()->loadFailed(&first);
        m_clock->advance(1000);
        hub()->loadFailed(&second); // absorbed
        m_clock->advance(1999);
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        m_clock->advance(1);
        AlertView* alert = onlyAlert();
        QVERIFY(alert);
        QCOMPARE(alert->title(),
                 QStringLiteral("There is a problem connecting to ZRP. \nPlease try again after a bit."));
        QVERIFY(alert->message().isEmpty());
        QCOMPARE(alert->buttonTitleAtIndex(1), QStringLiteral("Retry"));
        alert->clickButtonAtIndex(1);
        QVERIFY(!hub()->hasPendingFailureAlert());
        // "Retry" reloads the screen that failed first: the schedule.
        QTRY_COMPARE(hub()->sectionLabel()->text(), QStringLiteral("TV Schedule"));
    }

    void failureFollowedBySwitchGivesNoAlert()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        FakeSection s(SectionViewController::Kind::Featured);
        hub()->loadFailed(&s);
        m_clock->advance(2000);
        hub()->loadProgramList(false);
        m_clock->advance(5000);
        QVERIFY(AlertView::visibleAlerts().isEmpty());
    }

    void launchOfflineShowsConnectionAlertUntilRetrySucceeds()
    {
        start(Reachability::NotReachable);
        QTRY_VERIFY(onlyAlert());
        AlertView* alert = onlyAlert();
        QCOMPARE(alert->title(), QStringLiteral("Connection Issue"));
        QCOMPARE(alert->message(),
                 QStringLiteral("Couldn't connect to the Internet, please check your connection and retry."));
        QCOMPARE(alert->tag(), 2);
        QVERIFY(!hub()->activeController());

        alert->clickButtonAtIndex(1); // still offline: the same alert again
        QCOMPARE(onlyAlert(), alert);
        m_reach->setStatus(Reachability::ReachableViaWiFi);
        alert->clickButtonAtIndex(1);
        QTRY_VERIFY(hub()->activeController());
        QCOMPARE(hub()->activeController()->sectionTitle(), QStringLiteral("Spotlight"));
        QVERIFY(!hub()->reachabilityAlert());

        // From now on a lost connection is noticed too.
        m_reach->setStatus(Reachability::NotReachable);
        QTRY_VERIFY(onlyAlert());
        QCOMPARE(onlyAlert()->tag(), 1);
    }

    void connectionLossAlertsExceptDuringPlaybackAndCancelIsRemembered()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        hub()->setVideoPlayerPresented(true);
        m_reach->setStatus(Reachability::NotReachable);
        QTest::qWait(10);
        QVERIFY(AlertView::visibleAlerts().isEmpty());

        hub()->setVideoPlayerPresented(false);
        m_reach->setStatus(Reachability::ReachableViaWiFi);
        m_reach->setStatus(Reachability::NotReachable);
        QTRY_VERIFY(onlyAlert());
        QCOMPARE(onlyAlert()->tag(), 1);
        onlyAlert()->clickButtonAtIndex(0); // Cancel: remembered
        QVERIFY(hub()->reachabilityAlert());
        m_reach->setStatus(Reachability::ReachableViaWiFi);
        m_reach->setStatus(Reachability::NotReachable);
        QTest::qWait(10);
        QVERIFY(AlertView::visibleAlerts().isEmpty());
    }

    void popoversAreExclusiveToggles()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        QTest::mouseClick(hub()->favoritesButton(), Qt::LeftButton);
        PopoverController* fav = hub()->favoritesPopoverController();
        QVERIFY(fav && fav->isPopoverVisible());
        // The open popover lets touches through to the navigation bar: a second touch closes it.
        QTest::mouseClick(hub()->favoritesButton(), Qt::LeftButton);
        QVERIFY(!fav->isPopoverVisible());

        QTest::mouseClick(hub()->favoritesButton(), Qt::LeftButton);
        QVERIFY(fav->isPopoverVisible());
        hub()->popupInfo(hub()->infoButton());
        QVERIFY(!fav->isPopoverVisible());
        QVERIFY(hub()->infoPopoverController()->isPopoverVisible());
        hub()->popupSettings(hub()->settingsButton());
        QVERIFY(!hub()->infoPopoverController()->isPopoverVisible());
        QVERIFY(hub()->settingsPopoverController()->isPopoverVisible());
        // A section switch closes whatever is open.
        hub()->loadProgramList(false);
        QVERIFY(!hub()->settingsPopoverController()->isPopoverVisible());

        const QStringList views = pageViews();
        QCOMPARE(views.count(QStringLiteral("/favorites")), 2);
        QCOMPARE(views.count(QStringLiteral("/info")), 1);
        int favEvents = 0;
        for (const AnalyticsHit& h : AnalyticsTracker::sharedInstance()->queuedHits())
            if (h.type == QLatin1String("event") && h.category == QLatin1String("favorites") &&
                h.action == QLatin1String("view_favorites_popover"))
                ++favEvents;
        QCOMPARE(favEvents, 2);
    }

    void scheduleAsksForSettingsAndClosingThemRefreshesPrograms()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        QTest::mouseClick(hub()->scheduleButton(), Qt::LeftButton);
        QVERIFY(hub()->settingsPopoverController()->isPopoverVisible());
        hub()->settingsPopoverController()->dismissPopoverAnimated(false);
        hub()->loadSchedule(nullptr); // the hub's own reloads pass no sender
        QVERIFY(!hub()->settingsPopoverController()->isPopoverVisible());

        hub()->loadProgramList(false);
        QTRY_VERIFY(hub()->activeController() &&
                    hub()->activeController()->kind() == SectionViewController::Kind::ProgramList);
        QPointer<SectionViewController> list = hub()->activeController();
        hub()->popupSettings(hub()->settingsButton());
        QTest::keyClick(hub()->settingsPopoverController()->frame(), Qt::Key_Escape); // the user closes it
        QTRY_VERIFY(list.isNull()); // a fresh program list replaced it
        QTRY_VERIFY(hub()->activeController() &&
                    hub()->activeController()->kind() == SectionViewController::Kind::ProgramList);
    }

    void splashClosesAlertsAndPopovers()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        hub()->popupInfo(hub()->infoButton());
        auto* alert = new AlertView(QStringLiteral("Any"), QString(), QStringLiteral("OK"), {});
        alert->show();
        hub()->showSplashImage();
        QVERIFY(hub()->isSplashShown());
        QVERIFY(AlertView::visibleAlerts().isEmpty());
        QVERIFY(!hub()->infoPopoverController()->isPopoverVisible());
        hub()->hideSplashImage();
        QVERIFY(!hub()->isSplashShown());
    }

    void cleanupViewsRebuildsOnNextUse()
    {
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        hub()->cleanupViews();
        QVERIFY(!hub()->isViewLoaded());
        QVERIFY(!hub()->activeController());
        QWidget* v = hub()->view(); // runs the load sequence again
        v->show();
        QTRY_VERIFY(hub()->activeController());
        QCOMPARE(hub()->activeController()->sectionTitle(), QStringLiteral("Spotlight"));
    }

    void pushMessagesShowInOrderOnlyWhenAllowed()
    {
        control(QStringLiteral("/_sandbox/reset"), "POST");
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        queuePush(QStringLiteral("New this week"), QStringLiteral("Three new episodes of Tidewater."));
        queuePush(QStringLiteral("Tonight"), QStringLiteral("Starlight Sessions at 9."));

        // Nothing is fetched before the viewer has allowed alerts or badges.
        hub()->getNewNotifications();
        QVERIFY(!hub()->isGettingNotifications());

        PushRegistrar::sharedInstance()->registerForRemoteNotificationTypes(PushRegistrar::kAllTypes);
        hub()->getNewNotifications();
        QVERIFY(hub()->isGettingNotifications());
        hub()->getNewNotifications(); // one fetch at a time
        QTRY_VERIFY(!hub()->isGettingNotifications());
        QCOMPARE(alertTexts(), (QStringList{"New this week|Three new episodes of Tidewater.|OK",
                                            "Tonight|Starlight Sessions at 9.|OK"}));
        QVERIFY(!hub()->getNotificationsHasFailed());
        // Delivered once: the second fetch finds nothing new.
        for (AlertView* a : AlertView::visibleAlerts())
            a->clickButtonAtIndex(0);
        hub()->getNewNotifications();
        QTRY_VERIFY(!hub()->isGettingNotifications());
        QVERIFY(AlertView::visibleAlerts().isEmpty());
    }

    void pushFailuresRetryWhenTheConnectionChanges()
    {
        control(QStringLiteral("/_sandbox/reset"), "POST");
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        PushRegistrar::sharedInstance()->registerForRemoteNotificationTypes(PushRegistrar::kAllTypes);
        // Enough dropped connections for the network stack's own resend of each request.
        control(QStringLiteral("/_sandbox/faults"), "POST",
                {{"prefix", "/push/"}, {"count", 50}, {"drop", true}});

        hub()->registerDevice(QByteArray::fromHex("0a0b0c0d"));
        QVERIFY(hub()->isRegisteringDevice());
        hub()->getNewNotifications();
        QTRY_VERIFY(!hub()->isRegisteringDevice() && !hub()->isGettingNotifications());
        QVERIFY(hub()->registerDeviceHasFailed());
        QVERIFY(hub()->getNotificationsHasFailed());

        // The registrar hands its token back to its delegate, the application; here the hub is
        // told directly, as the application does.
        struct Forward : PushRegistrarDelegate
        {
            void didRegisterForRemoteNotificationsWithDeviceToken(const QByteArray& t) override
            {
                ContainerViewController::sharedInstance()->registerDevice(t);
            }
        } forward;
        PushRegistrar::sharedInstance()->setDelegate(&forward);
        control(QStringLiteral("/_sandbox/faults"), "DELETE");
        queuePush(QStringLiteral("Back online"), QStringLiteral("Catch up on what you missed."));
        m_reach->setStatus(Reachability::ReachableViaWWAN);
        QTRY_VERIFY(!hub()->registerDeviceHasFailed() && !hub()->getNotificationsHasFailed());
        QTRY_COMPARE(alertTexts(), QStringList{"Back online|Catch up on what you missed.|OK"});
        const QJsonArray regs = control(QStringLiteral("/_sandbox/push/registrations"))
                                    .value(QLatin1String("registrations"))
                                    .toArray();
        QVERIFY(!regs.isEmpty());
        PushRegistrar::sharedInstance()->setDelegate(nullptr);
    }

    void cleanupViewsMidFetchLeavesPushUsable()
    {
        control(QStringLiteral("/_sandbox/reset"), "POST");
        start(Reachability::ReachableViaWiFi);
        QTRY_VERIFY(hub()->activeController());
        PushRegistrar::sharedInstance()->registerForRemoteNotificationTypes(PushRegistrar::kAllTypes);
        hub()->getNewNotifications();
        QVERIFY(hub()->isGettingNotifications());
        hub()->cleanupViews(); // the request dies with the client, unanswered
        hub()->view()->show();
        QVERIFY(!hub()->isGettingNotifications());
        queuePush(QStringLiteral("Hello"), QStringLiteral("World"));
        hub()->getNewNotifications();
        QTRY_COMPARE(alertTexts(), QStringList{"Hello|World|OK"});
    }

    void tabBarSelection()
    {
        TabBarViewiPad bar;
        bar.resize(301, 44);
        for (const char* t : {"Previews", "Primetime", "Expiring Soon"})
            bar.addButtonWithTitle(QString::fromLatin1(t));
        bar.setSelectedItem(0);
        bar.show();
        QSignalSpy changed(&bar, &TabBarViewiPad::selectedItemChanged);
        QCOMPARE(bar.buttonWithTag(2)->text(), QStringLiteral("Primetime"));
        // Equal shares one point apart; the last takes what remains.
        QCOMPARE(bar.buttonWithTag(1)->width(), 99);
        QCOMPARE(bar.buttonWithTag(2)->x(), 100);
        QCOMPARE(bar.buttonWithTag(3)->geometry().right(), 300);
        QTest::mouseClick(bar.buttonWithTag(1), Qt::LeftButton); // already selected
        QCOMPARE(changed.count(), 0);
        QVERIFY(bar.buttonWithTag(1)->isChecked());
        QTest::mouseClick(bar.buttonWithTag(3), Qt::LeftButton);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 2);
        bar.setSelectedItem(1); // silent
        QCOMPARE(changed.count(), 1);
        QVERIFY(bar.buttonWithTag(2)->isChecked());
        QTest::keyClick(&bar, Qt::Key_Left);
        QCOMPARE(bar.selectedItem(), 0);
        QCOMPARE(changed.count(), 2);
    }
};

QTEST_MAIN(TestHub)
#include "test_hub.moc"
