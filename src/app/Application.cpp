#include "Application.h"

#include "SandboxServer.h"
#include "SingleInstance.h"
#include "StartupOptions.h"
#include "Tour.h"
#include "ZRPiPadAppDelegate.h"
#include "core/Config.h"
#include "core/Device.h"
#include "core/RunLoop.h"
#include "web/WebPanel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <clocale>
#include <cstdio>
#include <memory>

namespace {

QElapsedTimer& processClock()
{
    static QElapsedTimer t;
    return t;
}

void printLine(FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

// Quits once the window has painted its first frame, printing how long that took.
class FirstFrameProbe : public QObject
{
public:
    explicit FirstFrameProbe(QWidget* window) : m_window(window) {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* w = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Paint && !m_seen && w && w->window() == m_window) {
            m_seen = true;
            const qint64 ms = processClock().elapsed();
            QTimer::singleShot(0, qApp, [ms] {
                printLine(stdout, QStringLiteral("first-frame-ms %1").arg(ms));
                qApp->quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_window;
    bool m_seen = false;
};

} // namespace

int zrpMain(int argc, char** argv)
{
    processClock().start();
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    const StartupOptions options = StartupOptions::parse(arguments);
    switch (options.action) {
    case StartupOptions::Action::PrintHelp:
        printLine(stdout, StartupOptions::helpText());
        return 0;
    case StartupOptions::Action::PrintVersion:
        printLine(stdout, StartupOptions::versionText());
        return 0;
    case StartupOptions::Action::Fail:
        printLine(stderr, QStringLiteral("zrp-tablet: %1").arg(options.error));
        return 2;
    case StartupOptions::Action::Run:
        break;
    }

    QApplication::setApplicationName(zrp::Bundle::name());
    QApplication::setApplicationVersion(zrp::Bundle::version());
    QApplication::setOrganizationDomain(QStringLiteral("zrp.example"));
    zrp::ui::prepareWebEngine();
    QApplication app(argc, argv);
    // The media library parses numbers with the C locale; Qt has just set the user's.
    std::setlocale(LC_NUMERIC, "C");

    zrp::Config& config = zrp::Config::shared();
    if (!options.dataDir.isEmpty())
        config.setDataDir(options.dataDir);
    if (!options.configFile.isEmpty()) {
        zrp::Error error;
        if (!config.loadIni(options.configFile, &error)) {
            printLine(stderr, QStringLiteral("zrp-tablet: %1").arg(error.message()));
            return 2;
        }
    } else if (!options.sandboxURL.isEmpty()) {
        const QUrl url(options.sandboxURL);
        if (!url.isValid() || url.scheme() != QLatin1String("http")) {
            printLine(stderr, QStringLiteral("zrp-tablet: %1 is not an http URL.").arg(options.sandboxURL));
            return 2;
        }
        config.rebindToSandbox(url);
    }
    // A client already running on this data folder takes the links and comes forward. A tour
    // or a start-up measurement always runs on its own.
    SingleInstance instance(config.dataDir());
    const bool exclusive = options.tourDir.isEmpty() && !options.exitAfterFirstFrame;
    if (exclusive && instance.forwardToRunningInstance(options.links)) {
        printLine(stdout, QStringLiteral("zrp-tablet is already running; handed over to it."));
        return 0;
    }
    std::unique_ptr<zrp::SandboxServer> embedded;
    if (options.configFile.isEmpty() && options.sandboxURL.isEmpty()) {
        // No deployment named: the embedded network serves every service on a free loopback port.
        zrp::SandboxOptions sandboxOptions;
        sandboxOptions.dataDir = config.dataDir() + QStringLiteral("/sandbox");
        // The same port as last time when it is free, so that cached answers (keyed by URL)
        // still serve after a restart.
        QFile portFile(sandboxOptions.dataDir + QStringLiteral("/port"));
        if (portFile.open(QIODevice::ReadOnly))
            sandboxOptions.port = quint16(portFile.readAll().trimmed().toUInt());
        portFile.close();
        embedded = std::make_unique<zrp::SandboxServer>(sandboxOptions);
        QString error;
        if (sandboxOptions.port != 0 && !embedded->start(&error)) {
            sandboxOptions.port = 0;
            embedded = std::make_unique<zrp::SandboxServer>(sandboxOptions);
        }
        if (!embedded->isRunning() && !embedded->start(&error)) {
            printLine(stderr,
                      QStringLiteral("zrp-tablet: the embedded network did not start: %1").arg(error));
            return 1;
        }
        config.rebindToSandbox(embedded->baseUrl());
        if (QDir().mkpath(sandboxOptions.dataDir) &&
            portFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            portFile.write(QByteArray::number(embedded->port()));
    }
    for (const QString& dir : {config.dataDir(), config.cacheDir()}) {
        if (!QDir().mkpath(dir)) {
            printLine(stderr, QStringLiteral("zrp-tablet: cannot create the folder %1.").arg(dir));
            return 1;
        }
    }

    // The tour shows the screens themselves: a first launch's rating and survey questions
    // would stand in front of every one of them.
    if (!options.tourDir.isEmpty()) {
        config.setValue(QStringLiteral("rating.enabled"), QStringLiteral("false"));
        config.setValue(QStringLiteral("survey.enabled"), QStringLiteral("false"));
    }

    int rc = 0;
    {
        ZRPiPadAppDelegate delegate;
        delegate.didFinishLaunchingWithOptions();
        // Any widget of the window painting counts: the hub's opaque view covers the window.
        FirstFrameProbe probe(delegate.window());
        if (exclusive) {
            QPointer<QWidget> window = delegate.window();
            const bool listening =
                instance.listen([&delegate](const QString& link) { delegate.handleOpenURL(link); },
                                [window] {
                                    if (window) {
                                        window->showNormal();
                                        window->raise();
                                        window->activateWindow();
                                    }
                                });
            // Without the channel this client still works; later launches just start their own.
            if (!listening)
                qWarning("zrp-tablet: cannot take links from later launches (%s)",
                         qPrintable(instance.serverName()));
        }
        // Links given on the command line arrive the way the platform would deliver them.
        for (const QString& link : options.links)
            zrp::RunLoop::post([&delegate, link] { delegate.handleOpenURL(link); });
        if (options.exitAfterFirstFrame)
            app.installEventFilter(&probe);
        std::unique_ptr<Tour> tour;
        if (!options.tourDir.isEmpty()) {
            tour = std::make_unique<Tour>(options.tourDir, processClock());
            QObject::connect(tour.get(), &Tour::finished, &app,
                             [](int code) { QCoreApplication::exit(code); });
            tour->start();
        }
        rc = app.exec();
    }
    return rc;
}
