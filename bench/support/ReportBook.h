#pragma once
// A report workbook of the size the report benchmarks measure: the four
// report sheets with their headings, the records on the absorption sheet
// (eight columns), the newest of them last.

#include "sheet/SheetModel.h"
#include "sheet/TypedInput.h"

#include <QString>

#include <cstddef>
#include <utility>

namespace t5170::bench {

inline sheet::Cell num(double v, const QString& format = {}) {
    sheet::Cell c;
    c.kind = sheet::Cell::Kind::Number;
    c.number = v;
    c.format = format;
    return c;
}

inline sheet::Cell txt(const QString& t) {
    sheet::Cell c;
    c.kind = sheet::Cell::Kind::Text;
    c.text = t;
    return c;
}

inline sheet::Workbook reportBook(int records) {
    sheet::Workbook b;
    const char* names[] = {"Измерение сопротивления", "Измерение Абсорбции",
                           "Измерение Поляризации", "Измерение напряжения"};
    const int columns[] = {5, 8, 8, 3};
    for (int i = 0; i < 4; ++i) {
        sheet::Sheet s;
        s.name = QString::fromUtf8(names[i]);
        for (int c = 0; c < columns[i]; ++c) {
            s.set(0, c, txt(QStringLiteral("Заголовок %1").arg(c + 1)));
            s.columnWidths[c] = c == 1 ? 8 : c == 0 ? 10 : 15;
        }
        b.sheets.push_back(std::move(s));
    }
    sheet::Sheet& s = b.sheets[1];
    for (int r = 1; r <= records; ++r) {
        const sheet::Cell row[] = {num(46082 + r / 500, sheet::kDateFormat),
                                   num((r % 500) * 120 / 86400.0, sheet::kTimeFormat),
                                   num(1000),
                                   num(1.5),
                                   txt(QStringLiteral("МОм")),
                                   num(2.25),
                                   txt(QStringLiteral("ГОм")),
                                   num(1.248)};
        for (int c = 0; c < 8; ++c)
            s.set(r, c, row[c]);
    }
    return b;
}

} // namespace t5170::bench
