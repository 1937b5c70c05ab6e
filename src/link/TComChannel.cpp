#include "link/TComChannel.h"

#include <QRegularExpression>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace t5170 {

TComChannel::TComChannel(QObject* parent, MsClock clock)
    : QObject(parent), m_port(new QSerialPort(this)), m_pauseTimer(new QTimer(this)),
      m_clock(orMonotonic(std::move(clock))) {
    m_pauseTimer->setSingleShot(true);
    // A coarse timer may fire early; the pump re-checks the clock anyway.
    m_pauseTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pauseTimer, &QTimer::timeout, this, &TComChannel::pump);
    connect(m_port, &QSerialPort::bytesWritten, this, &TComChannel::pump);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError e) { onPortError(static_cast<int>(e)); });
}

void TComChannel::setClock(MsClock clock) {
    m_clock = orMonotonic(std::move(clock));
    // The pause counts on the new clock from now on.
    m_lastLeftAt = m_clock();
}

TComChannel::~TComChannel() {
    // No signals and no callbacks from here: their receivers may already be
    // half destroyed.
    m_pauseTimer->stop();
    if (m_port->isOpen()) {
        m_port->disconnect(this);
        m_port->close();
    }
}

QString TComChannel::devicePath(const QString& portName) {
    if (portName.contains(QLatin1Char('/')))
        return portName;
    // COM1..COM8 are the first eight on-board serial devices.
    static const QRegularExpression com(QStringLiteral("^COM([1-8])$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto m = com.match(portName);
    if (m.hasMatch())
        return QStringLiteral("/dev/ttyS%1").arg(m.captured(1).toInt() - 1);
    return portName;
}

bool TComChannel::OpenPort(const QString& portName) {
    if (PortOpen || m_port->isOpen())
        ClosePort();
    const QString path = devicePath(portName);
    bool opened = false;
    if (!path.isEmpty()) {
        m_port->setPortName(path);
        opened = m_port->open(QIODevice::ReadWrite);
    }
    if (!opened) {
        m_port->clearError();
        PortOpen = false;
        Q_EMIT openFailed();
        return false;
    }
    SetupPort();
    PortOpen = true;
    return true;
}

void TComChannel::SetupPort() {
    if (!m_port->isOpen())
        return;
    // Results are ignored: a port that refuses a setting still counts as open
    // (a pseudo-terminal has no DTR or RTS line).
    m_port->setBaudRate(QSerialPort::Baud9600);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
    m_port->clearError();
}

void TComChannel::ClosePort() {
    PortOpen = false;
    m_pauseTimer->stop();
    // Whatever was still queued is dropped, so nothing reaches the device
    // after a failure.
    m_queue.clear();
    m_inFlight = false;
    m_doneTotal = m_queuedTotal;
    if (m_port->isOpen())
        m_port->close();
    m_port->clearError();
    Q_EMIT portClosed();
    runDueCallbacks();
}

void TComChannel::SendByte(std::uint8_t byte) {
    if (!PortOpen) {
        Q_EMIT notOpen();
        return;
    }
    if (!m_port->isOpen()) { // PortOpen set by hand on a closed device
        writeFailure();
        return;
    }
    m_queue.push_back(byte);
    ++m_queuedTotal;
    pump();
}

void TComChannel::whenSent(std::function<void()> done) {
    if (!done)
        return;
    if (m_doneTotal >= m_queuedTotal) {
        done();
        return;
    }
    m_waiters.push_back({m_queuedTotal, std::move(done)});
}

void TComChannel::pump() {
    if (m_pumping)
        return; // re-entered from a signal of the write below; the loop goes on
    m_pumping = true;
    while (PortOpen && m_port->isOpen()) {
        if (m_inFlight) {
            if (m_port->bytesToWrite() > 0)
                break; // bytesWritten calls again once the port has passed it on
            // The pause counts from here, when the byte has really left.
            m_inFlight = false;
            m_lastLeftAt = m_clock();
            m_anyLeft = true;
            ++m_doneTotal;
            const std::uint8_t sent = m_inFlightByte;
            m_pumping = false;
            Q_EMIT byteSent(sent);
            runDueCallbacks();
            m_pumping = true; // receivers may have queued, sent or closed: look again
            continue;
        }
        if (m_queue.empty())
            break;
        if (m_anyLeft) {
            const std::int64_t elapsed = m_clock() - m_lastLeftAt;
            if (elapsed < GapTicks) {
                m_pauseTimer->start(static_cast<int>(GapTicks - elapsed));
                break;
            }
        }
        const std::uint8_t byte = m_queue.front();
        m_queue.pop_front();
        m_inFlight = true;
        m_inFlightByte = byte;
        const char c = static_cast<char>(byte);
        if (m_port->write(&c, 1) != 1) {
            m_pumping = false;
            writeFailure();
            return;
        }
        m_port->flush(); // may report a write error, which closes the port
    }
    m_pumping = false;
}

void TComChannel::writeFailure() {
    if (m_failing)
        return;
    m_failing = true;
    ClosePort();
    m_failing = false;
    Q_EMIT writeFailed();
}

void TComChannel::onPortError(int error) {
    switch (static_cast<QSerialPort::SerialPortError>(error)) {
    case QSerialPort::WriteError:
    case QSerialPort::ReadError:
    case QSerialPort::ResourceError:
        // After an unplug a write may still succeed and the port reports one
        // of these instead; left open, it would report them again and again
        // at full speed, so the first one closes it.
        if (m_port->isOpen())
            writeFailure();
        break;
    default:
        break;
    }
}

void TComChannel::DrainReceived() {
    if (!m_port->isOpen())
        return;
    const int room = RxCapacity - RxCount;
    if (room <= 0)
        return; // the rest waits in the port for the next tick
    const qint64 n = m_port->read(reinterpret_cast<char*>(RxBuf.data()) + RxCount, room);
    if (n > 0)
        RxCount += static_cast<int>(n);
}

void TComChannel::consume(int count) {
    count = std::clamp(count, 0, RxCount);
    if (count == 0)
        return;
    std::memmove(RxBuf.data(), RxBuf.data() + count, static_cast<std::size_t>(RxCount - count));
    RxCount -= count;
}

int TComChannel::queuedBytes() const {
    return static_cast<int>(m_queuedTotal - m_doneTotal);
}

void TComChannel::runDueCallbacks() {
    while (!m_waiters.empty() && m_waiters.front().upTo <= m_doneTotal) {
        auto done = std::move(m_waiters.front().done);
        m_waiters.pop_front();
        done();
    }
}

} // namespace t5170
