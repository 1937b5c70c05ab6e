// The embedded spreadsheet engine behind createApplication("Excel.Application").

#include "sheet/Automation.h"
#include "sheet/EngineHooks.h"
#include "sheet/Formats.h"
#include "sheet/TypedInput.h"
#include "sheet/WorkbookFile.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <vector>

namespace t5170::sheet {

namespace {
EngineUiFactory& uiFactory() {
    static EngineUiFactory factory;
    return factory;
}
} // namespace

void setEngineUiFactory(EngineUiFactory factory) {
    uiFactory() = std::move(factory);
}

} // namespace t5170::sheet

namespace t5170::automation {

namespace {

using sheet::SheetError;

using sheet::DefaultColumnWidth;
using sheet::MaxColumns;
using sheet::MaxRows;

[[noreturn]] void fail(const QString& what) {
    throw SheetError(what.toStdString());
}

// Runs a call of the program's ui, keeping to the one error type.
template <typename F> void uiCall(F&& f) {
    try {
        f();
    } catch (const SheetError&) {
        throw;
    } catch (const std::exception& e) {
        throw SheetError(e.what());
    }
}

struct BookState {
    std::shared_ptr<sheet::Workbook> model;
    QString path; // absolute; empty until saved under a name
    QString title;
    bool closed = false;
    bool readOnly = false;
};

struct AppState {
    bool quit = false;
    int sheetsInNew = 3;
    bool displayAlerts = true;
    bool visible = false;
    int untitled = 0;
    std::function<void()> windowClosed;
    std::vector<std::shared_ptr<BookState>> books;
    std::shared_ptr<sheet::EngineUi> ui;
    const sheet::Workbook* shown = nullptr;

    ~AppState() {
        if (visible && ui)
            ui->hide();
    }

    void checkAlive() const {
        if (quit)
            fail(QStringLiteral("Приложение электронной таблицы завершено"));
    }

    // While shown, the window follows the first open workbook.
    void refreshShown(bool force = false) noexcept {
        if (!visible || !ui)
            return;
        const std::shared_ptr<BookState> first = books.empty() ? nullptr : books.front();
        const sheet::Workbook* model = first ? first->model.get() : nullptr;
        if (model == shown && !force)
            return;
        try {
            ui->show(first ? first->model : nullptr, first ? first->title : QString());
            shown = model;
        } catch (...) {
            ui->hide();
            visible = false;
            shown = nullptr;
        }
    }

    void changed(const BookState& b, int sheet, int row, int column) const noexcept {
        if (visible && ui && shown == b.model.get())
            ui->changed(sheet, row, column);
    }
};

using App = std::shared_ptr<AppState>;
using Book = std::shared_ptr<BookState>;

void checkLive(const AppState& app, const BookState& book) {
    app.checkAlive();
    if (book.closed)
        fail(QStringLiteral("Книга закрыта"));
}

class EngineCell final : public Cell {
public:
    EngineCell(App app, Book book, int sheet, int row, int column)
        : app_(std::move(app)), book_(std::move(book)), sheet_(sheet), row_(row), col_(column) {}

    void Value(const QString& text) override {
        checkLive(*app_, *book_);
        sheet::Cell c = sheet().find(row_, col_).value_or(sheet::Cell{});
        sheet::typeInto(c, text, book_->model->date1904);
        sheet().set(row_, col_, c);
        written();
    }
    void Value(std::int32_t number) override { setNumber(number); }
    void Value(double number) override {
        if (!std::isfinite(number))
            fail(QStringLiteral("Недопустимое число для ячейки"));
        setNumber(number);
    }
    CellValue Value() override {
        checkLive(*app_, *book_);
        return CellValue(sheet().find(row_, col_).value_or(sheet::Cell{}), book_->model->date1904);
    }
    void NumberFormat(const QString& format) override {
        const QString code = sheet::fileFormat(format);
        if (code.size() > 255)
            fail(QStringLiteral("Формат ячейки длиннее 255 знаков"));
        checkLive(*app_, *book_);
        sheet::Cell c = sheet().find(row_, col_).value_or(sheet::Cell{});
        c.format = code;
        sheet().set(row_, col_, c);
        written();
    }
    QString NumberFormat() override {
        checkLive(*app_, *book_);
        return sheet().format(row_, col_);
    }

private:
    sheet::Sheet& sheet() { return book_->model->sheets[std::size_t(sheet_)]; }
    void setNumber(double v) {
        checkLive(*app_, *book_);
        sheet::Sheet& s = sheet();
        // The number keeps the cell's display format.
        s.setNumber(row_, col_, v, s.formatId(row_, col_));
        written();
    }
    void written() {
        sheet().touch(row_, col_);
        app_->changed(*book_, sheet_, row_, col_);
    }

    App app_;
    Book book_;
    int sheet_, row_, col_;
};

class EngineColumn final : public Column {
public:
    EngineColumn(App app, Book book, int sheet, int column)
        : app_(std::move(app)), book_(std::move(book)), sheet_(sheet), col_(column) {}

    void ColumnWidth(double width) override {
        checkLive(*app_, *book_);
        if (!std::isfinite(width) || width < 0.0 || width > 255.0)
            fail(QStringLiteral("Недопустимая ширина столбца: %1").arg(width));
        sheet::Sheet& s = book_->model->sheets[std::size_t(sheet_)];
        s.columnWidths[col_] = width;
        s.widthsTouched = true;
        app_->changed(*book_, sheet_, -1, -1);
    }
    double ColumnWidth() override {
        checkLive(*app_, *book_);
        const auto& widths = book_->model->sheets[std::size_t(sheet_)].columnWidths;
        const auto it = widths.find(col_);
        return it == widths.end() ? DefaultColumnWidth : it->second;
    }

private:
    App app_;
    Book book_;
    int sheet_, col_;
};

class EngineColumns final : public Columns {
public:
    EngineColumns(App app, Book book, int sheet)
        : app_(std::move(app)), book_(std::move(book)), sheet_(sheet) {}

    ColumnPtr Item(int column) override {
        checkLive(*app_, *book_);
        if (column < 1 || column > MaxColumns)
            fail(QStringLiteral("Нет столбца с номером %1").arg(column));
        return std::make_shared<EngineColumn>(app_, book_, sheet_, column - 1);
    }

private:
    App app_;
    Book book_;
    int sheet_;
};

class EngineWorksheet final : public Worksheet {
public:
    EngineWorksheet(App app, Book book, int sheet)
        : app_(std::move(app)), book_(std::move(book)), sheet_(sheet) {}

    void Name(const QString& name) override {
        checkLive(*app_, *book_);
        sheet::checkSheetName(name);
        auto& sheets = book_->model->sheets;
        for (std::size_t i = 0; i < sheets.size(); ++i)
            if (int(i) != sheet_ && sheet::sameSheetName(sheets[i].name, name))
                fail(QStringLiteral("Лист с именем «%1» уже есть").arg(name));
        sheet::Sheet& s = sheets[std::size_t(sheet_)];
        if (s.name != name) {
            s.name = name;
            s.nameTouched = true;
            app_->changed(*book_, sheet_, -1, -1);
        }
    }
    QString Name() override {
        checkLive(*app_, *book_);
        return book_->model->sheets[std::size_t(sheet_)].name;
    }
    ColumnsPtr Columns() override {
        checkLive(*app_, *book_);
        return std::make_shared<EngineColumns>(app_, book_, sheet_);
    }
    CellPtr Cells(int row, int column) override {
        checkLive(*app_, *book_);
        if (row < 1 || row > MaxRows || column < 1 || column > MaxColumns)
            fail(QStringLiteral("Нет ячейки (%1, %2)").arg(row).arg(column));
        return std::make_shared<EngineCell>(app_, book_, sheet_, row - 1, column - 1);
    }

private:
    App app_;
    Book book_;
    int sheet_;
};

class EngineWorkbook final : public Workbook {
public:
    EngineWorkbook(App app, Book book) : app_(std::move(app)), book_(std::move(book)) {}

    WorksheetPtr WorkSheets(int index) override {
        checkLive(*app_, *book_);
        if (index < 1 || index > int(book_->model->sheets.size()))
            fail(QStringLiteral("В книге нет листа с номером %1").arg(index));
        return std::make_shared<EngineWorksheet>(app_, book_, index - 1);
    }
    void Save() override {
        checkLive(*app_, *book_);
        if (book_->path.isEmpty())
            fail(QStringLiteral("Книга ещё не сохранялась: у неё нет файла"));
        if (book_->readOnly)
            fail(QStringLiteral("Книга открыта только для чтения"));
        sheet::saveWorkbook(*book_->model, book_->path);
    }
    void SaveAs(const QString& path) override {
        checkLive(*app_, *book_);
        if (path.trimmed().isEmpty())
            fail(QStringLiteral("Не задано имя файла"));
        const QString absolute = QFileInfo(path).absoluteFilePath();
        sheet::saveWorkbook(*book_->model, absolute);
        book_->path = absolute;
        book_->title = QFileInfo(absolute).fileName();
        book_->readOnly = false;
        if (app_->shown == book_->model.get())
            app_->refreshShown(true);
    }
    void Close() override {
        checkLive(*app_, *book_);
        book_->closed = true;
        auto& books = app_->books;
        books.erase(std::remove(books.begin(), books.end(), book_), books.end());
        app_->refreshShown();
        book_->model.reset();
    }
    void PrintOut() override {
        checkLive(*app_, *book_);
        if (!app_->ui)
            fail(QStringLiteral("Печать недоступна"));
        uiCall([&] { app_->ui->print(*book_->model, book_->title); });
    }

private:
    App app_;
    Book book_;
};

class EngineWorkbooks final : public Workbooks {
public:
    explicit EngineWorkbooks(App app) : app_(std::move(app)) {}

    WorkbookPtr add() override {
        app_->checkAlive();
        auto model = std::make_shared<sheet::Workbook>();
        for (int i = 1; i <= app_->sheetsInNew; ++i) {
            sheet::Sheet s;
            s.name = QStringLiteral("Лист%1").arg(i);
            model->sheets.push_back(std::move(s));
        }
        auto book = std::make_shared<BookState>();
        book->model = std::move(model);
        book->title = QStringLiteral("Книга%1").arg(++app_->untitled);
        return adopt(std::move(book));
    }
    WorkbookPtr Open(const QString& path, int, bool readOnly, int) override {
        app_->checkAlive();
        if (path.trimmed().isEmpty())
            fail(QStringLiteral("Не задано имя файла"));
        const QString absolute = QFileInfo(path).absoluteFilePath();
        auto book = std::make_shared<BookState>();
        book->model = std::make_shared<sheet::Workbook>(sheet::openWorkbook(absolute));
        book->path = absolute;
        book->title = QFileInfo(absolute).fileName();
        book->readOnly = readOnly;
        return adopt(std::move(book));
    }
    int Count() override {
        app_->checkAlive();
        return int(app_->books.size());
    }

private:
    WorkbookPtr adopt(Book book) {
        app_->books.push_back(book);
        app_->refreshShown();
        return std::make_shared<EngineWorkbook>(app_, std::move(book));
    }

    App app_;
};

class EngineApplication final : public Application {
public:
    EngineApplication() : s_(std::make_shared<AppState>()) {
        if (const auto& factory = sheet::uiFactory())
            s_->ui = factory();
        if (s_->ui)
            s_->ui->setClosedHandler([state = std::weak_ptr<AppState>(s_)] {
                const App s = state.lock();
                if (!s || !s->visible)
                    return;
                s->visible = false;
                s->shown = nullptr;
                if (s->windowClosed)
                    s->windowClosed();
            });
    }

    void SheetsInNewWorkbook(int count) override {
        s_->checkAlive();
        if (count < 1 || count > 255)
            fail(QStringLiteral("Недопустимое число листов новой книги: %1").arg(count));
        s_->sheetsInNew = count;
    }
    WorkbooksPtr WorkBooks() override {
        s_->checkAlive();
        return std::make_shared<EngineWorkbooks>(s_);
    }
    WorkbookPtr WorkBooks(int index) override {
        s_->checkAlive();
        if (index < 1 || index > int(s_->books.size()))
            fail(QStringLiteral("Нет открытой книги с номером %1").arg(index));
        return std::make_shared<EngineWorkbook>(s_, s_->books[std::size_t(index - 1)]);
    }
    void DisplayAlerts(bool on) override {
        s_->checkAlive();
        s_->displayAlerts = on;
    }
    void Visible(bool on) override {
        s_->checkAlive();
        if (!s_->ui) {
            s_->visible = on;
            return;
        }
        if (on) {
            const Book first = s_->books.empty() ? nullptr : s_->books.front();
            uiCall([&] {
                s_->ui->show(first ? first->model : nullptr, first ? first->title : QString());
            });
            s_->shown = first ? first->model.get() : nullptr;
            s_->visible = true;
        } else {
            s_->ui->hide();
            s_->visible = false;
            s_->shown = nullptr;
        }
    }
    void setWindowClosedHandler(std::function<void()> closed) override {
        s_->windowClosed = std::move(closed);
    }
    void Quit() override {
        s_->checkAlive();
        s_->quit = true;
        for (const Book& b : s_->books) {
            b->closed = true;
            b->model.reset();
        }
        s_->books.clear();
        if (s_->visible && s_->ui)
            s_->ui->hide();
        s_->visible = false;
        s_->shown = nullptr;
        s_->ui.reset();
    }

private:
    App s_;
};

} // namespace

QString CellValue::toText() const {
    return sheet::cellText(cell_, date1904_);
}

double CellValue::toDouble() const {
    return sheet::cellNumber(cell_, date1904_);
}

ApplicationPtr createApplication(const QString& progId) {
    if (progId.compare(u"Excel.Application", Qt::CaseInsensitive) != 0)
        fail(QStringLiteral("Приложение «%1» не найдено").arg(progId));
    return std::make_shared<EngineApplication>();
}

} // namespace t5170::automation
