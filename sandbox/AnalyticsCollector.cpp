#include "AnalyticsCollector.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

namespace zrp::sandbox {

namespace {

bool isWholeNumber(const QJsonValue& v)
{
    return v.isDouble() && v.toDouble() == double(qint64(v.toDouble()));
}

// Empty when the hit is well formed, else what is wrong with it.
QString checkHit(const QJsonValue& value)
{
    if (!value.isObject())
        return QStringLiteral("is not an object");
    const QJsonObject h = value.toObject();
    if (!isWholeNumber(h.value(QStringLiteral("seq"))) || h.value(QStringLiteral("seq")).toDouble() < 0)
        return QStringLiteral("has no whole-number \"seq\"");
    const QString type = h.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("pageview")) {
        if (!h.value(QStringLiteral("path")).toString().startsWith(QLatin1Char('/')))
            return QStringLiteral("is a page view whose \"path\" does not begin with \"/\"");
    } else if (type == QLatin1String("event")) {
        if (h.value(QStringLiteral("category")).toString().isEmpty() ||
            h.value(QStringLiteral("action")).toString().isEmpty())
            return QStringLiteral("is an event without \"category\" and \"action\"");
        // null is "no value", as the tracker sends an event without one.
        const QJsonValue value = h.value(QStringLiteral("value"));
        if (!value.isUndefined() && !value.isNull() && !isWholeNumber(value))
            return QStringLiteral("has a \"value\" that is not a whole number");
    } else {
        return QStringLiteral("has the type \"%1\"; \"pageview\" or \"event\" expected").arg(type);
    }
    for (const char* key : {"label", "referrer", "path", "category", "action"}) {
        const QJsonValue v = h.value(QLatin1String(key));
        if (!v.isUndefined() && !v.isNull() && !v.isString())
            return QStringLiteral("has a \"%1\" that is not a text").arg(QLatin1String(key));
    }
    const QJsonValue vars = h.value(QStringLiteral("custom_variables"));
    if (!vars.isUndefined()) {
        if (!vars.isArray())
            return QStringLiteral("has \"custom_variables\" that are not a list");
        for (const QJsonValue& cv : vars.toArray()) {
            const QJsonObject c = cv.toObject();
            if (!cv.isObject() || !isWholeNumber(c.value(QStringLiteral("index"))) ||
                !c.value(QStringLiteral("name")).isString() || !c.value(QStringLiteral("value")).isString())
                return QStringLiteral("has a custom variable without \"index\", \"name\" and \"value\"");
        }
    }
    const QDateTime time =
        QDateTime::fromString(h.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!time.isValid())
        return QStringLiteral("has no ISO-8601 \"time\"");
    return QString();
}

} // namespace

AnalyticsCollector::AnalyticsCollector(QStringList accountIds) : m_accountIds(std::move(accountIds)) {}

HttpReply AnalyticsCollector::collect(const HttpRequest& request)
{
    if (request.method != "POST") {
        HttpReply r = HttpReply::error(405, QStringLiteral("Method not allowed."),
                                       QStringLiteral("The collector takes POST requests."));
        r.setHeader("Allow", "POST");
        return r;
    }
    if (!request.header("Content-Type").trimmed().toLower().startsWith("application/json")) {
        return HttpReply::error(415, QStringLiteral("Unsupported media type."),
                                QStringLiteral("The collector takes \"application/json\" bodies."));
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &pe);
    if (!doc.isObject()) {
        return HttpReply::error(400, QStringLiteral("Malformed batch."),
                                QStringLiteral("The body is not a JSON object (%1).").arg(pe.errorString()));
    }
    const QJsonObject batch = doc.object();
    const QString account = batch.value(QStringLiteral("account")).toString();
    if (account.isEmpty() || !batch.value(QStringLiteral("hits")).isArray()) {
        return HttpReply::error(400, QStringLiteral("Malformed batch."),
                                QStringLiteral("A batch needs \"account\" (text) and \"hits\" (list)."));
    }
    if (!m_accountIds.contains(account)) {
        return HttpReply::error(403, QStringLiteral("Unknown account."),
                                QStringLiteral("The account \"%1\" is not collected here.").arg(account));
    }
    const QJsonArray hits = batch.value(QStringLiteral("hits")).toArray();
    for (int i = 0; i < hits.size(); ++i) {
        const QString problem = checkHit(hits.at(i));
        if (!problem.isEmpty()) {
            return HttpReply::error(
                400, QStringLiteral("Malformed batch."),
                QStringLiteral("Hit %1 %2; nothing of this batch was kept.").arg(i).arg(problem));
        }
    }
    int duplicates = 0;
    {
        std::lock_guard lock(m_mutex);
        QSet<QByteArray>& seen = m_seen[account];
        const QString received = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        for (const QJsonValue& v : hits) {
            QJsonObject h = v.toObject();
            // The whole hit, not only its "seq": a new install starts counting again at 1.
            const QByteArray key = QCryptographicHash::hash(QJsonDocument(h).toJson(QJsonDocument::Compact),
                                                            QCryptographicHash::Sha1);
            if (seen.contains(key)) {
                ++duplicates;
                continue;
            }
            seen.insert(key);
            h.insert(QStringLiteral("index"), m_nextIndex++);
            h.insert(QStringLiteral("account"), account);
            h.insert(QStringLiteral("received_at"), received);
            m_hits.append(h);
        }
    }
    return HttpReply::json(200, QJsonObject{{QStringLiteral("accepted"), hits.size()},
                                            {QStringLiteral("duplicates"), duplicates}});
}

QJsonArray AnalyticsCollector::hits(qint64 sinceIndex) const
{
    std::lock_guard lock(m_mutex);
    QJsonArray out;
    for (const QJsonValue& v : m_hits) {
        if (qint64(v.toObject().value(QStringLiteral("index")).toDouble()) > sinceIndex)
            out.append(v);
    }
    return out;
}

void AnalyticsCollector::clear()
{
    std::lock_guard lock(m_mutex);
    m_hits = QJsonArray();
    m_seen.clear();
}

} // namespace zrp::sandbox
