#include "XmlReader.h"

#include <algorithm>
#include <cstdint>

namespace updatetool {

std::optional<std::string_view> XmlElement::attribute(std::string_view key) const
{
    for (const auto& [name, value] : attributes) {
        if (name == key)
            return std::string_view(value);
    }
    return std::nullopt;
}

namespace {

// Far deeper than any table; a file nested beyond it is hostile, not a table.
constexpr int kDepthLimit = 256;

bool isNameStart(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || u >= 0x80;
}

bool isNameChar(char c)
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    XmlReader::Result run()
    {
        XmlReader::Result result;
        // A byte order mark may lead the file.
        if (text_.starts_with("\xEF\xBB\xBF"))
            pos_ = 3;
        if (!skipMisc())
            return failed();
        if (atEnd() || peek() != '<') {
            fail("no root element");
            return failed();
        }
        XmlElement root;
        if (!element(root, 0))
            return failed();
        if (!skipMisc())
            return failed();
        if (!atEnd()) {
            fail("text after the root element");
            return failed();
        }
        result.root = std::move(root);
        return result;
    }

private:
    XmlReader::Result failed() const { return {std::nullopt, error_}; }

    bool fail(std::string_view what)
    {
        if (error_.empty())
            error_ = "line " + std::to_string(line_) + ": " + std::string(what);
        return false;
    }

    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }
    bool startsWith(std::string_view s) const { return text_.substr(pos_).starts_with(s); }

    void advance(std::size_t count)
    {
        for (std::size_t i = 0; i < count && pos_ < text_.size(); ++i, ++pos_) {
            if (text_[pos_] == '\n')
                ++line_;
        }
    }

    void skipSpace()
    {
        while (!atEnd() && isSpace(peek()))
            advance(1);
    }

    // Skips up to and past `terminator`; false when the text ends first.
    bool skipPast(std::string_view terminator, std::string_view what)
    {
        const std::size_t found = text_.find(terminator, pos_);
        if (found == std::string_view::npos)
            return fail(std::string(what) + " is not closed");
        advance(found + terminator.size() - pos_);
        return true;
    }

    bool comment()
    {
        advance(4);
        const std::size_t found = text_.find("--", pos_);
        if (found == std::string_view::npos)
            return fail("comment is not closed");
        advance(found - pos_);
        if (!startsWith("-->"))
            return fail("\"--\" inside a comment");
        advance(3);
        return true;
    }

    // Comments, processing instructions and white space outside the root element.
    bool skipMisc()
    {
        for (;;) {
            skipSpace();
            if (startsWith("<!--")) {
                if (!comment())
                    return false;
            } else if (startsWith("<?")) {
                if (!skipPast("?>", "processing instruction"))
                    return false;
            } else if (startsWith("<!")) {
                return fail("document type declarations are not read");
            } else {
                return true;
            }
        }
    }

    bool name(std::string& out)
    {
        if (atEnd() || !isNameStart(peek()))
            return fail("a name was expected");
        const std::size_t start = pos_;
        while (!atEnd() && isNameChar(peek()))
            advance(1);
        out.assign(text_.substr(start, pos_ - start));
        return true;
    }

    // An entity or character reference at '&', appended to `out` resolved.
    bool reference(std::string& out)
    {
        const std::size_t end = text_.find(';', pos_);
        if (end == std::string_view::npos || end - pos_ > 12)
            return fail("'&' that starts no reference");
        const std::string_view body = text_.substr(pos_ + 1, end - pos_ - 1);
        static constexpr std::pair<std::string_view, char> kEntities[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        const auto named = std::find_if(std::begin(kEntities), std::end(kEntities),
                                        [&](const auto& entity) { return entity.first == body; });
        if (named != std::end(kEntities)) {
            out += named->second;
        } else if (body.starts_with('#') && body.size() > 1) {
            const bool hex = body[1] == 'x';
            const std::string_view digits = body.substr(hex ? 2 : 1);
            if (digits.empty())
                return fail("empty character reference");
            std::uint32_t code = 0;
            for (const char c : digits) {
                int digit = -1;
                if (c >= '0' && c <= '9')
                    digit = c - '0';
                else if (hex && c >= 'a' && c <= 'f')
                    digit = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F')
                    digit = c - 'A' + 10;
                if (digit < 0)
                    return fail("character reference \"&" + std::string(body) + ";\" is not a number");
                code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
                if (code > 0x10FFFF)
                    return fail("character reference out of range");
            }
            const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
                || (code >= 0xE000 && code <= 0xFFFD) || code >= 0x10000;
            if (!allowed)
                return fail("character reference to a character XML does not allow");
            appendUtf8(out, code);
        } else {
            return fail("unknown entity \"&" + std::string(body) + ";\"");
        }
        advance(end + 1 - pos_);
        return true;
    }

    bool attributeValue(std::string& out)
    {
        if (atEnd() || (peek() != '"' && peek() != '\''))
            return fail("attribute value without quotes");
        const char quote = peek();
        advance(1);
        for (;;) {
            if (atEnd())
                return fail("attribute value is not closed");
            const char c = peek();
            if (c == quote) {
                advance(1);
                return true;
            }
            if (c == '<')
                return fail("'<' inside an attribute value");
            if (c == '&') {
                if (!reference(out))
                    return false;
                continue;
            }
            // A line break in a value reads as a blank, as in any conforming reader.
            out += (c == '\n' || c == '\t' || c == '\r') ? ' ' : c;
            advance(1);
        }
    }

    bool element(XmlElement& out, int depth)
    {
        if (depth > kDepthLimit)
            return fail("elements nested too deeply");
        out.line = line_;
        advance(1); // '<'
        if (!name(out.name))
            return false;
        for (;;) {
            const std::size_t before = pos_;
            skipSpace();
            if (atEnd())
                return fail("start tag <" + out.name + "> is not closed");
            if (startsWith("/>")) {
                advance(2);
                return true;
            }
            if (peek() == '>') {
                advance(1);
                break;
            }
            if (pos_ == before)
                return fail("blank expected before an attribute of <" + out.name + ">");
            std::string key;
            if (!name(key))
                return false;
            skipSpace();
            if (atEnd() || peek() != '=')
                return fail("attribute " + key + " of <" + out.name + "> has no value");
            advance(1);
            skipSpace();
            std::string value;
            if (!attributeValue(value))
                return false;
            if (out.attribute(key))
                return fail("attribute " + key + " twice in <" + out.name + ">");
            out.attributes.emplace_back(std::move(key), std::move(value));
        }
        return content(out, depth);
    }

    bool content(XmlElement& out, int depth)
    {
        for (;;) {
            if (atEnd())
                return fail("element <" + out.name + "> is not closed");
            if (startsWith("</")) {
                advance(2);
                std::string closing;
                if (!name(closing))
                    return false;
                if (closing != out.name)
                    return fail("</" + closing + "> closes <" + out.name + ">");
                skipSpace();
                if (atEnd() || peek() != '>')
                    return fail("end tag </" + closing + "> is not closed");
                advance(1);
                return true;
            }
            if (startsWith("<!--")) {
                if (!comment())
                    return false;
            } else if (startsWith("<![CDATA[")) {
                if (!skipPast("]]>", "CDATA section"))
                    return false;
            } else if (startsWith("<?")) {
                if (!skipPast("?>", "processing instruction"))
                    return false;
            } else if (startsWith("<!")) {
                return fail("declaration inside an element");
            } else if (peek() == '<') {
                XmlElement child;
                if (!element(child, depth + 1))
                    return false;
                out.children.push_back(std::move(child));
            } else if (peek() == '&') {
                std::string ignored;
                if (!reference(ignored))
                    return false;
            } else {
                if (startsWith("]]>"))
                    return fail("\"]]>\" outside a CDATA section");
                advance(1);
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
    std::string error_;
};

} // namespace

XmlReader::Result XmlReader::parse(std::string_view text)
{
    return Parser(text).run();
}

} // namespace updatetool
