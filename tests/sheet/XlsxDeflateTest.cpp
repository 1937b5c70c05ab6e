// Saving an edited worksheet keeps the compressed blocks the edits leave
// alone: the new stream must inflate to exactly the edited text, with the
// checksum and size it declares, whatever wrote the old stream.

#include "sheet/xlsx/XlsxDeflate.h"
#include "sheet/SheetModel.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace t5170::sheet;
using namespace t5170::sheet::xlsx;

namespace {

// A worksheet of `rows` report rows, a few megabytes.
std::string sheetText(int rows) {
    std::string t = "<worksheet><dimension ref=\"A1:H" + std::to_string(rows) + "\"/><sheetData>";
    for (int r = 1; r <= rows; ++r) {
        const std::string n = std::to_string(r);
        t += "<row r=\"" + n + "\"><c r=\"A" + n + "\" s=\"1\"><v>" +
             std::to_string(46082 + r / 500) + "</v></c><c r=\"B" + n + "\"><v>" +
             std::to_string((r * 7919) % 86400 / 86400.0) + "</v></c><c r=\"C" + n +
             "\" t=\"inlineStr\"><is><t>МОм</t></is></c></row>";
    }
    return t + "</sheetData></worksheet>";
}

std::string deflateRaw(const std::string& text, int level, int strategy) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, strategy), Z_OK);
    std::string out(deflateBound(&z, uLong(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string inflateRaw(const std::string& data, std::size_t size) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -MAX_WBITS), Z_OK);
    std::string out(size + 1, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END) << "the new stream does not end where it should";
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the stream's end";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::uint32_t crcOf(const std::string& text) {
    return std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size())));
}

} // namespace

TEST(KeptBlocks, EditedStreamsInflateToTheEditedText) {
    const std::string text = sheetText(30000);
    const std::size_t end = text.find("</sheetData>");
    const std::size_t dim = text.find("A1:H30000");
    const std::size_t middle = text.find("<row r=\"15000\"");
    const std::string row = "<row r=\"30001\"><c r=\"A30001\"><v>1</v></c></row>";
    struct Case {
        const char* what;
        std::vector<TextEdit> edits;
        bool mostKept; // a report's usual save: the old blocks nearly all stay
    };
    const Case cases[] = {
        {"a row added at the end", {{end, end, row}}, true},
        {"the dimension and a row at the end",
         {{dim, dim + 9, "A1:H30001"}, {end, end, row}},
         true},
        {"a row changed in the middle",
         {{middle, middle + 14, "<row r=\"15000\" ht=\"20\""}},
         true},
        {"an insertion at the very start", {{0, 0, "<?xml version=\"1.0\"?>"}}, true},
        {"everything", {{0, text.size(), "<worksheet/>"}}, false},
        {"nothing", {}, true},
    };
    const std::pair<int, int> writers[] = {
        {6, Z_DEFAULT_STRATEGY},
        {1, Z_DEFAULT_STRATEGY},
        {9, Z_DEFAULT_STRATEGY},
        {0, Z_DEFAULT_STRATEGY}, // stored blocks only
        {6, Z_FIXED},            // fixed Huffman codes
        {6, Z_HUFFMAN_ONLY},
    };
    for (const auto& [level, strategy] : writers) {
        const std::string old = deflateRaw(text, level, strategy);
        const InflatedPart original = inflateNotingBlocks(old, text.size(), crcOf(text));
        ASSERT_EQ(original.text(), text);
        ASSERT_GT(original.boundaries.size(), 3u) << "level " << level << ": one block only";
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message()
                         << c.what << ", level " << level << ", strategy " << strategy);
            const std::string want = applyEdits(text, c.edits);
            const DeflatedPart part = deflateEdited(old, original, c.edits);
            EXPECT_EQ(inflateRaw(part.data, want.size()), want);
            EXPECT_EQ(part.size, want.size());
            EXPECT_EQ(part.crc, crcOf(want));
            if (c.mostKept)
                EXPECT_GT(part.keptBytes, old.size() * 8 / 10);
            else
                EXPECT_EQ(part.keptBytes, 0u);
        }
    }
}

TEST(KeptBlocks, EditsAtAndJustAfterEveryKindOfBoundary) {
    // Edits exactly at a block's start, at its end, and just inside the
    // window the next block refers back into.
    const std::string text = sheetText(12000);
    const std::string old = deflateRaw(text, 6, Z_DEFAULT_STRATEGY);
    const InflatedPart original = inflateNotingBlocks(old, text.size(), crcOf(text));
    ASSERT_GT(original.boundaries.size(), 2u);
    const std::size_t at = original.boundaries[1].textOffset;
    for (const std::size_t offset : {at, at - 1, at + 1, at + 32767, at + 32768, at + 32769}) {
        for (const std::size_t length : {std::size_t(0), std::size_t(1)}) {
            SCOPED_TRACE(testing::Message() << "offset " << offset << ", length " << length);
            const std::vector<TextEdit> edits{{offset, offset + length, "§"}};
            const std::string want = applyEdits(text, edits);
            const DeflatedPart part = deflateEdited(old, original, edits);
            EXPECT_EQ(inflateRaw(part.data, want.size()), want);
            EXPECT_EQ(part.crc, crcOf(want));
        }
    }
}

TEST(KeptBlocks, AStreamThatIsNotWhatItsEntrySaysIsRefused) {
    const std::string text = sheetText(2000);
    const std::string old = deflateRaw(text, 6, Z_DEFAULT_STRATEGY);
    EXPECT_THROW(inflateNotingBlocks(old, text.size(), crcOf(text) ^ 1), SheetError);
    EXPECT_THROW(inflateNotingBlocks(old, text.size() - 1, crcOf(text)), SheetError);
    EXPECT_THROW(inflateNotingBlocks(old, text.size() + 1, crcOf(text)), SheetError);
    EXPECT_THROW(inflateNotingBlocks(old.substr(0, old.size() / 2), text.size(), crcOf(text)),
                 SheetError);
    std::string damaged = old;
    for (std::size_t i = damaged.size() / 3; i < damaged.size() / 3 + 64; ++i)
        damaged[i] = char(~damaged[i]);
    EXPECT_THROW(inflateNotingBlocks(damaged, text.size(), crcOf(text)), SheetError);
}
