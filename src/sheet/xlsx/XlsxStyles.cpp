#include "sheet/xlsx/XlsxStyles.h"

#include "sheet/SheetModel.h"
#include "sheet/xlsx/XlsxCommon.h"
#include "sheet/xlsx/XlsxXml.h"

#include <algorithm>
#include <charconv>

namespace t5170::sheet::xlsx {

namespace {

using Token = XmlPull::Token;

// What a package without a styles part gets when a cell needs a format.
constexpr std::string_view kMinimalStyles =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family "
    "val=\"2\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
    "borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
    "xfId=\"0\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

long toLong(std::string_view s, long fallback) {
    long v = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc() && ptr == s.data() + s.size() ? v : fallback;
}

} // namespace

StyleEditor::StyleEditor(std::string xml) : xml_(std::move(xml)) {
    if (xml_.empty())
        return;
    XmlPull p(xml_);
    std::string_view section;
    std::size_t xfBegin = 0;
    std::size_t xfStartEnd = 0;
    bool xfSelfClosing = false;
    Xf xf;
    std::vector<std::string> attrs;
    for (Token t; (t = p.next()) != Token::End;) {
        const int depth = p.depth();
        if (t == Token::StartElement) {
            if (depth == 1) {
                prefix_ = std::string(p.prefix());
                rootStartEnd_ = p.end();
            } else if (depth == 2) {
                section = p.name();
                const auto count = p.attributeValueSpan("count");
                if (section == "numFmts") {
                    if (p.selfClosing())
                        numFmtsSelfClosing_ = std::make_pair(p.begin(), p.end());
                    else if (count)
                        numFmtsCount_ = std::make_pair(count->begin, count->end);
                } else if (section == "cellXfs") {
                    cellXfsNameEnd_ = p.nameEnd();
                    if (count)
                        cellXfsCount_ = std::make_pair(count->begin, count->end);
                }
            } else if (depth == 3 && section == "numFmts" && p.name() == "numFmt") {
                numFmts_[toLong(p.attribute("numFmtId"), -1)] = p.attribute("formatCode");
                ++numFmtsExisting_;
            } else if (depth == 3 && section == "cellXfs" && p.name() == "xf") {
                xf = Xf{};
                xfBegin = p.begin();
                xfStartEnd = p.end();
                xfSelfClosing = p.selfClosing();
                xf.nameEnd = p.nameEnd() - xfBegin;
                xf.numFmtId = toLong(p.attribute("numFmtId"), 0);
                if (const auto v = p.attributeValueSpan("numFmtId")) {
                    xf.numFmtValueBegin = v->begin - xfBegin;
                    xf.numFmtValueEnd = v->end - xfBegin;
                }
                attrs.clear();
                for (const auto& a : p.attributes())
                    if (a.name != "numFmtId" && a.name != "applyNumberFormat")
                        attrs.push_back(std::string(a.name) + "=" + std::string(a.value));
                std::sort(attrs.begin(), attrs.end());
            }
        } else if (t == Token::EndElement) {
            if (depth == 3 && section == "cellXfs" && p.name() == "xf") {
                xf.raw = xml_.substr(xfBegin, p.end() - xfBegin);
                for (const auto& a : attrs)
                    xf.signature += a + '\x1f';
                if (!xfSelfClosing)
                    xf.signature += xml_.substr(xfStartEnd, p.begin() - xfStartEnd);
                xfs_.push_back(std::move(xf));
            } else if (depth == 2) {
                if (section == "numFmts" && !numFmtsSelfClosing_)
                    numFmtsEndTag_ = p.begin();
                else if (section == "cellXfs")
                    cellXfsEndTag_ = p.begin();
                section = {};
            }
        }
    }
    originalXfs_ = xfs_.size();
}

QString StyleEditor::formatOf(int style) const {
    if (style < 0 || static_cast<std::size_t>(style) >= xfs_.size())
        return {};
    const long id = xfs_[static_cast<std::size_t>(style)].numFmtId;
    const auto custom = numFmts_.find(id);
    return custom != numFmts_.end() ? formatCode(custom->second)
                                    : builtinFormat(static_cast<int>(id));
}

long StyleEditor::numFmtIdFor(const QString& format) {
    if (format.isEmpty() || format.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
        return 0;
    const std::string code = format.toStdString();
    for (const auto& [id, existing] : numFmts_)
        if (QString::fromStdString(existing).compare(format, Qt::CaseInsensitive) == 0)
            return id;
    if (const int builtin = builtinFormatId(format); builtin >= 0)
        return builtin;
    long next = 163;
    if (!numFmts_.empty())
        next = std::max(next, numFmts_.rbegin()->first);
    ++next;
    numFmts_[next] = code;
    newNumFmts_.emplace_back(next, code);
    return next;
}

int StyleEditor::styleFor(int base, const QString& format) {
    if (base < 0 && format.isEmpty())
        return 0;
    if (xfs_.empty()) {
        if (!xml_.empty())
            throw SheetError("Не удалось сохранить книгу: в её стилях нет стилей ячеек");
        *this = StyleEditor(std::string(kMinimalStyles));
        created_ = true;
    }
    if (base < 0 || static_cast<std::size_t>(base) >= xfs_.size())
        base = 0;
    if (formatOf(base).compare(format, Qt::CaseInsensitive) == 0)
        return base;
    const long id = numFmtIdFor(format);
    const Xf& from = xfs_[static_cast<std::size_t>(base)];
    for (std::size_t i = 0; i < xfs_.size(); ++i)
        if (xfs_[i].numFmtId == id && xfs_[i].signature == from.signature)
            return static_cast<int>(i);

    Xf clone = from;
    clone.numFmtId = id;
    const std::string value = std::to_string(id);
    if (from.numFmtValueEnd > 0) {
        clone.raw.replace(from.numFmtValueBegin, from.numFmtValueEnd - from.numFmtValueBegin,
                          value);
        clone.numFmtValueEnd = from.numFmtValueBegin + value.size();
    } else {
        const std::string attr = " numFmtId=\"" + value + "\"";
        clone.raw.insert(from.nameEnd, attr);
        clone.numFmtValueBegin = from.nameEnd + 11;
        clone.numFmtValueEnd = clone.numFmtValueBegin + value.size();
    }
    // The number format must be applied, whatever the base said.
    const auto apply = clone.raw.find("applyNumberFormat=");
    const auto tagEnd = clone.raw.find('>');
    if (apply != std::string::npos && apply < tagEnd) {
        const char quote = clone.raw[apply + 18];
        const auto close = clone.raw.find(quote, apply + 19);
        clone.raw.replace(apply + 19, close - apply - 19, "1");
    } else {
        clone.raw.insert(clone.numFmtValueEnd + 1, " applyNumberFormat=\"1\"");
    }
    xfs_.push_back(std::move(clone));
    newXfs_.push_back(xfs_.size() - 1);
    return static_cast<int>(xfs_.size() - 1);
}

std::string StyleEditor::result() const {
    std::vector<TextEdit> edits;
    if (!newNumFmts_.empty()) {
        std::string added;
        for (const auto& [id, code] : newNumFmts_) {
            added += "<" + prefix_ + "numFmt numFmtId=\"" + std::to_string(id) + "\" formatCode=\"";
            appendXmlEscaped(added, code);
            added += "\"/>";
        }
        const std::string count = std::to_string(numFmtsExisting_ + newNumFmts_.size());
        if (numFmtsEndTag_) {
            edits.push_back({*numFmtsEndTag_, *numFmtsEndTag_, added});
            if (numFmtsCount_)
                edits.push_back({numFmtsCount_->first, numFmtsCount_->second, count});
        } else {
            const std::string element = "<" + prefix_ + "numFmts count=\"" + count + "\">" + added +
                                        "</" + prefix_ + "numFmts>";
            if (numFmtsSelfClosing_)
                edits.push_back({numFmtsSelfClosing_->first, numFmtsSelfClosing_->second, element});
            else
                edits.push_back({rootStartEnd_, rootStartEnd_, element});
        }
    }
    if (!newXfs_.empty()) {
        std::string added;
        for (const std::size_t i : newXfs_)
            added += xfs_[i].raw;
        const std::string count = std::to_string(xfs_.size());
        if (cellXfsCount_)
            edits.push_back({cellXfsCount_->first, cellXfsCount_->second, count});
        else
            edits.push_back({cellXfsNameEnd_, cellXfsNameEnd_, " count=\"" + count + "\""});
        edits.push_back({cellXfsEndTag_, cellXfsEndTag_, added});
    }
    return applyEdits(xml_, std::move(edits));
}

} // namespace t5170::sheet::xlsx
