#include "journal/JournalCsv.h"

#include <QSaveFile>

namespace t5170::journal {

namespace {

QString quoted(const QString& field) {
    if (!field.contains(QLatin1Char(';')) && !field.contains(QLatin1Char('"')) &&
        !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r')))
        return field;
    QString f = field;
    f.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + f + QLatin1Char('"');
}

// "1,23 МОм" -> {"1,23", "МОм"}
std::pair<QString, QString> numberAndUnit(const QString& text) {
    const qsizetype at = text.lastIndexOf(QLatin1Char(' '));
    if (at < 0)
        return {text, QString()};
    return {text.left(at), text.mid(at + 1)};
}

} // namespace

QStringList csvHeader() {
    return {QStringLiteral("Дата"),     QStringLiteral("Время"),   QStringLiteral("Измерение"),
            QStringLiteral("U, Вольт"), QStringLiteral("R"),       QStringLiteral("R, ед."),
            QStringLiteral("R2"),       QStringLiteral("R2, ед."), QStringLiteral("K"),
            QStringLiteral("Прибор"),   QStringLiteral("Отчет")};
}

QStringList csvFields(const Entry& e) {
    const auto [r, rUnit] = numberAndUnit(cellText(e, Column::R));
    const auto [r2, r2Unit] = numberAndUnit(cellText(e, Column::R2));
    return {cellText(e, Column::Date),
            cellText(e, Column::Time),
            cellText(e, Column::Kind),
            numberAndUnit(cellText(e, Column::U)).first,
            r,
            rUnit,
            r2,
            r2Unit,
            cellText(e, Column::K),
            cellText(e, Column::Device),
            cellText(e, Column::Report)};
}

QByteArray csvBytes(const std::vector<Entry>& entries) {
    QByteArray out("\xEF\xBB\xBF");
    const auto line = [&](const QStringList& fields) {
        QStringList q;
        for (const QString& f : fields)
            q << quoted(f);
        out += q.join(QLatin1Char(';')).toUtf8();
        out += "\r\n";
    };
    line(csvHeader());
    for (const Entry& e : entries)
        line(csvFields(e));
    return out;
}

QString saveCsv(const QString& path, const std::vector<Entry>& entries) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QByteArray bytes = csvBytes(entries);
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace t5170::journal
