// The recording test driver: a printer driver that logs every hook call and
// draws through the engine into a band bitmap, assembling the bands into page
// images that tests compare with the engine's own render.
#pragma once

#include <cstddef>

#include "gdi/ddi.h"

// Behind the public DEVMODE (dmDriverExtra bytes).
struct TestDriverSettings {
    static constexpr ULONG kMagic = 0x5A514454;  // identifies the block
    ULONG magic = kMagic;
    LONG width = 64;
    LONG height = 48;
    LONG bandHeight = 0;        // 0: one surface for the page, no banding
    ULONG format = BMF_24BPP;   // BMF_1BPP or BMF_24BPP
    FLONG hooks = 0x24EB;       // what the surface asks for
    ULONG failAt = 0xFFFF;      // hook index that fails with error 1234 (0xFFFF: none)
    ULONG dither = 1;           // hook DrvDitherColor
    ULONG halftone = 0;         // GCAPS_HALFTONE: one-bit bands stretch images with HALFTONE
    ULONG looseBand = 0;        // the band bitmap is not tied to the device (the engine cannot tell whose it is)
    ULONG htPatternSize = 0;    // GDIINFO's halftone pattern size code
};

struct TestDevmode {
    DEVMODEW dm;
    TestDriverSettings settings;
};

constexpr ULONG kTestNoFailure = 0xFFFF;
constexpr DWORD kTestDriverError = 1234;

// An answer of DrvEscape: while a table is set, a listed escape answers its
// result and bytes, QUERYESCSUPPORT answers 1 for a listed code, and any
// other escape answers 0. The log names each escape with the first input
// bytes in hex ("Escape 5014 4 0 01000000").
struct TestEscapeAnswer {
    ULONG code;
    LONG result;
    ULONG size;         // bytes of `answer` to copy out
    BYTE answer[2080];  // room for the device-record image and a DEVMODE
};

// Looked up with dlsym by the tests.
extern "C" {
// Sets the table (copied); null or 0 entries go back to echoing the input.
using PFN_TestDriverSetEscapes = void (*)(const TestEscapeAnswer* table, size_t count);
using PFN_TestDriverLog = const char* (*)();
using PFN_TestDriverClear = void (*)();
using PFN_TestDriverPageCount = size_t (*)();
// Page `index` as rows of `stride` bytes in the page's format.
using PFN_TestDriverPage = const BYTE* (*)(size_t index, LONG* stride);
}

inline TestDevmode MakeTestDevmode(const TestDriverSettings& s) {
    TestDevmode t{};
    t.dm.dmSize = sizeof(DEVMODEW);
    t.dm.dmDriverExtra = sizeof(TestDriverSettings);
    t.dm.dmSpecVersion = 0x401;
    t.settings = s;
    return t;
}
