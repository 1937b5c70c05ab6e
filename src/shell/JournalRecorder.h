#pragma once
// The main window's results and the report's life into the journal: each
// complete result as it comes, where it went in a report, the periodic
// series it belongs to; at start the journal's one error box and the
// question about records a crash left unsaved; the journal window.

#include "journal/Journal.h"
#include "journal/JournalQuery.h"
#include "report/TRepWorkbook.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace t5170 {

class TFormMain;
namespace journal {
class JournalWindow;
}

class JournalRecorder : public QObject, public report::ReportListener {
    Q_OBJECT
public:
    // Opens the journal at `path` and subscribes to `main`. Without a usable
    // journal the program goes on without one.
    JournalRecorder(TFormMain& main, const QString& path);
    ~JournalRecorder() override;

    // Null when the program runs without a journal.
    journal::Journal* journal() const { return journal_.get(); }
    const journal::OpenOutcome& outcome() const { return outcome_; }

    // Once the main window is shown: the error box of the opening, if any,
    // then the question about unsaved records.
    void afterShown();

    // Adds `entries`, in this order, to the open report through its
    // AddRecord, each noted as placed there.
    void addToReport(const std::vector<journal::Entry>& entries);

    // "Журнал измерений…"
    void showWindow();
    journal::JournalWindow* window() const { return window_.get(); }
    // What the journal window's "График" does with the selected entries.
    using TrendHandler = std::function<void(const std::vector<qint64>&)>;
    void setTrendHandler(TrendHandler handler);

    // report::ReportListener
    void reportCreated() override;
    void reportOpened(const QString& path) override;
    void reportSaved(const QString& path) override;
    void reportClosed() override;
    void recordAdded(const TIzmResult& r, int row) override;

private:
    void resultCompleted(const TIzmResult& r);
    void offerRecovery();
    QString reportName() const;

    QPointer<TFormMain> main_;
    journal::OpenOutcome outcome_;
    std::unique_ptr<journal::Journal> journal_;
    qint64 reportId_ = 0;
    qint64 seriesId_ = 0;
    qint64 lastEntry_ = 0;
    // The entry a journal-driven add is for.
    std::optional<qint64> adding_;
    // A record auto-added before its result was journalled.
    std::optional<std::pair<TIzmResult, int>> unplaced_;
    // The latest results and their entries, for a later add by the buttons.
    std::deque<std::pair<TIzmResult, qint64>> recent_;
    std::unique_ptr<journal::JournalWindow> window_;
    TrendHandler trendHandler_;
};

} // namespace t5170
