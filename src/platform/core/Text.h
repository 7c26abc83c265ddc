#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

namespace zrp {

// Text, digest and escaping helpers shared by the service clients, the signers and the sandbox.
namespace Text {

// Percent-escapes s (as UTF-8) the way a URL text is escaped: every character that may not
// appear in a URL (space, quotes, angle brackets, braces, backslash, "%", non-ASCII, controls,
// ...) becomes "%XX" with upper-case hex digits, and so does every character of alsoEscape.
// The URL delimiters (& = ? / : + ; , @ $ # and the marks - _ . ! ~ * ' ( )) stay as they are
// unless listed in alsoEscape.
QString percentEscape(const QString& s, const QByteArray& alsoEscape);

// The "escape for use in a URL": illegal characters escaped, delimiters left.
inline QString escapeForURL(const QString& s)
{
    return percentEscape(s, QByteArray());
}

// Strict escaping: everything but ASCII letters, digits and "-._~" (RFC 3986 unreserved).
QString percentEscapeUnreserved(const QString& s);

QByteArray hmacSha1(const QByteArray& key, const QByteArray& message);
QString hmacSha1Hex(const QString& key, const QString& message);    // 40 lower-case hex digits
QString hmacSha1Base64(const QString& key, const QString& message); // 28 characters

// MD5 of the UTF-8 bytes as 32 lower-case hex digits; a null QString for empty or absent text.
QString stringFromMD5(const QString& s);

// A fresh unique text: upper-case hexadecimal groups joined by hyphens (URL-safe).
QString uuidText();

} // namespace Text

namespace Json {

// A missing value or JSON null becomes "" (or the given default); anything else is kept.
QJsonValue sanitize(const QJsonValue& v);
QJsonValue sanitize(const QJsonValue& v, const QJsonValue& defaultValue);

// Text of a JSON value that may arrive as a number or a string.
QString string(const QJsonValue& v);

// Decodes a JSON body leniently: invalid UTF-8 is replaced before parsing. Null document on failure.
QJsonValue parseLenient(const QByteArray& body, QString* errorText = nullptr);

} // namespace Json
} // namespace zrp
