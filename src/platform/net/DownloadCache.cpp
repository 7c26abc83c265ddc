#include "DownloadCache.h"

#include "core/Clock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLoggingCategory>
#include <atomic>
#include <memory>

namespace zrp {

Q_LOGGING_CATEGORY(lcCache, "zrp.net.cache")

namespace {

std::atomic<DownloadCache*> g_shared{nullptr};

// Our own bookkeeping, kept in the entry's attributes next to Qt's.
constexpr auto StoredAtAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 1);
constexpr auto BodySizeAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 2);
constexpr auto BodyDigestAttribute = QNetworkRequest::Attribute(QNetworkRequest::User + 3);

constexpr qint64 DefaultMaximumSize = 100ll * 1024 * 1024;

QByteArray digest(const QByteArray& body)
{
    return QCryptographicHash::hash(body, QCryptographicHash::Sha1);
}

// Headers that describe one connection or one transfer, not the stored answer. The body is kept
// as delivered (already decoded), so its length and transfer coding are not kept either; cookies
// are never replayed from disk.
bool isStorableHeader(const QByteArray& name)
{
    static const char* const dropped[] = {
        "connection", "keep-alive",     "proxy-authenticate", "proxy-authorization",
        "te",         "trailer",        "trailers",           "transfer-encoding",
        "upgrade",    "content-length", "set-cookie",         "set-cookie2"};
    for (const char* d : dropped) {
        if (name.compare(d, Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}

} // namespace

bool DownloadCache::Entry::isFresh(qint64 maxAgeSeconds) const
{
    if (maxAgeSeconds <= 0 || !storedAt.isValid())
        return false;
    const qint64 ageMs = storedAt.msecsTo(Clock::shared()->now());
    return ageMs >= 0 && ageMs < maxAgeSeconds * 1000;
}

DownloadCache::DownloadCache(const QString& directory, QObject* parent) : QNetworkDiskCache(parent)
{
    QDir().mkpath(directory);
    setCacheDirectory(directory);
    setMaximumCacheSize(DefaultMaximumSize);
}

DownloadCache::~DownloadCache()
{
    DownloadCache* self = this;
    g_shared.compare_exchange_strong(self, nullptr);
}

DownloadCache* DownloadCache::shared()
{
    return g_shared.load(std::memory_order_acquire);
}

void DownloadCache::setShared(DownloadCache* cache)
{
    g_shared.store(cache, std::memory_order_release);
}

std::optional<DownloadCache::Entry> DownloadCache::lookup(const QUrl& url)
{
    std::lock_guard lock(m_mutex);
    if (!url.isValid())
        return std::nullopt;
    const QNetworkCacheMetaData meta = metaData(url);
    if (!meta.isValid())
        return std::nullopt;

    // Anything that does not read back exactly as written is dropped: a torn write or a damaged
    // file must never be served as a good answer.
    auto drop = [&](const char* why) -> std::optional<Entry> {
        qCWarning(lcCache) << "dropping damaged cache entry for" << url.toString() << "-" << why;
        remove(url);
        return std::nullopt;
    };
    const auto attrs = meta.attributes();
    bool ok = false;
    const qint64 storedAtMs = attrs.value(StoredAtAttribute).toLongLong(&ok);
    if (!ok || storedAtMs <= 0)
        return drop("no storage time");
    if (attrs.value(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return drop("not a 200 answer");
    const qint64 size = attrs.value(BodySizeAttribute).toLongLong(&ok);
    const QByteArray expectedDigest = attrs.value(BodyDigestAttribute).toByteArray();
    if (!ok || size < 0 || expectedDigest.size() != 20)
        return drop("no integrity record");

    std::unique_ptr<QIODevice> device(data(url));
    if (!device)
        return drop("unreadable body");
    const QByteArray body = device->readAll();
    if (body.size() != size || digest(body) != expectedDigest)
        return drop("body does not match its record");

    Entry e;
    e.storedAt = QDateTime::fromMSecsSinceEpoch(storedAtMs, Qt::UTC);
    e.response.status = 200;
    e.response.url = url;
    e.response.body = body;
    e.response.fromCache = true;
    for (const auto& h : meta.rawHeaders())
        e.response.headers.append(h);
    return e;
}

bool DownloadCache::store(const QUrl& url, const HttpResponse& response)
{
    if (response.status != 200 || !url.isValid())
        return false;
    QList<QPair<QByteArray, QByteArray>> headers;
    for (const auto& h : response.headers) {
        if (isStorableHeader(h.first))
            headers.append(h);
    }
    std::lock_guard lock(m_mutex);
    return writeEntry(url, headers, response.body, Clock::shared()->now());
}

bool DownloadCache::refresh(const QUrl& url, const QList<QPair<QByteArray, QByteArray>>& notModifiedHeaders)
{
    std::lock_guard lock(m_mutex);
    std::optional<Entry> e = lookup(url);
    if (!e)
        return false;
    QList<QPair<QByteArray, QByteArray>> headers = e->response.headers;
    QList<QByteArray> replaced;
    for (const auto& h : notModifiedHeaders) {
        if (!isStorableHeader(h.first) || h.first.compare("content-encoding", Qt::CaseInsensitive) == 0 ||
            h.first.compare("content-type", Qt::CaseInsensitive) == 0)
            continue;
        const QByteArray lower = h.first.toLower();
        if (!replaced.contains(lower)) {
            headers.removeIf([&](const auto& old) { return old.first.toLower() == lower; });
            replaced.append(lower);
        }
        headers.append(h);
    }
    return writeEntry(url, headers, e->response.body, Clock::shared()->now());
}

bool DownloadCache::writeEntry(const QUrl& url, const QList<QPair<QByteArray, QByteArray>>& headers,
                               const QByteArray& body, const QDateTime& storedAt)
{
    // An answer that would take most of the cache is not worth evicting everything else for.
    if (body.size() > maximumCacheSize() * 3 / 4)
        return false;
    QNetworkCacheMetaData meta;
    meta.setUrl(url);
    meta.setSaveToDisk(true);
    QNetworkCacheMetaData::RawHeaderList raw;
    for (const auto& h : headers)
        raw.append(h);
    meta.setRawHeaders(raw);
    QNetworkCacheMetaData::AttributesMap attrs;
    attrs.insert(QNetworkRequest::HttpStatusCodeAttribute, 200);
    attrs.insert(StoredAtAttribute, storedAt.toMSecsSinceEpoch());
    attrs.insert(BodySizeAttribute, qint64(body.size()));
    attrs.insert(BodyDigestAttribute, digest(body));
    meta.setAttributes(attrs);

    QIODevice* device = prepare(meta);
    if (!device)
        return false;
    if (device->write(body) != body.size()) {
        QNetworkDiskCache::remove(url);
        return false;
    }
    insert(device);
    return true;
}

bool DownloadCache::removeURL(const QUrl& url)
{
    std::lock_guard lock(m_mutex);
    return remove(url);
}

void DownloadCache::clear()
{
    std::lock_guard lock(m_mutex);
    QNetworkDiskCache::clear();
}

} // namespace zrp
