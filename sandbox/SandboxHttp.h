#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>

namespace zrp::sandbox {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One request as the services see it: the raw request target is kept byte for byte, because
// both catalog signatures are computed over the URL exactly as the client sent it.
struct HttpRequest
{
    QByteArray method;
    QByteArray target; // raw request target, e.g. "/vexo/v1/programs/?fields=a%2Cb"
    QByteArray rawPath;
    QByteArray rawQuery;
    bool hasQuery = false;
    QString path; // rawPath percent-decoded, for routing
    HeaderList headers;
    QByteArray body;
    QByteArray localAddress; // "127.0.0.1:port", stands in for a missing Host header

    QByteArray header(const QByteArray& name) const; // case-insensitive; first occurrence
    bool hasHeader(const QByteArray& name) const;
    QByteArray host() const;

    static HttpRequest fromTarget(const QByteArray& method, const QByteArray& target);
};

struct HttpReply
{
    int status = 200;
    QByteArray contentType;
    HeaderList headers;
    QByteArray body;

    void setHeader(const QByteArray& name, const QByteArray& value);
    QByteArray header(const QByteArray& name) const;

    static HttpReply json(int status, const QJsonValue& value);
    // The catalog's error shape, used by every service for its JSON errors.
    static HttpReply error(int status, const QString& description, const QString& detailed);
    static HttpReply noContent();
};

struct QueryItem
{
    QByteArray raw; // the piece as it arrived, between two "&"
    QString name;
    QString value;
};

// Splits a raw query at "&" and decodes each name and value ("+" is a blank, a broken escape
// is kept as it stands, invalid UTF-8 is replaced). Never fails, whatever the bytes.
QList<QueryItem> parseQuery(const QByteArray& rawQuery);
QString percentDecode(const QByteArray& raw, bool plusIsSpace);

QByteArray httpDate(qint64 secondsSince1970);
qint64 parseHttpDate(const QByteArray& text); // -1 when not a date

} // namespace zrp::sandbox
