// The per-printer list files of installed fonts in the driver's directory:
// "zel" + printer name + ".PCM" for cartridges, ".PFM" for soft fonts. Each
// holds a record list and nothing else.
//
// Cartridge record: 1 id, 2 path as installed, 3 value (only when non-zero),
// 4 the cartridge file's content (when it could be read).
// Soft-font record: 1 id, 2 path of the metrics file, 3 the download file's
// name (when given), 4 value, 5 the metrics file's content (when read).
//
// Writers hold an exclusive lock on the directory from open to save and
// replace the file whole (temporary file in the same directory, flushed,
// then renamed over it), so a reader sees the old or the new list, never a
// mixture, and a writer that dies leaves the old file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/types.h"
#include "settings/pd_list.h"

namespace zq {

constexpr size_t kFontFileNameCapacity = 260;

// The printer name's last component as it may stand in a file name: at most
// 63 characters, anything outside [A-Za-z0-9 ._-] becomes '_'.
std::string FileNameComponent(std::u16string_view printerName);

// The Windows path of a per-printer font file with this extension (".PCL",
// ".PFM", ".PCM"): the driver's directory, "zel", the printer's name; with
// "VFS_NONE" when the name cannot be read, and the bare name when the
// directory cannot be read or the whole would not fit 260 characters.
std::string FontFileName(HANDLE printer, std::string_view extension);
// The same into a 260-byte buffer; the length, 0 when nothing fit.
size_t GetPcmFileName(char* out, HANDLE printer);
size_t GetSoftFontFileName(char* out, HANDLE printer);

// A host file's whole content; nothing when it cannot be read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& file);

// Writes bytes to a file through a temporary file beside it, flushed and
// renamed over it. False with the file unchanged on failure.
bool ReplaceFileContents(const std::filesystem::path& file, std::span<const uint8_t> bytes);
// An exclusive lock on the directory holding `file`; -1 when it cannot be
// taken. Closing the descriptor releases it.
int LockFileDirectory(const std::filesystem::path& file);

PdList* PcmListOpen(const char* printerName, HANDLE printer);
PdList* SoftFontListOpen(const char* printerName, HANDLE printer);
// Writes the list when it changed, releases the lock and frees the list.
// TRUE when nothing needed writing or the write succeeded.
BOOL PcmListSave(PdList* list, HANDLE printer);
BOOL SoftFontListSave(PdList* list, HANDLE printer);
int PcmGetFields(PdList* list, std::span<const uint8_t** const, 4> out);
int SoftFontGetFields(PdList* list, std::span<const uint8_t** const, 5> out);

// TRUE when stored. A font whose record would not fit 16 bits is refused and
// the entry it would replace is kept.
BOOL PcmAddEntry(const char* printerName, const char* path, uint16_t value);
BOOL SoftFontAddEntry(const char* printerName, const char* path, const char* second, uint16_t value);
BOOL PcmListClear(const char* printerName);
BOOL SoftFontListClear(const char* printerName);
BOOL PcmDeleteEntry(const char* printerName, const char* path);
BOOL SoftFontDeleteEntry(const char* printerName, const char* path, const char* second);
BOOL DeletePcmListFile(HANDLE printer);
BOOL DeleteSoftFontListFile(HANDLE printer);

// The toolkit feedback's font list: locked blocks of kinds (1 soft font, 2
// cartridge) and values as 0-ended words, paths and second names as texts
// ended by an empty one.
struct FontListRequest {
    void** kinds = nullptr;
    void** paths = nullptr;
    void** seconds = nullptr;
    void** values = nullptr;
};
int FontListEnumerate(const char* printerName, const FontListRequest& request, HANDLE printer);

struct FontRequest {
    uint16_t size = 0;
    uint16_t operation = 0;  // 1 install, 2 remove, 3 look up
    uint16_t* kind = nullptr;  // 1 soft font, 2 cartridge, 0 either
    char* path = nullptr;
    char* second = nullptr;
    uint16_t* value = nullptr;
    size_t pathCapacity = kFontFileNameCapacity;  // what a look-up may fill
    size_t secondCapacity = kFontFileNameCapacity;
};
int FontFeedbackRequest(const char* printerName, const FontRequest& request, HANDLE printer);

}  // namespace zq
