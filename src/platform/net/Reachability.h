#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

namespace zrp {

class HttpClient;
class HttpTask;
class Timer;

// Whether the network's services can be reached, and over what kind of link.
class Reachability : public QObject
{
    Q_OBJECT
public:
    enum Status
    {
        NotReachable = 0,
        ReachableViaWiFi = 1,
        ReachableViaWWAN = 2
    };
    Q_ENUM(Status)

    Status status() const { return m_status; }
    bool isReachable() const { return m_status != NotReachable; }

    // The process-wide monitor: the installed one, else a SystemReachability started on first
    // use (owned by the application object).
    static Reachability* shared();
    // Installs a monitor (not owned); nullptr goes back to the system one.
    static void setShared(Reachability* reachability);

signals:
    void statusChanged(zrp::Reachability::Status status);

protected:
    explicit Reachability(Status initial, QObject* parent = nullptr) : QObject(parent), m_status(initial) {}
    void updateStatus(Status status); // emits statusChanged on a change only

private:
    Status m_status;
};

// Qt's network information backend (the link and its kind) confirmed by an active probe: a GET
// of the configured "reachability.probe_url", where any HTTP answer means reachable. Qt's
// "online" only means that a default route exists, so the probe has the last word. Without a
// backend (none may be available here) the probe alone decides. The probe runs at start, on
// every change the backend reports, on probe(), and again every retry interval while the
// services are unreachable.
class SystemReachability final : public Reachability
{
    Q_OBJECT
public:
    // client: nullptr means HttpClient::shared(). Until the first probe answers, the status is
    // the backend's view, or reachable when there is no backend: a launch must not claim to
    // be offline before it has looked.
    explicit SystemReachability(HttpClient* client = nullptr, QObject* parent = nullptr);
    ~SystemReachability() override;

    void start();
    void probe();

    bool hasBackend() const { return m_backend; }
    bool isProbing() const;
    int probeCount() const { return m_probeCount; }

    void setProbeTimeoutMs(int ms) { m_probeTimeoutMs = ms; }
    void setRetryIntervalMs(qint64 ms) { m_retryIntervalMs = ms; }

private:
    void onSystemChange();
    void onProbeDone(bool reachable);
    Status linkStatus() const; // what the backend says, before any probe

    QPointer<HttpClient> m_client;
    QPointer<HttpTask> m_probe;
    std::shared_ptr<Timer> m_retry;
    bool m_started = false;
    bool m_backend = false;
    bool m_probeAgain = false;
    int m_probeCount = 0;
    int m_probeTimeoutMs = 10000;
    qint64 m_retryIntervalMs = 30000;
};

// A monitor that tests drive by hand.
class FakeReachability final : public Reachability
{
    Q_OBJECT
public:
    explicit FakeReachability(Status initial = ReachableViaWiFi, QObject* parent = nullptr)
        : Reachability(initial, parent)
    {}
    void setStatus(Status status) { updateStatus(status); }
};

} // namespace zrp
