#include "WorkQueue.h"

#include <QThread>
#include <QThreadPool>

namespace zrp {

class WorkQueue::Thread final : public QThread
{
public:
    explicit Thread(WorkQueue* q) : m_q(q) {}
    void run() override { m_q->run(); }
    WorkQueue* m_q;
};

WorkQueue::WorkQueue(const QString& name) : m_name(name)
{
    auto* t = new Thread(this);
    t->setObjectName(name);
    m_thread = t;
    m_thread->start();
}

WorkQueue::~WorkQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
    m_thread->wait();
    delete m_thread;
}

void WorkQueue::async(std::function<void()> fn)
{
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(fn));
    }
    m_cv.notify_one();
}

void WorkQueue::sync(const std::function<void()>& fn)
{
    if (isCurrent()) {
        fn();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    async([&] {
        fn();
        std::lock_guard lock(doneMutex);
        done = true;
        doneCv.notify_one();
    });
    std::unique_lock lock(doneMutex);
    doneCv.wait(lock, [&] { return done; });
}

void WorkQueue::waitForIdle()
{
    std::unique_lock lock(m_mutex);
    m_idleCv.wait(lock, [&] { return m_items.empty() && !m_busy; });
}

bool WorkQueue::isCurrent() const
{
    return QThread::currentThread() == m_thread;
}

void WorkQueue::run()
{
    for (;;) {
        std::function<void()> fn;
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [&] { return m_stopping || !m_items.empty(); });
            if (m_items.empty()) // stopping, and everything queued has run
                return;
            fn = std::move(m_items.front());
            m_items.pop_front();
            m_busy = true;
        }
        fn();
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
            if (m_items.empty())
                m_idleCv.notify_all();
        }
    }
}

void WorkQueue::concurrent(std::function<void()> fn)
{
    QThreadPool::globalInstance()->start(std::move(fn));
}

void WorkQueue::waitForConcurrentIdle()
{
    QThreadPool::globalInstance()->waitForDone();
}

} // namespace zrp
