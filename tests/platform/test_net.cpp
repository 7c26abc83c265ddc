// The HTTP client, the download cache, request groups and reachability, against a real
// loopback server. Time-outs and freshness move on a virtual clock; nothing here sleeps.
#include "LoopbackServer.h"
#include "core/Clock.h"
#include "core/Config.h"
#include "core/WorkQueue.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"
#include "net/Reachability.h"
#include "net/RequestGroup.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>

using namespace zrp;
using test::LoopbackServer;
using Answer = LoopbackServer::Answer;

Q_DECLARE_METATYPE(CachePolicy)
Q_DECLARE_METATYPE(zrp::test::LoopbackServer::Answer)

namespace {

struct Outcome
{
    int calls = 0;
    HttpResponse response;
    Error error;
    bool onMainThread = false;
};

// A callback that records what it got; the outcome outlives the request.
HttpCallback recorder(const std::shared_ptr<Outcome>& o)
{
    return [o](const HttpResponse& r, const Error& e) {
        ++o->calls;
        o->response = r;
        o->error = e;
        o->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    };
}

QByteArray binaryBody()
{
    QByteArray b;
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < 256; ++i)
            b.append(char(i));
        b.append("\xC3\x28\xFF\xFE\x00\xED\xA0\x80", 8); // invalid UTF-8 and a NUL
    }
    return b;
}

} // namespace

class TestNet : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<VirtualClock> m_clock;
    std::unique_ptr<VirtualClock::Scope> m_clockScope;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DownloadCache> m_cache;
    std::unique_ptr<HttpClient> m_client;

    QString cacheDir() const { return m_dir->path() + QStringLiteral("/http-cache"); }

    std::shared_ptr<Outcome> start(const HttpRequest& r, HttpClient* client = nullptr)
    {
        auto o = std::make_shared<Outcome>();
        (client ? client : m_client.get())->send(r, recorder(o));
        return o;
    }

    // Sends and waits for the callback; the caller checks calls == 1.
    std::shared_ptr<Outcome> fetch(const HttpRequest& r, HttpClient* client = nullptr)
    {
        auto o = start(r, client);
        if (!QTest::qWaitFor([&] { return o->calls > 0; }, 10000))
            qWarning("no answer for %s", qPrintable(r.url.toString()));
        return o;
    }

    HttpRequest cachedRequest(const QString& path, qint64 maxAge = 60)
    {
        HttpRequest r(m_server->url(path));
        r.cachePolicy = CachePolicy::UseCache;
        r.maxAgeSeconds = maxAge;
        return r;
    }

    // Delivery is in order, so once a later request's callback ran, an earlier one that was
    // going to run has run.
    void flushDeliveries()
    {
        auto sentinel = fetch(HttpRequest(m_server->url(QStringLiteral("/sentinel"))));
        QCOMPARE(sentinel->calls, 1);
    }

private slots:
    void init()
    {
        m_clock = std::make_unique<VirtualClock>();
        m_clockScope = std::make_unique<VirtualClock::Scope>(*m_clock);
        m_server = std::make_unique<LoopbackServer>();
        m_server->on("/sentinel", Answer(200, "ok"));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_cache = std::make_unique<DownloadCache>(cacheDir());
        m_client = std::make_unique<HttpClient>();
        m_client->setCache(m_cache.get());
    }

    void cleanup()
    {
        m_client.reset();
        m_server.reset();
        m_cache.reset();
        m_dir.reset();
        m_clockScope.reset();
        m_clock.reset();
        Config::shared().resetToDefaults();
        Reachability::setShared(nullptr);
    }

    // ---- the client -------------------------------------------------------------------------

    void methodsRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("GET") << QByteArray("GET") << QByteArray();
        QTest::newRow("POST") << QByteArray("POST") << QByteArray("a=1&b=%C3%A9");
        QTest::newRow("PUT") << QByteArray("PUT") << QByteArray("{\"x\":1}");
        QTest::newRow("PATCH") << QByteArray("PATCH") << QByteArray("patch-body");
        QTest::newRow("DELETE") << QByteArray("DELETE") << QByteArray();
        QTest::newRow("HEAD") << QByteArray("HEAD") << QByteArray();
    }

    void methodsRoundTrip()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, body);
        m_server->on("/echo", [](const LoopbackServer::Request& r) {
            Answer a(201, r.method + "|" + r.body + "|" + r.header("X-Token"));
            a.header("X-Echo-Method", r.method);
            return a;
        });
        HttpRequest r(m_server->url(QStringLiteral("/echo?q=1")));
        r.method = method;
        r.body = body;
        r.setHeader("X-Token", "first");
        r.setHeader("x-token", "second"); // replaces, whatever the case
        r.userInfo.insert(QStringLiteral("zrpRetryCount"), 2);

        auto o = std::make_shared<Outcome>();
        QPointer<HttpTask> task = m_client->send(r, recorder(o));
        QVERIFY(task);
        QCOMPARE(task->request().userInfo.value(QStringLiteral("zrpRetryCount")).toInt(), 2);
        QCOMPARE(m_client->requestsInFlight(), 1);
        QTRY_COMPARE(o->calls, 1);

        QVERIFY2(o->error.isNull(), qPrintable(o->error.description()));
        QVERIFY(o->onMainThread);
        QCOMPARE(o->response.status, 201);
        QCOMPARE(o->response.header("x-echo-method"), method);
        QCOMPARE(o->response.body, method == "HEAD" ? QByteArray() : method + "|" + body + "|second");
        QCOMPARE(o->response.fromCache, false);
        QCOMPARE(m_client->requestsInFlight(), 0);
        QTRY_VERIFY(task.isNull()); // deleted after its callback
        const auto seen = m_server->lastRequest();
        QCOMPARE(seen.method, method);
        QCOMPARE(seen.target, QByteArray("/echo?q=1"));
        QCOMPARE(seen.body, body);
    }

    void httpErrorStatusIsAnAnswer()
    {
        m_server->on("/missing", Answer(404, "{\"detail\":\"nope\"}"));
        m_server->on("/broken", Answer(500, "oops"));
        auto notFound = fetch(HttpRequest(m_server->url(QStringLiteral("/missing"))));
        auto broken = fetch(HttpRequest(m_server->url(QStringLiteral("/broken"))));
        QCOMPARE(notFound->calls, 1);
        QVERIFY(notFound->error.isNull());
        QCOMPARE(notFound->response.status, 404);
        QCOMPARE(notFound->response.body, QByteArray("{\"detail\":\"nope\"}"));
        QCOMPARE(broken->calls, 1);
        QVERIFY(broken->error.isNull());
        QCOMPARE(broken->response.status, 500);
    }

    void binaryBodyPassesByteExact()
    {
        const QByteArray bytes = binaryBody();
        m_server->on("/bin", Answer(200, bytes).header("ETag", "\"b\""));
        HttpRequest r = cachedRequest(QStringLiteral("/bin"));
        r.method = "POST";
        r.body = bytes;
        r.setHeader("Content-Type", "application/octet-stream");
        auto posted = fetch(r);
        QCOMPARE(posted->calls, 1);
        QCOMPARE(posted->response.body, bytes);
        QCOMPARE(m_server->lastRequest().body, bytes);

        // And through the cache: stored and served back unchanged.
        auto first = fetch(cachedRequest(QStringLiteral("/bin")));
        auto again = fetch(cachedRequest(QStringLiteral("/bin")));
        QCOMPARE(again->calls, 1);
        QVERIFY(again->response.fromCache);
        QCOMPARE(again->response.body, bytes);
        QCOMPARE(m_server->requestCount("/bin"), 2);
    }

    void compressedAnswerIsStoredDecoded()
    {
        QByteArray json = "{\"results\":[";
        for (int i = 0; i < 200; ++i)
            json += "{\"title\":\"Program " + QByteArray::number(i) + "\"},";
        json += "{}]}";
        m_server->on("/z", Answer(200, json).header("Content-Type", "application/json"));
        auto o = fetch(cachedRequest(QStringLiteral("/z")));
        QCOMPARE(o->calls, 1);
        QVERIFY2(o->error.isNull(), qPrintable(o->error.description()));
        QCOMPARE(o->response.body, json);
        // The body is handed on decoded, so no header may claim otherwise.
        QVERIFY(o->response.header("Content-Encoding").isEmpty());
        auto again = fetch(cachedRequest(QStringLiteral("/z")));
        QVERIFY(again->response.fromCache);
        QCOMPARE(again->response.body, json);
        QVERIFY(again->response.header("Content-Encoding").isEmpty());

        // A caller that names its own coding gets the bytes as sent, header and all.
        HttpRequest gzip(m_server->url(QStringLiteral("/z")));
        gzip.setHeader("Accept-Encoding", "gzip");
        auto raw = fetch(gzip);
        QCOMPARE(raw->response.header("Content-Encoding"), QByteArray("gzip"));
        QVERIFY(raw->response.body.startsWith("\x1f\x8b"));
        QVERIFY(raw->response.body.size() < json.size());

        HttpRequest plain(m_server->url(QStringLiteral("/z")));
        plain.setHeader("Accept-Encoding", "identity");
        QCOMPARE(fetch(plain)->response.body, json);
    }

    void transportFailures_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("refused");
        const QByteArray body(4000, 'x');
        Answer lengthCut(200, body);
        lengthCut.truncateAt = 1500;
        Answer dropped(200, body);
        dropped.dropAfterHeaders = true;
        QTest::newRow("connection refused") << Answer() << true;
        QTest::newRow("Content-Length not reached") << lengthCut << false;
        QTest::newRow("dropped after the headers") << dropped << false;
    }

    void transportFailures()
    {
        QFETCH(Answer, answer);
        QFETCH(bool, refused);
        QUrl url = m_server->url(QStringLiteral("/cut"));
        if (refused) {
            LoopbackServer gone;
            url = gone.url(QStringLiteral("/cut"));
            gone.stop();
        } else {
            m_server->on("/cut", answer);
        }
        HttpRequest r(url);
        r.cachePolicy = CachePolicy::UseCache;
        r.maxAgeSeconds = 3600;
        auto o = fetch(r);
        QCOMPARE(o->calls, 1);
        QCOMPARE(o->error.domain, HttpError::domain);
        QCOMPARE(o->error.code, int(HttpError::ConnectionFailure));
        QVERIFY(!m_cache->lookup(url)); // a cut answer is never stored
    }

    void responseTooLarge_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<bool>("tooLarge");
        QTest::newRow("declared length over the limit") << 5000 << false << true;
        QTest::newRow("streamed body over the limit") << 5000 << true << true;
        QTest::newRow("exactly the limit") << 1000 << true << false;
    }

    void responseTooLarge()
    {
        QFETCH(int, size);
        QFETCH(bool, chunked);
        QFETCH(bool, tooLarge);
        Answer a(200, QByteArray(size, 'z'));
        a.chunked = chunked;
        m_server->on("/big", a);
        HttpRequest r(m_server->url(QStringLiteral("/big")));
        r.maxBodyBytes = 1000;
        auto o = fetch(r);
        QCOMPARE(o->calls, 1);
        if (tooLarge) {
            QCOMPARE(o->error.code, int(HttpError::ResponseTooLarge));
        } else {
            QVERIFY(o->error.isNull());
            QCOMPARE(o->response.body.size(), size);
        }
    }

    void timeoutRetriesOnTheClock()
    {
        Answer held(200, "late");
        held.hold = true;
        m_server->on("/slow", held);
        HttpRequest r(m_server->url(QStringLiteral("/slow")));
        r.timeoutMs = 5000;
        r.retryOnTimeoutCount = 2;
        auto o = start(r);

        for (int attempt = 1; attempt <= 3; ++attempt) {
            QTRY_COMPARE(m_server->requestCount("/slow"), attempt);
            m_clock->advance(4999);
            QCOMPARE(m_clock->msUntilNextTimer(), 1); // not yet
            QCOMPARE(o->calls, 0);
            m_clock->advance(1);
        }
        QTRY_COMPARE(o->calls, 1);
        QCOMPARE(o->error.code, int(HttpError::RequestTimedOut));
        QCOMPARE(m_server->requestCount("/slow"), 3);
        m_server->releaseHeld();
        flushDeliveries();
        QCOMPARE(o->calls, 1); // the abandoned attempts answer into the void
    }

    void defaultTimeoutApplies()
    {
        Answer held;
        held.hold = true;
        m_server->on("/slow", held);
        m_client->setDefaultTimeoutMs(2000);
        auto o = start(HttpRequest(m_server->url(QStringLiteral("/slow"))));
        QTRY_COMPARE(m_server->requestCount("/slow"), 1);
        m_clock->advance(2000);
        QTRY_COMPARE(o->calls, 1);
        QCOMPARE(o->error.code, int(HttpError::RequestTimedOut));
        m_server->releaseHeld();
    }

    void unusableRequestsAreRefused_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QByteArray>("headerName");
        QTest::addColumn<QByteArray>("headerValue");
        const QUrl ok = QUrl(QStringLiteral("http://127.0.0.1:9/x"));
        QTest::newRow("local file") << QUrl(QStringLiteral("file:///etc/passwd")) << QByteArray()
                                    << QByteArray();
        QTest::newRow("empty") << QUrl() << QByteArray() << QByteArray();
        QTest::newRow("data") << QUrl(QStringLiteral("data:text/plain,hello")) << QByteArray()
                              << QByteArray();
        QTest::newRow("line break in a value")
            << ok << QByteArray("X-ZRPAuth") << QByteArray("t\r\nX-Admin: 1");
        QTest::newRow("line break in a name") << ok << QByteArray("X-A\nB") << QByteArray("v");
        QTest::newRow("colon in a name") << ok << QByteArray("X-A: B") << QByteArray("v");
    }

    void unusableRequestsAreRefused()
    {
        QFETCH(QUrl, url);
        QFETCH(QByteArray, headerName);
        QFETCH(QByteArray, headerValue);
        HttpRequest request(url);
        if (!headerName.isEmpty())
            request.setHeader(headerName, headerValue);
        bool calledInside = false;
        auto o = std::make_shared<Outcome>();
        m_client->send(request, [&calledInside, o](const HttpResponse& r, const Error& e) {
            calledInside = true;
            recorder(o)(r, e);
        });
        const bool inside = calledInside; // must be false: callbacks never run inside send()
        QTRY_COMPARE(o->calls, 1);
        QVERIFY(!inside);
        QCOMPARE(o->error.code, int(HttpError::UnableToCreateRequest));
    }

    // ---- redirects --------------------------------------------------------------------------

    void redirectKeepsMethodBodyAndHeaders_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("location");
        for (int s : {301, 302, 303, 307, 308})
            QTest::addRow("%d relative", s) << s << QByteArray("/to?x=1");
        QTest::newRow("302 absolute") << 302 << QByteArray("ABSOLUTE");
    }

    void redirectKeepsMethodBodyAndHeaders()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, location);
        if (location == "ABSOLUTE")
            location = m_server->url(QStringLiteral("/to?x=1")).toEncoded();
        m_server->on("/from", Answer::redirect(status, location));
        m_server->on("/to", Answer(200, "arrived"));
        HttpRequest r(m_server->url(QStringLiteral("/from")));
        r.method = "POST";
        r.body = "payload";
        r.setHeader("Content-Type", "text/plain");
        r.setHeader("X-ZRPAuth", "token-123");
        auto o = fetch(r);
        QCOMPARE(o->calls, 1);
        QVERIFY2(o->error.isNull(), qPrintable(o->error.description()));
        QCOMPARE(o->response.status, 200);
        QCOMPARE(o->response.body, QByteArray("arrived"));
        QCOMPARE(o->response.url, m_server->url(QStringLiteral("/to?x=1")));
        const auto to = m_server->lastRequest();
        QCOMPARE(to.path, QByteArray("/to"));
        QCOMPARE(to.method, QByteArray("POST"));
        QCOMPARE(to.body, QByteArray("payload"));
        QCOMPARE(to.header("X-ZRPAuth"), QByteArray("token-123"));
        QCOMPARE(to.header("Content-Type"), QByteArray("text/plain"));
    }

    void redirectRefused()
    {
        m_server->on("/stream", Answer::redirect(302, "/cdn/stream.m3u8"));
        HttpRequest r(m_server->url(QStringLiteral("/stream")));
        r.redirectPolicy = RedirectPolicy::Refuse;
        auto o = fetch(r);
        QCOMPARE(o->calls, 1);
        QCOMPARE(o->error.code, int(HttpError::RedirectRefused));
        QCOMPARE(o->error.userInfo.value(QStringLiteral("location")).toString(),
                 m_server->url(QStringLiteral("/cdn/stream.m3u8")).toString());
        QCOMPARE(o->response.status, 302);
        QCOMPARE(m_server->requestCount("/cdn/stream.m3u8"), 0);
    }

    void redirectHops_data()
    {
        QTest::addColumn<int>("hops");
        QTest::addColumn<int>("expectedCode");
        QTest::newRow("10 hops are followed") << 10 << 0;
        QTest::newRow("11 hops are too many") << 11 << int(HttpError::TooMuchRedirection);
        QTest::newRow("a loop ends") << -1 << int(HttpError::TooMuchRedirection);
    }

    void redirectHops()
    {
        QFETCH(int, hops);
        QFETCH(int, expectedCode);
        // /hop/N redirects to /hop/N-1; /hop/0 answers.
        for (int n = 1; n <= 11; ++n)
            m_server->on("/hop/" + QByteArray::number(n),
                         Answer::redirect(307, "/hop/" + QByteArray::number(n - 1)));
        m_server->on("/hop/0", Answer(200, "end"));
        m_server->on("/loop", Answer::redirect(302, "/loop"));
        const QString path = hops < 0 ? QStringLiteral("/loop") : QStringLiteral("/hop/%1").arg(hops);
        auto o = fetch(HttpRequest(m_server->url(path)));
        QCOMPARE(o->calls, 1);
        QCOMPARE(o->error.code, expectedCode);
        if (expectedCode == 0)
            QCOMPARE(o->response.body, QByteArray("end"));
        else
            QCOMPARE(m_server->requestCount(), 11); // the first request and 10 followed hops
    }

    void redirectOutOfHttpIsRefused()
    {
        m_server->on("/evil", Answer::redirect(302, "file:///etc/passwd"));
        auto o = fetch(HttpRequest(m_server->url(QStringLiteral("/evil"))));
        QCOMPARE(o->calls, 1);
        QCOMPARE(o->error.code, int(HttpError::RedirectRefused));
        QVERIFY(o->response.body.isEmpty() || !o->response.body.contains("root:"));
    }

    // ---- cancellation -----------------------------------------------------------------------

    void cancelSilences_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("waiting for the server") << "in flight";
        QTest::newRow("answered from the cache, not yet delivered") << "fresh cache";
        QTest::newRow("failed at once, not yet delivered") << "refused url";
    }

    void cancelSilences()
    {
        QFETCH(QString, state);
        Answer held(200, "late");
        held.hold = true;
        m_server->on("/held", held);
        m_server->on("/cached", Answer(200, "stored"));
        if (state == "fresh cache") {
            auto warm = fetch(cachedRequest(QStringLiteral("/cached")));
            QCOMPARE(warm->calls, 1);
        }
        HttpRequest r = state == "in flight"     ? HttpRequest(m_server->url(QStringLiteral("/held")))
                        : state == "fresh cache" ? cachedRequest(QStringLiteral("/cached"))
                                                 : HttpRequest(QUrl(QStringLiteral("ftp://x/")));
        auto o = std::make_shared<Outcome>();
        QPointer<HttpTask> task = m_client->send(r, recorder(o));
        if (state == "in flight")
            QTRY_COMPARE(m_server->requestCount("/held"), 1);
        task->cancel();
        QVERIFY(task.isNull() || task->isCancelled());
        QCOMPARE(m_client->requestsInFlight(), 0);
        m_server->releaseHeld();
        flushDeliveries();
        QCOMPARE(o->calls, 0);
        QTRY_VERIFY(task.isNull());
    }

    void destroyingTheClientSilencesItsRequests()
    {
        Answer held;
        held.hold = true;
        m_server->on("/held", held);
        auto o = start(HttpRequest(m_server->url(QStringLiteral("/held"))));
        QTRY_COMPARE(m_server->requestCount("/held"), 1);
        m_client.reset();
        m_server->releaseHeld();
        HttpClient other;
        auto sentinel = fetch(HttpRequest(m_server->url(QStringLiteral("/sentinel"))), &other);
        QCOMPARE(sentinel->calls, 1);
        QCOMPARE(o->calls, 0);
    }

    // ---- the download cache -----------------------------------------------------------------

    void freshAnswerNeedsNoRequest_data()
    {
        QTest::addColumn<QByteArray>("headerName");
        QTest::addColumn<QByteArray>("headerValue");
        QTest::newRow("no caching headers") << QByteArray() << QByteArray();
        QTest::newRow("no-store") << QByteArray("Cache-Control") << QByteArray("no-store");
        QTest::newRow("max-age=0") << QByteArray("Cache-Control") << QByteArray("max-age=0, must-revalidate");
        QTest::newRow("expired") << QByteArray("Expires") << QByteArray("Thu, 01 Jan 1970 00:00:00 GMT");
        QTest::newRow("no-cache") << QByteArray("Pragma") << QByteArray("no-cache");
    }

    void freshAnswerNeedsNoRequest()
    {
        QFETCH(QByteArray, headerName);
        QFETCH(QByteArray, headerValue);
        Answer a(200, "{\"results\":[]}");
        if (!headerName.isEmpty())
            a.header(headerName, headerValue);
        m_server->on("/programs", a);

        auto first = fetch(cachedRequest(QStringLiteral("/programs"), 3600));
        QCOMPARE(first->calls, 1);
        QVERIFY(!first->response.fromCache);
        QCOMPARE(m_server->requestCount("/programs"), 1);

        m_clock->advance(3599 * 1000);
        auto o = std::make_shared<Outcome>();
        m_client->send(cachedRequest(QStringLiteral("/programs"), 3600), recorder(o));
        QCOMPARE(o->calls, 0); // asynchronous even from the cache
        QTRY_COMPARE(o->calls, 1);
        QVERIFY(o->error.isNull());
        QVERIFY(o->response.fromCache);
        QCOMPARE(o->response.status, 200);
        QCOMPARE(o->response.body, QByteArray("{\"results\":[]}"));
        QCOMPARE(m_server->requestCount("/programs"), 1);
    }

    void staleIsRevalidatedAndRearmed_data()
    {
        QTest::addColumn<QByteArray>("validatorHeader");
        QTest::addColumn<QByteArray>("validator");
        QTest::addColumn<QByteArray>("conditionHeader");
        QTest::newRow("ETag") << QByteArray("ETag") << QByteArray("\"v1\"") << QByteArray("If-None-Match");
        QTest::newRow("Last-Modified")
            << QByteArray("Last-Modified") << QByteArray("Mon, 05 Jan 2026 10:00:00 GMT")
            << QByteArray("If-Modified-Since");
    }

    void staleIsRevalidatedAndRearmed()
    {
        QFETCH(QByteArray, validatorHeader);
        QFETCH(QByteArray, validator);
        QFETCH(QByteArray, conditionHeader);
        m_server->on("/r", [=](const LoopbackServer::Request& req) {
            if (req.header(conditionHeader) == validator)
                return Answer(304).header(validatorHeader, validator).header("Cache-Control", "max-age=0");
            return Answer(200, "body-one")
                .header(validatorHeader, validator)
                .header("Cache-Control", "no-cache");
        });
        const auto get = [&] { return fetch(cachedRequest(QStringLiteral("/r"), 60)); };

        QCOMPARE(get()->response.body, QByteArray("body-one"));
        QVERIFY(!m_server->lastRequest().hasHeader(conditionHeader));

        m_clock->advance(61 * 1000); // stale
        auto revalidated = get();
        QCOMPARE(m_server->requestCount("/r"), 2);
        QCOMPARE(m_server->lastRequest().header(conditionHeader), validator);
        QVERIFY(revalidated->error.isNull());
        QCOMPARE(revalidated->response.status, 200);
        QCOMPARE(revalidated->response.body, QByteArray("body-one"));
        QVERIFY(revalidated->response.fromCache);

        m_clock->advance(59 * 1000); // fresh again for a whole max-age after the 304
        QVERIFY(get()->response.fromCache);
        QCOMPARE(m_server->requestCount("/r"), 2);

        m_clock->advance(2 * 1000);
        QCOMPARE(get()->response.body, QByteArray("body-one"));
        QCOMPARE(m_server->requestCount("/r"), 3);
    }

    void changedAnswerReplacesTheEntry()
    {
        m_server->enqueue("/r", Answer(200, "old").header("ETag", "\"1\""));
        m_server->on("/r", Answer(200, "new").header("ETag", "\"2\""));
        QCOMPARE(fetch(cachedRequest(QStringLiteral("/r")))->response.body, QByteArray("old"));
        m_clock->advance(61 * 1000);
        auto changed = fetch(cachedRequest(QStringLiteral("/r")));
        QCOMPARE(m_server->lastRequest().header("If-None-Match"), QByteArray("\"1\""));
        QCOMPARE(changed->response.body, QByteArray("new"));
        QVERIFY(!changed->response.fromCache);
        auto cached = fetch(cachedRequest(QStringLiteral("/r")));
        QVERIFY(cached->response.fromCache);
        QCOMPARE(cached->response.body, QByteArray("new"));
        QCOMPARE(m_cache->lookup(m_server->url(QStringLiteral("/r")))->response.header("ETag"),
                 QByteArray("\"2\""));
    }

    void whatIsStored_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<CachePolicy>("policy");
        QTest::addColumn<bool>("stored");
        QTest::newRow("GET 200 use cache") << QByteArray("GET") << 200 << CachePolicy::UseCache << true;
        QTest::newRow("GET 200 bypass, store")
            << QByteArray("GET") << 200 << CachePolicy::BypassReadStore << true;
        QTest::newRow("GET 200 never store") << QByteArray("GET") << 200 << CachePolicy::NeverStore << false;
        QTest::newRow("GET 203") << QByteArray("GET") << 203 << CachePolicy::UseCache << false;
        QTest::newRow("GET 404") << QByteArray("GET") << 404 << CachePolicy::UseCache << false;
        QTest::newRow("GET 500") << QByteArray("GET") << 500 << CachePolicy::UseCache << false;
        QTest::newRow("POST 200") << QByteArray("POST") << 200 << CachePolicy::UseCache << false;
    }

    void whatIsStored()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(CachePolicy, policy);
        QFETCH(bool, stored);
        m_server->on("/s", Answer(status, "answer"));
        HttpRequest r = cachedRequest(QStringLiteral("/s"));
        r.method = method;
        r.cachePolicy = policy;
        auto o = fetch(r);
        QCOMPARE(o->calls, 1);
        QCOMPARE(o->response.status, status);
        QCOMPARE(bool(m_cache->lookup(r.url)), stored);
    }

    void bypassAndNeverStoreAlwaysAsk()
    {
        m_server->enqueue("/b", Answer(200, "one"));
        m_server->on("/b", Answer(200, "two"));
        QCOMPARE(fetch(cachedRequest(QStringLiteral("/b")))->response.body, QByteArray("one"));

        HttpRequest never = cachedRequest(QStringLiteral("/b"));
        never.cachePolicy = CachePolicy::NeverStore;
        auto n = fetch(never);
        QCOMPARE(n->response.body, QByteArray("two"));
        QVERIFY(!n->response.fromCache);
        QCOMPARE(m_cache->lookup(never.url)->response.body, QByteArray("one")); // left alone

        HttpRequest bypass = cachedRequest(QStringLiteral("/b"));
        bypass.cachePolicy = CachePolicy::BypassReadStore;
        auto b = fetch(bypass);
        QCOMPARE(b->response.body, QByteArray("two"));
        QVERIFY(!b->response.fromCache);
        QCOMPARE(m_server->requestCount("/b"), 3);
        QVERIFY(!m_server->lastRequest().hasHeader("If-None-Match"));

        auto cached = fetch(cachedRequest(QStringLiteral("/b")));
        QVERIFY(cached->response.fromCache);
        QCOMPARE(cached->response.body, QByteArray("two"));
        QCOMPARE(m_server->requestCount("/b"), 3);
    }

    void removalSendsTheNextRequestToTheNetwork_data()
    {
        QTest::addColumn<bool>("clearAll");
        QTest::newRow("removeURL") << false;
        QTest::newRow("clear") << true;
    }

    void removalSendsTheNextRequestToTheNetwork()
    {
        QFETCH(bool, clearAll);
        m_server->on("/a", Answer(200, "a"));
        m_server->on("/b", Answer(200, "b"));
        fetch(cachedRequest(QStringLiteral("/a")));
        fetch(cachedRequest(QStringLiteral("/b")));
        if (clearAll)
            m_cache->clear();
        else
            QVERIFY(m_cache->removeURL(m_server->url(QStringLiteral("/a"))));
        QVERIFY(!m_cache->lookup(m_server->url(QStringLiteral("/a"))));
        QCOMPARE(bool(m_cache->lookup(m_server->url(QStringLiteral("/b")))), !clearAll);
        auto again = fetch(cachedRequest(QStringLiteral("/a")));
        QVERIFY(!again->response.fromCache);
        QCOMPARE(m_server->requestCount("/a"), 2);
    }

    void entriesOutliveTheCacheObject()
    {
        m_server->on("/p", Answer(200, "persisted").header("Content-Type", "application/json"));
        fetch(cachedRequest(QStringLiteral("/p"), 3600));
        m_client.reset();
        m_cache.reset();

        DownloadCache reopened(cacheDir());
        HttpClient client;
        client.setCache(&reopened);
        m_clock->advance(1800 * 1000);
        auto o = fetch(cachedRequest(QStringLiteral("/p"), 3600), &client);
        QCOMPARE(o->calls, 1);
        QVERIFY(o->response.fromCache);
        QCOMPARE(o->response.body, QByteArray("persisted"));
        QCOMPARE(o->response.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(m_server->requestCount("/p"), 1);
        const auto entry = reopened.lookup(m_server->url(QStringLiteral("/p")));
        QVERIFY(entry);
        QCOMPARE(entry->storedAt, m_clock->now().addSecs(-1800));
    }

    void clockSetBackMakesAnEntryStale()
    {
        m_server->on("/t", Answer(200, "t"));
        fetch(cachedRequest(QStringLiteral("/t"), 3600));
        m_clock->setNow(m_clock->now().addDays(-2)); // stored "in the future" now
        auto o = fetch(cachedRequest(QStringLiteral("/t"), 3600));
        QVERIFY(!o->response.fromCache);
        QCOMPARE(m_server->requestCount("/t"), 2);
    }

    void damagedEntryIsDropped_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("garbage file") << "garbage";
        QTest::newRow("cut in half") << "truncate";
        QTest::newRow("last body byte flipped") << "flip";
        QTest::newRow("empty file") << "empty";
    }

    void damagedEntryIsDropped()
    {
        QFETCH(QString, damage);
        const QByteArray body = binaryBody();
        m_server->on("/d", Answer(200, body));
        fetch(cachedRequest(QStringLiteral("/d"), 3600));
        m_client.reset();
        m_cache.reset();

        int damaged = 0;
        QDirIterator it(cacheDir(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            if (damage == "garbage") {
                for (qsizetype i = 0; i < bytes.size(); ++i)
                    bytes[i] = char((i * 7919) & 0xFF);
            } else if (damage == "truncate") {
                bytes.truncate(bytes.size() / 2);
            } else if (damage == "flip") {
                bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ 0x5A);
            } else {
                bytes.clear();
            }
            f.resize(0);
            f.seek(0);
            f.write(bytes);
            ++damaged;
        }
        QCOMPARE(damaged, 1);

        DownloadCache reopened(cacheDir());
        QVERIFY(!reopened.lookup(m_server->url(QStringLiteral("/d"))));
        HttpClient client;
        client.setCache(&reopened);
        auto o = fetch(cachedRequest(QStringLiteral("/d"), 3600), &client);
        QCOMPARE(o->calls, 1);
        QVERIFY(!o->response.fromCache);
        QCOMPARE(o->response.body, body);
        QCOMPARE(m_server->requestCount("/d"), 2);
        QCOMPARE(reopened.lookup(m_server->url(QStringLiteral("/d")))->response.body, body);
    }

    void sharedCacheIsUsedUnlessOneIsSet()
    {
        m_server->on("/shared", Answer(200, "s"));
        HttpClient client; // no setCache()
        QCOMPARE(client.cache(), nullptr);
        DownloadCache::setShared(m_cache.get());
        QCOMPARE(client.cache(), m_cache.get());
        fetch(cachedRequest(QStringLiteral("/shared")), &client);
        DownloadCache::setShared(nullptr);
        QVERIFY(m_cache->lookup(m_server->url(QStringLiteral("/shared"))));
    }

    // ---- request groups ---------------------------------------------------------------------

    void groupRunsAtMostFourAtOnce()
    {
        Answer held(200, "g");
        held.hold = true;
        m_server->on("/g", held);
        RequestGroup group(m_client.get());
        int callbacks = 0, completions = 0, callbacksAtCompletion = -1;
        Error completionError(QStringLiteral("unset"), -1);
        group.setCompletion([&](const Error& e) {
            ++completions;
            callbacksAtCompletion = callbacks;
            completionError = e;
        });
        for (int i = 0; i < 10; ++i)
            group.add(HttpRequest(m_server->url(QStringLiteral("/g"))),
                      [&](const HttpResponse&, const Error&) { ++callbacks; });
        QCOMPARE(m_client->requestsInFlight(), 0); // nothing before start()
        group.start();

        QTRY_COMPARE(m_server->activeCount(), 4);
        QCOMPARE(group.inFlightCount(), 4);
        QCOMPARE(group.queuedCount(), 6);
        m_server->on("/g", Answer(200, "g")); // the rest answer at once
        m_server->releaseHeld();
        QTRY_COMPARE(completions, 1);
        QCOMPARE(callbacks, 10);
        QCOMPARE(callbacksAtCompletion, 10);
        QVERIFY(completionError.isNull());
        QCOMPARE(m_server->peakActive(), 4);
        QCOMPARE(m_server->requestCount("/g"), 10);
        QVERIFY(!group.add(HttpRequest(m_server->url(QStringLiteral("/g"))), nullptr));
        flushDeliveries();
        QCOMPARE(completions, 1);
    }

    void groupFailure_data()
    {
        QTest::addColumn<Answer>("failing");
        QTest::addColumn<int>("expectedError");
        Answer dropped(200, QByteArray(100, 'x'));
        dropped.dropAfterHeaders = true;
        QTest::newRow("transport failure cancels the rest") << dropped << int(HttpError::ConnectionFailure);
        QTest::newRow("an HTTP 500 is an answer") << Answer(500, "err") << 0;
    }

    void groupFailure()
    {
        QFETCH(Answer, failing);
        QFETCH(int, expectedError);
        const bool cancels = expectedError != 0;
        Answer held(200, "slow");
        held.hold = true;
        m_server->on("/slow", held);
        m_server->on("/fail", failing);
        m_server->on("/queued", Answer(200, "q"));

        RequestGroup group(m_client.get());
        group.setMaxConcurrent(2);
        QMap<QString, int> calls;
        int completions = 0;
        Error completionError;
        group.setCompletion([&](const Error& e) {
            ++completions;
            completionError = e;
        });
        auto count = [&calls](const QString& name) {
            return [&calls, name](const HttpResponse&, const Error&) { ++calls[name]; };
        };
        group.add(HttpRequest(m_server->url(QStringLiteral("/slow"))), count("slow"));
        group.add(HttpRequest(m_server->url(QStringLiteral("/fail"))), count("fail"));
        for (int i = 0; i < 3; ++i)
            group.add(HttpRequest(m_server->url(QStringLiteral("/queued"))), count("queued"));
        group.start();

        if (cancels) {
            QTRY_COMPARE(completions, 1);
            QCOMPARE(completionError.code, expectedError);
            QCOMPARE(calls.value("fail"), 1);
            QCOMPARE(group.inFlightCount(), 0);
            QCOMPARE(group.queuedCount(), 0);
            m_server->releaseHeld();
            flushDeliveries();
            QCOMPARE(calls.value("slow"), 0);
            QCOMPARE(calls.value("queued"), 0);
            QCOMPARE(m_server->requestCount("/queued"), 0);
        } else {
            QTRY_COMPARE(calls.value("queued"), 3); // they went on through the free slot
            QCOMPARE(completions, 0);               // the held one is still out
            m_server->releaseHeld();
            QTRY_COMPARE(completions, 1);
            QVERIFY(completionError.isNull());
            QCOMPARE(calls.value("slow"), 1);
        }
        flushDeliveries();
        QCOMPARE(completions, 1);
    }

    void groupCancelMeansSilence()
    {
        Answer held(200, "h");
        held.hold = true;
        m_server->on("/h", held);
        auto group = std::make_unique<RequestGroup>(m_client.get());
        int callbacks = 0, completions = 0;
        group->setCompletion([&](const Error&) { ++completions; });
        for (int i = 0; i < 6; ++i)
            group->add(HttpRequest(m_server->url(QStringLiteral("/h"))),
                       [&](const HttpResponse&, const Error&) { ++callbacks; });
        group->start();
        QTRY_COMPARE(m_server->activeCount(), 4);
        group->cancel();
        QCOMPARE(m_client->requestsInFlight(), 0);
        m_server->releaseHeld();
        flushDeliveries();
        QCOMPARE(callbacks, 0);
        QCOMPARE(completions, 0);
        QCOMPARE(m_server->requestCount("/h"), 4);

        // A group completing in the same turn as its cancel stays silent too.
        RequestGroup empty(m_client.get());
        empty.setCompletion([&](const Error&) { ++completions; });
        empty.start();
        QCOMPARE(completions, 0); // never inside start()
        empty.cancel();
        flushDeliveries();
        QCOMPARE(completions, 0);
    }

    void emptyGroupCompletesOnce()
    {
        RequestGroup group(m_client.get());
        int completions = 0;
        group.setCompletion([&](const Error& e) {
            QVERIFY(e.isNull());
            ++completions;
        });
        group.start();
        QCOMPARE(completions, 0);
        QTRY_COMPARE(completions, 1);
        flushDeliveries();
        QCOMPARE(completions, 1);
    }

    // ---- blocking requests on a background queue --------------------------------------------

    void sendSyncOnAWorkQueue()
    {
        m_server->on("/sync", [](const LoopbackServer::Request& r) {
            return Answer(200, "sync:" + r.header("X-Token"));
        });
        Answer held;
        held.hold = true;
        m_server->on("/sync-held", held);

        WorkQueue queue(QStringLiteral("net.test.sync"));
        HttpResponse response, timedOut;
        Error error, timeoutError;
        QThread* ranOn = nullptr;
        std::atomic<int> done{0};
        queue.async([&] {
            HttpRequest r(m_server->url(QStringLiteral("/sync")));
            r.setHeader("X-Token", "abc");
            response = HttpClient::sendSync(r, &error);
            ranOn = QThread::currentThread();
            done = 1;

            HttpRequest slow(m_server->url(QStringLiteral("/sync-held")));
            slow.timeoutMs = 3000;
            timedOut = HttpClient::sendSync(slow, &timeoutError);
            done = 2;
        });
        QTRY_COMPARE(done.load(), 1);
        QVERIFY(error.isNull());
        QCOMPARE(response.status, 200);
        QCOMPARE(response.body, QByteArray("sync:abc"));
        QVERIFY(ranOn != QThread::currentThread());

        // The time-out runs on the shared clock, advanced here on the main thread.
        QTRY_COMPARE(m_server->requestCount("/sync-held"), 1);
        m_clock->advance(3000);
        QTRY_COMPARE(done.load(), 2);
        QCOMPARE(timeoutError.code, int(HttpError::RequestTimedOut));
        m_server->releaseHeld();
        queue.waitForIdle();

        // With the real clock: real timers on a thread whose event loop only runs inside
        // sendSync, and nothing left behind when the request is over.
        Clock::setShared(nullptr);
        HttpResponse realClockResponse;
        Error realClockError;
        queue.sync([&] {
            HttpRequest r(m_server->url(QStringLiteral("/sync")));
            r.timeoutMs = 20000;
            realClockResponse = HttpClient::sendSync(r, &realClockError);
        });
        Clock::setShared(m_clock.get());
        QVERIFY(realClockError.isNull());
        QCOMPARE(realClockResponse.body, QByteArray("sync:"));

        Error mainError;
        HttpClient::sendSync(HttpRequest(m_server->url(QStringLiteral("/sync"))), &mainError);
        QCOMPARE(mainError.code, int(HttpError::UnableToCreateRequest)); // never blocks the UI
    }

    // ---- reachability -----------------------------------------------------------------------

    void systemReachabilityFollowsTheProbe()
    {
        QUrl deadUrl;
        {
            LoopbackServer gone;
            deadUrl = gone.url(QStringLiteral("/ping"));
        }
        Config::shared().setValue(QStringLiteral("reachability.probe_url"), deadUrl.toString());
        SystemReachability reach(m_client.get());
        reach.setRetryIntervalMs(30000);
        QSignalSpy changes(&reach, &Reachability::statusChanged);
        reach.start();
        QTRY_COMPARE(reach.status(), Reachability::NotReachable);
        QCOMPARE(reach.probeCount(), 1);

        // Any HTTP answer counts, even a redirect that is not followed.
        m_server->on("/ping", Answer::redirect(302, "/portal"));
        Config::shared().setValue(QStringLiteral("reachability.probe_url"),
                                  m_server->url(QStringLiteral("/ping")).toString());
        m_clock->advance(29999);
        QCOMPARE(reach.probeCount(), 1);
        m_clock->advance(1);
        QCOMPARE(reach.probeCount(), 2);
        QTRY_VERIFY(reach.isReachable());
        QCOMPARE(m_server->requestCount("/ping"), 1);
        QCOMPARE(m_server->requestCount("/portal"), 0);
        QVERIFY(changes.count() >= 2);
        QCOMPARE(changes.last().at(0).value<Reachability::Status>(), reach.status());

        // Reachable: no further probes on the clock.
        m_clock->advance(300000);
        QCOMPARE(reach.probeCount(), 2);
    }

    void fakeReachabilityIsInstalled()
    {
        FakeReachability fake(Reachability::NotReachable);
        Reachability::setShared(&fake);
        QCOMPARE(Reachability::shared(), &fake);
        QSignalSpy changes(&fake, &Reachability::statusChanged);
        fake.setStatus(Reachability::ReachableViaWWAN);
        fake.setStatus(Reachability::ReachableViaWWAN);
        fake.setStatus(Reachability::ReachableViaWiFi);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(changes.at(0).at(0).value<Reachability::Status>(), Reachability::ReachableViaWWAN);
        QVERIFY(fake.isReachable());
    }
};

QTEST_MAIN(TestNet)
#include "test_net.moc"
