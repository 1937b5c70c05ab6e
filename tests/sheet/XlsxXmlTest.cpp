// The pull reader over a stream gives exactly what it gives over the whole
// document, wherever the pieces happen to end.

#include "sheet/xlsx/XlsxXml.h"
#include "sheet/SheetModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace t5170::sheet;
using namespace t5170::sheet::xlsx;

namespace {

// Everything a caller can see of each token, as one line.
std::vector<std::string> tokens(XmlPull& p) {
    std::vector<std::string> out;
    for (XmlPull::Token t; (t = p.next()) != XmlPull::Token::End;) {
        // A text token has no name of its own.
        std::string line = std::to_string(int(t)) + " " +
                           (t == XmlPull::Token::Text ? std::string() : std::string(p.qname())) +
                           " d" + std::to_string(p.depth()) + " [" + std::to_string(p.begin()) +
                           "," + std::to_string(p.end()) + ")";
        if (t == XmlPull::Token::StartElement) {
            line += p.selfClosing() ? " /" : "";
            line += " n" + std::to_string(p.nameEnd());
            for (const auto& a : p.attributes())
                line += " " + std::string(a.name) + "=" + p.attribute(a.name) + "@" +
                        std::to_string(a.begin) + "-" + std::to_string(a.end);
            if (const auto v = p.attributeValueSpan("r"))
                line += " r@" + std::to_string(v->begin);
        } else if (t == XmlPull::Token::Text) {
            std::string text;
            p.appendText(text);
            line += " " + text;
        }
        out.push_back(std::move(line));
    }
    return out;
}

// A source that hands out `doc` `piece` bytes at a time, whatever is asked.
XmlPull::Source pieces(const std::string& doc, std::size_t piece) {
    auto at = std::make_shared<std::size_t>(0);
    return [doc, piece, at](std::string& buffer, std::size_t) {
        const std::size_t n = std::min(piece, doc.size() - *at);
        buffer.append(doc, *at, n);
        *at += n;
        return *at < doc.size();
    };
}

std::string longText() {
    std::string t;
    while (t.size() < 200'000)
        t += "длинный текст &amp; ещё ";
    return t;
}

} // namespace

TEST(XmlPullStream, SameTokensWhereverThePiecesEnd) {
    const std::string docs[] = {
        // A worksheet as spreadsheet applications write it.
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<dimension ref=\"A1:B2\"/><sheetData><row r=\"1\" spans=\"1:2\"><c r=\"A1\" s=\"1\">"
        "<v>46082</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>МОм</t></is></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c></row></sheetData></worksheet>",
        // Prefixes, comments, CDATA, a declaration, quotes holding markup.
        "<!DOCTYPE x [<!ENTITY e \"v\">]><x:a xmlns:x=\"u\" q='a>b' w=\"&lt;&#1052;\">"
        "<!-- <x:b> --><x:b/>text &amp; more<![CDATA[<raw> & ]]><?pi data?>"
        "<x:c   k = \"v\"  /></x:a >",
        // A text and an attribute longer than any piece or request.
        "<a v=\"" + std::string(100'000, 'x') + "\">" + longText() + "</a>",
    };
    for (const std::string& doc : docs) {
        XmlPull whole(doc);
        const auto expected = tokens(whole);
        ASSERT_FALSE(expected.empty());
        for (const std::size_t piece :
             {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(7), std::size_t(64),
              std::size_t(65536), doc.size()}) {
            XmlPull streamed(pieces(doc, piece));
            EXPECT_EQ(tokens(streamed), expected) << "pieces of " << piece;
        }
    }
}

TEST(XmlPullStream, PlainChildTextIsTakenInOneStepOrLeftAlone) {
    const std::string doc = "<c><v>1.5</v></c><c><v a=\"1\">2</v></c><c><f>x</f><v>3</v></c>"
                            "<c><v>4&amp;</v></c>";
    const std::string wrapped = "<r>" + doc + "</r>";
    for (const std::size_t piece : {std::size_t(1), std::size_t(5), wrapped.size()}) {
        XmlPull p(pieces(wrapped, piece));
        std::vector<std::string> values;
        for (XmlPull::Token t; (t = p.next()) != XmlPull::Token::End;) {
            if (t != XmlPull::Token::StartElement || p.name() != "c")
                continue;
            std::string v;
            // The fast step may decline (attributes, another child first, a
            // piece ending inside); the tokens then give the same text.
            if (!p.plainChildText("v", v)) {
                for (XmlPull::Token u;
                     (u = p.next()) != XmlPull::Token::EndElement || p.name() != "c";)
                    if (u == XmlPull::Token::StartElement && p.name() == "v") {
                        p.next();
                        p.appendText(v);
                    }
            } else {
                EXPECT_EQ(p.next(), XmlPull::Token::EndElement);
                EXPECT_EQ(p.name(), "c");
            }
            values.push_back(v);
        }
        EXPECT_EQ(values, (std::vector<std::string>{"1.5", "2", "3", "4&"})) << piece;
    }
}

TEST(XmlPullStream, MalformedOrCutShortFailsAsOverTheWholeDocument) {
    const std::string docs[] = {"<a><b></a>",   "<a",       "<a b=\"1>",
                                "<a><!-- open", "<a></a><", "<a><![CDATA[x</a>",
                                "<a b=1/>",     "</a>"};
    for (const std::string& doc : docs) {
        XmlPull whole(doc);
        EXPECT_THROW(tokens(whole), SheetError) << doc;
        XmlPull streamed(pieces(doc, 1));
        EXPECT_THROW(tokens(streamed), SheetError) << doc;
    }
}
