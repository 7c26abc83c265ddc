#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <memory>

namespace zrp {

struct SandboxOptions
{
    quint64 seed = 1;              // the same seed gives the same sample data
    QString dataDir;               // where the server keeps what it persists; empty: nothing
    quint16 port = 0;              // 0: any free port
    qint64 maxBodyBytes = 1 << 20; // larger request bodies are refused with 413
    int maxThreads = 128;          // connections beyond this many wait their turn
};

// The embedded network: one HTTP server on 127.0.0.1 that stands in for every service the client
// calls. Start and stop it from any one thread (the client's main thread); it serves on threads
// of its own.
//
//   /vexo/v1/                      the catalog (programs/, videos/, groups/), signed requests only
//   /images/                       catalog pictures, rendered on request
//   /station-images/ipad/<CS>.png  station logos
//   /config/ipad-conf.plist        the remote configuration file
//   /collect                       the analytics collector
//   /push/                         the push registration service (register/, new/)
//   /audience/beacon               audience-measurement beacons
//   /survey/                       survey eligibility and the survey pages
//   /_sandbox/                     ping, request log, reset, faults, config, analytics, audience,
//                                  survey, credentials, push notifications and registrations
class SandboxServer
{
public:
    explicit SandboxServer(SandboxOptions options = {});
    ~SandboxServer();
    SandboxServer(const SandboxServer&) = delete;
    SandboxServer& operator=(const SandboxServer&) = delete;

    bool start(QString* error = nullptr);
    void stop(); // returns once every server thread has ended; also done by the destructor
    bool isRunning() const;

    QUrl baseUrl() const; // "http://127.0.0.1:<port>", no trailing slash
    quint16 port() const;

    // A fault order as JSON or "prefix=/vexo/v1/,count=2,status=503" (see POST /_sandbox/faults).
    bool addFault(const QString& order, QString* error = nullptr);

    // Every key and secret the services accept, as `zrp-sandbox --print-credentials` prints them.
    static QJsonObject credentials();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace zrp
