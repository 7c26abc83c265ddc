#include "RunLoop.h"

#include "Clock.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

namespace zrp::RunLoop {

bool isMainThread()
{
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void post(std::function<void()> fn, QObject* context)
{
    QObject* target = QCoreApplication::instance();
    if (!target)
        return;
    if (!context) {
        QMetaObject::invokeMethod(target, std::move(fn), Qt::QueuedConnection);
        return;
    }
    QPointer<QObject> guard(context);
    QMetaObject::invokeMethod(
        target,
        [guard, fn = std::move(fn)]() {
            if (guard)
                fn();
        },
        Qt::QueuedConnection);
}

void postDelayed(qint64 delayMs, std::function<void()> fn, QObject* context)
{
    QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    // Timers belong to the main thread; hop there first so any thread may call this.
    post([delayMs, guard, hasContext, fn = std::move(fn)]() {
        if (hasContext && !guard)
            return;
        Clock::shared()->schedule(delayMs, false, fn, guard.data());
    });
}

} // namespace zrp::RunLoop
