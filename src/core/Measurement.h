#pragma once
// A measurement result as the instrument reports it, shared by the link that
// decodes it, the report that keeps it and the window that shows it.

#include <QDateTime>

#include <cstdint>

namespace t5170 {

// Kind of a measurement. The values are used as numbers: the start codes are
// 0x57 plus the kind and the report picks its sheet by it.
enum TIzmType : std::uint8_t { izmU = 0, izmR = 1, izmAbs = 2, izmPol = 3 };

// Unit code of a resistance: 0 kilo-ohm, 1 mega-ohm, 2 giga-ohm.
enum ResUnit : std::uint8_t { unitKOm = 0, unitMOm = 1, unitGOm = 2 };

// One measurement result. A result overwrites only the fields its codes
// carry, so a field it does not carry keeps an earlier result's value.
struct TIzmResult {
    TIzmType Kind = izmU;
    double R = 0.0;
    double R2 = 0.0;
    std::int32_t RkOm = 0;
    std::int32_t R2kOm = 0;
    std::int32_t U = 0;
    std::int32_t Koef = 0; // thousandths
    std::uint8_t RUnit = 0;
    std::uint8_t R2Unit = 0;
    QDateTime Time; // the PC's local time when 0x5D opened the record
    bool Valid = false;
    bool operator==(const TIzmResult&) const = default;
};

} // namespace t5170
