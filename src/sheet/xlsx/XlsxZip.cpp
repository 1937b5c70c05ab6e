#include "sheet/xlsx/XlsxZip.h"

#include "sheet/SheetModel.h"

#include <zip.h>

#include <array>

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

std::optional<std::string> ZipReader::readIfPresent(std::string_view part) {
    const auto index = locate(part);
    if (!index)
        return std::nullopt;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive_, *index, 0, &st) != 0)
        corrupt("ошибка архива zip");
    if (st.valid & ZIP_STAT_ENCRYPTION_METHOD && st.encryption_method != ZIP_EM_NONE)
        throw SheetError("Книга защищена паролем");
    const std::size_t left = limits_.maxTotalBytes - total_;
    const std::size_t cap = std::min(limits_.maxPartBytes, left);
    if ((st.valid & ZIP_STAT_SIZE) && st.size > cap)
        throw SheetError("Книга слишком велика для чтения");
    zip_file_t* file = zip_fopen_index(archive_, *index, 0);
    if (!file)
        corrupt("часть архива не читается");
    std::string out;
    if (st.valid & ZIP_STAT_SIZE)
        out.reserve(static_cast<std::size_t>(st.size));
    std::array<char, 1 << 16> buffer;
    while (true) {
        const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
        if (n < 0) {
            zip_fclose(file);
            corrupt("часть архива повреждена");
        }
        if (n == 0)
            break;
        // The inflated stream may run past what its header declares: the
        // caps are checked on what actually comes out.
        if (out.size() + static_cast<std::size_t>(n) > cap ||
            ((st.valid & ZIP_STAT_SIZE) && out.size() + static_cast<std::size_t>(n) > st.size)) {
            zip_fclose(file);
            throw SheetError("Книга слишком велика для чтения");
        }
        out.append(buffer.data(), static_cast<std::size_t>(n));
    }
    if (zip_fclose(file) != 0)
        corrupt("часть архива повреждена");
    total_ += out.size();
    return out;
}

std::string ZipReader::read(std::string_view part) {
    auto data = readIfPresent(part);
    if (!data)
        corrupt("нет обязательной части");
    return std::move(*data);
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
