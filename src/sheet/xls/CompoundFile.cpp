#include "sheet/xls/CompoundFile.h"

#include "sheet/SheetModel.h"

#include <QBuffer>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

namespace t5170::sheet {

namespace {

constexpr quint32 kFreeSect = 0xFFFFFFFF;
constexpr quint32 kEndOfChain = 0xFFFFFFFE;
constexpr quint32 kFatSect = 0xFFFFFFFD;
constexpr quint32 kDifSect = 0xFFFFFFFC;
constexpr quint32 kNoStream = 0xFFFFFFFF;
constexpr int kHeaderDifat = 109;
constexpr int kDirEntrySize = 128;
constexpr quint32 kMiniCutoff = 4096;

[[noreturn]] void damaged(const char* what) {
    throw SheetError(std::string("Файл повреждён: ") + what);
}

quint16 u16(const char* p) {
    return qFromLittleEndian<quint16>(p);
}
quint32 u32(const char* p) {
    return qFromLittleEndian<quint32>(p);
}

// Reads the container's tables and then only the sectors asked for, so that
// a stream read from a file is held once, not next to a copy of the file.
class Reader {
public:
    explicit Reader(QIODevice& file) : f_(file), fileSize_(file.size()) {
        if (fileSize_ < 512)
            damaged("нет заголовка");
        header_ = readAt(0, 512);
        const char* h = header_.constData();
        if (std::memcmp(h, kCompoundSignature, 8) != 0)
            damaged("нет подписи составного файла");
        const quint16 major = u16(h + 0x1A);
        const quint16 shift = u16(h + 0x1E);
        if (u16(h + 0x1C) != 0xFFFE ||
            !((major == 3 && shift == 9) || (major == 4 && shift == 12)) || u16(h + 0x20) != 6)
            damaged("неверный заголовок");
        sector_ = qsizetype(1) << shift;
        sectorCount_ = quint32(std::max<qsizetype>(0, (fileSize_ - sector_) / sector_));
        // A last sector cut short still counts: files are often not padded.
        if ((fileSize_ - sector_) % sector_ != 0 && fileSize_ > sector_)
            ++sectorCount_;
        miniCutoff_ = u32(h + 0x38);
        readFat(u32(h + 0x2C), u32(h + 0x44), u32(h + 0x48));
        dir_ = readChain(u32(h + 0x30), 0);
        miniFatStart_ = u32(h + 0x3C);
    }

    QByteArray stream(const QString& name) {
        const qsizetype entries = dir_.size() / kDirEntrySize;
        if (entries == 0)
            damaged("нет каталога");
        for (qsizetype i = 0; i < entries; ++i) {
            const char* e = dir_.constData() + i * kDirEntrySize;
            const quint16 nameBytes = u16(e + 0x40);
            if (e[0x42] != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            const QString entryName =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(e), nameBytes / 2 - 1);
            if (entryName.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            const quint32 start = u32(e + 0x74);
            const quint32 size = u32(e + 0x78);
            if (size > quint32(fileSize_))
                damaged("поток длиннее файла");
            if (size < miniCutoff_)
                return miniStream(start, size);
            QByteArray s = readChain(start, size);
            s.truncate(size);
            return s;
        }
        throw SheetError("В файле нет книги (потока " + name.toStdString() + ")");
    }

private:
    qsizetype sectorOffset(quint32 i) const {
        if (i >= sectorCount_)
            damaged("ссылка за пределы файла");
        return (qsizetype(i) + 1) * sector_;
    }
    qsizetype sectorBytes(quint32 i) const {
        return std::min<qsizetype>(sector_, fileSize_ - (qsizetype(i) + 1) * sector_);
    }
    QByteArray readAt(qsizetype offset, qsizetype bytes) const {
        QByteArray out(bytes, Qt::Uninitialized);
        readInto(offset, out.data(), bytes);
        return out;
    }
    void readInto(qsizetype offset, char* to, qsizetype bytes) const {
        if (!f_.seek(offset) || f_.read(to, bytes) != bytes)
            damaged("файл не читается или обрезан");
    }
    QByteArray sector(quint32 i) const { return readAt(sectorOffset(i), sectorBytes(i)); }

    void readFat(quint32 fatSectors, quint32 difatStart, quint32 difatSectors) {
        if (fatSectors > sectorCount_ || difatSectors > sectorCount_)
            damaged("неверная таблица размещения");
        std::vector<quint32> list;
        const char* h = header_.constData();
        for (quint32 i = 0; i < std::min<quint32>(fatSectors, kHeaderDifat); ++i)
            list.push_back(u32(h + 0x4C + 4 * i));
        quint32 next = difatStart;
        const quint32 perDifat = quint32(sector_ / 4) - 1;
        for (quint32 k = 0; k < difatSectors && list.size() < fatSectors; ++k) {
            if (sectorBytes(next) < sector_)
                damaged("неполная таблица размещения");
            const QByteArray difat = sector(next);
            const char* d = difat.constData();
            for (quint32 i = 0; i < perDifat && list.size() < fatSectors; ++i)
                list.push_back(u32(d + 4 * i));
            next = u32(d + 4 * perDifat);
        }
        if (list.size() < fatSectors)
            damaged("неполная таблица размещения");
        fat_.reserve(std::size_t(fatSectors) * std::size_t(sector_ / 4));
        for (quint32 s : list) {
            const QByteArray table = sector(s);
            const char* d = table.constData();
            const qsizetype bytes = table.size();
            for (qsizetype i = 0; i < sector_ / 4; ++i)
                fat_.push_back(4 * i + 4 <= bytes ? u32(d + 4 * i) : kFreeSect);
        }
    }

    // The sectors of a chain, concatenated; `expected` bytes (0: as long as
    // the chain runs) must be covered. The chain is checked whole before
    // anything is read, and sectors that follow each other in the file are
    // read at once.
    QByteArray readChain(quint32 start, quint32 expected) const {
        struct Run {
            qsizetype offset, bytes;
        };
        std::vector<Run> runs;
        qsizetype covered = 0;
        quint32 s = start;
        quint32 steps = 0;
        while (s != kEndOfChain) {
            if (s >= fat_.size() || ++steps > sectorCount_)
                damaged("испорченная цепочка секторов");
            const qsizetype offset = sectorOffset(s);
            const qsizetype bytes = sectorBytes(s);
            if (!runs.empty() && runs.back().offset + runs.back().bytes == offset)
                runs.back().bytes += bytes;
            else
                runs.push_back({offset, bytes});
            covered += bytes;
            if (expected > 0 && covered >= qsizetype(expected))
                break;
            s = fat_[s];
        }
        if (covered < qsizetype(expected))
            damaged("поток обрезан");
        QByteArray out(covered, Qt::Uninitialized);
        qsizetype at = 0;
        for (const Run& run : runs) {
            readInto(run.offset, out.data() + at, run.bytes);
            at += run.bytes;
        }
        return out;
    }

    QByteArray miniStream(quint32 start, quint32 size) {
        // The mini stream lives in the root entry's chain; its sectors are
        // listed in the mini allocation table.
        const char* root = dir_.constData();
        if (root[0x42] != 5)
            damaged("нет корневого каталога");
        const QByteArray container = readChain(u32(root + 0x74), 0);
        const QByteArray miniFat =
            miniFatStart_ == kEndOfChain ? QByteArray() : readChain(miniFatStart_, 0);
        const quint32 entries = quint32(miniFat.size() / 4);
        QByteArray out;
        out.reserve(size);
        quint32 s = start;
        quint32 steps = 0;
        while (out.size() < qsizetype(size)) {
            if (s >= entries || ++steps > entries || (qsizetype(s) + 1) * 64 > container.size())
                damaged("испорченный мини-поток");
            out.append(container.constData() + qsizetype(s) * 64, 64);
            s = u32(miniFat.constData() + 4 * s);
        }
        out.truncate(size);
        return out;
    }

    QIODevice& f_;
    qsizetype fileSize_ = 0;
    QByteArray header_;
    qsizetype sector_ = 512;
    quint32 sectorCount_ = 0;
    quint32 miniCutoff_ = kMiniCutoff;
    quint32 miniFatStart_ = kEndOfChain;
    std::vector<quint32> fat_;
    QByteArray dir_;
};

void put16(char* p, quint16 v) {
    qToLittleEndian(v, p);
}
void put32(char* p, quint32 v) {
    qToLittleEndian(v, p);
}

void writeAll(QIODevice& out, const char* data, qsizetype size) {
    if (out.write(data, size) != size)
        throw SheetError("Ошибка записи файла: " + out.errorString().toStdString());
}

void writeDirEntry(char* e, const QString& name, quint8 type, quint32 child, quint32 start,
                   quint32 size) {
    std::memset(e, 0, kDirEntrySize);
    for (qsizetype i = 0; i < name.size(); ++i)
        put16(e + 2 * i, name[i].unicode());
    put16(e + 0x40, quint16((name.size() + 1) * 2));
    e[0x42] = char(type);
    e[0x43] = 1; // black
    put32(e + 0x44, kNoStream);
    put32(e + 0x48, kNoStream);
    put32(e + 0x4C, child);
    put32(e + 0x74, start);
    put32(e + 0x78, size);
}

} // namespace

QByteArray readCompoundStream(QIODevice& file, const QString& name) {
    Reader reader(file);
    return reader.stream(name);
}

QByteArray readCompoundStream(const QByteArray& file, const QString& name) {
    QBuffer buffer;
    buffer.setData(file); // shared, not copied
    buffer.open(QIODevice::ReadOnly);
    return readCompoundStream(buffer, name);
}

void writeCompoundFile(QIODevice& out, const QString& name, const QByteArray& stream) {
    if (name.isEmpty() || name.size() > 31)
        throw SheetError("Недопустимое имя потока");
    if (stream.size() > 0x7FFF0000)
        throw SheetError("Книга слишком велика для файла .xls");
    constexpr quint32 kSector = 512;
    constexpr quint32 kPerFat = kSector / 4;
    constexpr quint32 kPerDifat = kPerFat - 1;
    const quint32 size = quint32(std::max<qsizetype>(stream.size(), kMiniCutoff));
    const quint32 streamSectors = (size + kSector - 1) / kSector;
    const quint32 dirSectors = 1;
    quint32 fatSectors = 1;
    quint32 difatSectors = 0;
    for (;;) {
        difatSectors =
            fatSectors > kHeaderDifat ? (fatSectors - kHeaderDifat + kPerDifat - 1) / kPerDifat : 0;
        const quint32 total = streamSectors + dirSectors + fatSectors + difatSectors;
        const quint32 needed = (total + kPerFat - 1) / kPerFat;
        if (needed <= fatSectors)
            break;
        fatSectors = needed;
    }
    const quint32 dirStart = streamSectors;
    const quint32 fatStart = dirStart + dirSectors;
    const quint32 difatStart = fatStart + fatSectors;

    QByteArray header(kSector, '\0');
    char* h = header.data();
    std::memcpy(h, kCompoundSignature, 8);
    put16(h + 0x18, 0x003E);
    put16(h + 0x1A, 3);
    put16(h + 0x1C, 0xFFFE);
    put16(h + 0x1E, 9);
    put16(h + 0x20, 6);
    put32(h + 0x2C, fatSectors);
    put32(h + 0x30, dirStart);
    put32(h + 0x38, kMiniCutoff);
    put32(h + 0x3C, kEndOfChain);
    put32(h + 0x44, difatSectors ? difatStart : kEndOfChain);
    put32(h + 0x48, difatSectors);
    for (quint32 i = 0; i < kHeaderDifat; ++i)
        put32(h + 0x4C + 4 * i, i < fatSectors ? fatStart + i : kFreeSect);
    writeAll(out, header.constData(), header.size());

    writeAll(out, stream.constData(), stream.size());
    const QByteArray pad(qsizetype(streamSectors) * kSector - stream.size(), '\0');
    writeAll(out, pad.constData(), pad.size());

    QByteArray dir(qsizetype(dirSectors) * kSector, '\0');
    writeDirEntry(dir.data(), QStringLiteral("Root Entry"), 5, 1, kEndOfChain, 0);
    writeDirEntry(dir.data() + kDirEntrySize, name, 2, kNoStream, 0, size);
    for (int i = 2; i < 4; ++i) {
        char* e = dir.data() + i * kDirEntrySize;
        put32(e + 0x44, kNoStream);
        put32(e + 0x48, kNoStream);
        put32(e + 0x4C, kNoStream);
    }
    writeAll(out, dir.constData(), dir.size());

    QByteArray fat(qsizetype(fatSectors) * kSector, '\xFF');
    char* fp = fat.data();
    for (quint32 i = 0; i < streamSectors; ++i)
        put32(fp + 4 * i, i + 1 < streamSectors ? i + 1 : kEndOfChain);
    put32(fp + 4 * dirStart, kEndOfChain);
    for (quint32 i = 0; i < fatSectors; ++i)
        put32(fp + 4 * (fatStart + i), kFatSect);
    for (quint32 i = 0; i < difatSectors; ++i)
        put32(fp + 4 * (difatStart + i), kDifSect);
    writeAll(out, fat.constData(), fat.size());

    if (difatSectors > 0) {
        QByteArray difat(qsizetype(difatSectors) * kSector, '\xFF');
        char* dp = difat.data();
        quint32 listed = kHeaderDifat;
        for (quint32 k = 0; k < difatSectors; ++k) {
            char* d = dp + k * kSector;
            for (quint32 i = 0; i < kPerDifat && listed < fatSectors; ++i, ++listed)
                put32(d + 4 * i, fatStart + listed);
            put32(d + 4 * kPerDifat, k + 1 < difatSectors ? difatStart + k + 1 : kEndOfChain);
        }
        writeAll(out, difat.constData(), difat.size());
    }
}

} // namespace t5170::sheet
