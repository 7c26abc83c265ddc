#include "SandboxServer.h"

#include "AnalyticsCollector.h"
#include "Credentials.h"
#include "FaultInjector.h"
#include "ImageRenderer.h"
#include "LiveRailService.h"
#include "LogService.h"
#include "PushService.h"
#include "OutsideServices.h"
#include "RemoteConfigFile.h"
#include "RequestLog.h"
#include "SampleCatalog.h"
#include "SandboxHttp.h"
#include "SignatureVerifier.h"

#include <QCache>
#include <QColor>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <functional>

#include <httplib.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zrp {

using namespace sandbox;

namespace {

// Gives access to the listening socket, so that its backlog can be raised: the library listens
// with a backlog of 5, and a burst of connections would then wait for SYN retransmissions.
class HttpServer : public httplib::Server
{
public:
    int listeningSocket() const { return int(svr_sock_); }
};

// Worker threads made on demand up to a bound. A kept-alive connection holds its thread while
// it idles, so a fixed small pool stalls as soon as a client opens more connections than that.
class ElasticTaskQueue final : public httplib::TaskQueue
{
public:
    explicit ElasticTaskQueue(size_t maxThreads) : m_maxThreads(std::max<size_t>(1, maxThreads)) {}
    ~ElasticTaskQueue() override { shutdown(); }

    void enqueue(std::function<void()> fn) override
    {
        std::unique_lock lock(m_mutex);
        m_jobs.push_back(std::move(fn));
        if (m_idle < m_jobs.size() && m_threads.size() < m_maxThreads)
            m_threads.emplace_back([this] { work(); });
        else
            m_wake.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_shutdown)
                return;
            m_shutdown = true;
        }
        m_wake.notify_all();
        for (std::thread& t : m_threads)
            t.join();
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                ++m_idle;
                m_wake.wait(lock, [this] { return m_shutdown || !m_jobs.empty(); });
                --m_idle;
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    const size_t m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_shutdown = false;
};

int inetPort(const sockaddr_storage& a)
{
    if (a.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
    if (a.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
    return -1;
}

// Shuts down the server side of accepted connections on localPort (only the one from remotePort
// when it is given). The library hands no socket to a handler, so the open descriptors are
// searched; this is how a request is dropped without an answer and how stop() ends connections
// that idle in keep-alive.
void shutdownConnections(int localPort, int remotePort)
{
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        char* end = nullptr;
        const long fd = strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(dir))
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLen = sizeof local, peerLen = sizeof peer;
        if (getsockname(int(fd), reinterpret_cast<sockaddr*>(&local), &localLen) != 0 ||
            inetPort(local) != localPort)
            continue;
        if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0)
            continue; // the listening socket
        if (remotePort >= 0 && inetPort(peer) != remotePort)
            continue;
        ::shutdown(int(fd), SHUT_RDWR);
    }
    closedir(dir);
}

bool isPseudoHeader(const std::string& name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

bool isGet(const HttpRequest& r)
{
    return r.method == "GET" || r.method == "HEAD";
}

HttpReply methodNotAllowed(const QByteArray& allow)
{
    HttpReply r =
        HttpReply::error(405, QStringLiteral("Method not allowed."),
                         QStringLiteral("This resource answers %1 only.").arg(QString::fromLatin1(allow)));
    r.setHeader("Allow", allow);
    return r;
}

HttpReply notFound(const QString& path)
{
    return HttpReply::error(404, QStringLiteral("Not found."),
                            QStringLiteral("Nothing is served at \"%1\".").arg(path.left(200)));
}

QByteArray weakTag(const QByteArray& body)
{
    return "W/\"" + QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex().left(32) + "\"";
}

// Bytes that are neither valid UTF-8 nor valid JSON, about as long as the real body.
QByteArray corrupted(const QByteArray& body)
{
    QByteArray out = QByteArrayLiteral("\xff\xfe{\"results\": [\xc3\x28\xa0\xa1");
    out += body.mid(0, body.size() / 2);
    out += QByteArrayLiteral("\xed\xa0\x80\xf8\x88\x80\x80\x80");
    return out;
}

struct CachedBody
{
    QByteArray body;
    QByteArray etag;
};

} // namespace

struct SandboxServer::Impl
{
    SandboxOptions options;
    std::unique_ptr<SampleCatalog> catalog;
    SignatureVerifier verifier{Credentials::catalog(), Credentials::playerCatalog()};
    FaultInjector faults;
    RequestLog log;
    RemoteConfigFile config;
    AnalyticsCollector analytics{Credentials::analyticsAccountIds()};
    LiveRailService liveRail; // LiveRailService.cpp
    LogService logService;    // LogService.cpp
    PushService pushService;  // PushService.cpp
    OutsideServices outside;  // OutsideServices.cpp: audience beacons, survey invitations

    std::unique_ptr<HttpServer> http;
    std::thread listener;
    std::atomic<bool> listenerDone{false};
    std::atomic<int> port{0};
    std::atomic<bool> running{false};

    std::mutex cacheMutex;
    QCache<QString, CachedBody> catalogCache{32 * 1024 * 1024};
    QCache<QString, CachedBody> imageCache{64 * 1024 * 1024};

    void serve(const httplib::Request& req, httplib::Response& res);
    void recordRefused(const httplib::Request& req, httplib::Response& res);
    HttpReply route(const HttpRequest& r);
    HttpReply control(const HttpRequest& r);
    HttpReply catalogReply(const HttpRequest& r);
    HttpReply imageReply(const HttpRequest& r);
    HttpReply stationImageReply(const HttpRequest& r);
    // A PNG drawn once per path and kept, answered with validators.
    HttpReply pngReply(const HttpRequest& r, const std::function<QByteArray()>& render);
    HttpReply configReply(const HttpRequest& r);
    std::optional<CachedBody> cached(QCache<QString, CachedBody>& cache, const QString& key);
    void store(QCache<QString, CachedBody>& cache, const QString& key, const CachedBody& value);
};

namespace {

bool isControlPath(const QString& path)
{
    return (path == QLatin1String("/_sandbox") || path.startsWith(QLatin1String("/_sandbox/"))) &&
           path != QLatin1String("/_sandbox/ping");
}

// Adds validators and answers 304 when the client's copy is current.
HttpReply withValidators(const HttpRequest& r, HttpReply reply, const QByteArray& etag, qint64 lastModified)
{
    reply.setHeader("ETag", etag);
    reply.setHeader("Last-Modified", httpDate(lastModified));
    bool current = false;
    const QByteArray ifNoneMatch = r.header("If-None-Match");
    if (!ifNoneMatch.isEmpty()) {
        auto bare = [](QByteArray t) {
            t = t.trimmed();
            return t.startsWith("W/") ? t.mid(2) : t;
        };
        for (const QByteArray& tag : ifNoneMatch.split(',')) {
            if (tag.trimmed() == "*" || bare(tag) == bare(etag))
                current = true;
        }
    } else if (r.hasHeader("If-Modified-Since")) {
        const qint64 since = parseHttpDate(r.header("If-Modified-Since"));
        current = since >= 0 && lastModified <= since;
    }
    if (current) {
        reply.status = 304;
        reply.body.clear();
        reply.contentType.clear();
    }
    return reply;
}

} // namespace

std::optional<CachedBody> SandboxServer::Impl::cached(QCache<QString, CachedBody>& cache, const QString& key)
{
    std::lock_guard lock(cacheMutex);
    if (const CachedBody* b = cache.object(key))
        return *b;
    return std::nullopt;
}

void SandboxServer::Impl::store(QCache<QString, CachedBody>& cache, const QString& key,
                                const CachedBody& value)
{
    std::lock_guard lock(cacheMutex);
    cache.insert(key, new CachedBody(value), std::max<qsizetype>(1, value.body.size()));
}

void SandboxServer::Impl::serve(const httplib::Request& req, httplib::Response& res)
{
    HttpRequest r =
        HttpRequest::fromTarget(QByteArray::fromStdString(req.method), QByteArray::fromStdString(req.target));
    for (const auto& [name, value] : req.headers) {
        if (!isPseudoHeader(name))
            r.headers.append({QByteArray::fromStdString(name), QByteArray::fromStdString(value)});
    }
    r.body = QByteArray::fromStdString(req.body);
    r.localAddress = "127.0.0.1:" + QByteArray::number(port.load());

    const bool controlRequest = isControlPath(r.path);
    const qint64 seq = controlRequest ? 0 : log.append(r);
    const std::optional<FaultOrder> fault = controlRequest ? std::nullopt : faults.take(r.path);
    const QJsonObject faultJson = fault ? fault->toJson() : QJsonObject();
    res.set_header("X-Sandbox-Seq", std::to_string(seq));
    res.set_header("Date", httpDate(QDateTime::currentSecsSinceEpoch()).toStdString());

    if (fault && fault->delayMs > 0)
        faults.delay(fault->delayMs);
    if (fault && fault->drop) {
        log.setOutcome(seq, 0, faultJson);
        res.status = 200;
        shutdownConnections(port.load(), req.remote_port);
        return;
    }

    HttpReply reply;
    try {
        if (fault && fault->status) {
            reply = HttpReply::error(fault->status, QStringLiteral("Injected fault."),
                                     QStringLiteral("The sandbox answers %1 to requests under \"%2\".")
                                         .arg(fault->status)
                                         .arg(fault->prefix));
        } else {
            reply = route(r);
        }
    } catch (const std::exception& e) {
        reply = HttpReply::error(500, QStringLiteral("Internal error."), QString::fromLocal8Bit(e.what()));
    }
    if (fault && fault->corrupt && !reply.body.isEmpty())
        reply.body = corrupted(reply.body);
    if (seq)
        log.setOutcome(seq, reply.status, faultJson);

    res.status = reply.status;
    for (const auto& [name, value] : reply.headers)
        res.set_header(name.toStdString(), value.toStdString());
    const std::string contentType = reply.contentType.toStdString();
    if (fault && fault->truncate >= 0 && fault->truncate < reply.body.size()) {
        // Promise the whole length, send the first bytes, then give up: the connection closes.
        auto body = std::make_shared<std::string>(reply.body.toStdString());
        const size_t keep = size_t(fault->truncate);
        res.set_content_provider(body->size(), contentType,
                                 [body, keep](size_t offset, size_t length, httplib::DataSink& sink) {
                                     if (offset >= keep)
                                         return false;
                                     sink.write(body->data() + offset, std::min(length, keep - offset));
                                     return true;
                                 });
    } else if (!reply.body.isEmpty() || !reply.contentType.isEmpty()) {
        res.set_content(reply.body.toStdString(),
                        contentType.empty() ? "application/octet-stream" : contentType);
    }
}

// Requests the library refuses before any handler runs (too large, malformed): logged too, and
// answered with the same JSON error shape as everything else.
void SandboxServer::Impl::recordRefused(const httplib::Request& req, httplib::Response& res)
{
    HttpRequest r =
        HttpRequest::fromTarget(QByteArray::fromStdString(req.method), QByteArray::fromStdString(req.target));
    for (const auto& [name, value] : req.headers) {
        if (!isPseudoHeader(name))
            r.headers.append({QByteArray::fromStdString(name), QByteArray::fromStdString(value)});
    }
    const qint64 seq = isControlPath(r.path) ? 0 : log.append(r);
    if (seq)
        log.setOutcome(seq, res.status, QJsonObject());
    QString description, detailed;
    switch (res.status) {
    case 413:
        description = QStringLiteral("Request entity too large.");
        detailed = QStringLiteral("Request bodies are limited to %1 bytes.").arg(options.maxBodyBytes);
        break;
    case 414:
        description = QStringLiteral("Request URI too long.");
        detailed = QStringLiteral("The request target is longer than the server accepts.");
        break;
    case 404:
        description = QStringLiteral("Not found.");
        detailed = QStringLiteral("Nothing is served at this path.");
        break;
    default:
        description = QStringLiteral("Bad request.");
        detailed = QStringLiteral("The request could not be read (status %1).").arg(res.status);
        break;
    }
    const HttpReply reply = HttpReply::error(res.status, description, detailed);
    res.set_header("X-Sandbox-Seq", std::to_string(seq));
    res.set_content(reply.body.toStdString(), "application/json");
}

HttpReply SandboxServer::Impl::route(const HttpRequest& r)
{
    const QString& path = r.path;
    if (path == QLatin1String("/_sandbox/ping"))
        return isGet(r) ? HttpReply::noContent() : methodNotAllowed("GET, HEAD");
    // The ad server and the diagnostic log service, with their /_sandbox/ listings.
    if (std::optional<HttpReply> reply = liveRail.route(r))
        return *reply;
    if (std::optional<HttpReply> reply = logService.route(r))
        return *reply;
    if (std::optional<HttpReply> reply = pushService.route(r))
        return *reply;
    if (std::optional<HttpReply> reply = outside.route(r))
        return *reply;
    if (isControlPath(path))
        return control(r);
    if (path.startsWith(QLatin1String("/vexo/v1/")))
        return catalogReply(r);
    if (path.startsWith(QLatin1String("/images/")))
        return imageReply(r);
    if (path.startsWith(QLatin1String("/station-images/")))
        return stationImageReply(r);
    if (path == QLatin1String("/config/ipad-conf.plist"))
        return configReply(r);
    if (path == QLatin1String("/collect"))
        return analytics.collect(r);
    return notFound(path);
}

HttpReply SandboxServer::Impl::catalogReply(const HttpRequest& r)
{
    if (!isGet(r))
        return methodNotAllowed("GET, HEAD");
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const SignatureCheck check = verifier.verify(r, now);
    if (!check.ok)
        return HttpReply::error(401, check.description, check.detailedDescription);

    static const QRegularExpression listPath(QStringLiteral("^/vexo/v1/(programs|videos|groups)/?$"));
    static const QRegularExpression detailPath(
        QStringLiteral("^/vexo/v1/(programs|videos|groups)/(\\d{1,9})/?$"));
    const QRegularExpressionMatch list = listPath.match(r.path);
    const QRegularExpressionMatch detail =
        list.hasMatch() ? QRegularExpressionMatch() : detailPath.match(r.path);
    if (!list.hasMatch() && !detail.hasMatch())
        return notFound(r.path);

    // Signing parameters change on every request and say nothing about the answer.
    static const QStringList signing = {QStringLiteral("timestamp"), QStringLiteral("nonce"),
                                        QStringLiteral("consumer_key"), QStringLiteral("signature")};
    QList<QueryItem> query;
    QString canonical;
    for (const QueryItem& item : parseQuery(r.rawQuery)) {
        if (signing.contains(item.name))
            continue;
        query.append(item);
        canonical += item.name + QLatin1Char('=') + item.value + QLatin1Char('\n');
    }
    const QString base = QStringLiteral("http://") + QString::fromLatin1(r.host());
    const QString key = base + QLatin1Char(' ') + r.path + QLatin1Char('?') + canonical;

    std::optional<CachedBody> body = cached(catalogCache, key);
    if (!body) {
        if (list.hasMatch()) {
            const SampleCatalog::Answer answer = catalog->list(list.captured(1), query, base);
            if (answer.status != 200)
                return HttpReply::error(answer.status, answer.description, answer.detailedDescription);
            const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("results"), answer.results}})
                                        .toJson(QJsonDocument::Compact);
            body = CachedBody{json, weakTag(json)};
        } else {
            const std::optional<QJsonObject> object =
                catalog->detail(detail.captured(1), detail.captured(2).toInt(), query, base);
            if (!object)
                return notFound(r.path);
            const QByteArray json = QJsonDocument(*object).toJson(QJsonDocument::Compact);
            body = CachedBody{json, weakTag(json)};
        }
        store(catalogCache, key, *body);
    }
    HttpReply reply;
    reply.contentType = "application/json";
    reply.body = body->body;
    return withValidators(r, reply, body->etag, catalog->generatedAt());
}

HttpReply SandboxServer::Impl::imageReply(const HttpRequest& r)
{
    if (!isGet(r))
        return methodNotAllowed("GET, HEAD");
    static const QRegularExpression htmlPath(
        QStringLiteral("^/images/html/(programs|videos)/\\d{1,9}/[^/]+$"));
    if (htmlPath.match(r.path).hasMatch()) {
        // Some catalog image addresses lead to a web page instead of a picture.
        HttpReply reply;
        reply.contentType = "text/html; charset=utf-8";
        reply.body = "<!DOCTYPE html>\n<html><head><title>Image moved</title></head>"
                     "<body><p>This image is no longer available here.</p></body></html>\n";
        return reply;
    }
    static const QRegularExpression imagePath(QStringLiteral(
        "^/images/(programs|videos)/(\\d{1,9})/(iPad-Large|iPad-Small|iPhone-Medium|iPhone-Small)"
        "(-alt)?\\.png$"));
    const QRegularExpressionMatch m = imagePath.match(r.path);
    if (!m.hasMatch())
        return notFound(r.path);
    const auto label = catalog->imageLabel(m.captured(1), m.captured(2).toInt());
    if (!label)
        return notFound(r.path);
    return pngReply(r, [&] {
        const QString caption =
            m.captured(4).isEmpty() ? label->caption : label->caption + QStringLiteral(" (alt)");
        return ImageRenderer::renderPng(ImageRenderer::sizeForUsage(m.captured(3)), label->rgb, label->title,
                                        caption);
    });
}

HttpReply SandboxServer::Impl::pngReply(const HttpRequest& r, const std::function<QByteArray()>& render)
{
    std::optional<CachedBody> png = cached(imageCache, r.path);
    if (!png) {
        const QByteArray bytes = render();
        png = CachedBody{bytes, weakTag(bytes)};
        store(imageCache, r.path, *png);
    }
    HttpReply reply;
    reply.contentType = "image/png";
    reply.body = png->body;
    return withValidators(r, reply, png->etag, catalog->generatedAt());
}

HttpReply SandboxServer::Impl::stationImageReply(const HttpRequest& r)
{
    if (!isGet(r))
        return methodNotAllowed("GET, HEAD");
    static const QRegularExpression logoPath(
        QStringLiteral("^/station-images/ipad/([A-Za-z0-9-]{1,16})\\.png$"));
    const QRegularExpressionMatch m = logoPath.match(r.path);
    if (!m.hasMatch())
        return notFound(r.path);
    const QString callsign = m.captured(1);
    const auto& stations = catalog->stations();
    const auto station = std::find_if(stations.begin(), stations.end(), [&](const SampleCatalog::Station& s) {
        return s.callsign == callsign;
    });
    if (station == stations.end())
        return notFound(r.path);
    return pngReply(r, [&] {
        const quint32 rgb = QColor::fromHsv(int(qHash(callsign) % 360u), 90, 90).rgb();
        return ImageRenderer::renderPng(QSize(256, 96), rgb, callsign, station->name);
    });
}

HttpReply SandboxServer::Impl::configReply(const HttpRequest& r)
{
    if (!isGet(r))
        return methodNotAllowed("GET, HEAD");
    HttpReply reply;
    reply.contentType = "text/plain; charset=us-ascii";
    reply.body = config.body();
    return reply;
}

HttpReply SandboxServer::Impl::control(const HttpRequest& r)
{
    const QString& path = r.path;
    const QList<QueryItem> query = parseQuery(r.rawQuery);
    auto param = [&](const char* name) {
        for (const QueryItem& item : query) {
            if (item.name == QLatin1String(name))
                return item.value;
        }
        return QString();
    };
    auto bodyJson = [&](QJsonValue* out) -> std::optional<HttpReply> {
        QJsonParseError pe;
        const QJsonDocument doc = QJsonDocument::fromJson(r.body, &pe);
        if (doc.isNull()) {
            return HttpReply::error(400, QStringLiteral("Malformed body."),
                                    QStringLiteral("The body is not JSON (%1).").arg(pe.errorString()));
        }
        *out = doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(doc.array());
        return std::nullopt;
    };
    auto sinceParam = [&](qint64* since) -> bool {
        const QString text = param("since");
        if (text.isEmpty())
            return true;
        bool ok = false;
        *since = text.toLongLong(&ok);
        return ok;
    };

    if (path == QLatin1String("/_sandbox") || path == QLatin1String("/_sandbox/")) {
        if (!isGet(r))
            return methodNotAllowed("GET, HEAD");
        return HttpReply::json(
            200,
            QJsonObject{
                {QStringLiteral("seed"), QString::number(options.seed)},
                {QStringLiteral("services"),
                 QJsonObject{{QStringLiteral("catalog"), QStringLiteral("/vexo/v1/")},
                             {QStringLiteral("images"), QStringLiteral("/images/")},
                             {QStringLiteral("station_images"), QStringLiteral("/station-images/ipad/")},
                             {QStringLiteral("remote_config"), QStringLiteral("/config/ipad-conf.plist")},
                             {QStringLiteral("analytics"), QStringLiteral("/collect")},
                             {QStringLiteral("push"), QStringLiteral("/push/")},
                             {QStringLiteral("audience"), QStringLiteral("/audience/beacon")},
                             {QStringLiteral("survey"), QStringLiteral("/survey/eligibility")},
                             {QStringLiteral("ping"), QStringLiteral("/_sandbox/ping")}}},
                {QStringLiteral("control"),
                 QJsonArray{QStringLiteral("GET /_sandbox/requests?since=SEQ&prefix=PATH"),
                            QStringLiteral("POST /_sandbox/reset"),
                            QStringLiteral("GET|POST|DELETE /_sandbox/faults"),
                            QStringLiteral("GET|POST /_sandbox/config"),
                            QStringLiteral("GET /_sandbox/analytics?since=INDEX"),
                            QStringLiteral("GET|DELETE /_sandbox/audience"),
                            QStringLiteral("GET|POST /_sandbox/survey"),
                            QStringLiteral("GET /_sandbox/credentials"),
                            QStringLiteral("GET|POST /_sandbox/push/notifications"),
                            QStringLiteral("GET /_sandbox/push/registrations")}},
            });
    }
    if (path == QLatin1String("/_sandbox/requests")) {
        if (!isGet(r))
            return methodNotAllowed("GET, HEAD");
        qint64 since = 0;
        if (!sinceParam(&since))
            return HttpReply::error(400, QStringLiteral("Invalid query."),
                                    QStringLiteral("\"since\" must be a number."));
        return HttpReply::json(200,
                               QJsonObject{{QStringLiteral("requests"), log.since(since, param("prefix"))},
                                           {QStringLiteral("last_seq"), log.lastSeq()}});
    }
    if (path == QLatin1String("/_sandbox/reset")) {
        if (r.method != "POST")
            return methodNotAllowed("POST");
        faults.clear();
        log.clear();
        config.reset();
        analytics.clear();
        pushService.clear();
        outside.clear();
        return HttpReply::json(
            200, QJsonObject{{QStringLiteral("reset"), true}, {QStringLiteral("last_seq"), log.lastSeq()}});
    }
    if (path == QLatin1String("/_sandbox/faults")) {
        if (r.method == "DELETE") {
            faults.clear();
            return HttpReply::json(200, QJsonObject{{QStringLiteral("faults"), QJsonArray()}});
        }
        if (r.method == "POST") {
            QJsonValue body;
            if (auto bad = bodyJson(&body))
                return *bad;
            const QJsonArray orders = body.isArray() ? body.toArray() : QJsonArray{body};
            QList<FaultOrder> parsed;
            for (const QJsonValue& o : orders) {
                QString error = QStringLiteral("A fault order must be a JSON object.");
                const std::optional<FaultOrder> f =
                    o.isObject() ? FaultOrder::fromJson(o.toObject(), &error) : std::nullopt;
                if (!f)
                    return HttpReply::error(400, QStringLiteral("Invalid fault order."), error);
                parsed.append(*f);
            }
            faults.add(parsed);
            return HttpReply::json(200, QJsonObject{{QStringLiteral("faults"), faults.toJson()}});
        }
        if (isGet(r))
            return HttpReply::json(200, QJsonObject{{QStringLiteral("faults"), faults.toJson()}});
        return methodNotAllowed("GET, HEAD, POST, DELETE");
    }
    if (path == QLatin1String("/_sandbox/config")) {
        if (r.method == "POST") {
            QJsonValue body;
            if (auto bad = bodyJson(&body))
                return *bad;
            QString error = QStringLiteral("The body must be a JSON object.");
            if (!body.isObject() || !config.apply(body.toObject(), &error))
                return HttpReply::error(400, QStringLiteral("Invalid configuration."), error);
            return HttpReply::json(200, config.toJson());
        }
        if (isGet(r))
            return HttpReply::json(200, config.toJson());
        return methodNotAllowed("GET, HEAD, POST");
    }
    if (path == QLatin1String("/_sandbox/analytics")) {
        if (!isGet(r))
            return methodNotAllowed("GET, HEAD");
        qint64 since = 0;
        if (!sinceParam(&since))
            return HttpReply::error(400, QStringLiteral("Invalid query."),
                                    QStringLiteral("\"since\" must be a number."));
        return HttpReply::json(200, QJsonObject{{QStringLiteral("hits"), analytics.hits(since)}});
    }
    if (path == QLatin1String("/_sandbox/credentials")) {
        if (!isGet(r))
            return methodNotAllowed("GET, HEAD");
        return HttpReply::json(200, Credentials::toJson());
    }
    return notFound(path);
}

SandboxServer::SandboxServer(SandboxOptions options) : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
}

SandboxServer::~SandboxServer()
{
    stop();
}

QJsonObject SandboxServer::credentials()
{
    return Credentials::toJson();
}

bool SandboxServer::addFault(const QString& order, QString* error)
{
    const std::optional<FaultOrder> f = FaultOrder::fromText(order, error);
    if (!f)
        return false;
    d->faults.add({*f});
    return true;
}

bool SandboxServer::start(QString* error)
{
    if (d->running)
        return true;
    auto fail = [&](const QString& text) {
        if (error)
            *error = text;
        d->http.reset();
        return false;
    };
    // A client that goes away mid-answer must not take the whole process down with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    if (!d->options.dataDir.isEmpty()) {
        if (!QDir().mkpath(d->options.dataDir))
            return fail(QStringLiteral("Cannot create the data folder %1.").arg(d->options.dataDir));
        QString journalError;
        if (!d->log.setJournal(QDir(d->options.dataDir).filePath(QStringLiteral("requests.jsonl")),
                               &journalError))
            return fail(journalError);
    }
    d->catalog = std::make_unique<SampleCatalog>(d->options.seed, QDateTime::currentSecsSinceEpoch());
    {
        std::lock_guard lock(d->cacheMutex);
        d->catalogCache.clear();
        d->imageCache.clear();
    }

    d->http = std::make_unique<HttpServer>();
    HttpServer& s = *d->http;
    const size_t maxThreads = size_t(std::max(1, d->options.maxThreads));
    s.new_task_queue = [maxThreads] { return new ElasticTaskQueue(maxThreads); };
    s.set_payload_max_length(size_t(std::max<qint64>(0, d->options.maxBodyBytes)));
    // Headers and body go out in separate writes; without this, Nagle's algorithm holds the body
    // back until the client's delayed ACK, about 40 ms per answer.
    s.set_tcp_nodelay(true);
    s.set_keep_alive_max_count(1000);
    s.set_keep_alive_timeout(5);
    s.set_read_timeout(10);
    s.set_write_timeout(10);
    Impl* impl = d.get();
    const auto handler = [impl](const httplib::Request& req, httplib::Response& res) {
        impl->serve(req, res);
    };
    const std::string any = "[\\s\\S]*";
    s.Get(any, handler);
    s.Post(any, handler);
    s.Put(any, handler);
    s.Patch(any, handler);
    s.Delete(any, handler);
    s.Options(any, handler);
    s.set_error_handler(
        httplib::Server::HandlerWithResponse([impl](const httplib::Request& req, httplib::Response& res) {
            if (res.has_header("X-Sandbox-Seq"))
                return httplib::Server::HandlerResponse::Unhandled; // answered by serve() already
            impl->recordRefused(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }));

    int port = 0;
    if (d->options.port == 0)
        port = s.bind_to_any_port("127.0.0.1");
    else
        port = s.bind_to_port("127.0.0.1", d->options.port) ? d->options.port : -1;
    if (port <= 0)
        return fail(QStringLiteral("Cannot listen on 127.0.0.1:%1.").arg(d->options.port));
    ::listen(s.listeningSocket(), 256);
    d->port = port;

    d->faults.setStopped(false);
    d->listenerDone = false;
    d->listener = std::thread([impl] {
        impl->http->listen_after_bind();
        impl->listenerDone = true;
    });
    // stop() only works once the library counts the server as running.
    for (int i = 0; i < 5000 && !s.is_running() && !d->listenerDone; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!s.is_running()) {
        s.stop();
        d->listener.join();
        return fail(QStringLiteral("The HTTP server did not start."));
    }
    d->running = true;
    return true;
}

void SandboxServer::stop()
{
    if (!d->running)
        return;
    d->running = false;
    d->faults.setStopped(true);
    d->http->stop();
    // Connections idling in keep-alive would hold their threads for seconds; end them now.
    while (!d->listenerDone) {
        shutdownConnections(d->port.load(), -1);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    d->listener.join();
    d->http.reset();
}

bool SandboxServer::isRunning() const
{
    return d->running;
}

QUrl SandboxServer::baseUrl() const
{
    return d->running ? QUrl(QStringLiteral("http://127.0.0.1:%1").arg(d->port.load())) : QUrl();
}

quint16 SandboxServer::port() const
{
    return d->running ? quint16(d->port.load()) : 0;
}

} // namespace zrp
