#include "shell/TrendLink.h"

#include "journal/Journal.h"
#include "journal/ui/JournalWindow.h"
#include "shell/Conpc.h"
#include "shell/JournalRecorder.h"
#include "trend/ui/TrendWindow.h"

namespace t5170 {

TrendLink::TrendLink(TFormMain& main, JournalRecorder& recorder)
    : QObject(nullptr), main_(&main), recorder_(recorder) {
    connect(main.TrendShow, &QAction::triggered, this, &TrendLink::showWindow);
    connect(&main, &TFormMain::seriesStarted, this, [this] {
        series_.clear();
        if (window_ && window_->isLive())
            window_->followSeries(series_);
    });
    connect(&main, &TFormMain::seriesStep, this, [this](const TIzmResult& r, int) {
        series_.push_back(r);
        if (window_ && window_->isLive())
            window_->appendResult(r);
    });
    recorder_.setTrendHandler([this](const std::vector<qint64>& ids) { showEntries(ids); });
}

TrendLink::~TrendLink() {
    recorder_.setTrendHandler({});
}

trend::TrendWindow& TrendLink::ensureWindow() {
    if (!window_) {
        const QString path = recorder_.journal()
                                 ? recorder_.journal()->path()
                                 : journal::journalPathFor(main_ ? main_->iniPath() : QString());
        window_ = std::make_unique<trend::TrendWindow>(path);
    }
    return *window_;
}

void TrendLink::raise() {
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void TrendLink::showWindow() {
    trend::TrendWindow& w = ensureWindow();
    // The journal commits on its own thread; the series of this run is
    // here already, complete.
    if (!series_.empty() || (main_ && main_->Series.isRunning()))
        w.followSeries(series_);
    else
        w.showLatestSeries();
    raise();
}

void TrendLink::showEntries(const std::vector<qint64>& ids) {
    ensureWindow().showEntries(ids);
    raise();
}

} // namespace t5170
