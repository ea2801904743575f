#include "metadata/Xml.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace korvane::metadata {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | code >> 6);
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | code >> 12);
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | code >> 18);
        *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// One entity or character reference at text[i] ('&'); appends its character and returns the
// length consumed. An unknown one stays as written: a stray '&' is no reason to lose a title.
size_t DecodeEntity(const std::string& text, size_t i, std::string* out) {
    const size_t end = text.find(';', i);
    if (end == std::string::npos || end - i > 12) {
        *out += '&';
        return 1;
    }
    const std::string name = text.substr(i + 1, end - i - 1);
    static const struct {
        const char* name;
        char c;
    } kNamed[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& named : kNamed)
        if (name == named.name) {
            *out += named.c;
            return end - i + 1;
        }
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const char* digits = name.c_str() + (hex ? 2 : 1);
        char* stop = nullptr;
        const unsigned long code = std::strtoul(digits, &stop, hex ? 16 : 10);
        if (*digits && *stop == 0 && code > 0 && code <= 0x10FFFF) {
            AppendUtf8(static_cast<uint32_t>(code), out);
            return end - i + 1;
        }
    }
    *out += '&';
    return 1;
}

std::string Decode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '&')
            i += DecodeEntity(text, i, &out);
        else
            out += text[i++];
    }
    return out;
}

// Metadata documents nest a handful of levels; a limit keeps the recursive lookups and the
// destruction of the tree off the end of the stack whatever a damaged chunk holds.
constexpr size_t kMaxDepth = 64;

class Parser {
public:
    explicit Parser(const std::string& document) : m_s(document) {}

    bool Run(XmlElement* root, std::string* error) {
        if (m_s.compare(0, 3, "\xEF\xBB\xBF") == 0) m_pos = 3;
        bool haveRoot = false;
        while (m_pos < m_s.size()) {
            if (m_s[m_pos] != '<') {
                if (!Text()) return Fail("text outside the root element", error);
                continue;
            }
            if (Skip("<?", "?>") || Skip("<!--", "-->") || SkipDeclaration()) continue;
            if (m_s.compare(m_pos, 9, "<![CDATA[") == 0) {
                const size_t end = m_s.find("]]>", m_pos);
                if (end == std::string::npos || m_open.empty()) return Fail("a stray CDATA section", error);
                m_open.back()->text += m_s.substr(m_pos + 9, end - m_pos - 9);
                m_pos = end + 3;
                continue;
            }
            if (m_s.compare(m_pos, 2, "</") == 0) {
                if (!EndTag(error)) return false;
                continue;
            }
            if (m_open.empty() && haveRoot) return Fail("a second root element", error);
            XmlElement* parent = m_open.empty() ? nullptr : m_open.back();
            if (m_open.size() >= kMaxDepth) return Fail("elements nested too deeply", error);
            XmlElement* element = parent ? &parent->children.emplace_back() : root;
            *element = XmlElement{};
            haveRoot = true;
            if (!StartTag(element, error)) return false;
        }
        if (!m_open.empty()) return Fail("<" + m_open.back()->name + "> is never closed", error);
        if (!haveRoot) return Fail("no element", error);
        return true;
    }

private:
    bool Fail(const std::string& what, std::string* error) {
        *error = "not well-formed XML at byte " + std::to_string(m_pos) + ": " + what;
        return false;
    }

    bool Skip(const char* open, const char* close) {
        if (m_s.compare(m_pos, std::strlen(open), open) != 0) return false;
        const size_t end = m_s.find(close, m_pos);
        m_pos = end == std::string::npos ? m_s.size() : end + std::strlen(close);
        return true;
    }

    // <!DOCTYPE ...> with or without an internal subset in brackets.
    bool SkipDeclaration() {
        if (m_s.compare(m_pos, 2, "<!") != 0 || m_s.compare(m_pos, 9, "<![CDATA[") == 0) return false;
        int brackets = 0;
        for (; m_pos < m_s.size(); ++m_pos) {
            const char c = m_s[m_pos];
            if (c == '[') ++brackets;
            if (c == ']') --brackets;
            if (c == '>' && brackets <= 0) break;
        }
        ++m_pos;
        return true;
    }

    bool Text() {
        const size_t end = std::min(m_s.find('<', m_pos), m_s.size());
        const std::string raw = m_s.substr(m_pos, end - m_pos);
        m_pos = end;
        if (!m_open.empty()) {
            m_open.back()->text += Decode(raw);
            return true;
        }
        for (char c : raw)
            if (!IsSpace(c)) return false;
        return true;
    }

    std::string Name() {
        const size_t start = m_pos;
        while (m_pos < m_s.size() && !IsSpace(m_s[m_pos]) && !std::strchr("/>=", m_s[m_pos]))
            ++m_pos;
        return m_s.substr(start, m_pos - start);
    }

    void SkipSpaces() {
        while (m_pos < m_s.size() && IsSpace(m_s[m_pos]))
            ++m_pos;
    }

    bool StartTag(XmlElement* element, std::string* error) {
        ++m_pos;
        element->name = Name();
        if (element->name.empty()) return Fail("a tag without a name", error);
        for (;;) {
            SkipSpaces();
            if (m_pos >= m_s.size()) return Fail("<" + element->name + "> is cut short", error);
            if (m_s.compare(m_pos, 2, "/>") == 0) {
                m_pos += 2;
                return true;
            }
            if (m_s[m_pos] == '>') {
                ++m_pos;
                m_open.push_back(element);
                return true;
            }
            std::string name = Name();
            SkipSpaces();
            if (name.empty() || m_pos >= m_s.size() || m_s[m_pos] != '=')
                return Fail("a malformed attribute in <" + element->name + ">", error);
            ++m_pos;
            SkipSpaces();
            const char quote = m_pos < m_s.size() ? m_s[m_pos] : 0;
            const size_t end = quote == '"' || quote == '\'' ? m_s.find(quote, m_pos + 1) : std::string::npos;
            if (end == std::string::npos)
                return Fail("an unquoted attribute in <" + element->name + ">", error);
            element->attributes.emplace_back(name, Decode(m_s.substr(m_pos + 1, end - m_pos - 1)));
            m_pos = end + 1;
        }
    }

    bool EndTag(std::string* error) {
        m_pos += 2;
        const std::string name = Name();
        SkipSpaces();
        if (m_open.empty() || name != m_open.back()->name)
            return Fail("</" + name + "> closes nothing open", error);
        if (m_pos >= m_s.size() || m_s[m_pos] != '>') return Fail("</" + name + "> is cut short", error);
        ++m_pos;
        m_open.pop_back();
        return true;
    }

    const std::string& m_s;
    size_t m_pos = 0;
    // The elements whose end tag has not come yet, innermost last. Only the innermost one
    // gains children, so the pointers into its ancestors' child lists stay valid.
    std::vector<XmlElement*> m_open;
};

}  // namespace

std::string LocalName(const std::string& name) {
    const size_t colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

const XmlElement* XmlElement::Child(const std::string& localName) const {
    for (const XmlElement& child : children)
        if (LocalName(child.name) == localName) return &child;
    return nullptr;
}

const std::string* XmlElement::Attribute(const std::string& attributeName) const {
    for (const auto& attribute : attributes)
        if (attribute.first == attributeName) return &attribute.second;
    return nullptr;
}

const XmlElement* XmlElement::Find(const std::string& localName) const {
    if (LocalName(name) == localName) return this;
    for (const XmlElement& child : children)
        if (const XmlElement* found = child.Find(localName)) return found;
    return nullptr;
}

bool ParseXml(const std::string& document, XmlElement* root, std::string* error) {
    return Parser(document).Run(root, error);
}

}  // namespace korvane::metadata
