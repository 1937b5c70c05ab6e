// Texts typed into cells, and cells of any value shown as text.

#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include "sheet/TypedInput.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace t5170::fuzz {

namespace {

using sheet::Cell;

const std::array<QString, 7> kFormats{
    QString(),
    sheet::kDateFormat,
    sheet::kTimeFormat,
    QStringLiteral("@"),
    QStringLiteral("0,00"),
    QStringLiteral("[HH]:MM:SS"),
    QStringLiteral("DD.MM.YYYY HH:MM:SS"),
};

bool close(double a, double b) {
    return std::fabs(a - b) <= 1e-14 * std::max(std::fabs(a), std::fabs(b));
}

// Reading any cell as a number gives a number or the engine's error.
void readAsNumber(const Cell& cell, bool date1904) {
    try {
        (void)sheet::cellNumber(cell, date1904);
    } catch (const sheet::SheetError&) {
        T5170_FUZZ_CHECK(cell.kind == Cell::Kind::Text, "only a text can fail to be a number");
    }
}

} // namespace

int typedInput(const std::uint8_t* data, std::size_t size) {
    // Input: flags (bit 0: 1904 date system; bits 1..3: the cell's format,
    // 7 = a format from the input), 8 bytes of a stored number, [format
    // length and format], the text typed.
    Bytes in(data, size);
    const std::uint8_t flags = in.take();
    const bool date1904 = flags & 1;
    std::uint8_t raw[8];
    for (auto& b : raw)
        b = in.take();
    double stored;
    std::memcpy(&stored, raw, sizeof stored);
    QString format;
    if (const unsigned f = (flags >> 1) & 7; f < kFormats.size()) {
        format = kFormats[f];
    } else {
        QByteArray code;
        for (int n = in.take(); n > 0 && in.left(); --n)
            code += static_cast<char>(in.take());
        format = QString::fromUtf8(code);
    }
    const QString typed = QString::fromUtf8(in.restBytes());

    // Format codes of any shape are judged and translated without harm.
    (void)sheet::formatInfo(typed);
    (void)sheet::fileFormat(typed);

    // A number from a file (NaN, infinities, subnormals included) shows as
    // some text in any format.
    Cell fromFile{Cell::Kind::Number, stored, {}, format};
    (void)sheet::cellText(fromFile, date1904);
    readAsNumber(fromFile, date1904);

    Cell cell;
    cell.format = format;
    sheet::typeInto(cell, typed, date1904);
    readAsNumber(cell, date1904);
    switch (cell.kind) {
    case Cell::Kind::Empty:
        T5170_FUZZ_CHECK(typed.isEmpty(), "a text that is not empty emptied the cell");
        return 0;
    case Cell::Kind::Text:
        T5170_FUZZ_CHECK(cell.text == typed, "a text is not kept as typed");
        return 0;
    case Cell::Kind::Number:
        T5170_FUZZ_CHECK(std::isfinite(cell.number), "a typed value is not finite");
        break;
    }
    // The text shown types back to the same value where the format shows the
    // whole value: a number in General or a number format (to its 15
    // significant digits), a whole day in a date format, whole seconds of one
    // day in a time format.
    const sheet::FormatInfo info = sheet::formatInfo(cell.format);
    const double v = cell.number;
    bool exact = true;
    switch (info.kind) {
    case sheet::FormatKind::General:
    case sheet::FormatKind::Number:
        exact = false;
        break;
    case sheet::FormatKind::Date:
        if (v != std::floor(v))
            return 0;
        exact = sheet::serialDateText(v, date1904).has_value(); // else shown as a number
        break;
    case sheet::FormatKind::Time:
        if (info.elapsedHours || v < 0 || v >= 1 || double(std::llround(v * 86400)) / 86400 != v)
            return 0;
        break;
    default:
        return 0;
    }
    const QString shown = sheet::cellText(cell, date1904);
    Cell again;
    again.format = cell.format;
    sheet::typeInto(again, shown, date1904);
    const std::string what =
        "\"" + typed.toStdString() + "\" shows as \"" + shown.toStdString() + '"';
    T5170_FUZZ_CHECK(again.kind == Cell::Kind::Number,
                     what + ", which does not type back as a value");
    T5170_FUZZ_CHECK(again.format == cell.format, what + ", which changes the format when typed");
    T5170_FUZZ_CHECK(exact ? again.number == v : close(again.number, v),
                     what + ", which types back as another value");
    return 0;
}

} // namespace t5170::fuzz
