#pragma once
// The measurement journal: every complete result and the report's life,
// kept in an SQLite file beside the configuration file. The window's thread
// only queues what is to be written; a writer thread with its own
// connection commits it, so that no disk wait ever reaches the window.

#include "core/Measurement.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

class QThread;

namespace t5170::journal {

// The schema version this program writes (PRAGMA user_version).
inline constexpr int SchemaVersion = 1;

// `t5170.journal.sqlite` beside `t5170.INI`: the configuration file's
// folder and base name.
QString journalPathFor(const QString& iniPath);

// Brings the database of `connectionName` from its version up to
// SchemaVersion, each step in its own transaction. Returns the error text,
// empty on success. A version newer than this program's is an error.
QString migrate(const QString& connectionName);

// The instrument as it last reported itself (status panels 2 and 3).
struct Device {
    QString letter;
    std::optional<int> number;
    bool operator==(const Device&) const = default;
};

// The periodic series a result belongs to: its id and the result's place
// in it, counted from 1.
struct SeriesRef {
    qint64 id = 0;
    int index = 0;
};

// Events of the report's life as the journal keeps them.
enum class ReportEvent { Created, Opened, Saved, Closed, Added, Declined, Recovered };
QString eventName(ReportEvent event);

// How opening went: in use, started afresh after a damaged file was put
// aside, or not available at all (the program then runs without it).
struct OpenOutcome {
    enum Status { Ok, Damaged, Unavailable } status = Ok;
    QString path;    // the journal's file
    QString movedTo; // Damaged: where the damaged file went
    QString reason;  // Unavailable: why
    // The one box text for the operator; empty when all is well.
    QString message() const;
};

// A report that held records never saved when the program last ended
// without its shutdown.
struct Recovery {
    qint64 reportId = 0;
    QString path;                 // the report's file, empty when it never had one
    std::vector<qint64> entryIds; // in the order they were added
    QString reportName() const;   // file name, or "новый отчет"
    QString question() const;
};

class Writer;

class Journal : public QObject {
    Q_OBJECT
public:
    // Opens (creating or migrating) the journal at `path`. A damaged file is
    // renamed aside and a fresh one started; nothing comes back when the
    // journal cannot be used. `outcome` says which.
    static std::unique_ptr<Journal> open(const QString& path, OpenOutcome& outcome);
    ~Journal() override;

    const QString& path() const { return path_; }

    // ---- writes: queued on the calling thread, committed by the writer ----

    // A complete result; returns its entry id.
    qint64 append(const TIzmResult& result, const Device& device,
                  std::optional<SeriesRef> series = std::nullopt);
    // A new series id.
    qint64 newSeries() { return ++lastSeries_; }
    // Entry `entryId` is the `ref.index`-th result of series `ref.id`.
    void inSeries(qint64 entryId, SeriesRef ref);
    // A report came into being (created, or opened from `path`); returns its id.
    qint64 reportBegan(ReportEvent how, const QString& path = {});
    // Saved (also "saved as", with its new path), closed, declined, recovered.
    void reportEvent(qint64 reportId, ReportEvent event, const QString& path = {});
    // Entry `entryId` went into report `reportId`, sheet of `kind`, `row`.
    void placed(qint64 entryId, qint64 reportId, TIzmType kind, int row, const QString& reportName);

    // Waits until everything queued so far is committed or a commit fails.
    // For the shutdown and for tests; the window never calls it otherwise.
    void flush();

    // What the last run left unsaved, as found when the journal was opened.
    const std::optional<Recovery>& recovery() const { return recovery_; }

    // A cap on the file's size in pages (0: none). Writes past it fail as
    // on a full disk.
    void setPageLimit(qint64 pages);

    // Writes queued and not yet committed.
    int pending() const;
    // Writes queued so far; committed(seq) with seq at least this means all
    // of them are on the disk.
    qint64 queued() const { return seq_; }

Q_SIGNALS:
    // The first failure after a success (a full disk); the writer keeps trying.
    void writeFailed(const QString& reason);
    // Everything up to the `seq`-th queued write is on the disk.
    void committed(qint64 seq);

private:
    Journal(QString path, QString connection);
    void submit(QString sql, QVariantList values);
    bool start(QString& error);

    QString path_;
    QString readConnection_;
    qint64 lastEntry_ = 0;
    qint64 lastReport_ = 0;
    qint64 lastSeries_ = 0;
    qint64 seq_ = 0;
    std::optional<Recovery> recovery_;
    QThread* thread_ = nullptr;
    Writer* writer_ = nullptr; // lives in thread_
};

} // namespace t5170::journal
