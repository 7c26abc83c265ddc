#include "LoopbackServer.h"
#include "SandboxControl.h"
#include "SandboxServer.h"
#include "analytics/AnalyticsTracker.h"
#include "core/Config.h"
#include "core/Device.h"
#include "net/HttpClient.h"
#include "notify/PushClient.h"
#include "store/KeyValueStore.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace zrp;
using zrp::test::LoopbackServer;

Q_DECLARE_METATYPE(PushNotification)

namespace {

const QString kMac = QStringLiteral("0A:1B:2C:3D:4E:5F");

QString md5Hex(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

// Not a QObject on purpose: nothing but the client's own cancelling keeps a late answer away.
class Recorder : public PushClientDelegate
{
public:
    int registered = 0;
    QList<Error> registerFailures;
    QList<QList<PushNotification>> fetched;
    QList<Error> fetchFailures;

    void registerDeviceSucceeded() override { ++registered; }
    void registerDeviceFailed(const Error& error) override { registerFailures << error; }
    void getNewNotificationsSucceeded(const QList<PushNotification>& list) override { fetched << list; }
    void getNewNotificationsFailed(const Error& error) override { fetchFailures << error; }
    int calls() const
    {
        return registered + int(registerFailures.size() + fetched.size() + fetchFailures.size());
    }
};

using test::fetch;

PushNotification note(const char* shortText, std::optional<QString> longText)
{
    return PushNotification{QString::fromUtf8(shortText), std::move(longText)};
}

} // namespace

class TestPushClient : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<KeyValueStore> m_store;
    std::unique_ptr<SandboxServer> m_sandbox;
    std::unique_ptr<LoopbackServer> m_loop;

    QUrl sandboxURL(const QString& path) const { return QUrl(m_sandbox->baseUrl().toString() + path); }
    void useBase(const QString& base) { Config::shared().setValue(QStringLiteral("push.base_url"), base); }
    QString expectedDeviceId() const { return md5Hex(kMac + Bundle::identifier()); }
    QJsonArray registrations()
    {
        const HttpResponse r = fetch(sandboxURL(QStringLiteral("/_sandbox/push/registrations")));
        return QJsonDocument::fromJson(r.body).object().value(QLatin1String("registrations")).toArray();
    }
    void queue(const QJsonObject& order)
    {
        const HttpResponse r = fetch(sandboxURL(QStringLiteral("/_sandbox/push/notifications")), "POST",
                                     QJsonDocument(order).toJson(QJsonDocument::Compact));
        QCOMPARE(r.status, 200);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        Device::setMacAddressForTesting(kMac, true);
        m_store = std::make_unique<KeyValueStore>(m_dir.filePath(QStringLiteral("settings.sqlite")));
        AnalyticsTracker* tracker = AnalyticsTracker::sharedInstance();
        tracker->setStore(m_store.get());
        // A long period: hits stay queued where the test can read them.
        QVERIFY(tracker->startTrackerWithAccountID(QStringLiteral("ZA-20481-7"), 3600));
        m_sandbox = std::make_unique<SandboxServer>(SandboxOptions{});
        QString error;
        QVERIFY2(m_sandbox->start(&error), qPrintable(error));
        m_loop = std::make_unique<LoopbackServer>();
    }

    void cleanupTestCase()
    {
        AnalyticsTracker::resetSharedInstance();
        m_loop.reset();
        m_sandbox.reset();
        m_store.reset();
        Device::setMacAddressForTesting(std::nullopt, false);
    }

    void init()
    {
        fetch(sandboxURL(QStringLiteral("/_sandbox/reset")), "POST");
        m_loop->releaseHeld();
        m_loop->reset();
        Config::shared().resetToDefaults();
        useBase(m_sandbox->baseUrl().toString() + QStringLiteral("/push/"));
        Device::setMacAddressForTesting(kMac, true);
    }

    void identifiers()
    {
        QCOMPARE(PushClient::appId(), Bundle::identifier());
        QCOMPARE(PushClient::deviceId(), expectedDeviceId());
        QCOMPARE(PushClient::tokenText(QByteArray::fromHex("00ff10ab3c5d6e7f99")),
                 QStringLiteral("00ff10ab3c5d6e7f99"));

        // Without a hardware address every such device would share one id; the machine's own
        // id stands in for the address.
        Device::setMacAddressForTesting(std::nullopt, true);
        const QByteArray machine = QSysInfo::machineUniqueId();
        if (machine.isEmpty())
            QSKIP("this machine has no machine id");
        QCOMPARE(PushClient::deviceId(), md5Hex(QString::fromLatin1(machine) + Bundle::identifier()));
        QVERIFY(PushClient::deviceId() != md5Hex(Bundle::identifier()));
    }

    void registerDevice_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<int>("faultStatus"); // the service's answer status; 0 a normal answer

        const QByteArray token =
            QByteArray::fromHex("7c1f0a9e5b3d2c4e8f6a1b0d9c7e5f3a2b4c6d8e0f1a3b5c7d9e1f2a4b6c8d0e");
        QTest::newRow("token in its text form") << token << 0;
        QTest::newRow("no token") << QByteArray() << 0;
        QTest::newRow("error status still counts") << token << 500;
    }

    void registerDevice()
    {
        QFETCH(QByteArray, token);
        QFETCH(int, faultStatus);
        if (faultStatus) {
            QString error;
            QVERIFY2(m_sandbox->addFault(
                         QStringLiteral("prefix=/push/register/,count=1,status=%1").arg(faultStatus), &error),
                     qPrintable(error));
        }
        AnalyticsTracker* tracker = AnalyticsTracker::sharedInstance();
        const int hitsBefore = tracker->queuedHitCount();

        Recorder delegate;
        PushClient client;
        client.setDelegate(&delegate);
        client.registerDevice(token);

        // The event is recorded before the request goes out.
        QCOMPARE(tracker->queuedHitCount(), hitsBefore + 1);
        const AnalyticsHit hit = tracker->queuedHits().last();
        QCOMPARE(hit.type, QStringLiteral("event"));
        QCOMPARE(hit.category, QStringLiteral("system"));
        QCOMPARE(hit.action, QStringLiteral("push_notification_register"));
        QCOMPARE(hit.label, Bundle::identifier());
        QCOMPARE(hit.value, qint64(-1));

        QTRY_COMPARE(delegate.registered, 1);
        QCOMPARE(delegate.calls(), 1);
        QCOMPARE(client.requestsInFlight(), 0);
        if (faultStatus)
            return; // the service refused it: nothing kept there
        const QJsonArray kept = registrations();
        QCOMPARE(kept.size(), 1);
        const QJsonObject r = kept.first().toObject();
        QCOMPARE(r.value(QStringLiteral("device")).toString(), expectedDeviceId());
        QCOMPARE(r.value(QStringLiteral("app")).toString(), Bundle::identifier());
        QCOMPARE(r.value(QStringLiteral("token")),
                 token.isEmpty() ? QJsonValue() : QJsonValue(QString::fromLatin1(token.toHex())));
    }

    void fetchedBodies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<PushNotification>>("expected");

        using List = QList<PushNotification>;
        QTest::newRow("500 with an HTML page")
            << 500 << QByteArray("<html><body><h1>Internal Server Error</h1></body></html>") << List();
        QTest::newRow("in order, one without long")
            << 200 << QByteArray(R"({"results": [{"short": "Pledge week", "long": "Give today."},
                                                 {"short": "Tonight: Harbor Lights"}]})")
            << List{note("Pledge week", QStringLiteral("Give today.")),
                    note("Tonight: Harbor Lights", std::nullopt)};
        QTest::newRow("invalid UTF-8 in a text")
            << 200 << QByteArray("{\"results\": [{\"short\": \"Caf\xe9\", \"long\": \"ok\"}]}")
            << List{note("Caf\xef\xbf\xbd", QStringLiteral("ok"))};
        QTest::newRow("null long, element not an object skipped")
            << 200 << QByteArray(R"({"results": ["stray", {"short": "Quiz night", "long": null}]})")
            << List{note("Quiz night", std::nullopt)};
        QTest::newRow("no results") << 200 << QByteArray(R"({"count": 0})") << List();
        QTest::newRow("results not a list") << 200 << QByteArray(R"({"results": {"short": "x"}})") << List();
        QTest::newRow("a bare list") << 200 << QByteArray(R"([{"short": "x"}])") << List();
        QTest::newRow("empty body") << 200 << QByteArray() << List();
    }

    void fetchedBodies()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QList<PushNotification>, expected);
        LoopbackServer::Answer answer(status, body);
        answer.contentType = status == 500 ? "text/html" : "application/json";
        m_loop->on(("/push/new/" + expectedDeviceId() + "/" + Bundle::identifier()).toLatin1(), answer);
        useBase(m_loop->url(QStringLiteral("/push/")).toString());

        Recorder delegate;
        PushClient client;
        client.setDelegate(&delegate);
        client.getNewNotifications();
        QTRY_COMPARE(delegate.fetched.size(), 1);
        QCOMPARE(delegate.calls(), 1);
        QCOMPARE(delegate.fetched.first(), expected);
        QCOMPARE(m_loop->requestCount(), 1);
    }

    void transportFailureReported_data()
    {
        QTest::addColumn<bool>("registration");
        QTest::newRow("register") << true;
        QTest::newRow("fetch") << false;
    }

    void transportFailureReported()
    {
        QFETCH(bool, registration);
        // A port that was just given back: nothing listens there.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        useBase(QStringLiteral("http://127.0.0.1:%1/push/").arg(port));

        Recorder delegate;
        PushClient client;
        client.setDelegate(&delegate);
        if (registration)
            client.registerDevice(QByteArray::fromHex("0102"));
        else
            client.getNewNotifications();
        QTRY_COMPARE(delegate.calls(), 1);
        const QList<Error>& failures = registration ? delegate.registerFailures : delegate.fetchFailures;
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures.first().domain, HttpError::domain);
        QCOMPARE(failures.first().code, int(HttpError::ConnectionFailure));
    }

    void notificationsComeOnce()
    {
        const QString device = PushClient::deviceId();
        queue({{"device", device}, {"short", "Quilting Bee returns"}, {"long", "New season Friday at 8."}});
        queue({{"device", device}, {"short", "Schedule change"}});
        queue({{"device", md5Hex(QStringLiteral("someone else"))}, {"short", "Not for this device"}});

        Recorder delegate;
        PushClient client;
        client.setDelegate(&delegate);
        client.getNewNotifications();
        QTRY_COMPARE(delegate.fetched.size(), 1);
        QCOMPARE(
            delegate.fetched.first(),
            (QList<PushNotification>{note("Quilting Bee returns", QStringLiteral("New season Friday at 8.")),
                                     note("Schedule change", std::nullopt)}));

        client.getNewNotifications();
        QTRY_COMPARE(delegate.fetched.size(), 2);
        QCOMPARE(delegate.fetched.last(), QList<PushNotification>());
        QVERIFY(delegate.fetchFailures.isEmpty());
    }

    void destroyedClientNeverCallsBack()
    {
        const QByteArray path = ("/push/new/" + expectedDeviceId() + "/" + Bundle::identifier()).toLatin1();
        LoopbackServer::Answer held(200, R"({"results": [{"short": "late"}]})");
        held.hold = true;
        m_loop->enqueue(path, held);
        m_loop->on(path, LoopbackServer::Answer(200, R"({"results": []})"));
        useBase(m_loop->url(QStringLiteral("/push/")).toString());

        Recorder gone;
        auto client = std::make_unique<PushClient>();
        client->setDelegate(&gone);
        client->getNewNotifications();
        QTRY_COMPARE(m_loop->requestCount(), 1);
        client.reset();
        m_loop->releaseHeld();
        QTRY_COMPARE(m_loop->activeCount(), 0); // the held answer is on its way

        // An exchange begun after it: by the time this one is answered, the held one has been too.
        Recorder witness;
        PushClient other;
        other.setDelegate(&witness);
        other.getNewNotifications();
        QTRY_COMPARE(witness.fetched.size(), 1);
        QCOMPARE(gone.calls(), 0);
    }
};

QTEST_MAIN(TestPushClient)
#include "test_push_client.moc"
