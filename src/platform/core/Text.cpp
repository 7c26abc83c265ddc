#include "Text.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QUuid>
#include <cstring>

namespace zrp {
namespace Text {

namespace {

// Characters a URL may carry as they are: letters, digits, the marks and the delimiters.
bool isLegalInURL(uchar c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    static const char legal[] = "-_.!~*'();/?:@&=+$,#";
    return c != 0 && std::strchr(legal, c) != nullptr;
}

bool isUnreserved(uchar c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

template <typename Keep> QString escapeBytes(const QByteArray& utf8, Keep keep)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (char ch : utf8) {
        const uchar c = uchar(ch);
        if (keep(c)) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0xF]);
        }
    }
    return QString::fromLatin1(out);
}

} // namespace

QString percentEscape(const QString& s, const QByteArray& alsoEscape)
{
    return escapeBytes(s.toUtf8(), [&](uchar c) { return isLegalInURL(c) && !alsoEscape.contains(char(c)); });
}

QString percentEscapeUnreserved(const QString& s)
{
    return escapeBytes(s.toUtf8(), isUnreserved);
}

QByteArray hmacSha1(const QByteArray& key, const QByteArray& message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha1);
}

QString hmacSha1Hex(const QString& key, const QString& message)
{
    return QString::fromLatin1(hmacSha1(key.toUtf8(), message.toUtf8()).toHex());
}

QString hmacSha1Base64(const QString& key, const QString& message)
{
    return QString::fromLatin1(hmacSha1(key.toUtf8(), message.toUtf8()).toBase64());
}

QString stringFromMD5(const QString& s)
{
    if (s.isEmpty())
        return QString();
    return QString::fromLatin1(QCryptographicHash::hash(s.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString uuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace Text

namespace Json {

QJsonValue sanitize(const QJsonValue& v)
{
    return sanitize(v, QJsonValue(QString()));
}

QJsonValue sanitize(const QJsonValue& v, const QJsonValue& defaultValue)
{
    if (v.isUndefined() || v.isNull())
        return defaultValue;
    return v;
}

QString string(const QJsonValue& v)
{
    if (v.isString())
        return v.toString();
    if (v.isDouble()) {
        const double d = v.toDouble();
        if (d == double(qint64(d)))
            return QString::number(qint64(d));
        return QString::number(d, 'g', 15);
    }
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QString();
}

QJsonValue parseLenient(const QByteArray& body, QString* errorText)
{
    // Round-tripping through QString replaces every invalid UTF-8 sequence with U+FFFD.
    const QByteArray clean = QString::fromUtf8(body).toUtf8();
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(clean, &err);
    if (err.error != QJsonParseError::NoError) {
        if (errorText)
            *errorText = err.errorString();
        return QJsonValue(QJsonValue::Undefined);
    }
    if (doc.isObject())
        return doc.object();
    if (doc.isArray())
        return doc.array();
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace Json
} // namespace zrp
