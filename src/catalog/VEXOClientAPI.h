#pragma once

#include "catalog/VEXOEpisode.h"
#include "catalog/VEXOProgram.h"
#include "core/Error.h"
#include "net/HttpClient.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>
#include <optional>

class VEXOClientAPI;

// What a catalog request answers: programs for "programs" requests, videos for "videos" and
// group requests.
struct VEXOResults
{
    QList<VEXOProgram> programs;
    QList<VEXOEpisode> episodes;
    qsizetype size() const { return programs.size() + episodes.size(); }
    bool isEmpty() const { return size() == 0; }
};

// Implemented by the screens. Both operations are optional.
class VEXOClientAPIDelegate
{
public:
    virtual ~VEXOClientAPIDelegate() = default;
    virtual void didFindResults(const QString& requestId, const VEXOResults& results)
    {
        Q_UNUSED(requestId);
        Q_UNUSED(results);
    }
    // error is null when the last attempt failed on its answer rather than in transport.
    virtual void didFail(const QString& requestId, const zrp::Error& error)
    {
        Q_UNUSED(requestId);
        Q_UNUSED(error);
    }
};

// A non-owning reference to a delegate. When the delegate is also a QObject, its destruction is
// noticed, so a late answer never reaches a destroyed screen.
class VEXODelegateRef
{
public:
    VEXODelegateRef() = default;
    explicit VEXODelegateRef(VEXOClientAPIDelegate* delegate);
    VEXOClientAPIDelegate* get() const;
    void clear() { *this = VEXODelegateRef(); }

private:
    VEXOClientAPIDelegate* m_delegate = nullptr;
    QPointer<QObject> m_guard;
    bool m_guarded = false;
};

// One request's response handler: turns the "results" array into records and decides on retries.
class BaseVEXOAPIDelegate
{
public:
    BaseVEXOAPIDelegate(VEXODelegateRef delegate, QString requestId, VEXOClientAPI* client);
    virtual ~BaseVEXOAPIDelegate() = default;

    VEXOClientAPIDelegate* delegate() const { return m_delegate.get(); }
    const QString& requestId() const { return m_requestId; }
    VEXOClientAPI* client() const { return m_client; }

    void requestFinished(const zrp::HttpRequest& request, const zrp::HttpResponse& response);
    // error is null for a failure of the answer (status, body) rather than of the transport.
    void requestFailed(const zrp::HttpRequest& request, const zrp::Error& error);

protected:
    // Records from a non-empty "results" array. Returns false when the answer is malformed in a
    // way that makes it a failed request (it is then retried like one).
    virtual bool recordsFromResults(const QJsonArray& results, VEXOResults& records) = 0;
    // A group with nothing in it is a failure of its own kind, reported at once.
    virtual bool failsWhenEmpty() const { return false; }

    static void appendEpisodes(const QJsonArray& videos, QList<VEXOEpisode>& out);

private:
    friend class VEXOClientAPI;
    VEXODelegateRef m_delegate;
    QString m_requestId;
    QPointer<VEXOClientAPI> m_client;
};

class VEXOAPIProgramDelegate : public BaseVEXOAPIDelegate
{
public:
    using BaseVEXOAPIDelegate::BaseVEXOAPIDelegate;

protected:
    bool recordsFromResults(const QJsonArray& results, VEXOResults& records) override;
};

class VEXOAPIEpisodeDelegate : public BaseVEXOAPIDelegate
{
public:
    using BaseVEXOAPIDelegate::BaseVEXOAPIDelegate;

protected:
    bool recordsFromResults(const QJsonArray& results, VEXOResults& records) override;
};

class VEXOAPIGroupDelegate : public BaseVEXOAPIDelegate
{
public:
    using BaseVEXOAPIDelegate::BaseVEXOAPIDelegate;

protected:
    bool recordsFromResults(const QJsonArray& results, VEXOResults& records) override;
    bool failsWhenEmpty() const override { return true; }
};

// The client of the catalog service. One per screen; answers come back to the delegate with the
// caller's request id, on the main thread.
class VEXOClientAPI : public QObject
{
    Q_OBJECT
public:
    explicit VEXOClientAPI(QObject* parent = nullptr);
    ~VEXOClientAPI() override; // cancels every request

    VEXOClientAPIDelegate* delegate() const { return m_delegate.get(); }
    void setDelegate(VEXOClientAPIDelegate* delegate) { m_delegate = VEXODelegateRef(delegate); }

    void getProgramsByProducerName(const QString& producerName, const QString& requestId);
    void getProgramsWithProducerNameInList(const QString& producerNames, const QString& requestId);
    void getProgramsWithProducerNameIn(const QStringList& producerNames, const QString& requestId);
    void getProgramsWithoutProducerName(const QString& producerName, const QString& requestId);
    void getProgramsWithoutProducerNameInList(const QString& producerNames, const QString& requestId);
    void getProgramByIdList(const QString& programIds, const QString& requestId);
    void getProgramBySlug(const QString& slug, const QString& requestId);
    void getEpisodesByProgramId(const QString& programId, const QString& requestId);
    void getEpisodesByTPMediaId(const QString& mediaId, const QString& requestId);
    void getEpisodesByMediaIdList(const QString& mediaIds, const QString& requestId);
    void getEpisodesByGroup(const QString& groupName, const QString& requestId);

    // Forgets the delegate and cancels every request, retries included; nothing is called back.
    void cancelRequests();

    // The signed request for url, not started. The signed text and the requested address are
    // the same: the query is escaped and sorted first.
    static zrp::HttpRequest requestSignedWithURL(const QString& url, const QString& consumerKey,
                                                 const QString& secretKey);

    // Every request started by this client, retries included, in start order.
    QList<zrp::HttpRequest> requests() const;
    qsizetype vexoApiDelegateCount() const { return m_handlers.size(); }

    // Largest answer accepted; a larger one fails like a dropped connection.
    void setMaxResponseBytes(qint64 bytes) { m_maxResponseBytes = bytes; }

    // Class helpers shared with the records and the other service clients.
    static QJsonValue sanitize(const QJsonValue& value);
    static QJsonValue sanitize(const QJsonValue& value, const QJsonValue& defaultValue);
    static QCborValue sanitize(const QCborValue& value);
    static QCborValue sanitize(const QCborValue& value, const QCborValue& defaultValue);
    static int getUserInterfaceIdiom(); // non-zero on a tablet
    static bool isiPhone4();            // a scale-2 main screen
    static void setUseQAKeys(bool use);
    static bool useQAKeys();

    // The key pair chosen by the last construction, and the base URL of the service.
    static QString consumerKey();
    static QString secretKey();
    static QString baseURL();

    // Tests pin the device; nullopt returns to the real facts.
    static void setDeviceForTesting(std::optional<int> idiom, std::optional<bool> retina);

    // Shared with the sandbox-side checks in tests: the escaped, sorted query and the signature.
    static QString canonicalQuery(const QString& query);
    static QString signatureFor(const QString& url, const QString& timestamp, const QString& consumerKey,
                                const QString& nonce, const QString& secretKey);

    static inline const QString kRetryCountKey = QStringLiteral("zrpRetryCount");
    static inline const QString kFailedRequestNotification = QStringLiteral("NotificationFailedRequest");
    static inline const QString kResultsEmptyDomain = QStringLiteral("VEXO results empty");
    static constexpr int kMaxRetries = 3;
    static constexpr qint64 kCacheMaxAgeSeconds = 3600;

private:
    friend class BaseVEXOAPIDelegate;
    struct Entry
    {
        zrp::HttpRequest request;
        QPointer<zrp::HttpTask> task;
        std::shared_ptr<BaseVEXOAPIDelegate> handler; // dropped on cancel
    };

    template <typename Handler> void startRequest(const QString& url, const QString& requestId);
    void send(const zrp::HttpRequest& request, const std::shared_ptr<BaseVEXOAPIDelegate>& handler);
    void retry(const zrp::HttpRequest& failed, BaseVEXOAPIDelegate* handler);
    void removeCachedAnswer(const QUrl& url);

    VEXODelegateRef m_delegate;
    QList<std::shared_ptr<Entry>> m_requests;
    QList<std::shared_ptr<BaseVEXOAPIDelegate>> m_handlers;
    qint64 m_maxResponseBytes = 32ll * 1024 * 1024;
};
