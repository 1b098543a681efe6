// Defaults for the sanitizers of a sanitized test build, compiled into every test program so
// that each test case ctest starts on its own gets them without an environment.

extern "C" {

// Qt WebEngine 6.4 frees some of its objects with a delete of another size; nothing of ours.
const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}

// Leaks inside system libraries that the program cannot free: libdbus and fontconfig keep their
// buffers until the process ends, Qt WebEngine's Chromium its process-wide objects, and the
// undefined-behaviour runtime its own bookkeeping (the web engine's threads leave it there).
const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n"
           "leak:libQt6WebEngineCore.so\n"
           "leak:libubsan.so\n";
}

} // extern "C"
