#pragma once

#include "core/Error.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace zrp {

class KeyValueStore;

// Kinds of remote notification a user allows; combined as a mask.
enum RemoteNotificationType
{
    RemoteNotificationTypeNone = 0,
    RemoteNotificationTypeBadge = 1,
    RemoteNotificationTypeSound = 2,
    RemoteNotificationTypeAlert = 4,
};

// Told, on the main thread, what the push service has to say. Every operation is optional.
// Not owned; when the delegate is also a QObject its destruction is noticed.
class PushRegistrarDelegate
{
public:
    virtual ~PushRegistrarDelegate() = default;
    virtual void didRegisterForRemoteNotificationsWithDeviceToken(const QByteArray& deviceToken)
    {
        Q_UNUSED(deviceToken);
    }
    virtual void didFailToRegisterForRemoteNotificationsWithError(const Error& error) { Q_UNUSED(error); }
    virtual void didReceiveRemoteNotification(const QVariantMap& payload) { Q_UNUSED(payload); }
};

// The device's push service. Registering records the allowed notification types and hands out
// the install's device token: 32 random bytes made on the first registration and kept in the
// settings store, so the token stays the same for as long as the install does. Answers come on
// a later turn of the main run loop, never inside the caller's stack.
//
// Main thread only.
class PushRegistrar : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTokenLength = 32;
    static constexpr int kAllTypes =
        RemoteNotificationTypeBadge | RemoteNotificationTypeSound | RemoteNotificationTypeAlert;

    // Keys in the store.
    static QString tokenKey();        // "zrp.push.device_token": the token bytes
    static QString enabledTypesKey(); // "zrp.push.enabled_types": the mask last registered

    // A null store is the process's own, KeyValueStore::shared(), looked up when used.
    explicit PushRegistrar(KeyValueStore* store = nullptr, QObject* parent = nullptr);
    ~PushRegistrar() override;

    static PushRegistrar* sharedInstance();
    // Destroys the shared registrar (answers it still owed are dropped); the next
    // sharedInstance() builds a fresh one over the same store.
    static void resetSharedInstance();

    void setStore(KeyValueStore* store);
    KeyValueStore* store() const;

    void setDelegate(PushRegistrarDelegate* delegate);
    PushRegistrarDelegate* delegate() const;

    // Keeps the mask (bits other than badge, sound and alert are dropped) and the token in one
    // write, then answers on the next turn: the token, or the store's error when it could not
    // keep them (nothing of the registration is kept then).
    void registerForRemoteNotificationTypes(int mask);
    // The mask last registered; 0 before any registration.
    int enabledRemoteNotificationTypes() const;

    // An incoming notification: handed to the delegate on the next turn.
    void deliverRemoteNotification(const QVariantMap& payload);

    // The token's text form: "<" + the bytes in lower-case hex, in groups of 8 digits separated
    // by one space, + ">".
    static QString tokenDescription(const QByteArray& token);

private:
    std::optional<QByteArray> storedToken() const;

    KeyValueStore* m_store = nullptr;
    PushRegistrarDelegate* m_delegate = nullptr;
    QPointer<QObject> m_delegateGuard;
    bool m_delegateGuarded = false;
};

} // namespace zrp
