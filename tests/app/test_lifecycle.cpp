#include "SandboxControl.h"
#include "SandboxServer.h"
#include "app/ContainerViewController.h"
#include "app/ZRPRemoteConfig.h"
#include "app/ZRPiPadAppDelegate.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "net/HttpClient.h"
#include "net/Reachability.h"
#include "notify/PushClient.h"
#include "outside/RatingPrompt.h"
#include "push/PushRegistrar.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using namespace zrp;

class TestLifecycle : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<SandboxServer> m_sandbox;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<FakeReachability> m_reach;
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<ZRPiPadAppDelegate> m_delegate;

    ContainerViewController* hub() { return ContainerViewController::sharedInstance(); }

    // Everything the launch asked for has arrived, so moving the clock times nothing out.
    void settle()
    {
        QTRY_VERIFY_WITH_TIMEOUT(hub()->activeController() && HttpClient::shared().requestsInFlight() == 0,
                                 15000);
    }

    void goToBackground()
    {
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Background);
        m_delegate->applicationDidEnterBackground();
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
        m_clock = std::make_unique<VirtualClock>(QDateTime::currentDateTimeUtc());
        Clock::setShared(m_clock.get());
        // A message waiting since the last session.
        test::sandboxControl(m_sandbox->baseUrl(), QStringLiteral("/_sandbox/push/notifications"), "POST",
                             {{"device", PushClient::deviceId()},
                              {"short", "While you were away"},
                              {"long", "Two new episodes of Tidewater."}});
        m_delegate = std::make_unique<ZRPiPadAppDelegate>();
        QVERIFY(m_delegate->didFinishLaunchingWithOptions());
        QCOMPARE(m_delegate->videoAdsThreshold(), 180.0);
        settle();
    }

    void cleanupTestCase()
    {
        m_delegate.reset();
        Clock::setShared(nullptr);
        Reachability::setShared(nullptr);
        KeyValueStore::setShared(nullptr);
        m_sandbox->stop();
    }

    void launchRegistersForPushAndStartsTheOutsideFacilities()
    {
        // The install's token went from the registrar through the application to the hub and
        // on to the push service.
        QJsonArray regs;
        QTRY_VERIFY_WITH_TIMEOUT(!(regs = test::sandboxControl(m_sandbox->baseUrl(),
                                                               QStringLiteral("/_sandbox/push/registrations"))
                                              .value(QLatin1String("registrations"))
                                              .toArray())
                                      .isEmpty(),
                                 15000);
        const QJsonObject reg = regs.first().toObject();
        QCOMPARE(reg.value(QLatin1String("device")).toString(), PushClient::deviceId());
        const QByteArray token =
            m_store->value(PushRegistrar::tokenKey()).value_or(QCborValue()).toByteArray();
        QCOMPARE(token.size(), PushRegistrar::kTokenLength);
        QCOMPARE(reg.value(QLatin1String("token")).toString(), QString::fromLatin1(token.toHex()));
        QCOMPARE(PushRegistrar::sharedInstance()->enabledRemoteNotificationTypes(), PushRegistrar::kAllTypes);
        // Becoming active after the launch fetched the message waiting since the last session.
        auto waiting = [] {
            for (ui::AlertView* a : ui::AlertView::visibleAlerts())
                if (a->title() == QLatin1String("While you were away"))
                    return a;
            return static_cast<ui::AlertView*>(nullptr);
        };
        QTRY_VERIFY(waiting());
        QCOMPARE(waiting()->message(), QStringLiteral("Two new episodes of Tidewater."));
        waiting()->clickButtonAtIndex(0);

        // Audience measurement heard of the start; the rating prompt, due at once with these
        // settings, asks.
        QTRY_VERIFY_WITH_TIMEOUT(
            !test::sandboxControl(m_sandbox->baseUrl(), QStringLiteral("/_sandbox/audience"))
                 .value(QLatin1String("beacons"))
                 .toArray()
                 .isEmpty(),
            15000);
        QTRY_VERIFY(RatingPrompt::sharedInstance()->alert());
        QCOMPARE(RatingPrompt::sharedInstance()->alert()->title(), RatingPrompt::alertTitle());
        const int uses = RatingPrompt::sharedInstance()->useCount();
        // "Remind Me Later" keeps it away for the rest of the day.
        ui::AlertView* ask = RatingPrompt::sharedInstance()->alert();
        for (int i = 0; i < ask->numberOfButtons(); ++i)
            if (ask->buttonTitleAtIndex(i) == QLatin1String("Remind Me Later"))
                ask->clickButtonAtIndex(i);
        QVERIFY(!RatingPrompt::sharedInstance()->alert());

        // Entering the background counts a use, whatever the state.
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Inactive);
        m_delegate->applicationDidEnterBackground();
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Active);
        QCOMPARE(RatingPrompt::sharedInstance()->useCount(), uses + 1);
    }

    void backgroundOnlyCountsInTheBackgroundState()
    {
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Inactive);
        m_delegate->applicationDidEnterBackground();
        QVERIFY(!m_delegate->enteredBackgroundDate().isValid());
        QVERIFY(!hub()->isSplashShown());
        m_delegate->applicationWillEnterForeground(); // not in the background: nothing
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Active);
    }

    void returningWithinTheRefreshTimeKeepsTheScreen()
    {
        QPointer<SectionViewController> section = hub()->activeController();
        QPointer<QWidget> hubView = hub()->view();
        goToBackground();
        QCOMPARE(m_delegate->enteredBackgroundDate(), m_clock->now());
        QVERIFY(hub()->isSplashShown());
        m_clock->advance(qint64(ZRPRemoteConfig::sharedInstance()->backgroundRefreshTime()) * 1000);
        m_delegate->applicationWillEnterForeground();
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Active);
        QVERIFY(!hub()->isSplashShown());
        QVERIFY(hubView);
        QCOMPARE(hub()->activeController(), section.data());
        settle();
    }

    void returningAfterTheRefreshTimeRebuildsTheInterface()
    {
        QPointer<QWidget> hubView = hub()->view();
        goToBackground();
        m_clock->advance((qint64(ZRPRemoteConfig::sharedInstance()->backgroundRefreshTime()) + 1) * 1000);
        m_delegate->applicationWillEnterForeground();
        m_delegate->setApplicationState(ZRPiPadAppDelegate::State::Active);
        QVERIFY(hubView.isNull()); // the old interface is gone
        QVERIFY(hub()->isViewLoaded());
        QVERIFY(!hub()->isSplashShown());
        QCOMPARE(hub()->view()->parentWidget(), m_delegate->window());
        settle(); // the fresh hub opened the Spotlight section again
        QCOMPARE(hub()->activeController()->sectionTitle(), QStringLiteral("Spotlight"));
    }

    void minimisingTheWindowIsTheBackground()
    {
        QWidget* w = m_delegate->window();
        w->setWindowState(Qt::WindowMinimized);
        QTRY_COMPARE(m_delegate->applicationState(), ZRPiPadAppDelegate::State::Background);
        QVERIFY(hub()->isSplashShown());
        w->setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(m_delegate->applicationState(), ZRPiPadAppDelegate::State::Active);
        QVERIFY(!hub()->isSplashShown());
        settle();
    }
};

QTEST_MAIN(TestLifecycle)
#include "test_lifecycle.moc"
