#pragma once
// Small ways of writing test data.

#include <QByteArray>
#include <QString>

#include <initializer_list>

namespace t5170::testing {

// Bytes given as numbers: bytes({0x5D, 0x5F}).
inline QByteArray bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// A UTF-8 literal as a QString.
inline QString u8(const char* s) {
    return QString::fromUtf8(s);
}

} // namespace t5170::testing
