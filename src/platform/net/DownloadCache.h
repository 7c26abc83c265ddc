#pragma once

#include "net/HttpClient.h"

#include <QDateTime>
#include <QNetworkDiskCache>
#include <mutex>
#include <optional>

namespace zrp {

// The shared download cache: answers kept on disk across launches, keyed by URL.
//
// Freshness is ours, not the server's: an entry counts as fresh for the max-age of the request
// that reads it, measured from the moment it was stored (by the shared Clock), whatever the
// answer's own caching headers say. The HTTP client drives this cache itself; Qt's network
// manager never reads or writes it, because Qt would apply the server's headers and would not
// re-arm freshness after a 304.
//
// Every public operation here is safe from any thread. The inherited QNetworkDiskCache entry
// points bypass the lock and the integrity checks; use the operations below instead.
class DownloadCache : public QNetworkDiskCache
{
    Q_OBJECT
public:
    struct Entry
    {
        HttpResponse response; // status 200, the stored headers and body, fromCache set
        QDateTime storedAt;    // UTC; re-armed by a 304
        // Fresh while less than maxAgeSeconds have passed since storedAt. An entry stored "in
        // the future" (the clock was set back) is stale rather than fresh for ever.
        bool isFresh(qint64 maxAgeSeconds) const;
    };

    explicit DownloadCache(const QString& directory, QObject* parent = nullptr);
    ~DownloadCache() override;

    // The stored answer for url, fresh or not. A damaged entry is dropped and reads as absent.
    std::optional<Entry> lookup(const QUrl& url);

    // Stores a status-200 answer under url, stamped with the current time; other statuses are
    // ignored. Returns whether it was stored.
    bool store(const QUrl& url, const HttpResponse& response);

    // After a 304: the entry counts as stored now, and the validators and caching headers the
    // server sent replace the stored ones. Returns false when there is no entry.
    bool refresh(const QUrl& url, const QList<QPair<QByteArray, QByteArray>>& notModifiedHeaders);

    bool removeURL(const QUrl& url);
    void clear() override;

    // The process-wide cache, or nullptr before the application installs one (not owned).
    static DownloadCache* shared();
    static void setShared(DownloadCache* cache);

private:
    bool writeEntry(const QUrl& url, const QList<QPair<QByteArray, QByteArray>>& headers,
                    const QByteArray& body, const QDateTime& storedAt);

    mutable std::recursive_mutex m_mutex;
};

} // namespace zrp
