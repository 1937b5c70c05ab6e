#pragma once
// The trend window in the program: "График…" in the menu "Журнал" shows the
// running series (or the journal's latest one) and follows it; "График" in
// the journal window shows the selected entries. Each result of a running
// series reaches the window in the tick that decoded it.

#include "core/Measurement.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

namespace t5170 {

class TFormMain;
class JournalRecorder;
namespace trend {
class TrendWindow;
}

class TrendLink : public QObject {
    Q_OBJECT
public:
    TrendLink(TFormMain& main, JournalRecorder& recorder);
    ~TrendLink() override;

    // "График…"
    void showWindow();
    // The journal window's "График" for these entries.
    void showEntries(const std::vector<qint64>& ids);
    trend::TrendWindow* window() const { return window_.get(); }

private:
    trend::TrendWindow& ensureWindow();
    void raise();

    QPointer<TFormMain> main_;
    JournalRecorder& recorder_;
    // The results of the series running or last run since the start.
    std::vector<TIzmResult> series_;
    std::unique_ptr<trend::TrendWindow> window_;
};

} // namespace t5170
