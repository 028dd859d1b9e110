// The toolkit's font set-up (fontconfig, through Xft) keeps allocations for
// the life of the process; the leak checker of the sanitizer build is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
