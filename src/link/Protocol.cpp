#include "link/Protocol.h"

#include <array>

namespace t5170 {

namespace {

// What the decoder knows about one byte taken as a code from the instrument.
struct CodeInfo {
    bool known = false;
    std::uint8_t dataBytes = 0;
};

constexpr std::array<CodeInfo, 256> makeInstrumentTable() {
    std::array<CodeInfo, 256> t{};
    for (std::uint8_t c : {code::Poll, code::Finished, code::ResultBegin, code::ResultComplete,
                           code::KindU, code::KindR, code::KindAbs, code::KindPol, code::Failed})
        t[c] = {true, 0};
    t[code::Voltage] = {true, 2};
    t[code::Resistance] = {true, 4};
    t[code::Resistance2] = {true, 4};
    t[code::Koef] = {true, 2};
    t[code::SerialNumber] = {true, 2};
    t[code::SerialLetter] = {true, 1};
    t[code::TestVoltage] = {true, 2};
    t[code::Delay] = {true, 1};
    t[code::StartVoltage] = {true, 2};
    t[code::Flags] = {true, 1};
    t[code::AbsTimes] = {true, 2};
    t[code::PolTimes] = {true, 2};
    return t;
}

constexpr std::array<std::uint8_t, 256> makePcTable() {
    std::array<std::uint8_t, 256> t{};
    t[code::SetTestVoltage] = 2;
    t[code::SetDelay] = 1;
    t[code::SetStartVoltage] = 2;
    t[code::SetFlags] = 1;
    t[code::SetAbsTimes] = 2;
    t[code::SetPolTimes] = 2;
    return t;
}

constexpr auto instrumentTable = makeInstrumentTable();
constexpr auto pcTable = makePcTable();

std::uint16_t u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::int32_t s32(const std::uint8_t* p) {
    const std::uint32_t v =
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    return static_cast<std::int32_t>(v); // two's complement, as the instrument sends it
}

// The event of a known code whose data bytes start at `d`.
Event makeEvent(std::uint8_t c, const std::uint8_t* d) {
    switch (c) {
    case code::Poll:
        return ev::PollAnswer{};
    case code::Finished:
        return ev::Finished{};
    case code::Failed:
        return ev::Failed{};
    case code::ResultBegin:
        return ev::ResultBegin{};
    case code::ResultComplete:
        return ev::ResultComplete{};
    case code::KindU:
    case code::KindR:
    case code::KindAbs:
    case code::KindPol:
        return ev::Kind{static_cast<TIzmType>(c - code::KindU)};
    case code::Voltage:
        return ev::Voltage{u16(d)};
    case code::Resistance:
        return ev::Resistance{s32(d)};
    case code::Resistance2:
        return ev::Resistance2{s32(d)};
    case code::Koef:
        return ev::Koef{u16(d)};
    case code::SerialNumber:
        return ev::SerialNumber{u16(d)};
    case code::SerialLetter:
        return ev::SerialLetter{d[0]};
    case code::TestVoltage:
        return ev::TestVoltage{u16(d)};
    case code::Delay:
        return ev::Delay{d[0]};
    case code::StartVoltage:
        return ev::StartVoltage{u16(d)};
    case code::Flags:
        return ev::Flags{d[0]};
    case code::AbsTimes:
        return ev::AbsTimes{d[0], d[1]};
    case code::PolTimes:
        return ev::PolTimes{d[0], d[1]};
    default:
        break;
    }
    return ev::PollAnswer{}; // not reached: only known codes get here
}

} // namespace

int dataBytesFromInstrument(std::uint8_t c) {
    return instrumentTable[c].dataBytes;
}

int dataBytesFromPc(std::uint8_t c) {
    return pcTable[c];
}

std::size_t decode(const std::uint8_t* data, std::size_t size, std::vector<Event>& out) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t c = data[i];
        const CodeInfo info = instrumentTable[c];
        if (!info.known) {
            ++i;
            continue;
        }
        // A code is acted upon only once all its data bytes are here; the
        // caller keeps the tail from this code on and resumes with it.
        if (size - i - 1 < info.dataBytes)
            return i;
        out.push_back(makeEvent(c, data + i + 1));
        i += 1 + info.dataBytes;
    }
    return i;
}

} // namespace t5170
