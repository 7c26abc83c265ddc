// Cold start of zrp-tablet to its first painted frame (offscreen), measured from outside the
// process: from launching it to the line it prints after the first paint.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = 9;
    std::vector<double> outside, inside;
    for (int i = 0; i < runs; ++i) {
        QTemporaryDir data;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        QElapsedTimer t;
        t.start();
        p.start(QStringLiteral(ZRP_TABLET_BIN),
                {QStringLiteral("--exit-after-first-frame"), QStringLiteral("--data-dir"), data.path()});
        if (!p.waitForFinished(60000) || p.exitCode() != 0) {
            std::printf("run %d failed: %s\n", i, p.readAllStandardError().constData());
            continue;
        }
        outside.push_back(t.nsecsElapsed() / 1e6);
        const QByteArray out = p.readAllStandardOutput();
        const int at = out.indexOf("first-frame-ms ");
        if (at >= 0)
            inside.push_back(out.mid(at + 15).trimmed().toDouble());
    }
    auto median = [](std::vector<double> v) {
        if (v.empty())
            return -1.0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("cold start to first painted frame (offscreen, %d runs): median %.1f ms from launch, "
                "%.1f ms inside the process\n",
                int(outside.size()), median(outside), median(inside));
    return 0;
}
