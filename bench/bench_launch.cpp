// Launch to the Spotlight screen complete (all three groups and the visible thumbnails shown),
// against the in-process embedded network: cold (empty data folder, so an empty cache) and warm
// (the same folder again, so a fresh cache), medians of 5, and the peak memory of those runs.
#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {

double runTour(const QString& dataDir)
{
    QTemporaryDir shots;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ZRP_TABLET_BIN), {QStringLiteral("--tour"), shots.path(), QStringLiteral("--data-dir"), dataDir});
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        std::printf("a tour failed: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    static const QRegularExpression line(QStringLiteral("screen spotlight complete in (\\d+) ms"));
    const auto m = line.match(QString::fromLocal8Bit(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

double median(std::vector<double> v)
{
    std::erase_if(v, [](double x) { return x < 0; });
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<double> cold, warm;
    for (int i = 0; i < 5; ++i) {
        QTemporaryDir data;
        cold.push_back(runTour(data.path()));
        warm.push_back(runTour(data.path()));
    }
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("launch to Spotlight complete: cold median %.0f ms, warm median %.0f ms (5 runs each); "
                "peak memory %.0f MB\n",
                median(cold), median(warm), usage.ru_maxrss / 1024.0);
    return 0;
}
