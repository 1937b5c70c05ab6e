#pragma once
// The one serial link between the PC and the instrument.

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

// Milliseconds from a monotonic source; tests inject their own.
using MsClock = std::function<std::int64_t()>;

class TComChannel : public QObject {
    Q_OBJECT
public:
    static constexpr int RxCapacity = 1024;
    // Bytes from the PC are more than this many milliseconds apart on the wire.
    static constexpr int PauseMs = 50;

    explicit TComChannel(QObject* parent = nullptr, MsClock clock = {});
    ~TComChannel() override;

    // Maps an operator's port name to a device: a name with a path separator
    // is a device path used as is; "COM1".."COM8" are /dev/ttyS0../dev/ttyS7;
    // any other name is passed to QSerialPort unchanged.
    static QString devicePath(const QString& portName);

    // Closes first if open; on failure emits openFailed() (the window shows
    // "Невозможно открыть COM порт") and returns false. The caller stores the
    // result in PortOpen.
    bool OpenPort(const QString& portName);
    void SetupPort();
    // Clears PortOpen, emits portClosed() (the window clears DeviceConnected),
    // closes the device and drops the bytes still queued.
    void ClosePort();
    // Queues one byte. On a closed port the byte is dropped and notOpen() is
    // emitted. Bytes leave in call order, more than PauseMs apart, while the
    // event loop keeps running.
    void SendByte(std::uint8_t byte);
    // Runs `done` once every byte queued so far has gone out (or was dropped).
    void whenSent(std::function<void()> done);
    // Appends the bytes the port holds to RxBuf, up to its capacity; the rest
    // stays queued in the operating system for the next call.
    void DrainReceived();
    // Removes the first `count` bytes of RxBuf (the decoder consumed them).
    void consume(int count);

    bool PortOpen = false;
    std::array<std::uint8_t, RxCapacity> RxBuf{};
    int RxCount = 0;

    // Bytes still waiting for their turn on the wire.
    int queuedBytes() const;

Q_SIGNALS:
    void openFailed();
    void notOpen();
    void writeFailed();
    void portClosed();
    void byteSent(std::uint8_t byte);

private:
    // (implementation details are the channel's own)
};

} // namespace t5170
