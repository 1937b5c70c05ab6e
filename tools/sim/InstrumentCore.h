#pragma once
// The instrument's side of the byte protocol, without any I/O: bytes from the
// PC go in, state changes and the instrument's bytes come out. The simulator
// keeps its own code tables so that it stays an independent peer of the
// program's decoder.

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace t5170::sim {

// Kinds of measurement, as numbers: the start code is 0x57 + kind and the
// kind code of a result is 0x5F + kind.
inline constexpr int kindVoltage = 0;
inline constexpr int kindResistance = 1;
inline constexpr int kindAbsorption = 2;
inline constexpr int kindPolarization = 3;
inline constexpr int kindCount = 4;

namespace pc {
// Bytes the PC sends.
inline constexpr quint8 Poll = 0x55;
inline constexpr quint8 StartBase = 0x57; // 0x57..0x5A
inline constexpr quint8 FinishedAck = 0x5C;
inline constexpr quint8 AskSerialNumber = 0x68;
inline constexpr quint8 AskLetter = 0x69;
inline constexpr quint8 AskTestVoltage = 0x6A;
inline constexpr quint8 SetTestVoltage = 0x6B; // + 2 bytes
inline constexpr quint8 AskDelay = 0x6C;
inline constexpr quint8 SetDelay = 0x6D; // + 1 byte
inline constexpr quint8 AskStartVoltage = 0x6E;
inline constexpr quint8 SetStartVoltage = 0x6F; // + 2 bytes
inline constexpr quint8 AskFlags = 0x70;
inline constexpr quint8 SetFlags = 0x71; // + 1 byte
inline constexpr quint8 AskAbsTimes = 0x72;
inline constexpr quint8 SetAbsTimes = 0x73; // + 2 bytes
inline constexpr quint8 AskPolTimes = 0x74;
inline constexpr quint8 SetPolTimes = 0x75; // + 2 bytes
} // namespace pc

namespace dev {
// Bytes the instrument sends.
inline constexpr quint8 PollAnswer = 0x55;
inline constexpr quint8 Finished = 0x5B;
inline constexpr quint8 ResultBegin = 0x5D;
inline constexpr quint8 ResultComplete = 0x5E;
inline constexpr quint8 KindBase = 0x5F;    // 0x5F..0x62
inline constexpr quint8 Voltage = 0x63;     // + 2 bytes
inline constexpr quint8 Resistance = 0x64;  // + 4 bytes, signed, kilo-ohms
inline constexpr quint8 Resistance2 = 0x65; // + 4 bytes
inline constexpr quint8 Koef = 0x66;        // + 2 bytes, thousandths
inline constexpr quint8 Failed = 0x67;
} // namespace dev

// Data bytes that follow a byte the PC sends: 0 for codes without data,
// -1 for a byte that is no PC code at all.
int pcDataBytes(quint8 code);

// One measurement result. Only the fields the kind uses go on the wire:
// volts always, kOm for all but voltage, kOm2 and koef for absorption and
// polarization.
struct Result {
    quint16 volts = 0;
    qint32 kOm = 0;
    qint32 kOm2 = 0;
    quint16 koef = 0; // thousandths
    bool operator==(const Result&) const = default;
};

// The bytes of a finished measurement: 5D, kind code, value codes, 5E, 5B.
QByteArray encodeResult(int kind, const Result& r);

// The instrument's own settings, as its requests report them.
struct Settings {
    quint16 serialNumber = 1234;
    quint8 letter = 0xC0; // Windows-1251 "А"
    quint16 testVoltage = 1000;
    quint8 delay = 3;
    quint16 startVoltage = 500;
    quint8 flags = 0x04; // bit 0 voltage step, bit 2 backlight
    quint8 absFirst = 15;
    quint8 absTotal = 60;
    quint8 polFirst = 1;
    quint8 polTotal = 10;
    bool operator==(const Settings&) const = default;
};

struct Counters {
    quint64 pollsAnswered = 0;
    quint64 requestsAnswered = 0; // 0x68..0x74 requests, polls not included
    quint64 settingsWritten = 0;  // complete set commands taken
    quint64 measurementsStarted = 0;
    quint64 measurementsDone = 0; // ended with a result or a failure
    quint64 resultsSent = 0;
    quint64 failuresSent = 0;
    quint64 acksReceived = 0;
    quint64 missingAcks = 0;    // a 0x5B went out while the previous one was unacknowledged
    quint64 unexpectedAcks = 0; // 0x5C with no 0x5B waiting for it
    quint64 startsIgnored = 0;  // start while a measurement runs
    quint64 unknownBytes = 0;   // bytes that are no PC code
    quint64 bytesIgnoredOff = 0;
};

// Seedable generator of plausible results (splitmix64, same sequence on
// every platform).
class ResultGenerator {
public:
    explicit ResultGenerator(quint64 seed = 1) : state_(seed) {}
    void seed(quint64 s) { state_ = s; }
    // Resistance log-uniform from 500 to 5,000,000 kilo-ohms; the second
    // resistance above it by the coefficient (absorption 1.0..2.0,
    // polarization 1.0..4.0); koef is R2/R in thousandths of the values sent.
    Result next(int kind, quint16 volts);

private:
    quint64 nextBits();
    double nextUnit(); // [0, 1)
    quint64 state_;
};

class InstrumentCore {
public:
    // What one byte from the PC caused.
    struct Step {
        QByteArray reply;           // bytes to send back at once
        std::optional<int> started; // a measurement of this kind began
    };

    explicit InstrumentCore(quint64 seed = 1);

    Step feed(quint8 byte);
    // Feeds every byte; returns the replies (measurement starts are only
    // reflected in measuring()).
    QByteArray feed(const QByteArray& bytes);

    // Starts a measurement as the keys of the instrument would; false when one
    // already runs or the kind is not 0..3.
    bool startMeasurement(int kind);
    bool measuring() const { return kind_.has_value(); }
    std::optional<int> currentKind() const { return kind_; }
    // Ends the running measurement: its result bytes (5D .. 5E 5B), or 0x67
    // when a failure was asked for. Empty when nothing runs.
    QByteArray finishMeasurement();
    // Drops the running measurement without a word (power lost).
    void abortMeasurement() { kind_.reset(); }

    // A switched-off instrument hears nothing and answers nothing; switching
    // off drops a running measurement and any half-received command.
    void setPowered(bool on);
    bool powered() const { return powered_; }

    void setNextResult(const Result& r) { nextResult_ = r; }
    void failNextMeasurement() { failNext_ = true; }
    void setSeed(quint64 seed) { gen_.seed(seed); }

    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    const Counters& counters() const { return counters_; }
    void resetCounters() { counters_ = {}; }
    bool ackPending() const { return ackPending_; }
    // The last result sent and its kind.
    std::optional<Result> lastResult() const { return lastResult_; }
    std::optional<int> lastKind() const { return lastKind_; }

private:
    QByteArray answerRequest(quint8 code);
    void applySet(quint8 code, const quint8* data);

    Settings settings_;
    Counters counters_;
    ResultGenerator gen_;
    bool powered_ = true;
    // A set command whose data bytes are still arriving.
    quint8 pendingCode_ = 0;
    int pendingNeed_ = 0;
    quint8 pendingData_[4] = {};
    int pendingHave_ = 0;

    std::optional<int> kind_;
    quint16 measureVolts_ = 0;
    std::optional<Result> nextResult_;
    bool failNext_ = false;
    bool ackPending_ = false;
    std::optional<Result> lastResult_;
    std::optional<int> lastKind_;
};

} // namespace t5170::sim
