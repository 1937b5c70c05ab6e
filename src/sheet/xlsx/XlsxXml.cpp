#include "sheet/xlsx/XlsxXml.h"

#include "sheet/SheetModel.h"

#include <algorithm>
#include <cstring>

namespace t5170::sheet::xlsx {

namespace {

[[noreturn]] void malformed() {
    throw SheetError("Файл повреждён: неверная разметка XML");
}

std::string_view localOf(std::string_view qname) {
    // Names are short: a plain loop beats a library search here.
    for (std::size_t i = 0; i < qname.size(); ++i)
        if (qname[i] == ':')
            return qname.substr(i + 1);
    return qname;
}

// The first `c` in [from, to), or `to`. Most runs in a sheet (a value, an
// attribute) are a few bytes long, where a plain loop beats memchr's set-up;
// longer ones go to memchr.
std::size_t findChar(const char* data, std::size_t from, std::size_t to, char c) {
    const std::size_t shortEnd = std::min(to, from + 32);
    for (std::size_t i = from; i < shortEnd; ++i)
        if (data[i] == c)
            return i;
    if (shortEnd == to)
        return to;
    const void* hit = std::memchr(data + shortEnd, c, to - shortEnd);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : to;
}

void appendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

XmlPull::XmlPull(Source more) : source_(std::move(more)) {}

XmlPull::Token XmlPull::next() {
    if (pendingEnd_) {
        pendingEnd_ = false;
        return Token::EndElement;
    }
    while (true) {
        if (!attrs_.empty())
            attrs_.clear();
        if (const auto token = scan())
            return *token;
        refill();
    }
}

std::optional<XmlPull::Token> XmlPull::needMore() {
    if (final())
        malformed();
    pos_ = begin_;
    return std::nullopt;
}

void XmlPull::refill() {
    // Growing the request with the buffer keeps a token of any length
    // linear to read.
    buffer_.erase(0, pos_);
    base_ += pos_;
    pos_ = 0;
    const std::size_t want = std::max<std::size_t>(64 * 1024, buffer_.size());
    if (!source_(buffer_, want))
        ended_ = true;
    doc_ = buffer_;
}

std::optional<XmlPull::Token> XmlPull::scan() {
    while (pos_ < doc_.size()) {
        begin_ = pos_;
        if (doc_[pos_] != '<') {
            end_ = findChar(doc_.data(), pos_, doc_.size(), '<');
            if (end_ == doc_.size() && !final())
                return needMore();
            textBegin_ = pos_;
            textEnd_ = end_;
            pos_ = end_;
            cdata_ = false;
            return Token::Text;
        }
        const std::string_view rest = doc_.substr(pos_);
        // Too short to tell what markup this is yet.
        if (rest.size() < 9 && !final())
            return needMore();
        const char second = rest.size() > 1 ? rest[1] : '\0';
        if (second == '!' && rest.starts_with("<!--")) {
            const auto close = rest.find("-->", 4);
            if (close == std::string_view::npos)
                return needMore();
            pos_ += close + 3;
            continue;
        }
        if (second == '!' && rest.starts_with("<![CDATA[")) {
            const auto close = rest.find("]]>", 9);
            if (close == std::string_view::npos)
                return needMore();
            textBegin_ = pos_ + 9;
            textEnd_ = pos_ + close;
            pos_ += close + 3;
            end_ = pos_;
            cdata_ = true;
            return Token::Text;
        }
        if (second == '?') {
            const auto close = rest.find("?>", 2);
            if (close == std::string_view::npos)
                return needMore();
            pos_ += close + 2;
            continue;
        }
        if (second == '!') {
            // A document type declaration, possibly with an internal subset.
            // Its entities are never expanded.
            const auto gt = rest.find('>');
            const auto bracket = rest.find('[');
            std::size_t close = gt;
            if (bracket != std::string_view::npos && (gt == std::string_view::npos || bracket < gt))
                close = rest.find("]>", bracket);
            if (close == std::string_view::npos)
                return needMore();
            pos_ += close + (close == gt ? 1 : 2);
            continue;
        }
        if (second == '/') {
            const std::size_t gt = findChar(rest.data(), 2, rest.size(), '>');
            if (gt == rest.size())
                return needMore();
            if (level_ <= 0)
                malformed();
            std::string_view qname = rest.substr(2, gt - 2);
            while (!qname.empty() && isXmlSpace(qname.back()))
                qname.remove_suffix(1);
            qname_ = qname;
            local_ = localOf(qname);
            end_ = pos_ + gt + 1;
            pos_ = end_;
            depth_ = level_--;
            selfClosing_ = false;
            return Token::EndElement;
        }
        // Start tag: the name, then its attributes, read in one pass.
        std::size_t i = pos_ + 1;
        const std::size_t n = doc_.size();
        while (i < n && !isXmlSpace(doc_[i]) && doc_[i] != '/' && doc_[i] != '>')
            ++i;
        if (i >= n)
            return needMore();
        if (i == pos_ + 1)
            malformed();
        nameEnd_ = i;
        qname_ = doc_.substr(pos_ + 1, i - pos_ - 1);
        local_ = localOf(qname_);
        while (true) {
            while (i < n && isXmlSpace(doc_[i]))
                ++i;
            if (i >= n)
                return needMore();
            if (doc_[i] == '>') {
                selfClosing_ = false;
                end_ = i + 1;
                break;
            }
            if (doc_[i] == '/') {
                if (i + 1 >= n)
                    return needMore();
                if (doc_[i + 1] != '>')
                    malformed();
                selfClosing_ = true;
                end_ = i + 2;
                break;
            }
            const std::size_t attrBegin = i;
            while (i < n && doc_[i] != '=' && !isXmlSpace(doc_[i]) && doc_[i] != '>' &&
                   doc_[i] != '/')
                ++i;
            const std::string_view attrName = doc_.substr(attrBegin, i - attrBegin);
            while (i < n && isXmlSpace(doc_[i]))
                ++i;
            if (i >= n)
                return needMore();
            if (doc_[i] != '=')
                malformed();
            ++i;
            while (i < n && isXmlSpace(doc_[i]))
                ++i;
            if (i >= n)
                return needMore();
            if (doc_[i] != '"' && doc_[i] != '\'')
                malformed();
            const char quote = doc_[i++];
            const std::size_t valueEnd = findChar(doc_.data(), i, n, quote);
            if (valueEnd == n)
                return needMore();
            const std::string_view value = doc_.substr(i, valueEnd - i);
            i = valueEnd + 1;
            if (attrName == "xmlns" || attrName.starts_with("xmlns:"))
                continue;
            attrs_.push_back({localOf(attrName), value, base_ + attrBegin, base_ + i});
        }
        pos_ = end_;
        depth_ = ++level_;
        if (selfClosing_) {
            pendingEnd_ = true;
            --level_;
        }
        return Token::StartElement;
    }
    if (!final()) {
        begin_ = pos_;
        return needMore();
    }
    if (level_ != 0)
        malformed();
    begin_ = end_ = doc_.size();
    return Token::End;
}

const std::string_view* XmlPull::rawAttribute(std::string_view localName) const {
    for (const auto& a : attrs_)
        if (a.name == localName)
            return &a.value;
    return nullptr;
}

std::optional<XmlPull::Span> XmlPull::attributeSpan(std::string_view localName) const {
    for (const auto& a : attrs_)
        if (a.name == localName)
            return Span{a.begin, a.end};
    return std::nullopt;
}

std::optional<XmlPull::Span> XmlPull::attributeValueSpan(std::string_view localName) const {
    for (const auto& a : attrs_)
        if (a.name == localName) {
            const auto begin = base_ + static_cast<std::size_t>(a.value.data() - doc_.data());
            return Span{begin, begin + a.value.size()};
        }
    return std::nullopt;
}

std::string XmlPull::attribute(std::string_view localName) const {
    std::string out;
    if (const auto* raw = rawAttribute(localName))
        appendXmlDecoded(out, *raw);
    return out;
}

void XmlPull::appendText(std::string& out) const {
    const std::string_view raw = doc_.substr(textBegin_, textEnd_ - textBegin_);
    if (cdata_)
        out.append(raw);
    else
        appendXmlDecoded(out, raw);
}

bool XmlPull::plainChildText(std::string_view localName, std::string& out) {
    if (pendingEnd_)
        return false;
    const std::string_view pfx = prefix();
    const std::string_view rest = doc_.substr(pos_);
    // "<" prefix name ">"
    const std::size_t open = 1 + pfx.size() + localName.size() + 1;
    if (rest.size() < open || rest[0] != '<' || rest.substr(1, pfx.size()) != pfx ||
        rest.substr(1 + pfx.size(), localName.size()) != localName || rest[open - 1] != '>')
        return false;
    const std::size_t textEnd = findChar(rest.data(), open, rest.size(), '<');
    // "</" prefix name ">"
    const std::size_t close = 2 + pfx.size() + localName.size() + 1;
    if (rest.size() - textEnd < close || rest[textEnd + 1] != '/' ||
        rest.substr(textEnd + 2, pfx.size()) != pfx ||
        rest.substr(textEnd + 2 + pfx.size(), localName.size()) != localName ||
        rest[textEnd + close - 1] != '>')
        return false;
    appendXmlDecoded(out, rest.substr(open, textEnd - open));
    begin_ = pos_;
    pos_ += textEnd + close;
    end_ = pos_;
    return true;
}

void XmlPull::skipElement() {
    const int target = depth_;
    while (true) {
        const Token t = next();
        if (t == Token::End)
            malformed();
        if (t == Token::EndElement && depth_ == target)
            return;
    }
}

std::string applyEdits(std::string_view source, std::vector<TextEdit> edits) {
    // By offset; at one offset, insertions before the replacement that starts there.
    std::stable_sort(edits.begin(), edits.end(), [](const TextEdit& a, const TextEdit& b) {
        if (a.begin != b.begin)
            return a.begin < b.begin;
        return a.end == a.begin && b.end != b.begin;
    });
    std::size_t extra = 0;
    for (const auto& e : edits)
        extra += e.text.size();
    std::string out;
    out.reserve(source.size() + extra);
    std::size_t cursor = 0;
    for (const auto& e : edits) {
        if (e.begin < cursor || e.end < e.begin || e.end > source.size())
            throw SheetError("Внутренняя ошибка правки книги");
        out.append(source.substr(cursor, e.begin - cursor));
        out += e.text;
        cursor = e.end;
    }
    out.append(source.substr(cursor));
    return out;
}

bool XmlPull::readAhead() {
    if (final())
        return false;
    refill();
    return true;
}

void XmlPull::endElementAt(std::size_t begin, std::size_t end) {
    begin_ = pos_ + begin;
    pos_ = end_ = pos_ + end;
    qname_ = doc_.substr(begin_ + 2, end_ - begin_ - 3);
    local_ = localOf(qname_);
    depth_ = level_--;
    selfClosing_ = false;
    attrs_.clear();
}

std::size_t XmlPull::skipFlatElement() {
    if (pendingEnd_) {
        pendingEnd_ = false;
        return end();
    }
    if (!source_) {
        const std::string close = "</" + std::string(qname_) + ">";
        const std::string_view rest = doc_.substr(pos_);
        // glibc's memmem beats a search by first byte here: '<' is
        // everywhere in a row.
        if (const void* hit = memmem(rest.data(), rest.size(), close.data(), close.size())) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - rest.data());
            endElementAt(at, at + close.size());
            return end();
        }
    }
    skipElement();
    return end();
}

void appendXmlDecoded(std::string& out, std::string_view raw) {
    if (findChar(raw.data(), 0, raw.size(), '&') == raw.size()) {
        out.append(raw);
        return;
    }
    std::size_t i = 0;
    while (i < raw.size()) {
        const auto amp = raw.find('&', i);
        if (amp == std::string_view::npos) {
            out.append(raw.substr(i));
            return;
        }
        out.append(raw.substr(i, amp - i));
        const auto semi = raw.find(';', amp + 1);
        if (semi == std::string_view::npos || semi - amp > 12) {
            out += '&';
            i = amp + 1;
            continue;
        }
        const std::string_view ent = raw.substr(amp + 1, semi - amp - 1);
        if (ent == "amp")
            out += '&';
        else if (ent == "lt")
            out += '<';
        else if (ent == "gt")
            out += '>';
        else if (ent == "quot")
            out += '"';
        else if (ent == "apos")
            out += '\'';
        else if (ent.size() > 1 && ent[0] == '#') {
            unsigned long cp = 0;
            bool ok = true;
            const bool hex = ent[1] == 'x' || ent[1] == 'X';
            const std::string_view digits = ent.substr(hex ? 2 : 1);
            ok = !digits.empty();
            for (char c : digits) {
                const int v = hex ? hexValue(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
                if (v < 0 || cp > 0x10FFFF) {
                    ok = false;
                    break;
                }
                cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(v);
            }
            if (ok && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF))
                appendUtf8(out, cp);
            else
                out.append(raw.substr(amp, semi - amp + 1));
        } else {
            out.append(raw.substr(amp, semi - amp + 1));
        }
        i = semi + 1;
    }
}

std::string decodeOoxmlEscapes(std::string_view text) {
    std::string out;
    if (text.find("_x") == std::string_view::npos) {
        out.assign(text);
        return out;
    }
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_') {
            unsigned long cp = 0;
            bool ok = true;
            for (std::size_t k = i + 2; k < i + 6; ++k) {
                const int v = hexValue(text[k]);
                if (v < 0) {
                    ok = false;
                    break;
                }
                cp = cp * 16 + static_cast<unsigned long>(v);
            }
            if (ok) {
                if (!(cp >= 0xD800 && cp <= 0xDFFF))
                    appendUtf8(out, cp);
                i += 7;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

void appendXmlEscaped(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\t':
        case '\n':
            out += c;
            break;
        case '\r':
            out += "_x000D_";
            break;
        case '_':
            // A literal "_xHHHH_" would be read back as an escape: escape its underscore.
            if (i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
                hexValue(text[i + 2]) >= 0 && hexValue(text[i + 3]) >= 0 &&
                hexValue(text[i + 4]) >= 0 && hexValue(text[i + 5]) >= 0)
                out += "_x005F_";
            else
                out += c;
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char digits[] = "0123456789ABCDEF";
                out += "_x00";
                out += digits[(static_cast<unsigned char>(c) >> 4) & 0xF];
                out += digits[static_cast<unsigned char>(c) & 0xF];
                out += '_';
            } else {
                out += c;
            }
        }
    }
}

} // namespace t5170::sheet::xlsx
