#pragma once

#include <QObject>
#include <functional>

namespace zrp {

// The main thread's run loop. Work posted from any thread runs on the main thread at a later
// turn, never inside the caller's stack.
namespace RunLoop {

// Runs fn on the next turn of the main loop. When context is given and destroyed before then,
// fn does not run.
void post(std::function<void()> fn, QObject* context = nullptr);

// Runs fn on the main loop after delayMs, measured by the shared Clock (so tests advance it).
void postDelayed(qint64 delayMs, std::function<void()> fn, QObject* context = nullptr);

bool isMainThread();

} // namespace RunLoop
} // namespace zrp
