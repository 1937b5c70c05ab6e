#include "report/TRepWorkbook.h"

#include "core/Texts.h"
#include "report/ReportLayout.h"
#include "report/ReportScan.h"

#include <QDateTime>
#include <QFileInfo>

#include <exception>
#include <utility>

namespace t5170::report {

using automation::Error;

namespace {

const QString ProgId = QStringLiteral("Excel.Application");
const QString ErrorCaption = QStringLiteral("Ошибка");
const QString TextNone = QStringLiteral("нет");
const QString TextOpenFirst = QStringLiteral("Сначало откройте отчет");
const QString TextReportType = QStringLiteral("Отчет Excel");
const QString TextNoApplication = QStringLiteral(
    "Невозможно открыть Microsoft Excel! Возможно этого приложения на компьютере не установлено.");
const QString TextWrongFormat = QStringLiteral("Неправильный формат файла ");
const QString TextCannotSave = QStringLiteral("Невозможно сохранить отчет");

} // namespace

TRepWorkbook::TRepWorkbook(ReportView& view, ReportDialogs& dialogs,
                           automation::ApplicationFactory factory)
    : view_(&view), dialogs_(&dialogs), factory_(std::move(factory)) {}

TRepWorkbook::~TRepWorkbook() = default;

void TRepWorkbook::setApplicationFactory(automation::ApplicationFactory factory) {
    factory_ = std::move(factory);
}

void TRepWorkbook::showError(const QString& text) {
    dialogs_->errorBox(ErrorCaption, text);
}

void TRepWorkbook::releaseAll() noexcept {
    // Quitting closes whatever the application still holds, unsaved.
    try {
        if (App)
            App->Quit();
    } catch (const std::exception&) {
    }
    Cell.reset();
    for (TIzmType kind : {izmPol, izmAbs, izmU, izmR})
        Sheet[kind].reset();
    Book.reset();
    App.reset();
}

void TRepWorkbook::enableAddButtons() {
    if (view_->result(Which::Latest).Valid)
        view_->enableAddButton(Which::Latest);
    if (view_->result(Which::Previous).Valid)
        view_->enableAddButton(Which::Previous);
}

// ---- creation ----

void TRepWorkbook::layOutSheets() {
    Sheet = reportSheets(need(Book));
    for (TIzmType kind : LayoutOrder)
        need(Sheet[kind]).Name(QString::fromUtf8(sheetSpec(kind).name));
    for (TIzmType kind : LayoutOrder) {
        automation::Worksheet& sheet = need(Sheet[kind]);
        const auto columns = sheetSpec(kind).columns;
        for (std::size_t i = 0; i < columns.size(); ++i)
            need(need(sheet.Columns()).Item(static_cast<int>(i) + 1)).ColumnWidth(columns[i].width);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            Cell = sheet.Cells(1, static_cast<int>(i) + 1);
            need(Cell).Value(QString::fromUtf8(columns[i].heading));
        }
    }
    NextRow.fill(2);
}

void TRepWorkbook::CreateReport() {
    try {
        App = factory_(ProgId);
        need(App);
    } catch (const std::exception&) {
        showError(TextNoApplication);
        return;
    }
    try {
        App->SheetsInNewWorkbook(4);
        need(App->WorkBooks()).add();
        Book = App->WorkBooks(1);
        need(Book);
    } catch (const std::exception&) {
        // The application just started would otherwise run on, hidden.
        releaseAll();
        showError(QStringLiteral("Ошибка открытия книги Microsoft Excel!"));
        return;
    }
    try {
        layOutSheets();
    } catch (const std::exception&) {
        releaseAll();
        showError(QStringLiteral("Ошибка редактирования книги Excell"));
        return;
    }
    view_->setLabelText(RepLabel::ReportType, TextReportType);
    view_->setLabelText(RepLabel::ReportDate, text::dateNoZeros(QDate::currentDate()));
    view_->setStatusText(QStringLiteral("Отчет создан"));
    HasFile = false;
    IsSaved = false;
    IsOpen = true;
    path_.clear();
    enableAddButtons();
    announced_ = true;
    if (listener_)
        listener_->reportCreated();
}

// ---- adding records ----

void TRepWorkbook::writeRecord(const TIzmResult& r) {
    if (r.Kind > izmPol)
        return;
    const int row = NextRow[r.Kind]++;
    writeRecordRow(need(Sheet[r.Kind]), row, r);
    if (listener_)
        listener_->recordAdded(r, row);
}

void TRepWorkbook::AddRecord(Which from) {
    if (!IsOpen || (from != Which::Latest && from != Which::Previous))
        return;
    // A record that holds no result would be an all-zero row that no later
    // opening can read back.
    if (!view_->result(from).Valid)
        return;
    RecordTexts t{
        view_->resultText(from, ResultLabel::Type),
        view_->resultText(from, ResultLabel::U),
        view_->resultText(from, ResultLabel::R),
        view_->resultText(from, ResultLabel::R2),
        view_->resultText(from, ResultLabel::Koef),
        view_->resultText(from, ResultLabel::Time),
        {view_->resultShown(from, ResultLabel::U), view_->resultShown(from, ResultLabel::R),
         view_->resultShown(from, ResultLabel::R2), view_->resultShown(from, ResultLabel::Koef)}};
    addRecord(view_->result(from), t);
}

void TRepWorkbook::AddRecord(const TIzmResult& r) {
    if (!IsOpen || !r.Valid)
        return;
    const bool hasR = r.Kind != izmU;
    const bool hasR2 = r.Kind == izmAbs || r.Kind == izmPol;
    addRecord(r, {text::kindCaption(r.Kind),
                  voltageLabel(r.U),
                  resistanceLabel({r.RkOm, r.R, r.RUnit}),
                  resistance2Label({r.R2kOm, r.R2, r.R2Unit}),
                  koefLabel(r.Koef),
                  text::timeNoZeros(r.Time.time()),
                  {true, hasR, hasR2, hasR2}});
}

void TRepWorkbook::addRecord(const TIzmResult& r, const RecordTexts& t) {
    IsSaved = false;
    try {
        const std::pair<RepLabel, const QString&> texts[] = {
            {RepLabel::RecType, t.type}, {RepLabel::RecU, t.u}, {RepLabel::RecR, t.r},
            {RepLabel::RecR2, t.r2},     {RepLabel::RecK, t.k}, {RepLabel::RecTime, t.time}};
        for (const auto& [to, text] : texts)
            view_->setLabelText(to, text);
        for (std::size_t i = 1; i <= 4; ++i)
            view_->setLabelShown(texts[i].first, t.shown[i - 1]);
        view_->setLabelText(RepLabel::RecDate, text::dateNoZeros(r.Time.date()));
        writeRecord(r);
    } catch (const std::exception&) {
        IsSaved = true;
        IsOpen = false;
        CloseReport();
        showError(QStringLiteral("Невозможно добавить запись в отчет"));
    }
}

// ---- opening ----

void TRepWorkbook::OpenClick() {
    const std::optional<QString> path = dialogs_->openFileName();
    if (!path)
        return;
    if (IsOpen)
        CloseReport();
    OpenReport(*path);
}

int TRepWorkbook::FindNextRow(const automation::WorksheetPtr& sheet) {
    return findFreeRow(need(sheet));
}

void TRepWorkbook::ShowLastRecord() {
    const std::optional<ReportRecord> newest = newestRecord(Sheet, NextRow);
    if (!newest)
        return;
    const RecordLabels labels = recordLabels(*newest);
    view_->setLabelText(RepLabel::RecType, labels.type);
    const std::pair<RepLabel, const QString&> shown[] = {{RepLabel::RecU, labels.u},
                                                         {RepLabel::RecR, labels.r},
                                                         {RepLabel::RecR2, labels.r2},
                                                         {RepLabel::RecK, labels.k}};
    for (const auto& [label, text] : shown) {
        if (text.isEmpty())
            continue;
        view_->setLabelShown(label, true);
        view_->setLabelText(label, text);
    }
    view_->setLabelText(RepLabel::RecDate, labels.date);
    view_->setLabelText(RepLabel::RecTime, labels.time);
}

void TRepWorkbook::OpenReport(const QString& path) {
    try {
        App = factory_(ProgId);
        need(App);
    } catch (const std::exception&) {
        showError(TextNoApplication);
        return;
    }
    try {
        const QFileInfo info(path);
        const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
        if (!modified.isValid())
            throw Error("Нет времени изменения файла");
        view_->setLabelText(RepLabel::ReportDate, shortDateText(modified.date()));
        need(App->WorkBooks()).Open(path, 0, false, 1);
        Book = App->WorkBooks(1);
        need(Book);
        view_->setReportFile(path);
    } catch (const std::exception&) {
        IsSaved = true;
        CloseReport();
        showError(QStringLiteral("Невозможно открыть Файл"));
        return;
    }
    try {
        Sheet = reportSheets(need(Book));
    } catch (const std::exception&) {
        IsSaved = true;
        CloseReport();
        showError(TextWrongFormat);
        return;
    }
    // A workbook that has the four sheets but whose records cannot be read
    // back is no report either; nothing of it may stay open or held.
    try {
        for (TIzmType kind : {izmU, izmR, izmAbs, izmPol})
            NextRow[kind] = FindNextRow(Sheet[kind]);
        view_->setLabelText(RepLabel::ReportType, TextReportType);
        ShowLastRecord();
        view_->setStatusText(QStringLiteral("Отчет открыт"));
        HasFile = true;
        IsSaved = true;
        IsOpen = true;
        path_ = path;
        enableAddButtons();
        announced_ = true;
        if (listener_)
            listener_->reportOpened(path);
    } catch (const std::exception&) {
        IsSaved = true;
        CloseReport();
        showError(TextWrongFormat);
    }
}

// ---- saving and closing ----

void TRepWorkbook::SaveReportAs() {
    if (!IsOpen) {
        view_->setStatusText(TextOpenFirst);
        return;
    }
    const std::optional<QString> path = dialogs_->saveFileName();
    // A failed add may have closed the report while the dialog was open.
    if (!path || !IsOpen)
        return;
    try {
        need(App).DisplayAlerts(false);
        need(Book).SaveAs(*path);
    } catch (const std::exception&) {
        showError(TextCannotSave);
        return;
    }
    view_->setStatusText(QStringLiteral("Отчет сохранен"));
    view_->setReportFile(*path);
    HasFile = true;
    IsSaved = true;
    path_ = *path;
    if (listener_)
        listener_->reportSaved(path_);
}

void TRepWorkbook::SaveReport() {
    if (!IsOpen) {
        view_->setStatusText(TextOpenFirst);
        return;
    }
    try {
        need(App).DisplayAlerts(false);
        need(Book).Save();
    } catch (const std::exception&) {
        showError(TextCannotSave);
        return;
    }
    view_->setStatusText(QStringLiteral("Отчет сохранен"));
    IsSaved = true;
    if (listener_)
        listener_->reportSaved(path_);
}

void TRepWorkbook::CloseReport() {
    // No Cancel: once asked, the close goes on whatever the answer.
    if (!IsSaved && dialogs_->askYesNo(QStringLiteral("Предупреждение"),
                                       QStringLiteral("Отчет не сохранен ") + QLatin1Char('\n') +
                                           QStringLiteral(" Сохранить?"))) {
        if (HasFile)
            SaveReport();
        else
            SaveReportAs();
    }
    try {
        if (App)
            App->DisplayAlerts(false);
        need(Book).Close();
    } catch (const std::exception&) {
    }
    // Also when no workbook was ever obtained: the application started for
    // it must not run on.
    releaseAll();
    IsOpen = false;
    if (std::exchange(announced_, false) && listener_)
        listener_->reportClosed();
    view_->setStatusText(QStringLiteral("Отчет закрыт"));
    for (RepLabel label : {RepLabel::RepName, RepLabel::ReportType, RepLabel::ReportDate,
                           RepLabel::RecType, RepLabel::RecDate, RepLabel::RecTime})
        view_->setLabelText(label, TextNone);
    for (RepLabel label : {RepLabel::RecU, RepLabel::RecR, RepLabel::RecR2, RepLabel::RecK})
        view_->setLabelShown(label, false);
}

// ---- menu and buttons ----

void TRepWorkbook::Excel1Click() {
    if (IsOpen)
        CloseReport();
    CreateReport();
}

void TRepWorkbook::SaveClick() {
    if (HasFile)
        SaveReport();
    else
        SaveReportAs();
}

void TRepWorkbook::SaveaSClick() {
    SaveReportAs();
}

void TRepWorkbook::CloseClick() {
    if (IsOpen)
        CloseReport();
}

void TRepWorkbook::ButShowClick() {
    if (!IsOpen) {
        view_->setStatusText(TextOpenFirst);
        return;
    }
    if (!IsVisible) {
        // Closing the window is the same as pressing "Спрятать".
        need(App).setWindowClosedHandler([this] {
            view_->setShowCaption(QStringLiteral("Просмотреть"));
            IsVisible = false;
        });
        App->Visible(true);
        view_->setShowCaption(QStringLiteral("Спрятать"));
        IsVisible = true;
    } else {
        need(App).Visible(false);
        view_->setShowCaption(QStringLiteral("Просмотреть"));
        IsVisible = false;
    }
}

void TRepWorkbook::ButtonPrintClick() {
    if (!IsOpen) {
        view_->setStatusText(TextOpenFirst);
        return;
    }
    need(Book).PrintOut();
}

} // namespace t5170::report
