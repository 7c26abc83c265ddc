#pragma once

#include "core/Error.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>

namespace zrp {

class DownloadCache;

// Transport failures of the HTTP client, in domain "ZRPHTTPErrorDomain". An HTTP status of 400
// or more is not a transport failure: the response carries it and the caller decides.
namespace HttpError {
inline const QString domain = QStringLiteral("ZRPHTTPErrorDomain");
enum Code
{
    ConnectionFailure = 1, // refused, reset, DNS, dropped mid-answer
    RequestTimedOut = 2,   // no answer within the time-out (after the time-out retries)
    Authentication = 3,
    RequestCancelled = 4, // never delivered to a callback; exists for callers that map codes
    UnableToCreateRequest = 5,
    TooMuchRedirection = 9,
    ResponseTooLarge = 12,
    RedirectRefused = 13, // a 3xx under RedirectPolicy::Refuse; userInfo "location" holds the target
};
} // namespace HttpError

enum class CachePolicy
{
    NeverStore,      // neither read nor write the download cache
    UseCache,        // fresh entry: served without a request; stale: revalidated; answer stored
    BypassReadStore, // always ask the network, but store the answer
};

enum class RedirectPolicy
{
    Follow, // 301/302/303/307/308 followed keeping the method, body and every header
    Refuse, // the first 3xx ends the request with RedirectRefused and its target
};

struct HttpRequest
{
    QUrl url;
    QByteArray method = "GET";
    QList<QPair<QByteArray, QByteArray>> headers; // in order; names compared case-insensitively
    QByteArray body;
    int timeoutMs = 60000;       // no byte for this long ends the attempt
    int retryOnTimeoutCount = 0; // further attempts after a time-out
    QVariantMap userInfo;        // rides along; copied with the request
    CachePolicy cachePolicy = CachePolicy::NeverStore;
    qint64 maxAgeSeconds = 0; // freshness imposed on a stored answer, whatever the server says
    RedirectPolicy redirectPolicy = RedirectPolicy::Follow;
    qint64 maxBodyBytes = 64ll * 1024 * 1024; // a larger answer fails with ResponseTooLarge

    HttpRequest() = default;
    explicit HttpRequest(QUrl u) : url(std::move(u)) {}
    void setHeader(const QByteArray& name, const QByteArray& value); // replaces a header of that name
    QByteArray header(const QByteArray& name) const;
};

struct HttpResponse
{
    int status = 0; // 0 when no HTTP answer arrived
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QUrl url;               // the URL finally answered (after redirects)
    bool fromCache = false; // served from the download cache (fresh, or after a 304)
    QByteArray header(const QByteArray& name) const;
};

// One request under way. Cancelling it guarantees that its callback never runs.
class HttpTask : public QObject
{
    Q_OBJECT
public:
    const HttpRequest& request() const { return m_request; }
    bool isFinished() const { return m_finished; }
    bool isCancelled() const { return m_cancelled; }
    virtual void cancel() = 0;

protected:
    explicit HttpTask(HttpRequest r) : m_request(std::move(r)) {}
    HttpRequest m_request;
    bool m_finished = false;
    bool m_cancelled = false;
};

using HttpCallback = std::function<void(const HttpResponse& response, const Error& error)>;

// Asynchronous HTTP over Qt's network stack, with the shared download cache. Lives on the main
// thread; callbacks run there, exactly once per request unless the request was cancelled.
class HttpClient : public QObject
{
    Q_OBJECT
public:
    explicit HttpClient(QObject* parent = nullptr);
    ~HttpClient() override;

    // The process-wide client (main thread).
    static HttpClient& shared();

    void setCache(DownloadCache* cache); // not owned
    DownloadCache* cache() const;
    void setDefaultTimeoutMs(int ms); // for requests that keep the default
    int defaultTimeoutMs() const;

    // Starts at once. The task is owned by the client and deleted after its callback; hold it
    // in a QPointer.
    HttpTask* send(const HttpRequest& request, HttpCallback callback);

    // Blocking send for background threads (a serial work queue); never call on the main thread.
    // No download cache.
    static HttpResponse sendSync(const HttpRequest& request, Error* error);

    int requestsInFlight() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace zrp
