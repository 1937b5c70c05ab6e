#pragma once
// The event loop's stalls, as the window benchmarks measure them: a 1 ms
// heartbeat whose late ticks are time the loop spent elsewhere, and a wait
// that keeps the loop running without sleeping.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <vector>

namespace t5170::bench {

// A 1 ms timer that records the gaps between its ticks: a gap well above
// 1 ms is time the event loop was busy elsewhere.
class Heartbeat : public QObject {
public:
    Heartbeat() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0)
                gaps_.push_back(static_cast<double>(now - last_) / 1e6);
            last_ = now;
        });
    }
    void start() {
        gaps_.clear();
        last_ = -1;
        clock_.start();
        timer_.start();
    }
    void stop() { timer_.stop(); }
    double maxGap() const {
        return gaps_.empty() ? 0 : *std::max_element(gaps_.begin(), gaps_.end());
    }
    double percentile(double p) const {
        if (gaps_.empty())
            return 0;
        std::vector<double> g = gaps_;
        std::sort(g.begin(), g.end());
        return g[static_cast<std::size_t>(p * static_cast<double>(g.size() - 1))];
    }
    std::size_t ticks() const { return gaps_.size(); }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = -1;
    std::vector<double> gaps_;
};

// Runs the event loop until cond() holds or ms have passed. (QTest's waits
// sleep 10 ms between rounds, which the heartbeat would count as stalls.)
inline bool waitUntil(const std::function<bool()>& cond, int ms) {
    QEventLoop loop;
    QElapsedTimer t;
    t.start();
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (cond() || t.elapsed() >= ms)
            loop.quit();
    });
    check.start();
    if (!cond())
        loop.exec();
    return cond();
}

inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

} // namespace t5170::bench
