#pragma once
// A message box as a test saw it: its caption, its text and, where the test
// records it, the status message it was shown over.

#include <QString>

#include <ostream>

namespace t5170::testing {

struct Box {
    QString caption;
    QString text;
    QString status; // panel 0 when the box was shown
    bool operator==(const Box&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Box& b) {
    return os << "[" << b.caption.toStdString() << "] " << b.text.toStdString() << " (status "
              << b.status.toStdString() << ")";
}
inline void PrintTo(const Box& b, std::ostream* os) {
    *os << b;
}

} // namespace t5170::testing
