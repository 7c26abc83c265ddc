#pragma once

#include "Credentials.h"
#include "SandboxHttp.h"

namespace zrp::sandbox {

struct SignatureCheck
{
    bool ok = false;
    QString scheme; // "headers" or "query"
    QString consumerKey;
    QString description;
    QString detailedDescription;
};

// Checks both catalog signing schemes the way the catalog service does:
// - four "X-ZRPAuth-" headers: HMAC-SHA1 (hex) over "GET", the full URL as requested, the
//   timestamp, the consumer key and the nonce;
// - query parameters timestamp, nonce, consumer_key and a trailing signature: HMAC-SHA1 (hex)
//   over the method, the URL before "?", "?", the sorted signed parameters, then the bare
//   timestamp, key and nonce.
// A nonce may come back (a retry re-sends the first attempt unchanged); only the clock bounds
// how long a signature stays good.
class SignatureVerifier
{
public:
    static constexpr qint64 kMaxSkewSeconds = 15 * 60;

    SignatureVerifier(QList<KeyPair> headerKeys, QList<KeyPair> queryKeys);

    SignatureCheck verify(const HttpRequest& request, qint64 nowSeconds) const;

    static QByteArray hmacSha1Hex(const QByteArray& secret, const QByteArray& text);

private:
    SignatureCheck verifyHeaders(const HttpRequest& request, qint64 nowSeconds) const;
    SignatureCheck verifyQuery(const HttpRequest& request, qint64 nowSeconds) const;
    static bool checkTimestamp(const QByteArray& text, qint64 nowSeconds, SignatureCheck* check);

    QList<KeyPair> m_headerKeys;
    QList<KeyPair> m_queryKeys;
};

} // namespace zrp::sandbox
