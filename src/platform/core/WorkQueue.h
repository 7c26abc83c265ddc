#pragma once

#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

class QThread;

namespace zrp {

// A serial background queue on its own thread: items run one at a time, in order. Results go
// back to the main thread with RunLoop::post. The destructor runs what is queued, then joins.
class WorkQueue
{
public:
    explicit WorkQueue(const QString& name);
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void async(std::function<void()> fn);
    // Runs fn on the queue and waits for it. Calling it from the queue's own thread runs fn inline.
    void sync(const std::function<void()>& fn);
    // Waits until everything queued so far has run.
    void waitForIdle();
    bool isCurrent() const;
    QString name() const { return m_name; }

    // The process-wide concurrent queue (a thread pool).
    static void concurrent(std::function<void()> fn);
    static void waitForConcurrentIdle();

private:
    void run();
    class Thread;
    QString m_name;
    QThread* m_thread = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::condition_variable m_idleCv;
    std::deque<std::function<void()>> m_items;
    bool m_busy = false;
    bool m_stopping = false;
};

} // namespace zrp
