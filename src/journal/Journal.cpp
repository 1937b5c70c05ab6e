#include "journal/Journal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <atomic>
#include <deque>

namespace t5170::journal {

namespace {

std::atomic<int> connectionCounter{0};

QString newConnectionName(const char* role) {
    return QStringLiteral("t5170-journal-%1-%2").arg(QLatin1String(role)).arg(++connectionCounter);
}

// The schema, step by step: entry i brings version i to i + 1.
const char* const Migrations[] = {
    // 0 -> 1: the first schema.
    "CREATE TABLE entries("
    " id INTEGER PRIMARY KEY,"
    " ts INTEGER NOT NULL," // the PC's time, milliseconds since the epoch
    " kind INTEGER NOT NULL,"
    " u INTEGER NOT NULL,"
    " r REAL NOT NULL, r_unit INTEGER NOT NULL, r_kom INTEGER NOT NULL,"
    " r2 REAL NOT NULL, r2_unit INTEGER NOT NULL, r2_kom INTEGER NOT NULL,"
    " koef INTEGER NOT NULL,"
    " serial_letter TEXT NOT NULL DEFAULT '', serial_number INTEGER,"
    " series_id INTEGER, series_index INTEGER,"
    " report_id INTEGER, report_name TEXT NOT NULL DEFAULT '',"
    " report_sheet INTEGER, report_row INTEGER);"
    "CREATE INDEX entries_ts ON entries(ts, id);"
    "CREATE INDEX entries_kind_ts ON entries(kind, ts, id);"
    // The report's life in the order it happened; 'added' rows say where an
    // entry went.
    "CREATE TABLE report_log("
    " seq INTEGER PRIMARY KEY,"
    " report_id INTEGER NOT NULL,"
    " event TEXT NOT NULL,"
    " path TEXT NOT NULL DEFAULT '',"
    " at INTEGER NOT NULL,"
    " entry_id INTEGER, sheet INTEGER, row INTEGER);"
    "CREATE INDEX report_log_report ON report_log(report_id, seq);",
};
static_assert(std::size(Migrations) == SchemaVersion);

bool isDamage(const QSqlError& e) {
    // SQLITE_CORRUPT, SQLITE_NOTADB
    const QString code = e.nativeErrorCode();
    return code == QLatin1String("11") || code == QLatin1String("26");
}

struct Probe {
    enum { Ok, Damaged, Failed } status = Ok;
    QString error;
};

// Opens the file, checks it and brings its schema up to date.
Probe probe(const QString& path) {
    Probe p;
    const QString name = newConnectionName("open");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            p = {Probe::Failed, db.lastError().text()};
        } else {
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next()) {
                p = {isDamage(q.lastError()) ? Probe::Damaged : Probe::Failed,
                     q.lastError().text()};
            } else if (q.value(0).toString() != QLatin1String("ok")) {
                p = {Probe::Damaged, q.value(0).toString()};
            } else {
                q.finish();
                if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
                    q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
                    p = {isDamage(q.lastError()) ? Probe::Damaged : Probe::Failed,
                         q.lastError().isValid() ? q.lastError().text()
                                                 : QStringLiteral("WAL недоступен")};
                q.finish();
                if (p.status == Probe::Ok) {
                    const QString error = migrate(name);
                    if (!error.isEmpty())
                        p = {Probe::Failed, error};
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return p;
}

// A null text would be bound as NULL.
QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

QString stamp() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

// The damaged file and its companions, renamed with the date and time.
std::optional<QString> putAside(const QString& path) {
    const QFileInfo info(path);
    const QString base = info.dir().filePath(info.completeBaseName());
    QString target = QStringLiteral("%1.damaged-%2.%3").arg(base, stamp(), info.suffix());
    for (int i = 2; QFileInfo::exists(target); ++i)
        target = QStringLiteral("%1.damaged-%2-%3.%4").arg(base, stamp()).arg(i).arg(info.suffix());
    if (!QFile::rename(path, target))
        return std::nullopt;
    for (const char* companion : {"-wal", "-shm"}) {
        const QString from = path + QLatin1String(companion);
        if (QFileInfo::exists(from) && !QFile::rename(from, target + QLatin1String(companion)))
            QFile::remove(from);
    }
    return target;
}

// Write permission on the folder and the file: their mode bits, not only
// what the system would let this user do (an administrator may write
// anywhere).
std::optional<QString> folderProblem(const QString& path) {
    const QFileInfo dir(QFileInfo(path).absolutePath());
    if (!dir.isDir())
        return QStringLiteral("нет папки %1").arg(QDir::toNativeSeparators(dir.filePath()));
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (!dir.isWritable() || !(dir.permissions() & anyWrite))
        return QStringLiteral("нет права записи в папку %1")
            .arg(QDir::toNativeSeparators(dir.filePath()));
    const QFileInfo file(path);
    if (file.exists() && (!file.isWritable() || !(file.permissions() & anyWrite)))
        return QStringLiteral("нет права записи в файл %1")
            .arg(QDir::toNativeSeparators(file.filePath()));
    return std::nullopt;
}

} // namespace

QString journalPathFor(const QString& iniPath) {
    const QFileInfo ini(iniPath);
    return ini.dir().filePath(ini.completeBaseName() + QStringLiteral(".journal.sqlite"));
}

QString migrate(const QString& connectionName) {
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return q.lastError().text();
    int version = q.value(0).toInt();
    q.finish();
    if (version > SchemaVersion)
        return QStringLiteral("версия журнала %1 новее этой программы").arg(version);
    for (; version < SchemaVersion; ++version) {
        if (!db.transaction())
            return db.lastError().text();
        const QStringList statements =
            QString::fromUtf8(Migrations[version]).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (const QString& s : statements) {
            if (!q.exec(s)) {
                const QString error = q.lastError().text();
                db.rollback();
                return error;
            }
        }
        if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version + 1)) || !db.commit()) {
            const QString error =
                q.lastError().isValid() ? q.lastError().text() : db.lastError().text();
            db.rollback();
            return error;
        }
    }
    return {};
}

QString eventName(ReportEvent event) {
    switch (event) {
    case ReportEvent::Created:
        return QStringLiteral("created");
    case ReportEvent::Opened:
        return QStringLiteral("opened");
    case ReportEvent::Saved:
        return QStringLiteral("saved");
    case ReportEvent::Closed:
        return QStringLiteral("closed");
    case ReportEvent::Added:
        return QStringLiteral("added");
    case ReportEvent::Declined:
        return QStringLiteral("declined");
    case ReportEvent::Recovered:
        return QStringLiteral("recovered");
    }
    return {};
}

QString OpenOutcome::message() const {
    switch (status) {
    case Damaged:
        return QStringLiteral("Журнал измерений поврежден и сохранен как ") +
               QDir::toNativeSeparators(movedTo);
    case Unavailable:
        return QStringLiteral("Журнал измерений недоступен") + QLatin1Char('\n') +
               QDir::toNativeSeparators(path) + QLatin1Char('\n') + reason;
    case Ok:
        break;
    }
    return {};
}

QString Recovery::reportName() const {
    return path.isEmpty() ? QStringLiteral("новый отчет") : QFileInfo(path).fileName();
}

QString Recovery::question() const {
    return QStringLiteral("Программа была завершена аварийно. В отчете «%1» остались "
                          "несохраненные записи: %2. Восстановить их?")
        .arg(reportName())
        .arg(entryIds.size());
}

// ---- the writer ----

struct Op {
    qint64 seq = 0;
    QString sql;
    QVariantList values;
};

class Writer : public QObject {
    Q_OBJECT
public:
    Writer(QString path, QString connection)
        : path_(std::move(path)), name_(std::move(connection)) {}

    // In the writer's thread.
    QString openConnection() {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path_);
        if (!db.open())
            return db.lastError().text();
        QSqlQuery q(db);
        // Each commit is on the disk before the next one starts. Appending
        // needs few pages in memory: the cache stays small and bounded.
        for (const char* pragma :
             {"PRAGMA synchronous=FULL", "PRAGMA busy_timeout=5000", "PRAGMA cache_size=-256"})
            if (!q.exec(QLatin1String(pragma)))
                return q.lastError().text();
        retry_ = new QTimer(this);
        retry_->setSingleShot(true);
        retry_->setInterval(250);
        connect(retry_, &QTimer::timeout, this, &Writer::drain);
        return {};
    }

    void closeConnection() {
        drain();
        statements_.clear();
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }

    // Any thread.
    void enqueue(Op op) {
        QMutexLocker lock(&mutex_);
        queue_.push_back(std::move(op));
        if (scheduled_)
            return;
        scheduled_ = true;
        QMetaObject::invokeMethod(this, &Writer::drain, Qt::QueuedConnection);
    }

    void waitFor(qint64 seq) {
        QMutexLocker lock(&mutex_);
        const qint64 failures = failures_;
        while (done_ < seq && failures_ == failures)
            changed_.wait(&mutex_);
    }

    int pending() const {
        QMutexLocker lock(&mutex_);
        return static_cast<int>(queue_.size()) + inFlight_;
    }

    void setPageLimit(qint64 pages) {
        QSqlQuery q(QSqlDatabase::database(name_, false));
        q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages > 0 ? pages : 1073741823));
    }

Q_SIGNALS:
    void failed(const QString& reason);
    void committed(qint64 seq);

private:
    void drain() {
        std::deque<Op> batch;
        {
            QMutexLocker lock(&mutex_);
            scheduled_ = false;
            batch.swap(queue_);
            inFlight_ = static_cast<int>(batch.size());
        }
        if (batch.empty())
            return;
        retry_->stop();
        const QString error = commit(batch);
        const qint64 last = batch.back().seq;
        {
            QMutexLocker lock(&mutex_);
            inFlight_ = 0;
            if (error.isEmpty()) {
                done_ = last;
            } else {
                // Kept, in their order, ahead of whatever came meanwhile.
                ++failures_;
                for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                    queue_.push_front(std::move(*it));
            }
            changed_.wakeAll();
        }
        if (error.isEmpty()) {
            failing_ = false;
            Q_EMIT committed(last);
            return;
        }
        if (!failing_) {
            failing_ = true;
            Q_EMIT failed(error);
        }
        retry_->start();
    }

    QString commit(const std::deque<Op>& batch) {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        if (!db.transaction())
            return db.lastError().text();
        for (const Op& op : batch) {
            auto it = statements_.find(op.sql);
            if (it == statements_.end()) {
                QSqlQuery q(db);
                if (!q.prepare(op.sql)) {
                    const QString error = q.lastError().text();
                    db.rollback();
                    return error;
                }
                it = statements_.insert(op.sql, q);
            }
            QSqlQuery& q = *it;
            for (int i = 0; i < op.values.size(); ++i)
                q.bindValue(i, op.values[i]);
            if (!q.exec()) {
                const QString error = q.lastError().text();
                q.finish();
                db.rollback();
                return error;
            }
            q.finish();
        }
        if (!db.commit()) {
            const QString error = db.lastError().text();
            db.rollback();
            return error;
        }
        return {};
    }

    QString path_;
    QString name_;
    QHash<QString, QSqlQuery> statements_;
    QTimer* retry_ = nullptr;
    bool failing_ = false;

    mutable QMutex mutex_;
    QWaitCondition changed_;
    std::deque<Op> queue_;
    bool scheduled_ = false;
    int inFlight_ = 0;    // taken from the queue, being committed
    qint64 done_ = 0;     // committed up to
    qint64 failures_ = 0; // failed commits so far
};

// ---- the journal ----

Journal::Journal(QString path, QString connection)
    : path_(std::move(path)), readConnection_(std::move(connection)) {}

std::unique_ptr<Journal> Journal::open(const QString& path, OpenOutcome& outcome) {
    outcome = OpenOutcome{};
    outcome.path = path;
    if (const auto problem = folderProblem(path)) {
        outcome.status = OpenOutcome::Unavailable;
        outcome.reason = *problem;
        return nullptr;
    }
    Probe p = probe(path);
    if (p.status == Probe::Damaged) {
        const std::optional<QString> moved = putAside(path);
        if (!moved) {
            outcome.status = OpenOutcome::Unavailable;
            outcome.reason = p.error;
            return nullptr;
        }
        outcome.status = OpenOutcome::Damaged;
        outcome.movedTo = *moved;
        p = probe(path);
    }
    if (p.status != Probe::Ok) {
        outcome.status = OpenOutcome::Unavailable;
        outcome.reason = p.error;
        return nullptr;
    }
    std::unique_ptr<Journal> journal(new Journal(path, newConnectionName("start")));
    QString error;
    if (!journal->start(error)) {
        outcome.status = OpenOutcome::Unavailable;
        outcome.reason = error;
        return nullptr;
    }
    return journal;
}

bool Journal::start(QString& error) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), readConnection_);
        db.setDatabaseName(path_);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            const auto scalar = [&](const QString& sql) -> qint64 {
                if (!q.exec(sql) || !q.next()) {
                    error = q.lastError().text();
                    return 0;
                }
                const qint64 v = q.value(0).toLongLong();
                q.finish();
                return v;
            };
            lastEntry_ = scalar(QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM entries"));
            lastSeries_ = scalar(QStringLiteral("SELECT COALESCE(MAX(series_id), 0) FROM entries"));
            lastReport_ =
                scalar(QStringLiteral("SELECT COALESCE(MAX(report_id), 0) FROM report_log"));
            // The last report's story: records added since its last save,
            // unless it was closed (or the question answered) after them.
            if (error.isEmpty() && lastReport_ > 0) {
                q.prepare(QStringLiteral("SELECT event, path, entry_id FROM report_log "
                                         "WHERE report_id = ? ORDER BY seq"));
                q.addBindValue(lastReport_);
                if (!q.exec())
                    error = q.lastError().text();
                Recovery r;
                r.reportId = lastReport_;
                bool ended = false;
                while (q.next()) {
                    const QString event = q.value(0).toString();
                    if (!q.value(1).toString().isEmpty())
                        r.path = q.value(1).toString();
                    if (event == eventName(ReportEvent::Added))
                        r.entryIds.push_back(q.value(2).toLongLong());
                    else if (event == eventName(ReportEvent::Saved))
                        r.entryIds.clear();
                    else if (event == eventName(ReportEvent::Closed) ||
                             event == eventName(ReportEvent::Declined) ||
                             event == eventName(ReportEvent::Recovered))
                        ended = true;
                }
                if (!ended && !r.entryIds.empty())
                    recovery_ = std::move(r);
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(readConnection_);
    if (!error.isEmpty())
        return false;

    thread_ = new QThread(this);
    thread_->setObjectName(QStringLiteral("JournalWriter"));
    writer_ = new Writer(path_, newConnectionName("writer"));
    writer_->moveToThread(thread_);
    connect(thread_, &QThread::finished, writer_, &QObject::deleteLater);
    connect(writer_, &Writer::failed, this, &Journal::writeFailed, Qt::QueuedConnection);
    connect(writer_, &Writer::committed, this, &Journal::committed, Qt::QueuedConnection);
    thread_->start();
    QMetaObject::invokeMethod(
        writer_, [this, &error] { error = writer_->openConnection(); },
        Qt::BlockingQueuedConnection);
    if (!error.isEmpty()) {
        QMetaObject::invokeMethod(
            writer_, [this] { writer_->closeConnection(); }, Qt::BlockingQueuedConnection);
        thread_->quit();
        thread_->wait();
        return false;
    }
    return true;
}

Journal::~Journal() {
    if (!thread_)
        return;
    // Whatever is queued is tried once more before the thread ends.
    QMetaObject::invokeMethod(
        writer_, [w = writer_] { w->closeConnection(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
}

void Journal::submit(QString sql, QVariantList values) {
    writer_->enqueue(Op{++seq_, std::move(sql), std::move(values)});
}

qint64 Journal::append(const TIzmResult& r, const Device& device, std::optional<SeriesRef> series) {
    const qint64 id = ++lastEntry_;
    submit(QStringLiteral("INSERT INTO entries(id, ts, kind, u, r, r_unit, r_kom, r2, r2_unit, "
                          "r2_kom, koef, serial_letter, serial_number, series_id, series_index) "
                          "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
           {id, r.Time.toMSecsSinceEpoch(), int(r.Kind), r.U, r.R, int(r.RUnit), r.RkOm, r.R2,
            int(r.R2Unit), r.R2kOm, r.Koef, notNull(device.letter),
            device.number ? QVariant(*device.number) : QVariant(QMetaType(QMetaType::Int)),
            series ? QVariant(series->id) : QVariant(QMetaType(QMetaType::LongLong)),
            series ? QVariant(series->index) : QVariant(QMetaType(QMetaType::Int))});
    return id;
}

void Journal::inSeries(qint64 entryId, SeriesRef ref) {
    submit(QStringLiteral("UPDATE entries SET series_id = ?, series_index = ? WHERE id = ?"),
           {ref.id, ref.index, entryId});
}

namespace {
const QString LogInsert =
    QStringLiteral("INSERT INTO report_log(report_id, event, path, at, entry_id, sheet, row) "
                   "VALUES(?, ?, ?, ?, ?, ?, ?)");
QVariantList logValues(qint64 reportId, ReportEvent event, const QString& path) {
    return {reportId,
            eventName(event),
            notNull(path),
            QDateTime::currentMSecsSinceEpoch(),
            QVariant(QMetaType(QMetaType::LongLong)),
            QVariant(QMetaType(QMetaType::Int)),
            QVariant(QMetaType(QMetaType::Int))};
}
} // namespace

qint64 Journal::reportBegan(ReportEvent how, const QString& path) {
    const qint64 id = ++lastReport_;
    submit(LogInsert, logValues(id, how, path));
    return id;
}

void Journal::reportEvent(qint64 reportId, ReportEvent event, const QString& path) {
    submit(LogInsert, logValues(reportId, event, path));
}

void Journal::placed(qint64 entryId, qint64 reportId, TIzmType kind, int row,
                     const QString& reportName) {
    QVariantList values = logValues(reportId, ReportEvent::Added, QString());
    values[4] = entryId;
    values[5] = int(kind);
    values[6] = row;
    submit(LogInsert, std::move(values));
    submit(QStringLiteral("UPDATE entries SET report_id = ?, report_name = ?, report_sheet = ?, "
                          "report_row = ? WHERE id = ?"),
           {reportId, notNull(reportName), int(kind), row, entryId});
}

void Journal::flush() {
    writer_->waitFor(seq_);
}

void Journal::setPageLimit(qint64 pages) {
    QMetaObject::invokeMethod(
        writer_, [w = writer_, pages] { w->setPageLimit(pages); }, Qt::BlockingQueuedConnection);
}

int Journal::pending() const {
    return writer_->pending();
}

} // namespace t5170::journal

#include "Journal.moc"
