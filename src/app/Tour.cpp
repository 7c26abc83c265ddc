#include "Tour.h"

#include "ContainerViewController.h"
#include "browse/FeaturedViewController.h"
#include "net/HttpClient.h"

#include <QDir>
#include <QTimer>
#include <cstdio>

namespace {
constexpr int kPollMs = 20;
constexpr qint64 kGiveUpMs = 60000;
} // namespace

Tour::Tour(const QString& directory, const QElapsedTimer& sinceLaunch, QObject* parent)
    : QObject(parent), m_dir(directory), m_launch(sinceLaunch)
{
    m_stops.append({QStringLiteral("spotlight"), {}, [] {
                        auto* featured = qobject_cast<FeaturedViewController*>(
                            ContainerViewController::sharedInstance()->activeController());
                        return featured && !featured->vexoAPI() && featured->primeTimePrograms().has_value();
                    }});
}

void Tour::start()
{
    if (!QDir().mkpath(m_dir)) {
        std::fprintf(stderr, "zrp-tablet: cannot create the tour folder %s\n", qPrintable(m_dir));
        emit finished(1);
        return;
    }
    // Tour timing is wall-clock measurement, so it uses a plain timer and not the product clock.
    m_timer = new QTimer(this);
    m_timer->setInterval(kPollMs);
    connect(m_timer, &QTimer::timeout, this, &Tour::poll);
    next();
}

void Tour::next()
{
    ++m_index;
    if (m_index >= m_stops.size()) {
        m_timer->stop();
        std::printf("tour screenshots in %s\n", qPrintable(QDir(m_dir).absolutePath()));
        std::fflush(stdout);
        emit finished(0);
        return;
    }
    const Stop& stop = m_stops[m_index];
    m_openedAt = stop.open ? m_launch.elapsed() : 0;
    if (stop.open)
        stop.open();
    m_quietPolls = 0;
    m_timer->start();
}

void Tour::poll()
{
    const Stop& stop = m_stops[m_index];
    // Complete: the screen has its data and no image is still on its way (two quiet polls in
    // a row, so that a request started by the last answer is seen).
    const bool ready = stop.complete() && zrp::HttpClient::shared().requestsInFlight() == 0;
    m_quietPolls = ready ? m_quietPolls + 1 : 0;
    if (m_quietPolls < 2) {
        if (m_launch.elapsed() - m_openedAt > kGiveUpMs) {
            m_timer->stop();
            std::fprintf(stderr, "zrp-tablet: the %s screen did not complete within %lld s\n",
                         qPrintable(stop.name), kGiveUpMs / 1000);
            save(stop.name);
            emit finished(1);
        }
        return;
    }
    m_timer->stop();
    const qint64 ms = m_launch.elapsed() - m_openedAt - kPollMs;
    std::printf("screen %s complete in %lld ms\n", qPrintable(stop.name), std::max<qint64>(0, ms));
    std::fflush(stdout);
    if (!save(stop.name)) {
        emit finished(1);
        return;
    }
    next();
}

bool Tour::save(const QString& name)
{
    QWidget* window = ContainerViewController::sharedInstance()->view()->window();
    const QString file =
        QDir(m_dir).filePath(QStringLiteral("%1-%2.png").arg(m_index + 1, 2, 10, QLatin1Char('0')).arg(name));
    if (!window->grab().save(file)) {
        std::fprintf(stderr, "zrp-tablet: cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}
