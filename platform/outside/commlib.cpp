// Stand-in of the outside communication library: its callers only test that
// it is present in the system directory before they ask the printer.
extern "C" int CommlibVersion() {
    return 1;
}
