#pragma once

#include "ZRPCommunication.h"
#include "ZRPRequestSigner.h"

#include <QHash>
#include <QVariant>
#include <functional>
#include <memory>
#include <mutex>

namespace zrp {

inline const QString ZRPVexoErrorDomain = QStringLiteral("org.zrp.services.vexo");
inline const QString ZRPDTVErrorDomain = QStringLiteral("org.zrp.services.dtv");
inline const QString ZRPKYRErrorDomain = QStringLiteral("org.zrp.services.kyr");
inline const QString ZRPPushErrorDomain = QStringLiteral("org.zrp.services.push");

// Escaped by the library on top of the characters that are illegal in a URL.
inline constexpr char ZRPLegalURLCharacters[] = "!*'();:@+$,/?%#[]&=";

enum ZRPAPIType
{
    ZRPAPITypeVexo = 0,
    ZRPAPITypeTarvo = 1,
    ZRPAPITypeKYR = 2,
    ZRPAPITypeDTV = 3,
    ZRPAPITypeLiveRail = 4,
    ZRPAPITypeSearch = 5,
    ZRPAPITypePushNotifications = 6,
};

// The face of the service access library: one adapter per service decides whether its signing
// information suffices, how a request is signed and how an answer becomes results or an error.
// Outcomes arrive on the shared background queue; callers move to the main thread themselves.
class ZRPAPIWrapper : public ZRPCommunicationDelegate, public std::enable_shared_from_this<ZRPAPIWrapper>
{
public:
    using CompletionBlock = std::function<void(const QVariant& results)>;
    using ErrorBlock = std::function<void(const Error& error)>;

    // None for an unknown type or when the adapter cannot work with the signing information.
    static std::shared_ptr<ZRPAPIWrapper> wrapperOfType(int type, const ZRPSigningInfo& signingInfo);
    static bool requiredSigningInfoAvailable(const ZRPSigningInfo&) { return true; }

    explicit ZRPAPIWrapper(ZRPSigningInfo signingInfo);
    ~ZRPAPIWrapper() override;

    void getDataFromUrl(const QString& url, CompletionBlock completion, ErrorBlock error,
                        const QString& requestId);
    void postData(const QString& params, const QString& url, CompletionBlock completion, ErrorBlock error,
                  const QString& requestId);
    void putData(const QString& params, const QString& url, CompletionBlock completion, ErrorBlock error,
                 const QString& requestId);
    void postJSONData(const QByteArray& json, const QString& url, CompletionBlock completion,
                      ErrorBlock error, const QString& requestId);
    void putJSONData(const QByteArray& json, const QString& url, CompletionBlock completion, ErrorBlock error,
                     const QString& requestId);
    void cancelRequestWithId(const QString& requestId);

    const ZRPSigningInfo& signingInfo() const { return m_signingInfo; }
    int requestCount() const;

    static QString urlWithEncodedParams(const QString& url);
    static QString escapedStringWithLegalURLCharactersToBeEscaped(const QString& text, const char* toEscape);
    static QString escapedParamsString(const QString& params);

    // Signing and result steps, public so that tools and tests can run an adapter's reading of a
    // body without a request.
    virtual bool signsRequests() const { return false; }
    virtual void signRequest(ZRPURLRequest&) {}
    virtual QVariant resultsFromData(const QByteArray& data, Error* error) = 0;
    virtual Error specificErrorWithError(const Error& error) = 0;

    void didFinishWithData(const ZRPRequestPtr& request, const QByteArray& data) override;
    void didFailWithError(const ZRPRequestPtr& request, const Error& error) override;

protected:
    void performRequest(const ZRPRequestPtr& request, CompletionBlock completion, ErrorBlock error,
                        const QString& requestId);

private:
    struct Entry
    {
        ZRPRequestPtr request;
        CompletionBlock completionBlock;
        ErrorBlock errorBlock;
    };
    bool takeEntry(const ZRPRequestPtr& request, Entry* out);
    void sendForm(const QByteArray& method, const QString& params, const QString& url,
                  CompletionBlock completion, ErrorBlock error, const QString& requestId);
    void sendJSON(const QByteArray& method, const QByteArray& json, const QString& url,
                  CompletionBlock completion, ErrorBlock error, const QString& requestId);

    ZRPSigningInfo m_signingInfo;
    // Written from the caller's thread (requests, cancel) and the background queue (outcomes).
    mutable std::mutex m_mutex;
    QHash<QString, Entry> m_requests;
};

// The catalog service: its own query signature; results under "results"; errors rebuilt from
// the JSON error body.
class ZRPVexoWrapper : public ZRPAPIWrapper
{
public:
    using ZRPAPIWrapper::ZRPAPIWrapper;
    static bool requiredSigningInfoAvailable(const ZRPSigningInfo& info);
    bool signsRequests() const override { return true; }
    void signRequest(ZRPURLRequest& request) override;
    QVariant resultsFromData(const QByteArray& data, Error* error) override;
    Error specificErrorWithError(const Error& error) override;
};

// The local-content service: the catalog's signature and results, errors unchanged.
class ZRPTarvoWrapper : public ZRPVexoWrapper
{
public:
    using ZRPVexoWrapper::ZRPVexoWrapper;
    Error specificErrorWithError(const Error& error) override { return error; }
};

// The account service: OAuth 1.0; the whole answer as a one-element list; form errors.
class ZRPKYRWrapper : public ZRPAPIWrapper
{
public:
    using ZRPAPIWrapper::ZRPAPIWrapper;
    static bool requiredSigningInfoAvailable(const ZRPSigningInfo& info);
    bool signsRequests() const override { return true; }
    void signRequest(ZRPURLRequest& request) override;
    QVariant resultsFromData(const QByteArray& data, Error* error) override;
    Error specificErrorWithError(const Error& error) override;
};

// The TV schedule service: the API key; the answer itself.
class ZRPDTVWrapper : public ZRPAPIWrapper
{
public:
    using ZRPAPIWrapper::ZRPAPIWrapper;
    static bool requiredSigningInfoAvailable(const ZRPSigningInfo& info);
    bool signsRequests() const override { return true; }
    void signRequest(ZRPURLRequest& request) override;
    QVariant resultsFromData(const QByteArray& data, Error* error) override;
    Error specificErrorWithError(const Error& error) override { return error; }
};

// The search service: unsigned; the whole answer as a one-element list.
class ZRPSearchWrapper : public ZRPAPIWrapper
{
public:
    using ZRPAPIWrapper::ZRPAPIWrapper;
    QVariant resultsFromData(const QByteArray& data, Error* error) override;
    Error specificErrorWithError(const Error& error) override { return error; }
};

// The push registration service: unsigned; "notifications"."results"; the body as the message.
class ZRPPushNotificationsWrapper : public ZRPAPIWrapper
{
public:
    using ZRPAPIWrapper::ZRPAPIWrapper;
    QVariant resultsFromData(const QByteArray& data, Error* error) override;
    Error specificErrorWithError(const Error& error) override;
};

} // namespace zrp
