#include "ZRPPlayerQuellmoor.h"

#include "core/Config.h"
#include "core/Device.h"
#include "core/Text.h"
#include "core/WorkQueue.h"
#include "net/HttpClient.h"

#include <QStringList>

namespace zrp {

QString ZRPPlayerQuellmoor::severityName(int severity)
{
    switch (severity) {
    case Information:
        return QStringLiteral("Information");
    case Warning:
        return QStringLiteral("Warning");
    case Error:
        return QStringLiteral("Error");
    default:
        return QStringLiteral("Debug");
    }
}

QString ZRPPlayerQuellmoor::escapedValue(const QString& value)
{
    // "&" and "=" would cut a message into parameters of their own, "+" would arrive as a blank
    // and "#" would end the query.
    return Text::percentEscape(value, QByteArray("&=+#"));
}

QUrl ZRPPlayerQuellmoor::URLWithLogSource(const QString& logSource, int severity, const QString& component,
                                          const QString& eventType, const QString& message,
                                          const Parameters& additionalParameters)
{
    Parameters p;
    auto put = [&p](const char* name, const QString& value) {
        if (!value.isNull())
            p.insert(QString::fromLatin1(name), value);
    };
    put("severity", severityName(severity));
    put("component", component);
    put("event_type", eventType);
    put("message", message);
    put("x_app_name", Bundle::name());
    const QString internal = Bundle::internalVersion();
    put("x_app_version",
        internal.isEmpty() ? Bundle::version() : QStringLiteral("%1 (%2)").arg(Bundle::version(), internal));
    put("x_device_id", Device::uniqueDeviceIdentifier());
    put("x_device_info",
        QStringLiteral("%1 iOS %2").arg(Device::platformDescription(), Device::systemVersion()));
    for (auto it = additionalParameters.cbegin(); it != additionalParameters.cend(); ++it) {
        if (it.value().isNull())
            p.remove(it.key());
        else
            p.insert(it.key(), it.value());
    }
    QStringList pairs;
    for (auto it = p.cbegin(); it != p.cend(); ++it)
        pairs << it.key() + QLatin1Char('=') + escapedValue(it.value());
    const QString url = Config::shared().value(QStringLiteral("log.base_url")) +
                        Text::percentEscape(logSource, QByteArray("/?#&")) + QStringLiteral("/?") +
                        pairs.join(QLatin1Char('&'));
    return QUrl::fromEncoded(url.toLatin1(), QUrl::StrictMode);
}

void ZRPPlayerQuellmoor::logSource(const QString& logSource, int severity, const QString& component,
                                   const QString& eventType, const QString& message,
                                   const Parameters& additionalParameters)
{
    const QUrl url =
        URLWithLogSource(logSource, severity, component, eventType, message, additionalParameters);
    WorkQueue::concurrent([url]() {
        zrp::Error ignored;
        HttpClient::sendSync(HttpRequest(url), &ignored);
    });
}

} // namespace zrp
