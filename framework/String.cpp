#include "framework/String.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

CString::CString(const char* text) : m_text(text ? text : "") {}

CString::CString(const char* text, int length)
    : m_text(text && length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string()) {}

CString::CString(char ch, int repeat) : m_text(repeat > 0 ? static_cast<size_t>(repeat) : 0, ch) {}

CString& CString::operator=(const char* text) {
    m_text = text ? text : "";
    return *this;
}

CString& CString::operator+=(const CString& other) {
    m_text += other.m_text;
    return *this;
}

CString& CString::operator+=(const char* text) {
    if (text) m_text += text;
    return *this;
}

CString& CString::operator+=(char ch) {
    m_text += ch;
    return *this;
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, char b) {
    CString r(a);
    r += b;
    return r;
}

int CString::Compare(const char* other) const {
    return std::strcmp(m_text.c_str(), other ? other : "");
}

namespace {

// Byte length of the character that starts at p (1 or 2).
size_t CharBytes(const char* p) {
    return (::IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') ? 2 : 1;
}

// The text with every single-byte character in the system's lower case (CharLowerBuffA, so
// letters of the ANSI code page fold too); double-byte characters stay as they are.
std::string FoldCase(const char* text) {
    std::string folded;
    for (const char* p = text; *p;) {
        size_t bytes = CharBytes(p);
        if (bytes == 1) {
            char ch = *p;
            ::CharLowerBuffA(&ch, 1);
            folded += ch;
        } else {
            folded.append(p, bytes);
        }
        p += bytes;
    }
    return folded;
}

}  // namespace

int CString::CompareNoCase(const char* other) const {
    // Character by character, not lstrcmpiA: the system's collation ignores some characters
    // (a soft hyphen, C1 controls), which would make two different file names "equal".
    return std::strcmp(FoldCase(m_text.c_str()).c_str(), FoldCase(other ? other : "").c_str());
}

int CString::Find(char ch, int start) const {
    if (start < 0) start = 0;
    const char* base = m_text.c_str();
    size_t size = m_text.size();
    for (size_t i = 0; i < size; i += CharBytes(base + i)) {
        if (i >= static_cast<size_t>(start) && base[i] == ch) return static_cast<int>(i);
    }
    return -1;
}

int CString::Find(const char* sub, int start) const {
    if (!sub) return -1;
    if (start < 0) start = 0;
    size_t subLength = std::strlen(sub);
    const char* base = m_text.c_str();
    size_t size = m_text.size();
    if (subLength == 0) return static_cast<size_t>(start) <= size ? start : -1;
    for (size_t i = 0; i < size; i += CharBytes(base + i)) {
        if (i >= static_cast<size_t>(start) && i + subLength <= size &&
            std::memcmp(base + i, sub, subLength) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

int CString::ReverseFind(char ch) const {
    int last = -1;
    const char* base = m_text.c_str();
    size_t size = m_text.size();
    for (size_t i = 0; i < size; i += CharBytes(base + i)) {
        if (base[i] == ch) last = static_cast<int>(i);
    }
    return last;
}

CString CString::Mid(int first) const {
    return Mid(first, GetLength());
}

CString CString::Mid(int first, int count) const {
    if (first < 0) first = 0;
    if (count < 0) count = 0;
    if (first >= GetLength()) return CString();
    if (count > GetLength() - first) count = GetLength() - first;
    return CString(m_text.c_str() + first, count);
}

CString CString::Left(int count) const {
    return Mid(0, count);
}

CString CString::Right(int count) const {
    if (count < 0) count = 0;
    if (count > GetLength()) count = GetLength();
    return Mid(GetLength() - count, count);
}

int CString::Insert(int index, char ch) {
    char text[2] = {ch, '\0'};
    return Insert(index, text);
}

int CString::Insert(int index, const char* text) {
    if (index < 0) index = 0;
    if (index > GetLength()) index = GetLength();
    if (text) m_text.insert(static_cast<size_t>(index), text);
    return GetLength();
}

int CString::Delete(int index, int count) {
    if (index >= 0 && count > 0 && index < GetLength())
        m_text.erase(static_cast<size_t>(index), static_cast<size_t>(count));
    return GetLength();
}

CString& CString::MakeUpper() {
    if (!m_text.empty()) ::CharUpperBuffA(&m_text[0], static_cast<DWORD>(m_text.size()));
    return *this;
}

CString& CString::MakeLower() {
    if (!m_text.empty()) ::CharLowerBuffA(&m_text[0], static_cast<DWORD>(m_text.size()));
    return *this;
}

void CString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        va_end(args);
        throw std::runtime_error("CString::Format: bad format");
    }
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, args);
    va_end(args);
    text.resize(static_cast<size_t>(needed));
    m_text.swap(text);
}

char* CString::GetBuffer(int minLength) {
    if (minLength > GetLength()) m_text.resize(static_cast<size_t>(minLength));
    return &m_text[0];
}

void CString::ReleaseBuffer(int newLength) {
    if (newLength < 0) newLength = static_cast<int>(std::strlen(m_text.c_str()));
    if (newLength > GetLength()) newLength = GetLength();
    m_text.resize(static_cast<size_t>(newLength));
}

int CStringArray::Add(const CString& item) {
    m_items.push_back(item);
    return GetSize() - 1;
}

void CStringArray::RemoveAt(int index, int count) {
    if (index < 0 || count <= 0 || index >= GetSize()) return;
    auto first = m_items.begin() + index;
    auto last = count >= GetSize() - index ? m_items.end() : first + count;
    m_items.erase(first, last);
}
