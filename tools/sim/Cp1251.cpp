#include "Cp1251.h"

namespace t5170::sim {

std::optional<quint8> cp1251FromChar(QChar c) {
    const char16_t u = c.unicode();
    if (u < 0x80)
        return static_cast<quint8>(u);
    if (u >= 0x0410 && u <= 0x044F) // А..я
        return static_cast<quint8>(0xC0 + (u - 0x0410));
    if (u == 0x0401) // Ё
        return quint8{0xA8};
    if (u == 0x0451) // ё
        return quint8{0xB8};
    return std::nullopt;
}

QChar charFromCp1251(quint8 b) {
    if (b < 0x80)
        return QChar(b);
    if (b >= 0xC0)
        return QChar(static_cast<char16_t>(0x0410 + (b - 0xC0)));
    if (b == 0xA8)
        return QChar(char16_t{0x0401});
    if (b == 0xB8)
        return QChar(char16_t{0x0451});
    return QChar(QChar::ReplacementCharacter);
}

} // namespace t5170::sim
