#include "InstrumentCore.h"

#include <algorithm>
#include <cmath>

namespace t5170::sim {

int pcDataBytes(quint8 code) {
    switch (code) {
    case pc::SetTestVoltage:
    case pc::SetStartVoltage:
    case pc::SetAbsTimes:
    case pc::SetPolTimes:
        return 2;
    case pc::SetDelay:
    case pc::SetFlags:
        return 1;
    case pc::Poll:
    case pc::StartBase + kindVoltage:
    case pc::StartBase + kindResistance:
    case pc::StartBase + kindAbsorption:
    case pc::StartBase + kindPolarization:
    case pc::FinishedAck:
    case pc::AskSerialNumber:
    case pc::AskLetter:
    case pc::AskTestVoltage:
    case pc::AskDelay:
    case pc::AskStartVoltage:
    case pc::AskFlags:
    case pc::AskAbsTimes:
    case pc::AskPolTimes:
        return 0;
    default:
        return -1;
    }
}

namespace {

void put16(QByteArray& out, quint16 v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>(v >> 8));
}

void put32(QByteArray& out, qint32 v) {
    const auto u = static_cast<quint32>(v);
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((u >> shift) & 0xFF));
}

} // namespace

QByteArray encodeResult(int kind, const Result& r) {
    QByteArray out;
    out.append(static_cast<char>(dev::ResultBegin));
    out.append(static_cast<char>(dev::KindBase + kind));
    out.append(static_cast<char>(dev::Voltage));
    put16(out, r.volts);
    if (kind != kindVoltage) {
        out.append(static_cast<char>(dev::Resistance));
        put32(out, r.kOm);
    }
    if (kind == kindAbsorption || kind == kindPolarization) {
        out.append(static_cast<char>(dev::Resistance2));
        put32(out, r.kOm2);
        out.append(static_cast<char>(dev::Koef));
        put16(out, r.koef);
    }
    out.append(static_cast<char>(dev::ResultComplete));
    out.append(static_cast<char>(dev::Finished));
    return out;
}

quint64 ResultGenerator::nextBits() {
    quint64 z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double ResultGenerator::nextUnit() {
    return static_cast<double>(nextBits() >> 11) * 0x1.0p-53;
}

Result ResultGenerator::next(int kind, quint16 volts) {
    Result r;
    r.volts = volts;
    // Four decades: 500 kOm .. 5,000,000 kOm, so every display range shows up.
    r.kOm = static_cast<qint32>(std::llround(500.0 * std::pow(10.0, 4.0 * nextUnit())));
    const double maxKoef = kind == kindPolarization ? 4.0 : 2.0;
    const double k = 1.0 + (maxKoef - 1.0) * nextUnit();
    r.kOm2 = static_cast<qint32>(std::llround(r.kOm * k));
    const auto koef = std::llround(1000.0 * r.kOm2 / r.kOm);
    r.koef = static_cast<quint16>(std::clamp<long long>(koef, 0, 65535));
    return r;
}

InstrumentCore::InstrumentCore(quint64 seed) : gen_(seed) {}

InstrumentCore::Step InstrumentCore::feed(quint8 byte) {
    Step step;
    if (!powered_) {
        ++counters_.bytesIgnoredOff;
        return step;
    }
    if (pendingNeed_ > 0) {
        // A data byte, whatever its value.
        pendingData_[pendingHave_++] = byte;
        if (--pendingNeed_ == 0) {
            applySet(pendingCode_, pendingData_);
            pendingHave_ = 0;
        }
        return step;
    }
    const int need = pcDataBytes(byte);
    if (need < 0) {
        ++counters_.unknownBytes;
        return step;
    }
    if (need > 0) {
        pendingCode_ = byte;
        pendingNeed_ = need;
        pendingHave_ = 0;
        return step;
    }
    if (byte == pc::Poll) {
        ++counters_.pollsAnswered;
        step.reply.append(static_cast<char>(dev::PollAnswer));
    } else if (byte >= pc::StartBase && byte < pc::StartBase + kindCount) {
        const int kind = byte - pc::StartBase;
        if (startMeasurement(kind))
            step.started = kind;
    } else if (byte == pc::FinishedAck) {
        if (ackPending_) {
            ackPending_ = false;
            ++counters_.acksReceived;
        } else {
            ++counters_.unexpectedAcks;
        }
    } else {
        step.reply = answerRequest(byte);
        ++counters_.requestsAnswered;
    }
    return step;
}

QByteArray InstrumentCore::feed(const QByteArray& bytes) {
    QByteArray out;
    for (char c : bytes)
        out += feed(static_cast<quint8>(c)).reply;
    return out;
}

QByteArray InstrumentCore::answerRequest(quint8 code) {
    QByteArray out;
    out.append(static_cast<char>(code));
    switch (code) {
    case pc::AskSerialNumber:
        put16(out, settings_.serialNumber);
        break;
    case pc::AskLetter:
        out.append(static_cast<char>(settings_.letter));
        break;
    case pc::AskTestVoltage:
        put16(out, settings_.testVoltage);
        break;
    case pc::AskDelay:
        out.append(static_cast<char>(settings_.delay));
        break;
    case pc::AskStartVoltage:
        put16(out, settings_.startVoltage);
        break;
    case pc::AskFlags:
        out.append(static_cast<char>(settings_.flags));
        break;
    case pc::AskAbsTimes:
        out.append(static_cast<char>(settings_.absFirst));
        out.append(static_cast<char>(settings_.absTotal));
        break;
    case pc::AskPolTimes:
        out.append(static_cast<char>(settings_.polFirst));
        out.append(static_cast<char>(settings_.polTotal));
        break;
    default:
        return {};
    }
    return out;
}

void InstrumentCore::applySet(quint8 code, const quint8* d) {
    const auto word = static_cast<quint16>(d[0] | (d[1] << 8));
    switch (code) {
    case pc::SetTestVoltage:
        settings_.testVoltage = word;
        break;
    case pc::SetDelay:
        settings_.delay = d[0];
        break;
    case pc::SetStartVoltage:
        settings_.startVoltage = word;
        break;
    case pc::SetFlags:
        settings_.flags = d[0];
        break;
    case pc::SetAbsTimes:
        settings_.absFirst = d[0];
        settings_.absTotal = d[1];
        break;
    case pc::SetPolTimes:
        settings_.polFirst = d[0];
        settings_.polTotal = d[1];
        break;
    default:
        return;
    }
    ++counters_.settingsWritten;
}

bool InstrumentCore::startMeasurement(int kind) {
    if (!powered_ || kind < 0 || kind >= kindCount)
        return false;
    if (kind_) {
        ++counters_.startsIgnored;
        return false;
    }
    kind_ = kind;
    measureVolts_ = settings_.testVoltage;
    ++counters_.measurementsStarted;
    return true;
}

QByteArray InstrumentCore::finishMeasurement() {
    if (!kind_)
        return {};
    const int kind = *kind_;
    kind_.reset();
    ++counters_.measurementsDone;
    if (failNext_) {
        failNext_ = false;
        ++counters_.failuresSent;
        return QByteArray(1, static_cast<char>(dev::Failed));
    }
    Result r = nextResult_ ? *nextResult_ : gen_.next(kind, measureVolts_);
    nextResult_.reset();
    lastResult_ = r;
    lastKind_ = kind;
    ++counters_.resultsSent;
    if (ackPending_)
        ++counters_.missingAcks;
    ackPending_ = true;
    return encodeResult(kind, r);
}

void InstrumentCore::setPowered(bool on) {
    if (on == powered_)
        return;
    powered_ = on;
    pendingNeed_ = 0;
    pendingHave_ = 0;
    if (!on) {
        kind_.reset();
        ackPending_ = false;
    }
}

} // namespace t5170::sim
