// Sanitizer and libFuzzer defaults of the fuzz targets, under libFuzzer and
// replaying their corpus as a test.
#include <vector>

// A fuzz target frees what one input allocated before the next: with the
// default quarantine of 256 MB every input lands on fresh pages, and the
// page faults, not the code under test, set the pace. A few megabytes still
// catch a use after free within an input and across the next few. Every
// allocation also records the stack that made it; eight frames name the
// caller well enough for a report (the faulting access keeps its whole
// stack), and the thirty by default cost more than the code under test in
// the targets that allocate a lot.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "quarantine_size_mb=4:malloc_context_size=8";
}

// libFuzzer's entropic schedule keeps every feature seen fewer than this
// many times on its list of rare features, and looks each feature of every
// input up in that list. Loading a corpus puts all its features there (ten
// thousand for the settings targets), and the list is pruned only when a
// new feature turns up: until then the look-ups took a quarter of a run.
// The hundred rarest features stay on the list whatever the threshold.
// Flags given on the command line come after these and win.
extern "C" __attribute__((visibility("default"), used)) int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static char threshold[] = "-entropic_feature_frequency_threshold=16";
    static std::vector<char*> args;
    if (*argc < 1) return 0;
    args.assign(*argv, *argv + 1);
    args.push_back(threshold);
    args.insert(args.end(), *argv + 1, *argv + *argc);
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size()) - 1;
    *argv = args.data();
    return 0;
}
