#include "HttpClient.h"

#include "DownloadCache.h"
#include "core/Clock.h"
#include "core/RunLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QThreadStorage>
#include <mutex>
#include <optional>

namespace zrp {

Q_LOGGING_CATEGORY(lcHttp, "zrp.net.http")

namespace {

constexpr int MaxRedirects = 10;

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray findHeader(const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& name)
{
    for (const auto& h : headers) {
        if (sameName(h.first, name))
            return h.second;
    }
    return QByteArray();
}

bool hasHeader(const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& name)
{
    for (const auto& h : headers) {
        if (sameName(h.first, name))
            return true;
    }
    return false;
}

bool isHttpScheme(const QUrl& url)
{
    const QString s = url.scheme().toLower();
    return s == QLatin1String("http") || s == QLatin1String("https");
}

bool isFollowedRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The codings Qt asks for and decodes by itself.
bool isDecodedByQt(const QByteArray& contentEncoding)
{
    const QByteArray e = contentEncoding.trimmed().toLower();
    return e == "gzip" || e == "x-gzip" || e == "deflate" || e == "br" || e == "zstd";
}

// A status whose answer carries no body even when it names a length.
bool hasNoBody(const QByteArray& method, int status)
{
    return method == "HEAD" || (status >= 100 && status < 200) || status == 204 || status == 304;
}

// Qt reports an HTTP status of 400 or more as a reply error too; those are answers, not
// transport failures. Everything at the network, proxy and protocol level is a failure.
bool isHttpStatusError(QNetworkReply::NetworkError e)
{
    if (e == QNetworkReply::NoError)
        return true;
    const int c = int(e);
    return (c >= 201 && c <= 299) || e == QNetworkReply::ProtocolInvalidOperationError ||
           (c >= 401 && c <= 499);
}

Error transportError(QNetworkReply::NetworkError e, const QString& text, const QUrl& url)
{
    int code = HttpError::ConnectionFailure;
    switch (e) {
    case QNetworkReply::TimeoutError:
        code = HttpError::RequestTimedOut;
        break;
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::AuthenticationRequiredError:
        code = HttpError::Authentication;
        break;
    case QNetworkReply::TooManyRedirectsError:
        code = HttpError::TooMuchRedirection;
        break;
    case QNetworkReply::ProtocolUnknownError:
        code = HttpError::UnableToCreateRequest;
        break;
    default:
        break;
    }
    return Error(HttpError::domain, code,
                 {{QStringLiteral("description"), text}, {QStringLiteral("url"), url.toString()}});
}

Error makeError(int code, const QString& text, const QUrl& url)
{
    return Error(HttpError::domain, code,
                 {{QStringLiteral("description"), text}, {QStringLiteral("url"), url.toString()}});
}

// A timer may fire on another thread than the task's (a virtual clock advanced by a test while
// a background thread waits in sendSync), so it reaches the task only through this guard.
struct TaskGuard
{
    std::mutex mutex;
    QObject* target = nullptr;

    template <typename Fn> void run(Fn fn)
    {
        std::unique_lock lock(mutex);
        QObject* t = target;
        if (!t)
            return;
        if (t->thread() == QThread::currentThread()) {
            // Only this thread can delete the target, so it outlives the call.
            lock.unlock();
            fn(t);
        } else {
            QMetaObject::invokeMethod(
                t, [t, fn]() { fn(t); }, Qt::QueuedConnection);
        }
    }
};

class TaskImpl final : public HttpTask
{
public:
    TaskImpl(HttpRequest r, QNetworkAccessManager* nam, DownloadCache* cache, HttpCallback cb,
             QObject* parent)
        : HttpTask(std::move(r)), m_nam(nam), m_cache(cache), m_callback(std::move(cb)),
          m_guard(std::make_shared<TaskGuard>())
    {
        setParent(parent);
        m_guard->target = this;
        m_currentUrl = m_request.url;
    }

    ~TaskImpl() override
    {
        {
            std::lock_guard lock(m_guard->mutex);
            m_guard->target = nullptr;
        }
        stopTimer();
        dropReply();
    }

    std::function<void(TaskImpl*)> onDone; // tells the owner the task left the in-flight set
    bool autoDelete = true;

    void start();
    void cancel() override;

private:
    void startAttempt();
    void armTimer(qint64 ms);
    void stopTimer();
    void onTimer();
    void touch() { m_lastActivityMs = Clock::shared()->monotonicMs(); }
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void dropReply();
    void fail(const Error& error) { complete(HttpResponse(), error); }
    void complete(const HttpResponse& response, const Error& error);
    void deliver();

    QNetworkAccessManager* m_nam;
    QPointer<DownloadCache> m_cache;
    HttpCallback m_callback;
    std::shared_ptr<TaskGuard> m_guard;
    QPointer<QNetworkReply> m_reply;
    std::shared_ptr<Timer> m_timer;
    QUrl m_currentUrl;
    QByteArray m_received;
    qint64 m_lastActivityMs = 0;
    int m_timeoutRetries = 0;
    int m_redirects = 0;
    bool m_conditional = false;
    std::optional<DownloadCache::Entry> m_stored;
    bool m_completed = false;
    HttpResponse m_response;
    Error m_error;
};

void TaskImpl::start()
{
    if (!m_request.url.isValid() || !isHttpScheme(m_request.url)) {
        fail(makeError(HttpError::UnableToCreateRequest,
                       QStringLiteral("Only http and https URLs can be requested."), m_request.url));
        return;
    }
    // Qt writes header fields and the method as given: a line break in one would let a value
    // (a token, a name typed by the user) smuggle in headers or a whole second request.
    const auto unsafe = [](const QByteArray& b) {
        return b.contains('\r') || b.contains('\n') || b.contains('\0');
    };
    bool safe = !unsafe(m_request.method) && !m_request.method.contains(' ');
    for (const auto& h : m_request.headers)
        safe = safe && !h.first.isEmpty() && !unsafe(h.first) && !h.first.contains(':') && !unsafe(h.second);
    if (!safe) {
        fail(makeError(HttpError::UnableToCreateRequest,
                       QStringLiteral("A header or the method contains a forbidden character."),
                       m_request.url));
        return;
    }
    const bool cacheable = m_cache && m_request.method == "GET";
    if (cacheable && m_request.cachePolicy == CachePolicy::UseCache) {
        m_stored = m_cache->lookup(m_request.url);
        if (m_stored && m_stored->isFresh(m_request.maxAgeSeconds)) {
            HttpResponse r = m_stored->response;
            r.url = m_request.url;
            complete(r, Error());
            return;
        }
        // Stale: ask whether it changed, unless the caller already asks its own question.
        if (m_stored && !hasHeader(m_request.headers, "If-None-Match") &&
            !hasHeader(m_request.headers, "If-Modified-Since")) {
            m_conditional = hasHeader(m_stored->response.headers, "ETag") ||
                            hasHeader(m_stored->response.headers, "Last-Modified");
        }
    }
    startAttempt();
}

void TaskImpl::startAttempt()
{
    dropReply();
    m_received.clear();

    QNetworkRequest req(m_currentUrl);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The download cache is driven by this class; Qt's own caching must not decide anything.
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QList<QByteArray> seen;
    for (const auto& h : m_request.headers) {
        const QByteArray lower = h.first.toLower();
        if (seen.contains(lower)) {
            // Repeated names travel as one comma-joined field, as HTTP allows.
            req.setRawHeader(h.first, req.rawHeader(h.first) + ", " + h.second);
        } else {
            req.setRawHeader(h.first, h.second);
            seen.append(lower);
        }
    }
    if (m_conditional) {
        const QByteArray etag = findHeader(m_stored->response.headers, "ETag");
        const QByteArray lastModified = findHeader(m_stored->response.headers, "Last-Modified");
        if (!etag.isEmpty())
            req.setRawHeader("If-None-Match", etag);
        if (!lastModified.isEmpty())
            req.setRawHeader("If-Modified-Since", lastModified);
    }
    const QByteArray& method = m_request.method;
    const QByteArray& body = m_request.body;
    if (!body.isEmpty() && !hasHeader(m_request.headers, "Content-Type"))
        req.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));

    QNetworkReply* reply = nullptr;
    if (method == "GET" && body.isEmpty())
        reply = m_nam->get(req);
    else if (method == "HEAD")
        reply = m_nam->head(req); // a custom HEAD would wait for a body that never comes
    else if (method == "POST")
        reply = m_nam->post(req, body);
    else if (method == "PUT")
        reply = m_nam->put(req, body);
    else if (method == "DELETE" && body.isEmpty())
        reply = m_nam->deleteResource(req);
    else
        reply = m_nam->sendCustomRequest(req, method, body);
    if (!reply) {
        fail(makeError(HttpError::UnableToCreateRequest, QStringLiteral("The request could not be created."),
                       m_currentUrl));
        return;
    }
    m_reply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, &TaskImpl::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &TaskImpl::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &TaskImpl::onFinished);
    connect(reply, &QNetworkReply::uploadProgress, this, [this] { touch(); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this] { touch(); });
    touch();
    armTimer(m_request.timeoutMs);
}

void TaskImpl::armTimer(qint64 ms)
{
    stopTimer();
    if (m_request.timeoutMs <= 0)
        return;
    std::weak_ptr<TaskGuard> weak = m_guard;
    m_timer = Clock::shared()->schedule(
        std::max<qint64>(1, ms), false,
        [weak]() {
            if (auto guard = weak.lock())
                guard->run([](QObject* t) { static_cast<TaskImpl*>(t)->onTimer(); });
        },
        nullptr);
}

void TaskImpl::stopTimer()
{
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
}

void TaskImpl::onTimer()
{
    if (m_completed || m_cancelled || !m_reply)
        return;
    // The time-out counts from the last byte that moved, so a slow but steady transfer lives on.
    const qint64 idle = Clock::shared()->monotonicMs() - m_lastActivityMs;
    if (idle < m_request.timeoutMs) {
        armTimer(m_request.timeoutMs - idle);
        return;
    }
    if (m_timeoutRetries < m_request.retryOnTimeoutCount) {
        ++m_timeoutRetries;
        qCDebug(lcHttp) << "time-out, retry" << m_timeoutRetries << "of" << m_currentUrl.toString();
        startAttempt();
        return;
    }
    fail(makeError(HttpError::RequestTimedOut, QStringLiteral("The request timed out."), m_currentUrl));
}

void TaskImpl::onMetaData()
{
    if (!m_reply || m_completed)
        return;
    touch();
    bool ok = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (ok && length > m_request.maxBodyBytes && !hasNoBody(m_request.method, status)) {
        fail(makeError(HttpError::ResponseTooLarge, QStringLiteral("The response is too large."),
                       m_currentUrl));
    }
}

void TaskImpl::onReadyRead()
{
    if (!m_reply || m_completed)
        return;
    touch();
    m_received += m_reply->readAll();
    if (m_received.size() > m_request.maxBodyBytes) {
        fail(makeError(HttpError::ResponseTooLarge, QStringLiteral("The response is too large."),
                       m_currentUrl));
    }
}

void TaskImpl::onFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply || m_completed)
        return;
    m_received += reply->readAll();
    const QNetworkReply::NetworkError netError = reply->error();
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttr.isValid() ? statusAttr.toInt() : 0;

    if (status <= 0 || !isHttpStatusError(netError)) {
        fail(transportError(netError, reply->errorString(), m_currentUrl));
        return;
    }
    if (m_received.size() > m_request.maxBodyBytes) {
        fail(makeError(HttpError::ResponseTooLarge, QStringLiteral("The response is too large."),
                       m_currentUrl));
        return;
    }

    HttpResponse response;
    response.status = status;
    response.url = m_currentUrl;
    // When the caller left Accept-Encoding to Qt, Qt decodes the body and drops its length, but
    // keeps Content-Encoding; the headers we hand on must describe the body we hand on.
    const bool qtDecoded = !hasHeader(m_request.headers, "Accept-Encoding") &&
                           isDecodedByQt(findHeader(reply->rawHeaderPairs(), "Content-Encoding"));
    for (const auto& h : reply->rawHeaderPairs()) {
        if (!(qtDecoded && sameName(h.first, "Content-Encoding")))
            response.headers.append(h);
    }
    response.body = m_received;

    // An answer cut short must not pass for a whole one. Qt reports most such cuts itself; this
    // catches any it lets through. A length that is present describes the bytes we read.
    if (!hasNoBody(m_request.method, status)) {
        bool ok = false;
        const qint64 declared = findHeader(response.headers, "Content-Length").trimmed().toLongLong(&ok);
        if (ok && declared != response.body.size()) {
            fail(makeError(HttpError::ConnectionFailure,
                           QStringLiteral("The connection closed after %1 of %2 bytes.")
                               .arg(response.body.size())
                               .arg(declared),
                           m_currentUrl));
            return;
        }
    }

    if (status >= 300 && status < 400 && isFollowedRedirect(status)) {
        const QByteArray location = findHeader(response.headers, "Location").trimmed();
        if (!location.isEmpty()) {
            const QUrl target = m_currentUrl.resolved(QUrl::fromEncoded(location));
            QVariantMap info{{QStringLiteral("location"), target.toString()},
                             {QStringLiteral("url"), m_currentUrl.toString()},
                             {QStringLiteral("status"), status}};
            if (m_request.redirectPolicy == RedirectPolicy::Refuse) {
                info.insert(QStringLiteral("description"), QStringLiteral("The redirect was refused."));
                complete(response, Error(HttpError::domain, HttpError::RedirectRefused, info));
                return;
            }
            // Never let a server send us to a local file or other scheme, nor from https down
            // to plain http with every header (tokens included) in clear text.
            const bool downgrade = m_currentUrl.scheme().toLower() == QLatin1String("https") &&
                                   target.scheme().toLower() != QLatin1String("https");
            if (!target.isValid() || !isHttpScheme(target) || downgrade) {
                info.insert(QStringLiteral("description"),
                            QStringLiteral("A redirect to this address is not allowed."));
                complete(response, Error(HttpError::domain, HttpError::RedirectRefused, info));
                return;
            }
            if (m_redirects >= MaxRedirects) {
                fail(makeError(HttpError::TooMuchRedirection, QStringLiteral("Too many redirects."),
                               m_currentUrl));
                return;
            }
            ++m_redirects;
            m_currentUrl = target;
            startAttempt();
            return;
        }
    }

    if (status == 304 && m_conditional && m_stored && m_request.cachePolicy == CachePolicy::UseCache) {
        // Unchanged: serve what we have and count it as fresh again from now.
        if (m_cache)
            m_cache->refresh(m_request.url, response.headers);
        HttpResponse served = m_stored->response;
        served.url = m_currentUrl;
        served.fromCache = true;
        complete(served, Error());
        return;
    }

    if (status == 200 && m_cache && m_request.method == "GET" &&
        m_request.cachePolicy != CachePolicy::NeverStore)
        m_cache->store(m_request.url, response);
    complete(response, Error());
}

void TaskImpl::dropReply()
{
    if (QNetworkReply* reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        if (reply->isRunning())
            reply->abort();
        reply->deleteLater();
    }
}

void TaskImpl::complete(const HttpResponse& response, const Error& error)
{
    if (m_completed || m_cancelled)
        return;
    m_completed = true;
    stopTimer();
    dropReply();
    m_response = response;
    m_error = error;
    // Always on a later turn, also for answers served from the cache, so callers never see
    // their callback inside send().
    QMetaObject::invokeMethod(
        this, [this] { deliver(); }, Qt::QueuedConnection);
}

void TaskImpl::deliver()
{
    if (m_cancelled)
        return;
    m_finished = true;
    HttpCallback cb = std::move(m_callback);
    m_callback = nullptr;
    if (onDone)
        onDone(this);
    QPointer<TaskImpl> self(this);
    if (cb)
        cb(m_response, m_error);
    if (self && autoDelete)
        deleteLater();
}

void TaskImpl::cancel()
{
    if (m_cancelled || m_finished)
        return;
    m_cancelled = true;
    stopTimer();
    dropReply();
    m_callback = nullptr;
    if (onDone)
        onDone(this);
    if (autoDelete)
        deleteLater();
}

// One manager per background thread for sendSync; Qt deletes it when the thread ends.
QThreadStorage<QNetworkAccessManager*> g_syncManagers;

} // namespace

void HttpRequest::setHeader(const QByteArray& name, const QByteArray& value)
{
    headers.removeIf([&](const auto& h) { return sameName(h.first, name); });
    headers.append({name, value});
}

QByteArray HttpRequest::header(const QByteArray& name) const
{
    return findHeader(headers, name);
}

QByteArray HttpResponse::header(const QByteArray& name) const
{
    return findHeader(headers, name);
}

class HttpClient::Private
{
public:
    QNetworkAccessManager* nam = nullptr;
    DownloadCache* cache = nullptr;
    bool cacheSet = false;
    int defaultTimeoutMs = 60000;
    QSet<TaskImpl*> tasks;
};

HttpClient::HttpClient(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    d->nam = new QNetworkAccessManager(this);
    // Redirects are handled per request; Qt must not follow any by itself.
    d->nam->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

HttpClient::~HttpClient()
{
    // Outstanding requests end silently, before the manager that carries them goes away.
    const auto tasks = d->tasks;
    d->tasks.clear();
    for (TaskImpl* t : tasks) {
        t->onDone = nullptr;
        t->autoDelete = false;
        t->cancel();
        delete t;
    }
}

HttpClient& HttpClient::shared()
{
    static QPointer<HttpClient> instance;
    if (!instance)
        instance = new HttpClient(QCoreApplication::instance());
    return *instance;
}

void HttpClient::setCache(DownloadCache* cache)
{
    d->cache = cache;
    d->cacheSet = true;
}

DownloadCache* HttpClient::cache() const
{
    return d->cacheSet ? d->cache : DownloadCache::shared();
}

void HttpClient::setDefaultTimeoutMs(int ms)
{
    d->defaultTimeoutMs = ms;
}

int HttpClient::defaultTimeoutMs() const
{
    return d->defaultTimeoutMs;
}

HttpTask* HttpClient::send(const HttpRequest& request, HttpCallback callback)
{
    Q_ASSERT_X(QThread::currentThread() == thread(), "HttpClient::send", "called from another thread");
    HttpRequest r = request;
    if (r.timeoutMs == HttpRequest().timeoutMs)
        r.timeoutMs = d->defaultTimeoutMs;
    if (r.method.isEmpty())
        r.method = "GET";
    auto* task = new TaskImpl(std::move(r), d->nam, cache(), std::move(callback), this);
    d->tasks.insert(task);
    task->onDone = [p = d.get()](TaskImpl* t) { p->tasks.remove(t); };
    task->start();
    return task;
}

int HttpClient::requestsInFlight() const
{
    return int(d->tasks.size());
}

HttpResponse HttpClient::sendSync(const HttpRequest& request, Error* error)
{
    if (RunLoop::isMainThread()) {
        qCWarning(lcHttp) << "sendSync refused on the main thread:" << request.url.toString();
        if (error)
            *error = makeError(HttpError::UnableToCreateRequest,
                               QStringLiteral("Blocking requests are not allowed on the main thread."),
                               request.url);
        return HttpResponse();
    }
    if (!g_syncManagers.hasLocalData()) {
        auto* nam = new QNetworkAccessManager();
        nam->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        g_syncManagers.setLocalData(nam);
    }
    HttpRequest r = request;
    if (r.method.isEmpty())
        r.method = "GET";
    HttpResponse response;
    Error err;
    QEventLoop loop;
    bool done = false;
    {
        TaskImpl task(
            std::move(r), g_syncManagers.localData(), nullptr,
            [&](const HttpResponse& resp, const Error& e) {
                response = resp;
                err = e;
                done = true;
                loop.quit();
            },
            nullptr);
        task.autoDelete = false;
        task.start();
        if (!done)
            loop.exec();
    }
    // Replies and timers let go with deleteLater; nothing else runs this thread's loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (error)
        *error = err;
    return response;
}

} // namespace zrp
