#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace zrp {

class Clock;

// A scheduled callback. It keeps firing (when repeating) until invalidated or until its context
// object is destroyed; the clock holds it alive while it is scheduled, so a caller may drop the
// handle of a timer it never needs to stop.
class Timer
{
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
    qint64 intervalMs() const { return m_intervalMs; }
    bool repeats() const { return m_repeats; }

    // Schedules on Clock::shared(). Must be called on a thread with an event loop (the main thread).
    static std::shared_ptr<Timer> scheduled(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                            QObject* context = nullptr);

protected:
    Timer(qint64 intervalMs, bool repeats) : m_intervalMs(intervalMs), m_repeats(repeats) {}
    qint64 m_intervalMs;
    bool m_repeats;
};

// Every "now" and every timer in the product goes through a Clock, so that tests can move time
// instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;

    virtual QDateTime now() const = 0;      // wall-clock time, UTC
    virtual qint64 monotonicMs() const = 0; // never goes backwards
    qint64 secondsSince1970() const { return now().toSecsSinceEpoch(); }

    virtual std::shared_ptr<Timer> schedule(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                            QObject* context) = 0;

    // The clock of the process; the real clock unless a test installed another one.
    static Clock* shared();
    // Installs a clock (not owned); nullptr restores the real clock.
    static void setShared(Clock* clock);
};

// System time and QTimer.
class RealClock final : public Clock
{
public:
    QDateTime now() const override;
    qint64 monotonicMs() const override;
    std::shared_ptr<Timer> schedule(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                    QObject* context) override;
    static RealClock* instance();
};

// Time that only moves when a test says so. advance() fires every due timer in due order, with
// now() set to each timer's due time as it fires; timers scheduled by a firing timer fire within
// the same advance() when they fall due inside it.
class VirtualClock final : public Clock
{
public:
    explicit VirtualClock(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(12, 0), Qt::UTC));
    ~VirtualClock() override;

    QDateTime now() const override;
    qint64 monotonicMs() const override;
    std::shared_ptr<Timer> schedule(qint64 intervalMs, bool repeats, std::function<void()> fn,
                                    QObject* context) override;

    void advance(qint64 ms);
    void advanceSeconds(double s) { advance(qint64(s * 1000.0)); }
    // Jumps the wall clock without firing timers (a user changing the system time).
    void setNow(const QDateTime& t);
    int pendingTimerCount() const;
    qint64 msUntilNextTimer() const; // -1 when none

    // Installs itself as the shared clock for its lifetime.
    struct Scope
    {
        VirtualClock& clock;
        explicit Scope(VirtualClock& c) : clock(c) { Clock::setShared(&c); }
        ~Scope() { Clock::setShared(nullptr); }
    };

private:
    class VTimer;
    friend class VTimer;
    void remove(VTimer* t);

    mutable std::recursive_mutex m_mutex;
    qint64 m_epochMs; // wall time at monotonic 0
    qint64 m_monoMs = 0;
    quint64 m_seq = 0;
    // (due time, sequence) -> timer; the sequence keeps equal due times in scheduling order.
    std::map<std::pair<qint64, quint64>, std::shared_ptr<VTimer>> m_queue;
};

} // namespace zrp
