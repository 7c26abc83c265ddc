#include "SandboxHttp.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

namespace zrp::sandbox {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

QByteArray HttpRequest::header(const QByteArray& name) const
{
    for (const auto& [k, v] : headers) {
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    }
    return QByteArray();
}

bool HttpRequest::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray HttpRequest::host() const
{
    const QByteArray h = header("Host");
    return h.isEmpty() ? localAddress : h;
}

HttpRequest HttpRequest::fromTarget(const QByteArray& method, const QByteArray& target)
{
    HttpRequest r;
    r.method = method;
    r.target = target;
    const qsizetype q = target.indexOf('?');
    r.hasQuery = q >= 0;
    r.rawPath = r.hasQuery ? target.left(q) : target;
    r.rawQuery = r.hasQuery ? target.mid(q + 1) : QByteArray();
    r.path = percentDecode(r.rawPath, false);
    return r;
}

void HttpReply::setHeader(const QByteArray& name, const QByteArray& value)
{
    for (auto& h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) {
            h.second = value;
            return;
        }
    }
    headers.append({name, value});
}

QByteArray HttpReply::header(const QByteArray& name) const
{
    for (const auto& [k, v] : headers) {
        if (k.compare(name, Qt::CaseInsensitive) == 0)
            return v;
    }
    return QByteArray();
}

HttpReply HttpReply::json(int status, const QJsonValue& value)
{
    HttpReply r;
    r.status = status;
    r.contentType = "application/json";
    r.body = value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                             : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    return r;
}

HttpReply HttpReply::error(int status, const QString& description, const QString& detailed)
{
    return json(status, QJsonObject{{QStringLiteral("description"), description},
                                    {QStringLiteral("detailed_description"), detailed}});
}

HttpReply HttpReply::noContent()
{
    HttpReply r;
    r.status = 204;
    return r;
}

QString percentDecode(const QByteArray& raw, bool plusIsSpace)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw.at(i);
        if (c == '%' && i + 2 < raw.size() && hexValue(raw.at(i + 1)) >= 0 && hexValue(raw.at(i + 2)) >= 0) {
            out.append(char(hexValue(raw.at(i + 1)) * 16 + hexValue(raw.at(i + 2))));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.append(' ');
        } else {
            out.append(c);
        }
    }
    return QString::fromUtf8(out);
}

QList<QueryItem> parseQuery(const QByteArray& rawQuery)
{
    QList<QueryItem> items;
    if (rawQuery.isEmpty())
        return items;
    for (const QByteArray& piece : rawQuery.split('&')) {
        if (piece.isEmpty())
            continue;
        QueryItem item;
        item.raw = piece;
        const qsizetype eq = piece.indexOf('=');
        item.name = percentDecode(eq < 0 ? piece : piece.left(eq), true);
        item.value = eq < 0 ? QString() : percentDecode(piece.mid(eq + 1), true);
        items.append(item);
    }
    return items;
}

QByteArray httpDate(qint64 secondsSince1970)
{
    const QDateTime t = QDateTime::fromSecsSinceEpoch(secondsSince1970, Qt::UTC);
    return QLocale::c().toString(t, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

qint64 parseHttpDate(const QByteArray& text)
{
    QDateTime t = QLocale::c().toDateTime(QString::fromLatin1(text.trimmed()),
                                          QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    if (!t.isValid())
        return -1;
    t.setTimeSpec(Qt::UTC);
    return t.toSecsSinceEpoch();
}

} // namespace zrp::sandbox
