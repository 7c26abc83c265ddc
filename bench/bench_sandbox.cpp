// The embedded network under load: requests per second of a signed programs/ query over
// loopback, from one client and from 8 concurrent clients, each request freshly signed; and
// the start-up time of zrp-sandbox from launch to its printed URL. Prints figures; never fails.
#include "SandboxServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QUuid>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

const QByteArray kKey = "ZRPIPAD-6B1F0C52-3E4A-4D8B-9F27-1C5E8A0D7B34";
const QByteArray kSecret = "A9C3E1F7-52B8-4D06-8E4F-3B7D2A6C9E10";

// One signed GET of `target` (already escaped and sorted as the client sends it).
bool signedGet(httplib::Client& client, const QByteArray& base, const QByteArray& target, size_t* bytes)
{
    const QByteArray ts = QByteArray::number(QDateTime::currentSecsSinceEpoch());
    const QByteArray nonce = QUuid::createUuid().toByteArray(QUuid::WithoutBraces).toUpper();
    const QByteArray signature = QMessageAuthenticationCode::hash("GET" + base + target + ts + kKey + nonce,
                                                                  kSecret, QCryptographicHash::Sha1)
                                     .toHex();
    const httplib::Headers headers = {{"X-ZRPAuth-Timestamp", ts.toStdString()},
                                      {"X-ZRPAuth-Nonce", nonce.toStdString()},
                                      {"X-ZRPAuth-Consumer-Key", kKey.toStdString()},
                                      {"X-ZRPAuth-Signature", signature.toStdString()}};
    const auto result = client.Get(target.toStdString(), headers);
    if (!result || result->status != 200)
        return false;
    *bytes = result->body.size();
    return true;
}

std::atomic<int> g_nextDistinct{1000};

struct Run
{
    double seconds = 0;
    int requests = 0;
    int failures = 0;
    size_t bytes = 0;
};

// `clients` threads, each on its own kept-alive connection, each sending `perClient` requests.
// With distinct, every query is new to the server (no answer to reuse).
Run load(quint16 port, const QByteArray& base, int clients, int perClient, bool distinct)
{
    std::atomic<int> failures{0};
    std::atomic<size_t> bytes{0};
    std::vector<std::thread> threads;
    QElapsedTimer timer;
    timer.start();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            for (int i = 0; i < perClient; ++i) {
                QByteArray target =
                    "/vexo/v1/programs/?fields=associated_images%2Cproducer&filter_producer__name=ZRP";
                if (distinct)
                    target += "&limit=" + QByteArray::number(g_nextDistinct++);
                size_t n = 0;
                if (!signedGet(client, base, target, &n))
                    ++failures;
                bytes = n;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    return Run{double(timer.nsecsElapsed()) / 1e9, clients * perClient, failures.load(), bytes.load()};
}

void report(const char* what, const Run& r)
{
    std::printf("%-46s %8.0f requests/s  (%d requests, %d failed, %zu-byte answer)\n", what,
                double(r.requests) / r.seconds, r.requests, r.failures, r.bytes);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::max(80, atoi(argv[1])) : 4000;

    zrp::SandboxServer server;
    QString error;
    if (!server.start(&error)) {
        std::printf("cannot start the sandbox: %s\n", qPrintable(error));
        return 0;
    }
    const QByteArray base = server.baseUrl().toString().toLatin1();
    load(server.port(), base, 1, 50, false); // warm-up: the first answer is built and kept

    report("signed programs/ query, 1 client", load(server.port(), base, 1, total, false));
    report("signed programs/ query, 8 concurrent clients", load(server.port(), base, 8, total / 8, false));
    report("new query each time, 1 client", load(server.port(), base, 1, total / 4, true));
    report("new query each time, 8 concurrent clients", load(server.port(), base, 8, total / 32, true));
    server.stop();

    // In-process start (sample data generated, port bound, serving) and stop.
    std::vector<double> startMs, stopMs;
    for (int i = 0; i < 5; ++i) {
        zrp::SandboxServer s;
        QElapsedTimer t;
        t.start();
        s.start();
        startMs.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        s.stop();
        stopMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("%-46s %8.1f ms median (start), %.1f ms (stop)\n", "in-process SandboxServer",
                median(startMs), median(stopMs));

    // The executable: launch to the printed URL.
    std::vector<double> launchMs;
    for (int i = 0; i < 5; ++i) {
        QProcess process;
        QElapsedTimer t;
        t.start();
        process.start(QStringLiteral(ZRP_SANDBOX_EXE), QStringList());
        while (process.waitForReadyRead(10000) && !process.canReadLine()) {
        }
        const QByteArray line = process.readLine();
        if (line.startsWith("http://"))
            launchMs.push_back(double(t.nsecsElapsed()) / 1e6);
        process.terminate();
        process.waitForFinished(10000);
    }
    std::printf("%-46s %8.1f ms median (n=%zu)\n", "zrp-sandbox launch to printed URL", median(launchMs),
                launchMs.size());
    return 0;
}
