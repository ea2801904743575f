// A small reader for the XML documents a .TiVo recording carries (a few KiB of elements,
// attributes and text): enough to take a document apart, not a validating parser. Namespace
// prefixes are kept in names and ignored by lookups, DTDs and processing instructions are
// skipped, entities and character references are decoded into UTF-8.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvane::metadata {

struct XmlElement {
    std::string name;  // as written, with any prefix ("TvBusMarshalledStruct:TvBusEnvelope")
    std::vector<std::pair<std::string, std::string>> attributes;
    std::string text;  // the character data directly inside, decoded, children's left out
    std::vector<XmlElement> children;

    // The first child whose name without its prefix is localName; nullptr if none.
    const XmlElement* Child(const std::string& localName) const;
    // The attribute's decoded value; nullptr if the element has none of that name.
    const std::string* Attribute(const std::string& name) const;
    // This element or the first descendant (depth first) whose local name is localName.
    const XmlElement* Find(const std::string& localName) const;
};

// The name after the namespace prefix, if any.
std::string LocalName(const std::string& name);

// Reads a whole document into *root. False with *error (naming the byte offset) when the
// text is not well-formed: unclosed or mismatched tags, text outside the root, no root.
bool ParseXml(const std::string& document, XmlElement* root, std::string* error);

}  // namespace korvane::metadata
