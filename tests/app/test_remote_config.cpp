#include "LoopbackServer.h"
#include "app/ZRPRemoteConfig.h"
#include "core/Config.h"
#include "core/Device.h"
#include "profile/UserDefaultsUtil.h"
#include "store/KeyValueStore.h"
#include "ui/AlertView.h"
#include "ui/Kit.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace zrp;
using Answer = zrp::test::LoopbackServer::Answer;

class TestRemoteConfig : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<test::LoopbackServer> m_server;
    QList<QUrl> m_opened;
    QWidget m_window;

    ZRPRemoteConfig* config() { return ZRPRemoteConfig::sharedInstance(); }

    // Serves body as the configuration file and waits until it has been applied or refused.
    void fetch(const Answer& answer)
    {
        m_server->on("/ipad-conf.plist", answer);
        config()->loadSettings();
        QTRY_VERIFY(!config()->isLoading());
    }

    qint64 stored(const QString& key) { return UserDefaultsUtil::integerForKey(key).value_or(-1); }

private slots:
    void initTestCase()
    {
        m_window.resize(1024, 768);
        m_window.show();
        ui::setMainWindow(&m_window);
    }

    void init()
    {
        static int n = 0;
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath(QStringLiteral("s%1.sqlite").arg(++n)));
        KeyValueStore::setShared(m_store.get());
        m_server = std::make_unique<test::LoopbackServer>();
        Config::shared().setValue(QStringLiteral("remote_config.url"),
                                  m_server->url(QStringLiteral("/ipad-conf.plist")).toString());
        ZRPRemoteConfig::resetSharedInstance();
        m_opened.clear();
        // What would have been opened, instead of the desktop's browser.
        ui::setExternalUrlOpenerForTesting([this](const QUrl& u) {
            m_opened << u;
            return true;
        });
    }

    void cleanup()
    {
        for (ui::AlertView* a : ui::AlertView::visibleAlerts())
            a->dismissWithClickedButtonIndex(-1, false);
        ui::setExternalUrlOpenerForTesting({});
        ZRPRemoteConfig::resetSharedInstance();
        KeyValueStore::setShared(nullptr);
        m_store.reset();
        m_server.reset();
    }

    void defaultsAndStoredValues()
    {
        QCOMPARE(config()->backgroundFastTime(), 60);
        QCOMPARE(config()->backgroundSplashTime(), 180);
        QCOMPARE(config()->backgroundRefreshTime(), 108000);
        // A stored 0 reads back as the default at the next start; other values stay.
        UserDefaultsUtil::setInteger(UserDefaultsUtil::kBackgroundRefreshTime, 0);
        UserDefaultsUtil::setInteger(UserDefaultsUtil::kBackgroundFastTime, 5);
        ZRPRemoteConfig::resetSharedInstance();
        QCOMPARE(config()->backgroundRefreshTime(), 108000);
        QCOMPARE(config()->backgroundFastTime(), 5);
    }

    void lineRules_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("fast");
        QTest::addColumn<int>("splash");
        QTest::addColumn<int>("refresh");
        QTest::newRow("CR LF line ends")
            << QByteArray("background_refresh_time=7200\r\n") << 60 << 180 << 7200;
        QTest::newRow("blanks around = do not match")
            << QByteArray("background_refresh_time = 7200\nbackground_fast_time= 9\n") << 9 << 180 << 108000;
        QTest::newRow("leading blanks in the value are skipped")
            << QByteArray("background_fast_time=  42s\n") << 42 << 180 << 108000;
        QTest::newRow("two = ignored")
            << QByteArray("background_refresh_time=7200=1\n") << 60 << 180 << 108000;
        QTest::newRow("no digits gives 0")
            << QByteArray("background_splash_time=soon\n") << 60 << 0 << 108000;
        QTest::newRow("last occurrence wins")
            << QByteArray("background_fast_time=1\nbackground_fast_time=-3\n") << -3 << 180 << 108000;
        QTest::newRow("key is case-sensitive")
            << QByteArray("Background_Fast_Time=9\n") << 60 << 180 << 108000;
        QTest::newRow("huge value is clamped")
            << QByteArray("background_refresh_time=99999999999999999999\n") << 60 << 180 << 2147483647;
        QTest::newRow("not ASCII") << QByteArray("background_fast_time=\xff\xfe\nbackground_splash_time=7\n")
                                   << 0 << 7 << 108000;
    }

    void lineRules()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, fast);
        QFETCH(int, splash);
        QFETCH(int, refresh);
        QSignalSpy applied(config(), &ZRPRemoteConfig::settingsApplied);
        fetch(Answer(200, file));
        QCOMPARE(applied.count(), 1);
        QCOMPARE(config()->backgroundFastTime(), fast);
        QCOMPARE(config()->backgroundSplashTime(), splash);
        QCOMPARE(config()->backgroundRefreshTime(), refresh);
        // Saved only after the whole file, all three.
        QCOMPARE(stored(UserDefaultsUtil::kBackgroundFastTime), qint64(fast));
        QCOMPARE(stored(UserDefaultsUtil::kBackgroundSplashTime), qint64(splash));
        QCOMPARE(stored(UserDefaultsUtil::kBackgroundRefreshTime), qint64(refresh));
    }

    void failedDownloadChangesNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("404 page") << 404;
        QTest::newRow("server error") << 503;
    }

    void failedDownloadChangesNothing()
    {
        QFETCH(int, status);
        fetch(Answer(200, "background_refresh_time=7200\n"));
        fetch(Answer(status, "background_refresh_time=1\n"));
        QCOMPARE(config()->backgroundRefreshTime(), 7200);
        QCOMPARE(stored(UserDefaultsUtil::kBackgroundRefreshTime), 7200);

        m_server->stop(); // nothing listening any more
        config()->loadSettings();
        QTRY_VERIFY(!config()->isLoading());
        QCOMPARE(config()->backgroundRefreshTime(), 7200);
    }

    void minimumVersionAsksForUpdate_data()
    {
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<bool>("alert");
        const QString installed = Bundle::version();
        QTest::newRow("equal") << installed << false;
        QTest::newRow("older") << QStringLiteral("0.9") << false;
        QTest::newRow("one part higher") << QStringLiteral("%1.1").arg(installed) << true;
        QTest::newRow("major higher") << QStringLiteral("99.0") << true;
        QTest::newRow("pre-release of installed") << installed + QStringLiteral("b1") << false;
    }

    void minimumVersionAsksForUpdate()
    {
        QFETCH(QString, minimum);
        QFETCH(bool, alert);
        QSignalSpy offered(config(), &ZRPRemoteConfig::updateOffered);
        fetch(Answer(200, QStringLiteral("minimum_version=%1\r\n").arg(minimum).toLatin1()));
        QCOMPARE(offered.count(), alert ? 1 : 0);
        const auto alerts = ui::AlertView::visibleAlerts();
        QCOMPARE(alerts.size(), alert ? 1 : 0);
        if (alert) {
            QCOMPARE(alerts[0]->title(), QStringLiteral("New Version Available"));
            QCOMPARE(alerts[0]->message(),
                     QStringLiteral("Please update to the new ZRP app.  We've made improvements to make your "
                                    "experience better than ever before. Enjoy!"));
            QCOMPARE(alerts[0]->numberOfButtons(), 1);
            QCOMPARE(alerts[0]->buttonTitleAtIndex(0), QStringLiteral("Update Now"));
            alerts[0]->clickButtonAtIndex(0);
            QCOMPARE(m_opened, QList<QUrl>{Config::shared().url(QStringLiteral("store.app_url"))});
        }
    }
};

QTEST_MAIN(TestRemoteConfig)
#include "test_remote_config.moc"
