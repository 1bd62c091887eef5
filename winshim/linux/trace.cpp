// WINSHIM_TRACE=1: a line on standard error for each traced call, as Wine's debug channels do.
#include "trace.h"

#include <windows.h>
#include <winshim_ext.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace winshim {

namespace {

std::mutex g_traceMutex;
WINSHIM_TRACE_HANDLER g_traceHandler = nullptr;
void* g_traceContext = nullptr;

bool TraceToStderr()
{
    static const bool enabled = [] {
        const char* value = std::getenv("WINSHIM_TRACE");
        return value && *value && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

} // namespace

bool TraceEnabled()
{
    if (TraceToStderr())
        return true;
    std::lock_guard lock(g_traceMutex);
    return g_traceHandler != nullptr;
}

void Trace(const char* format, ...)
{
    if (!TraceEnabled())
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (TraceToStderr())
        std::fprintf(stderr, "[trace] %s\n", line);
    WINSHIM_TRACE_HANDLER handler;
    void* context;
    {
        std::lock_guard lock(g_traceMutex);
        handler = g_traceHandler;
        context = g_traceContext;
    }
    if (handler)
        handler(context, line);
}

} // namespace winshim

void WINAPI WinshimSetTraceHandler(WINSHIM_TRACE_HANDLER handler, void* context)
{
    std::lock_guard lock(winshim::g_traceMutex);
    winshim::g_traceHandler = handler;
    winshim::g_traceContext = context;
}
