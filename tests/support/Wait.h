#pragma once
// Waiting in tests with a real event loop, as the program runs. QTest's own
// waits sleep between event passes, which delays the simulator's reads in
// the same thread and skews the times it stamps on received bytes.

#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace t5170::testing {

// Runs the event loop until `done` holds (checked every millisecond) or
// `timeoutMs` pass; returns whether it holds.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(1);
    loop.exec();
    return done();
}

// Runs the event loop for `ms` milliseconds.
inline void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace t5170::testing
