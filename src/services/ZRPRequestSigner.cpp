#include "ZRPRequestSigner.h"

#include "ZRPAPIWrapper.h"
#include "core/Clock.h"
#include "core/Text.h"

#include <QStringList>
#include <algorithm>

namespace zrp {

namespace {

struct Pieces
{
    QString baseURL;
    QString query; // encoded form; empty when there is none
    bool hasQuery = false;
    QString nonce;
    QString timestamp;
    QString bodyParameters;
    bool hasBodyParameters = false;
};

Pieces piecesOf(const ZRPURLRequest& request, const ZRPSigningInfo& info)
{
    Pieces p;
    const QString& url = request.urlString;
    const qsizetype q = url.indexOf(QLatin1Char('?'));
    // "http://host/path?" has an empty query: treated as none, so no empty piece gets signed.
    if (q >= 0 && q + 1 < url.size()) {
        p.baseURL = url.left(q);
        p.query = url.mid(q + 1);
        p.hasQuery = true;
    } else {
        p.baseURL = q >= 0 ? url.left(q) : url;
    }
    p.nonce = info.contains(QStringLiteral("nonce")) ? info.value(QStringLiteral("nonce")) : Text::uuidText();
    p.timestamp = info.contains(QStringLiteral("timestamp")) ? info.value(QStringLiteral("timestamp"))
                                                             : ZRPRequestSigner::timeStamp();
    if (request.httpMethod != "GET" && !request.httpBody.isEmpty() &&
        request.valueForHTTPHeaderField("Content-Type") == "application/x-www-form-urlencoded") {
        p.bodyParameters = QString::fromUtf8(request.httpBody);
        p.hasBodyParameters = true;
    }
    return p;
}

QString urlParameters(const Pieces& p, const QString& own)
{
    return p.hasQuery ? p.query + QLatin1Char('&') + own : own;
}

QString signedParameters(const Pieces& p, const QString& urlParams)
{
    return p.hasBodyParameters ? urlParams + QLatin1Char('&') + p.bodyParameters : urlParams;
}

QString escape(const QString& s)
{
    return ZRPAPIWrapper::escapedStringWithLegalURLCharactersToBeEscaped(s, ZRPLegalURLCharacters);
}

QString catalogOwnParameters(const Pieces& p, const ZRPSigningInfo& info)
{
    return ZRPAPIWrapper::escapedParamsString(QStringLiteral("timestamp=%1&nonce=%2&consumer_key=%3")
                                                  .arg(p.timestamp, p.nonce, info.value("consumerKey")));
}

QString catalogText(const ZRPURLRequest& request, const Pieces& p, const QString& urlParams,
                    const ZRPSigningInfo& info)
{
    return QString::fromLatin1(request.httpMethod) + p.baseURL + QLatin1Char('?') +
           ZRPRequestSigner::sortedParameters(signedParameters(p, urlParams)) + p.timestamp +
           info.value(QStringLiteral("consumerKey")) + p.nonce;
}

QString oAuthOwnParameters(const Pieces& p, const ZRPSigningInfo& info)
{
    return ZRPAPIWrapper::escapedParamsString(
        QStringLiteral("oauth_consumer_key=%1&oauth_token=%2&oauth_signature_method=HMAC-SHA1"
                       "&oauth_timestamp=%3&oauth_nonce=%4&oauth_version=1.0")
            .arg(info.value(QStringLiteral("consumerKey")), info.value(QStringLiteral("tokenKey")),
                 p.timestamp, p.nonce));
}

QString oAuthBase(const ZRPURLRequest& request, const Pieces& p, const QString& urlParams)
{
    return QString::fromLatin1(request.httpMethod) + QLatin1Char('&') + escape(p.baseURL) + QLatin1Char('&') +
           escape(ZRPRequestSigner::sortedParameters(signedParameters(p, urlParams)));
}

} // namespace

QString ZRPRequestSigner::sortedParameters(const QString& params)
{
    QStringList pieces = params.split(QLatin1Char('&'));
    // Whole pieces by character code, as the services sort them.
    std::sort(pieces.begin(), pieces.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return pieces.join(QLatin1Char('&'));
}

QString ZRPRequestSigner::timeStamp()
{
    return QString::number(quint64(Clock::shared()->secondsSince1970()));
}

QString ZRPRequestSigner::signatureForText(const QString& text, const QString& secret, bool base64)
{
    return base64 ? Text::hmacSha1Base64(secret, text) : Text::hmacSha1Hex(secret, text);
}

QString ZRPRequestSigner::catalogTextToSign(const ZRPURLRequest& request, const ZRPSigningInfo& info)
{
    const Pieces p = piecesOf(request, info);
    return catalogText(request, p, urlParameters(p, catalogOwnParameters(p, info)), info);
}

QString ZRPRequestSigner::oAuthBaseText(const ZRPURLRequest& request, const ZRPSigningInfo& info)
{
    const Pieces p = piecesOf(request, info);
    return oAuthBase(request, p, urlParameters(p, oAuthOwnParameters(p, info)));
}

void ZRPRequestSigner::signRequest(ZRPURLRequest& request, const ZRPSigningInfo& info)
{
    const Pieces p = piecesOf(request, info);
    const QString urlParams = urlParameters(p, catalogOwnParameters(p, info));
    const QString text = catalogText(request, p, urlParams, info);
    const QString signature = signatureForText(text, info.value(QStringLiteral("secretKey")), false);
    request.urlString =
        QStringLiteral("%1?%2&%3=%4").arg(p.baseURL, urlParams, QStringLiteral("signature"), signature);
}

void ZRPRequestSigner::oAuthSignRequest(ZRPURLRequest& request, const ZRPSigningInfo& info)
{
    const Pieces p = piecesOf(request, info);
    const QString urlParams = urlParameters(p, oAuthOwnParameters(p, info));
    const QString base = oAuthBase(request, p, urlParams);
    const QString key = info.value(QStringLiteral("consumerSecret")) + QLatin1Char('&') +
                        info.value(QStringLiteral("tokenSecret"));
    const QString signature = escape(signatureForText(base, key, true));
    request.urlString =
        QStringLiteral("%1?%2&%3=%4").arg(p.baseURL, urlParams, QStringLiteral("oauth_signature"), signature);
}

void ZRPRequestSigner::signApiRequest(ZRPURLRequest& request, const ZRPSigningInfo& info)
{
    const QString key = info.value(QStringLiteral("consumerKey"));
    const QString& url = request.urlString;
    const qsizetype q = url.indexOf(QLatin1Char('?'));
    if (q >= 0 && q + 1 < url.size()) {
        // The key goes right after the query. Inserting at the query's own place rather than
        // replacing every occurrence of its text keeps a host or path that happens to contain
        // the same characters intact.
        request.urlString = url + QStringLiteral("&apikey=") + key;
    } else {
        const QString base = q >= 0 ? url.left(q) : url;
        request.urlString = base + QStringLiteral("?apikey=") + key;
    }
}

} // namespace zrp
