// The simulator on a real pseudo-terminal, talked to as the program would:
// with plain POSIX calls on the slave and with QSerialPort.

#include "PtySimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace t5170::sim;

namespace {

// Generous bound so that a busy machine never fails a test; nothing is
// asserted about speed.
constexpr int Patience = 10000;

bool waitUntil(const std::function<bool()>& done, int ms = Patience) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// A slave fd opened the way a terminal program opens a serial port.
class RawPort {
public:
    explicit RawPort(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0)
            return;
        termios tio{};
        tcgetattr(fd_, &tio);
        cfmakeraw(&tio);
        tcsetattr(fd_, TCSANOW, &tio);
    }
    ~RawPort() { close(); }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    void write(const QByteArray& bytes) {
        ASSERT_EQ(::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size())), bytes.size());
    }
    // Reads until `count` bytes have come (or the patience is gone).
    QByteArray read(qsizetype count) {
        QByteArray got;
        waitUntil([&] {
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
            return got.size() >= count;
        });
        return got;
    }

private:
    int fd_ = -1;
};

QByteArray hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text));
}

class PtySim : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath(QStringLiteral("ttyT5170"));
        ASSERT_TRUE(sim.start(link));
    }
    // Writes bytes and waits until the simulator has read them.
    void send(RawPort& port, const QByteArray& bytes) {
        const auto before = sim.received().size();
        port.write(bytes);
        ASSERT_TRUE(waitUntil([&] { return sim.received().size() >= before + bytes.size(); }));
    }

    QTemporaryDir dir;
    QString link;
    PtySimulator sim;
};

} // namespace

TEST_F(PtySim, AnswersThroughTheLinkAndLogsEveryByteWithItsTime) {
    EXPECT_TRUE(sim.devicePath().startsWith(QLatin1String("/dev/pts/")));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.devicePath());
    RawPort port(link);
    ASSERT_TRUE(port.isOpen());
    QSignalSpy bytes(&sim, &PtySimulator::byteReceived);

    port.write(hex("55"));
    EXPECT_EQ(port.read(1), hex("55"));
    // 6B 55 00 in three reads of the simulator: the 0x55 is a data byte.
    for (const char* piece : {"6B", "55", "00"})
        send(port, hex(piece));
    QThread::msleep(60);
    send(port, hex("6A"));
    EXPECT_EQ(port.read(3), hex("6A5500"));
    EXPECT_EQ(sim.testVoltage(), 85);
    EXPECT_EQ(sim.pollsAnswered(), 1u);

    const auto& log = sim.received();
    QByteArray logged;
    for (const auto& e : log)
        logged.append(static_cast<char>(e.byte));
    EXPECT_EQ(logged, hex("556B55006A"));
    EXPECT_EQ(bytes.count(), 5);
    for (std::size_t i = 1; i < log.size(); ++i)
        EXPECT_LE(log[i - 1].ms, log[i].ms);
    // 0x00 was read before the pause began, 0x6A after it ended.
    EXPECT_GE(log[4].ms - log[3].ms, 60);
    EXPECT_LE(log[4].ms, PtySimulator::nowMs());
    sim.clearLog();
    EXPECT_TRUE(sim.received().empty());
}

TEST_F(PtySim, ResultArrivesWholeAndInOrderBeforeTheNextPollAnswerSplitOrNot) {
    RawPort port(link);
    sim.setMeasureDurationMs(0);
    QSignalSpy started(&sim, &PtySimulator::measurementStarted);
    QSignalSpy sent(&sim, &PtySimulator::resultSent);
    const QByteArray want = hex("5D 61 63C409 64E7030000 65DC050000 66DE05 5E 5B 55");
    for (const bool split : {false, true}) {
        sim.setSplitWrites(split);
        sim.setNextResult({2500, 999, 1500, 1502});
        const quint64 writesBefore = sim.writeCalls();
        port.write(hex("5955"));
        EXPECT_EQ(port.read(want.size()).toHex(' '), want.toHex(' ')) << split;
        // Pieces of at most three bytes, each its own write.
        const quint64 writes = sim.writeCalls() - writesBefore;
        if (split)
            EXPECT_GE(writes, static_cast<quint64>(want.size() / 3));
        else
            EXPECT_LE(writes, 2u);
        send(port, hex("5C"));
        EXPECT_FALSE(sim.ackPending());
    }
    ASSERT_EQ(started.count(), 2);
    EXPECT_EQ(started.at(0).at(0).toInt(), kindAbsorption);
    ASSERT_EQ(sent.count(), 2);
    EXPECT_EQ(sent.at(1).at(0).toInt(), kindAbsorption);
    EXPECT_EQ(sim.counters().acksReceived, 2u);
}

TEST_F(PtySim, KeepsAnsweringPollsWhileMeasuringAndReportsFailure) {
    RawPort port(link);
    sim.setMeasureDurationMs(60000);
    QSignalSpy failed(&sim, &PtySimulator::measurementFailed);
    port.write(hex("5A55"));
    EXPECT_EQ(port.read(1), hex("55"));
    EXPECT_TRUE(sim.measuring());

    // A failure ends the next measurement with 0x67 alone.
    sim.setMeasureDurationMs(0);
    sim.failNextMeasurement();
    sim.setAnswerPolls(false); // switched off: the running one is lost
    EXPECT_FALSE(sim.measuring());
    send(port, hex("55"));
    sim.setAnswerPolls(true);
    sim.startFromKeys(kindResistance);
    port.write(hex("55"));
    EXPECT_EQ(port.read(2), hex("6755"));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(sim.resultsSent(), 0u);
    EXPECT_EQ(sim.measurementsDone(), 1u);
}

TEST_F(PtySim, NoByteLostAcrossManyReadsAndAReopenedPortAndNoSpinWhileClosed) {
    auto port = std::make_unique<RawPort>(link);
    QByteArray answers;
    for (int i = 0; i < 200; ++i) {
        port->write(hex("55"));
        if (i % 10 == 9)
            answers += port->read(10);
    }
    EXPECT_EQ(answers, QByteArray(200, 0x55));
    EXPECT_EQ(sim.pollsAnswered(), 200u);

    // The program closes its port: the master must not wake the simulator
    // again and again (EIO) while nobody has the slave open.
    port.reset();
    const quint64 wakeups = sim.readWakeups();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_LE(sim.readWakeups() - wakeups, 2u);

    // Bytes sent meanwhile wait for the next opener; nothing is stolen by the
    // simulator's own slave fd.
    sim.setMeasureDurationMs(0);
    sim.setNextResult({1000, 2000000, 0, 0});
    sim.startFromKeys(kindResistance);
    RawPort again(link);
    ASSERT_TRUE(again.isOpen());
    again.write(hex("55"));
    EXPECT_EQ(again.read(13).toHex(' '), hex("5D 60 63E803 6480841E00 5E 5B 55").toHex(' '));
    EXPECT_EQ(sim.bytesDropped(), 0u);
}

TEST_F(PtySim, UnplugMakesTheDeviceVanishAndStartPlugsInAgain) {
    RawPort port(link);
    port.write(hex("55"));
    ASSERT_EQ(port.read(1), hex("55"));
    const QString oldPath = sim.devicePath();
    QSignalSpy unplugged(&sim, &PtySimulator::unplugged);

    sim.unplug();
    EXPECT_EQ(unplugged.count(), 1);
    EXPECT_FALSE(sim.isPlugged());
    pollfd pfd{port.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, Patience), 1);
    EXPECT_TRUE(pfd.revents & (POLLHUP | POLLERR));
    char c = 0;
    const ssize_t n = ::read(port.fd(), &c, 1);
    EXPECT_TRUE(n == 0 || (n < 0 && errno == EIO)) << n << " " << errno;
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(RawPort(oldPath).isOpen());
    // Bytes meant for the PC while unplugged are lost, not queued.
    sim.sendRaw(hex("55"));
    EXPECT_EQ(sim.bytesDropped(), 1u);

    ASSERT_TRUE(sim.start(link));
    RawPort fresh(link);
    ASSERT_TRUE(fresh.isOpen());
    fresh.write(hex("69"));
    EXPECT_EQ(fresh.read(2), hex("69C0"));
}

TEST_F(PtySim, StartRefusesToReplaceAFileThatIsNoSymlink) {
    PtySimulator other;
    const QString file = dir.filePath(QStringLiteral("plain"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(other.start(file));
    EXPECT_TRUE(QFileInfo(file).isFile());
    // Our own stale link from an earlier run is replaced.
    ASSERT_TRUE(other.start(link));
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), other.devicePath());
}

TEST_F(PtySim, ExclusiveModeDiesWithTheProgramThatSetIt) {
    // A program killed while holding the port never clears TIOCEXCL; the
    // kernel only closes its fd. Without help the next unprivileged open
    // would fail with EBUSY for as long as the simulator runs.
    auto exclusive = [&] {
        RawPort probe(sim.devicePath()); // we run as root here: EBUSY does not apply
        int on = -1;
        ::ioctl(probe.fd(), TIOCGEXCL, &on);
        return on;
    };
    {
        RawPort dying(sim.devicePath());
        ASSERT_EQ(::ioctl(dying.fd(), TIOCEXCL), 0);
        ASSERT_EQ(exclusive(), 1);
    }
    EXPECT_TRUE(waitUntil([&] { return exclusive() == 0; }));
}

TEST_F(PtySim, QSerialPortTalksAndReopens) {
    for (int round = 0; round < 2; ++round) {
        QSerialPort port(sim.devicePath());
        ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
        port.setBaudRate(QSerialPort::Baud9600);
        port.setDataBits(QSerialPort::Data8);
        port.setParity(QSerialPort::NoParity);
        port.setStopBits(QSerialPort::OneStop);
        port.setFlowControl(QSerialPort::NoFlowControl);
        port.write(hex("5568"));
        QByteArray got;
        waitUntil([&] {
            got += port.readAll();
            return got.size() >= 4;
        });
        EXPECT_EQ(got, hex("5568D204")) << round;
        port.close();
    }
}
