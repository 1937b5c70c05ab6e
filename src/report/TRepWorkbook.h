#pragma once
// The measurement report: one workbook in its own spreadsheet application,
// four sheets (one per kind of measurement), records added row by row, and
// the menu and button commands that create, open, save, close, show and
// print it. Every step talks to the application through the automation
// interface; failures are caught per block of calls and shown to the
// operator.

#include "report/ReportDialogs.h"
#include "report/ReportView.h"
#include "sheet/Automation.h"

#include <array>
#include <memory>

namespace t5170::report {

// Told of the report's life and of each record written, for a record kept
// outside the workbook. Every call comes after the step succeeded.
class ReportListener {
public:
    virtual ~ReportListener() = default;
    virtual void reportCreated() = 0;
    virtual void reportOpened(const QString& path) = 0;
    // Saved, or saved as: `path` is the file it now has.
    virtual void reportSaved(const QString& path) = 0;
    // A report that was created or opened is no longer open.
    virtual void reportClosed() = 0;
    // `r` went into `row` of its kind's sheet.
    virtual void recordAdded(const TIzmResult& r, int row) = 0;
};

class TRepWorkbook {
public:
    // `view` and `dialogs` must outlive the report. The factory starts the
    // spreadsheet application; by default the embedded engine.
    TRepWorkbook(ReportView& view, ReportDialogs& dialogs,
                 automation::ApplicationFactory factory = automation::createApplication);
    ~TRepWorkbook();
    TRepWorkbook(const TRepWorkbook&) = delete;
    TRepWorkbook& operator=(const TRepWorkbook&) = delete;

    void setApplicationFactory(automation::ApplicationFactory factory);
    void setDialogs(ReportDialogs& dialogs) { dialogs_ = &dialogs; }
    ReportDialogs& dialogs() const { return *dialogs_; }
    // Null: nobody is told.
    void setListener(ReportListener* listener) { listener_ = listener; }

    // ---- report operations ----

    // A new, empty report becomes the open report.
    void CreateReport();
    // Adds the latest or the previous result as one row on its kind's sheet;
    // nothing without an open report or for a record that holds no result.
    void AddRecord(Which which);
    // Adds a result kept elsewhere (the journal's) the same way; the
    // last-record labels show it as the result groups would.
    void AddRecord(const TIzmResult& r);
    // Opens the workbook at `path` as the report (the current one must have
    // been closed).
    void OpenReport(const QString& path);
    // First row from 2 down whose column-1 cell is empty.
    int FindNextRow(const automation::WorksheetPtr& sheet);
    // Shows the newest record of the whole report in the last-record labels.
    void ShowLastRecord();
    void SaveReport();
    void SaveReportAs();
    // Asks to save unsaved changes, closes the workbook, ends the
    // application and resets the report labels.
    void CloseReport();

    // ---- handlers of the main window's menu and buttons ----

    void Excel1Click(); // "Создать"
    void OpenClick();   // "Открыть"
    void SaveClick();   // "Сохранить"
    void SaveaSClick(); // "Сохранить как ..."
    void CloseClick();  // "Закрыть"
    void ButAddTekClick() { AddRecord(Which::Latest); }
    void ButAddPrevClick() { AddRecord(Which::Previous); }
    // Failures of these two are not handled here: they reach the caller's
    // top-level error report.
    void ButShowClick();
    void ButtonPrintClick();

    // ---- the open report ----

    // The file the report was opened from or last saved as; empty for a
    // report never saved.
    const QString& filePath() const { return path_; }

    // The application, the workbook and its sheets (by TIzmType), for
    // looking at; null when no report is open.
    const automation::ApplicationPtr& application() const { return App; }
    const automation::WorkbookPtr& workbook() const { return Book; }
    const std::array<automation::WorksheetPtr, 4>& sheets() const { return Sheet; }

    std::array<int, 4> NextRow{}; // by TIzmType
    bool IsOpen = false;
    bool IsSaved = false;
    bool HasFile = false;
    bool IsVisible = false;

private:
    void showError(const QString& text);
    // Ends the application and lets go of every object, asking nothing and
    // reporting nothing.
    void releaseAll() noexcept;
    void layOutSheets();
    void writeRecord(const TIzmResult& r);
    // The add of AddRecord, the last-record labels given.
    struct RecordTexts {
        QString type, u, r, r2, k, time;
        std::array<bool, 4> shown{}; // u, r, r2, k
    };
    void addRecord(const TIzmResult& r, const RecordTexts& texts);
    void enableAddButtons();

    automation::ApplicationPtr App;
    automation::WorkbookPtr Book;
    std::array<automation::WorksheetPtr, 4> Sheet{}; // by TIzmType
    automation::CellPtr Cell;                        // scratch

    ReportView* view_;
    ReportDialogs* dialogs_;
    automation::ApplicationFactory factory_;
    ReportListener* listener_ = nullptr;
    QString path_;
    bool announced_ = false; // the listener was told of its creation or opening
};

} // namespace t5170::report
