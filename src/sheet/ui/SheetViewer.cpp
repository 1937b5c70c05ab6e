#include "sheet/ui/SheetViewer.h"

#include "sheet/Formats.h"
#include "sheet/TypedInput.h"
#include "sheet/ui/SheetPrint.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace t5170::sheet {

// ---- SheetTableModel ----

SheetTableModel::SheetTableModel(std::shared_ptr<const Workbook> book, int sheet, QObject* parent)
    : QAbstractTableModel(parent), book_(std::move(book)), sheet_(sheet) {
    measure(rows_, cols_);
}

const Sheet* SheetTableModel::sheet() const {
    if (!book_ || sheet_ < 0 || static_cast<std::size_t>(sheet_) >= book_->sheets.size())
        return nullptr;
    return &book_->sheets[static_cast<std::size_t>(sheet_)];
}

void SheetTableModel::measure(int& rows, int& cols) const {
    rows = 0;
    cols = 0;
    const Sheet* s = sheet();
    if (!s)
        return;
    // What holds cells; widths alone (a file may set them for every
    // column) do not widen the table.
    rows = s->rowCount();
    for (int r = 0; r < rows; ++r)
        cols = std::max(cols, s->columnCount(r));
}

int SheetTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int SheetTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

QVariant SheetTableModel::data(const QModelIndex& index, int role) const {
    const Sheet* s = sheet();
    if (!s || !index.isValid())
        return {};
    const Cell::Kind kind = s->kind(index.row(), index.column());
    if (kind == Cell::Kind::Empty)
        return {};
    if (role == Qt::DisplayRole)
        return cellText(*s->find(index.row(), index.column()), book_->date1904);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue((kind == Cell::Kind::Number ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
    return {};
}

QVariant SheetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal)
        return QString::fromStdString(columnName(section));
    return section + 1;
}

void SheetTableModel::noteChange(int row, int column) {
    if (row < 0 || column < 0) {
        structure_ = true;
        return;
    }
    if (!dirty_) {
        top_ = bottom_ = row;
        left_ = right_ = column;
        dirty_ = true;
    } else {
        top_ = std::min(top_, row);
        bottom_ = std::max(bottom_, row);
        left_ = std::min(left_, column);
        right_ = std::max(right_, column);
    }
}

void SheetTableModel::noteAllChanged() {
    structure_ = dirty_ = true;
    top_ = left_ = 0;
    bottom_ = right_ = std::numeric_limits<int>::max();
}

void SheetTableModel::publish() {
    if (!dirty_ && !structure_)
        return;
    int rows = 0;
    int cols = 0;
    measure(rows, cols);
    if (rows < rows_ || cols < cols_) {
        beginResetModel();
        rows_ = rows;
        cols_ = cols;
        endResetModel();
    } else {
        if (cols > cols_) {
            beginInsertColumns({}, cols_, cols - 1);
            cols_ = cols;
            endInsertColumns();
        }
        if (rows > rows_) {
            beginInsertRows({}, rows_, rows - 1);
            rows_ = rows;
            endInsertRows();
        }
        // Views repaint only what of this range is on screen.
        if (dirty_ && top_ < rows_ && left_ < cols_)
            emit dataChanged(index(top_, left_),
                             index(std::min(bottom_, rows_ - 1), std::min(right_, cols_ - 1)),
                             {Qt::DisplayRole, Qt::TextAlignmentRole});
    }
    dirty_ = false;
    structure_ = false;
}

// ---- SheetViewer ----

SheetViewer::SheetViewer(QWidget* parent) : QWidget(parent), tabs_(new QTabWidget(this)) {
    setAttribute(Qt::WA_QuitOnClose, false);
    tabs_->setTabPosition(QTabWidget::South);
    tabs_->setDocumentMode(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs_);
    resize(900, 600);
    publishTimer_.setSingleShot(true);
    publishTimer_.setInterval(0);
    connect(&publishTimer_, &QTimer::timeout, this, &SheetViewer::flush);
}

SheetViewer::~SheetViewer() = default;

void SheetViewer::setWorkbook(std::shared_ptr<const Workbook> book, const QString& title) {
    setWindowTitle(title.isEmpty() ? QStringLiteral("Нет открытой книги") : title);
    if (book == book_ && book) {
        // Shown again: what was written while the window was hidden has not
        // been followed.
        for (SheetTableModel* m : models_)
            m->noteAllChanged();
        if (book_->sheets.size() != models_.size())
            sheetsDirty_ = true;
        namesDirty_ = true;
        std::fill(widthsDirty_.begin(), widthsDirty_.end(), true);
        flush();
        return;
    }
    book_ = std::move(book);
    rebuild();
}

QTableView* SheetViewer::table(int sheet) const {
    return qobject_cast<QTableView*>(tabs_->widget(sheet));
}

void SheetViewer::rebuild() {
    publishTimer_.stop();
    while (tabs_->count() > 0) {
        QWidget* page = tabs_->widget(0);
        tabs_->removeTab(0);
        delete page;
    }
    for (SheetTableModel* m : models_)
        delete m;
    models_.clear();
    widthsDirty_.clear();
    namesDirty_ = sheetsDirty_ = false;
    if (!book_)
        return;
    for (std::size_t i = 0; i < book_->sheets.size(); ++i) {
        auto* model = new SheetTableModel(book_, static_cast<int>(i), this);
        auto* view = new QTableView;
        view->setModel(model);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setSelectionMode(QAbstractItemView::ContiguousSelection);
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
        connect(model, &QAbstractItemModel::columnsInserted, this,
                [this, i] { applyWidths(static_cast<int>(i)); });
        connect(model, &QAbstractItemModel::modelReset, this,
                [this, i] { applyWidths(static_cast<int>(i)); });
        models_.push_back(model);
        widthsDirty_.push_back(false);
        tabs_->addTab(view, book_->sheets[i].name);
        applyWidths(static_cast<int>(i));
    }
}

void SheetViewer::applyWidths(int sheet) {
    QTableView* view = table(sheet);
    if (!view || !book_ || static_cast<std::size_t>(sheet) >= book_->sheets.size())
        return;
    const Sheet& s = book_->sheets[static_cast<std::size_t>(sheet)];
    // Characters of the sheet to pixels of the window's font, with the
    // padding a spreadsheet adds around a cell.
    const double digit = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int columns = view->model()->columnCount();
    for (int c = 0; c < columns; ++c) {
        const auto it = s.columnWidths.find(c);
        const double chars = it != s.columnWidths.end() ? it->second : DefaultColumnWidth;
        view->setColumnWidth(c, static_cast<int>(std::lround(chars * digit + 5)));
    }
}

void SheetViewer::noteChange(int sheet, int row, int column) {
    if (!book_)
        return;
    if (sheet < 0 || static_cast<std::size_t>(sheet) >= models_.size() ||
        book_->sheets.size() != models_.size()) {
        sheetsDirty_ = true;
    } else if (row < 0 || column < 0) {
        widthsDirty_[static_cast<std::size_t>(sheet)] = true;
        namesDirty_ = true;
        models_[static_cast<std::size_t>(sheet)]->noteChange(-1, -1);
    } else {
        models_[static_cast<std::size_t>(sheet)]->noteChange(row, column);
    }
    if (!publishTimer_.isActive())
        publishTimer_.start();
}

void SheetViewer::flush() {
    publishTimer_.stop();
    if (sheetsDirty_) {
        const int current = tabs_->currentIndex();
        rebuild();
        tabs_->setCurrentIndex(std::min(current, tabs_->count() - 1));
        return;
    }
    for (SheetTableModel* m : models_)
        m->publish();
    if (namesDirty_)
        refreshNames();
    for (std::size_t i = 0; i < widthsDirty_.size(); ++i) {
        if (widthsDirty_[i])
            applyWidths(static_cast<int>(i));
        widthsDirty_[i] = false;
    }
}

void SheetViewer::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    Q_EMIT closed();
}

void SheetViewer::refreshNames() {
    namesDirty_ = false;
    for (int i = 0; i < tabs_->count() && static_cast<std::size_t>(i) < book_->sheets.size(); ++i)
        tabs_->setTabText(i, book_->sheets[static_cast<std::size_t>(i)].name);
}

// ---- WidgetEngineUi ----

WidgetEngineUi::WidgetEngineUi() = default;
WidgetEngineUi::~WidgetEngineUi() = default;

void WidgetEngineUi::show(std::shared_ptr<const Workbook> book, const QString& title) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw SheetError("Окно просмотра недоступно: программа работает без окон");
    if (!viewer_) {
        viewer_ = std::make_unique<SheetViewer>();
        QObject::connect(viewer_.get(), &SheetViewer::closed, [this] { notifyClosed(); });
    }
    viewer_->setWorkbook(std::move(book), title);
    viewer_->show();
    viewer_->raise();
}

void WidgetEngineUi::hide() noexcept {
    if (viewer_)
        viewer_->hide();
}

void WidgetEngineUi::changed(int sheet, int row, int column) noexcept {
    if (viewer_)
        viewer_->noteChange(sheet, row, column);
}

void WidgetEngineUi::print(const Workbook& book, const QString& title) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        throw SheetError("Печать недоступна: программа работает без окон");
    printWorkbook(book, title, QApplication::activeWindow());
}

void installWidgetEngineUi() {
    setEngineUiFactory([] { return std::make_shared<WidgetEngineUi>(); });
}

} // namespace t5170::sheet
