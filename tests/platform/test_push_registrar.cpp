#include "push/PushRegistrar.h"
#include "store/KeyValueStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace zrp;

namespace {

class Recorder : public QObject, public PushRegistrarDelegate
{
public:
    QList<QByteArray> tokens;
    QList<Error> failures;
    QList<QVariantMap> received;

    void didRegisterForRemoteNotificationsWithDeviceToken(const QByteArray& token) override
    {
        tokens << token;
    }
    void didFailToRegisterForRemoteNotificationsWithError(const Error& error) override { failures << error; }
    void didReceiveRemoteNotification(const QVariantMap& payload) override { received << payload; }
};

} // namespace

class TestPushRegistrar : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<KeyValueStore> m_store;

    QString storePath() const { return m_dir->filePath(QStringLiteral("settings.sqlite")); }

    // The shared registrar of a process started on the current store file.
    PushRegistrar* launch(Recorder* delegate)
    {
        PushRegistrar::resetSharedInstance();
        m_store = std::make_unique<KeyValueStore>(storePath());
        KeyValueStore::setShared(m_store.get());
        PushRegistrar* registrar = PushRegistrar::sharedInstance();
        registrar->setDelegate(delegate);
        return registrar;
    }

    QByteArray registerAndWait(PushRegistrar* registrar, Recorder& delegate, int mask)
    {
        const qsizetype before = delegate.tokens.size();
        registrar->registerForRemoteNotificationTypes(mask);
        if (!QTest::qWaitFor([&] { return delegate.tokens.size() > before; }, 5000))
            return QByteArray();
        return delegate.tokens.last();
    }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void cleanup()
    {
        PushRegistrar::resetSharedInstance();
        KeyValueStore::setShared(nullptr);
        m_store.reset();
        m_dir.reset();
    }

    void tokenDescription_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QString>("description");

        QByteArray counting;
        for (int i = 0; i < 32; ++i)
            counting.append(char(i));
        QTest::newRow("32 bytes")
            << counting << "<00010203 04050607 08090a0b 0c0d0e0f 10111213 14151617 18191a1b 1c1d1e1f>";
        QTest::newRow("lower-case, short last group") << QByteArray::fromHex("ABCDEF0123") << "<abcdef01 23>";
        QTest::newRow("empty") << QByteArray() << "<>";
    }

    void tokenDescription()
    {
        QFETCH(QByteArray, token);
        QFETCH(QString, description);
        QCOMPARE(PushRegistrar::tokenDescription(token), description);
    }

    void tokenStableForTheInstallAndMaskKept()
    {
        Recorder delegate;
        PushRegistrar* registrar = launch(&delegate);
        QCOMPARE(registrar->enabledRemoteNotificationTypes(), 0);

        registrar->registerForRemoteNotificationTypes(7);
        // Kept at once, answered later: never inside the caller's stack.
        QCOMPARE(registrar->enabledRemoteNotificationTypes(), 7);
        QVERIFY(delegate.tokens.isEmpty());
        QTRY_COMPARE(delegate.tokens.size(), 1);
        const QByteArray token = delegate.tokens.first();
        QCOMPARE(token.size(), PushRegistrar::kTokenLength);
        QVERIFY(delegate.failures.isEmpty());

        // Unknown bits are dropped; the token does not change with the mask.
        QCOMPARE(registerAndWait(registrar, delegate, RemoteNotificationTypeAlert | 8), token);
        QCOMPARE(registrar->enabledRemoteNotificationTypes(), int(RemoteNotificationTypeAlert));

        // A later launch on the same file: the mask is known before registering, the token is the same.
        Recorder relaunched;
        registrar = launch(&relaunched);
        QCOMPARE(registrar->enabledRemoteNotificationTypes(), int(RemoteNotificationTypeAlert));
        QCOMPARE(registerAndWait(registrar, relaunched, 7), token);

        // Another install gets a token of its own.
        m_dir = std::make_unique<QTemporaryDir>();
        Recorder other;
        registrar = launch(&other);
        QCOMPARE(registrar->enabledRemoteNotificationTypes(), 0);
        const QByteArray otherToken = registerAndWait(registrar, other, 7);
        QCOMPARE(otherToken.size(), PushRegistrar::kTokenLength);
        QVERIFY(otherToken != token);
    }

    void storeThatCannotKeepItFails()
    {
        // The store's folder is a plain file: nothing can be written.
        QFile blocker(m_dir->filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        KeyValueStore broken(blocker.fileName() + QStringLiteral("/settings.sqlite"));
        QVERIFY(!broken.isOpen());

        Recorder delegate;
        PushRegistrar registrar(&broken);
        registrar.setDelegate(&delegate);
        registrar.registerForRemoteNotificationTypes(7);
        QVERIFY(delegate.failures.isEmpty());
        QTRY_COMPARE(delegate.failures.size(), 1);
        QCOMPARE(delegate.failures.first().domain, KeyValueStoreError::domain);
        QVERIFY(delegate.tokens.isEmpty());
        QCOMPARE(registrar.enabledRemoteNotificationTypes(), 0);
    }

    void incomingNotificationReachesDelegate()
    {
        Recorder delegate;
        PushRegistrar* registrar = launch(&delegate);
        const QVariantMap payload{{QStringLiteral("aps"), QVariantMap{{QStringLiteral("badge"), 3}}}};
        registrar->deliverRemoteNotification(payload);
        QVERIFY(delegate.received.isEmpty());
        QTRY_COMPARE(delegate.received.size(), 1);
        QCOMPARE(delegate.received.first(), payload);

        // A delegate gone before the turn comes is forgotten, not called (the sanitizer build
        // catches a call into the freed object).
        auto gone = std::make_unique<Recorder>();
        registrar->setDelegate(gone.get());
        registrar->deliverRemoteNotification(payload);
        registrar->registerForRemoteNotificationTypes(7);
        gone.reset();
        QCOMPARE(registrar->delegate(), nullptr);
        QCoreApplication::processEvents();
        QCOMPARE(delegate.received.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPushRegistrar)
#include "test_push_registrar.moc"
