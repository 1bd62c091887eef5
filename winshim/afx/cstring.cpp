#include "afxwin.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace afx_detail {

namespace {

std::u16string Widen(const std::string& s)
{
    return std::u16string(s.begin(), s.end()); // printf's numeric output is ASCII
}

void Pad(std::u16string& out, std::u16string_view text, int width, bool left)
{
    size_t padding = width > 0 && static_cast<size_t>(width) > text.size() ? width - text.size() : 0;
    if (!left)
        out.append(padding, u' ');
    out.append(text);
    if (left)
        out.append(padding, u' ');
}

} // namespace

std::u16string FormatV(LPCWSTR format, va_list args);

namespace {

std::u16string FormatOne(LPCWSTR spec, ...)
{
    va_list args;
    va_start(args, spec);
    std::u16string r = FormatV(spec, args);
    va_end(args);
    return r;
}

} // namespace

std::u16string FormatV(LPCWSTR format, va_list args)
{
    std::u16string out;
    for (LPCWSTR p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p == u'%') {
            out += u'%';
            continue;
        }
        std::string spec = "%";
        bool left = false;
        while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0') {
            left |= *p == u'-';
            spec += static_cast<char>(*p++);
        }
        int width = 0;
        if (*p == u'*') {
            width = va_arg(args, int);
            spec += std::to_string(width);
            ++p;
        }
        for (; *p >= u'0' && *p <= u'9'; ++p) {
            width = width * 10 + (*p - u'0');
            spec += static_cast<char>(*p);
        }
        int precision = -1;
        if (*p == u'.') {
            spec += '.';
            ++p;
            precision = 0;
            if (*p == u'*') {
                precision = va_arg(args, int);
                spec += std::to_string(precision);
                ++p;
            }
            for (; *p >= u'0' && *p <= u'9'; ++p) {
                precision = precision * 10 + (*p - u'0');
                spec += static_cast<char>(*p);
            }
        }
        bool wide64 = false, isLong = false;
        if (p[0] == u'I' && p[1] == u'6' && p[2] == u'4') {
            wide64 = true;
            p += 3;
        } else if (p[0] == u'l' && p[1] == u'l') {
            wide64 = true;
            p += 2;
        } else if (*p == u'l' || *p == u'z' || *p == u'h') {
            isLong = *p != u'h';
            ++p;
        }
        char conv = static_cast<char>(*p);
        switch (conv) {
        case 's': {
            LPCWSTR s = va_arg(args, LPCWSTR);
            std::u16string_view text = s ? s : u"(null)";
            if (precision >= 0 && text.size() > static_cast<size_t>(precision))
                text = text.substr(0, static_cast<size_t>(precision));
            Pad(out, text, width, left);
            break;
        }
        case 'S': {
            const char* s = va_arg(args, const char*);
            std::u16string text = Widen(s ? s : "(null)");
            Pad(out, text, width, left);
            break;
        }
        case 'c': {
            WCHAR c = static_cast<WCHAR>(va_arg(args, int));
            Pad(out, std::u16string_view(&c, 1), width, left);
            break;
        }
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': {
            char buf[64];
            spec += wide64 ? "ll" : (isLong ? "l" : "");
            spec += conv;
            bool isSigned = conv == 'd' || conv == 'i';
            if (wide64)
                isSigned ? std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long long))
                         : std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, unsigned long long));
            else if (isLong)
                isSigned ? std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, long))
                         : std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, unsigned long));
            else
                isSigned ? std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, int))
                         : std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, unsigned int));
            out += Widen(buf);
            break;
        }
        case 'f': case 'g': case 'e': {
            char buf[128];
            spec += conv;
            std::snprintf(buf, sizeof buf, spec.c_str(), va_arg(args, double));
            out += Widen(buf);
            break;
        }
        case 0:
            return out;
        default:
            out += u'%';
            out += *p;
        }
    }
    return out;
}

std::u16string FormatMessageV(LPCWSTR format, va_list args)
{
    // The arguments are taken as an array of pointer-sized slots, as FormatMessage does.
    int highest = 0;
    for (LPCWSTR p = format; *p; ++p)
        if (p[0] == u'%' && p[1] >= u'1' && p[1] <= u'9') {
            int n = p[1] - u'0';
            if (p[2] >= u'0' && p[2] <= u'9')
                n = n * 10 + (p[2] - u'0');
            highest = n > highest ? n : highest;
        } else if (p[0] == u'%' && p[1] != 0) {
            ++p;
        }
    std::vector<intptr_t> slots(static_cast<size_t>(highest));
    for (intptr_t& slot : slots)
        slot = va_arg(args, intptr_t);

    std::u16string out;
    for (LPCWSTR p = format; *p; ++p) {
        if (*p != u'%') {
            out += *p;
            continue;
        }
        ++p;
        if (*p >= u'1' && *p <= u'9') {
            int n = *p - u'0';
            if (p[1] >= u'0' && p[1] <= u'9')
                n = n * 10 + (*++p - u'0');
            std::u16string spec = u"s";
            if (p[1] == u'!') {
                LPCWSTR end = p + 2;
                while (*end && *end != u'!')
                    ++end;
                if (*end == u'!') {
                    spec.assign(p + 2, end);
                    p = end;
                }
            }
            intptr_t slot = slots[static_cast<size_t>(n - 1)];
            if (spec == u"s")
                out += slot ? reinterpret_cast<LPCWSTR>(slot) : u"";
            else
                out += FormatOne((u"%" + spec).c_str(), slot);
        } else if (*p == u'n') {
            out += u"\r\n";
        } else if (*p == u'0') {
            break;
        } else if (*p == 0) {
            break;
        } else {
            out += *p; // %%, %., %! and the like stand for the character itself
        }
    }
    return out;
}

} // namespace afx_detail

LPWSTR CString::GetBuffer(int minBufferLength)
{
    if (minBufferLength > GetLength())
        m_text.resize(static_cast<size_t>(minBufferLength));
    return m_text.data();
}

void CString::ReleaseBuffer(int newLength)
{
    if (newLength < 0)
        newLength = static_cast<int>(std::char_traits<char16_t>::length(m_text.c_str()));
    m_text.resize(static_cast<size_t>(newLength));
}

BOOL CString::LoadString(UINT id)
{
    return LoadString(AfxGetResourceHandle(), id);
}

BOOL CString::LoadString(HINSTANCE instance, UINT id)
{
    LPCWSTR text = nullptr;
    int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || !text)
        return FALSE;
    m_text.assign(text, static_cast<size_t>(length));
    return TRUE;
}

void CString::Format(LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    m_text = afx_detail::FormatV(format, args);
    va_end(args);
}

namespace {

// The format string with this ID; an absent one raises CInvalidArgException, as MFC does.
CString LoadFormat(UINT formatId)
{
    CString format;
    if (!format.LoadString(formatId))
        AfxThrowInvalidArgException();
    return format;
}

} // namespace

void CString::Format(UINT formatId, ...)
{
    CString format = LoadFormat(formatId);
    va_list args;
    va_start(args, formatId);
    m_text = afx_detail::FormatV(format, args);
    va_end(args);
}

void CString::AppendFormat(LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    m_text += afx_detail::FormatV(format, args);
    va_end(args);
}

void CString::FormatMessage(LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    m_text = afx_detail::FormatMessageV(format, args);
    va_end(args);
}

void CString::FormatMessage(UINT formatId, ...)
{
    CString format = LoadFormat(formatId);
    va_list args;
    va_start(args, formatId);
    m_text = afx_detail::FormatMessageV(format, args);
    va_end(args);
}
