// The LZ expansion calls: files compressed by the maker's compression tool
// ("SZDD" files, as Debian's mscompress writes them) are expanded, any other
// file is copied as it is.
//
// An "SZDD" file is a 14-byte header (magic, the method letter 'A', the
// missing last letter of the name, the expanded length) and an LZSS stream:
// a 4096-byte window filled with blanks, written from position 4080; each
// control byte governs eight items, low bit first: 1 is a literal byte,
// 0 a two-byte reference (12-bit window position, 4-bit length + 3).
//
// LZCopy reads and writes in pieces, so memory stays the same whatever the
// size of the file. A stream that ends inside an item, refers past its own
// end, or expands to another length than its header gives is damaged:
// LZERROR_READ, and what was written so far is left for the caller to throw
// away.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/files.h"
#include "base/types.h"

constexpr INT LZERROR_BADINHANDLE = -1;
constexpr INT LZERROR_BADOUTHANDLE = -2;
constexpr INT LZERROR_READ = -3;
constexpr INT LZERROR_WRITE = -4;
constexpr INT LZERROR_GLOBALLOC = -5;
constexpr INT LZERROR_GLOBLOCK = -6;
constexpr INT LZERROR_BADVALUE = -7;
constexpr INT LZERROR_UNKNOWNALG = -8;

extern "C" {
// Opens like OpenFile; a file opened for reading that begins with the
// "SZDD" header is expanded by LZCopy. Answers the handle or an LZERROR.
INT LZOpenFileA(LPSTR fileName, OFSTRUCT* info, WORD style);
// Copies or expands source into destination from their current positions;
// the bytes written, or an LZERROR.
LONG LZCopy(INT source, INT destination);
void LZClose(INT file);
}

namespace zq {

inline constexpr uint8_t kSzddMagic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
inline constexpr size_t kSzddHeaderSize = 14;

// The expansion of a whole "SZDD" image in memory (header included); false
// for an image that is not one or is damaged.
bool ExpandSzdd(std::span<const uint8_t> image, std::vector<uint8_t>& out);

}  // namespace zq
