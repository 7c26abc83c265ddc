#pragma once

#include "ZRPURLRequest.h"

#include <QMap>
#include <QString>

namespace zrp {

// Signing information: "consumerKey", "secretKey", "consumerSecret", "tokenKey", "tokenSecret",
// and optionally a fixed "nonce" and "timestamp".
using ZRPSigningInfo = QMap<QString, QString>;

// Rewrites a request's URL so that the service can tell who sent it. Every signing parameter
// travels in the query; no header is ever added.
class ZRPRequestSigner
{
public:
    // The catalog's own scheme: HMAC-SHA1 in hexadecimal over method, URL and sorted parameters.
    static void signRequest(ZRPURLRequest& request, const ZRPSigningInfo& info);
    // OAuth 1.0 HMAC-SHA1 with the protocol parameters in the query.
    static void oAuthSignRequest(ZRPURLRequest& request, const ZRPSigningInfo& info);
    // The API key appended to the query.
    static void signApiRequest(ZRPURLRequest& request, const ZRPSigningInfo& info);

    // Whole seconds since 1970 on the shared clock.
    static QString timeStamp();
    static QString signatureForText(const QString& text, const QString& secret, bool base64);

    // The pieces both HMAC schemes read, exposed for tests and for zrpctl.
    static QString sortedParameters(const QString& params);
    static QString catalogTextToSign(const ZRPURLRequest& request, const ZRPSigningInfo& info);
    static QString oAuthBaseText(const ZRPURLRequest& request, const ZRPSigningInfo& info);
};

} // namespace zrp
