#include "Reachability.h"

#include "core/Clock.h"
#include "core/Config.h"
#include "net/HttpClient.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QNetworkInformation>

namespace zrp {

Q_LOGGING_CATEGORY(lcReach, "zrp.net.reachability")

namespace {
QPointer<Reachability> g_installed;
QPointer<Reachability> g_system;
} // namespace

Reachability* Reachability::shared()
{
    if (g_installed)
        return g_installed;
    if (!g_system) {
        auto* system = new SystemReachability(nullptr, QCoreApplication::instance());
        g_system = system;
        system->start();
    }
    return g_system;
}

void Reachability::setShared(Reachability* reachability)
{
    g_installed = reachability;
}

void Reachability::updateStatus(Status status)
{
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged(status);
}

SystemReachability::SystemReachability(HttpClient* client, QObject* parent)
    : Reachability(ReachableViaWiFi, parent), m_client(client)
{}

SystemReachability::~SystemReachability()
{
    if (m_retry)
        m_retry->invalidate();
    if (m_probe)
        m_probe->cancel();
}

void SystemReachability::start()
{
    if (m_started)
        return;
    m_started = true;
    m_backend = QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    if (m_backend) {
        QNetworkInformation* info = QNetworkInformation::instance();
        connect(info, &QNetworkInformation::reachabilityChanged, this, &SystemReachability::onSystemChange);
        connect(info, &QNetworkInformation::transportMediumChanged, this,
                &SystemReachability::onSystemChange);
        qCDebug(lcReach) << "backend" << info->backendName();
    } else {
        qCDebug(lcReach) << "no network information backend; the probe alone decides";
    }
    updateStatus(linkStatus());
    probe();
}

Reachability::Status SystemReachability::linkStatus() const
{
    QNetworkInformation* info = m_backend ? QNetworkInformation::instance() : nullptr;
    if (!info)
        return ReachableViaWiFi;
    if (info->reachability() == QNetworkInformation::Reachability::Disconnected)
        return NotReachable;
    return info->transportMedium() == QNetworkInformation::TransportMedium::Cellular ? ReachableViaWWAN
                                                                                     : ReachableViaWiFi;
}

bool SystemReachability::isProbing() const
{
    return m_probe && !m_probe->isFinished();
}

void SystemReachability::onSystemChange()
{
    // A lost link is believed at once; a regained one only once the probe confirms it.
    if (linkStatus() == NotReachable)
        updateStatus(NotReachable);
    probe();
}

void SystemReachability::probe()
{
    if (m_retry) {
        m_retry->invalidate();
        m_retry.reset();
    }
    if (isProbing()) {
        m_probeAgain = true; // the answer under way may predate the change
        return;
    }
    const QUrl url = Config::shared().url(QStringLiteral("reachability.probe_url"));
    if (!url.isValid() || url.isEmpty()) {
        updateStatus(linkStatus());
        return;
    }
    HttpClient* client = m_client ? m_client.data() : &HttpClient::shared();
    HttpRequest r(url);
    r.timeoutMs = m_probeTimeoutMs;
    r.cachePolicy = CachePolicy::NeverStore;
    r.redirectPolicy = RedirectPolicy::Refuse;
    r.maxBodyBytes = 64 * 1024;
    ++m_probeCount;
    QPointer<SystemReachability> self(this);
    m_probe = client->send(r, [self](const HttpResponse& response, const Error& error) {
        if (!self)
            return;
        // Any HTTP answer proves the path works, whatever it says.
        const bool answered = response.status > 0 || error.code == HttpError::RedirectRefused ||
                              error.code == HttpError::ResponseTooLarge;
        self->onProbeDone(answered);
    });
}

void SystemReachability::onProbeDone(bool reachable)
{
    m_probe = nullptr;
    if (m_probeAgain) {
        m_probeAgain = false;
        probe();
        return;
    }
    if (reachable) {
        const Status link = linkStatus();
        updateStatus(link == NotReachable ? ReachableViaWiFi : link);
        return;
    }
    updateStatus(NotReachable);
    if (m_retryIntervalMs > 0) {
        QPointer<SystemReachability> self(this);
        m_retry = Clock::shared()->schedule(
            m_retryIntervalMs, false,
            [self] {
                if (self)
                    self->probe();
            },
            this);
    }
}

} // namespace zrp
