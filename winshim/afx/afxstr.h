// CString: a UTF-16 text with MFC's loading and formatting by resource ID.
#pragma once

#include <string>

#include <windows.h>

class CString {
public:
    CString() = default;
    CString(const CString& other) = default;
    CString(CString&& other) noexcept = default;
    CString(LPCWSTR text) : m_text(text ? text : u"") {}
    CString(LPCWSTR text, int length) : m_text(text, static_cast<size_t>(length)) {}
    CString(WCHAR ch, int repeat = 1) : m_text(static_cast<size_t>(repeat), ch) {}

    CString& operator=(const CString& other) = default;
    CString& operator=(CString&& other) noexcept = default;
    CString& operator=(LPCWSTR text)
    {
        m_text = text ? text : u"";
        return *this;
    }

    operator LPCWSTR() const { return m_text.c_str(); }
    LPCWSTR GetString() const { return m_text.c_str(); }
    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    WCHAR GetAt(int index) const { return m_text.at(static_cast<size_t>(index)); }
    WCHAR operator[](int index) const { return GetAt(index); }

    CString& operator+=(const CString& other)
    {
        m_text += other.m_text;
        return *this;
    }
    CString& operator+=(LPCWSTR text)
    {
        m_text += text ? text : u"";
        return *this;
    }
    CString& operator+=(WCHAR ch)
    {
        m_text += ch;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b)
    {
        CString r(a);
        r += b;
        return r;
    }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator==(const CString& a, LPCWSTR b) { return a.m_text == (b ? b : u""); }
    int Compare(LPCWSTR text) const { return lstrcmpW(m_text.c_str(), text); }

    // Room for at least minBufferLength characters; ReleaseBuffer takes the new length
    // (-1: up to the first NUL).
    LPWSTR GetBuffer(int minBufferLength);
    void ReleaseBuffer(int newLength = -1);

    // The string with this ID from the resource module; FALSE, and the text unchanged, when it
    // is absent or empty.
    BOOL LoadString(UINT id);
    BOOL LoadString(HINSTANCE instance, UINT id);

    // printf-style: %s takes a UTF-16 text (LPCWSTR), %S a narrow one.
    void Format(LPCWSTR format, ...);
    // The format string is loaded by ID; an absent one raises CInvalidArgException.
    void Format(UINT formatId, ...);
    void AppendFormat(LPCWSTR format, ...);
    // %1 ... %99 insert the arguments in any order; each argument is a text unless !fmt!
    // follows the number (for example %2!d!).
    void FormatMessage(LPCWSTR format, ...);
    void FormatMessage(UINT formatId, ...);

    const std::u16string& Str() const { return m_text; }

private:
    std::u16string m_text;
};

namespace afx_detail {
std::u16string FormatV(LPCWSTR format, va_list args);
std::u16string FormatMessageV(LPCWSTR format, va_list args);
} // namespace afx_detail
