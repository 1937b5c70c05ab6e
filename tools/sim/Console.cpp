#include "Console.h"

#include "Cp1251.h"
#include "PtySimulator.h"

#include <QStringList>

#include <limits>
#include <optional>

namespace t5170::sim {

namespace {

const char* const kindNames[kindCount] = {"voltage", "resistance", "absorption", "polarization"};

std::optional<int> kindFromKey(const QString& key) {
    static const QString keys = QStringLiteral("urap");
    const int k = key.size() == 1 ? static_cast<int>(keys.indexOf(key.at(0).toLower())) : -1;
    return k >= 0 ? std::optional<int>(k) : std::nullopt;
}

// A decimal (or 0x-prefixed hexadecimal) number within [lo, hi].
std::optional<qint64> number(const QString& text, qint64 lo, qint64 hi) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 0);
    if (!ok || v < lo || v > hi)
        return std::nullopt;
    return v;
}

std::optional<QByteArray> hexBytes(const QStringList& words) {
    QByteArray out;
    for (QString w : words) {
        if (w.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            w = w.mid(2);
        bool ok = false;
        const uint v = w.toUInt(&ok, 16);
        if (!ok || w.size() > 2)
            return std::nullopt;
        out.append(static_cast<char>(v));
    }
    return out;
}

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

} // namespace

Console::Console(PtySimulator& sim, QString linkPath) : sim_(sim), linkPath_(std::move(linkPath)) {}

QString Console::help() {
    return QStringLiteral(
        "commands:\n"
        "  off | on              switch the instrument off (silent) or on\n"
        "  key u|r|a|p           start a measurement on the instrument's keys\n"
        "                        (voltage, resistance, absorption, polarization)\n"
        "  fail                  the next measurement ends with 0x67\n"
        "  result U R [R2 K]     fix the next result: volts, kOm, kOm2, koef (1/1000)\n"
        "  measure MS            measurement duration in ms (0 = at once)\n"
        "  seed N                reseed the result generator\n"
        "  set serial N | letter C | voltage V | delay S | ustart V | flags N\n"
        "      | abs FIRST TOTAL | pol FIRST TOTAL\n"
        "  raw HEX HEX ...       send bytes to the PC as they are\n"
        "  split on|off          write every message in pieces\n"
        "  unplug | plug         pull the cable out / put a new one in\n"
        "  status                state and counters\n"
        "  log [clear]           bytes received from the PC\n"
        "  quit                  end the simulator\n");
}

QString Console::execute(const QString& line) {
    const QStringList w = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return {};
    const QString cmd = w.at(0).toLower();
    const auto bad = [&] { return QStringLiteral("? %1 (try help)\n").arg(line.trimmed()); };

    if (cmd == QLatin1String("help"))
        return help();
    if (cmd == QLatin1String("off") || cmd == QLatin1String("on")) {
        sim_.setAnswerPolls(cmd == QLatin1String("on"));
        return QStringLiteral("instrument %1\n").arg(cmd);
    }
    if (cmd == QLatin1String("fail")) {
        sim_.failNextMeasurement();
        return QStringLiteral("the next measurement fails\n");
    }
    if (cmd == QLatin1String("key") && w.size() == 2) {
        const auto kind = kindFromKey(w.at(1));
        if (!kind)
            return bad();
        if (!sim_.answersPolls() || sim_.measuring())
            return QStringLiteral("busy or off: key ignored\n");
        sim_.startFromKeys(*kind);
        return QStringLiteral("%1 measurement started\n").arg(QLatin1String(kindNames[*kind]));
    }
    if (cmd == QLatin1String("result") && (w.size() == 3 || w.size() == 5)) {
        constexpr qint64 i32min = std::numeric_limits<qint32>::min();
        constexpr qint64 i32max = std::numeric_limits<qint32>::max();
        const auto u = number(w.at(1), 0, 65535);
        const auto r = number(w.at(2), i32min, i32max);
        const auto r2 = w.size() == 5 ? number(w.at(3), i32min, i32max) : qint64{0};
        const auto k = w.size() == 5 ? number(w.at(4), 0, 65535) : qint64{0};
        if (!u || !r || !r2 || !k)
            return bad();
        sim_.setNextResult({static_cast<quint16>(*u), static_cast<qint32>(*r),
                            static_cast<qint32>(*r2), static_cast<quint16>(*k)});
        return QStringLiteral("next result fixed\n");
    }
    if (cmd == QLatin1String("measure") && w.size() == 2) {
        const auto ms = number(w.at(1), 0, 24 * 3600 * 1000);
        if (!ms)
            return bad();
        sim_.setMeasureDurationMs(static_cast<int>(*ms));
        return QStringLiteral("measurement takes %1 ms\n").arg(*ms);
    }
    if (cmd == QLatin1String("seed") && w.size() == 2) {
        bool ok = false;
        const quint64 seed = w.at(1).toULongLong(&ok, 0);
        if (!ok)
            return bad();
        sim_.setSeed(seed);
        return QStringLiteral("seeded\n");
    }
    if (cmd == QLatin1String("set") && w.size() >= 3) {
        const QString what = w.at(1).toLower();
        if (what == QLatin1String("letter") && w.size() == 3 && w.at(2).size() == 1) {
            const auto b = cp1251FromChar(w.at(2).at(0));
            if (!b)
                return bad();
            sim_.setLetter(*b);
            return status();
        }
        const auto a = number(w.at(2), 0, 65535);
        const auto second = w.size() == 4 ? number(w.at(3), 0, 255) : std::optional<qint64>{};
        if (!a || (w.size() == 4 && !second))
            return bad();
        const bool pair = w.size() == 4;
        const auto b = static_cast<quint8>(second.value_or(0));
        const auto v16 = static_cast<quint16>(*a);
        const bool one = w.size() == 3;
        const bool byte = *a <= 255;
        if (what == QLatin1String("serial") && one)
            sim_.setSerialNumber(v16);
        else if (what == QLatin1String("voltage") && one)
            sim_.setTestVoltage(v16);
        else if (what == QLatin1String("ustart") && one)
            sim_.setStartVoltage(v16);
        else if (what == QLatin1String("delay") && one && byte)
            sim_.setDelay(static_cast<quint8>(*a));
        else if (what == QLatin1String("flags") && one && byte)
            sim_.setFlags(static_cast<quint8>(*a));
        else if (what == QLatin1String("abs") && pair && byte)
            sim_.setAbsTimes(static_cast<quint8>(*a), b);
        else if (what == QLatin1String("pol") && pair && byte)
            sim_.setPolTimes(static_cast<quint8>(*a), b);
        else
            return bad();
        return status();
    }
    if (cmd == QLatin1String("raw") && w.size() >= 2) {
        const auto bytes = hexBytes(w.mid(1));
        if (!bytes)
            return bad();
        sim_.sendRaw(*bytes);
        return QStringLiteral("sent %1\n").arg(hex(*bytes));
    }
    if (cmd == QLatin1String("split") && w.size() == 2 &&
        (w.at(1) == QLatin1String("on") || w.at(1) == QLatin1String("off"))) {
        sim_.setSplitWrites(w.at(1) == QLatin1String("on"));
        return QStringLiteral("split writes %1\n").arg(w.at(1));
    }
    if (cmd == QLatin1String("unplug")) {
        sim_.unplug();
        return QStringLiteral("unplugged\n");
    }
    if (cmd == QLatin1String("plug")) {
        if (sim_.isPlugged())
            return QStringLiteral("already plugged in\n");
        if (!sim_.start(linkPath_))
            return QStringLiteral("cannot create the pty\n");
        return QStringLiteral("device %1%2\n")
            .arg(sim_.devicePath(),
                 linkPath_.isEmpty() ? QString() : QStringLiteral(" link ") + linkPath_);
    }
    if (cmd == QLatin1String("status"))
        return status();
    if (cmd == QLatin1String("log")) {
        if (w.size() == 2 && w.at(1) == QLatin1String("clear")) {
            sim_.clearLog();
            return QStringLiteral("log cleared\n");
        }
        return log();
    }
    if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        quit_ = true;
        return {};
    }
    return bad();
}

QString Console::status() const {
    const Settings& s = sim_.settings();
    const Counters& c = sim_.counters();
    QString state = sim_.answersPolls() ? QStringLiteral("on") : QStringLiteral("off");
    if (const auto kind = sim_.core().currentKind())
        state += QStringLiteral(", measuring %1").arg(QLatin1String(kindNames[*kind]));
    QString out;
    out += QStringLiteral("device %1 (%2)%3, instrument %4\n")
               .arg(sim_.devicePath(),
                    sim_.isPlugged() ? QStringLiteral("plugged in") : QStringLiteral("unplugged"),
                    sim_.linkPath().isEmpty() ? QString()
                                              : QStringLiteral(", link ") + sim_.linkPath(),
                    state);
    out += QStringLiteral("serial %1%2, test voltage %3 V, delay %4 s, start voltage %5 V\n")
               .arg(charFromCp1251(s.letter))
               .arg(s.serialNumber)
               .arg(s.testVoltage)
               .arg(s.delay)
               .arg(s.startVoltage);
    out += QStringLiteral("flags 0x%1 (step %2, backlight %3), absorption %4/%5 s, polarization "
                          "%6/%7 min\n")
               .arg(s.flags, 2, 16, QLatin1Char('0'))
               .arg(s.flags & 1 ? QStringLiteral("scale") : QStringLiteral("50 V"),
                    s.flags & 4 ? QStringLiteral("on") : QStringLiteral("off"))
               .arg(s.absFirst)
               .arg(s.absTotal)
               .arg(s.polFirst)
               .arg(s.polTotal);
    out += QStringLiteral("measurement %1 ms, split writes %2\n")
               .arg(sim_.measureDurationMs())
               .arg(sim_.splitWrites() ? QStringLiteral("on") : QStringLiteral("off"));
    out += QStringLiteral("polls %1, requests %2, settings written %3, measurements %4 "
                          "(results %5, failures %6, ignored starts %7)\n")
               .arg(c.pollsAnswered)
               .arg(c.requestsAnswered)
               .arg(c.settingsWritten)
               .arg(c.measurementsDone)
               .arg(c.resultsSent)
               .arg(c.failuresSent)
               .arg(c.startsIgnored);
    out += QStringLiteral("acks %1, missing acks %2%3, unexpected acks %4, unknown bytes %5, "
                          "dropped %6, received %7\n")
               .arg(c.acksReceived)
               .arg(c.missingAcks)
               .arg(sim_.ackPending() ? QStringLiteral(" (one pending)") : QString())
               .arg(c.unexpectedAcks)
               .arg(c.unknownBytes)
               .arg(sim_.bytesDropped())
               .arg(sim_.received().size());
    return out;
}

QString Console::log() const {
    // One line per read, newest 50 reads, times relative to the first byte kept.
    const auto& entries = sim_.received();
    if (entries.empty())
        return QStringLiteral("nothing received\n");
    std::vector<QString> lines;
    const qint64 t0 = entries.front().ms;
    for (std::size_t i = 0; i < entries.size();) {
        const qint64 ms = entries[i].ms;
        QString line = QStringLiteral("%1 ms ").arg(ms - t0, 9);
        for (; i < entries.size() && entries[i].ms == ms; ++i)
            line +=
                QLatin1Char(' ') +
                QString::number(entries[i].byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        lines.push_back(line + QLatin1Char('\n'));
    }
    QString out;
    const std::size_t from = lines.size() > 50 ? lines.size() - 50 : 0;
    for (std::size_t i = from; i < lines.size(); ++i)
        out += lines[i];
    return out;
}

} // namespace t5170::sim
