// shlwapi: the short text of a byte count.
#include <windows.h>
#include <shlwapi.h>

#include <clocale>
#include <cstdio>
#include <string>

#include <langinfo.h>
#include <locale.h>

#include "text.h"

namespace {

// The user's decimal separator, from the locale that the environment names.
std::string DecimalSeparator()
{
    std::string separator = ".";
    locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (user) {
        const char* radix = nl_langinfo_l(RADIXCHAR, user);
        if (radix && *radix)
            separator = radix;
        freelocale(user);
    }
    return separator;
}

} // namespace

PWSTR WINAPI StrFormatByteSizeW(LONGLONG qdw, PWSTR pszBuf, UINT cchBuf)
{
    if (!pszBuf || cchBuf == 0)
        return nullptr;
    std::string text;
    if (qdw < 1024) {
        text = std::to_string(qdw) + " bytes";
    } else {
        // The largest unit that leaves fewer than 1000 of it, then three significant digits,
        // cut off rather than rounded: 1340 bytes are 1.30 KB, 23506 bytes 22.9 KB.
        static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
        unsigned unit = 0;
        while (unit < 5 && static_cast<unsigned long long>(qdw) >= (1000ull << (10 * (unit + 1))))
            ++unit;
        unsigned shift = 10 * (unit + 1);
        unsigned long long whole = static_cast<unsigned long long>(qdw) >> shift;
        int decimals = whole < 10 ? 2 : (whole < 100 ? 1 : 0);
        unsigned long long scale = decimals == 2 ? 100 : (decimals == 1 ? 10 : 1);
        unsigned long long scaled =
            static_cast<unsigned long long>((static_cast<unsigned __int128>(qdw) * scale) >> shift);
        text = std::to_string(scaled / scale);
        if (decimals) {
            char fraction[4];
            std::snprintf(fraction, sizeof fraction, "%0*llu", decimals, scaled % scale);
            text += DecimalSeparator() + fraction;
        }
        text += std::string(" ") + units[unit];
    }
    if (!winshim::CopyToBuffer(winshim::ToUtf16(text), pszBuf, cchBuf))
        return nullptr;
    return pszBuf;
}
