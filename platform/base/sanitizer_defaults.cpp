// Defaults of the sanitizers for every program that links the platform: one
// definition in the process, in the base library that all of them load.

// fontconfig loses a block while it parses its configuration files; that is
// fontconfig's, not ours, so leak checks of sanitized builds leave it out.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
