#include "sheet/xlsx/XlsxDeflate.h"

#include "sheet/SheetModel.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

namespace t5170::sheet::xlsx {

namespace {

[[noreturn]] void corrupt() {
    throw SheetError("Файл повреждён или не является книгой .xlsx: часть архива повреждена");
}

// zlib counts in uInt: feed and take at most this much per call.
constexpr std::size_t kStep = std::size_t(1) << 30;
// How far a deflate block may refer back.
constexpr std::size_t kWindow = 32768;

uLong addCrc(uLong sum, std::string_view text) {
    for (std::size_t at = 0; at < text.size(); at += kStep)
        sum = crc32(sum, reinterpret_cast<const Bytef*>(text.data() + at),
                    static_cast<uInt>(std::min(kStep, text.size() - at)));
    return sum;
}

// The new stream, written bit by bit where old blocks are copied in.
class BitWriter {
public:
    std::string bytes;
    unsigned pending = 0; // bits not yet a whole byte, low first
    int pendingBits = 0;

    // Bits [from, to) of `stream`.
    void copy(std::string_view stream, std::uint64_t from, std::uint64_t to) {
        auto byteAt = [&stream](std::uint64_t i) {
            return i < stream.size() ? static_cast<unsigned char>(stream[i]) : 0u;
        };
        // Up to a whole byte of the source.
        while (from < to && from % 8 != 0) {
            put((byteAt(from / 8) >> (from % 8)) & 1u, 1);
            ++from;
        }
        if (pendingBits == 0) {
            const std::uint64_t whole = (to - from) / 8;
            bytes.append(stream.substr(from / 8, whole));
            from += whole * 8;
        } else {
            bytes.reserve(bytes.size() + (to - from) / 8 + 1);
            for (; from + 8 <= to; from += 8)
                put(byteAt(from / 8), 8);
        }
        for (; from < to; ++from)
            put((byteAt(from / 8) >> (from % 8)) & 1u, 1);
    }

private:
    void put(unsigned value, int bits) {
        pending |= value << pendingBits;
        pendingBits += bits;
        while (pendingBits >= 8) {
            bytes += static_cast<char>(pending & 0xFFu);
            pending >>= 8;
            pendingBits -= 8;
        }
    }
};

// Compresses `text` onto the end of `out`, after `dictionary` (the text
// just before it). The last segment ends the stream; any other ends on a
// byte with an empty stored block (a sync flush), ready for copied blocks.
void deflateSegment(BitWriter& out, std::string_view text, std::string_view dictionary, bool last,
                    int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw SheetError("Недостаточно памяти");
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);
    if (!dictionary.empty())
        deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()),
                             static_cast<uInt>(dictionary.size()));
    if (out.pendingBits > 0)
        deflatePrime(&z, out.pendingBits, static_cast<int>(out.pending));
    out.pending = 0;
    out.pendingBits = 0;
    const std::size_t start = out.bytes.size();
    const std::size_t bound = deflateBound(&z, static_cast<uLong>(text.size())) + 16;
    out.bytes.resize(start + bound);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.next_out = reinterpret_cast<Bytef*>(out.bytes.data() + start);
    std::size_t inLeft = text.size();
    std::size_t outLeft = bound;
    const int finish = last ? Z_FINISH : Z_SYNC_FLUSH;
    while (true) {
        if (z.avail_in == 0 && inLeft > 0) {
            z.avail_in = static_cast<uInt>(std::min(inLeft, kStep));
            inLeft -= z.avail_in;
        }
        if (z.avail_out == 0 && outLeft > 0) {
            z.avail_out = static_cast<uInt>(std::min(outLeft, kStep));
            outLeft -= z.avail_out;
        }
        const int rc = deflate(&z, inLeft == 0 ? finish : Z_NO_FLUSH);
        if (rc == Z_STREAM_END ||
            (rc == Z_OK && !last && inLeft == 0 && z.avail_in == 0 && z.avail_out > 0))
            break;
        if (rc != Z_OK)
            throw SheetError("Не удалось сжать лист книги");
    }
    out.bytes.resize(start + z.total_out);
}

} // namespace

InflatedPart::InflatedPart(InflatedPart&& other) noexcept
    : bytes(std::exchange(other.bytes, nullptr)), size(std::exchange(other.size, 0)),
      boundaries(std::move(other.boundaries)), endBit(other.endBit) {}

InflatedPart::~InflatedPart() {
    if (bytes)
        detail::LargeBlockAllocator<char>().deallocate(bytes, size + 1);
}

InflatedPart inflateNotingBlocks(std::string_view compressed, std::size_t size, std::uint32_t crc) {
    InflatedPart out;
    out.bytes = detail::LargeBlockAllocator<char>().allocate(size + 1);
    out.size = size;
    out.boundaries.push_back({0, 0});
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        throw SheetError("Недостаточно памяти");
    const std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
    std::size_t inLeft = compressed.size();
    std::size_t outLeft = size;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.next_out = reinterpret_cast<Bytef*>(out.bytes);
    while (true) {
        if (z.avail_in == 0 && inLeft > 0) {
            z.avail_in = static_cast<uInt>(std::min(inLeft, kStep));
            inLeft -= z.avail_in;
        }
        if (z.avail_out == 0 && outLeft > 0) {
            z.avail_out = static_cast<uInt>(std::min(outLeft, kStep));
            outLeft -= z.avail_out;
        }
        // Z_BLOCK returns at every block boundary.
        const int rc = inflate(&z, Z_BLOCK);
        const std::uint64_t consumed = compressed.size() - inLeft - z.avail_in;
        const std::uint64_t bit = consumed * 8 - static_cast<unsigned>(z.data_type & 7);
        if (rc == Z_STREAM_END) {
            out.endBit = bit;
            break;
        }
        if (rc != Z_OK)
            corrupt(); // Z_BUF_ERROR: longer or shorter than declared
        if ((z.data_type & 128) && !(z.data_type & 64) && bit > out.boundaries.back().bit)
            out.boundaries.push_back({static_cast<std::size_t>(z.total_out), bit});
    }
    if (z.total_out != size || addCrc(crc32(0, nullptr, 0), out.text()) != crc)
        corrupt();
    return out;
}

DeflatedPart deflateEdited(std::string_view compressed, const InflatedPart& original,
                           std::vector<TextEdit> edits, int level) {
    const std::string_view text = original.text();
    std::stable_sort(edits.begin(), edits.end(),
                     [](const TextEdit& a, const TextEdit& b) { return a.begin < b.begin; });
    // Blocks [k, k + 1) with k + 1 the next boundary (or the stream's end).
    const auto& b = original.boundaries;
    const std::size_t blocks = b.size();
    auto blockEnd = [&](std::size_t k) {
        return k + 1 < blocks ? b[k + 1].textOffset : text.size();
    };
    auto blockEndBit = [&](std::size_t k) {
        return k + 1 < blocks ? b[k + 1].bit : original.endBit;
    };
    // Whether a block decodes the same after the edits: none inside it, nor
    // in the window it may refer back into. The last block is always
    // compressed anew: inflating tells where it starts but not on which bit
    // it ends.
    auto untouched = [&](std::size_t k) {
        if (k + 1 == blocks)
            return false;
        const std::size_t lo = b[k].textOffset > kWindow ? b[k].textOffset - kWindow : 0;
        const std::size_t hi = blockEnd(k);
        for (const auto& e : edits)
            if (e.begin <= hi && e.end + 1 > lo &&
                !(e.begin == hi && e.end == hi && k + 1 < blocks))
                return false;
        return true;
    };

    DeflatedPart out;
    BitWriter w;
    w.bytes.reserve(compressed.size() + 4096);
    uLong sum = crc32(0, nullptr, 0);
    std::string window; // the last kWindow bytes of the new text
    auto remember = [&window](std::string_view t) {
        if (t.size() >= kWindow) {
            window.assign(t.substr(t.size() - kWindow));
        } else {
            window += t;
            if (window.size() > kWindow)
                window.erase(0, window.size() - kWindow);
        }
    };
    std::size_t next = 0; // first edit not yet applied
    std::size_t k = 0;
    while (k < blocks) {
        if (untouched(k)) {
            std::size_t m = k;
            while (m < blocks && untouched(m))
                ++m;
            // Blocks [k, m) as they are; the last of them may end the stream.
            w.copy(compressed, b[k].bit, blockEndBit(m - 1));
            const std::string_view kept =
                text.substr(b[k].textOffset, blockEnd(m - 1) - b[k].textOffset);
            sum = addCrc(sum, kept);
            out.size += kept.size();
            out.keptBytes += static_cast<std::size_t>((blockEndBit(m - 1) - b[k].bit) / 8);
            remember(kept);
            k = m;
            continue;
        }
        std::size_t m = k;
        while (m < blocks && !untouched(m))
            ++m;
        // Blocks [k, m) from the new text.
        const std::size_t from = b[k].textOffset;
        const std::size_t to = blockEnd(m - 1);
        std::vector<TextEdit> inside;
        while (next < edits.size() && edits[next].begin <= to &&
               (edits[next].begin < to || m == blocks || !untouched(m))) {
            TextEdit e = edits[next++];
            e.begin -= from;
            e.end -= from;
            inside.push_back(std::move(e));
        }
        const std::string fresh = applyEdits(text.substr(from, to - from), std::move(inside));
        deflateSegment(w, fresh, window, m == blocks, level);
        sum = addCrc(sum, fresh);
        out.size += fresh.size();
        out.recompressedText += fresh.size();
        remember(fresh);
        k = m;
    }
    if (next != edits.size())
        throw SheetError("Внутренняя ошибка правки книги");
    if (w.pendingBits > 0)
        w.bytes += static_cast<char>(w.pending & 0xFFu);
    out.data = std::move(w.bytes);
    out.crc = static_cast<std::uint32_t>(sum);
    return out;
}

} // namespace t5170::sheet::xlsx
