// The catalog client's own costs: turning a 1000-video "videos/" answer into records, next to
// the bare JSON parse of the same bytes; and a second identical request within the hour, which
// the shared download cache answers without a request. Prints figures; never fails.
#include "SandboxServer.h"
#include "catalog/VEXOClientAPI.h"
#include "core/Config.h"
#include "net/DownloadCache.h"
#include "net/HttpClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zrp;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Runs the main loop until done() or 30 s.
template <typename Done> void waitFor(Done done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

HttpResponse get(const HttpRequest& request)
{
    HttpResponse out;
    bool done = false;
    HttpClient::shared().send(request, [&](const HttpResponse& r, const Error&) {
        out = r;
        done = true;
    });
    waitFor([&] { return done; });
    return out;
}

int catalogRequestsLogged(const SandboxServer& sandbox)
{
    const HttpResponse r = get(HttpRequest(
        QUrl(sandbox.baseUrl().toString() + QStringLiteral("/_sandbox/requests?prefix=/vexo/v1/"))));
    return int(QJsonDocument::fromJson(r.body).object().value(QLatin1String("requests")).toArray().size());
}

struct Counter : VEXOClientAPIDelegate
{
    int calls = 0;
    qsizetype records = 0;
    void didFindResults(const QString&, const VEXOResults& results) override
    {
        ++calls;
        records = results.size();
    }
    void didFail(const QString&, const Error&) override { ++calls; }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    SandboxServer sandbox;
    QString error;
    if (!dir.isValid() || !sandbox.start(&error)) {
        std::printf("bench_catalog: no embedded network (%s)\n", qPrintable(error));
        return 0;
    }
    Config::shared().rebindToSandbox(sandbox.baseUrl());
    DownloadCache cache(dir.filePath(QStringLiteral("http-cache")));
    HttpClient::shared().setCache(&cache);
    VEXOClientAPI keys; // picks the key pair

    // ---- parse: 1000 videos as the service sends them ----
    const QString url =
        VEXOClientAPI::baseURL() +
        QStringLiteral("videos/?fields=mediafiles,associated_images,program__associated_images,producer"
                       "&filter_mediafile_set__video_encoding__mime_type=application/x-mpegURL&limit=1000");
    const HttpRequest request =
        VEXOClientAPI::requestSignedWithURL(url, VEXOClientAPI::consumerKey(), VEXOClientAPI::secretKey());
    const HttpResponse answer = get(request);
    const qsizetype videos =
        QJsonDocument::fromJson(answer.body).object().value(QLatin1String("results")).toArray().size();
    if (answer.status != 200 || videos == 0) {
        std::printf("bench_catalog: videos/ answered %d with %lld videos\n", answer.status,
                    (long long)videos);
        return 0;
    }

    constexpr int kRuns = 21;
    std::vector<double> bare, full;
    Counter counter;
    for (int i = 0; i < kRuns; ++i) {
        // Both sides pay for freeing what they parsed: the bare parse its document, the handler
        // its document and its records.
        QElapsedTimer t;
        t.start();
        qsizetype n = 0;
        {
            const QJsonDocument doc = QJsonDocument::fromJson(answer.body);
            n = doc.object().value(QLatin1String("results")).toArray().size();
        }
        bare.push_back(t.nsecsElapsed() / 1e6);
        if (n != videos)
            return 0;

        VEXOAPIEpisodeDelegate handler(VEXODelegateRef(&counter), QStringLiteral("bench"), nullptr);
        t.restart();
        handler.requestFinished(request, answer);
        full.push_back(t.nsecsElapsed() / 1e6);
    }
    const double bareMs = median(bare), fullMs = median(full);
    std::printf("catalog parse: %lld videos, %.2f MB, %lld records\n", (long long)videos,
                answer.body.size() / 1e6, (long long)counter.records);
    std::printf("  bare QJsonDocument parse        median %8.2f ms\n", bareMs);
    std::printf("  answer into VEXOEpisode records median %8.2f ms\n", fullMs);
    std::printf("  ratio records / bare parse            %6.2fx\n", fullMs / bareMs);

    // ---- the same request again within the hour ----
    Counter first, second;
    VEXOClientAPI a, b;
    a.setDelegate(&first);
    b.setDelegate(&second);
    const int before = catalogRequestsLogged(sandbox);
    QElapsedTimer t;
    t.start();
    a.getEpisodesByGroup(QStringLiteral("ipad_primetime"), QStringLiteral("first"));
    waitFor([&] { return first.calls > 0; });
    const double firstMs = t.nsecsElapsed() / 1e6;
    const int afterFirst = catalogRequestsLogged(sandbox);
    t.restart();
    b.getEpisodesByGroup(QStringLiteral("ipad_primetime"), QStringLiteral("second"));
    waitFor([&] { return second.calls > 0; });
    const double secondMs = t.nsecsElapsed() / 1e6;
    const int afterSecond = catalogRequestsLogged(sandbox);
    std::printf("catalog cache: group of %lld videos\n", (long long)first.records);
    std::printf("  first request   %8.2f ms, %d request(s) to the service\n", firstMs, afterFirst - before);
    std::printf("  same, within the hour %8.2f ms, %d request(s) to the service\n", secondMs,
                afterSecond - afterFirst);

    HttpClient::shared().setCache(nullptr);
    return 0;
}
