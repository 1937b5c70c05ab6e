#pragma once
// The instrument's single-byte protocol: code tables in both directions,
// the measurement result record and a pure, widget-free decoder.

#include "core/Measurement.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

namespace t5170 {

// clang-format off
namespace code {
// From the instrument (and the poll, which the PC sends with the same value).
inline constexpr std::uint8_t Poll = 0x55;
inline constexpr std::uint8_t Finished = 0x5B;
inline constexpr std::uint8_t FinishedAck = 0x5C; // PC -> instrument
inline constexpr std::uint8_t ResultBegin = 0x5D;
inline constexpr std::uint8_t ResultComplete = 0x5E;
inline constexpr std::uint8_t KindU = 0x5F;
inline constexpr std::uint8_t KindR = 0x60;
inline constexpr std::uint8_t KindAbs = 0x61;
inline constexpr std::uint8_t KindPol = 0x62;
inline constexpr std::uint8_t Voltage = 0x63;
inline constexpr std::uint8_t Resistance = 0x64;
inline constexpr std::uint8_t Resistance2 = 0x65;
inline constexpr std::uint8_t Koef = 0x66;
inline constexpr std::uint8_t Failed = 0x67;
inline constexpr std::uint8_t SerialNumber = 0x68;
inline constexpr std::uint8_t SerialLetter = 0x69;
inline constexpr std::uint8_t TestVoltage = 0x6A;
inline constexpr std::uint8_t SetTestVoltage = 0x6B; // PC -> instrument, 2 bytes
inline constexpr std::uint8_t Delay = 0x6C;
inline constexpr std::uint8_t SetDelay = 0x6D;       // 1 byte
inline constexpr std::uint8_t StartVoltage = 0x6E;
inline constexpr std::uint8_t SetStartVoltage = 0x6F; // 2 bytes
inline constexpr std::uint8_t Flags = 0x70;
inline constexpr std::uint8_t SetFlags = 0x71;        // 1 byte
inline constexpr std::uint8_t AbsTimes = 0x72;
inline constexpr std::uint8_t SetAbsTimes = 0x73;     // 2 bytes
inline constexpr std::uint8_t PolTimes = 0x74;
inline constexpr std::uint8_t SetPolTimes = 0x75;     // 2 bytes
// Start of a measurement of kind k is StartBase + k.
inline constexpr std::uint8_t StartBase = 0x57;
} // namespace code
// clang-format on

// Start code of a measurement kind.
constexpr std::uint8_t startCode(TIzmType kind) {
    return static_cast<std::uint8_t>(code::StartBase + kind);
}

// clang-format off
namespace ev {
struct PollAnswer {};                 // 0x55
struct Finished {};                   // 0x5B
struct Failed {};                     // 0x67
struct ResultBegin {};                // 0x5D
struct ResultComplete {};             // 0x5E
struct Kind { TIzmType kind; };       // 0x5F..0x62
struct Voltage { std::uint16_t volts; };        // 0x63
struct Resistance { std::int32_t kOm; };        // 0x64
struct Resistance2 { std::int32_t kOm; };       // 0x65
struct Koef { std::uint16_t thousandths; };     // 0x66
struct SerialNumber { std::uint16_t number; };  // 0x68
struct SerialLetter { std::uint8_t raw; };      // 0x69, a Windows-1251 character
struct TestVoltage { std::uint16_t volts; };    // 0x6A
struct Delay { std::uint8_t seconds; };         // 0x6C
struct StartVoltage { std::uint16_t volts; };   // 0x6E
struct Flags { std::uint8_t bits; };            // 0x70
struct AbsTimes { std::uint8_t first, total; }; // 0x72
struct PolTimes { std::uint8_t first, total; }; // 0x74
} // namespace ev

using Event = std::variant<ev::PollAnswer, ev::Finished, ev::Failed, ev::ResultBegin,
                           ev::ResultComplete, ev::Kind, ev::Voltage, ev::Resistance,
                           ev::Resistance2, ev::Koef, ev::SerialNumber, ev::SerialLetter,
                           ev::TestVoltage, ev::Delay, ev::StartVoltage, ev::Flags,
                           ev::AbsTimes, ev::PolTimes>;
// clang-format on

// Number of data bytes that follow a code the instrument sends (0 for codes
// without data and for bytes that are not instrument codes).
int dataBytesFromInstrument(std::uint8_t code);
// Number of data bytes that follow a code the PC sends.
int dataBytesFromPc(std::uint8_t code);

// Decodes the complete codes at the front of `data`, appending one event per
// known code to `out` (unknown bytes are skipped, one byte each). Stops at the
// first code whose data bytes have not all arrived and returns how many bytes
// were consumed; the caller keeps the rest and decodes it again with the next
// bytes appended. Never reads past `size`.
std::size_t decode(const std::uint8_t* data, std::size_t size, std::vector<Event>& out);

} // namespace t5170
