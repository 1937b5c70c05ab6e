#pragma once
// Saving an edited worksheet without deflating it all again. A deflate
// stream is a run of blocks, and a block refers back at most 32 KiB into
// the text before it. A block whose text is unchanged, with no change in
// the 32 KiB before it either, decodes the same in the new stream: its
// compressed bits are copied as they are (shifted to where they now
// start). Only the text around the changes is compressed anew, continuing
// the stream at its bit position with the text before as the dictionary.
// A report grows at its end, so saving one record more costs the last
// block, not the whole sheet.

#include "sheet/xlsx/XlsxXml.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace t5170::sheet::xlsx {

// A raw deflate stream inflated, with where its blocks begin.
struct InflatedPart {
    InflatedPart() = default;
    InflatedPart(InflatedPart&& other) noexcept;
    InflatedPart& operator=(InflatedPart&&) = delete;
    ~InflatedPart();
    // A worksheet's text is tens of megabytes: it lives in a large block
    // (huge pages, SheetModel.h) for the time of a save.
    char* bytes = nullptr;
    std::size_t size = 0;
    std::string_view text() const { return {bytes, size}; }
    struct Boundary {
        std::size_t textOffset; // of the text the block starts
        std::uint64_t bit;      // its first bit in the stream
    };
    // Every block's start, in stream order, beginning with {0, 0}.
    std::vector<Boundary> boundaries;
    std::uint64_t endBit = 0; // just after the last block
};

// Inflates `compressed`, which must come out as exactly `size` bytes
// holding `crc`; throws SheetError otherwise.
InflatedPart inflateNotingBlocks(std::string_view compressed, std::size_t size, std::uint32_t crc);

// A deflated part ready for the package.
struct DeflatedPart {
    std::string data;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    // Compressed bytes taken over from the old stream, and text bytes
    // compressed anew (for the benchmarks and tests).
    std::size_t keptBytes = 0;
    std::size_t recompressedText = 0;
};

// The part with `edits` applied to `original` (inflated from `compressed`):
// blocks the edits leave alone are kept, the rest deflated at `level`.
DeflatedPart deflateEdited(std::string_view compressed, const InflatedPart& original,
                           std::vector<TextEdit> edits, int level = 6);

} // namespace t5170::sheet::xlsx
