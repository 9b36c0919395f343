// A module that carries only a version block, for the version calls' tests.
extern "C" int ZqVersionModuleMarker() { return 1; }
