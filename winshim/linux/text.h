// UTF-16 <-> UTF-8 at the edge to Linux.
#pragma once

#include <string>
#include <string_view>

#include "windef.h"

namespace winshim {

std::string ToUtf8(std::u16string_view text);
std::string ToUtf8(LPCWSTR text);
std::u16string ToUtf16(std::string_view text);
// Copies text with its terminator into a caller's buffer; the count excludes the terminator.
// Returns false (and writes an empty text where the buffer has room) when it does not fit.
bool CopyToBuffer(std::u16string_view text, LPWSTR buffer, size_t bufferSize);

} // namespace winshim
