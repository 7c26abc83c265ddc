#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

namespace zrp {

class HttpClient;
class HttpTask;

// Audience measurement: a beacon per start (and per return to the foreground or the background)
// sent to Config's "audience.beacon_url" with the customer id ("c2"), the event ("ev"), a visitor
// id, the application's name and version and a timestamp. The visitor id is the MD5 of the device
// identifier followed by the secret, so the secret itself never travels. A beacon that fails is
// logged and dropped: no retry, nothing shown.
class AudienceMeter : public QObject
{
    Q_OBJECT
public:
    // http: nullptr means HttpClient::shared().
    explicit AudienceMeter(HttpClient* http = nullptr, QObject* parent = nullptr);
    ~AudienceMeter() override;

    static AudienceMeter* sharedInstance();
    // Destroys the shared meter; the next sharedInstance() builds a fresh one.
    static void resetSharedInstance();

    void setHttpClient(HttpClient* http);

    // Sends the start beacon. A customer id that is not 7 digits or a secret that is not 17
    // characters sends nothing and returns false: the measurement side would only discard it.
    bool notifyStart(const QString& customerId, const QString& secret);
    // Beacons "foreground" and "background"; nothing before a successful notifyStart().
    void notifyForeground();
    void notifyBackground();

    bool isStarted() const { return !m_customerId.isEmpty(); }
    QString customerId() const { return m_customerId; }
    QString visitorId() const { return m_visitorId; }
    int beaconsInFlight() const;

    static bool isValidCustomerId(const QString& id);
    static bool isValidSecret(const QString& secret);
    // MD5 (lower-case hex) of deviceId followed by secret.
    static QString visitorIdFor(const QString& deviceId, const QString& secret);

private:
    void send(const QString& event);

    QPointer<HttpClient> m_http;
    bool m_ownClient = true; // m_http is the shared client
    QString m_customerId;
    QString m_visitorId;
    QList<QPointer<HttpTask>> m_tasks;
};

} // namespace zrp
