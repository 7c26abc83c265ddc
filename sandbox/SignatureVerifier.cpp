#include "SignatureVerifier.h"

#include <QMessageAuthenticationCode>
#include <algorithm>

namespace zrp::sandbox {

namespace {

const QByteArray kTimestamp = "X-ZRPAuth-Timestamp";
const QByteArray kNonce = "X-ZRPAuth-Nonce";
const QByteArray kConsumerKey = "X-ZRPAuth-Consumer-Key";
const QByteArray kSignature = "X-ZRPAuth-Signature";

SignatureCheck refuse(const QString& scheme, const QString& description, const QString& detailed)
{
    SignatureCheck c;
    c.scheme = scheme;
    c.description = description;
    c.detailedDescription = detailed;
    return c;
}

const KeyPair* findKey(const QList<KeyPair>& keys, const QString& consumerKey)
{
    for (const KeyPair& k : keys) {
        if (k.consumerKey == consumerKey)
            return &k;
    }
    return nullptr;
}

// Compares without an early exit so the time taken says nothing about the expected signature.
bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= uchar(a.at(i)) ^ uchar(b.at(i));
    return diff == 0;
}

} // namespace

SignatureVerifier::SignatureVerifier(QList<KeyPair> headerKeys, QList<KeyPair> queryKeys)
    : m_headerKeys(std::move(headerKeys)), m_queryKeys(std::move(queryKeys))
{}

QByteArray SignatureVerifier::hmacSha1Hex(const QByteArray& secret, const QByteArray& text)
{
    return QMessageAuthenticationCode::hash(text, secret, QCryptographicHash::Sha1).toHex();
}

SignatureCheck SignatureVerifier::verify(const HttpRequest& request, qint64 nowSeconds) const
{
    for (const auto& h : request.headers) {
        if (h.first.toLower().startsWith("x-zrpauth-"))
            return verifyHeaders(request, nowSeconds);
    }
    for (const QueryItem& item : parseQuery(request.rawQuery)) {
        if (item.name == QLatin1String("signature") || item.name == QLatin1String("consumer_key"))
            return verifyQuery(request, nowSeconds);
    }
    return refuse(QString(), QStringLiteral("Authentication credentials were not provided."),
                  QStringLiteral("The request carries neither the X-ZRPAuth- headers nor a signature "
                                 "parameter."));
}

bool SignatureVerifier::checkTimestamp(const QByteArray& text, qint64 nowSeconds, SignatureCheck* check)
{
    bool ok = !text.isEmpty() && text.size() <= 12 &&
              std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!ok) {
        *check = refuse(check->scheme, QStringLiteral("Invalid timestamp."),
                        QStringLiteral("The timestamp \"%1\" is not a whole number of seconds since 1970.")
                            .arg(QString::fromLatin1(text.left(40))));
        return false;
    }
    const qint64 t = text.toLongLong();
    if (std::llabs(t - nowSeconds) > kMaxSkewSeconds) {
        *check = refuse(check->scheme, QStringLiteral("Request expired."),
                        QStringLiteral("The timestamp %1 is %2 seconds away from the server time %3; at "
                                       "most %4 seconds are allowed.")
                            .arg(t)
                            .arg(std::llabs(t - nowSeconds))
                            .arg(nowSeconds)
                            .arg(kMaxSkewSeconds));
        return false;
    }
    return true;
}

SignatureCheck SignatureVerifier::verifyHeaders(const HttpRequest& request, qint64 nowSeconds) const
{
    const QString scheme = QStringLiteral("headers");
    for (const QByteArray& name : {kTimestamp, kNonce, kConsumerKey, kSignature}) {
        if (request.header(name).isEmpty()) {
            return refuse(scheme, QStringLiteral("Authentication credentials were not provided."),
                          QStringLiteral("The request has no %1 header.").arg(QString::fromLatin1(name)));
        }
    }
    const QByteArray timestamp = request.header(kTimestamp);
    const QByteArray nonce = request.header(kNonce);
    const QByteArray key = request.header(kConsumerKey);
    const QByteArray signature = request.header(kSignature);

    const KeyPair* pair = findKey(m_headerKeys, QString::fromUtf8(key));
    if (!pair) {
        return refuse(
            scheme, QStringLiteral("Invalid consumer key."),
            QStringLiteral("The consumer key \"%1\" is not known.").arg(QString::fromUtf8(key.left(80))));
    }
    SignatureCheck check;
    check.scheme = scheme;
    if (!checkTimestamp(timestamp, nowSeconds, &check))
        return check;

    const QByteArray url = "http://" + request.host() + request.target;
    // This scheme always signs the word "GET", whatever the method (the catalog only takes GET).
    const QByteArray text = "GET" + url + timestamp + key + nonce;
    if (!sameBytes(hmacSha1Hex(pair->secretKey.toUtf8(), text), signature)) {
        return refuse(scheme, QStringLiteral("Invalid signature."),
                      QStringLiteral("The X-ZRPAuth-Signature does not match the request %1 %2.")
                          .arg(QString::fromLatin1(request.method), QString::fromUtf8(url)));
    }
    check.ok = true;
    check.consumerKey = pair->consumerKey;
    return check;
}

SignatureCheck SignatureVerifier::verifyQuery(const HttpRequest& request, qint64 nowSeconds) const
{
    const QString scheme = QStringLiteral("query");
    QList<QByteArray> signedPieces;
    QList<QByteArray> signatures, timestamps, nonces, keys;
    for (const QByteArray& piece : request.rawQuery.split('&')) {
        const qsizetype eq = piece.indexOf('=');
        const QString name = percentDecode(eq < 0 ? piece : piece.left(eq), true);
        const QByteArray value = eq < 0 ? QByteArray() : percentDecode(piece.mid(eq + 1), true).toUtf8();
        if (name == QLatin1String("signature")) {
            signatures << value;
            continue;
        }
        if (name == QLatin1String("timestamp"))
            timestamps << value;
        else if (name == QLatin1String("nonce"))
            nonces << value;
        else if (name == QLatin1String("consumer_key"))
            keys << value;
        signedPieces << piece;
    }
    const std::pair<const char*, const QList<QByteArray>*> required[] = {
        {"timestamp", &timestamps}, {"nonce", &nonces}, {"consumer_key", &keys}, {"signature", &signatures}};
    for (const auto& [name, values] : required) {
        if (values->isEmpty() || values->first().isEmpty()) {
            return refuse(scheme, QStringLiteral("Authentication credentials were not provided."),
                          QStringLiteral("The query has no %1 parameter.").arg(QLatin1String(name)));
        }
        if (values->size() > 1) {
            return refuse(scheme, QStringLiteral("Invalid signature."),
                          QStringLiteral("The query has %1 %2 parameters.")
                              .arg(values->size())
                              .arg(QLatin1String(name)));
        }
    }
    const QByteArray key = keys.first();
    const KeyPair* pair = findKey(m_queryKeys, QString::fromUtf8(key));
    if (!pair) {
        return refuse(
            scheme, QStringLiteral("Invalid consumer key."),
            QStringLiteral("The consumer key \"%1\" is not known.").arg(QString::fromUtf8(key.left(80))));
    }
    SignatureCheck check;
    check.scheme = scheme;
    if (!checkTimestamp(timestamps.first(), nowSeconds, &check))
        return check;

    // A form body takes part in the signature, but only when it says it is a form.
    const QByteArray contentType = request.header("Content-Type").trimmed();
    if (request.method != "GET" && !request.body.isEmpty() &&
        contentType == "application/x-www-form-urlencoded") {
        signedPieces.append(request.body.split('&'));
    }
    std::sort(signedPieces.begin(), signedPieces.end());
    const QByteArray baseUrl = "http://" + request.host() + request.rawPath;
    const QByteArray text =
        request.method + baseUrl + "?" + signedPieces.join('&') + timestamps.first() + key + nonces.first();
    if (!sameBytes(hmacSha1Hex(pair->secretKey.toUtf8(), text), signatures.first())) {
        return refuse(scheme, QStringLiteral("Invalid signature."),
                      QStringLiteral("The signature parameter does not match the request %1 %2.")
                          .arg(QString::fromLatin1(request.method), QString::fromUtf8(baseUrl)));
    }
    check.ok = true;
    check.consumerKey = pair->consumerKey;
    return check;
}

} // namespace zrp::sandbox
