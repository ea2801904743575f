// CString and CStringArray: 8-bit strings in the system's ANSI code page.
// Searches step over double-byte characters, so the trail byte of a double-byte
// character is never taken for "\" or "."; CompareNoCase folds letter case as the system does.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CString {
public:
    CString() = default;
    CString(const char* text);  // a null pointer gives the empty string
    CString(const char* text, int length);
    CString(char ch, int repeat = 1);

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    char GetAt(int index) const { return m_text[static_cast<size_t>(index)]; }
    char operator[](int index) const { return GetAt(index); }
    void SetAt(int index, char ch) { m_text[static_cast<size_t>(index)] = ch; }
    operator const char*() const { return m_text.c_str(); }

    CString& operator=(const char* text);
    CString& operator+=(const CString& other);
    CString& operator+=(const char* text);
    CString& operator+=(char ch);
    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const char* b);
    friend CString operator+(const char* a, const CString& b);
    friend CString operator+(const CString& a, char b);

    // Byte-wise comparisons (== is exact, like strcmp).
    int Compare(const char* other) const;
    // 0 when equal apart from letter case (the system's case mapping of the ANSI code page);
    // every other difference counts, also in characters that sorting would ignore.
    int CompareNoCase(const char* other) const;
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_text < b.m_text; }

    // Byte positions of whole characters; -1 when not found. A start inside a
    // double-byte character begins the search at the next whole character.
    int Find(char ch, int start = 0) const;
    int Find(const char* sub, int start = 0) const;
    int ReverseFind(char ch) const;

    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Left(int count) const;
    CString Right(int count) const;

    // Returns the new length. An index past the end appends.
    int Insert(int index, char ch);
    int Insert(int index, const char* text);
    int Delete(int index, int count = 1);
    CString& MakeUpper();
    CString& MakeLower();

    void Format(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

    // Room for at least minLength characters plus the terminating zero; ReleaseBuffer
    // cuts the text at newLength, or at its first zero when newLength is -1.
    char* GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

    const std::string& str() const { return m_text; }

private:
    std::string m_text;
};

// A growable array of CString.
class CStringArray {
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    int GetUpperBound() const { return GetSize() - 1; }
    bool IsEmpty() const { return m_items.empty(); }

    int Add(const CString& item);  // returns the new element's index
    const CString& GetAt(int index) const { return m_items[static_cast<size_t>(index)]; }
    CString& ElementAt(int index) { return m_items[static_cast<size_t>(index)]; }
    void SetAt(int index, const CString& item) { m_items[static_cast<size_t>(index)] = item; }
    const CString& operator[](int index) const { return GetAt(index); }
    CString& operator[](int index) { return ElementAt(index); }

    void RemoveAt(int index, int count = 1);
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<CString> m_items;
};
