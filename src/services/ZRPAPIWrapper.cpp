#include "ZRPAPIWrapper.h"

#include "ZRPAPIJSON.h"
#include "ZRPLiveRailWrapper.h"
#include "core/Text.h"

#include <QStringList>

namespace zrp {

namespace {

const QString kMessage = QStringLiteral("message");

bool hasAll(const ZRPSigningInfo& info, std::initializer_list<const char*> keys)
{
    for (const char* k : keys) {
        if (!info.contains(QString::fromLatin1(k)))
            return false;
    }
    return true;
}

// "message" arrives as the raw body of an HTTP status failure, or as text from elsewhere.
QByteArray messageBytes(const QVariant& v)
{
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    return v.toString().toUtf8();
}

QString textOf(const QVariant& v)
{
    if (!v.isValid() || v.isNull())
        return QString();
    return v.toString();
}

// A wrapper of type W, or none when the signing information it needs is missing.
template <typename W> std::shared_ptr<ZRPAPIWrapper> signedWrapper(const ZRPSigningInfo& signingInfo)
{
    if (!W::requiredSigningInfoAvailable(signingInfo))
        return nullptr;
    return std::make_shared<W>(signingInfo);
}
} // namespace

std::shared_ptr<ZRPAPIWrapper> ZRPAPIWrapper::wrapperOfType(int type, const ZRPSigningInfo& signingInfo)
{
    switch (unsigned(type)) {
    case ZRPAPITypeVexo:
        return signedWrapper<ZRPVexoWrapper>(signingInfo);
    case ZRPAPITypeTarvo:
        return signedWrapper<ZRPTarvoWrapper>(signingInfo);
    case ZRPAPITypeKYR:
        return signedWrapper<ZRPKYRWrapper>(signingInfo);
    case ZRPAPITypeDTV:
        return signedWrapper<ZRPDTVWrapper>(signingInfo);
    case ZRPAPITypeLiveRail:
        return signedWrapper<ZRPLiveRailWrapper>(signingInfo);
    case ZRPAPITypeSearch:
        return std::make_shared<ZRPSearchWrapper>(ZRPSigningInfo());
    case ZRPAPITypePushNotifications:
        return std::make_shared<ZRPPushNotificationsWrapper>(ZRPSigningInfo());
    default:
        return nullptr;
    }
}

ZRPAPIWrapper::ZRPAPIWrapper(ZRPSigningInfo signingInfo) : m_signingInfo(std::move(signingInfo)) {}

ZRPAPIWrapper::~ZRPAPIWrapper() = default;

// ---- text operations

QString ZRPAPIWrapper::escapedStringWithLegalURLCharactersToBeEscaped(const QString& text,
                                                                      const char* toEscape)
{
    return Text::percentEscape(text, QByteArray(toEscape));
}

QString ZRPAPIWrapper::escapedParamsString(const QString& params)
{
    QStringList out;
    for (const QString& piece : params.split(QLatin1Char('&'))) {
        // Empty pieces (an empty text, "&&", a trailing "&") carry nothing and are dropped; a
        // piece without "=" is a bare name and is escaped as one.
        if (piece.isEmpty())
            continue;
        const qsizetype eq = piece.indexOf(QLatin1Char('='));
        if (eq < 0) {
            out << escapedStringWithLegalURLCharactersToBeEscaped(piece, ZRPLegalURLCharacters);
            continue;
        }
        out << escapedStringWithLegalURLCharactersToBeEscaped(piece.left(eq), ZRPLegalURLCharacters) +
                   QLatin1Char('=') +
                   escapedStringWithLegalURLCharactersToBeEscaped(piece.mid(eq + 1), ZRPLegalURLCharacters);
    }
    return out.join(QLatin1Char('&'));
}

QString ZRPAPIWrapper::urlWithEncodedParams(const QString& url)
{
    const QStringList pieces = url.split(QLatin1Char('?'));
    if (pieces.size() != 2)
        return url;
    QString escaped = escapedParamsString(pieces[1]);
    escaped.replace(QStringLiteral("%20"), QStringLiteral("+"));
    // Rebuilt around the one "?" rather than by replacing the query's text wherever it occurs,
    // which would also rewrite a host or path containing the same characters.
    return pieces[0] + QLatin1Char('?') + escaped;
}

// ---- building requests

void ZRPAPIWrapper::getDataFromUrl(const QString& url, CompletionBlock completion, ErrorBlock error,
                                   const QString& requestId)
{
    auto request = std::make_shared<ZRPURLRequest>(urlWithEncodedParams(url));
    request->httpMethod = "GET";
    request->reloadIgnoringCache = true;
    request->timeoutSeconds = 30;
    performRequest(request, std::move(completion), std::move(error), requestId);
}

void ZRPAPIWrapper::sendForm(const QByteArray& method, const QString& params, const QString& url,
                             CompletionBlock completion, ErrorBlock error, const QString& requestId)
{
    auto request = std::make_shared<ZRPURLRequest>(urlWithEncodedParams(url));
    request->httpMethod = method;
    request->timeoutSeconds = 30;
    if (!params.isNull()) {
        QString body = escapedParamsString(params);
        body.replace(QStringLiteral("%20"), QStringLiteral("+"));
        request->httpBody = body.toUtf8();
    }
    performRequest(request, std::move(completion), std::move(error), requestId);
}

void ZRPAPIWrapper::sendJSON(const QByteArray& method, const QByteArray& json, const QString& url,
                             CompletionBlock completion, ErrorBlock error, const QString& requestId)
{
    auto request = std::make_shared<ZRPURLRequest>(urlWithEncodedParams(url));
    request->httpMethod = method;
    request->timeoutSeconds = 30;
    request->setValueForHTTPHeaderField("application/json", "Content-Type");
    request->httpBody = json;
    performRequest(request, std::move(completion), std::move(error), requestId);
}

void ZRPAPIWrapper::postData(const QString& params, const QString& url, CompletionBlock completion,
                             ErrorBlock error, const QString& requestId)
{
    sendForm("POST", params, url, std::move(completion), std::move(error), requestId);
}

void ZRPAPIWrapper::putData(const QString& params, const QString& url, CompletionBlock completion,
                            ErrorBlock error, const QString& requestId)
{
    sendForm("PUT", params, url, std::move(completion), std::move(error), requestId);
}

void ZRPAPIWrapper::postJSONData(const QByteArray& json, const QString& url, CompletionBlock completion,
                                 ErrorBlock error, const QString& requestId)
{
    sendJSON("POST", json, url, std::move(completion), std::move(error), requestId);
}

void ZRPAPIWrapper::putJSONData(const QByteArray& json, const QString& url, CompletionBlock completion,
                                ErrorBlock error, const QString& requestId)
{
    sendJSON("PUT", json, url, std::move(completion), std::move(error), requestId);
}

// ---- sending and outcomes

void ZRPAPIWrapper::performRequest(const ZRPRequestPtr& request, CompletionBlock completion, ErrorBlock error,
                                   const QString& requestId)
{
    if (signsRequests())
        signRequest(*request);
    {
        std::lock_guard lock(m_mutex);
        m_requests.insert(requestId, Entry{request, std::move(completion), std::move(error)});
    }
    ZRPCommunication::sharedInstance().performRequest(request, weak_from_this());
}

bool ZRPAPIWrapper::takeEntry(const ZRPRequestPtr& request, Entry* out)
{
    std::lock_guard lock(m_mutex);
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it) {
        if (it->request == request) { // identity: the very request object
            *out = std::move(it.value());
            m_requests.erase(it);
            return true;
        }
    }
    return false;
}

void ZRPAPIWrapper::didFinishWithData(const ZRPRequestPtr& request, const QByteArray& data)
{
    Entry entry;
    if (!takeEntry(request, &entry))
        return; // cancelled, or its id was reused by a newer request
    Error error;
    const QVariant results = resultsFromData(data, &error);
    if (error) {
        if (entry.errorBlock)
            entry.errorBlock(specificErrorWithError(error));
    } else if (entry.completionBlock) {
        entry.completionBlock(results);
    }
}

void ZRPAPIWrapper::didFailWithError(const ZRPRequestPtr& request, const Error& error)
{
    Entry entry;
    if (!takeEntry(request, &entry))
        return;
    if (entry.errorBlock)
        entry.errorBlock(specificErrorWithError(error));
}

void ZRPAPIWrapper::cancelRequestWithId(const QString& requestId)
{
    ZRPRequestPtr request;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_requests.find(requestId);
        if (it == m_requests.end())
            return;
        request = it->request;
        m_requests.erase(it);
    }
    ZRPCommunication::sharedInstance().cancelRequest(request);
}

int ZRPAPIWrapper::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

// ---- adapters

bool ZRPVexoWrapper::requiredSigningInfoAvailable(const ZRPSigningInfo& info)
{
    return hasAll(info, {"consumerKey", "secretKey"});
}

void ZRPVexoWrapper::signRequest(ZRPURLRequest& request)
{
    ZRPRequestSigner::signRequest(request, signingInfo());
}

QVariant ZRPVexoWrapper::resultsFromData(const QByteArray& data, Error* error)
{
    const QVariant parsed = ZRPAPIJSON::dictionaryFromJSONData(data, error);
    if (parsed.typeId() != QMetaType::QVariantMap)
        return QVariant();
    return parsed.toMap().value(QStringLiteral("results"));
}

Error ZRPVexoWrapper::specificErrorWithError(const Error& error)
{
    if (!error.userInfo.contains(kMessage))
        return error;
    Error jsonError;
    const QVariant parsed =
        ZRPAPIJSON::dictionaryFromJSONData(messageBytes(error.userInfo.value(kMessage)), &jsonError);
    if (jsonError)
        return jsonError;
    const QVariantMap body = parsed.toMap();
    // An absent part reads as empty text; the space between the two stays.
    const QString message =
        QStringLiteral("%1 %2").arg(textOf(body.value(QStringLiteral("description"))),
                                    textOf(body.value(QStringLiteral("detailed_description"))));
    return Error(ZRPVexoErrorDomain, error.code, {{kMessage, message}});
}

bool ZRPKYRWrapper::requiredSigningInfoAvailable(const ZRPSigningInfo& info)
{
    return hasAll(info, {"consumerKey", "consumerSecret", "tokenKey", "tokenSecret"});
}

void ZRPKYRWrapper::signRequest(ZRPURLRequest& request)
{
    ZRPRequestSigner::oAuthSignRequest(request, signingInfo());
}

QVariant ZRPKYRWrapper::resultsFromData(const QByteArray& data, Error* error)
{
    const QVariant parsed = ZRPAPIJSON::dictionaryFromJSONData(data, error);
    if (error && *error)
        return QVariant();
    return QVariantList{parsed};
}

Error ZRPKYRWrapper::specificErrorWithError(const Error& error)
{
    if (!error.userInfo.contains(kMessage))
        return error;
    Error jsonError;
    const QVariant parsed =
        ZRPAPIJSON::dictionaryFromJSONData(messageBytes(error.userInfo.value(kMessage)), &jsonError);
    if (jsonError)
        return jsonError;
    return Error(ZRPKYRErrorDomain, error.code, parsed.toMap().value(QStringLiteral("form_errors")).toMap());
}

bool ZRPDTVWrapper::requiredSigningInfoAvailable(const ZRPSigningInfo& info)
{
    return hasAll(info, {"consumerKey"});
}

void ZRPDTVWrapper::signRequest(ZRPURLRequest& request)
{
    ZRPRequestSigner::signApiRequest(request, signingInfo());
}

QVariant ZRPDTVWrapper::resultsFromData(const QByteArray& data, Error* error)
{
    Error jsonError;
    const QVariant parsed = ZRPAPIJSON::dictionaryFromJSONData(data, &jsonError);
    if (jsonError) {
        if (error)
            *error = Error::withMessage(ZRPDTVErrorDomain, 1000, QString::fromUtf8(data));
        return QVariant();
    }
    if (error)
        *error = Error();
    return parsed;
}

QVariant ZRPSearchWrapper::resultsFromData(const QByteArray& data, Error* error)
{
    const QVariant parsed = ZRPAPIJSON::dictionaryFromJSONData(data, error);
    if (error && *error)
        return QVariant();
    return QVariantList{parsed};
}

QVariant ZRPPushNotificationsWrapper::resultsFromData(const QByteArray& data, Error* error)
{
    const QVariant parsed = ZRPAPIJSON::dictionaryFromJSONData(data, error);
    if (parsed.typeId() != QMetaType::QVariantMap)
        return QVariant();
    const QVariant notifications = parsed.toMap().value(QStringLiteral("notifications"));
    if (notifications.typeId() != QMetaType::QVariantMap)
        return QVariant();
    return notifications.toMap().value(QStringLiteral("results"));
}

Error ZRPPushNotificationsWrapper::specificErrorWithError(const Error& error)
{
    if (!error.userInfo.contains(kMessage))
        return error;
    return Error::withMessage(ZRPPushErrorDomain, error.code,
                              QString::fromUtf8(messageBytes(error.userInfo.value(kMessage))));
}

} // namespace zrp
