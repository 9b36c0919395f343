// Sanitizer defaults of the fuzz targets, under libFuzzer and replaying
// their corpus as a test. A fuzz target frees what one input
// allocated before the next: with the default quarantine of 256 MB every
// input lands on fresh pages, and the page faults, not the code under test,
// set the pace. A few megabytes still catch a use after free within an
// input and across the next few. Every allocation also records the stack
// that made it; eight frames name the caller well enough for a report (the
// faulting access keeps its whole stack), and the thirty by default cost more
// than the code under test in the targets that allocate a lot.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "quarantine_size_mb=4:malloc_context_size=8";
}
