#include "text.h"

#include <glib.h>

namespace winshim {

std::string ToUtf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate cannot be written in UTF-8
        }
        char buf[6];
        int n = g_unichar_to_utf8(static_cast<gunichar>(c), buf);
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string ToUtf8(LPCWSTR text)
{
    return text ? ToUtf8(std::u16string_view(text)) : std::string();
}

std::u16string ToUtf16(std::string_view text)
{
    std::u16string out;
    out.reserve(text.size());
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        gunichar c = g_utf8_get_char_validated(p, end - p);
        if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) {
            out.push_back(u'\uFFFD');
            ++p;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        p = g_utf8_next_char(p);
    }
    return out;
}

bool CopyToBuffer(std::u16string_view text, LPWSTR buffer, size_t bufferSize)
{
    if (!buffer || bufferSize == 0)
        return false;
    if (text.size() + 1 > bufferSize) {
        buffer[0] = 0;
        return false;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = 0;
    return true;
}

} // namespace winshim
