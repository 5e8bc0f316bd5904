#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace updatetool {

// One element of a parsed document: its attributes with their entities resolved, its
// child elements and the line its start tag began on. Text between elements is checked
// but not kept: the tables read here carry everything in attributes.
struct XmlElement {
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<XmlElement> children;
    int line = 0;

    // The attribute's value, or nothing when the element has no such attribute.
    std::optional<std::string_view> attribute(std::string_view key) const;
};

// A small, strict reader for the XML that transponder tables come in, so the Windows
// build needs no XML library. It takes elements, attributes, the five predefined
// entities and numeric character references, comments, processing instructions (the
// XML declaration among them) and CDATA sections; anything else that is not
// well-formed is refused, with the line where the reader stopped.
class XmlReader {
public:
    struct Result {
        std::optional<XmlElement> root;
        std::string error; // "line N: what is wrong" when there is no root
    };
    static Result parse(std::string_view text);
};

} // namespace updatetool
