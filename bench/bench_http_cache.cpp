// Time to serve a fresh 50 KB answer from the download cache (no network) against fetching it
// from a loopback server. Prints medians; never fails.
#include "LoopbackServer.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zrp;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[std::min(v.size() - 1, size_t(double(v.size()) * p))];
}

// Microseconds from send() to the callback.
double timedSend(HttpClient& client, const HttpRequest& request, bool* fromCache, bool* ok)
{
    QEventLoop loop;
    QElapsedTimer t;
    t.start();
    double us = 0;
    client.send(request, [&](const HttpResponse& r, const Error& e) {
        us = double(t.nsecsElapsed()) / 1000.0;
        *fromCache = r.fromCache;
        *ok = !e && r.status == 200 && r.body.size() == 50 * 1024;
        loop.quit();
    });
    loop.exec();
    return us;
}

void report(const char* what, const std::vector<double>& samples)
{
    std::printf("%-34s median %9.1f us   p90 %9.1f us   (n=%zu)\n", what, median(samples),
                percentile(samples, 0.9), samples.size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 300;

    QByteArray body(50 * 1024, Qt::Uninitialized);
    for (char& c : body)
        c = char(QRandomGenerator::global()->bounded(256));

    test::LoopbackServer server;
    test::LoopbackServer::Answer answer(200, body);
    answer.header("ETag", "\"bench\"");
    server.on("/bench", answer);

    QTemporaryDir dir;
    DownloadCache cache(dir.path() + QStringLiteral("/http-cache"));
    HttpClient client;
    client.setCache(&cache);

    HttpRequest cached(server.url(QStringLiteral("/bench")));
    cached.cachePolicy = CachePolicy::UseCache;
    cached.maxAgeSeconds = 3600;
    HttpRequest network = cached;
    network.cachePolicy = CachePolicy::NeverStore;

    bool fromCache = false, ok = false;
    timedSend(client, cached, &fromCache, &ok);  // stores the entry
    timedSend(client, network, &fromCache, &ok); // opens the connection
    const int requestsBefore = server.requestCount();

    std::vector<double> cacheSamples, lookupSamples, networkSamples;
    int failures = 0, misses = 0;
    for (int i = 0; i < rounds; ++i) {
        cacheSamples.push_back(timedSend(client, cached, &fromCache, &ok));
        failures += ok ? 0 : 1;
        misses += fromCache ? 0 : 1;

        QElapsedTimer t;
        t.start();
        const auto entry = cache.lookup(cached.url);
        lookupSamples.push_back(double(t.nsecsElapsed()) / 1000.0);
        failures += entry && entry->response.body == body ? 0 : 1;

        networkSamples.push_back(timedSend(client, network, &fromCache, &ok));
        failures += ok ? 0 : 1;
    }

    std::printf("bench_http_cache: 50 KB answer, %d rounds\n", rounds);
    report("fresh from the download cache", cacheSamples);
    report("  of which DownloadCache::lookup", lookupSamples);
    report("loopback fetch (no cache)", networkSamples);
    std::printf("network requests during the cached runs: %d (expected %d)\n",
                server.requestCount() - requestsBefore - rounds, 0);
    std::printf("cache misses: %d, failed answers: %d\n", misses, failures);
    return 0;
}
