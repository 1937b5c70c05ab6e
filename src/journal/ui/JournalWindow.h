#pragma once
// The journal window: the results newest first, filtered by dates, kind and
// a text, sortable by any column, fetched from the file a page at a time;
// export of the rows shown to CSV and adding the selected ones to the
// report.

#include "journal/JournalQuery.h"

#include <QAbstractTableModel>
#include <QMainWindow>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QThread;
class QTimer;

namespace t5170::journal {

class PageLoader;

// The journal's entries for a view: rows fetched lazily, LIMIT/OFFSET pages
// in the order of the sort, over the indexes of time and kind. The queries
// run on a reader thread of their own, so that a filter no index serves
// (a text) never holds up the window: the rows shown are replaced when the
// new ones have arrived.
class JournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int PageSize = 256;

    explicit JournalModel(const QString& path, QObject* parent = nullptr);
    ~JournalModel() override;

    const Filter& filter() const { return filter_; }
    const Sort& currentSort() const { return sort_; }
    void setFilter(const Filter& filter);
    // Reads again what is shown (new entries, new placements).
    void refresh();
    // A query is under way.
    bool busy() const { return loading_; }

    const Entry& entry(int row) const { return rows_.at(static_cast<std::size_t>(row)); }
    // Every entry the filter and sort give, not only those fetched so far,
    // written to `path` as CSV on the reader thread; `done` gets the error
    // text (empty on success) and the number of rows.
    void exportCsv(const QString& path, std::function<void(const QString&, int)> done);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    void sort(int column, Qt::SortOrder order) override;

Q_SIGNALS:
    void busyChanged(bool busy);
    // The journal could not be read.
    void readFailed(const QString& reason);

private:
    void request(qint64 offset, int limit);
    void arrived(quint64 generation, qint64 offset, int limit, std::vector<Entry> rows,
                 const QString& error);
    void reload(qint64 keep);

    QThread* thread_;
    PageLoader* loader_; // lives in thread_
    Filter filter_;
    Sort sort_;
    std::vector<Entry> rows_;
    quint64 generation_ = 0;
    bool loading_ = false;
    bool atEnd_ = false;
};

class JournalWindow : public QMainWindow {
    Q_OBJECT
public:
    JournalWindow(const QString& journalPath, const QString& iniPath, QWidget* parent = nullptr);
    ~JournalWindow() override;

    // "Добавить в отчет": the selected entries, oldest first; false when no
    // report is open.
    using AddHandler = std::function<bool(const std::vector<Entry>&)>;
    void setAddHandler(AddHandler handler) { addHandler_ = std::move(handler); }
    // The file "Экспорт в CSV…" writes to; by default the save dialog's choice.
    using SaveNameProvider = std::function<std::optional<QString>()>;
    void setSaveNameProvider(SaveNameProvider provider) { saveName_ = std::move(provider); }
    // "График": the selected entries, oldest first, shown over time.
    using TrendHandler = std::function<void(const std::vector<Entry>&)>;
    void setTrendHandler(TrendHandler handler) { trendHandler_ = std::move(handler); }

    JournalModel& model() const { return *model_; }
    QTableView* table() const { return table_; }
    QCheckBox* fromCheck() const { return fromCheck_; }
    QCheckBox* toCheck() const { return toCheck_; }
    QDateEdit* fromDate() const { return fromDate_; }
    QDateEdit* toDate() const { return toDate_; }
    QComboBox* kindBox() const { return kind_; }
    QLineEdit* textEdit() const { return text_; }
    QPushButton* exportButton() const { return export_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* trendButton() const { return trend_; }
    QString statusText() const;
    QString messageText() const;

    // Applies the filter controls now (typing waits a moment first).
    void applyFilter();
    void exportCsv();
    void addSelected();
    void showTrend();

Q_SIGNALS:
    // "Экспорт в CSV…" finished: the error text, empty on success.
    void exported(const QString& error);

public Q_SLOTS:
    // Something was committed: the rows are read again, a little later.
    void journalChanged();

private:
    void updateButtons();
    void setMessage(const QString& text);
    std::vector<Entry> selectedEntries() const;

    JournalModel* model_;
    QTableView* table_;
    QCheckBox* fromCheck_;
    QCheckBox* toCheck_;
    QDateEdit* fromDate_;
    QDateEdit* toDate_;
    QComboBox* kind_;
    QLineEdit* text_;
    QPushButton* export_;
    QPushButton* add_;
    QPushButton* trend_;
    QLabel* message_;
    QLabel* paths_;
    QTimer* typing_;
    QTimer* refresh_;
    AddHandler addHandler_;
    SaveNameProvider saveName_;
    bool widthsSet_ = false;
    // Kept across a refresh: the selected entries and the scroll position.
    QSet<qint64> keptSelection_;
    int keptScroll_ = 0;
    bool restorePending_ = false;
    TrendHandler trendHandler_;
};

} // namespace t5170::journal
