// Tracing of winshim's calls: to standard error with WINSHIM_TRACE=1, and to a test's handler.
#pragma once

namespace winshim {

bool TraceEnabled();
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace winshim
