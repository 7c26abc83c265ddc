#pragma once

#include "core/Error.h"

#include <QCborValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace zrp {

// Failures of the key-value store, in domain "ZRPKeyValueStoreErrorDomain".
namespace KeyValueStoreError {
inline const QString domain = QStringLiteral("ZRPKeyValueStoreErrorDomain");
enum Code
{
    OpenFailed = 1,  // the file could not be opened or created
    WriteFailed = 2, // any other failure of a write; nothing of it was kept
    StoreFull = 3,   // the disk (or the page limit) is full
    ReadOnly = 4,    // the file or its folder may not be written
    InvalidKey = 5,  // empty key
    Busy = 6,        // another process held the file locked for too long
};
} // namespace KeyValueStoreError

// The persistent key-value store under the settings: one SQLite file (WAL, synchronous=FULL),
// values kept as CBOR so that every kind comes back with its type (dates in UTC). Every write or
// removal is one committed transaction before the call returns. Any thread may call any method:
// each thread gets its own connection, closed when the thread ends or the store is destroyed.
//
// A file that is not a database or fails its integrity check at open is moved aside (renamed
// with a timestamp suffix, never deleted) and a fresh store starts in its place.
class KeyValueStore
{
public:
    // Opens (creating it and its folders when needed) the store at path.
    explicit KeyValueStore(const QString& path);
    ~KeyValueStore();
    KeyValueStore(const KeyValueStore&) = delete;
    KeyValueStore& operator=(const KeyValueStore&) = delete;

    QString path() const { return m_path; }
    bool isOpen() const { return m_open; }
    Error openError() const { return m_openError; }
    // Where a damaged file found at open was moved; empty when none was.
    QString movedAsidePath() const { return m_movedAsidePath; }

    // Absent, or stored bytes that no longer decode, read as nullopt.
    std::optional<QCborValue> value(const QString& key) const;
    bool contains(const QString& key) const { return value(key).has_value(); }
    // Every key that begins with prefix, in code point order.
    QStringList keys(const QString& prefix = {}) const;

    // An undefined or invalid value removes the key, like remove().
    bool setValue(const QString& key, const QCborValue& value, Error* error = nullptr);
    // All of them in one transaction: every write is kept, or none is.
    bool setValues(const QList<std::pair<QString, QCborValue>>& values, Error* error = nullptr);
    bool remove(const QString& key, Error* error = nullptr);
    bool remove(const QStringList& keys, Error* error = nullptr); // one transaction
    bool clear(Error* error = nullptr);

    // Caps the file at this many pages on every connection (0 = SQLite's own limit). Keeps a
    // runaway writer from filling the disk; tests use it to make a full disk.
    void setMaxPageCount(qint64 pages);

    // The settings store of the process, opened on first use at Config's settingsPath().
    static KeyValueStore* shared();
    // Installs a store (not owned) as the shared one; nullptr returns to the default store.
    static void setShared(KeyValueStore* store);

    // Dates anywhere in the value (nested too) converted to UTC, so that they read back equal.
    static QCborValue normalized(const QCborValue& value);

    class Connection; // one thread's connection; defined in the .cpp

private:
    bool openFile();
    bool moveAside(const QString& reason);
    Connection* connection(Error* error) const;
    bool write(const QList<std::pair<QString, QCborValue>>& values, bool clearAll, Error* error);

    const quint64 m_id;
    QString m_path;
    bool m_open = false;
    Error m_openError;
    QString m_movedAsidePath;
    std::atomic<qint64> m_maxPageCount{0};
    // Writers of one process take turns here instead of spinning in SQLite's busy handler.
    std::shared_ptr<std::mutex> m_writeMutex;
};

} // namespace zrp
