// Ids of the test module's resources, shared by the scripts and the tests.
#pragma once

namespace testmod {
inline constexpr int IDS_HELLO = 1;
inline constexpr int IDS_LONG = 2;
inline constexpr int IDS_EMPTY = 3;
inline constexpr int IDS_ANSI = 4;
inline constexpr int IDS_SECOND_BLOCK = 17;
inline constexpr int IDS_GERMAN_ONLY = 5;
inline constexpr int IDS_JAPANESE = 6;
inline constexpr int IDD_SMALL = 100;
inline constexpr int IDM_MAIN = 200;
inline constexpr int IDB_TINY = 300;
enum Commands { IDM_OPEN = 101, IDM_EXIT, IDM_HELP };
inline constexpr int RT_SOURCES = 259;
inline constexpr int RT_MODEL = 260;
}  // namespace testmod
