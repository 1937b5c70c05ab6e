#include "PtySimulator.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace t5170::sim {

namespace {

// Output the PC never reads piles up; beyond this it is dropped as a real
// line would lose it.
constexpr qsizetype MaxPending = 64 * 1024;

} // namespace

qint64 PtySimulator::nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<qint64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

PtySimulator::PtySimulator(QObject* parent)
    : QObject(parent), measureTimer_(new QTimer(this)), paceTimer_(new QTimer(this)),
      retryTimer_(new QTimer(this)) {
    measureTimer_->setSingleShot(true);
    paceTimer_->setSingleShot(true);
    retryTimer_->setSingleShot(true);
    connect(measureTimer_, &QTimer::timeout, this, &PtySimulator::onMeasureTimeout);
    connect(paceTimer_, &QTimer::timeout, this, &PtySimulator::pump);
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (readNotifier_)
            readNotifier_->setEnabled(true);
    });
}

PtySimulator::~PtySimulator() {
    closeFds();
    removeLink();
}

bool PtySimulator::start(const QString& linkPath) {
    if (master_ >= 0)
        return false;
    const int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0)
        return false;
    auto fail = [&](int slave) {
        if (slave >= 0)
            ::close(slave);
        ::close(m);
        return false;
    };
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    char name[PATH_MAX] = {};
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0)
        return fail(-1);
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (s < 0)
        return fail(-1);
    termios tio{};
    if (tcgetattr(s, &tio) != 0)
        return fail(s);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(s, TCSANOW, &tio) != 0)
        return fail(s);

    if (!linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(linkPath);
        const QFileInfo info(linkPath);
        if (info.isSymLink())
            ::unlink(link.constData());
        else if (info.exists())
            return fail(s);
        if (::symlink(name, link.constData()) != 0)
            return fail(s);
    }

    master_ = m;
    slave_ = s;
    devicePath_ = QString::fromLocal8Bit(name);
    linkPath_ = linkPath;
    readNotifier_ = std::make_unique<QSocketNotifier>(m, QSocketNotifier::Read);
    connect(readNotifier_.get(), &QSocketNotifier::activated, this, &PtySimulator::onReadable);
    writeNotifier_ = std::make_unique<QSocketNotifier>(m, QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_.get(), &QSocketNotifier::activated, this, &PtySimulator::onWritable);
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ >= 0 &&
        inotify_add_watch(inotify_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0) {
        closeNotifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
        connect(closeNotifier_.get(), &QSocketNotifier::activated, this,
                &PtySimulator::onSlaveClosed);
    }
    return true;
}

void PtySimulator::unplug() {
    if (master_ < 0)
        return;
    dropped_ += static_cast<quint64>(writeBuf_.size());
    for (const Chunk& c : chunks_)
        dropped_ += static_cast<quint64>(c.bytes.size());
    closeFds();
    removeLink();
    emit unplugged();
}

void PtySimulator::closeFds() {
    // Notifiers go before their fds so that none is left watching a closed one.
    readNotifier_.reset();
    writeNotifier_.reset();
    closeNotifier_.reset();
    if (inotify_ >= 0)
        ::close(inotify_);
    inotify_ = -1;
    paceTimer_->stop();
    retryTimer_->stop();
    chunks_.clear();
    writeBuf_.clear();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = -1;
    master_ = -1;
}

void PtySimulator::removeLink() {
    if (linkPath_.isEmpty())
        return;
    // Only our own link: a file someone put there since is left alone.
    const QFileInfo info(linkPath_);
    if (info.isSymLink() && info.symLinkTarget() == devicePath_)
        ::unlink(QFile::encodeName(linkPath_).constData());
    linkPath_.clear();
}

void PtySimulator::setAnswerPolls(bool on) {
    const bool wasMeasuring = core_.measuring();
    core_.setPowered(on);
    if (wasMeasuring && !core_.measuring())
        measureTimer_->stop();
}

void PtySimulator::setMeasureDurationMs(int ms) {
    measureMs_ = ms < 0 ? 0 : ms;
}

void PtySimulator::setAbsTimes(quint8 first, quint8 total) {
    core_.settings().absFirst = first;
    core_.settings().absTotal = total;
}

void PtySimulator::setPolTimes(quint8 first, quint8 total) {
    core_.settings().polFirst = first;
    core_.settings().polTotal = total;
}

void PtySimulator::startFromKeys(int kind) {
    if (core_.startMeasurement(kind))
        beginMeasurement(kind);
}

void PtySimulator::sendRaw(const QByteArray& bytes) {
    send(bytes);
}

void PtySimulator::onReadable() {
    ++wakeups_;
    if (master_ < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            const qint64 now = nowMs();
            QByteArray reply;
            for (ssize_t i = 0; i < n; ++i) {
                const auto b = static_cast<quint8>(buf[i]);
                log_.push_back({now, b});
                emit byteReceived(b);
                const InstrumentCore::Step step = core_.feed(b);
                reply += step.reply;
                if (step.started) {
                    // Keep the order on the wire: replies so far go before
                    // an instant result.
                    if (!reply.isEmpty())
                        send(std::exchange(reply, {}));
                    beginMeasurement(*step.started);
                }
            }
            if (!reply.isEmpty())
                send(reply);
            if (master_ < 0) // a slot unplugged us
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO: nobody holds the slave. Our own slave fd prevents it, but should
        // it happen anyway, back off instead of spinning on the notifier.
        if (readNotifier_)
            readNotifier_->setEnabled(false);
        retryTimer_->start(100);
        return;
    }
}

void PtySimulator::onSlaveClosed() {
    char buf[4096];
    while (::read(inotify_, buf, sizeof buf) > 0) {
    }
    // Exclusive mode (TIOCEXCL, which QSerialPort sets) belongs to the tty, and
    // our own slave fd keeps the tty alive: a program killed without closing
    // its port would lock out its next start. Clear it once an opener is gone.
    if (slave_ >= 0)
        ::ioctl(slave_, TIOCNXCL);
}

void PtySimulator::beginMeasurement(int kind) {
    emit measurementStarted(kind);
    if (measureMs_ == 0)
        onMeasureTimeout();
    else
        measureTimer_->start(measureMs_);
}

void PtySimulator::onMeasureTimeout() {
    const std::optional<int> kind = core_.currentKind();
    if (!kind)
        return;
    const QByteArray bytes = core_.finishMeasurement();
    send(bytes);
    if (bytes.size() == 1 && static_cast<quint8>(bytes[0]) == dev::Failed)
        emit measurementFailed(*kind);
    else
        emit resultSent(*kind);
}

void PtySimulator::send(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    emit bytesSent(bytes);
    if (master_ < 0) {
        dropped_ += static_cast<quint64>(bytes.size());
        return;
    }
    if (!split_) {
        chunks_.push_back({bytes, false});
    } else {
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype len = std::min<qsizetype>(1 + splitPos_++ % 3, bytes.size() - at);
            chunks_.push_back({bytes.mid(at, len), true});
            at += len;
        }
    }
    pump();
}

void PtySimulator::pump() {
    while (!chunks_.empty() && !paceTimer_->isActive()) {
        Chunk c = std::move(chunks_.front());
        chunks_.pop_front();
        writeBuf_ += c.bytes;
        flush();
        if (c.pauseAfter && !chunks_.empty())
            paceTimer_->start(splitGapMs_);
    }
    if (writeBuf_.size() > MaxPending) {
        const qsizetype excess = writeBuf_.size() - MaxPending;
        dropped_ += static_cast<quint64>(excess);
        writeBuf_.remove(0, excess);
    }
}

void PtySimulator::flush() {
    while (master_ >= 0 && !writeBuf_.isEmpty()) {
        const ssize_t n =
            ::write(master_, writeBuf_.constData(), static_cast<size_t>(writeBuf_.size()));
        if (n > 0) {
            ++writeCalls_;
            writeBuf_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            writeNotifier_->setEnabled(true);
            return;
        }
        dropped_ += static_cast<quint64>(writeBuf_.size());
        writeBuf_.clear();
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(false);
}

void PtySimulator::onWritable() {
    flush();
}

} // namespace t5170::sim
