#include "ZRPCommunication.h"

namespace zrp {

ZRPCommunication& ZRPCommunication::sharedInstance()
{
    // A function-local static is created exactly once even when two threads race to it.
    static ZRPCommunication* instance = new ZRPCommunication();
    return *instance;
}

QString ZRPCommunication::identifierForRequest(const ZRPRequestPtr& request)
{
    return QString::asprintf("%p", static_cast<const void*>(request.get()));
}

std::shared_ptr<ZRPConnection> ZRPCommunication::getConnectionWithRequest(
    const ZRPRequestPtr& request, ZRPConnection::CompletionBlock completion, ZRPConnection::ErrorBlock error)
{
    if (!request)
        return nullptr;
    return ZRPConnection::connectionWithRequest(request, std::move(completion), std::move(error));
}

void ZRPCommunication::performRequest(const ZRPRequestPtr& request,
                                      const std::weak_ptr<ZRPCommunicationDelegate>& delegate)
{
    const QString identifier = identifierForRequest(request);
    for (int attempt = 0; attempt < 3; ++attempt) {
        // The callbacks reach the connection through a weak handle: the connection owns them,
        // and a strong one would keep it alive forever.
        auto slot = std::make_shared<std::weak_ptr<ZRPConnection>>();
        auto connection = getConnectionWithRequest(
            request,
            [this, delegate, request, identifier, slot](const QByteArray& body) {
                removeConnection(identifier, slot->lock().get());
                if (auto d = delegate.lock())
                    d->didFinishWithData(request, body);
            },
            [this, delegate, request, identifier, slot](const Error& error) {
                removeConnection(identifier, slot->lock().get());
                if (auto d = delegate.lock())
                    d->didFailWithError(request, error);
            });
        if (connection) {
            *slot = connection;
            std::lock_guard lock(m_mutex);
            m_connectionsDictionary.insert(identifier, connection);
            return;
        }
    }
    if (auto d = delegate.lock()) {
        d->didFailWithError(request, Error::withMessage(ZRPAPIWrapperErrorDomain, 1001,
                                                        QStringLiteral("Connection was not created")));
    }
}

void ZRPCommunication::cancelRequest(const ZRPRequestPtr& request)
{
    std::shared_ptr<ZRPConnection> connection;
    {
        std::lock_guard lock(m_mutex);
        connection = m_connectionsDictionary.take(identifierForRequest(request));
    }
    if (connection)
        connection->cancel();
}

void ZRPCommunication::removeRequestFromArray(const ZRPRequestPtr& request)
{
    std::lock_guard lock(m_mutex);
    m_connectionsDictionary.remove(identifierForRequest(request));
}

void ZRPCommunication::removeConnection(const QString& identifier, const ZRPConnection* connection)
{
    std::lock_guard lock(m_mutex);
    auto it = m_connectionsDictionary.find(identifier);
    // Only this connection's own entry: a newer start of the same request may have replaced it.
    if (it != m_connectionsDictionary.end() && (!connection || it.value().get() == connection))
        m_connectionsDictionary.erase(it);
}

bool ZRPCommunication::isRequestRegistered(const ZRPRequestPtr& request) const
{
    std::lock_guard lock(m_mutex);
    return m_connectionsDictionary.contains(identifierForRequest(request));
}

int ZRPCommunication::registeredCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_connectionsDictionary.size());
}

} // namespace zrp
