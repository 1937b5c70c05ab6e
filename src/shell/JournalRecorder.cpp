#include "shell/JournalRecorder.h"

#include "journal/ui/JournalWindow.h"
#include "shell/Conpc.h"
#include "shell/Messages.h"

#include <QFileInfo>

namespace t5170 {

using journal::ReportEvent;

namespace {
const QString ErrorCaption = QStringLiteral("Ошибка");
constexpr std::size_t RecentKept = 8;
} // namespace

JournalRecorder::JournalRecorder(TFormMain& main, const QString& path)
    : QObject(nullptr), main_(&main) {
    journal_ = journal::Journal::open(path, outcome_);
    main.JournalShow->setEnabled(journal_ != nullptr);
    connect(main.JournalShow, &QAction::triggered, this, &JournalRecorder::showWindow);
    if (!journal_)
        return;
    main.report().setListener(this);
    connect(&main, &TFormMain::resultCompleted, this, &JournalRecorder::resultCompleted);
    connect(&main, &TFormMain::seriesStarted, this, [this] { seriesId_ = journal_->newSeries(); });
    connect(&main, &TFormMain::seriesStep, this, [this](const TIzmResult&, int step) {
        journal_->inSeries(lastEntry_, {seriesId_, step});
    });
    // Told once per spell of failures; the writer keeps trying meanwhile.
    connect(journal_.get(), &journal::Journal::writeFailed, this, [this](const QString& reason) {
        showErrorBox(main_, ErrorCaption,
                     QStringLiteral("Не удалось записать в журнал измерений") + QLatin1Char('\n') +
                         reason);
    });
}

JournalRecorder::~JournalRecorder() {
    if (main_)
        main_->report().setListener(nullptr);
    window_.reset();
    // The journal's destructor commits what is still queued.
}

void JournalRecorder::afterShown() {
    if (const QString message = outcome_.message(); !message.isEmpty())
        showErrorBox(main_, ErrorCaption, message);
    offerRecovery();
}

void JournalRecorder::offerRecovery() {
    if (!journal_ || !journal_->recovery() || !main_)
        return;
    const journal::Recovery recovery = *journal_->recovery();
    report::TRepWorkbook& report = main_->report();
    if (!report.dialogs().askYesNo(defaultCaption(), recovery.question())) {
        journal_->reportEvent(recovery.reportId, ReportEvent::Declined);
        return;
    }
    journal::Reader reader(journal_->path());
    const std::vector<journal::Entry> entries = reader.entries(recovery.entryIds);
    if (report.IsOpen)
        report.CloseReport();
    if (!recovery.path.isEmpty() && QFileInfo::exists(recovery.path))
        report.OpenReport(recovery.path);
    if (!report.IsOpen)
        report.CreateReport();
    // No application for the report: the question comes again next time.
    if (!report.IsOpen)
        return;
    journal_->reportEvent(recovery.reportId, ReportEvent::Recovered);
    addToReport(entries);
}

void JournalRecorder::addToReport(const std::vector<journal::Entry>& entries) {
    if (!main_)
        return;
    for (const journal::Entry& e : entries) {
        if (!main_->report().IsOpen)
            return;
        adding_ = e.id;
        main_->report().AddRecord(e.result);
        adding_.reset();
    }
}

void JournalRecorder::showWindow() {
    if (!journal_ || !main_)
        return;
    if (!window_) {
        window_ = std::make_unique<journal::JournalWindow>(journal_->path(), main_->iniPath());
        window_->setAddHandler([this](const std::vector<journal::Entry>& entries) {
            if (!main_ || !main_->report().IsOpen)
                return false;
            addToReport(entries);
            return true;
        });
        connect(journal_.get(), &journal::Journal::committed, window_.get(),
                &journal::JournalWindow::journalChanged);
        setTrendHandler(trendHandler_);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void JournalRecorder::setTrendHandler(TrendHandler handler) {
    trendHandler_ = std::move(handler);
    if (!window_)
        return;
    window_->setTrendHandler([this](const std::vector<journal::Entry>& entries) {
        std::vector<qint64> ids;
        for (const journal::Entry& e : entries)
            ids.push_back(e.id);
        if (trendHandler_)
            trendHandler_(ids);
    });
}

void JournalRecorder::resultCompleted(const TIzmResult& r) {
    if (!main_)
        return;
    journal::Device device{main_->serialLetter(), main_->serialNumber()};
    lastEntry_ = journal_->append(r, device);
    recent_.emplace_back(r, lastEntry_);
    if (recent_.size() > RecentKept)
        recent_.pop_front();
    if (unplaced_ && unplaced_->first == r && reportId_)
        journal_->placed(lastEntry_, reportId_, r.Kind, unplaced_->second, reportName());
    unplaced_.reset();
}

QString JournalRecorder::reportName() const {
    const QString& path = main_ ? main_->report().filePath() : QString();
    return path.isEmpty() ? QStringLiteral("новый отчет") : QFileInfo(path).fileName();
}

void JournalRecorder::reportCreated() {
    reportId_ = journal_->reportBegan(ReportEvent::Created);
}

void JournalRecorder::reportOpened(const QString& path) {
    reportId_ = journal_->reportBegan(ReportEvent::Opened, path);
}

void JournalRecorder::reportSaved(const QString& path) {
    if (reportId_)
        journal_->reportEvent(reportId_, ReportEvent::Saved, path);
}

void JournalRecorder::reportClosed() {
    if (reportId_)
        journal_->reportEvent(reportId_, ReportEvent::Closed);
    reportId_ = 0;
}

void JournalRecorder::recordAdded(const TIzmResult& r, int row) {
    if (!reportId_)
        return;
    std::optional<qint64> id = adding_;
    if (!id) {
        for (auto it = recent_.rbegin(); it != recent_.rend() && !id; ++it)
            if (it->first == r)
                id = it->second;
    }
    if (!id) {
        // Auto-added ahead of resultCompleted: placed once it is journalled.
        unplaced_ = {r, row};
        return;
    }
    journal_->placed(*id, reportId_, r.Kind, row, reportName());
}

} // namespace t5170
