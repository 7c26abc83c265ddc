#pragma once

#include "ZRPURLRequest.h"
#include "core/Error.h"

#include <QByteArray>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

namespace zrp {

class HttpTask;

// Errors of the service access library's own making; "message" carries the body of an HTTP
// status failure or a short text.
inline const QString ZRPAPIWrapperErrorDomain = QStringLiteral("org.zrp.services.apiwrapper");

// One request in flight. The transfer is opened on the main thread after the caller's current
// work returns; the outcome is handed to one of the two callbacks on the shared background queue.
class ZRPConnection : public std::enable_shared_from_this<ZRPConnection>
{
public:
    using CompletionBlock = std::function<void(const QByteArray& body)>;
    using ErrorBlock = std::function<void(const Error& error)>;

    // None when the request is none.
    static std::shared_ptr<ZRPConnection> connectionWithRequest(const ZRPRequestPtr& request,
                                                                CompletionBlock completion, ErrorBlock error);
    ~ZRPConnection();

    // After cancel() returns, neither callback runs, including one already queued for delivery.
    void cancel();

    ZRPRequestPtr request() const { return m_request; }
    int statusCode() const;
    bool isCancelled() const;

    ZRPConnection(const ZRPRequestPtr& request, CompletionBlock completion, ErrorBlock error);

private:
    void initWithRequest();
    void start();        // main thread
    void stopTransfer(); // main thread
    void didReceiveResponse(int status);
    void didReceiveData(const QByteArray& data);
    void didFinishLoading();
    void didFailWithError(const Error& error);
    void deliver(std::function<void()> fn);

    ZRPRequestPtr m_request;
    CompletionBlock m_completionBlock;
    ErrorBlock m_connectionErrorBlock;

    mutable std::mutex m_mutex;
    QByteArray m_rcvData;
    int m_statusCode = 0;
    bool m_cancelled = false;
    QPointer<HttpTask> m_theConnection;

    // Held while a callback runs so that cancel() waits for a delivery under way instead of
    // racing it; recursive because a callback may cancel its own connection.
    std::recursive_mutex m_deliveryMutex;
};

} // namespace zrp
