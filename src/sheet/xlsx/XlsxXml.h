#pragma once
// A small pull reader for the XML parts of an .xlsx package. Worksheets of
// large reports are tens of megabytes: a DOM of them would cost several
// times that in memory, so the sheet reader and the package editor walk the
// bytes instead, and the editor splices changed elements into the original
// text by the offsets reported here.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace t5170::sheet::xlsx {

class XmlPull {
public:
    enum class Token { StartElement, EndElement, Text, End };

    explicit XmlPull(std::string_view doc) : doc_(doc) {}

    // Streaming: the document arrives in pieces. `more` appends at least
    // `want` bytes to the buffer it is given (fewer only at the end) and
    // returns false once nothing is left. Only the current token is held,
    // so a sheet of tens of megabytes is read in a buffer of a few dozen
    // kilobytes. Views handed out (names, attributes) last until the next
    // call of next(); offsets count from the start of the stream.
    using Source = std::function<bool(std::string& buffer, std::size_t want)>;
    explicit XmlPull(Source more);

    // The next token; a self-closing element yields StartElement followed
    // by a synthesized EndElement. Comments, processing instructions and
    // the document type declaration are skipped. Throws SheetError on
    // malformed markup.
    Token next();

    // Local name (prefix removed) of the current element.
    std::string_view name() const { return local_; }
    // Qualified name as written ("x:c"), and its prefix with the colon ("x:" or "").
    std::string_view qname() const { return qname_; }
    std::string_view prefix() const { return qname_.substr(0, qname_.size() - local_.size()); }
    bool selfClosing() const { return selfClosing_; }
    // Byte offsets of the current token: [begin, end).
    std::size_t begin() const { return base_ + begin_; }
    std::size_t end() const { return base_ + end_; }
    // Nesting depth of the current element (the root is 1).
    int depth() const { return depth_; }

    // Raw (still escaped) attribute value by local name, or nullptr.
    const std::string_view* rawAttribute(std::string_view localName) const;
    // Decoded attribute value, empty when absent.
    std::string attribute(std::string_view localName) const;
    bool hasAttribute(std::string_view localName) const {
        return rawAttribute(localName) != nullptr;
    }
    // Byte span of a whole attribute (name="value") of the current start tag.
    struct Span {
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    std::optional<Span> attributeSpan(std::string_view localName) const;
    std::optional<Span> attributeValueSpan(std::string_view localName) const;
    struct Attribute {
        std::string_view name;  // local name
        std::string_view value; // raw
        std::size_t begin;      // offsets of name="value"
        std::size_t end;
    };
    const std::vector<Attribute>& attributes() const { return attrs_; }
    // Offset right after the start tag's name (where attributes may be added).
    std::size_t nameEnd() const { return base_ + nameEnd_; }

    // Text token: appends the decoded text.
    void appendText(std::string& out) const;

    // After the StartElement of an element whose content starts with a
    // plain child <name>text</name> (same prefix, no attributes, no markup
    // in the text), consumes that child and appends its decoded text: the
    // <v> of a worksheet cell in one step instead of four tokens. Returns
    // false, consuming nothing, for anything else.
    bool plainChildText(std::string_view localName, std::string& out);

    // After a StartElement: the document that follows its start tag, as
    // far as it is held now (in streaming mode, part of it). readAhead()
    // holds more of it, false when nothing is left; views of the start tag
    // end there. endElementAt() consumes it up to `[begin, end)` of
    // ahead(), which the caller found to be this element's end tag: the
    // reader is then at that EndElement.
    std::string_view ahead() const { return pendingEnd_ ? std::string_view{} : doc_.substr(pos_); }
    bool readAhead();
    void endElementAt(std::size_t begin, std::size_t end);

    // Skips to the end of the current element (after a StartElement).
    void skipElement();
    // The same for an element that cannot hold another of its name (a
    // worksheet row): jumps straight to its end tag. Returns the offset
    // after that tag.
    std::size_t skipFlatElement();

private:
    // One token from pos_, or nothing when the buffer ends inside it and
    // more may come (pos_ is then back at the token's start).
    std::optional<Token> scan();
    std::optional<Token> needMore();
    // Drops what lies before pos_ and appends more of the stream.
    void refill();
    bool final() const { return !source_ || ended_; }

    Source source_;
    std::string buffer_;
    bool ended_ = false;
    // Offset of doc_[0] in the stream.
    std::size_t base_ = 0;
    std::string_view doc_;
    std::size_t pos_ = 0;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::size_t nameEnd_ = 0;
    std::size_t textBegin_ = 0;
    std::size_t textEnd_ = 0;
    std::string_view local_;
    std::string_view qname_;
    bool selfClosing_ = false;
    bool pendingEnd_ = false;
    bool cdata_ = false;
    int depth_ = 0;
    int level_ = 0;
    std::vector<Attribute> attrs_;
};

inline bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Replacements of byte ranges of a text, applied in one pass. Edits must
// not overlap; insertions at one offset keep the order they were added in.
struct TextEdit {
    std::size_t begin;
    std::size_t end;
    std::string text;
};
std::string applyEdits(std::string_view source, std::vector<TextEdit> edits);

// Decodes the five predefined entities and character references.
void appendXmlDecoded(std::string& out, std::string_view raw);
// Decodes the _xHHHH_ escapes that OOXML uses for characters XML cannot carry.
std::string decodeOoxmlEscapes(std::string_view text);
// Escapes text for element content or attribute values (quotes included);
// characters XML 1.0 cannot carry are written as _xHHHH_.
void appendXmlEscaped(std::string& out, std::string_view text);

} // namespace t5170::sheet::xlsx
