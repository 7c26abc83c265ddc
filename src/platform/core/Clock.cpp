#include "Clock.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace zrp {

namespace {
std::atomic<Clock*> g_clock{nullptr};
}

Clock* Clock::shared()
{
    Clock* c = g_clock.load(std::memory_order_acquire);
    return c ? c : RealClock::instance();
}

void Clock::setShared(Clock* clock)
{
    g_clock.store(clock, std::memory_order_release);
}

std::shared_ptr<Timer> Timer::scheduled(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                        QObject* context)
{
    return Clock::shared()->schedule(intervalMs, repeats, std::move(fn), context);
}

// ---- real clock ------------------------------------------------------------------------------

namespace {

class RealTimer final : public Timer, public std::enable_shared_from_this<RealTimer>
{
public:
    RealTimer(qint64 ms, bool repeats, std::function<void()> fn, QObject* context)
        : Timer(ms, repeats), m_fn(std::move(fn)), m_context(context), m_hasContext(context != nullptr)
    {}

    void start()
    {
        m_qtimer = new QTimer();
        // Parented to its context when it can be, so the timer dies with the object it serves.
        if (m_context && m_context->thread() == QThread::currentThread())
            m_qtimer->setParent(m_context);
        m_qtimer->setTimerType(Qt::PreciseTimer);
        m_qtimer->setSingleShot(!m_repeats);
        m_qtimer->setInterval(int(std::clamp<qint64>(m_intervalMs, 0, INT_MAX)));
        // The QTimer's slot holds the timer alive while it is scheduled.
        auto self = shared_from_this();
        QObject::connect(m_qtimer, &QTimer::timeout, m_qtimer, [self]() { self->fire(); });
        m_qtimer->start();
    }

    ~RealTimer() override = default;

    void invalidate() override
    {
        if (!m_valid)
            return;
        m_valid = false;
        if (m_qtimer) {
            m_qtimer->stop();
            // Deleting later breaks the self-reference held by the connection.
            m_qtimer->deleteLater();
            m_qtimer = nullptr;
        }
    }

    bool isValid() const override { return m_valid; }

private:
    void fire()
    {
        if (!m_valid)
            return;
        if (m_hasContext && !m_context) {
            invalidate();
            return;
        }
        auto keep = shared_from_this();
        if (!m_repeats)
            invalidate();
        m_fn();
    }

    std::function<void()> m_fn;
    QPointer<QObject> m_context;
    bool m_hasContext;
    bool m_valid = true;
    QPointer<QTimer> m_qtimer;
};

} // namespace

RealClock* RealClock::instance()
{
    static RealClock clock;
    return &clock;
}

QDateTime RealClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

qint64 RealClock::monotonicMs() const
{
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t.elapsed();
}

std::shared_ptr<Timer> RealClock::schedule(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                           QObject* context)
{
    auto t = std::make_shared<RealTimer>(intervalMs, repeats, std::move(fn), context);
    t->start();
    return t;
}

// ---- virtual clock ---------------------------------------------------------------------------

class VirtualClock::VTimer final : public Timer
{
public:
    VTimer(VirtualClock* clock, qint64 ms, bool repeats, std::function<void()> fn, QObject* context)
        : Timer(ms, repeats), m_clock(clock), m_fn(std::move(fn)), m_context(context), m_hasContext(context)
    {}
    void invalidate() override
    {
        if (!m_valid)
            return;
        m_valid = false;
        if (m_clock)
            m_clock->remove(this);
    }
    bool isValid() const override { return m_valid; }

    VirtualClock* m_clock;
    std::function<void()> m_fn;
    QPointer<QObject> m_context;
    bool m_hasContext;
    bool m_valid = true;
    std::pair<qint64, quint64> m_key{0, 0};
};

VirtualClock::VirtualClock(QDateTime start) : m_epochMs(start.toMSecsSinceEpoch()) {}

VirtualClock::~VirtualClock()
{
    std::lock_guard lock(m_mutex);
    for (auto& [key, t] : m_queue) {
        t->m_valid = false;
        t->m_clock = nullptr;
    }
    m_queue.clear();
    if (Clock::shared() == this)
        Clock::setShared(nullptr);
}

QDateTime VirtualClock::now() const
{
    std::lock_guard lock(m_mutex);
    return QDateTime::fromMSecsSinceEpoch(m_epochMs + m_monoMs, Qt::UTC);
}

qint64 VirtualClock::monotonicMs() const
{
    std::lock_guard lock(m_mutex);
    return m_monoMs;
}

std::shared_ptr<Timer> VirtualClock::schedule(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                              QObject* context)
{
    std::lock_guard lock(m_mutex);
    auto t = std::make_shared<VTimer>(this, std::max<qint64>(0, intervalMs), repeats, std::move(fn), context);
    t->m_key = {m_monoMs + t->intervalMs(), m_seq++};
    m_queue.emplace(t->m_key, t);
    return t;
}

void VirtualClock::remove(VTimer* t)
{
    std::lock_guard lock(m_mutex);
    auto it = m_queue.find(t->m_key);
    if (it != m_queue.end() && it->second.get() == t)
        m_queue.erase(it);
}

void VirtualClock::advance(qint64 ms)
{
    std::unique_lock lock(m_mutex);
    const qint64 target = m_monoMs + std::max<qint64>(0, ms);
    while (!m_queue.empty() && m_queue.begin()->first.first <= target) {
        auto it = m_queue.begin();
        std::shared_ptr<VTimer> t = it->second;
        m_queue.erase(it);
        m_monoMs = std::max(m_monoMs, t->m_key.first);
        if (t->m_hasContext && !t->m_context) {
            t->m_valid = false;
            continue;
        }
        if (t->repeats()) {
            // A zero interval would never let time move on.
            t->m_key = {m_monoMs + std::max<qint64>(1, t->intervalMs()), m_seq++};
            m_queue.emplace(t->m_key, t);
        } else {
            t->m_valid = false;
        }
        auto fn = t->m_fn;
        lock.unlock();
        fn();
        lock.lock();
    }
    m_monoMs = std::max(m_monoMs, target);
}

void VirtualClock::setNow(const QDateTime& t)
{
    std::lock_guard lock(m_mutex);
    m_epochMs = t.toMSecsSinceEpoch() - m_monoMs;
}

int VirtualClock::pendingTimerCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_queue.size());
}

qint64 VirtualClock::msUntilNextTimer() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.empty() ? -1 : m_queue.begin()->first.first - m_monoMs;
}

} // namespace zrp
