#include "AudienceMeter.h"

#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/Text.h"
#include "net/HttpClient.h"

#include <QRegularExpression>
#include <memory>

namespace zrp {

namespace {
std::unique_ptr<AudienceMeter>& sharedMeter()
{
    static std::unique_ptr<AudienceMeter> meter;
    return meter;
}
} // namespace

AudienceMeter::AudienceMeter(HttpClient* http, QObject* parent) : QObject(parent)
{
    setHttpClient(http);
}

AudienceMeter::~AudienceMeter()
{
    for (const QPointer<HttpTask>& t : std::as_const(m_tasks))
        if (t)
            t->cancel();
}

AudienceMeter* AudienceMeter::sharedInstance()
{
    if (!sharedMeter())
        sharedMeter() = std::make_unique<AudienceMeter>();
    return sharedMeter().get();
}

void AudienceMeter::resetSharedInstance()
{
    sharedMeter().reset();
}

void AudienceMeter::setHttpClient(HttpClient* http)
{
    m_http = http;
    m_ownClient = !http;
}

bool AudienceMeter::isValidCustomerId(const QString& id)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{7}$"));
    return digits.match(id).hasMatch();
}

bool AudienceMeter::isValidSecret(const QString& secret)
{
    return secret.size() == 17;
}

QString AudienceMeter::visitorIdFor(const QString& deviceId, const QString& secret)
{
    return Text::stringFromMD5(deviceId + secret);
}

bool AudienceMeter::notifyStart(const QString& customerId, const QString& secret)
{
    if (!isValidCustomerId(customerId) || !isValidSecret(secret)) {
        qWarning("AudienceMeter: the customer id must be 7 digits and the secret 17 characters; "
                 "no measurement is sent");
        return false;
    }
    m_customerId = customerId;
    m_visitorId = visitorIdFor(Device::uniqueDeviceIdentifier(), secret);
    send(QStringLiteral("start"));
    return true;
}

void AudienceMeter::notifyForeground()
{
    if (isStarted())
        send(QStringLiteral("foreground"));
}

void AudienceMeter::notifyBackground()
{
    if (isStarted())
        send(QStringLiteral("background"));
}

int AudienceMeter::beaconsInFlight() const
{
    int n = 0;
    for (const QPointer<HttpTask>& t : m_tasks)
        if (t && !t->isFinished())
            ++n;
    return n;
}

void AudienceMeter::send(const QString& event)
{
    const QUrl base = Config::shared().url(QStringLiteral("audience.beacon_url"));
    if (!base.isValid() || base.isRelative()) {
        qWarning("AudienceMeter: no beacon address is configured");
        return;
    }
    const QList<std::pair<const char*, QString>> params = {
        {"c2", m_customerId},       {"ev", event},
        {"vid", m_visitorId},       {"app", Bundle::name()},
        {"ver", Bundle::version()}, {"ts", QString::number(Clock::shared()->secondsSince1970())},
    };
    QString query = base.query(QUrl::FullyEncoded);
    for (const auto& [name, value] : params) {
        if (!query.isEmpty())
            query += QLatin1Char('&');
        query += QLatin1String(name) + QLatin1Char('=') + Text::percentEscapeUnreserved(value);
    }
    QUrl url = base;
    url.setQuery(query, QUrl::StrictMode);

    HttpRequest request(url);
    request.cachePolicy = CachePolicy::NeverStore;
    request.timeoutMs = 30000;
    HttpClient* http = m_ownClient ? &HttpClient::shared() : m_http.data();
    if (!http)
        return;
    m_tasks.removeAll(QPointer<HttpTask>());
    m_tasks.append(http->send(request, [event](const HttpResponse& response, const Error& error) {
        if (error)
            qWarning("AudienceMeter: the %s beacon failed: %s", qPrintable(event),
                     qPrintable(error.description()));
        else if (response.status >= 400)
            qWarning("AudienceMeter: the %s beacon was refused with HTTP %d", qPrintable(event),
                     response.status);
    }));
}

} // namespace zrp
