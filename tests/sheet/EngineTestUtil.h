#pragma once
// Small helpers shared by the engine's tests.

#include "sheet/SheetModel.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <ostream>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace t5170::sheet {

inline QString fixture(const char* name) {
    return QStringLiteral(T5170_FIXTURES_DIR "/") + QString::fromUtf8(name);
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

inline Cell number(double v, const QString& format = {}) {
    Cell c;
    c.kind = Cell::Kind::Number;
    c.number = v;
    c.format = format;
    return c;
}

inline Cell text(const QString& t) {
    Cell c;
    c.kind = Cell::Kind::Text;
    c.text = t;
    return c;
}

// Gives the cell at (row, col) the display format `format`, keeping its value.
inline void reformat(Sheet& s, int row, int col, const QString& format) {
    Cell c = s.find(row, col).value_or(Cell{});
    c.format = format;
    s.set(row, col, c);
}

} // namespace t5170::sheet
