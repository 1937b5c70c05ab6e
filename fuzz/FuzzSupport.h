#pragma once
// Helpers the fuzz targets share.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace t5170::fuzz {

// Writes `data` to a file of this process (the same path on every call, with
// the given suffix, in the temporary folder) and returns its path.
QString scratchFile(const std::uint8_t* data, std::size_t size, const QString& suffix);

// A byte source over the input that yields zeros once it runs out.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t take() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::size_t left() const { return size_ - pos_; }
    const std::uint8_t* rest() const { return data_ + pos_; }
    QByteArray restBytes() const {
        return QByteArray(reinterpret_cast<const char*>(rest()), static_cast<qsizetype>(left()));
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace t5170::fuzz
