#pragma once
// The instrument on a pseudo-terminal: the program opens devicePath() (or the
// symlink) as its serial port and talks to an InstrumentCore.

#include "InstrumentCore.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace t5170::sim {

class PtySimulator : public QObject {
    Q_OBJECT
public:
    explicit PtySimulator(QObject* parent = nullptr);
    ~PtySimulator() override;

    // Creates the pty (raw mode) and, if linkPath is given, a symlink to its
    // slave. An existing symlink at linkPath is replaced; any other file there
    // makes start() fail. Calling start() after unplug() plugs in a fresh pty
    // (usually with another /dev/pts number); the instrument's state stays.
    bool start(const QString& linkPath = {});
    // The /dev/pts/N slave path; after unplug() still the old path.
    QString devicePath() const { return devicePath_; }
    QString linkPath() const { return linkPath_; }
    bool isPlugged() const { return master_ >= 0; }
    // Closes the master: the program's port sees the device vanish. Pending
    // output is dropped and the symlink removed. A measurement keeps running
    // and its result is lost unless start() plugs in again in time.
    void unplug();

    // false = the instrument is switched off: it hears and answers nothing,
    // a running measurement is lost.
    void setAnswerPolls(bool on);
    bool answersPolls() const { return core_.powered(); }
    // Time from a start code to the result; 0 = the result follows the start
    // code at once, in the same write.
    void setMeasureDurationMs(int ms);
    int measureDurationMs() const { return measureMs_; }
    void failNextMeasurement() { core_.failNextMeasurement(); }
    // Starts a measurement as the instrument's own keys would (0..3).
    void startFromKeys(int kind);
    // Fixes the next result exactly (one measurement); otherwise the seeded
    // generator makes one.
    void setNextResult(const Result& r) { core_.setNextResult(r); }
    void setSeed(quint64 seed) { core_.setSeed(seed); }
    // Bytes straight to the PC, past the protocol core.
    void sendRaw(const QByteArray& bytes);
    // Every message goes out in pieces of 1..3 bytes, each its own write,
    // splitGapMs() apart.
    void setSplitWrites(bool on) { split_ = on; }
    bool splitWrites() const { return split_; }
    void setSplitGapMs(int ms) { splitGapMs_ = ms; }
    int splitGapMs() const { return splitGapMs_; }

    // Every byte received from the PC. ms is CLOCK_MONOTONIC in milliseconds
    // (the clock of QElapsedTimer::msecsSinceReference()), taken when the
    // simulator read the byte, so bytes of one read share a stamp.
    struct LogEntry {
        qint64 ms;
        quint8 byte;
    };
    const std::vector<LogEntry>& received() const { return log_; }
    static qint64 nowMs(); // the clock of LogEntry::ms
    void clearLog() { log_.clear(); }

    // Instrument settings.
    quint16 serialNumber() const { return core_.settings().serialNumber; }
    void setSerialNumber(quint16 v) { core_.settings().serialNumber = v; }
    quint8 letter() const { return core_.settings().letter; } // Windows-1251
    void setLetter(quint8 v) { core_.settings().letter = v; }
    quint16 testVoltage() const { return core_.settings().testVoltage; }
    void setTestVoltage(quint16 v) { core_.settings().testVoltage = v; }
    quint8 delay() const { return core_.settings().delay; }
    void setDelay(quint8 v) { core_.settings().delay = v; }
    quint16 startVoltage() const { return core_.settings().startVoltage; }
    void setStartVoltage(quint16 v) { core_.settings().startVoltage = v; }
    quint8 flags() const { return core_.settings().flags; }
    void setFlags(quint8 v) { core_.settings().flags = v; }
    quint8 absFirst() const { return core_.settings().absFirst; }
    quint8 absTotal() const { return core_.settings().absTotal; }
    void setAbsTimes(quint8 first, quint8 total);
    quint8 polFirst() const { return core_.settings().polFirst; }
    quint8 polTotal() const { return core_.settings().polTotal; }
    void setPolTimes(quint8 first, quint8 total);
    const Settings& settings() const { return core_.settings(); }
    void setSettings(const Settings& s) { core_.settings() = s; }

    // Counters.
    quint64 pollsAnswered() const { return core_.counters().pollsAnswered; }
    quint64 measurementsDone() const { return core_.counters().measurementsDone; }
    quint64 resultsSent() const { return core_.counters().resultsSent; }
    quint64 missingAcks() const { return core_.counters().missingAcks; }
    bool ackPending() const { return core_.ackPending(); }
    const Counters& counters() const { return core_.counters(); }
    bool measuring() const { return core_.measuring(); }
    std::optional<Result> lastResult() const { return core_.lastResult(); }
    // Bytes that could not go out (unplugged, or the PC side never reads).
    quint64 bytesDropped() const { return dropped_; }
    // write() calls that put bytes on the pty.
    quint64 writeCalls() const { return writeCalls_; }
    // Times the master fd woke the simulator up; stays small while idle.
    quint64 readWakeups() const { return wakeups_; }

    InstrumentCore& core() { return core_; }
    const InstrumentCore& core() const { return core_; }

Q_SIGNALS:
    void byteReceived(quint8 byte);
    void bytesSent(const QByteArray& bytes);
    void measurementStarted(int kind);
    void resultSent(int kind);
    void measurementFailed(int kind);
    void unplugged();

private:
    void onReadable();
    void onWritable();
    void onMeasureTimeout();
    void onSlaveClosed();
    void beginMeasurement(int kind);
    void send(const QByteArray& bytes);
    void pump();
    void flush();
    void closeFds();
    void removeLink();

    InstrumentCore core_;
    int master_ = -1;
    int slave_ = -1; // held open, never read: keeps the master from EIO while the port is closed
    QString devicePath_;
    QString linkPath_;
    std::unique_ptr<QSocketNotifier> readNotifier_;
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    // Tells when a program closes the slave (or dies holding it).
    int inotify_ = -1;
    std::unique_ptr<QSocketNotifier> closeNotifier_;
    QTimer* measureTimer_;
    QTimer* paceTimer_;
    QTimer* retryTimer_;
    int measureMs_ = 3000;
    bool split_ = false;
    int splitGapMs_ = 4;
    int splitPos_ = 0;
    struct Chunk {
        QByteArray bytes;
        bool pauseAfter;
    };
    std::deque<Chunk> chunks_;
    QByteArray writeBuf_;
    std::vector<LogEntry> log_;
    quint64 dropped_ = 0;
    quint64 wakeups_ = 0;
    quint64 writeCalls_ = 0;
};

} // namespace t5170::sim
