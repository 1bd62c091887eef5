// Include in exactly one source file of a program whose code reaches Pango or GTK (text measured
// or drawn through winshim's GDI, the GTK back end): the program's entry and the tests of windows.
// Outside a sanitizer build nothing calls these.
#pragma once

// Pango matches fonts on a worker thread of its own, and GDBus talks to transferd on one; fontconfig,
// Pango and GLib order their work with those threads inside libraries that ThreadSanitizer does not
// instrument (GLib's mutexes are futexes, its atomics plain instructions), so it would report races
// that are not there.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libglib-2.0.so\n"
           "race:libgio-2.0.so\n"
           "race:libgobject-2.0.so\n"
           "race:libfontconfig.so\n"
           "race:libpango-1.0.so\n"
           "race:libpangoft2-1.0.so\n"
           "race:libpangocairo-1.0.so\n";
}

// Fontconfig, Pango and GTK keep their caches and the display's state for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libgtk-3.so\n"
           "leak:libgdk-3.so\n";
}
