#include "PushRegistrar.h"

#include "core/RunLoop.h"
#include "store/KeyValueStore.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <mutex>

namespace zrp {

namespace {

std::mutex g_sharedMutex;
PushRegistrar* g_shared = nullptr;

} // namespace

QString PushRegistrar::tokenKey()
{
    return QStringLiteral("zrp.push.device_token");
}

QString PushRegistrar::enabledTypesKey()
{
    return QStringLiteral("zrp.push.enabled_types");
}

PushRegistrar::PushRegistrar(KeyValueStore* store, QObject* parent) : QObject(parent), m_store(store) {}

PushRegistrar::~PushRegistrar() = default;

PushRegistrar* PushRegistrar::sharedInstance()
{
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared) {
        g_shared = new PushRegistrar();
        if (QCoreApplication* app = QCoreApplication::instance())
            g_shared->moveToThread(app->thread());
    }
    return g_shared;
}

void PushRegistrar::resetSharedInstance()
{
    std::lock_guard lock(g_sharedMutex);
    delete g_shared;
    g_shared = nullptr;
}

void PushRegistrar::setStore(KeyValueStore* store)
{
    m_store = store;
}

KeyValueStore* PushRegistrar::store() const
{
    return m_store ? m_store : KeyValueStore::shared();
}

void PushRegistrar::setDelegate(PushRegistrarDelegate* delegate)
{
    m_delegate = delegate;
    m_delegateGuard = dynamic_cast<QObject*>(delegate);
    m_delegateGuarded = !m_delegateGuard.isNull();
}

PushRegistrarDelegate* PushRegistrar::delegate() const
{
    if (m_delegateGuarded && !m_delegateGuard)
        return nullptr;
    return m_delegate;
}

std::optional<QByteArray> PushRegistrar::storedToken() const
{
    const std::optional<QCborValue> v = store()->value(tokenKey());
    if (!v || !v->isByteArray() || v->toByteArray().size() != kTokenLength)
        return std::nullopt;
    return v->toByteArray();
}

void PushRegistrar::registerForRemoteNotificationTypes(int mask)
{
    mask &= kAllTypes;
    KeyValueStore* kv = store();
    QList<std::pair<QString, QCborValue>> writes{{enabledTypesKey(), qint64(mask)}};
    std::optional<QByteArray> token = storedToken();
    if (!token) {
        // Made once per install; an unreadable token is replaced rather than left to fail forever.
        QByteArray fresh(kTokenLength, Qt::Uninitialized);
        QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(fresh.data()),
                                              kTokenLength / int(sizeof(quint32)));
        writes.append({tokenKey(), fresh});
        token = fresh;
    }
    Error error;
    const bool kept = kv->setValues(writes, &error);
    RunLoop::post(
        [this, kept, error, token = *token] {
            PushRegistrarDelegate* d = delegate();
            if (!d)
                return;
            if (kept)
                d->didRegisterForRemoteNotificationsWithDeviceToken(token);
            else
                d->didFailToRegisterForRemoteNotificationsWithError(error);
        },
        this);
}

int PushRegistrar::enabledRemoteNotificationTypes() const
{
    const std::optional<QCborValue> v = store()->value(enabledTypesKey());
    if (!v || !v->isInteger())
        return 0;
    return int(v->toInteger() & kAllTypes);
}

void PushRegistrar::deliverRemoteNotification(const QVariantMap& payload)
{
    RunLoop::post(
        [this, payload] {
            if (PushRegistrarDelegate* d = delegate())
                d->didReceiveRemoteNotification(payload);
        },
        this);
}

QString PushRegistrar::tokenDescription(const QByteArray& token)
{
    const QByteArray hex = token.toHex();
    QString out = QStringLiteral("<");
    for (qsizetype i = 0; i < hex.size(); i += 8) {
        if (i > 0)
            out += QLatin1Char(' ');
        out += QString::fromLatin1(hex.mid(i, 8));
    }
    out += QLatin1Char('>');
    return out;
}

} // namespace zrp
