// t5170-report: looks into report workbooks and converts them, with the same
// engine the program uses; prints and exports the measurement journal.

#include "journal/JournalCsv.h"
#include "journal/JournalQuery.h"
#include "report/ReportLayout.h"
#include "report/ReportScan.h"
#include "sheet/Automation.h"
#include "sheet/TypedInput.h"
#include "sheet/WorkbookFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <limits>

namespace {

using namespace t5170;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Использование: t5170-report КОМАНДА ...\n"
    "\n"
    "Команды:\n"
    "  cat ФАЙЛ          все листы книги: заголовок \"== имя листа ==\", затем строки,\n"
    "                    значения через табуляцию, как их читает программа\n"
    "  last ФАЙЛ         свободная строка каждого листа отчёта и последняя запись,\n"
    "                    как их покажет открытие отчёта в программе\n"
    "  convert ВХОД ВЫХОД  открыть книгу (.xls или .xlsx, формат по содержимому) и\n"
    "                    сохранить под именем ВЫХОД: .xlsx пишет OOXML, иное имя — .xls\n"
    "  journal ФАЙЛ [--from ДАТА] [--to ДАТА] [--kind u|r|a|p] [--csv]\n"
    "                    журнал измерений, новые записи первыми: столбцы окна\n"
    "                    журнала через табуляцию или, с --csv, тот же CSV, что\n"
    "                    пишет «Экспорт в CSV…»; ДАТА — дд.мм.гггг, --from и --to\n"
    "                    включают свой день; --kind: u напряжение, r сопротивление,\n"
    "                    a абсорбция, p поляризация\n"
    "  --help            эта справка\n"
    "\n"
    "Код выхода: 0 — успех, 1 — ошибка файла, 2 — неверная команда.\n";

void out(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
}

void err(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
}

int usageError(const QString& why) {
    err(QStringLiteral("t5170-report: %1\n\n").arg(why));
    err(QString::fromUtf8(kUsage));
    return kExitUsage;
}

// A value on one line of tab-separated output.
QString oneLine(QString text) {
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

void catBook(const sheet::Workbook& book) {
    for (const sheet::Sheet& s : book.sheets) {
        out(QStringLiteral("== %1 ==\n").arg(s.name));
        // Up to the last row holding a value; each row up to its last value.
        int lastRow = 0;
        for (int r = 0; r < s.rowCount(); ++r)
            for (int c = 0; c < s.columnCount(r); ++c)
                if (!sheet::cellText(*s.find(r, c), book.date1904).isEmpty())
                    lastRow = r + 1;
        for (int r = 0; r < lastRow; ++r) {
            QStringList cells;
            for (int c = 0; c < s.columnCount(r); ++c)
                cells << oneLine(sheet::cellText(*s.find(r, c), book.date1904));
            while (!cells.isEmpty() && cells.back().isEmpty())
                cells.removeLast();
            out(cells.join(QLatin1Char('\t')) + QLatin1Char('\n'));
        }
    }
}

void lastRecord(const QString& path) {
    const auto app = automation::createApplication(QStringLiteral("Excel.Application"));
    app->WorkBooks()->Open(path, 0, false, 1);
    const auto book = app->WorkBooks(1);
    const report::ReportScan scan = report::scanReport(*book);
    const auto& sheets = scan.sheets;
    for (const TIzmType kind : {izmR, izmAbs, izmPol, izmU})
        out(QStringLiteral("%1\tсвободная строка %2\n")
                .arg(sheets[kind]->Name())
                .arg(scan.nextRow[kind]));
    if (!scan.newest) {
        out(QStringLiteral("Последняя запись: нет\n"));
    } else {
        const report::RecordLabels labels = report::recordLabels(*scan.newest);
        out(QStringLiteral("Последняя запись: %1, лист «%2», строка %3\n")
                .arg(labels.type, sheets[scan.newest->kind]->Name())
                .arg(scan.newest->row));
        for (const QString& line :
             {labels.date, labels.time, labels.u, labels.r, labels.r2, labels.k})
            if (!line.isEmpty())
                out(QStringLiteral("  %1\n").arg(line));
    }
    app->Quit();
}

// `journal FILE [options]`; returns the exit code.
int printJournal(QStringList args) {
    const QString path = args.takeFirst();
    journal::Filter filter;
    bool csv = false;
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--csv")) {
            csv = true;
            continue;
        }
        if (option != QLatin1String("--from") && option != QLatin1String("--to") &&
            option != QLatin1String("--kind"))
            return usageError(QStringLiteral("неизвестный параметр «%1»").arg(option));
        if (args.isEmpty())
            return usageError(QStringLiteral("параметру %1 нужно значение").arg(option));
        const QString value = args.takeFirst();
        if (option == QLatin1String("--kind")) {
            static const std::pair<const char*, TIzmType> kinds[] = {
                {"u", izmU}, {"r", izmR}, {"a", izmAbs}, {"p", izmPol}};
            for (const auto& [name, kind] : kinds)
                if (value == QLatin1String(name))
                    filter.kind = kind;
            if (!filter.kind)
                return usageError(QStringLiteral("неизвестный вид измерения «%1»").arg(value));
            continue;
        }
        const std::optional<QDate> date = report::parseShortDate(value);
        if (!date)
            return usageError(QStringLiteral("неверная дата «%1»").arg(value));
        (option == QLatin1String("--from") ? filter.from : filter.to) = date;
    }
    journal::Reader reader(path);
    if (!reader.isOpen()) {
        err(QStringLiteral("t5170-report: %1: %2\n").arg(path, reader.error()));
        return kExitFailure;
    }
    const std::vector<journal::Entry> entries =
        reader.page(filter, {}, 0, std::numeric_limits<int>::max());
    if (csv) {
        const QByteArray bytes = journal::csvBytes(entries);
        std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
        return 0;
    }
    QStringList titles;
    for (int c = 0; c < journal::ColumnCount; ++c)
        titles << journal::columnTitle(static_cast<journal::Column>(c));
    out(titles.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    for (const journal::Entry& e : entries) {
        QStringList cells;
        for (int c = 0; c < journal::ColumnCount; ++c)
            cells << oneLine(journal::cellText(e, static_cast<journal::Column>(c)));
        out(cells.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty())
        return usageError(QStringLiteral("не задана команда"));
    const QString command = args.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        out(QString::fromUtf8(kUsage));
        return 0;
    }
    if (command == QLatin1String("journal")) {
        if (args.isEmpty())
            return usageError(QStringLiteral("команде journal нужен файл журнала"));
        return printJournal(args);
    }
    const int wanted = command == QLatin1String("convert") ? 2 : 1;
    if (command != QLatin1String("cat") && command != QLatin1String("last") &&
        command != QLatin1String("convert"))
        return usageError(QStringLiteral("неизвестная команда «%1»").arg(command));
    if (args.size() != wanted)
        return usageError(QStringLiteral("команде %1 нужно файлов: %2").arg(command).arg(wanted));

    // The file the failure is about: the output once the input is read.
    QString current = args[0];
    try {
        if (command == QLatin1String("cat")) {
            catBook(sheet::openWorkbook(args[0]));
        } else if (command == QLatin1String("last")) {
            lastRecord(args[0]);
        } else {
            const sheet::Workbook book = sheet::openWorkbook(args[0]);
            current = args[1];
            sheet::saveWorkbook(book, QFileInfo(args[1]).absoluteFilePath());
        }
    } catch (const std::exception& e) {
        err(QStringLiteral("t5170-report: %1: %2\n").arg(current, QString::fromUtf8(e.what())));
        return kExitFailure;
    }
    return 0;
}
