// zrp-sandbox: the embedded network as a program of its own, for manual tries and for tests
// that drive the client binary.

#include "SandboxServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char* argv[])
{
    // Block the stop signals before any server thread exists, so that only sigwait() below
    // receives them and the server can be stopped cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zrp-sandbox"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The embedded ZRP network: catalog, images, remote configuration and analytics collector on "
        "127.0.0.1. Prints its base URL when ready; SIGINT or SIGTERM stops it."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on; 0 picks a free one."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the sample data."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption dataDir(QStringLiteral("data-dir"),
                                     QStringLiteral("Folder for what the server keeps (request journal)."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("A fault order, as JSON or prefix=/path,count=N,status=503 "
                                                  "(also delay_ms=, drop, truncate=, corrupt). Repeatable."),
                                   QStringLiteral("ORDER"));
    const QCommandLineOption maxBody(QStringLiteral("max-body"),
                                     QStringLiteral("Largest request body accepted, in bytes."),
                                     QStringLiteral("BYTES"), QStringLiteral("1048576"));
    const QCommandLineOption credentials(
        QStringLiteral("print-credentials"),
        QStringLiteral("Print the keys and secrets it accepts, as JSON, and exit."));
    parser.addOptions({port, seed, dataDir, fault, maxBody, credentials});
    parser.process(app);

    if (parser.isSet(credentials)) {
        std::fputs(
            QJsonDocument(zrp::SandboxServer::credentials()).toJson(QJsonDocument::Indented).constData(),
            stdout);
        return 0;
    }

    zrp::SandboxOptions options;
    bool ok = false;
    const uint portValue = parser.value(port).toUInt(&ok);
    if (!ok || portValue > 65535) {
        std::fprintf(stderr, "zrp-sandbox: --port must be a number from 0 to 65535\n");
        return 2;
    }
    options.port = quint16(portValue);
    options.seed = parser.value(seed).toULongLong(&ok);
    if (!ok) {
        std::fprintf(stderr, "zrp-sandbox: --seed must be a whole number\n");
        return 2;
    }
    options.maxBodyBytes = parser.value(maxBody).toLongLong(&ok);
    if (!ok || options.maxBodyBytes < 0) {
        std::fprintf(stderr, "zrp-sandbox: --max-body must be a byte count\n");
        return 2;
    }
    options.dataDir = parser.value(dataDir);

    zrp::SandboxServer server(options);
    for (const QString& order : parser.values(fault)) {
        QString error;
        if (!server.addFault(order, &error)) {
            std::fprintf(stderr, "zrp-sandbox: --fault %s: %s\n", qPrintable(order), qPrintable(error));
            return 2;
        }
    }
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "zrp-sandbox: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(server.baseUrl().toString()));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
