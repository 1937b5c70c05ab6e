#pragma once
// The cell styles part of a package being edited: finds or appends the
// cell style a written cell needs, keeping everything else of the part.

#include <QString>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace t5170::sheet::xlsx {

class StyleEditor {
public:
    // `xml` is the styles part; empty when the package has none (a minimal
    // one is made if a style is needed).
    explicit StyleEditor(std::string xml);

    // The cell style (cellXfs index) for a value with display `format`,
    // derived from the style the cell had (`base`, -1 for a new cell): the
    // same style when it already has that format, otherwise the same font,
    // fill, borders and alignment with the new number format.
    int styleFor(int base, const QString& format);
    // Display format of a style (as the reader gives it).
    QString formatOf(int style) const;

    bool changed() const { return !newXfs_.empty() || !newNumFmts_.empty(); }
    bool created() const { return created_; }
    std::string result() const;

private:
    struct Xf {
        std::string raw; // the whole <xf> element
        long numFmtId = 0;
        std::string signature;                                // everything but the number format
        std::size_t numFmtValueBegin = 0, numFmtValueEnd = 0; // in raw; equal when absent
        std::size_t nameEnd = 0;                              // in raw, after "<xf"
    };
    long numFmtIdFor(const QString& format);

    std::string xml_;
    bool created_ = false;
    std::string prefix_;
    std::map<long, std::string> numFmts_; // id -> code
    std::vector<Xf> xfs_;
    std::size_t originalXfs_ = 0;
    std::vector<std::pair<long, std::string>> newNumFmts_;
    std::vector<std::size_t> newXfs_;
    // Where the additions go.
    std::size_t rootStartEnd_ = 0;
    std::optional<std::size_t> numFmtsEndTag_;
    std::optional<std::pair<std::size_t, std::size_t>> numFmtsCount_;
    std::optional<std::pair<std::size_t, std::size_t>> numFmtsSelfClosing_;
    std::size_t numFmtsExisting_ = 0;
    std::size_t cellXfsEndTag_ = 0;
    std::optional<std::pair<std::size_t, std::size_t>> cellXfsCount_;
    std::size_t cellXfsNameEnd_ = 0;
};

} // namespace t5170::sheet::xlsx
