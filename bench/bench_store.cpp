// Durable writes and reads of the key-value store: median and 90th percentile of one write of a
// 100 KB value (committed, fsynced) and of one read of it, with 10,000 keys already stored.
// Small values for comparison with the settings the application mostly writes, and the cost
// of opening such a store.
#include "store/KeyValueStore.h"

#include <QCborMap>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using zrp::KeyValueStore;

namespace {

struct Figures
{
    double median = -1;
    double p90 = -1;
};

// Milliseconds per call; a failed call is reported and left out.
Figures measure(int runs, const std::function<bool(int)>& call)
{
    std::vector<double> ms;
    ms.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const bool ok = call(i);
        const double elapsed = t.nsecsElapsed() / 1e6;
        if (!ok) {
            std::printf("  call %d failed\n", i);
            continue;
        }
        ms.push_back(elapsed);
    }
    Figures f;
    if (ms.empty())
        return f;
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.p90 = ms[std::min(ms.size() - 1, ms.size() * 9 / 10)];
    return f;
}

void print(const char* what, int runs, Figures f)
{
    std::printf("%-44s median %8.3f ms   p90 %8.3f ms   (%d runs)\n", what, f.median, f.p90, runs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    KeyValueStore store(dir.filePath(QStringLiteral("settings.sqlite")));
    if (!store.isOpen()) {
        std::printf("cannot open the store: %s\n", qPrintable(store.openError().description()));
        return 0;
    }

    // 10,000 keys of settings-sized values, in batches.
    constexpr int existing = 10000;
    for (int batch = 0; batch < existing / 500; ++batch) {
        QList<std::pair<QString, QCborValue>> rows;
        for (int i = batch * 500; i < (batch + 1) * 500; ++i)
            rows.append(
                {QStringLiteral("fill.%1").arg(i, 5, 10, QLatin1Char('0')),
                 QCborMap{{QStringLiteral("resource_uri"), QStringLiteral("/vexo/v1/program/%1/").arg(i)},
                          {QStringLiteral("title"), QStringLiteral("Program number %1").arg(i)},
                          {QStringLiteral("seek_time"), i}}});
        if (!store.setValues(rows)) {
            std::printf("cannot fill the store\n");
            return 0;
        }
    }
    std::printf("store holds %lld keys\n", qint64(store.keys().size()));

    QByteArray big(100 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 131) ^ (i >> 7));

    // Ten keys in turn, so each write replaces a value of the same size as in real use.
    constexpr int writes = 101;
    print("durable write, 100 KB value", writes, measure(writes, [&](int i) {
              big[0] = char(i);
              return store.setValue(QStringLiteral("big.%1").arg(i % 10), big);
          }));

    constexpr int reads = 301;
    print("read, 100 KB value", reads, measure(reads, [&](int i) {
              const auto v = store.value(QStringLiteral("big.%1").arg(i % 10));
              return v && v->toByteArray().size() == big.size();
          }));

    print("durable write, small value", writes, measure(writes, [&](int i) {
              return store.setValue(QStringLiteral("SelectedZip"),
                                    QStringLiteral("9%1").arg(i, 4, 10, QLatin1Char('0')));
          }));
    print("read, small value", reads, measure(reads, [&](int i) {
              return store.value(QStringLiteral("fill.%1").arg((i * 37) % existing, 5, 10, QLatin1Char('0')))
                  .has_value();
          }));

    // Opening runs the integrity check; this is what a launch pays with a store this size.
    const QString path = store.path();
    constexpr int opens = 9;
    print("open with integrity check (10,000 keys)", opens, measure(opens, [&](int) {
              KeyValueStore again(path);
              return again.isOpen() && again.movedAsidePath().isEmpty();
          }));
    return 0;
}
