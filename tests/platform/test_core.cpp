#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/NotificationCenter.h"
#include "core/RunLoop.h"
#include "core/Text.h"
#include "core/VersionComparator.h"
#include "core/WorkQueue.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>

using namespace zrp;

class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        Clock::setShared(nullptr);
        Device::setPlatformNameForTesting(QString());
        Device::setMainScreenWidthForTesting(-1);
        Device::setMacAddressForTesting(std::nullopt, false);
    }

    // ---- run loop ----

    void postRunsOnLaterTurnOnMainThread()
    {
        QStringList order;
        RunLoop::post([&] { order << QStringLiteral("posted"); });
        order << QStringLiteral("caller");
        QCOMPARE(order, QStringList{QStringLiteral("caller")});
        QTRY_COMPARE(order, (QStringList{QStringLiteral("caller"), QStringLiteral("posted")}));

        std::atomic<bool> onMain{false};
        std::atomic<bool> ran{false};
        WorkQueue q(QStringLiteral("poster"));
        q.async([&] {
            RunLoop::post([&] {
                onMain = RunLoop::isMainThread();
                ran = true;
            });
        });
        QTRY_VERIFY(ran.load());
        QVERIFY(onMain.load());
    }

    void postSkipsDestroyedContext()
    {
        bool ran = false;
        auto* ctx = new QObject;
        RunLoop::post([&] { ran = true; }, ctx);
        delete ctx;
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(!ran);
    }

    void postDelayedFollowsTheSharedClock()
    {
        VirtualClock clock;
        VirtualClock::Scope scope(clock);
        bool ran = false;
        RunLoop::postDelayed(5000, [&] { ran = true; });
        QTRY_COMPARE(clock.pendingTimerCount(), 1); // scheduled on the main loop's next turn
        clock.advance(4999);
        QVERIFY(!ran);
        clock.advance(1);
        QVERIFY(ran);
    }

    // ---- clock and timers ----

    void virtualClockFiresDueTimersInOrder()
    {
        VirtualClock clock;
        const QDateTime t0 = clock.now();
        QList<QPair<QString, qint64>> fired;
        auto record = [&](const QString& n) { fired << qMakePair(n, t0.msecsTo(clock.now())); };
        auto a = clock.schedule(
            300, false, [&] { record("a300"); }, nullptr);
        auto b = clock.schedule(
            100, false, [&] { record("b100"); }, nullptr);
        auto c = clock.schedule(
            100, false, [&] { record("c100"); }, nullptr); // same time: schedule order
        auto r = clock.schedule(
            250, true, [&] { record("r"); }, nullptr);
        clock.advance(600);
        const QList<QPair<QString, qint64>> expected = {
            {"b100", 100}, {"c100", 100}, {"r", 250}, {"a300", 300}, {"r", 500}};
        QCOMPARE(fired, expected);
        QCOMPARE(t0.msecsTo(clock.now()), 600);
        QVERIFY(r->isValid());
        QVERIFY(!a->isValid());
        r->invalidate();
        fired.clear();
        clock.advance(1000);
        QVERIFY(fired.isEmpty());
        QCOMPARE(clock.pendingTimerCount(), 0);
    }

    void timerScheduledInsideCallbackFiresInSameAdvance()
    {
        VirtualClock clock;
        int inner = 0;
        std::shared_ptr<Timer> second;
        auto first = clock.schedule(
            100, false,
            [&] {
                second = clock.schedule(
                    50, false, [&] { ++inner; }, nullptr);
            },
            nullptr);
        clock.advance(149);
        QCOMPARE(inner, 0);
        clock.advance(1);
        QCOMPARE(inner, 1);
    }

    void timerStopsWithContextAndOnInvalidateFromCallback()
    {
        VirtualClock clock;
        int n = 0;
        auto* ctx = new QObject;
        clock.schedule(
            10, true, [&] { ++n; }, ctx);
        clock.advance(25);
        QCOMPARE(n, 2);
        delete ctx;
        clock.advance(100);
        QCOMPARE(n, 2);

        int m = 0;
        std::shared_ptr<Timer> self;
        self = clock.schedule(
            10, true,
            [&] {
                if (++m == 3)
                    self->invalidate();
            },
            nullptr);
        clock.advance(1000);
        QCOMPARE(m, 3);
    }

    void realTimerFiresAndInvalidates()
    {
        int oneShot = 0;
        int repeating = 0;
        auto t1 = Timer::scheduled(1, false, [&] { ++oneShot; });
        std::shared_ptr<Timer> t2;
        t2 = Timer::scheduled(1, true, [&] {
            if (++repeating == 3)
                t2->invalidate();
        });
        QTRY_COMPARE(oneShot, 1);
        QTRY_COMPARE(repeating, 3);
        QVERIFY(!t1->isValid());
        QVERIFY(!t2->isValid());
        QTest::qWait(20); // nothing more may arrive after invalidation
        QCOMPARE(repeating, 3);
        QCOMPARE(oneShot, 1);
    }

    void setNowMovesWallClockNotMonotonic()
    {
        VirtualClock clock;
        const qint64 mono = clock.monotonicMs();
        const QDateTime target(QDate(2030, 6, 1), QTime(8, 0), Qt::UTC);
        clock.setNow(target);
        QCOMPARE(clock.now(), target);
        QCOMPARE(clock.monotonicMs(), mono);
        clock.advance(1500);
        QCOMPARE(clock.now(), target.addMSecs(1500));
        QCOMPARE(clock.now().timeSpec(), Qt::UTC);
    }

    // ---- work queues ----

    void serialQueueRunsInOrderOffTheMainThread()
    {
        WorkQueue q(QStringLiteral("serial"));
        QList<int> seen;
        std::atomic<bool> anyOnMain{false};
        for (int i = 0; i < 200; ++i)
            q.async([&, i] {
                if (RunLoop::isMainThread())
                    anyOnMain = true;
                seen << i; // serial: no lock needed
            });
        q.waitForIdle();
        QCOMPARE(seen.size(), 200);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(seen[i], i);
        QVERIFY(!anyOnMain.load());

        bool inside = false;
        q.sync([&] { inside = q.isCurrent(); });
        QVERIFY(inside);
        // sync from the queue itself runs inline instead of deadlocking
        bool nested = false;
        q.sync([&] { q.sync([&] { nested = true; }); });
        QVERIFY(nested);
    }

    void destructorDrainsQueuedWork()
    {
        std::atomic<int> n{0};
        {
            WorkQueue q(QStringLiteral("drain"));
            for (int i = 0; i < 50; ++i)
                q.async([&] {
                    QThread::usleep(100);
                    ++n;
                });
        }
        QCOMPARE(n.load(), 50);
    }

    void concurrentQueueRunsEverything()
    {
        std::atomic<int> n{0};
        for (int i = 0; i < 100; ++i)
            WorkQueue::concurrent([&] { ++n; });
        WorkQueue::waitForConcurrentIdle();
        QCOMPARE(n.load(), 100);
    }

    // ---- notification centre ----

    void notificationsDeliverByNameWithPayload()
    {
        NotificationCenter nc;
        int a = 0;
        int all = 0;
        QVariant payload;
        int observerA = 0;
        nc.addObserver(&observerA, QStringLiteral("A"), [&](const Notification& n) {
            ++a;
            payload = n.object;
        });
        nc.addObserver(&observerA, QString(), [&](const Notification&) { ++all; });
        nc.post(QStringLiteral("A"), QVariantMap{{"api", "vexo_api"}});
        nc.post(QStringLiteral("B"));
        QCOMPARE(a, 1);
        QCOMPARE(all, 2);
        QCOMPARE(payload.toMap().value("api").toString(), QStringLiteral("vexo_api"));

        nc.removeObserver(&observerA, QStringLiteral("A"));
        nc.post(QStringLiteral("A"));
        QCOMPARE(a, 1);
        QCOMPARE(all, 3);
        nc.removeObserver(&observerA);
        QCOMPARE(nc.observerCount(), 0);
    }

    void removalDuringDeliveryIsSafe()
    {
        NotificationCenter nc;
        int first = 0, second = 0, third = 0;
        int o1 = 0, o2 = 0, o3 = 0;
        NotificationCenter::Token t3 = 0;
        nc.addObserver(&o1, QStringLiteral("N"), [&](const Notification&) {
            ++first;
            nc.removeObserver(&o1); // itself
            nc.removeObserver(&o2); // a later one in this same delivery
        });
        nc.addObserver(&o2, QStringLiteral("N"), [&](const Notification&) { ++second; });
        t3 = nc.addObserver(&o3, QStringLiteral("N"), [&](const Notification&) {
            ++third;
            nc.removeObserver(t3);
            nc.addObserver(&o2, QStringLiteral("N"), [&](const Notification&) { ++second; });
        });
        nc.post(QStringLiteral("N"));
        QCOMPARE(first, 1);
        QCOMPARE(second, 0); // removed before its turn: not called
        QCOMPARE(third, 1);
        nc.post(QStringLiteral("N"));
        QCOMPARE(first, 1);
        QCOMPARE(second, 1);
        QCOMPARE(third, 1);
    }

    void postFromBackgroundDeliversOnMainThread()
    {
        NotificationCenter nc;
        std::atomic<bool> onMain{false};
        std::atomic<int> count{0};
        int o = 0;
        nc.addObserver(&o, QStringLiteral("X"), [&](const Notification&) {
            onMain = RunLoop::isMainThread();
            ++count;
        });
        WorkQueue q(QStringLiteral("bg"));
        q.sync([&] { nc.post(QStringLiteral("X")); });
        QCOMPARE(count.load(), 0); // not inside the background caller
        QTRY_COMPARE(count.load(), 1);
        QVERIFY(onMain.load());
    }

    // ---- text, digests, JSON ----

    void percentEscaping_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QByteArray>("also");
        QTest::addColumn<QString>("expected");
        QTest::newRow("space and quotes") << "a b\"c<d>{e}" << QByteArray() << "a%20b%22c%3Cd%3E%7Be%7D";
        QTest::newRow("delimiters kept") << "x=1&y=/a:b?c+d" << QByteArray() << "x=1&y=/a:b?c+d";
        QTest::newRow("percent itself") << "50%" << QByteArray() << "50%25";
        QTest::newRow("non-ASCII as UTF-8")
            << QString::fromUtf8("café ☕") << QByteArray() << "caf%C3%A9%20%E2%98%95";
        QTest::newRow("extra set") << "a,b/c!d" << QByteArray(",/!") << "a%2Cb%2Fc%21d";
        QTest::newRow("catalog query set") << "fields=a,b&q=x%2Cy&p=(1)" << QByteArray("!*'();:@$,/?%#[]")
                                           << "fields=a%2Cb&q=x%252Cy&p=%281%29";
        QTest::newRow("brackets and pipe") << "[a]|b\\c^`" << QByteArray() << "%5Ba%5D%7Cb%5Cc%5E%60";
    }

    void percentEscaping()
    {
        QFETCH(QString, input);
        QFETCH(QByteArray, also);
        QFETCH(QString, expected);
        QCOMPARE(Text::percentEscape(input, also), expected);
    }

    void unreservedEscaping()
    {
        QCOMPARE(Text::percentEscapeUnreserved(QStringLiteral("a-b_c.d~e f+g=h&i")),
                 QStringLiteral("a-b_c.d~e%20f%2Bg%3Dh%26i"));
    }

    void digests()
    {
        // HMAC-SHA1 vectors from RFC 2202 (cases 2 and 6).
        QCOMPARE(Text::hmacSha1Hex(QStringLiteral("Jefe"), QStringLiteral("what do ya want for nothing?")),
                 QStringLiteral("effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"));
        const QByteArray key(80, '\xaa');
        QCOMPARE(Text::hmacSha1(key, "Test Using Larger Than Block-Size Key - Hash Key First").toHex(),
                 QByteArray("aa4ae5e15272d00e95705637ce8a3b55ed402112"));
        QCOMPARE(Text::hmacSha1Base64(QStringLiteral("Jefe"), QStringLiteral("what do ya want for nothing?")),
                 QStringLiteral("7/zfauXrL6LSdBbV8YTfnCWafHk="));
        // MD5 vectors from RFC 1321; empty text gives none.
        QCOMPARE(Text::stringFromMD5(QStringLiteral("abc")),
                 QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
        QCOMPARE(Text::stringFromMD5(QStringLiteral("message digest")),
                 QStringLiteral("f96b697d7cb7938d525a2f31aaf161d0"));
        QVERIFY(Text::stringFromMD5(QString()).isNull());
        QVERIFY(Text::stringFromMD5(QStringLiteral("")).isNull());
    }

    void uuidTextIsFreshAndUrlSafe()
    {
        const QString a = Text::uuidText();
        const QString b = Text::uuidText();
        QVERIFY(a != b);
        static const QRegularExpression form(
            QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
        QVERIFY2(form.match(a).hasMatch(), qPrintable(a));
        QCOMPARE(Text::escapeForURL(a), a);
    }

    void sanitizeAndLenientJson()
    {
        QCOMPARE(Json::sanitize(QJsonValue(QJsonValue::Null)), QJsonValue(QString()));
        QCOMPARE(Json::sanitize(QJsonValue(QJsonValue::Undefined)), QJsonValue(QString()));
        QCOMPARE(Json::sanitize(QJsonValue(QJsonValue::Null), QJsonValue(7)), QJsonValue(7));
        QCOMPARE(Json::sanitize(QJsonValue(0)), QJsonValue(0)); // zero is a value, not "missing"
        QCOMPARE(Json::sanitize(QJsonValue(false), QJsonValue(true)), QJsonValue(false));
        QCOMPARE(Json::string(QJsonValue(12345.0)), QStringLiteral("12345"));
        QCOMPARE(Json::string(QJsonValue(QStringLiteral("x"))), QStringLiteral("x"));

        // Invalid UTF-8 is replaced, not a parse failure.
        const QByteArray body = "{\"results\": [\"caf\xff\"]}";
        const QJsonValue v = Json::parseLenient(body);
        QVERIFY(v.isObject());
        QCOMPARE(v.toObject().value("results").toArray().at(0).toString(),
                 QString::fromUtf8("caf\xEF\xBF\xBD"));
        QString err;
        QVERIFY(Json::parseLenient("{\"results\": [1, 2", &err).isUndefined());
        QVERIFY(!err.isEmpty());
        QVERIFY(Json::parseLenient("").isUndefined());
    }

    // ---- device facts ----

    void platformFacts_data()
    {
        QTest::addColumn<QString>("machine");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("mirroring");
        QTest::newRow("iFPGA") << "iFPGA" << 1024 << "iFPGA" << 22 << false;
        QTest::newRow("iPhone1,1") << "iPhone1,1" << 1024 << "iPhone 1G" << 4 << false;
        QTest::newRow("iPhone1,2") << "iPhone1,2" << 1024 << "iPhone 3G" << 5 << false;
        QTest::newRow("iPhone2,1") << "iPhone2,1" << 1024 << "iPhone 3GS" << 6 << false;
        QTest::newRow("iPhone3,1") << "iPhone3,1" << 1024 << "iPhone 4 (GSM)" << 7 << false;
        QTest::newRow("iPhone3,3") << "iPhone3,3" << 1024 << "iPhone 4 (CDMA)" << 8 << false;
        QTest::newRow("iPhone4,1") << "iPhone4,1" << 1024 << "iPhone 4S (GSM)" << 9 << true;
        QTest::newRow("iPhone4,3") << "iPhone4,3" << 1024 << "iPhone 4S (CDMA)" << 9 << true;
        QTest::newRow("iPhone4,9 unknown") << "iPhone4,9" << 1024 << "Unknown iPhone" << 9 << true;
        QTest::newRow("iPod1,1") << "iPod1,1" << 1024 << "iPod touch 1G" << 10 << false;
        QTest::newRow("iPod2,1") << "iPod2,1" << 1024 << "iPod touch 2G" << 11 << false;
        QTest::newRow("iPod3,1") << "iPod3,1" << 1024 << "iPod touch 3G" << 12 << false;
        QTest::newRow("iPod4,1") << "iPod4,1" << 1024 << "iPod touch 4G" << 13 << false;
        QTest::newRow("iPad1,1") << "iPad1,1" << 1024 << "iPad 1G" << 14 << false;
        QTest::newRow("iPad2,1") << "iPad2,1" << 1024 << "iPad 2G (WiFi)" << 15 << true;
        QTest::newRow("iPad2,2") << "iPad2,2" << 1024 << "iPad 2G (3G GSM)" << 16 << true;
        QTest::newRow("iPad2,3") << "iPad2,3" << 1024 << "iPad 2G (3G CDMA)" << 17 << true;
        QTest::newRow("iPad3,1") << "iPad3,1" << 1024 << "iPad 3G (WiFi)" << 21 << false;
        QTest::newRow("iPad3,2") << "iPad3,2" << 1024 << "iPad 3G (4G GSM)" << 21 << false;
        QTest::newRow("iPad3,3") << "iPad3,3" << 1024 << "iPad 3G (4G CDMA)" << 21 << false;
        QTest::newRow("AppleTV2,1") << "AppleTV2,1" << 1024 << "Apple TV 2G" << 18 << false;
        QTest::newRow("unknown iPhone") << "iPhone9,9" << 1024 << "Unknown iPhone" << 19 << false;
        QTest::newRow("unknown iPod") << "iPod9,1" << 1024 << "Unknown iPod" << 20 << false;
        QTest::newRow("unknown iPad") << "iPad9,1" << 1024 << "Unknown iPad" << 21 << false;
        QTest::newRow("x86_64 wide") << "x86_64" << 1024 << "iPad Simulator" << 3 << false;
        QTest::newRow("x86_64 narrow") << "x86_64" << 767 << "iPhone Simulator" << 2 << false;
        QTest::newRow("i386 at 768") << "i386" << 768 << "iPad Simulator" << 3 << false;
        QTest::newRow("i86 narrow") << "i86" << 320 << "iPhone Simulator" << 2 << false;
        QTest::newRow("aarch64") << "aarch64" << 1024 << "Unknown iOS device" << 0 << false;
    }

    void platformFacts()
    {
        QFETCH(QString, machine);
        QFETCH(int, width);
        QFETCH(QString, description);
        QFETCH(int, type);
        QFETCH(bool, mirroring);
        Device::setPlatformNameForTesting(machine);
        Device::setMainScreenWidthForTesting(width);
        QCOMPARE(Device::platformName(), machine);
        QCOMPARE(Device::platformDescription(), description);
        QCOMPARE(Device::platformType(), type);
        QCOMPARE(Device::supportsSystemMirroring(), mirroring);
    }

    void deviceIdentifiers()
    {
        QCOMPARE(Device::userInterfaceIdiom(), int(Device::IdiomPad));
        Device::setMacAddressForTesting(QStringLiteral("0A:1B:2C:3D:4E:5F"), true);
        QCOMPARE(Device::uniqueDeviceIdentifier(),
                 Text::stringFromMD5(QStringLiteral("0A:1B:2C:3D:4E:5F") + Bundle::identifier()));
        QCOMPARE(Device::uniqueGlobalDeviceIdentifier(),
                 Text::stringFromMD5(QStringLiteral("0A:1B:2C:3D:4E:5F")));
        QCOMPARE(Device::uniqueDeviceIdentifier().size(), 32);

        // Without an address the formula has no address part; the global one is none.
        Device::setMacAddressForTesting(std::nullopt, true);
        QCOMPARE(Device::uniqueDeviceIdentifier(), Text::stringFromMD5(Bundle::identifier()));
        QVERIFY(Device::uniqueGlobalDeviceIdentifier().isNull());

        // The real address, where the machine has one, is in the fixed upper-case form.
        Device::setMacAddressForTesting(std::nullopt, false);
        if (auto mac = Device::macaddress()) {
            static const QRegularExpression form(QStringLiteral("^([0-9A-F]{2}:){5}[0-9A-F]{2}$"));
            QVERIFY2(form.match(*mac).hasMatch(), qPrintable(*mac));
        }
    }

    void bundleFactsComeFromTheBuild()
    {
        QVERIFY(!Bundle::version().isEmpty());
        QVERIFY(Bundle::version().contains(QLatin1Char('.')));
        QCOMPARE(Bundle::identifier(), QStringLiteral("org.zrp.tablet"));
        QCOMPARE(Bundle::displayName(), QStringLiteral("ZRP"));
    }

    void versionComparison_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("equal") << "1.0.0"
                               << "1.0.0" << 0;
        QTest::newRow("numeric not lexical") << "1.10"
                                             << "1.9" << 1;
        QTest::newRow("longer is newer") << "1.0.1"
                                         << "1.0" << 1;
        QTest::newRow("pre-release is older") << "2.0b3"
                                              << "2.0" << -1;
        QTest::newRow("pre-releases by text") << "2.0a1"
                                              << "2.0b1" << -1;
        QTest::newRow("leading zeros") << "1.010"
                                       << "1.10" << 0;
        QTest::newRow("long numbers") << "1.123456789012345678901"
                                      << "1.123456789012345678900" << 1;
        QTest::newRow("one part higher") << "1.0.0.1"
                                         << "1.0.0" << 1;
    }

    void versionComparison()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(VersionComparator::compare(a, b), expected);
        QCOMPARE(VersionComparator::compare(b, a), -expected);
    }

    // ---- configuration ----

    void configDefaultsIniAndSandbox()
    {
        Config c;
        QCOMPARE(c.url("catalog.base_url").path(), QStringLiteral("/vexo/v1/"));
        QCOMPARE(c.value("catalog.tablet_consumer_key").size(), 44);
        QCOMPARE(c.value("catalog.phone_consumer_key").size(), 46);
        QCOMPARE(c.value("catalog.tablet_secret_key").size(), 36);

        QTemporaryDir dir;
        const QString ini = dir.filePath("zrp.ini");
        QFile f(ini);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[catalog]\nbase_url = https://staging.example/vexo/v1/\n[analytics]\naccount_id = ZA-1\n");
        f.close();
        Error e;
        QVERIFY(c.loadIni(ini, &e));
        QCOMPARE(c.value("catalog.base_url"), QStringLiteral("https://staging.example/vexo/v1/"));
        QCOMPARE(c.value("analytics.account_id"), QStringLiteral("ZA-1"));

        // A typo is refused whole: nothing of that file is applied.
        QFile g(dir.filePath("bad.ini"));
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write("[catalog]\nbase_url = https://other.example/vexo/v1/\nbase_ulr = x\n");
        g.close();
        QVERIFY(!c.loadIni(g.fileName(), &e));
        QVERIFY(e.message().contains(QStringLiteral("catalog.base_ulr")));
        QCOMPARE(c.value("catalog.base_url"), QStringLiteral("https://staging.example/vexo/v1/"));
        QVERIFY(!c.loadIni(dir.filePath("missing.ini"), &e));

        c.rebindToSandbox(QUrl(QStringLiteral("http://127.0.0.1:5555/")));
        QCOMPARE(c.value("catalog.base_url"), QStringLiteral("http://127.0.0.1:5555/vexo/v1/"));
        QCOMPARE(c.value("remote_config.url"),
                 QStringLiteral("http://127.0.0.1:5555/config/ipad-conf.plist"));
        QCOMPARE(c.value("analytics.collector_url"), QStringLiteral("http://127.0.0.1:5555/collect"));
        // Keys are not URLs and stay as they were.
        QCOMPARE(c.value("analytics.account_id"), QStringLiteral("ZA-1"));
    }

    void configDataDirs()
    {
        Config c;
        qputenv("XDG_DATA_HOME", "/tmp/xdg-data");
        qputenv("XDG_CACHE_HOME", "/tmp/xdg-cache");
        QCOMPARE(c.settingsPath(), QStringLiteral("/tmp/xdg-data/zrp-tablet/settings.sqlite"));
        QCOMPARE(c.httpCacheDir(), QStringLiteral("/tmp/xdg-cache/zrp-tablet/http-cache"));
        c.setDataDir(QStringLiteral("/tmp/zrp-one"));
        QCOMPARE(c.settingsPath(), QStringLiteral("/tmp/zrp-one/settings.sqlite"));
        QCOMPARE(c.httpCacheDir(), QStringLiteral("/tmp/zrp-one/http-cache"));
        QCOMPARE(c.calendarPath(), QStringLiteral("/tmp/zrp-one/calendar.ics"));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "test_core.moc"
