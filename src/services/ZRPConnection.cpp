#include "ZRPConnection.h"

#include "core/RunLoop.h"
#include "core/WorkQueue.h"
#include "net/HttpClient.h"

#include <QUrl>

namespace zrp {

namespace {
// A service answer larger than this is hostile or broken; it fails instead of filling memory.
constexpr qint64 kMaxBodyBytes = 16ll * 1024 * 1024;
} // namespace

std::shared_ptr<ZRPConnection> ZRPConnection::connectionWithRequest(const ZRPRequestPtr& request,
                                                                    CompletionBlock completion,
                                                                    ErrorBlock error)
{
    if (!request)
        return nullptr;
    auto connection = std::make_shared<ZRPConnection>(request, std::move(completion), std::move(error));
    connection->initWithRequest();
    return connection;
}

ZRPConnection::ZRPConnection(const ZRPRequestPtr& request, CompletionBlock completion, ErrorBlock error)
    : m_request(request), m_completionBlock(std::move(completion)), m_connectionErrorBlock(std::move(error))
{}

ZRPConnection::~ZRPConnection() = default;

void ZRPConnection::initWithRequest()
{
    // Holding the connection strongly until the transfer opens keeps a fire-and-forget request
    // alive; the HTTP callback keeps it alive after that.
    auto self = shared_from_this();
    RunLoop::post([self]() { self->start(); });
}

void ZRPConnection::start()
{
    HttpRequest r;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
    }
    r.url = QUrl::fromEncoded(m_request->urlString.toUtf8());
    r.method = m_request->httpMethod;
    r.headers = m_request->headers;
    r.body = m_request->httpBody;
    r.timeoutMs = m_request->timeoutSeconds * 1000;
    r.cachePolicy = CachePolicy::NeverStore; // nothing of this layer is ever cached
    r.redirectPolicy = RedirectPolicy::Follow;
    r.maxBodyBytes = kMaxBodyBytes;
    auto self = shared_from_this();
    HttpTask* task = HttpClient::shared().send(r, [self](const HttpResponse& response, const Error& error) {
        if (error) {
            self->didFailWithError(error);
            return;
        }
        // The client follows redirects itself, so the one response seen here is the last one.
        self->didReceiveResponse(response.status);
        self->didReceiveData(response.body);
        self->didFinishLoading();
    });
    bool cancelledMeanwhile;
    {
        std::lock_guard lock(m_mutex);
        m_theConnection = task;
        cancelledMeanwhile = m_cancelled;
    }
    // A cancel from another thread may have found no transfer to stop yet.
    if (cancelledMeanwhile && task)
        task->cancel();
}

void ZRPConnection::didReceiveResponse(int status)
{
    std::lock_guard lock(m_mutex);
    m_statusCode = status;
    m_rcvData.clear();
}

void ZRPConnection::didReceiveData(const QByteArray& data)
{
    std::lock_guard lock(m_mutex);
    m_rcvData.append(data);
}

void ZRPConnection::didFinishLoading()
{
    int status;
    QByteArray body;
    {
        std::lock_guard lock(m_mutex);
        status = m_statusCode;
        body = m_rcvData;
    }
    if (status < 400) {
        deliver([this, body]() {
            if (m_completionBlock)
                m_completionBlock(body);
        });
    } else {
        const Error error(ZRPAPIWrapperErrorDomain, status, {{QStringLiteral("message"), body}});
        deliver([this, error]() {
            if (m_connectionErrorBlock)
                m_connectionErrorBlock(error);
        });
    }
}

void ZRPConnection::didFailWithError(const Error& error)
{
    deliver([this, error]() {
        if (m_connectionErrorBlock)
            m_connectionErrorBlock(error);
    });
}

void ZRPConnection::deliver(std::function<void()> fn)
{
    auto self = shared_from_this();
    WorkQueue::concurrent([self, fn = std::move(fn)]() {
        std::lock_guard delivery(self->m_deliveryMutex);
        if (self->isCancelled())
            return;
        fn();
    });
}

void ZRPConnection::cancel()
{
    std::lock_guard delivery(m_deliveryMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
    }
    // The transfer belongs to the main thread; stop it there. The flag above already keeps
    // every callback from running.
    if (RunLoop::isMainThread()) {
        stopTransfer();
    } else {
        auto self = shared_from_this();
        RunLoop::post([self]() { self->stopTransfer(); });
    }
}

void ZRPConnection::stopTransfer()
{
    QPointer<HttpTask> task;
    {
        std::lock_guard lock(m_mutex);
        task = m_theConnection;
    }
    if (task)
        task->cancel();
}

int ZRPConnection::statusCode() const
{
    std::lock_guard lock(m_mutex);
    return m_statusCode;
}

bool ZRPConnection::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

} // namespace zrp
