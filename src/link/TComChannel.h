#pragma once
// The one serial link between the PC and the instrument.

#include "core/Clock.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

class QSerialPort;
class QTimer;

namespace t5170 {

class TComChannel : public QObject {
    Q_OBJECT
public:
    static constexpr int RxCapacity = 1024;
    // Bytes from the PC are more than this many milliseconds apart on the wire.
    static constexpr int PauseMs = 50;
    // Clock ticks that must pass between two bytes leaving: one tick more
    // than the pause because a whole-millisecond clock may have been read
    // just before it advanced, and one more so that the far end, which also
    // stamps in whole milliseconds, still sees more than PauseMs.
    static constexpr int GapTicks = PauseMs + 2;

    explicit TComChannel(QObject* parent = nullptr, MsClock clock = {});
    ~TComChannel() override;

    // Replaces the clock that paces the bytes (empty: the monotonic clock),
    // for a channel owned by a window that a test runs on a faster clock.
    void setClock(MsClock clock);

    // Maps an operator's port name to a device: a name with a path separator
    // is a device path used as is; "COM1".."COM8" (any letter case) are
    // /dev/ttyS0../dev/ttyS7; any other name is passed to QSerialPort
    // unchanged (which looks for it under /dev).
    static QString devicePath(const QString& portName);

    // Closes first if open; on failure emits openFailed() (the window shows
    // "Невозможно открыть COM порт") and returns false. PortOpen is set to
    // the result here too, so a caller that stores it changes nothing.
    bool OpenPort(const QString& portName);
    void SetupPort();
    // Clears PortOpen, emits portClosed() (the window clears DeviceConnected),
    // closes the device and drops the bytes still queued.
    void ClosePort();
    // Queues one byte. On a closed port the byte is dropped and notOpen() is
    // emitted. Bytes leave in call order, more than PauseMs apart, while the
    // event loop keeps running. A failed write, or the first read, write or
    // resource error the port reports (an unplugged adapter), closes the port
    // and emits writeFailed() once (the window shows
    // "Ошибка записи в \"Com\"").
    void SendByte(std::uint8_t byte);
    // Runs `done` once every byte queued so far has gone out (or was dropped);
    // at once when nothing is pending.
    void whenSent(std::function<void()> done);
    // Appends the bytes the port holds to RxBuf, up to its capacity; the rest
    // stays queued in the operating system for the next call.
    void DrainReceived();
    // Removes the first `count` bytes of RxBuf (the decoder consumed them).
    void consume(int count);

    bool PortOpen = false;
    std::array<std::uint8_t, RxCapacity> RxBuf{};
    int RxCount = 0;

    // Bytes still waiting for their turn on the wire (including one that
    // was written but has not yet left the port's own buffer).
    int queuedBytes() const;

public Q_SLOTS:
    // Moves the queue on: finishes the byte in flight once the port has
    // passed it on, and writes the next one when its pause is over, else
    // arms a single-shot timer for the rest of the pause. The channel calls it
    // itself; a test that drives a fake clock calls it after advancing it.
    void pump();

Q_SIGNALS:
    void openFailed();
    void notOpen();
    void writeFailed();
    void portClosed();
    void byteSent(std::uint8_t byte);

private:
    void writeFailure();
    void onPortError(int error);
    void runDueCallbacks();

    struct Waiter {
        std::uint64_t upTo; // done when this many bytes were sent or dropped
        std::function<void()> done;
    };

    QSerialPort* m_port = nullptr;  // child of this
    QTimer* m_pauseTimer = nullptr; // child of this
    MsClock m_clock;
    std::deque<std::uint8_t> m_queue;
    std::deque<Waiter> m_waiters;
    std::uint64_t m_queuedTotal = 0;
    std::uint64_t m_doneTotal = 0;
    std::int64_t m_lastLeftAt = 0;
    bool m_anyLeft = false;
    bool m_inFlight = false;
    std::uint8_t m_inFlightByte = 0;
    bool m_pumping = false;
    bool m_failing = false;
};

} // namespace t5170
