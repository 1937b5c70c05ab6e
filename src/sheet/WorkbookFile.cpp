#include "sheet/WorkbookFile.h"

#include "sheet/xls/CompoundFile.h"
#include "sheet/xls/XlsFile.h"
#include "sheet/xlsx/XlsxIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace t5170::sheet {

namespace {

std::string systemError(const char* what, const QString& path) {
    return std::string(what) + " " + path.toStdString() + ": " + std::strerror(errno);
}

// Runs `f`, turning every failure into a SheetError.
template <typename F> auto asSheetError(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const SheetError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw SheetError("Недостаточно памяти для книги");
    } catch (const std::exception& e) {
        throw SheetError(e.what());
    }
}

} // namespace

FileFormat detectFormat(const QString& path) {
    QFileInfo info(path);
    if (!info.exists())
        throw SheetError("Файл не найден: " + path.toStdString());
    if (info.isDir())
        throw SheetError("Это папка, а не файл: " + path.toStdString());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SheetError("Невозможно открыть файл " + path.toStdString() + ": " +
                         file.errorString().toStdString());
    const QByteArray head = file.read(8);
    if (head.size() == 8 && std::memcmp(head.constData(), kCompoundSignature, 8) == 0)
        return FileFormat::Xls;
    if (head.startsWith(QByteArrayLiteral("PK\x03\x04")))
        return FileFormat::Xlsx;
    throw SheetError("Файл не является книгой электронной таблицы: " + path.toStdString());
}

FileFormat formatForName(const QString& path) {
    return path.endsWith(u".xlsx", Qt::CaseInsensitive) ? FileFormat::Xlsx : FileFormat::Xls;
}

Workbook openWorkbook(const QString& path) {
    return asSheetError(
        [&] { return detectFormat(path) == FileFormat::Xls ? readXls(path) : readXlsx(path); });
}

void saveWorkbook(const Workbook& book, const QString& path) {
    if (formatForName(path) == FileFormat::Xlsx)
        writeAtomically(path, [&book](const QString& temp) { writeXlsx(book, temp); });
    else
        writeAtomically(path, [&book](const QString& temp) { writeXls(book, temp); });
}

void writeAtomically(const QString& path,
                     const std::function<void(const QString& tempPath)>& write) {
    if (path.isEmpty())
        throw SheetError("Не задано имя файла");
    QFileInfo info(path);
    QString target = info.absoluteFilePath();
    if (info.isSymLink()) {
        const QString resolved = info.symLinkTarget();
        if (!resolved.isEmpty())
            target = QFileInfo(resolved).absoluteFilePath();
    }
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir())
        throw SheetError("Это папка, а не файл: " + target.toStdString());
    const QString dir = targetInfo.absolutePath();
    if (!QFileInfo(dir).isDir())
        throw SheetError("Нет папки " + dir.toStdString());

    const QByteArray targetLocal = QFile::encodeName(target);
    QString temp;
    QByteArray tempLocal;
    for (int attempt = 0;; ++attempt) {
        temp = dir + QStringLiteral("/.") + targetInfo.fileName() + QStringLiteral(".tmp") +
               QString::number(QRandomGenerator::global()->generate(), 36);
        tempLocal = QFile::encodeName(temp);
        const int fd = ::open(tempLocal.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            break;
        }
        if (errno != EEXIST || attempt > 16)
            throw SheetError(systemError("Невозможно создать файл в папке", dir));
    }
    try {
        asSheetError([&] { write(temp); });
        struct stat old {};
        if (::stat(targetLocal.constData(), &old) == 0)
            ::chmod(tempLocal.constData(), old.st_mode & 07777);
        const int fd = ::open(tempLocal.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw SheetError(systemError("Невозможно открыть", temp));
        const bool synced = ::fsync(fd) == 0;
        ::close(fd);
        if (!synced)
            throw SheetError(systemError("Ошибка записи на диск", temp));
        if (::rename(tempLocal.constData(), targetLocal.constData()) != 0)
            throw SheetError(systemError("Невозможно заменить файл", target));
    } catch (...) {
        ::unlink(tempLocal.constData());
        throw;
    }
    // The rename itself reaches the disk with the folder.
    const int dirFd =
        ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace t5170::sheet
