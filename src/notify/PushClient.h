#pragma once

#include "core/Error.h"
#include "notify/PushNotification.h"

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

namespace zrp {
class HttpTask;
}

// Implemented by the hub. Every operation is optional.
class PushClientDelegate
{
public:
    virtual ~PushClientDelegate() = default;
    virtual void registerDeviceSucceeded() {}
    virtual void registerDeviceFailed(const zrp::Error& error) { Q_UNUSED(error); }
    virtual void getNewNotificationsSucceeded(const QList<PushNotification>& notifications)
    {
        Q_UNUSED(notifications);
    }
    virtual void getNewNotificationsFailed(const zrp::Error& error) { Q_UNUSED(error); }
};

// The client of the push registration service: registers the device with its push token and
// fetches the notifications waiting for it. Requests never read the download cache; answers come
// back to the delegate on the main thread. Nothing is retried here: the hub asks again once
// connectivity returns.
class PushClient : public QObject
{
    Q_OBJECT
public:
    explicit PushClient(QObject* parent = nullptr);
    ~PushClient() override; // cancels every request; nothing is called back after

    // Not owned. When the delegate is also a QObject, its destruction is noticed.
    void setDelegate(PushClientDelegate* delegate);
    PushClientDelegate* delegate() const;

    // GET <push base>register/<device id>/<app id>[/<token text>]; an empty token registers
    // without one. Records the analytics event first. Any HTTP answer, whatever its status,
    // counts as success; only a transport failure is reported as one.
    void registerDevice(const QByteArray& token = QByteArray());
    // GET <push base>new/<device id>/<app id>. A body that is not JSON, or has no "results"
    // list, is an empty list.
    void getNewNotifications();

    // Stops every request under way; none of them calls back. The delegate stays.
    void cancelRequests();
    int requestsInFlight() const;

    // The bundle identifier.
    static QString appId();
    // MD5, as 32 lower-case hex digits, of the hardware address text followed by the app id. A
    // machine without a hardware address uses its machine id in the address's place, so that
    // such devices do not all share one id.
    static QString deviceId();
    // The token's text form with "<", ">" and " " removed: the bytes as one run of hex digits.
    static QString tokenText(const QByteArray& token);
    // Config "push.base_url", ending in "/".
    static QString pushBase();

    // The notifications of a fetch's body, in their order; exposed for tests and fuzzing.
    static QList<PushNotification> notificationsFromBody(const QByteArray& body);

private:
    void send(const QUrl& url, bool isRegistration);
    void finished(zrp::HttpTask* task, bool isRegistration, const QByteArray& body, const zrp::Error& error);

    PushClientDelegate* m_delegate = nullptr;
    QPointer<QObject> m_delegateGuard;
    bool m_delegateGuarded = false;
    QList<QPointer<zrp::HttpTask>> m_tasks;
};
