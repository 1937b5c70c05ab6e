#pragma once
// Reading the journal: its entries filtered and sorted, a page at a time,
// with their texts as the main window shows them. Each reader has its own
// connection on the thread that made it.

#include "journal/Journal.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace t5170::journal {

struct Entry {
    qint64 id = 0;
    TIzmResult result; // Time: the PC's time of the result
    Device device;
    std::optional<SeriesRef> series;
    qint64 reportId = 0; // 0: in no report
    QString reportName;
    int sheet = -1; // TIzmType of the sheet
    int row = 0;
};

// Columns of the journal window, in their order.
enum class Column { Date, Time, Kind, U, R, R2, K, Device, Report };
inline constexpr int ColumnCount = 9;
QString columnTitle(Column column);

// Texts of an entry's cells: the main window's number texts and units; empty
// for a value the kind does not have.
QString cellText(const Entry& entry, Column column);
// "А123": the serial letter and number as last reported.
QString deviceText(const Device& device);

// A result with its time as milliseconds since the epoch; its Time is left
// null. Many rows read this way spare a conversion to local time each.
struct TimedResult {
    qint64 ms = 0;
    TIzmResult result;
};

struct Filter {
    std::optional<QDate> from, to; // inclusive, the PC's local dates
    std::optional<TIzmType> kind;
    QString text; // part of the instrument or the report name
};

struct Sort {
    Column column = Column::Date;
    Qt::SortOrder order = Qt::DescendingOrder; // newest first
};

// The WHERE and ORDER BY clauses of a filter and a sort, and the values
// bound to the WHERE's placeholders in their order.
struct SqlParts {
    QString where;
    QString orderBy;
    QVariantList values;
};
SqlParts sqlParts(const Filter& filter, const Sort& sort);

class Reader {
public:
    explicit Reader(const QString& path);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool isOpen() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }

    // Up to `limit` entries from `offset` on.
    std::vector<Entry> page(const Filter& filter, const Sort& sort, qint64 offset, int limit);
    qint64 count(const Filter& filter);
    // The entries of `ids`, in that order (missing ones left out).
    std::vector<Entry> entries(const std::vector<qint64>& ids);
    // The entries of series `seriesId`, in their order in it.
    std::vector<Entry> series(qint64 seriesId);
    // The results of the entries `filter` gives, oldest first.
    std::vector<TimedResult> results(const Filter& filter);
    // The series of the newest entry that belongs to one; none without any.
    std::optional<qint64> latestSeries();

private:
    std::vector<Entry> select(const QString& tail, const QVariantList& values);

    QString connection_;
    QString error_;
};

} // namespace t5170::journal
