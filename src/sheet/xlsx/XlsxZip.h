#pragma once
// Bounded reading of the zip container of an .xlsx package: entry counts
// and inflated sizes are checked against caps while inflating, so a zip
// bomb or a lying header ends in SheetError instead of exhausting memory.

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct zip;
struct zip_source;

namespace t5170::sheet::xlsx {

struct ZipLimits {
    std::size_t maxEntries = 10'000;
    // Inflated bytes of one part, and of all parts read from one package.
    std::size_t maxPartBytes = 200u << 20;
    std::size_t maxTotalBytes = 200u << 20;
};

class ZipReader {
public:
    // The bytes must outlive the reader.
    explicit ZipReader(const QByteArray& bytes, ZipLimits limits = {});
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Part names compare without case, as the package format says; a
    // leading '/' is ignored.
    bool contains(std::string_view part) const;
    std::string read(std::string_view part);
    std::optional<std::string> readIfPresent(std::string_view part);
    std::vector<std::string> names() const;
    // A part read in pieces, under the same caps as read(): each call
    // appends about `want` inflated bytes to `buffer`, and returns false
    // once the part has ended (its checksum verified). Fails like read().
    // The reader must outlive the stream.
    using Stream = std::function<bool(std::string& buffer, std::size_t want)>;
    Stream stream(std::string_view part);

    // A deflated part as stored: its compressed bytes, with the size and
    // checksum it inflates to (checked against the caps). Nothing for a
    // part that is missing or stored some other way.
    struct Deflated {
        std::string compressed;
        std::uint64_t size = 0;
        std::uint32_t crc = 0;
    };
    std::optional<Deflated> deflated(std::string_view part);

private:
    struct Opened;
    std::unique_ptr<Opened> open(std::string_view part, bool required);
    std::optional<std::uint64_t> locate(std::string_view part) const;

    zip* archive_ = nullptr;
    ZipLimits limits_;
    std::size_t total_ = 0;
};

// Resolves a relationship target against the folder of the part that owns
// the relationships ("xl/workbook.xml" + "worksheets/sheet1.xml").
std::string resolvePartName(std::string_view sourcePart, std::string_view target);
// The relationships part of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels".
std::string relsPartOf(std::string_view part);

} // namespace t5170::sheet::xlsx
