// The capability numbers of DeviceCapabilities and the answers the driver
// gives for some of them.
#pragma once

#include <cstdint>

inline constexpr uint16_t DC_FIELDS = 1;
inline constexpr uint16_t DC_PAPERS = 2;
inline constexpr uint16_t DC_PAPERSIZE = 3;
inline constexpr uint16_t DC_MINEXTENT = 4;
inline constexpr uint16_t DC_MAXEXTENT = 5;
inline constexpr uint16_t DC_BINS = 6;
inline constexpr uint16_t DC_DUPLEX = 7;
inline constexpr uint16_t DC_SIZE = 8;
inline constexpr uint16_t DC_EXTRA = 9;
inline constexpr uint16_t DC_VERSION = 10;
inline constexpr uint16_t DC_DRIVER = 11;
inline constexpr uint16_t DC_BINNAMES = 12;
inline constexpr uint16_t DC_ENUMRESOLUTIONS = 13;
inline constexpr uint16_t DC_FILEDEPENDENCIES = 14;
inline constexpr uint16_t DC_TRUETYPE = 15;
inline constexpr uint16_t DC_PAPERNAMES = 16;
inline constexpr uint16_t DC_ORIENTATION = 17;
inline constexpr uint16_t DC_COPIES = 18;
inline constexpr uint16_t DC_BINADJUST = 19;
inline constexpr uint16_t DC_COLLATE = 22;
inline constexpr uint16_t DC_PERSONALITY = 25;
inline constexpr uint16_t DC_PRINTRATE = 26;
inline constexpr uint16_t DC_PRINTRATEUNIT = 27;
inline constexpr uint16_t DC_PRINTERMEM = 28;
inline constexpr uint16_t DC_MEDIAREADY = 29;
inline constexpr uint16_t DC_STAPLE = 30;
inline constexpr uint16_t DC_PRINTRATEPPM = 31;
inline constexpr uint16_t DC_COLORDEVICE = 32;
inline constexpr uint16_t DC_NUP = 33;

inline constexpr uint32_t DCTT_BITMAP = 0x1;
inline constexpr uint32_t DCTT_DOWNLOAD = 0x2;
inline constexpr uint32_t DCTT_SUBDEV = 0x4;
inline constexpr uint32_t PRINTRATEUNIT_PPM = 1;

// Entry widths of the name lists, in wide characters.
inline constexpr unsigned kPaperNameChars = 64;
inline constexpr unsigned kBinNameChars = 24;
inline constexpr unsigned kPersonalityChars = 32;
