#include "PushService.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>
#include <set>

namespace zrp::sandbox {

namespace {

bool isDeviceId(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{32}$"));
    return re.match(s).hasMatch();
}

bool isHexToken(const QString& s)
{
    static const QRegularExpression re(QStringLiteral("^[0-9A-Fa-f]+$"));
    return re.match(s).hasMatch();
}

HttpReply badRequest(const QString& why)
{
    return HttpReply::error(400, QStringLiteral("Bad request."), why);
}

} // namespace

std::optional<HttpReply> PushService::route(const HttpRequest& r)
{
    if (r.path == QLatin1String("/_sandbox/push/notifications")) {
        if (r.method == "POST")
            return queueReply(r);
        if (r.method != "GET" && r.method != "HEAD")
            return HttpReply::error(405, QStringLiteral("Method not allowed."),
                                    QStringLiteral("This resource answers GET and POST."));
        std::lock_guard lock(m_mutex);
        QJsonObject byDevice;
        for (const auto& [device, queue] : m_queued) {
            QJsonArray list;
            for (const QJsonObject& n : queue)
                list.append(n);
            if (!list.isEmpty())
                byDevice.insert(device, list);
        }
        return HttpReply::json(200, QJsonObject{{QStringLiteral("notifications"), byDevice}});
    }
    if (r.path == QLatin1String("/_sandbox/push/registrations")) {
        if (r.method != "GET" && r.method != "HEAD")
            return HttpReply::error(405, QStringLiteral("Method not allowed."),
                                    QStringLiteral("This resource answers GET."));
        std::lock_guard lock(m_mutex);
        return HttpReply::json(200, QJsonObject{{QStringLiteral("registrations"), m_registrations}});
    }
    if (r.path.startsWith(QLatin1String("/push/")))
        return serviceReply(r);
    return std::nullopt;
}

HttpReply PushService::serviceReply(const HttpRequest& r)
{
    if (r.method != "GET" && r.method != "HEAD")
        return HttpReply::error(405, QStringLiteral("Method not allowed."),
                                QStringLiteral("The push service answers GET."));
    // Segments are split before decoding, so an escaped "/" inside one cannot add another.
    const QList<QByteArray> raw = r.rawPath.mid(int(sizeof("/push/")) - 1).split('/');
    QStringList segments;
    for (const QByteArray& s : raw)
        segments.append(percentDecode(s, false));
    const QString operation = segments.value(0);
    const bool registration = operation == QLatin1String("register");
    const qsizetype maxSegments = registration ? 4 : 3;
    if (!r.rawPath.startsWith("/push/") || (!registration && operation != QLatin1String("new")) ||
        segments.size() < 3 || segments.size() > maxSegments || segments.contains(QString()))
        return HttpReply::error(404, QStringLiteral("Not found."),
                                QStringLiteral("Use /push/register/<device>/<app>[/<token>] or "
                                               "/push/new/<device>/<app>."));
    const QString device = segments.at(1);
    const QString app = segments.at(2);
    if (!isDeviceId(device))
        return badRequest(QStringLiteral("The device id must be 32 lower-case hexadecimal digits."));

    if (registration) {
        const QJsonValue token = segments.size() == 4 ? QJsonValue(segments.at(3)) : QJsonValue();
        if (token.isString() && !isHexToken(token.toString()))
            return badRequest(QStringLiteral("The token must be hexadecimal digits only."));
        const QJsonObject record{
            {QStringLiteral("device"), device},
            {QStringLiteral("app"), app},
            {QStringLiteral("token"), token},
            {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}};
        {
            std::lock_guard lock(m_mutex);
            if (m_registrations.size() >= kMaxRegistrations)
                m_registrations.removeFirst();
            QJsonObject kept = record;
            kept.insert(QStringLiteral("index"), m_nextIndex++);
            m_registrations.append(kept);
        }
        QJsonObject ack = record;
        ack.remove(QStringLiteral("time"));
        ack.insert(QStringLiteral("registered"), true);
        return HttpReply::json(200, ack);
    }

    QJsonArray results;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_queued.find(device);
        if (it != m_queued.end()) {
            for (const QJsonObject& n : it->second)
                results.append(n);
            // Delivered once; a HEAD sends no body, so it hands nothing out.
            if (r.method == "GET")
                m_queued.erase(it);
        }
    }
    return HttpReply::json(200, QJsonObject{{QStringLiteral("results"), results}});
}

HttpReply PushService::queueReply(const HttpRequest& r)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(r.body, &pe);
    if (!doc.isObject())
        return badRequest(QStringLiteral("The body must be a JSON object."));
    const QJsonObject o = doc.object();
    const QString device = o.value(QStringLiteral("device")).toString();
    if (device != QLatin1String("*") && !isDeviceId(device))
        return badRequest(QStringLiteral("\"device\" is a device id (32 lower-case hex digits) or \"*\"."));
    if (!o.value(QStringLiteral("short")).isString())
        return badRequest(QStringLiteral("\"short\" must be a text."));
    const QJsonValue longText = o.value(QStringLiteral("long"));
    if (!longText.isUndefined() && !longText.isString() && !longText.isNull())
        return badRequest(QStringLiteral("\"long\" must be a text, null or left out."));

    QJsonObject notification{{QStringLiteral("short"), o.value(QStringLiteral("short"))}};
    if (!longText.isUndefined())
        notification.insert(QStringLiteral("long"), longText);

    std::lock_guard lock(m_mutex);
    std::set<QString> devices;
    if (device == QLatin1String("*")) {
        for (const QJsonValue& reg : std::as_const(m_registrations))
            devices.insert(reg.toObject().value(QStringLiteral("device")).toString());
    } else {
        devices.insert(device);
    }
    QJsonArray queuedFor;
    for (const QString& d : devices) {
        std::deque<QJsonObject>& queue = m_queued[d];
        if (int(queue.size()) >= kMaxQueuedPerDevice)
            queue.pop_front();
        queue.push_back(notification);
        queuedFor.append(d);
    }
    return HttpReply::json(200, QJsonObject{{QStringLiteral("queued_for"), queuedFor},
                                            {QStringLiteral("notification"), notification}});
}

void PushService::clear()
{
    std::lock_guard lock(m_mutex);
    m_registrations = QJsonArray();
    m_nextIndex = 1;
    m_queued.clear();
}

} // namespace zrp::sandbox
