#include "journal/JournalQuery.h"

#include "core/Texts.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>
#include <unordered_map>

namespace t5170::journal {

namespace {

std::atomic<int> readerCounter{0};

const char* const Columns = "id, ts, kind, u, r, r_unit, r_kom, r2, r2_unit, r2_kom, koef, "
                            "serial_letter, serial_number, series_id, series_index, report_id, "
                            "report_name, report_sheet, report_row";

// The value part of a label ("R = 1,23 МОм" -> "1,23 МОм").
QString valueOf(const QString& label) {
    const qsizetype at = label.indexOf(QLatin1String(" = "));
    return at < 0 ? label : label.mid(at + 3);
}

QString likePattern(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

qint64 startOfDay(const QDate& d) {
    return d.startOfDay().toMSecsSinceEpoch();
}

} // namespace

QString columnTitle(Column column) {
    static const char* const titles[ColumnCount] = {"Дата", "Время", "Измерение", "U",    "R",
                                                    "R2",   "K",     "Прибор",    "Отчет"};
    return QString::fromUtf8(titles[static_cast<int>(column)]);
}

QString deviceText(const Device& device) {
    return device.letter + (device.number ? text::decimal(*device.number) : QString());
}

QString cellText(const Entry& e, Column column) {
    const TIzmResult& r = e.result;
    const bool hasR = r.Kind != izmU;
    const bool hasR2 = r.Kind == izmAbs || r.Kind == izmPol;
    switch (column) {
    case Column::Date:
        return r.Time.date().toString(QStringLiteral("dd.MM.yyyy"));
    case Column::Time:
        return r.Time.time().toString(QStringLiteral("HH:mm:ss"));
    case Column::Kind:
        return text::kindCaption(r.Kind);
    case Column::U:
        return valueOf(voltageLabel(r.U));
    case Column::R:
        return hasR ? valueOf(resistanceLabel({r.RkOm, r.R, r.RUnit})) : QString();
    case Column::R2:
        return hasR2 ? valueOf(resistance2Label({r.R2kOm, r.R2, r.R2Unit})) : QString();
    case Column::K:
        return hasR2 ? valueOf(koefLabel(r.Koef)) : QString();
    case Column::Device:
        return deviceText(e.device);
    case Column::Report:
        return e.reportId ? e.reportName : QString();
    }
    return {};
}

SqlParts sqlParts(const Filter& f, const Sort& s) {
    SqlParts p;
    QStringList conditions;
    if (f.from) {
        conditions << QStringLiteral("ts >= ?");
        p.values << startOfDay(*f.from);
    }
    if (f.to) {
        conditions << QStringLiteral("ts < ?");
        p.values << startOfDay(f.to->addDays(1));
    }
    if (f.kind) {
        conditions << QStringLiteral("kind = ?");
        p.values << int(*f.kind);
    }
    if (!f.text.isEmpty()) {
        conditions << QStringLiteral("(serial_letter || COALESCE(serial_number, '') LIKE ? "
                                     "ESCAPE '\\' OR report_name LIKE ? ESCAPE '\\')");
        p.values << likePattern(f.text) << likePattern(f.text);
    }
    if (!conditions.isEmpty())
        p.where = QStringLiteral(" WHERE ") + conditions.join(QLatin1String(" AND "));
    const QString dir =
        s.order == Qt::AscendingOrder ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    QString key;
    switch (s.column) {
    case Column::Date:
    case Column::Time:
        key = QStringLiteral("ts");
        break;
    case Column::Kind:
        key = QStringLiteral("kind");
        break;
    case Column::U:
        key = QStringLiteral("u");
        break;
    case Column::R:
        key = QStringLiteral("r_kom");
        break;
    case Column::R2:
        key = QStringLiteral("r2_kom");
        break;
    case Column::K:
        key = QStringLiteral("koef");
        break;
    case Column::Device:
        key = QStringLiteral("serial_letter") + dir + QStringLiteral(", serial_number");
        break;
    case Column::Report:
        key = QStringLiteral("report_name");
        break;
    }
    // The id breaks ties, so that pages never overlap.
    p.orderBy = QStringLiteral(" ORDER BY ") + key + dir + QStringLiteral(", id") + dir;
    return p;
}

Reader::Reader(const QString& path)
    : connection_(QStringLiteral("t5170-journal-read-%1").arg(++readerCounter)) {
    if (!QFileInfo(path).isFile()) {
        error_ = QStringLiteral("нет файла %1").arg(path);
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    if (!db.open()) {
        error_ = db.lastError().text();
        return;
    }
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        error_ = q.lastError().text();
    else if (q.value(0).toInt() != SchemaVersion)
        error_ = QStringLiteral("версия журнала %1, ожидалась %2")
                     .arg(q.value(0).toInt())
                     .arg(SchemaVersion);
}

Reader::~Reader() {
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

std::vector<Entry> Reader::select(const QString& tail, const QVariantList& values) {
    std::vector<Entry> out;
    if (!isOpen())
        return out;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT %1 FROM entries").arg(QLatin1String(Columns)) + tail))
        return out;
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        return out;
    while (q.next()) {
        Entry e;
        e.id = q.value(0).toLongLong();
        TIzmResult& r = e.result;
        r.Time = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong());
        r.Kind = static_cast<TIzmType>(q.value(2).toInt());
        r.U = q.value(3).toInt();
        r.R = q.value(4).toDouble();
        r.RUnit = static_cast<std::uint8_t>(q.value(5).toInt());
        r.RkOm = q.value(6).toInt();
        r.R2 = q.value(7).toDouble();
        r.R2Unit = static_cast<std::uint8_t>(q.value(8).toInt());
        r.R2kOm = q.value(9).toInt();
        r.Koef = q.value(10).toInt();
        r.Valid = true;
        e.device.letter = q.value(11).toString();
        if (!q.isNull(12))
            e.device.number = q.value(12).toInt();
        if (!q.isNull(13))
            e.series = SeriesRef{q.value(13).toLongLong(), q.value(14).toInt()};
        e.reportId = q.value(15).toLongLong();
        e.reportName = q.value(16).toString();
        e.sheet = q.isNull(17) ? -1 : q.value(17).toInt();
        e.row = q.value(18).toInt();
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<Entry> Reader::page(const Filter& filter, const Sort& sort, qint64 offset, int limit) {
    const SqlParts p = sqlParts(filter, sort);
    QVariantList values = p.values;
    values << limit << offset;
    return select(p.where + p.orderBy + QStringLiteral(" LIMIT ? OFFSET ?"), values);
}

qint64 Reader::count(const Filter& filter) {
    if (!isOpen())
        return 0;
    const SqlParts p = sqlParts(filter, Sort{});
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM entries") + p.where);
    for (const QVariant& v : p.values)
        q.addBindValue(v);
    if (!q.exec() || !q.next())
        return 0;
    return q.value(0).toLongLong();
}

std::vector<Entry> Reader::entries(const std::vector<qint64>& ids) {
    std::vector<Entry> out;
    std::unordered_map<qint64, Entry> found;
    for (std::size_t i = 0; i < ids.size(); i += 500) {
        QStringList marks;
        QVariantList values;
        for (std::size_t j = i; j < std::min(ids.size(), i + 500); ++j) {
            marks << QStringLiteral("?");
            values << ids[j];
        }
        for (Entry& e :
             select(QStringLiteral(" WHERE id IN (%1)").arg(marks.join(QLatin1Char(','))), values))
            found.emplace(e.id, std::move(e));
    }
    for (qint64 id : ids)
        if (const auto it = found.find(id); it != found.end())
            out.push_back(it->second);
    return out;
}

std::vector<TimedResult> Reader::results(const Filter& filter) {
    std::vector<TimedResult> out;
    if (!isOpen())
        return out;
    const SqlParts p = sqlParts(filter, Sort{Column::Date, Qt::AscendingOrder});
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT ts, kind, u, r, r_unit, r_kom, r2, r2_unit, r2_kom, koef "
                                  "FROM entries") +
                   p.where + p.orderBy))
        return out;
    for (const QVariant& v : p.values)
        q.addBindValue(v);
    if (!q.exec())
        return out;
    while (q.next()) {
        TimedResult t;
        t.ms = q.value(0).toLongLong();
        TIzmResult& r = t.result;
        r.Kind = static_cast<TIzmType>(q.value(1).toInt());
        r.U = q.value(2).toInt();
        r.R = q.value(3).toDouble();
        r.RUnit = static_cast<std::uint8_t>(q.value(4).toInt());
        r.RkOm = q.value(5).toInt();
        r.R2 = q.value(6).toDouble();
        r.R2Unit = static_cast<std::uint8_t>(q.value(7).toInt());
        r.R2kOm = q.value(8).toInt();
        r.Koef = q.value(9).toInt();
        r.Valid = true;
        out.push_back(std::move(t));
    }
    return out;
}

std::vector<Entry> Reader::series(qint64 seriesId) {
    return select(QStringLiteral(" WHERE series_id = ? ORDER BY series_index, id"), {seriesId});
}

std::optional<qint64> Reader::latestSeries() {
    if (!isOpen())
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec(QStringLiteral(
            "SELECT series_id FROM entries WHERE series_id IS NOT NULL ORDER BY ts DESC, id DESC "
            "LIMIT 1")) ||
        !q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

} // namespace t5170::journal
