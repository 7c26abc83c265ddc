#include "notify/PushClient.h"

#include "analytics/AnalyticsTracker.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/Text.h"
#include "net/HttpClient.h"
#include "push/PushRegistrar.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSysInfo>

using namespace zrp;

namespace {

std::optional<QString> textOf(const QJsonValue& v)
{
    // Numbers are taken as their text; anything else that is not text is no text at all.
    if (v.isString() || v.isDouble())
        return Json::string(v);
    return std::nullopt;
}

} // namespace

PushClient::PushClient(QObject* parent) : QObject(parent) {}

PushClient::~PushClient()
{
    cancelRequests();
}

void PushClient::setDelegate(PushClientDelegate* delegate)
{
    m_delegate = delegate;
    m_delegateGuard = dynamic_cast<QObject*>(delegate);
    m_delegateGuarded = !m_delegateGuard.isNull();
}

PushClientDelegate* PushClient::delegate() const
{
    if (m_delegateGuarded && !m_delegateGuard)
        return nullptr;
    return m_delegate;
}

QString PushClient::appId()
{
    return Bundle::identifier();
}

QString PushClient::deviceId()
{
    QString hardware = Device::macaddress().value_or(QString());
    if (hardware.isEmpty())
        hardware = QString::fromLatin1(QSysInfo::machineUniqueId());
    return Text::stringFromMD5(hardware + appId());
}

QString PushClient::tokenText(const QByteArray& token)
{
    QString text = PushRegistrar::tokenDescription(token);
    text.remove(QLatin1Char('<'));
    text.remove(QLatin1Char('>'));
    text.remove(QLatin1Char(' '));
    return text;
}

QString PushClient::pushBase()
{
    QString base = Config::shared().value(QStringLiteral("push.base_url"));
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    return base;
}

void PushClient::registerDevice(const QByteArray& token)
{
    QString url =
        pushBase() + QStringLiteral("register/%1/%2").arg(deviceId(), Text::percentEscapeUnreserved(appId()));
    if (!token.isEmpty())
        url += QLatin1Char('/') + tokenText(token);
    // The tracker may not be running; registration goes ahead regardless.
    AnalyticsTracker::sharedInstance()->trackEvent(QStringLiteral("system"),
                                                   QStringLiteral("push_notification_register"), appId(), -1);
    send(QUrl(url, QUrl::StrictMode), true);
}

void PushClient::getNewNotifications()
{
    send(
        QUrl(pushBase() + QStringLiteral("new/%1/%2").arg(deviceId(), Text::percentEscapeUnreserved(appId())),
             QUrl::StrictMode),
        false);
}

void PushClient::send(const QUrl& url, bool isRegistration)
{
    HttpRequest request(url);
    request.cachePolicy = CachePolicy::NeverStore;
    // The task is known only once send() returns; the callback finds it through this holder.
    auto holder = std::make_shared<QPointer<HttpTask>>();
    HttpTask* task = HttpClient::shared().send(
        request, [this, holder, isRegistration](const HttpResponse& response, const Error& error) {
            finished(holder->data(), isRegistration, response.body, error);
        });
    *holder = task;
    m_tasks.append(task);
}

void PushClient::finished(HttpTask* task, bool isRegistration, const QByteArray& body, const Error& error)
{
    m_tasks.removeAll(QPointer<HttpTask>(task));
    m_tasks.removeAll(QPointer<HttpTask>());
    PushClientDelegate* d = delegate();
    if (!d)
        return;
    if (isRegistration) {
        if (error)
            d->registerDeviceFailed(error);
        else
            d->registerDeviceSucceeded();
        return;
    }
    if (error)
        d->getNewNotificationsFailed(error);
    else
        d->getNewNotificationsSucceeded(notificationsFromBody(body));
}

void PushClient::cancelRequests()
{
    const QList<QPointer<HttpTask>> tasks = std::exchange(m_tasks, {});
    for (const QPointer<HttpTask>& task : tasks) {
        if (task)
            task->cancel();
    }
}

int PushClient::requestsInFlight() const
{
    int n = 0;
    for (const QPointer<HttpTask>& task : m_tasks)
        n += task && !task->isFinished() ? 1 : 0;
    return n;
}

QList<PushNotification> PushClient::notificationsFromBody(const QByteArray& body)
{
    QList<PushNotification> out;
    const QJsonValue document = Json::parseLenient(body);
    const QJsonValue results = document.toObject().value(QStringLiteral("results"));
    for (const QJsonValue& element : results.toArray()) {
        // An element that is not an object carries no texts to show.
        if (!element.isObject())
            continue;
        const QJsonObject o = element.toObject();
        out.append(PushNotification{textOf(o.value(QStringLiteral("short"))),
                                    textOf(o.value(QStringLiteral("long")))});
    }
    return out;
}
