#pragma once
// Failing disks and folders for the fault tests, each undone when it goes
// out of scope:
// - ReadOnlyFolder: the folder's write bits cleared; a process running as
//   root (as CI does) also gives up, for the calling thread, the
//   capabilities that let root write anyway.
// - FileSizeLimit: every write beyond N bytes of a file fails (EFBIG), as on
//   a full disk, whatever the file system.
// - SmallTmpfs: a real file system of a few kilobytes (ENOSPC when full);
//   needs the right to mount, so tests skip it where that is missing.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <csignal>
#include <cstdint>

#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace t5170::testing {

class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(QString path) : path_(std::move(path)) {
        const QByteArray p = QFile::encodeName(path_);
        struct stat st {};
        ::stat(p.constData(), &st);
        mode_ = st.st_mode & 07777;
        ::chmod(p.constData(), 0555);
        if (::geteuid() == 0)
            dropped_ = setOverride(false);
    }
    ~ReadOnlyFolder() {
        if (dropped_)
            setOverride(true);
        ::chmod(QFile::encodeName(path_).constData(), mode_);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // Whether writing into the folder is really refused now.
    bool effective() const {
        const QString probe = QDir(path_).filePath(QStringLiteral(".probe"));
        QFile f(probe);
        if (f.open(QIODevice::WriteOnly)) {
            f.close();
            QFile::remove(probe);
            return false;
        }
        return true;
    }

private:
    // Clears or restores, in the effective set of this thread, the
    // capabilities that override file permissions.
    static bool setOverride(bool on) {
        __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (::syscall(SYS_capget, &head, data) != 0)
            return false;
        const std::uint32_t bits =
            (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
        if (on)
            data[0].effective |= bits & data[0].permitted;
        else
            data[0].effective &= ~bits;
        return ::syscall(SYS_capset, &head, data) == 0;
    }

    QString path_;
    mode_t mode_ = 0755;
    bool dropped_ = false;
};

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN); // a failing write, not a killed process
        rlimit r = old_;
        r.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

class SmallTmpfs {
public:
    SmallTmpfs(const QString& mountPoint, int kilobytes) : path_(mountPoint) {
        const QByteArray opts = "size=" + QByteArray::number(kilobytes) + "k,mode=0777";
        mounted_ = ::mount("t5170-test", QFile::encodeName(path_).constData(), "tmpfs", 0,
                           opts.constData()) == 0;
    }
    ~SmallTmpfs() {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const QString& path() const { return path_; }

private:
    QString path_;
    bool mounted_ = false;
};

} // namespace t5170::testing
