#include "LogService.h"

#include <QDateTime>
#include <QJsonObject>

namespace zrp::sandbox {

std::optional<HttpReply> LogService::route(const HttpRequest& r)
{
    if (r.path == QLatin1String("/_sandbox/logs")) {
        if (r.method == "DELETE") {
            clear();
            return HttpReply::noContent();
        }
        qint64 since = 0;
        for (const QueryItem& i : parseQuery(r.rawQuery)) {
            if (i.name == QLatin1String("since"))
                since = i.value.toLongLong();
        }
        return HttpReply::json(200, QJsonObject{{QStringLiteral("logs"), records(since)}});
    }
    if (r.path.startsWith(QLatin1String("/log/")))
        return logReply(r);
    return std::nullopt;
}

HttpReply LogService::logReply(const HttpRequest& r)
{
    if (r.method != "GET" && r.method != "HEAD")
        return HttpReply::error(405, QStringLiteral("Method not allowed."),
                                QStringLiteral("The log service answers GET."));
    // "/log/<source>/": one non-empty segment.
    QString source = r.path.mid(5);
    if (source.endsWith(QLatin1Char('/')))
        source.chop(1);
    if (source.isEmpty() || source.contains(QLatin1Char('/')))
        return HttpReply::error(404, QStringLiteral("Not found."), QStringLiteral("Log to /log/<source>/."));

    QJsonObject params;
    for (const QueryItem& i : parseQuery(r.rawQuery)) {
        if (!i.name.isEmpty())
            params.insert(i.name, i.value);
    }
    static const QStringList severities{"Information", "Warning", "Error", "Debug"};
    for (const char* required : {"severity", "component", "event_type", "message"}) {
        if (!params.contains(QLatin1String(required)))
            return HttpReply::error(
                400, QStringLiteral("Incomplete record."),
                QStringLiteral("The parameter \"%1\" is missing.").arg(QLatin1String(required)));
    }
    if (!severities.contains(params.value(QStringLiteral("severity")).toString()))
        return HttpReply::error(
            400, QStringLiteral("Unknown severity."),
            QStringLiteral("severity is one of %1.").arg(severities.join(QStringLiteral(", "))));
    {
        std::lock_guard lock(m_mutex);
        if (m_records.size() >= kMaxRecords)
            m_records.removeFirst();
        m_records.append(
            QJsonObject{{QStringLiteral("index"), m_nextIndex++},
                        {QStringLiteral("source"), source},
                        {QStringLiteral("params"), params},
                        {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}});
    }
    HttpReply reply;
    reply.status = 200;
    reply.contentType = "text/plain";
    reply.body = "OK";
    return reply;
}

QJsonArray LogService::records(qint64 sinceIndex) const
{
    std::lock_guard lock(m_mutex);
    QJsonArray out;
    for (const QJsonValue& v : m_records) {
        if (v.toObject().value(QStringLiteral("index")).toInteger() > sinceIndex)
            out.append(v);
    }
    return out;
}

void LogService::clear()
{
    std::lock_guard lock(m_mutex);
    m_records = QJsonArray();
}

} // namespace zrp::sandbox
