// A module that carries the test dialogs as resources and nothing else.
extern "C" int ZqUserTestDialogs() { return 1; }
