#include "OutsideServices.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>

namespace zrp::sandbox {

namespace {

bool isGet(const HttpRequest& r)
{
    return r.method == "GET" || r.method == "HEAD";
}

HttpReply onlyGet()
{
    HttpReply r = HttpReply::error(405, QStringLiteral("Method not allowed."),
                                   QStringLiteral("This resource answers GET."));
    r.setHeader("Allow", "GET, HEAD");
    return r;
}

HttpReply badRequest(const QString& why)
{
    return HttpReply::error(400, QStringLiteral("Bad request."), why);
}

// Every parameter, decoded; the last of a repeated name wins.
QJsonObject params(const HttpRequest& r)
{
    QJsonObject out;
    for (const QueryItem& i : parseQuery(r.rawQuery)) {
        if (!i.name.isEmpty())
            out.insert(i.name, i.value);
    }
    return out;
}

bool matches(const QJsonObject& p, const char* name, const char* pattern)
{
    const QRegularExpression re{QString::fromLatin1(pattern)};
    return p.contains(QLatin1String(name)) && re.match(p.value(QLatin1String(name)).toString()).hasMatch();
}

} // namespace

std::optional<HttpReply> OutsideServices::route(const HttpRequest& r)
{
    if (r.path == QLatin1String("/audience/beacon"))
        return beaconReply(r);
    if (r.path == QLatin1String("/_sandbox/audience")) {
        if (r.method == "DELETE") {
            std::lock_guard lock(m_mutex);
            m_beacons = QJsonArray();
            return HttpReply::noContent();
        }
        if (!isGet(r))
            return onlyGet();
        return HttpReply::json(200, QJsonObject{{QStringLiteral("beacons"), beacons()}});
    }
    if (r.path == QLatin1String("/survey/eligibility"))
        return eligibilityReply(r);
    if (r.path.startsWith(QLatin1String("/survey/take/")))
        return surveyPage(r);
    if (r.path == QLatin1String("/_sandbox/survey"))
        return surveyControl(r);
    return std::nullopt;
}

HttpReply OutsideServices::beaconReply(const HttpRequest& r)
{
    if (!isGet(r))
        return onlyGet();
    const QJsonObject p = params(r);
    if (!matches(p, "c2", "^[0-9]{7}$"))
        return badRequest(QStringLiteral("c2 must be the 7-digit customer id."));
    if (!matches(p, "ev", "^(start|foreground|background)$"))
        return badRequest(QStringLiteral("ev is one of start, foreground, background."));
    if (!matches(p, "vid", "^[0-9a-f]{32}$"))
        return badRequest(QStringLiteral("vid must be 32 lower-case hexadecimal digits."));
    if (!matches(p, "app", ".") || !matches(p, "ver", "."))
        return badRequest(QStringLiteral("app and ver name the application."));
    if (!matches(p, "ts", "^[0-9]{1,12}$"))
        return badRequest(QStringLiteral("ts must be seconds since 1970."));
    {
        std::lock_guard lock(m_mutex);
        if (m_beacons.size() >= kMaxBeacons)
            m_beacons.removeFirst();
        m_beacons.append(
            QJsonObject{{QStringLiteral("index"), m_nextIndex++},
                        {QStringLiteral("params"), p},
                        {QStringLiteral("query"), QString::fromLatin1(r.rawQuery)},
                        {QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}});
    }
    return HttpReply::noContent();
}

HttpReply OutsideServices::eligibilityReply(const HttpRequest& r)
{
    if (!isGet(r))
        return onlyGet();
    const QJsonObject p = params(r);
    if (!matches(p, "customer", "^[A-Za-z0-9+/]{22}[A-Za-z0-9+/=]{2}$"))
        return badRequest(QStringLiteral("customer must be the 24-character customer id."));
    if (!matches(p, "survey", "^[A-Za-z0-9_.-]{1,64}$"))
        return badRequest(QStringLiteral("survey names the survey."));
    if (!matches(p, "launches", "^[0-9]{1,9}$"))
        return badRequest(QStringLiteral("launches must be a number."));
    if (!matches(p, "device", "."))
        return badRequest(QStringLiteral("device identifies the device."));

    QJsonObject setting;
    {
        std::lock_guard lock(m_mutex);
        setting = m_survey;
    }
    if (!setting.value(QStringLiteral("eligible")).toBool())
        return HttpReply::json(200, QJsonObject{{QStringLiteral("eligible"), false}});
    const QString survey = p.value(QStringLiteral("survey")).toString();
    QJsonObject answer{
        {QStringLiteral("eligible"), true},
        {QStringLiteral("url"),
         QStringLiteral("http://%1/survey/take/%2").arg(QString::fromLatin1(r.host()), survey)}};
    for (const char* key : {"title", "message"}) {
        if (setting.contains(QLatin1String(key)))
            answer.insert(QLatin1String(key), setting.value(QLatin1String(key)));
    }
    return HttpReply::json(200, answer);
}

HttpReply OutsideServices::surveyPage(const HttpRequest& r)
{
    if (!isGet(r))
        return onlyGet();
    const QString survey = r.path.mid(int(qstrlen("/survey/take/")));
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    if (!name.match(survey).hasMatch())
        return HttpReply::error(404, QStringLiteral("Not found."), QStringLiteral("No such survey."));
    HttpReply reply;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = "<!DOCTYPE html>\n<html><head><title>ZRP survey</title></head><body>"
                 "<h1>Tell us about the ZRP app</h1><p>Survey " +
                 survey.toUtf8() + ": three short questions would follow here.</p></body></html>\n";
    return reply;
}

HttpReply OutsideServices::surveyControl(const HttpRequest& r)
{
    if (isGet(r)) {
        std::lock_guard lock(m_mutex);
        QJsonObject shown = m_survey;
        shown.insert(QStringLiteral("eligible"), m_survey.value(QStringLiteral("eligible")).toBool());
        return HttpReply::json(200, shown);
    }
    if (r.method != "POST") {
        HttpReply reply = HttpReply::error(405, QStringLiteral("Method not allowed."),
                                           QStringLiteral("This resource answers GET and POST."));
        reply.setHeader("Allow", "GET, HEAD, POST");
        return reply;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(r.body);
    const QJsonObject o = doc.object();
    if (!doc.isObject() || !o.value(QStringLiteral("eligible")).isBool())
        return badRequest(
            QStringLiteral("The body is {\"eligible\": true|false, \"title\"?, \"message\"?}."));
    QJsonObject setting{{QStringLiteral("eligible"), o.value(QStringLiteral("eligible"))}};
    for (const char* key : {"title", "message"}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isString())
            setting.insert(QLatin1String(key), v);
        else if (!v.isUndefined() && !v.isNull())
            return badRequest(QStringLiteral("\"%1\" must be a string.").arg(QLatin1String(key)));
    }
    std::lock_guard lock(m_mutex);
    m_survey = setting;
    return HttpReply::json(200, m_survey);
}

QJsonArray OutsideServices::beacons() const
{
    std::lock_guard lock(m_mutex);
    return m_beacons;
}

void OutsideServices::clear()
{
    std::lock_guard lock(m_mutex);
    m_beacons = QJsonArray();
    m_survey = QJsonObject();
}

} // namespace zrp::sandbox
