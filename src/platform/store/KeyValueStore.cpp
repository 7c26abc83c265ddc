#include "KeyValueStore.h"

#include "core/Clock.h"
#include "core/Config.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <map>
#include <set>

namespace zrp {

// SQLite's primary result codes that the store tells apart.
namespace {
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADatabase = 26;
// SQLite's default page limit: what "no cap" means for setMaxPageCount(0).
constexpr qint64 kDefaultMaxPageCount = 1073741823;
constexpr int kBusyTimeoutMs = 10000;

int sqliteCode(const QSqlError& e)
{
    bool ok = false;
    const int code = e.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xff) : -1; // extended codes carry the primary one in the low byte
}

bool isDamage(const QSqlError& e)
{
    const int code = sqliteCode(e);
    return code == kSqliteCorrupt || code == kSqliteNotADatabase;
}

Error makeError(int code, const QString& message, const QString& path, int sqlite = -1)
{
    QVariantMap info{{QStringLiteral("message"), message}, {QStringLiteral("path"), path}};
    if (sqlite >= 0)
        info.insert(QStringLiteral("sqliteCode"), sqlite);
    return Error(KeyValueStoreError::domain, code, info);
}

Error errorFromSql(const QSqlError& e, const QString& what, const QString& path)
{
    const int sqlite = sqliteCode(e);
    int code = KeyValueStoreError::WriteFailed;
    if (sqlite == kSqliteFull)
        code = KeyValueStoreError::StoreFull;
    else if (sqlite == kSqliteReadOnly)
        code = KeyValueStoreError::ReadOnly;
    else if (sqlite == kSqliteBusy || sqlite == kSqliteLocked)
        code = KeyValueStoreError::Busy;
    return makeError(code, QStringLiteral("%1 in %2: %3").arg(what, path, e.text()), path, sqlite);
}

void setError(Error* out, Error e)
{
    if (out)
        *out = std::move(e);
}

// Writers of one file within this process share a mutex, whichever store object they use.
std::shared_ptr<std::mutex> writeMutexFor(const QString& path)
{
    static std::mutex* guard = new std::mutex;
    static auto* table = new std::map<QString, std::weak_ptr<std::mutex>>;
    std::lock_guard lock(*guard);
    std::weak_ptr<std::mutex>& slot = (*table)[path];
    std::shared_ptr<std::mutex> m = slot.lock();
    if (!m) {
        m = std::make_shared<std::mutex>();
        slot = m;
    }
    return m;
}

std::atomic<quint64> g_nextStoreId{1};
std::atomic<quint64> g_nextConnectionId{1};
} // namespace

// One thread's connection to one store.
class KeyValueStore::Connection
{
public:
    QString name;
    QSqlDatabase db;
    qint64 appliedMaxPageCount = 0;

    // QSqlDatabase wants every handle on a connection gone before it is removed.
    void close()
    {
        db.close();
        db = QSqlDatabase();
        // Without an application object Qt refuses (and warns); the process is ending anyway.
        if (QCoreApplication::instance())
            QSqlDatabase::removeDatabase(name);
    }
};

namespace {
struct ThreadConnections;

// Both ends of a connection's life meet here: the thread that owns it ending, and the store
// being destroyed. Leaked on purpose so that threads ending during exit still find it.
std::mutex& registryMutex()
{
    static std::mutex* m = new std::mutex;
    return *m;
}
std::map<quint64, std::set<ThreadConnections*>>& registry()
{
    static auto* r = new std::map<quint64, std::set<ThreadConnections*>>;
    return *r;
}

struct ThreadConnections
{
    std::map<quint64, std::unique_ptr<KeyValueStore::Connection>> byStore;

    ~ThreadConnections()
    {
        std::lock_guard lock(registryMutex());
        for (auto& [storeId, conn] : byStore) {
            auto it = registry().find(storeId);
            if (it != registry().end())
                it->second.erase(this);
            conn->close();
        }
        byStore.clear();
    }
};

thread_local ThreadConnections t_connections;
} // namespace

KeyValueStore::KeyValueStore(const QString& path)
    : m_id(g_nextStoreId++), m_path(QFileInfo(path).absoluteFilePath()), m_writeMutex(writeMutexFor(m_path))
{
    m_open = openFile();
}

KeyValueStore::~KeyValueStore()
{
    std::lock_guard lock(registryMutex());
    auto it = registry().find(m_id);
    if (it == registry().end())
        return;
    // Nobody may use a store while it is destroyed, so closing other threads' connections from
    // here cannot race with their use.
    for (ThreadConnections* tc : it->second) {
        auto c = tc->byStore.find(m_id);
        if (c == tc->byStore.end())
            continue;
        c->second->close();
        tc->byStore.erase(c);
    }
    registry().erase(it);
}

KeyValueStore::Connection* KeyValueStore::connection(Error* error) const
{
    std::lock_guard lock(registryMutex());
    auto found = t_connections.byStore.find(m_id);
    Connection* conn = nullptr;
    if (found != t_connections.byStore.end()) {
        conn = found->second.get();
    } else {
        auto fresh = std::make_unique<Connection>();
        fresh->name = QStringLiteral("zrp.kv.%1.%2").arg(m_id).arg(g_nextConnectionId++);
        fresh->db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), fresh->name);
        fresh->db.setDatabaseName(m_path);
        fresh->db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!fresh->db.open()) {
            const QSqlError e = fresh->db.lastError();
            setError(error, makeError(KeyValueStoreError::OpenFailed,
                                      QStringLiteral("Cannot open the store %1: %2").arg(m_path, e.text()),
                                      m_path, sqliteCode(e)));
            fresh->close();
            return nullptr;
        }
        // Per connection: a commit is on disk (WAL fsynced) before it returns.
        QSqlQuery(QStringLiteral("PRAGMA synchronous=FULL"), fresh->db);
        conn = fresh.get();
        t_connections.byStore.emplace(m_id, std::move(fresh));
        registry()[m_id].insert(&t_connections);
    }
    const qint64 wanted = m_maxPageCount.load();
    if (conn->appliedMaxPageCount != wanted) {
        QSqlQuery q(conn->db);
        q.exec(QStringLiteral("PRAGMA max_page_count=%1").arg(wanted > 0 ? wanted : kDefaultMaxPageCount));
        conn->appliedMaxPageCount = wanted;
    }
    return conn;
}

bool KeyValueStore::openFile()
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        m_openError =
            makeError(KeyValueStoreError::OpenFailed,
                      QStringLiteral("Cannot create the folder %1").arg(info.absolutePath()), m_path);
        return false;
    }

    // SQLite only notices a foreign file at the first read; look at the header at once.
    if (info.exists() && info.size() > 0) {
        QFile f(m_path);
        if (f.open(QIODevice::ReadOnly)) {
            static const QByteArray magic("SQLite format 3\0", 16);
            if (f.read(16) != magic) {
                f.close();
                if (!moveAside(QStringLiteral("not a database")))
                    return false;
            }
        }
    }

    for (int attempt = 0; attempt < 2; ++attempt) {
        Error error;
        Connection* conn = connection(&error);
        if (!conn) {
            m_openError = error;
            return false;
        }
        QString damage;
        QSqlQuery q(conn->db);
        q.setForwardOnly(true);
        // WAL is a property of the file; a read-only file may refuse it and still be readable.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && isDamage(q.lastError()))
            damage = q.lastError().text();
        if (damage.isEmpty()) {
            if (!q.exec(QStringLiteral("PRAGMA quick_check"))) {
                if (isDamage(q.lastError()))
                    damage = q.lastError().text();
                else {
                    m_openError =
                        errorFromSql(q.lastError(), QStringLiteral("Cannot check the store"), m_path);
                    return false;
                }
            } else {
                QStringList problems;
                while (q.next())
                    problems << q.value(0).toString();
                if (problems != QStringList{QStringLiteral("ok")})
                    damage = problems.mid(0, 3).join(QStringLiteral("; ")).simplified();
            }
        }
        if (damage.isEmpty()) {
            q.finish();
            if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS kv (key TEXT PRIMARY KEY NOT NULL, "
                                       "value BLOB NOT NULL)"))) {
                if (isDamage(q.lastError()) && attempt == 0) {
                    damage = q.lastError().text();
                } else {
                    m_openError =
                        errorFromSql(q.lastError(), QStringLiteral("Cannot create the table"), m_path);
                    return false;
                }
            } else {
                return true;
            }
        }
        q = QSqlQuery();
        // Only this thread has a connection while the store opens.
        {
            std::lock_guard lock(registryMutex());
            auto it = t_connections.byStore.find(m_id);
            if (it != t_connections.byStore.end()) {
                it->second->close();
                t_connections.byStore.erase(it);
            }
            registry()[m_id].erase(&t_connections);
        }
        if (!moveAside(damage))
            return false;
    }
    m_openError =
        makeError(KeyValueStoreError::OpenFailed,
                  QStringLiteral("The store %1 is still damaged after starting afresh").arg(m_path), m_path);
    return false;
}

bool KeyValueStore::moveAside(const QString& reason)
{
    const QString stamp = Clock::shared()->now().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = QStringLiteral("%1.corrupt-%2").arg(m_path, stamp);
    for (int n = 2; QFile::exists(target); ++n)
        target = QStringLiteral("%1.corrupt-%2-%3").arg(m_path, stamp).arg(n);

    if (!QFile::rename(m_path, target)) {
        m_openError =
            makeError(KeyValueStoreError::OpenFailed,
                      QStringLiteral("The store %1 is damaged (%2) and could not be moved aside to %3")
                          .arg(m_path, reason, target),
                      m_path);
        qWarning("%s", qPrintable(m_openError.message()));
        return false;
    }
    // The log and index of the damaged file belong to it; a fresh file must never replay them.
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        const QString side = m_path + QLatin1String(suffix);
        if (QFile::exists(side))
            QFile::rename(side, target + QLatin1String(suffix));
    }
    m_movedAsidePath = target;
    qWarning(
        "The settings store %s could not be read (%s); it was moved aside to %s and a fresh store started.",
        qPrintable(m_path), qPrintable(reason), qPrintable(target));
    return true;
}

QCborValue KeyValueStore::normalized(const QCborValue& value)
{
    if (value.isDateTime())
        return QCborValue(value.toDateTime().toUTC());
    if (value.isArray()) {
        QCborArray a = value.toArray();
        for (qsizetype i = 0; i < a.size(); ++i) {
            if (a.at(i).isDateTime() || a.at(i).isArray() || a.at(i).isMap())
                a[i] = normalized(a.at(i));
        }
        return a;
    }
    if (value.isMap()) {
        QCborMap m = value.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) {
            const QCborValue v = it.value();
            if (v.isDateTime() || v.isArray() || v.isMap())
                it.value() = normalized(v);
        }
        return m;
    }
    return value;
}

std::optional<QCborValue> KeyValueStore::value(const QString& key) const
{
    Connection* conn = m_open ? connection(nullptr) : nullptr;
    if (!conn)
        return std::nullopt;
    QSqlQuery q(conn->db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT value FROM kv WHERE key = ?"));
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return std::nullopt;
    const QByteArray bytes = q.value(0).toByteArray();
    QCborStreamReader reader(bytes);
    QCborValue v = QCborValue::fromCbor(reader);
    // Trailing bytes mean the value was cut or overwritten: not ours to trust.
    if (reader.lastError() != QCborError::NoError || reader.currentOffset() != bytes.size() || v.isInvalid())
        return std::nullopt;
    return v;
}

QStringList KeyValueStore::keys(const QString& prefix) const
{
    QStringList out;
    Connection* conn = m_open ? connection(nullptr) : nullptr;
    if (!conn)
        return out;
    QSqlQuery q(conn->db);
    q.setForwardOnly(true);
    // Keys sharing a prefix are one contiguous run in SQLite's byte order: walk from the prefix.
    q.prepare(QStringLiteral("SELECT key FROM kv WHERE key >= ? ORDER BY key"));
    q.addBindValue(prefix.isNull() ? QString(QLatin1String("")) : prefix);
    if (!q.exec())
        return out;
    while (q.next()) {
        QString k = q.value(0).toString();
        if (!k.startsWith(prefix))
            break;
        out << std::move(k);
    }
    return out;
}

bool KeyValueStore::setValue(const QString& key, const QCborValue& value, Error* error)
{
    return write({{key, value}}, false, error);
}

bool KeyValueStore::setValues(const QList<std::pair<QString, QCborValue>>& values, Error* error)
{
    return write(values, false, error);
}

bool KeyValueStore::remove(const QString& key, Error* error)
{
    return write({{key, QCborValue()}}, false, error);
}

bool KeyValueStore::remove(const QStringList& keys, Error* error)
{
    QList<std::pair<QString, QCborValue>> values;
    values.reserve(keys.size());
    for (const QString& k : keys)
        values.append({k, QCborValue()});
    return write(values, false, error);
}

bool KeyValueStore::clear(Error* error)
{
    return write({}, true, error);
}

void KeyValueStore::setMaxPageCount(qint64 pages)
{
    m_maxPageCount = pages;
}

bool KeyValueStore::write(const QList<std::pair<QString, QCborValue>>& values, bool clearAll, Error* error)
{
    if (!m_open) {
        setError(error, m_openError
                            ? m_openError
                            : makeError(KeyValueStoreError::OpenFailed,
                                        QStringLiteral("The store %1 is not open").arg(m_path), m_path));
        return false;
    }
    // Encode before taking the write lock: other writers need not wait for it.
    QList<QByteArray> encoded;
    encoded.reserve(values.size());
    for (const auto& [key, v] : values) {
        if (key.isEmpty()) {
            setError(error,
                     makeError(KeyValueStoreError::InvalidKey,
                               QStringLiteral("A key of the store %1 may not be empty").arg(m_path), m_path));
            return false;
        }
        encoded.append(v.isUndefined() || v.isInvalid() ? QByteArray() : normalized(v).toCbor());
    }
    if (values.isEmpty() && !clearAll)
        return true;

    Connection* conn = connection(error);
    if (!conn)
        return false;

    std::lock_guard lock(*m_writeMutex);
    QSqlDatabase& db = conn->db;
    // One statement commits on its own; several go in one IMMEDIATE transaction, which takes the
    // write lock up front so that a concurrent writer waits instead of failing mid-way.
    const bool transaction = clearAll || values.size() > 1;
    QSqlQuery q(db);
    if (transaction && !q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        setError(error, errorFromSql(q.lastError(), QStringLiteral("Cannot start a write"), m_path));
        return false;
    }
    auto fail = [&](const QSqlError& e, const QString& what) {
        setError(error, errorFromSql(e, what, m_path));
        q = QSqlQuery(db);
        if (transaction)
            q.exec(QStringLiteral("ROLLBACK")); // may have rolled back already on a full disk
        return false;
    };

    if (clearAll && !q.exec(QStringLiteral("DELETE FROM kv")))
        return fail(q.lastError(), QStringLiteral("Cannot clear the store"));

    QSqlQuery put(db);
    QSqlQuery del(db);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QString& key = values[i].first;
        if (encoded[i].isNull()) {
            if (del.lastQuery().isEmpty())
                del.prepare(QStringLiteral("DELETE FROM kv WHERE key = ?"));
            del.bindValue(0, key);
            if (!del.exec())
                return fail(del.lastError(), QStringLiteral("Cannot remove \"%1\"").arg(key));
        } else {
            if (put.lastQuery().isEmpty())
                put.prepare(QStringLiteral("INSERT OR REPLACE INTO kv (key, value) VALUES (?, ?)"));
            put.bindValue(0, key);
            put.bindValue(1, encoded[i]);
            if (!put.exec())
                return fail(put.lastError(), QStringLiteral("Cannot write \"%1\"").arg(key));
        }
    }
    put = QSqlQuery();
    del = QSqlQuery();
    if (transaction && !q.exec(QStringLiteral("COMMIT")))
        return fail(q.lastError(), QStringLiteral("Cannot commit a write"));
    return true;
}

namespace {
std::mutex g_sharedMutex;
KeyValueStore* g_installed = nullptr;
KeyValueStore* g_default = nullptr;

void deleteDefaultStore()
{
    std::lock_guard lock(g_sharedMutex);
    delete g_default;
    g_default = nullptr;
}
} // namespace

KeyValueStore* KeyValueStore::shared()
{
    std::lock_guard lock(g_sharedMutex);
    if (g_installed)
        return g_installed;
    if (!g_default) {
        g_default = new KeyValueStore(Config::shared().settingsPath());
        // Close its connections while Qt SQL still works, at application exit.
        qAddPostRoutine(deleteDefaultStore);
    }
    return g_default;
}

void KeyValueStore::setShared(KeyValueStore* store)
{
    std::lock_guard lock(g_sharedMutex);
    g_installed = store;
}

} // namespace zrp
