#include "catalog/VEXOClientAPI.h"

#include "core/Clock.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/NotificationCenter.h"
#include "core/Text.h"
#include "net/DownloadCache.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <mutex>

using namespace zrp;

namespace {

// Process-wide values of the catalog service, rewritten by every client construction.
struct Keys
{
    std::mutex mutex;
    QString consumerKey;
    QString secretKey;
};

Keys& keys()
{
    static Keys k;
    return k;
}

std::atomic<bool> g_useQAKeys{false};

// Device facts: -1 until computed (once), or pinned by a test.
std::atomic<int> g_idiom{-1};
std::atomic<int> g_retina{-1};

// The canonical query keeps ASCII letters, digits and "-_.~&=+"; everything else, the other URL
// delimiters and "%" included, becomes %XX per UTF-8 byte.
QString escapeQuery(const QString& q)
{
    return zrp::Text::percentEscape(q, QByteArrayLiteral("!*'();:@$,/?#[]"));
}

bool isCancellation(const Error& error)
{
    return error.domain == HttpError::domain && error.code == HttpError::RequestCancelled;
}

} // namespace

// ---- delegate reference ----

VEXODelegateRef::VEXODelegateRef(VEXOClientAPIDelegate* delegate) : m_delegate(delegate)
{
    if (auto* object = dynamic_cast<QObject*>(delegate)) {
        m_guard = object;
        m_guarded = true;
    }
}

VEXOClientAPIDelegate* VEXODelegateRef::get() const
{
    if (m_guarded && !m_guard)
        return nullptr;
    return m_delegate;
}

// ---- response handlers ----

BaseVEXOAPIDelegate::BaseVEXOAPIDelegate(VEXODelegateRef delegate, QString requestId, VEXOClientAPI* client)
    : m_delegate(delegate), m_requestId(std::move(requestId)), m_client(client)
{}

void BaseVEXOAPIDelegate::requestFinished(const HttpRequest& request, const HttpResponse& response)
{
    // Bodies are usually valid UTF-8; only a body that does not parse pays for the lenient
    // decoding (invalid UTF-8 replaced) and a second try.
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    QJsonValue top = parseError.error == QJsonParseError::NoError
                         ? (document.isObject() ? QJsonValue(document.object()) : QJsonValue())
                         : Json::parseLenient(response.body);
    const QJsonValue results = top.isObject() ? top.toObject().value(QLatin1String("results")) : QJsonValue();

    if (response.status >= 400 || !results.isArray()) {
        if (m_client)
            m_client->removeCachedAnswer(request.url);
        requestFailed(request, Error());
        return;
    }
    const QJsonArray array = results.toArray();
    VEXOResults records;
    if (array.isEmpty()) {
        // An empty answer is never kept: the next visit asks again.
        if (m_client)
            m_client->removeCachedAnswer(request.url);
        if (failsWhenEmpty()) {
            if (VEXOClientAPIDelegate* d = delegate())
                d->didFail(m_requestId, Error(VEXOClientAPI::kResultsEmptyDomain, 0));
            return;
        }
    } else if (!recordsFromResults(array, records)) {
        if (m_client)
            m_client->removeCachedAnswer(request.url);
        requestFailed(request, Error());
        return;
    }
    if (VEXOClientAPIDelegate* d = delegate())
        d->didFindResults(m_requestId, records);
}

void BaseVEXOAPIDelegate::requestFailed(const HttpRequest& request, const Error& error)
{
    if (isCancellation(error))
        return;
    VEXOClientAPI* client = m_client;
    if (!client)
        return;
    const int attempt = request.userInfo.value(VEXOClientAPI::kRetryCountKey, 0).toInt();
    if (attempt < VEXOClientAPI::kMaxRetries) {
        client->retry(request, this);
        return;
    }
    if (VEXOClientAPIDelegate* d = delegate())
        d->didFail(m_requestId, error);
    NotificationCenter::defaultCenter().post(
        VEXOClientAPI::kFailedRequestNotification,
        QVariantMap{{QStringLiteral("api"), QStringLiteral("vexo_api")},
                    {QStringLiteral("url"), request.url.toString(QUrl::FullyEncoded)}});
}

void BaseVEXOAPIDelegate::appendEpisodes(const QJsonArray& videos, QList<VEXOEpisode>& out)
{
    out.reserve(out.size() + videos.size());
    for (const QJsonValue& v : videos) {
        if (!v.isObject())
            continue;
        if (std::optional<VEXOEpisode> e = VEXOEpisode::episodeWithDictionary(v.toObject()))
            out.append(std::move(*e));
    }
}

bool VEXOAPIProgramDelegate::recordsFromResults(const QJsonArray& results, VEXOResults& records)
{
    records.programs.reserve(results.size());
    for (const QJsonValue& v : results) {
        // A program is built from anything object-shaped; anything else is not a program.
        if (v.isObject())
            records.programs.append(VEXOProgram::programWithDictionary(v.toObject()));
    }
    return true;
}

bool VEXOAPIEpisodeDelegate::recordsFromResults(const QJsonArray& results, VEXOResults& records)
{
    appendEpisodes(results, records.episodes);
    return true;
}

bool VEXOAPIGroupDelegate::recordsFromResults(const QJsonArray& results, VEXOResults& records)
{
    // Only the first group counts; one without a list of videos is a malformed answer.
    const QJsonValue group = results.at(0);
    const QJsonValue videos =
        group.isObject() ? group.toObject().value(QLatin1String("videos")) : QJsonValue();
    if (!videos.isArray())
        return false;
    appendEpisodes(videos.toArray(), records.episodes);
    return true;
}

// ---- client ----

VEXOClientAPI::VEXOClientAPI(QObject* parent) : QObject(parent)
{
    const Config& config = Config::shared();
    const bool tablet = getUserInterfaceIdiom() != 0 || useQAKeys();
    const char* keyName = tablet ? "catalog.tablet_consumer_key" : "catalog.phone_consumer_key";
    const char* secretName = tablet ? "catalog.tablet_secret_key" : "catalog.phone_secret_key";
    Keys& k = keys();
    std::lock_guard lock(k.mutex);
    k.consumerKey = config.value(QLatin1String(keyName));
    k.secretKey = config.value(QLatin1String(secretName));
}

VEXOClientAPI::~VEXOClientAPI()
{
    cancelRequests();
}

void VEXOClientAPI::getProgramsByProducerName(const QString& producerName, const QString& requestId)
{
    startRequest<VEXOAPIProgramDelegate>(
        QStringLiteral("%1programs/?fields=associated_images,producer&filter_producer__name=%2")
            .arg(baseURL(), producerName),
        requestId);
}

void VEXOClientAPI::getProgramsWithProducerNameInList(const QString& producerNames, const QString& requestId)
{
    startRequest<VEXOAPIProgramDelegate>(
        QStringLiteral("%1programs/?fields=associated_images,producer&filter_producer__name__in=%2")
            .arg(baseURL(), producerNames),
        requestId);
}

void VEXOClientAPI::getProgramsWithProducerNameIn(const QStringList& producerNames, const QString& requestId)
{
    if (producerNames.size() == 1)
        getProgramsByProducerName(producerNames.first(), requestId);
    else
        getProgramsWithProducerNameInList(producerNames.join(QLatin1Char(',')), requestId);
}

void VEXOClientAPI::getProgramsWithoutProducerName(const QString& producerName, const QString& requestId)
{
    startRequest<VEXOAPIProgramDelegate>(
        QStringLiteral("%1programs/?fields=associated_images,producer&exclude_producer__name=%2")
            .arg(baseURL(), producerName),
        requestId);
}

void VEXOClientAPI::getProgramsWithoutProducerNameInList(const QString& producerNames,
                                                         const QString& requestId)
{
    startRequest<VEXOAPIProgramDelegate>(
        QStringLiteral("%1programs/?fields=associated_images,producer&exclude_producer__name__in=%2")
            .arg(baseURL(), producerNames),
        requestId);
}

void VEXOClientAPI::getProgramByIdList(const QString& programIds, const QString& requestId)
{
    startRequest<VEXOAPIProgramDelegate>(
        QStringLiteral("%1programs/?fields=associated_images,producer&filter_id__in=%2")
            .arg(baseURL(), programIds),
        requestId);
}

void VEXOClientAPI::getProgramBySlug(const QString& slug, const QString& requestId)
{
    startRequest<VEXOAPIProgramDelegate>(
        QStringLiteral("%1programs/?fields=associated_images,producer&filter_slug=%2").arg(baseURL(), slug),
        requestId);
}

void VEXOClientAPI::getEpisodesByProgramId(const QString& programId, const QString& requestId)
{
    startRequest<VEXOAPIEpisodeDelegate>(
        QStringLiteral("%1videos/?fields=mediafiles,associated_images,program__associated_images,producer"
                       "&filter_program=%2&filter_availability_status=Available&order_by=-airdate"
                       "&filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL")
            .arg(baseURL(), programId),
        requestId);
}

void VEXOClientAPI::getEpisodesByTPMediaId(const QString& mediaId, const QString& requestId)
{
    startRequest<VEXOAPIEpisodeDelegate>(
        QStringLiteral("%1videos/?fields=mediafiles,associated_images,program__associated_images,producer"
                       "&filter_tp_media_object_id=%2&filter_availability_status=Available&order_by=-airdate"
                       "&filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL")
            .arg(baseURL(), mediaId),
        requestId);
}

void VEXOClientAPI::getEpisodesByMediaIdList(const QString& mediaIds, const QString& requestId)
{
    startRequest<VEXOAPIEpisodeDelegate>(
        QStringLiteral(
            "%1videos/?fields=mediafiles,associated_images,program__associated_images,producer"
            "&filter_tp_media_object_id__in=%2&filter_availability_status=Available&order_by=-airdate"
            "&filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL")
            .arg(baseURL(), mediaIds),
        requestId);
}

void VEXOClientAPI::getEpisodesByGroup(const QString& groupName, const QString& requestId)
{
    const QString name = QString(groupName).replace(QLatin1Char(' '), QLatin1Char('+'));
    startRequest<VEXOAPIGroupDelegate>(
        QStringLiteral("%1groups/?fields=videos__associated_images,videos__mediafiles,"
                       "videos__program__associated_images&filter_name=%2"
                       "&filter_videos__gated_content__in=Not+Gated,Registration+Required")
            .arg(baseURL(), name),
        requestId);
}

void VEXOClientAPI::cancelRequests()
{
    m_delegate.clear();
    // Handlers go first, so that nothing reaches the former delegate even from a request that
    // is delivering right now.
    for (const std::shared_ptr<Entry>& entry : std::as_const(m_requests))
        entry->handler.reset();
    for (const std::shared_ptr<Entry>& entry : std::as_const(m_requests)) {
        if (HttpTask* task = entry->task)
            task->cancel();
    }
}

QList<HttpRequest> VEXOClientAPI::requests() const
{
    QList<HttpRequest> out;
    out.reserve(m_requests.size());
    for (const std::shared_ptr<Entry>& entry : m_requests)
        out.append(entry->request);
    return out;
}

template <typename Handler> void VEXOClientAPI::startRequest(const QString& url, const QString& requestId)
{
    HttpRequest request = requestSignedWithURL(url, consumerKey(), secretKey());
    request.cachePolicy = CachePolicy::UseCache;
    request.maxAgeSeconds = kCacheMaxAgeSeconds;
    request.retryOnTimeoutCount = 3;
    request.maxBodyBytes = m_maxResponseBytes;
    auto handler = std::make_shared<Handler>(m_delegate, requestId, this);
    m_handlers.append(handler);
    send(request, handler);
}

void VEXOClientAPI::send(const HttpRequest& request, const std::shared_ptr<BaseVEXOAPIDelegate>& handler)
{
    auto entry = std::make_shared<Entry>();
    entry->request = request;
    entry->handler = handler;
    m_requests.append(entry);
    std::weak_ptr<Entry> weak = entry;
    entry->task =
        HttpClient::shared().send(request, [weak](const HttpResponse& response, const Error& error) {
            const std::shared_ptr<Entry> e = weak.lock();
            if (!e)
                return;
            // Held here so that a delegate that cancels or destroys the client from its callback
            // does not pull the handler out from under this call.
            const std::shared_ptr<BaseVEXOAPIDelegate> h = e->handler;
            if (!h)
                return;
            if (error)
                h->requestFailed(e->request, error);
            else
                h->requestFinished(e->request, response);
        });
}

void VEXOClientAPI::retry(const HttpRequest& failed, BaseVEXOAPIDelegate* handler)
{
    std::shared_ptr<BaseVEXOAPIDelegate> owned;
    for (const auto& h : std::as_const(m_handlers)) {
        if (h.get() == handler) {
            owned = h;
            break;
        }
    }
    if (!owned)
        return;
    // Same URL and headers (the first attempt's signature), one more on the count, and past the
    // cache so that a stored failure is not replayed.
    HttpRequest copy = failed;
    copy.userInfo.insert(kRetryCountKey, failed.userInfo.value(kRetryCountKey, 0).toInt() + 1);
    copy.cachePolicy = CachePolicy::BypassReadStore;
    send(copy, owned);
}

void VEXOClientAPI::removeCachedAnswer(const QUrl& url)
{
    if (DownloadCache* cache = HttpClient::shared().cache())
        cache->removeURL(url);
}

// ---- signing ----

QString VEXOClientAPI::canonicalQuery(const QString& query)
{
    QString q1 = query;
    q1.replace(QLatin1String("%20"), QLatin1String("+"));
    QStringList pieces = escapeQuery(q1).split(QLatin1Char('&'));
    // Plain code-unit order: upper case before lower case.
    std::sort(pieces.begin(), pieces.end());
    return pieces.join(QLatin1Char('&'));
}

QString VEXOClientAPI::signatureFor(const QString& url, const QString& timestamp, const QString& consumerKey,
                                    const QString& nonce, const QString& secretKey)
{
    return Text::hmacSha1Hex(secretKey, QStringLiteral("GET") + url + timestamp + consumerKey + nonce);
}

HttpRequest VEXOClientAPI::requestSignedWithURL(const QString& url, const QString& consumerKey,
                                                const QString& secretKey)
{
    // The query is taken from the text as built, not from a parsed URL: a parser would escape
    // some characters itself, and they would then be escaped twice.
    QString signedURL = url;
    const qsizetype mark = url.indexOf(QLatin1Char('?'));
    if (mark >= 0)
        signedURL = url.left(mark + 1) + canonicalQuery(url.mid(mark + 1));

    const QString timestamp = QString::number(qMax<qint64>(0, Clock::shared()->secondsSince1970()));
    const QString nonce = Text::uuidText();
    const QString signature = signatureFor(signedURL, timestamp, consumerKey, nonce, secretKey);

    HttpRequest request{QUrl(signedURL, QUrl::StrictMode)};
    request.method = "GET";
    request.setHeader("X-ZRPAuth-Timestamp", timestamp.toLatin1());
    request.setHeader("X-ZRPAuth-Nonce", nonce.toLatin1());
    request.setHeader("X-ZRPAuth-Consumer-Key", consumerKey.toUtf8());
    request.setHeader("X-ZRPAuth-Signature", signature.toLatin1());
    return request;
}

// ---- class helpers ----

QJsonValue VEXOClientAPI::sanitize(const QJsonValue& value)
{
    return Json::sanitize(value);
}

QJsonValue VEXOClientAPI::sanitize(const QJsonValue& value, const QJsonValue& defaultValue)
{
    return Json::sanitize(value, defaultValue);
}

QCborValue VEXOClientAPI::sanitize(const QCborValue& value)
{
    return sanitize(value, QCborValue(QString()));
}

QCborValue VEXOClientAPI::sanitize(const QCborValue& value, const QCborValue& defaultValue)
{
    if (value.isUndefined() || value.isNull() || value.isInvalid())
        return defaultValue;
    return value;
}

int VEXOClientAPI::getUserInterfaceIdiom()
{
    int idiom = g_idiom.load();
    if (idiom < 0) {
        idiom = Device::userInterfaceIdiom();
        int expected = -1;
        if (!g_idiom.compare_exchange_strong(expected, idiom))
            idiom = expected;
    }
    return idiom;
}

bool VEXOClientAPI::isiPhone4()
{
    int retina = g_retina.load();
    if (retina < 0) {
        retina = Device::screenScale() == 2.0 ? 1 : 0;
        int expected = -1;
        if (!g_retina.compare_exchange_strong(expected, retina))
            retina = expected;
    }
    return retina != 0;
}

void VEXOClientAPI::setDeviceForTesting(std::optional<int> idiom, std::optional<bool> retina)
{
    g_idiom = idiom ? qMax(0, *idiom) : -1;
    g_retina = retina ? int(*retina) : -1;
}

void VEXOClientAPI::setUseQAKeys(bool use)
{
    g_useQAKeys = use;
}

bool VEXOClientAPI::useQAKeys()
{
    return g_useQAKeys;
}

QString VEXOClientAPI::consumerKey()
{
    Keys& k = keys();
    std::lock_guard lock(k.mutex);
    return k.consumerKey;
}

QString VEXOClientAPI::secretKey()
{
    Keys& k = keys();
    std::lock_guard lock(k.mutex);
    return k.secretKey;
}

QString VEXOClientAPI::baseURL()
{
    return Config::shared().value(QStringLiteral("catalog.base_url"));
}
