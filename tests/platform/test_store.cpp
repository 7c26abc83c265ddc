#include "core/Clock.h"
#include "core/Config.h"
#include "core/WorkQueue.h"
#include "store/KeyValueStore.h"

#include <QCborArray>
#include <QCborMap>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <memory>
#include <vector>

using namespace zrp;

namespace {

int storeConnectionCount()
{
    int n = 0;
    for (const QString& name : QSqlDatabase::connectionNames())
        n += name.startsWith(QLatin1String("zrp.kv.")) ? 1 : 0;
    return n;
}

// Writes raw bytes under a key behind the store's back, the way a damaged or foreign writer would.
void writeRawValue(const QString& path, const QString& key, const QByteArray& bytes)
{
    const QString name = QStringLiteral("raw-writer");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO kv (key, value) VALUES (?, ?)"));
        q.addBindValue(key);
        q.addBindValue(bytes);
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(QStringLiteral("sub/folder/settings.sqlite")); }

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup()
    {
        KeyValueStore::setShared(nullptr);
        Clock::setShared(nullptr);
        m_dir.reset();
    }

    void valuesKeepTheirTypes_data()
    {
        QTest::addColumn<QCborValue>("value");
        QTest::addColumn<QCborValue>("expected");

        QTest::newRow("string") << QCborValue(QStringLiteral("94110")) << QCborValue(QStringLiteral("94110"));
        QTest::newRow("empty string") << QCborValue(QString()) << QCborValue(QString());
        QTest::newRow("non-ASCII string")
            << QCborValue(QStringLiteral("Ñandú — 東京 🎬")) << QCborValue(QStringLiteral("Ñandú — 東京 🎬"));
        QTest::newRow("integer") << QCborValue(qint64(-42)) << QCborValue(qint64(-42));
        QTest::newRow("64-bit integer") << QCborValue(std::numeric_limits<qint64>::max())
                                        << QCborValue(std::numeric_limits<qint64>::max());
        QTest::newRow("true") << QCborValue(true) << QCborValue(true);
        QTest::newRow("false") << QCborValue(false) << QCborValue(false);
        QTest::newRow("double") << QCborValue(0.1) << QCborValue(0.1);
        QTest::newRow("integral double") << QCborValue(3.0) << QCborValue(3.0);
        QTest::newRow("infinity") << QCborValue(-qInf()) << QCborValue(-qInf());
        QTest::newRow("UTC date with ms")
            << QCborValue(utc(2026, 1, 5, 12, 0, 0, 123)) << QCborValue(utc(2026, 1, 5, 12, 0, 0, 123));
        // A date with an offset comes back as the same instant in UTC.
        QTest::newRow("offset date") << QCborValue(QDateTime(QDate(2026, 3, 1), QTime(9, 30),
                                                             Qt::OffsetFromUTC, -5 * 3600))
                                     << QCborValue(utc(2026, 3, 1, 14, 30, 0));
        QTest::newRow("bytes with NULs") << QCborValue(QByteArray("\x00\x01\xff\x00z", 5))
                                         << QCborValue(QByteArray("\x00\x01\xff\x00z", 5));
        QTest::newRow("empty bytes") << QCborValue(QByteArray()) << QCborValue(QByteArray());

        QCborArray list{QStringLiteral("a"), 1, true, 2.5, QByteArray("blob")};
        QTest::newRow("list") << QCborValue(list) << QCborValue(list);

        // The shape of a history entry: a catalog dictionary plus a position and a local-time date.
        QCborMap entryIn{{QStringLiteral("resource_uri"), QStringLiteral("/vexo/v1/video/9/")},
                         {QStringLiteral("seek_time"), 125},
                         {QStringLiteral("last_watched"),
                          QCborValue(QDateTime(QDate(2026, 1, 5), QTime(13, 0), Qt::OffsetFromUTC, 3600))},
                         {QStringLiteral("program"),
                          QCborMap{{QStringLiteral("title"), QStringLiteral("Night Sky")},
                                   {QStringLiteral("aired"),
                                    QCborArray{QCborValue(utc(2025, 12, 24, 20, 0, 0)),
                                               QCborMap{{QStringLiteral("at"),
                                                         QCborValue(utc(1969, 7, 20, 20, 17, 40))}}}}}}};
        QCborMap entryOut = entryIn;
        entryOut[QStringLiteral("last_watched")] = QCborValue(utc(2026, 1, 5, 12, 0, 0));
        QTest::newRow("nested map with dates") << QCborValue(entryIn) << QCborValue(entryOut);
        QTest::newRow("array of maps")
            << QCborValue(QCborArray{entryIn, entryIn}) << QCborValue(QCborArray{entryOut, entryOut});
    }

    void valuesKeepTheirTypes()
    {
        QFETCH(QCborValue, value);
        QFETCH(QCborValue, expected);
        {
            KeyValueStore store(path());
            QVERIFY(store.isOpen());
            Error error;
            QVERIFY(store.setValue(QStringLiteral("k"), value, &error));
            QVERIFY(error.isNull());
            // Read on the writer's side and, below, from a store opened afresh on the same file.
            const std::optional<QCborValue> same = store.value(QStringLiteral("k"));
            QVERIFY(same.has_value());
            QCOMPARE(*same, expected);
        }
        KeyValueStore reopened(path());
        const std::optional<QCborValue> read = reopened.value(QStringLiteral("k"));
        QVERIFY(read.has_value());
        QCOMPARE(read->type(), expected.type());
        QCOMPARE(*read, expected);
        // Dates come back in UTC, wherever they sit.
        std::function<void(const QCborValue&)> checkUtc = [&](const QCborValue& v) {
            if (v.isDateTime())
                QCOMPARE(v.toDateTime().timeSpec(), Qt::UTC);
            for (const QCborValue& e : v.toArray())
                checkUtc(e);
            for (auto it = v.toMap().cbegin(); it != v.toMap().cend(); ++it)
                checkUtc(it.value());
        };
        checkUtc(*read);
    }

    void keysRemovalAndBatches()
    {
        KeyValueStore store(path());
        QVERIFY(store.setValues({{QStringLiteral("b.2"), 2},
                                 {QStringLiteral("a"), 0},
                                 {QStringLiteral("b.10"), 10},
                                 {QStringLiteral("b.1"), 1},
                                 {QStringLiteral("bz"), 9},
                                 {QStringLiteral("c"), 3}}));
        QCOMPARE(store.keys(), (QStringList{"a", "b.1", "b.10", "b.2", "bz", "c"}));
        QCOMPARE(store.keys(QStringLiteral("b.")), (QStringList{"b.1", "b.10", "b.2"}));
        QCOMPARE(store.keys(QStringLiteral("nothing")), QStringList());

        QVERIFY(store.contains(QStringLiteral("a")));
        QVERIFY(store.remove(QStringLiteral("a")));
        QVERIFY(!store.contains(QStringLiteral("a")));
        QVERIFY(!store.value(QStringLiteral("a")).has_value());
        QVERIFY(store.remove(QStringLiteral("never-there"))); // removing nothing is no failure

        // An undefined value removes, in a batch too.
        QVERIFY(store.setValues({{QStringLiteral("b.1"), QCborValue()}, {QStringLiteral("d"), 4}}));
        QVERIFY(store.remove(QStringList{QStringLiteral("b.2"), QStringLiteral("bz")}));
        QCOMPARE(store.keys(), (QStringList{"b.10", "c", "d"}));

        Error error;
        QVERIFY(!store.setValue(QString(), 1, &error));
        QCOMPARE(error.code, int(KeyValueStoreError::InvalidKey));
        // A batch with a bad key writes none of it.
        QVERIFY(!store.setValues({{QStringLiteral("e"), 5}, {QString(), 6}}));
        QVERIFY(!store.contains(QStringLiteral("e")));

        QVERIFY(store.clear());
        QCOMPARE(store.keys(), QStringList());
        KeyValueStore other(path());
        QCOMPARE(other.keys(), QStringList());
    }

    // Each call is committed when it returns: another connection sees it at once, and so does a
    // plain SQLite reader that knows nothing of the store.
    void writesAreCommittedBeforeReturning()
    {
        KeyValueStore writer(path());
        KeyValueStore reader(path());
        for (int i = 0; i < 5; ++i) {
            QVERIFY(writer.setValue(QStringLiteral("n"), i));
            QCOMPARE(reader.value(QStringLiteral("n")).value_or(QCborValue()).toInteger(), i);
        }
        QVERIFY(writer.remove(QStringLiteral("n")));
        QVERIFY(!reader.contains(QStringLiteral("n")));
        QVERIFY(writer.setValue(QStringLiteral("last"), QStringLiteral("kept")));

        const QString name = QStringLiteral("plain-reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path());
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            QVERIFY(db.open());
            QSqlQuery q(QStringLiteral("SELECT value FROM kv WHERE key = 'last'"), db);
            QVERIFY(q.next());
            QCOMPARE(QCborValue::fromCbor(q.value(0).toByteArray()), QCborValue(QStringLiteral("kept")));
            QSqlQuery mode(QStringLiteral("PRAGMA journal_mode"), db);
            QVERIFY(mode.next());
            QCOMPARE(mode.value(0).toString(), QStringLiteral("wal"));
        }
        QSqlDatabase::removeDatabase(name);
    }

    void undecodableValuesReadAsAbsent_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << QByteArray("\xff\xfe not cbor at all", 18);
        QTest::newRow("cut map") << QCborValue(
                                        QCborMap{{QStringLiteral("title"), QStringLiteral("Night Sky")}})
                                        .toCbor()
                                        .chopped(3);
        QTest::newRow("trailing bytes") << QCborValue(7).toCbor() + QByteArray("\x01\x02", 2);
        QTest::newRow("empty") << QByteArray("");
    }

    void undecodableValuesReadAsAbsent()
    {
        QFETCH(QByteArray, bytes);
        KeyValueStore store(path());
        QVERIFY(store.setValue(QStringLiteral("good"), 1));
        writeRawValue(path(), QStringLiteral("bad"), bytes);
        QVERIFY(!store.value(QStringLiteral("bad")).has_value());
        QVERIFY(!store.contains(QStringLiteral("bad")));
        QCOMPARE(store.value(QStringLiteral("good")).value_or(QCborValue()).toInteger(), 1);
        // Overwriting the bad value through the store mends it.
        QVERIFY(store.setValue(QStringLiteral("bad"), 2));
        QCOMPARE(store.value(QStringLiteral("bad")).value_or(QCborValue()).toInteger(), 2);
    }

    void manyThreadsWriteAtOnce()
    {
        constexpr int threads = 6;
        constexpr int writes = 40;
        auto store = std::make_unique<KeyValueStore>(path());
        QVERIFY(store->setValue(QStringLiteral("main"), true));
        std::vector<std::unique_ptr<QThread>> pool;
        std::atomic<int> failures{0};
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back(QThread::create([&, t] {
                for (int i = 0; i < writes; ++i) {
                    const QString key = QStringLiteral("t%1.%2").arg(t).arg(i, 3, 10, QLatin1Char('0'));
                    // A read between writes keeps readers and writers interleaved.
                    if (!store->setValue(key, QCborMap{{QStringLiteral("t"), t}, {QStringLiteral("i"), i}}) ||
                        !store->contains(key))
                        ++failures;
                }
            }));
            pool.back()->start();
        }
        for (auto& t : pool)
            QVERIFY(t->wait(120000));
        QCOMPARE(failures.load(), 0);
        // Threads that ended closed their own connections; only the main thread's is left. A
        // thread's last act (after wait() returns) is to run its thread-local clean-up.
        QTRY_COMPARE(storeConnectionCount(), 1);

        KeyValueStore reopened(path());
        for (int t = 0; t < threads; ++t) {
            QCOMPARE(reopened.keys(QStringLiteral("t%1.").arg(t)).size(), writes);
            const QCborValue last =
                reopened.value(QStringLiteral("t%1.%2").arg(t).arg(writes - 1, 3, 10, QLatin1Char('0')))
                    .value_or(QCborValue());
            QCOMPARE(last.toMap().value(QStringLiteral("i")).toInteger(), writes - 1);
        }
        store.reset();
        QCOMPARE(storeConnectionCount(), 1); // the reopened store's
    }

    // A store destroyed while a long-lived thread still holds a connection closes that one too.
    void destroyingTheStoreClosesOtherThreadsConnections()
    {
        WorkQueue queue(QStringLiteral("store-user"));
        auto store = std::make_unique<KeyValueStore>(path());
        queue.sync([&] { QVERIFY(store->setValue(QStringLiteral("from-queue"), 1)); });
        QCOMPARE(storeConnectionCount(), 2);
        store.reset();
        QCOMPARE(storeConnectionCount(), 0);

        // The thread goes on and opens a fresh connection for a new store on the same file.
        auto again = std::make_unique<KeyValueStore>(path());
        bool seen = false;
        queue.sync([&] { seen = again->contains(QStringLiteral("from-queue")); });
        QVERIFY(seen);
        again.reset();
    }

    void damagedFileIsMovedAside_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("not a database") << QStringLiteral("text");
        QTest::newRow("truncated header") << QStringLiteral("short");
        QTest::newRow("corrupt pages") << QStringLiteral("pages");
    }

    void damagedFileIsMovedAside()
    {
        QFETCH(QString, damage);
        VirtualClock clock(utc(2026, 1, 5, 12, 0, 0));
        VirtualClock::Scope scope(clock);
        QVERIFY(QDir().mkpath(QFileInfo(path()).absolutePath()));

        if (damage == QLatin1String("text")) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("SelectedZip=94110\nthis is not a database\n");
        } else if (damage == QLatin1String("short")) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("SQLite form");
        } else {
            {
                KeyValueStore store(path());
                QList<std::pair<QString, QCborValue>> rows;
                for (int i = 0; i < 400; ++i)
                    rows.append({QStringLiteral("key.%1").arg(i), QByteArray(300, char('a' + i % 26))});
                QVERIFY(store.setValues(rows));
            }
            // Everything is in the main file once the last connection closed; scribble over
            // the b-tree pages after the first.
            QFile f(path());
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.size() > 8 * 4096);
            for (qint64 page = 1; page * 4096 < f.size(); page += 2) {
                f.seek(page * 4096);
                f.write(QByteArray(64, '\x5a'));
            }
        }
        QFile original(path());
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray originalBytes = original.readAll();
        original.close();

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("moved aside to .*corrupt-20260105T120000Z")));
        KeyValueStore store(path());
        QVERIFY(store.isOpen());
        QCOMPARE(store.movedAsidePath(), path() + QStringLiteral(".corrupt-20260105T120000Z"));
        QFile moved(store.movedAsidePath());
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), originalBytes); // kept byte for byte, never deleted

        // A fresh, working store took its place.
        QCOMPARE(store.keys(), QStringList());
        QVERIFY(store.setValue(QStringLiteral("SelectedZip"), QStringLiteral("94110")));
        KeyValueStore reopened(path());
        QVERIFY(reopened.movedAsidePath().isEmpty());
        QCOMPARE(reopened.value(QStringLiteral("SelectedZip")).value_or(QCborValue()).toString(),
                 QStringLiteral("94110"));
    }

    // A second damaged file in the same second gets its own name instead of replacing the first.
    void movedAsideNamesDoNotCollide()
    {
        VirtualClock clock(utc(2026, 1, 5, 12, 0, 0));
        VirtualClock::Scope scope(clock);
        QVERIFY(QDir().mkpath(QFileInfo(path()).absolutePath()));
        QStringList moved;
        for (int i = 0; i < 2; ++i) {
            QFile f(path());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("junk ") + QByteArray::number(i));
            f.close();
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("moved aside")));
            KeyValueStore store(path());
            moved << store.movedAsidePath();
        }
        QCOMPARE(moved, (QStringList{path() + QStringLiteral(".corrupt-20260105T120000Z"),
                                     path() + QStringLiteral(".corrupt-20260105T120000Z-2")}));
        for (int i = 0; i < 2; ++i) {
            QFile f(moved[i]);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("junk ") + QByteArray::number(i));
        }
    }

    void fullDiskFailsCleanly()
    {
        KeyValueStore store(path());
        QVERIFY(store.setValue(QStringLiteral("SelectedZip"), QStringLiteral("94110")));
        QVERIFY(store.setValue(QStringLiteral("history"), QCborArray{1, 2, 3}));

        // No room to grow: the page limit at (below) the current size.
        store.setMaxPageCount(1);
        const QByteArray big(200 * 1024, 'x');
        Error error;
        QVERIFY(!store.setValue(QStringLiteral("blob"), big, &error));
        QCOMPARE(error.domain, KeyValueStoreError::domain);
        QCOMPARE(error.code, int(KeyValueStoreError::StoreFull));
        QVERIFY2(error.message().contains(QLatin1String("blob")), qPrintable(error.message()));

        // A batch that does not fit keeps none of its writes, and nothing older is touched.
        error = Error();
        QVERIFY(!store.setValues({{QStringLiteral("SelectedZip"), QStringLiteral("10001")},
                                  {QStringLiteral("history"), QCborValue()},
                                  {QStringLiteral("blob"), big}},
                                 &error));
        QCOMPARE(error.code, int(KeyValueStoreError::StoreFull));
        KeyValueStore other(path());
        QCOMPARE(other.keys(), (QStringList{"SelectedZip", "history"}));
        QCOMPARE(other.value(QStringLiteral("SelectedZip")).value_or(QCborValue()).toString(),
                 QStringLiteral("94110"));
        QCOMPARE(other.value(QStringLiteral("history")).value_or(QCborValue()),
                 QCborValue(QCborArray{1, 2, 3}));

        // Room again: the same write succeeds.
        store.setMaxPageCount(0);
        QVERIFY(store.setValue(QStringLiteral("blob"), big));
        QCOMPARE(other.value(QStringLiteral("blob")).value_or(QCborValue()).toByteArray().size(), big.size());
    }

    void readOnlyFileFailsCleanly()
    {
        {
            KeyValueStore store(path());
            QVERIFY(store.setValue(QStringLiteral("kept"), 1));
        }
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QFile probe(path());
        if (probe.open(QIODevice::ReadWrite))
            QSKIP("This user may write read-only files (root); the full-disk case covers failed writes.");

        KeyValueStore store(path());
        Error error;
        QVERIFY(!store.setValue(QStringLiteral("new"), 2, &error));
        QCOMPARE(error.code, int(KeyValueStoreError::ReadOnly));
        QCOMPARE(store.value(QStringLiteral("kept")).value_or(QCborValue()).toInteger(), 1);
    }

    void unopenableStoreFailsEveryCall()
    {
        // A regular file where a folder must go.
        QFile blocker(m_dir->filePath(QStringLiteral("sub")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        KeyValueStore store(path());
        QVERIFY(!store.isOpen());
        QCOMPARE(store.openError().code, int(KeyValueStoreError::OpenFailed));
        Error error;
        QVERIFY(!store.setValue(QStringLiteral("k"), 1, &error));
        QCOMPARE(error.code, int(KeyValueStoreError::OpenFailed));
        QVERIFY(!store.value(QStringLiteral("k")).has_value());
        QCOMPARE(store.keys(), QStringList());
    }

    void sharedStoreCanBeReplaced()
    {
        Config::shared().setDataDir(m_dir->path());
        KeyValueStore* fallback = KeyValueStore::shared();
        QVERIFY(fallback);
        QCOMPARE(fallback->path(), QFileInfo(Config::shared().settingsPath()).absoluteFilePath());
        QVERIFY(fallback->setValue(QStringLiteral("k"), 1));
        QVERIFY(QFile::exists(Config::shared().settingsPath()));

        KeyValueStore mine(path());
        KeyValueStore::setShared(&mine);
        QCOMPARE(KeyValueStore::shared(), &mine);
        KeyValueStore::setShared(nullptr);
        QCOMPARE(KeyValueStore::shared(), fallback);
        Config::shared().resetToDefaults();
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
