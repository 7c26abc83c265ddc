#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// The executable's contract with a newcomer and with scripts: it answers --version and --help,
// refuses bad options with a message, and starts through its real start-up path.
class TestE2EApp : public QObject
{
    Q_OBJECT

    struct Run
    {
        int exitCode = -1;
        QString out;
        QString err;
    };

    static Run run(const QStringList& args, int timeoutMs = 60000)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZRP_TABLET_BIN), args);
        Run r;
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            r.err = QStringLiteral("timed out");
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

private slots:
    void answersWithoutADisplay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("stdoutHas");
        QTest::addColumn<QString>("stderrHas");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "zrp-tablet 1."
                                 << "";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--data-dir"
                              << "";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << ""
                                        << "Unknown option --frobnicate";
        QTest::newRow("missing value") << QStringList{"--config"} << 2 << ""
                                       << "--config needs a file name";
        QTest::newRow("bad sandbox url")
            << QStringList{"--sandbox", "ftp://x", "-platform", "offscreen"} << 2 << ""
            << "is not an http URL";
        QTest::newRow("missing config")
            << QStringList{"--config", "/nonexistent/zrp.ini", "-platform", "offscreen"} << 2 << ""
            << "does not exist";
    }

    void answersWithoutADisplay()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, stdoutHas);
        QFETCH(QString, stderrHas);
        const Run r = run(args);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.out.contains(stdoutHas), qPrintable(r.out));
        QVERIFY2(r.err.contains(stderrHas), qPrintable(r.err));
    }

    void startsAndPaintsItsFirstFrame()
    {
        QTemporaryDir data;
        const Run r = run({"--exit-after-first-frame", "--data-dir", data.path(), "-platform", "offscreen"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(QStringLiteral("first-frame-ms ")), qPrintable(r.out));
    }

    void tourShowsSpotlightFromTheEmbeddedNetwork()
    {
        QTemporaryDir data;
        QTemporaryDir shots;
        const Run r =
            run({"--tour", shots.path(), "--data-dir", data.path(), "-platform", "offscreen"}, 120000);
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral("screen spotlight complete in \\d+ ms"))),
                 qPrintable(r.out));
        QImage shot(shots.filePath(QStringLiteral("01-spotlight.png")));
        QCOMPARE(shot.size(), QSize(1024, 768));
    }

    void secondLaunchHandsItsLinkToTheRunningClient()
    {
        QTemporaryDir data;
        QProcess first;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        first.setProcessEnvironment(env);
        first.start(QStringLiteral(ZRP_TABLET_BIN), {"--data-dir", data.path()});
        QVERIFY(first.waitForStarted());
        // The first client is up once its embedded network has written its port.
        QFile portFile(data.filePath(QStringLiteral("sandbox/port")));
        QTRY_VERIFY_WITH_TIMEOUT(portFile.exists() && portFile.size() > 0, 30000);
        QVERIFY(portFile.open(QIODevice::ReadOnly));
        const QByteArray port = portFile.readAll().trimmed();

        Run second;
        QTRY_VERIFY_WITH_TIMEOUT((second = run({"--data-dir", data.path(), "zrptv://video/424242"}),
                                  second.out.contains(QStringLiteral("already running"))),
                                 30000);
        QCOMPARE(second.exitCode, 0);

        // The running client looked the video up in its own embedded network.
        bool seen = false;
        for (int i = 0; i < 100 && !seen; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port.toUInt()));
            if (socket.waitForConnected(2000)) {
                socket.write("GET /_sandbox/requests?since=0 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: "
                             "close\r\n\r\n");
                QByteArray reply;
                while (socket.waitForReadyRead(2000))
                    reply += socket.readAll();
                seen = reply.contains("filter_tp_media_object_id=424242");
            }
            if (!seen)
                QTest::qWait(100);
        }
        first.terminate();
        first.waitForFinished(10000);
        QVERIFY(seen);
    }
};

QTEST_GUILESS_MAIN(TestE2EApp)
#include "test_e2e_app.moc"
