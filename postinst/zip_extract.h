// Zip archives through minizip, whose file access goes through the
// platform's Win32 calls (its I/O hooks), never by host path.
#pragma once

#include <string>
#include <vector>

namespace postinst {

constexpr int kZipList = 1;
constexpr int kZipExtract = 2;

// Lists and/or extracts every entry into the destination directory. True
// when the archive could be opened and, when extracting, every entry was
// written whole; an entry whose name leaves the destination, that cannot be
// written, that fails its CRC or runs longer or shorter than declared fails
// alone, and leaves no file behind.
bool ZipListContents(const std::string& archive, int mode, const std::string& destination,
                     std::vector<std::string>* names);

// Whether an entry name (backslashes already) stays below the directory it
// is extracted into: no "..", no root, no drive, no server.
bool IsSafeEntryName(const std::string& name);

}  // namespace postinst
