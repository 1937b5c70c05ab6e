#include "journal/ui/JournalWindow.h"

#include "journal/JournalCsv.h"

#include "core/Texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <utility>

namespace t5170::journal {

// ---- model ----

// The reader thread's side: a connection of its own, opened on first use.
class PageLoader : public QObject {
public:
    explicit PageLoader(QString path) : path_(std::move(path)) {}
    Reader& reader() {
        if (!reader_)
            reader_ = std::make_unique<Reader>(path_);
        return *reader_;
    }

private:
    QString path_;
    std::unique_ptr<Reader> reader_;
};

JournalModel::JournalModel(const QString& path, QObject* parent)
    : QAbstractTableModel(parent), thread_(new QThread(this)), loader_(new PageLoader(path)) {
    thread_->setObjectName(QStringLiteral("JournalReader"));
    loader_->moveToThread(thread_);
    connect(thread_, &QThread::finished, loader_, &QObject::deleteLater);
    thread_->start();
    reload(PageSize);
}

JournalModel::~JournalModel() {
    thread_->quit();
    thread_->wait();
}

void JournalModel::request(qint64 offset, int limit) {
    if (!loading_) {
        loading_ = true;
        Q_EMIT busyChanged(true);
    }
    QMetaObject::invokeMethod(loader_, [this, loader = loader_, generation = generation_,
                                        filter = filter_, sort = sort_, offset, limit] {
        Reader& reader = loader->reader();
        std::vector<Entry> rows = reader.page(filter, sort, offset, limit);
        const QString error = reader.error();
        // Posted to the model: dropped if it is gone meanwhile.
        QMetaObject::invokeMethod(
            this,
            [this, generation, offset, limit, rows = std::move(rows), error]() mutable {
                arrived(generation, offset, limit, std::move(rows), error);
            },
            Qt::QueuedConnection);
    });
}

void JournalModel::arrived(quint64 generation, qint64 offset, int limit, std::vector<Entry> rows,
                           const QString& error) {
    if (generation != generation_)
        return;
    loading_ = false;
    if (!error.isEmpty())
        Q_EMIT readFailed(error);
    atEnd_ = static_cast<qint64>(rows.size()) < limit;
    if (offset == 0) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
    } else if (!rows.empty()) {
        const int first = rowCount();
        beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
        std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
        endInsertRows();
    }
    Q_EMIT busyChanged(false);
}

void JournalModel::reload(qint64 keep) {
    // What is shown stays until the new rows are there.
    ++generation_;
    loading_ = false;
    request(0, static_cast<int>(std::clamp<qint64>(keep, PageSize, 1 << 20)));
}

void JournalModel::setFilter(const Filter& filter) {
    filter_ = filter;
    reload(PageSize);
}

void JournalModel::refresh() {
    reload(static_cast<qint64>(rows_.size()));
}

void JournalModel::exportCsv(const QString& path, std::function<void(const QString&, int)> done) {
    QMetaObject::invokeMethod(loader_, [this, loader = loader_, filter = filter_, sort = sort_,
                                        path, done = std::move(done)] {
        Reader& reader = loader->reader();
        const std::vector<Entry> rows =
            reader.page(filter, sort, 0, std::numeric_limits<int>::max());
        const QString error = reader.isOpen() ? saveCsv(path, rows) : reader.error();
        QMetaObject::invokeMethod(
            this, [done, error, n = static_cast<int>(rows.size())] { done(error, n); },
            Qt::QueuedConnection);
    });
}

int JournalModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int JournalModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant JournalModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto column = static_cast<Column>(index.column());
    if (role == Qt::DisplayRole)
        return cellText(entry(index.row()), column);
    if (role == Qt::TextAlignmentRole) {
        switch (column) {
        case Column::U:
        case Column::R:
        case Column::R2:
        case Column::K:
            return int(Qt::AlignRight | Qt::AlignVCenter);
        default:
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    }
    return {};
}

QVariant JournalModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < ColumnCount)
        return columnTitle(static_cast<Column>(section));
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool JournalModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !atEnd_;
}

void JournalModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || atEnd_ || loading_)
        return;
    request(static_cast<qint64>(rows_.size()), PageSize);
}

void JournalModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= ColumnCount)
        return;
    sort_ = {static_cast<Column>(column), order};
    reload(PageSize);
}

// ---- window ----

JournalWindow::JournalWindow(const QString& journalPath, const QString& iniPath, QWidget* parent)
    : QMainWindow(parent), model_(new JournalModel(journalPath, this)) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Журнал измерений"));
    // Closing the main window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);

    auto* filters = new QHBoxLayout;
    fromCheck_ = new QCheckBox(QStringLiteral("с"), central);
    fromDate_ = new QDateEdit(QDate::currentDate(), central);
    toCheck_ = new QCheckBox(QStringLiteral("по"), central);
    toDate_ = new QDateEdit(QDate::currentDate(), central);
    for (QDateEdit* d : {fromDate_, toDate_}) {
        d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        d->setCalendarPopup(true);
        d->setEnabled(false);
    }
    kind_ = new QComboBox(central);
    kind_->addItem(QStringLiteral("Все"), -1);
    for (TIzmType k : {izmR, izmAbs, izmPol, izmU})
        kind_->addItem(text::kindCaption(k), int(k));
    text_ = new QLineEdit(central);
    text_->setPlaceholderText(QStringLiteral("Прибор или отчет"));
    text_->setClearButtonEnabled(true);
    filters->addWidget(fromCheck_);
    filters->addWidget(fromDate_);
    filters->addWidget(toCheck_);
    filters->addWidget(toDate_);
    filters->addWidget(kind_);
    filters->addWidget(text_, 1);
    layout->addLayout(filters);

    table_ = new QTableView(central);
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setSortingEnabled(true);
    table_->horizontalHeader()->setSortIndicator(int(Column::Date), Qt::DescendingOrder);
    layout->addWidget(table_, 1);
    // Widths from the first page: the kinds' captions are long.
    connect(
        model_, &QAbstractItemModel::modelReset, this,
        [this] {
            if (model_->rowCount() > 0 && !widthsSet_) {
                widthsSet_ = true;
                table_->resizeColumnsToContents();
            }
        },
        Qt::QueuedConnection);

    auto* buttons = new QHBoxLayout;
    export_ = new QPushButton(QStringLiteral("Экспорт в CSV…"), central);
    add_ = new QPushButton(QStringLiteral("Добавить в отчет"), central);
    buttons->addWidget(export_);
    buttons->addWidget(add_);
    trend_ = new QPushButton(QStringLiteral("График"), central);
    buttons->addWidget(trend_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    setCentralWidget(central);

    message_ = new QLabel(this);
    paths_ = new QLabel(
        QStringLiteral("Журнал: %1    Настройка: %2")
            .arg(QDir::toNativeSeparators(journalPath), QDir::toNativeSeparators(iniPath)),
        this);
    paths_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar()->addWidget(paths_, 1);
    statusBar()->addPermanentWidget(message_);
    connect(model_, &JournalModel::readFailed, this, [this](const QString& reason) {
        setMessage(QStringLiteral("Журнал измерений недоступен: ") + reason);
    });
    connect(model_, &JournalModel::busyChanged, this, [this](bool busy) {
        if (busy)
            setMessage(QStringLiteral("Поиск…"));
        else if (message_->text() == QStringLiteral("Поиск…"))
            setMessage(QString());
    });

    typing_ = new QTimer(this);
    typing_->setSingleShot(true);
    typing_->setInterval(300);
    refresh_ = new QTimer(this);
    refresh_->setSingleShot(true);
    refresh_->setInterval(500);
    connect(typing_, &QTimer::timeout, this, &JournalWindow::applyFilter);
    connect(refresh_, &QTimer::timeout, this, [this] {
        if (!isVisible())
            return;
        // New entries must not take the operator's selection or place.
        keptSelection_.clear();
        for (const QModelIndex& i : table_->selectionModel()->selectedRows())
            keptSelection_.insert(model_->entry(i.row()).id);
        keptScroll_ = table_->verticalScrollBar()->value();
        restorePending_ = true;
        model_->refresh();
    });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        if (!std::exchange(restorePending_, false))
            return;
        QItemSelection selection;
        for (int r = 0; r < model_->rowCount(); ++r)
            if (keptSelection_.contains(model_->entry(r).id))
                selection.select(model_->index(r, 0), model_->index(r, ColumnCount - 1));
        table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        table_->verticalScrollBar()->setValue(keptScroll_);
    });
    connect(text_, &QLineEdit::textChanged, typing_, qOverload<>(&QTimer::start));
    for (QCheckBox* c : {fromCheck_, toCheck_})
        connect(c, &QCheckBox::toggled, this, [this] {
            fromDate_->setEnabled(fromCheck_->isChecked());
            toDate_->setEnabled(toCheck_->isChecked());
            applyFilter();
        });
    for (QDateEdit* d : {fromDate_, toDate_})
        connect(d, &QDateEdit::dateChanged, this, &JournalWindow::applyFilter);
    connect(kind_, &QComboBox::currentIndexChanged, this, &JournalWindow::applyFilter);
    connect(export_, &QPushButton::clicked, this, &JournalWindow::exportCsv);
    connect(add_, &QPushButton::clicked, this, &JournalWindow::addSelected);
    connect(trend_, &QPushButton::clicked, this, &JournalWindow::showTrend);
    connect(model_, &QAbstractItemModel::modelReset, this, &JournalWindow::updateButtons);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &JournalWindow::updateButtons);
    updateButtons();

    resize(900, 500);
}

JournalWindow::~JournalWindow() = default;

QString JournalWindow::statusText() const {
    return paths_->text();
}

QString JournalWindow::messageText() const {
    return message_->text();
}

void JournalWindow::setMessage(const QString& text) {
    message_->setText(text);
}

void JournalWindow::applyFilter() {
    typing_->stop();
    Filter f;
    if (fromCheck_->isChecked())
        f.from = fromDate_->date();
    if (toCheck_->isChecked())
        f.to = toDate_->date();
    if (const int k = kind_->currentData().toInt(); k >= 0)
        f.kind = static_cast<TIzmType>(k);
    f.text = text_->text().trimmed();
    model_->setFilter(f);
}

void JournalWindow::journalChanged() {
    if (!refresh_->isActive())
        refresh_->start();
}

void JournalWindow::updateButtons() {
    add_->setEnabled(table_->selectionModel()->hasSelection());
    trend_->setEnabled(table_->selectionModel()->hasSelection());
    export_->setEnabled(model_->rowCount() > 0);
}

void JournalWindow::exportCsv() {
    std::optional<QString> path;
    if (saveName_) {
        path = saveName_();
    } else {
        QFileDialog dialog(this, QStringLiteral("Экспорт в CSV"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(QStringLiteral("CSV (*.csv)"));
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (!path || path->isEmpty())
        return;
    setMessage(QStringLiteral("Экспорт…"));
    model_->exportCsv(*path, [this](const QString& error, int rows) {
        setMessage(error.isEmpty() ? QStringLiteral("Записей: %1").arg(rows)
                                   : QStringLiteral("Ошибка записи: ") + error);
        Q_EMIT exported(error);
    });
}

std::vector<Entry> JournalWindow::selectedEntries() const {
    std::vector<Entry> chosen;
    for (const QModelIndex& i : table_->selectionModel()->selectedRows())
        chosen.push_back(model_->entry(i.row()));
    std::sort(chosen.begin(), chosen.end(), [](const Entry& a, const Entry& b) {
        return a.result.Time != b.result.Time ? a.result.Time < b.result.Time : a.id < b.id;
    });
    return chosen;
}

void JournalWindow::showTrend() {
    const std::vector<Entry> chosen = selectedEntries();
    if (!chosen.empty() && trendHandler_)
        trendHandler_(chosen);
}

void JournalWindow::addSelected() {
    const std::vector<Entry> chosen = selectedEntries();
    if (chosen.empty() || !addHandler_)
        return;
    if (!addHandler_(chosen))
        setMessage(QStringLiteral("Сначало откройте отчет"));
    else
        setMessage(QStringLiteral("Добавлено в отчет: %1").arg(chosen.size()));
}

} // namespace t5170::journal
