#include "sheet/xlsx/XlsxZip.h"

#include "sheet/SheetModel.h"

#include <isa-l/igzip_lib.h>
#include <zip.h>

#include <algorithm>

namespace t5170::sheet::xlsx {

namespace {

[[noreturn]] void corrupt(const char* what) {
    throw SheetError(std::string("Файл повреждён или не является книгой .xlsx: ") + what);
}

std::string_view stripSlash(std::string_view part) {
    while (!part.empty() && part.front() == '/')
        part.remove_prefix(1);
    return part;
}

} // namespace

ZipReader::ZipReader(const QByteArray& bytes, ZipLimits limits) : limits_(limits) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(
        bytes.constData(), static_cast<zip_uint64_t>(bytes.size()), 0, &error);
    if (!source) {
        zip_error_fini(&error);
        corrupt("не удалось прочитать архив");
    }
    archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive_) {
        zip_source_free(source);
        const int code = zip_error_code_zip(&error);
        zip_error_fini(&error);
        if (code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS)
            corrupt("архив zip не найден или неполон");
        corrupt("ошибка архива zip");
    }
    zip_error_fini(&error);
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    if (count < 0 || static_cast<std::uint64_t>(count) > limits_.maxEntries) {
        zip_discard(archive_);
        archive_ = nullptr;
        corrupt("слишком много частей в архиве");
    }
}

ZipReader::~ZipReader() {
    if (archive_)
        zip_discard(archive_);
}

std::optional<std::uint64_t> ZipReader::locate(std::string_view part) const {
    const std::string name(stripSlash(part));
    const zip_int64_t index = zip_name_locate(archive_, name.c_str(), ZIP_FL_NOCASE);
    if (index < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(index);
}

bool ZipReader::contains(std::string_view part) const {
    return locate(part).has_value();
}

std::vector<std::string> ZipReader::names() const {
    std::vector<std::string> out;
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char* name = zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0))
            out.emplace_back(name);
    return out;
}

// An entry being inflated, with what may still come out of it. Deflated
// entries, nearly all of a package, are inflated here with ISA-L, about
// three times as fast as zlib behind libzip; anything else is left to
// libzip.
struct ZipReader::Opened {
    zip_file_t* file = nullptr;
    std::size_t cap = 0;
    std::optional<std::uint64_t> declared;
    std::optional<std::uint32_t> crc;
    std::size_t produced = 0;
    // Set when `file` yields the raw deflate stream.
    std::unique_ptr<inflate_state> inflater;
    std::vector<unsigned char> input;
    bool inputEnded = false;

    ~Opened() {
        if (file)
            zip_fclose(file);
    }

    // Appends up to `want` bytes; false at the end of the entry.
    bool pull(std::string& out, std::size_t want) {
        if (!file)
            return false;
        const std::size_t start = out.size();
        out.resize(start + want);
        const std::size_t n =
            inflater ? inflate(out.data() + start, want) : library(out.data() + start, want);
        out.resize(start + n);
        produced += n;
        // The inflated stream may run past what its header declares: the
        // caps are checked on what actually comes out.
        if (produced > cap || (declared && produced > *declared))
            throw SheetError("Книга слишком велика для чтения");
        if (n > 0)
            return true;
        finish();
        return false;
    }

private:
    std::size_t library(char* to, std::size_t want) {
        const zip_int64_t n = zip_fread(file, to, want);
        if (n < 0)
            corrupt("часть архива повреждена");
        return static_cast<std::size_t>(n);
    }

    std::size_t inflate(char* to, std::size_t want) {
        inflate_state& s = *inflater;
        s.next_out = reinterpret_cast<std::uint8_t*>(to);
        s.avail_out = static_cast<std::uint32_t>(want);
        while (s.avail_out > 0 && s.block_state != ISAL_BLOCK_FINISH) {
            if (s.avail_in == 0 && !inputEnded) {
                const zip_int64_t n = zip_fread(file, input.data(), input.size());
                if (n < 0)
                    corrupt("часть архива повреждена");
                inputEnded = n == 0;
                s.next_in = input.data();
                s.avail_in = static_cast<std::uint32_t>(n);
            }
            const std::uint32_t before = s.avail_out;
            if (isal_inflate(&s) != ISAL_DECOMP_OK)
                corrupt("часть архива повреждена");
            if (s.avail_in == 0 && inputEnded && s.avail_out == before &&
                s.block_state != ISAL_BLOCK_FINISH)
                corrupt("часть архива обрывается");
        }
        return want - s.avail_out;
    }

    void finish() {
        if (inflater) {
            if (crc && inflater->crc != *crc)
                corrupt("контрольная сумма части архива не сходится");
            if (declared && produced != *declared)
                corrupt("часть архива короче, чем заявлено");
        }
        const int rc = zip_fclose(file);
        file = nullptr;
        if (rc != 0)
            corrupt("часть архива повреждена");
    }
};

std::unique_ptr<ZipReader::Opened> ZipReader::open(std::string_view part, bool required) {
    const auto index = locate(part);
    if (!index) {
        if (required)
            corrupt("нет обязательной части");
        return nullptr;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, *index, 0, &st) != 0)
        corrupt("ошибка архива zip");
    if (st.valid & ZIP_STAT_ENCRYPTION_METHOD && st.encryption_method != ZIP_EM_NONE)
        throw SheetError("Книга защищена паролем");
    auto opened = std::make_unique<Opened>();
    const std::size_t left = limits_.maxTotalBytes - total_;
    opened->cap = std::min(limits_.maxPartBytes, left);
    if (st.valid & ZIP_STAT_SIZE) {
        if (st.size > opened->cap)
            throw SheetError("Книга слишком велика для чтения");
        opened->declared = st.size;
    }
    if (st.valid & ZIP_STAT_CRC)
        opened->crc = st.crc;
    const bool deflated = (st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method == ZIP_CM_DEFLATE;
    opened->file = zip_fopen_index(archive_, *index, deflated ? ZIP_FL_COMPRESSED : 0);
    if (!opened->file)
        corrupt("часть архива не читается");
    if (deflated) {
        opened->inflater = std::make_unique<inflate_state>();
        isal_inflate_init(opened->inflater.get());
        // Raw deflate, with the zip (gzip) checksum kept of what comes out.
        opened->inflater->crc_flag = ISAL_GZIP_NO_HDR;
        opened->input.resize(1 << 16);
    }
    return opened;
}

std::optional<std::string> ZipReader::readIfPresent(std::string_view part) {
    const auto opened = open(part, false);
    if (!opened)
        return std::nullopt;
    std::string out;
    if (opened->declared)
        out.reserve(static_cast<std::size_t>(*opened->declared));
    while (opened->pull(out, 1 << 16)) {
    }
    total_ += out.size();
    return out;
}

std::optional<ZipReader::Deflated> ZipReader::deflated(std::string_view part) {
    const auto index = locate(part);
    if (!index)
        return std::nullopt;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, *index, 0, &st) != 0)
        corrupt("ошибка архива zip");
    const auto need = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
    if ((st.valid & need) != need || st.comp_method != ZIP_CM_DEFLATE ||
        ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE))
        return std::nullopt;
    if (st.size > std::min(limits_.maxPartBytes, limits_.maxTotalBytes - total_) ||
        st.comp_size > st.size + (st.size >> 3) + 1024)
        throw SheetError("Книга слишком велика для чтения");
    zip_file_t* file = zip_fopen_index(archive_, *index, ZIP_FL_COMPRESSED);
    if (!file)
        corrupt("часть архива не читается");
    Deflated out;
    out.size = st.size;
    out.crc = st.crc;
    out.compressed.resize(static_cast<std::size_t>(st.comp_size));
    const zip_int64_t n = zip_fread(file, out.compressed.data(), out.compressed.size());
    zip_fclose(file);
    if (n != static_cast<zip_int64_t>(out.compressed.size()))
        corrupt("часть архива повреждена");
    total_ += static_cast<std::size_t>(st.size);
    return out;
}

ZipReader::Stream ZipReader::stream(std::string_view part) {
    std::shared_ptr<Opened> opened = open(part, true);
    return [this, opened](std::string& buffer, std::size_t want) {
        if (!opened->file)
            return false;
        const std::size_t before = opened->produced;
        bool more = true;
        // zip_fread may hand out less than asked: keep on until `want` is there.
        while (more && opened->produced - before < want)
            more = opened->pull(buffer, want - (opened->produced - before));
        total_ += opened->produced - before;
        return more;
    };
}

std::string ZipReader::read(std::string_view part) {
    if (!contains(part))
        corrupt("нет обязательной части");
    return std::move(*readIfPresent(part));
}

std::string resolvePartName(std::string_view sourcePart, std::string_view target) {
    std::string raw;
    // Targets are URIs: undo percent-encoding.
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size()) {
            auto hex = [](char c) {
                return c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
            };
            const int hi = hex(target[i + 1]);
            const int lo = hex(target[i + 2]);
            if (hi >= 0 && lo >= 0) {
                raw += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        raw += target[i] == '\\' ? '/' : target[i];
    }
    std::string joined;
    if (!raw.empty() && raw.front() == '/') {
        joined = raw;
    } else {
        const auto slash = sourcePart.rfind('/');
        joined = slash == std::string_view::npos
                     ? raw
                     : std::string(sourcePart.substr(0, slash + 1)) + raw;
    }
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= joined.size()) {
        auto end = joined.find('/', start);
        if (end == std::string::npos)
            end = joined.size();
        const std::string seg = joined.substr(start, end - start);
        if (seg == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!seg.empty() && seg != ".") {
            segments.push_back(seg);
        }
        start = end + 1;
    }
    std::string out;
    for (const auto& seg : segments) {
        if (!out.empty())
            out += '/';
        out += seg;
    }
    return out;
}

std::string relsPartOf(std::string_view part) {
    part = stripSlash(part);
    const auto slash = part.rfind('/');
    if (slash == std::string_view::npos)
        return "_rels/" + std::string(part) + ".rels";
    return std::string(part.substr(0, slash + 1)) + "_rels/" + std::string(part.substr(slash + 1)) +
           ".rels";
}

} // namespace t5170::sheet::xlsx
