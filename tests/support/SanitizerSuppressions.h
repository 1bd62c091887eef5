// Include in exactly one source file of a test program whose code reaches Pango (text measured or
// drawn through winshim's GDI). Pango matches fonts on a worker thread of its own; fontconfig and
// Pango order their work with it inside libraries that ThreadSanitizer does not instrument, so it
// would report races that are not there. Outside a ThreadSanitizer build nothing calls this.
#pragma once

extern "C" const char* __tsan_default_suppressions()
{
    return "race:libfontconfig.so\n"
           "race:libpango-1.0.so\n"
           "race:libpangoft2-1.0.so\n"
           "race:libpangocairo-1.0.so\n";
}
