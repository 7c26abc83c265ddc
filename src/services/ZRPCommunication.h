#pragma once

#include "ZRPConnection.h"

#include <QHash>
#include <memory>
#include <mutex>

namespace zrp {

// Receives the outcome of a request started through ZRPCommunication, on the background queue.
class ZRPCommunicationDelegate
{
public:
    virtual ~ZRPCommunicationDelegate() = default;
    virtual void didFinishWithData(const ZRPRequestPtr& request, const QByteArray& data) = 0;
    virtual void didFailWithError(const ZRPRequestPtr& request, const Error& error) = 0;
};

// The one dispatcher: keeps every live connection under its request's identity so that the
// request can be cancelled by handing the same object back.
class ZRPCommunication
{
public:
    static ZRPCommunication& sharedInstance();

    // The delegate is not owned: an outcome that arrives after it is gone is dropped.
    void performRequest(const ZRPRequestPtr& request,
                        const std::weak_ptr<ZRPCommunicationDelegate>& delegate);
    std::shared_ptr<ZRPConnection> getConnectionWithRequest(const ZRPRequestPtr& request,
                                                            ZRPConnection::CompletionBlock completion,
                                                            ZRPConnection::ErrorBlock error);
    void cancelRequest(const ZRPRequestPtr& request);
    void removeRequestFromArray(const ZRPRequestPtr& request);
    static QString identifierForRequest(const ZRPRequestPtr& request);

    bool isRequestRegistered(const ZRPRequestPtr& request) const;
    int registeredCount() const;

private:
    ZRPCommunication() = default;
    void removeConnection(const QString& identifier, const ZRPConnection* connection);

    // Written from the caller's thread (start, cancel) and from the background queue (outcomes).
    mutable std::mutex m_mutex;
    QHash<QString, std::shared_ptr<ZRPConnection>> m_connectionsDictionary;
};

} // namespace zrp
