// The cartridge and soft-font list files.
#include "settings/font_lists.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "interface/install_record.h"
#include "settings/printer_data_values.h"
#include "store/spooler.h"

namespace zq {

namespace {

constexpr char kPcmExtension[] = ".PCM";
constexpr char kSoftFontExtension[] = ".PFM";
constexpr uint16_t kPathKey = 2;

template <class Info>
std::vector<uint8_t> QueryInfo(BOOL (*call)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD), HANDLE printer) {
    // Most records fit the first buffer: one call instead of asking the size.
    std::vector<uint8_t> b(1024);
    DWORD needed = 0;
    if (call(printer, 2, b.data(), static_cast<DWORD>(b.size()), &needed)) return b;
    if (needed <= b.size() || needed < sizeof(Info)) return {};
    b.assign(needed, 0);
    if (!call(printer, 2, b.data(), needed, &needed)) return {};
    return b;
}

BOOL GetPrinterLevel2(HANDLE p, DWORD level, LPBYTE b, DWORD s, LPDWORD n) { return GetPrinterW(p, level, b, s, n); }
BOOL GetDriverLevel2(HANDLE p, DWORD level, LPBYTE b, DWORD s, LPDWORD n) {
    return GetPrinterDriverW(p, nullptr, level, b, s, n);
}

// The whole content of an installed font file (a Windows path); nothing
// when it cannot be read or could not be stored in one field.
std::optional<std::vector<uint8_t>> ReadFontFile(const char* path) {
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::vector<uint8_t>> r;
    const DWORD size = GetFileSize(f, nullptr);
    if (size != INVALID_FILE_SIZE) {
        std::vector<uint8_t> bytes(size);
        DWORD got = 0;
        if (size == 0 || (ReadFile(f, bytes.data(), size, &got, nullptr) && got == size)) r = std::move(bytes);
    }
    CloseHandle(f);
    return r;
}

PdList* OpenListFile(const char* printerName, HANDLE printer, const char* extension) {
    const std::string name = FontFileName(printer, extension);
    const auto host = MapPath(AnsiToWide(name));
    if (!host) return nullptr;
    const int lock = LockFileDirectory(*host);
    if (lock < 0) return nullptr;
    std::optional<std::vector<uint8_t>> bytes = ReadWholeFile(*host);
    PdList* list = nullptr;
    if (bytes && bytes->size() >= 4) {
        list = PdListOpenBytes(*bytes);
    } else if (!bytes && std::filesystem::exists(*host)) {
        list = PdListOpenBytes({});  // unreadable: empty for this call, the file stays
    } else {
        // Missing, or too short to hold a record: start an empty file.
        if (!ReplaceFileContents(*host, {})) {
            ::close(lock);
            return nullptr;
        }
        InstallLogEntry entry;
        entry.printerName = printerName != nullptr ? printerName : "";
        entry.printer = printer;
        entry.file = name;
        AddInstallLogEntry(entry);
        list = PdListOpenBytes({});
    }
    if (list == nullptr) {
        ::close(lock);
        return nullptr;
    }
    list->printerName = printerName != nullptr ? printerName : "";
    list->file = *host;
    list->lockFd = lock;
    return list;
}

bool WriteListFile(PdList* list) {
    if (list == nullptr || list->file.empty()) return false;
    if (!list->changed) return true;
    if (!ReplaceFileContents(list->file, list->block)) return false;
    list->changed = false;
    return true;
}

BOOL SaveListFile(PdList* list) {
    if (list == nullptr) return FALSE;
    const bool ok = WriteListFile(list);
    PdListDiscard(list);
    return ok ? TRUE : FALSE;
}

bool PathIs(const PdList* list, std::string_view path) {
    const auto stored = PdFieldText(list, kPathKey);
    return stored && EqualsIgnoreCase(*stored, path);
}

bool Named(const char* text) { return text != nullptr && *text != '\0'; }

enum class Kind : uint16_t { SoftFont = 1, Cartridge = 2 };

// Adds or replaces the record of `path` in an open list: the id is secured
// and the record built before the old one goes.
bool AddFontRecord(PdList* list, Kind kind, const char* path, const char* second, uint16_t value) {
    if (!Named(path)) return false;
    // The lowest id free once the old record of this path is gone.
    std::vector<bool> used(0x8000, false);
    used[0] = true;
    bool oldSeen = false;
    if (PdListFirst(list)) {
        do {
            if (!oldSeen && PathIs(list, path)) {
                oldSeen = true;
                continue;
            }
            if (const auto id = PdRecordId(list)) used[*id] = true;
        } while (PdListNext(list));
    }
    const auto free = std::find(used.begin(), used.end(), false);
    if (free == used.end()) return false;
    uint16_t id = static_cast<uint16_t>(free - used.begin());
    const std::optional<std::vector<uint8_t>> content = ReadFontFile(path);
    const std::string pathZ(path), secondZ(Named(second) ? second : "");
    std::vector<PdField> fields{{kPdIdKey, 2, &id},
                                {kPathKey, static_cast<uint16_t>(std::min<size_t>(pathZ.size() + 1, 0xFFFF)),
                                 pathZ.c_str()}};
    const uint16_t contentKey = kind == Kind::Cartridge ? 4 : 5;
    if (kind == Kind::SoftFont) {
        if (!secondZ.empty()) {
            fields.push_back({3, static_cast<uint16_t>(std::min<size_t>(secondZ.size() + 1, 0xFFFF)), secondZ.c_str()});
        }
        fields.push_back({4, 2, &value});
    } else if (value != 0) {
        fields.push_back({3, 2, &value});
    }
    if (content) {
        if (content->size() > 0xFFFF) return false;
        fields.push_back({contentKey, static_cast<uint16_t>(content->size()), content->data()});
    }
    if (pathZ.size() >= 0xFFFF || secondZ.size() >= 0xFFFF || PdRecordLength(fields) == 0) return false;
    PdDeleteFirst(list, [&](const PdList* l) { return PathIs(l, path); });
    return PdListAppend(list, static_cast<uint16_t>(fields.size()), fields.data()) == 1;
}

// Moves the older printer-data list "SoftFont" into the open file list; the
// value is emptied only once the file holding its entries was written.
// `held` is the list's printer already opened by its name, or null.
void MigrateSoftFontValue(PdList* file, HANDLE held) {
    const char* value = kSoftFontValue.name.data();
    PdListHolder old(held != nullptr ? PdListOpenOn(held, file->printerName.c_str(), value)
                                     : PdListOpen(file->printerName.c_str(), value));
    if (!old || !PdListFirst(old.get())) return;
    do {
        const std::string path(PdFieldText(old.get(), kPathKey).value_or(""));
        const std::string second(PdFieldText(old.get(), 3).value_or(""));
        AddFontRecord(file, Kind::SoftFont, path.c_str(), second.c_str(), PdFieldWord(old.get(), 4).value_or(0));
    } while (PdListNext(old.get()));
    if (!WriteListFile(file)) return;
    PdListClear(old.get());
    old.Close();
}

}  // namespace

std::string FileNameComponent(std::u16string_view printerName) {
    const size_t slash = printerName.find_last_of(u'\\');
    if (slash != std::u16string_view::npos) printerName.remove_prefix(slash + 1);
    std::string out = WideToAnsi(printerName.substr(0, 63));
    for (char& c : out) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ||
                        c == '.' || c == '_' || c == '-';
        if (!ok) c = '_';
    }
    return out;
}

std::string FontFileName(HANDLE printer, std::string_view extension) {
    std::string file = "VFS_NONE";
    const auto pinfo = QueryInfo<PRINTER_INFO_2W>(GetPrinterLevel2, printer);
    if (!pinfo.empty()) {
        const auto* p = reinterpret_cast<const PRINTER_INFO_2W*>(pinfo.data());
        if (p->pPrinterName != nullptr && *p->pPrinterName != 0) file = "zel" + FileNameComponent(p->pPrinterName);
    }
    file += extension;
    const auto dinfo = QueryInfo<DRIVER_INFO_2W>(GetDriverLevel2, printer);
    if (dinfo.empty()) return file;
    const auto* d = reinterpret_cast<const DRIVER_INFO_2W*>(dinfo.data());
    if (d->pDriverPath == nullptr) return file;
    const std::string driverPath = WideToAnsi(d->pDriverPath);
    const size_t slash = driverPath.find_last_of('\\');
    if (slash == std::string::npos) return file;
    std::string full = driverPath.substr(0, slash + 1) + file;
    return full.size() < kFontFileNameCapacity ? full : file;
}

size_t GetPcmFileName(char* out, HANDLE printer) {
    return CopyBounded(FontFileName(printer, kPcmExtension), out, kFontFileNameCapacity);
}
size_t GetSoftFontFileName(char* out, HANDLE printer) {
    return CopyBounded(FontFileName(printer, kSoftFontExtension), out, kFontFileNameCapacity);
}

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::vector<uint8_t>> out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
        size_t done = 0;
        bool ok = true;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = n == 0;  // the file got shorter: what was read is all
                break;
            }
            done += static_cast<size_t>(n);
        }
        bytes.resize(done);
        if (ok) out = std::move(bytes);
    }
    ::close(fd);
    return out;
}

int LockFileDirectory(const std::filesystem::path& file) {
    const int fd = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    int rc;
    do rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ReplaceFileContents(const std::filesystem::path& file, std::span<const uint8_t> bytes) {
    std::string tmpl = file.string() + ".XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0644) == 0;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<size_t>(n);
    }
    ok = ok && zq::SyncIfDurable(fd);
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tmpl.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    if (!zq::DurableWrites()) return true;
    const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

PdList* PcmListOpen(const char* printerName, HANDLE printer) {
    return OpenListFile(printerName, printer, kPcmExtension);
}

namespace {
PdList* OpenSoftFontList(const char* printerName, HANDLE printer, HANDLE held) {
    PdList* list = OpenListFile(printerName, printer, kSoftFontExtension);
    if (list != nullptr) MigrateSoftFontValue(list, held);
    return list;
}
}  // namespace

PdList* SoftFontListOpen(const char* printerName, HANDLE printer) {
    return OpenSoftFontList(printerName, printer, nullptr);
}

BOOL PcmListSave(PdList* list, HANDLE) { return SaveListFile(list); }
BOOL SoftFontListSave(PdList* list, HANDLE) { return SaveListFile(list); }
int PcmGetFields(PdList* list, std::span<const uint8_t** const, 4> out) { return PdListGetFields(list, out); }
int SoftFontGetFields(PdList* list, std::span<const uint8_t** const, 5> out) { return PdListGetFields(list, out); }

namespace {

// `held` is the printer already open by the caller, or null to open it by
// its name for this edit.
template <class Edit>
BOOL EditList(const char* printerName, HANDLE held, bool cartridges, Edit edit) {
    std::optional<HeldPrinter> own;
    if (held == nullptr) held = own.emplace(printerName).get();
    PdList* list = cartridges ? PcmListOpen(printerName, held) : OpenSoftFontList(printerName, held, held);
    if (list == nullptr) return FALSE;
    if (!edit(list)) {
        PdListDiscard(list);
        return FALSE;
    }
    return SaveListFile(list);
}

BOOL AddCartridgeEntry(const char* printerName, HANDLE held, const char* path, uint16_t value) {
    if (!Named(path)) return FALSE;
    return EditList(printerName, held, true,
                    [&](PdList* l) { return AddFontRecord(l, Kind::Cartridge, path, nullptr, value); });
}

BOOL AddSoftFontEntry(const char* printerName, HANDLE held, const char* path, const char* second, uint16_t value) {
    if (!Named(path)) return FALSE;
    return EditList(printerName, held, false,
                    [&](PdList* l) { return AddFontRecord(l, Kind::SoftFont, path, second, value); });
}

}  // namespace

BOOL PcmAddEntry(const char* printerName, const char* path, uint16_t value) {
    return AddCartridgeEntry(printerName, nullptr, path, value);
}

BOOL SoftFontAddEntry(const char* printerName, const char* path, const char* second, uint16_t value) {
    return AddSoftFontEntry(printerName, nullptr, path, second, value);
}

namespace {

BOOL ClearList(const char* printerName, bool cartridges) {
    return EditList(printerName, nullptr, cartridges, [](PdList* l) {
        PdListClear(l);
        return true;
    });
}

}  // namespace

BOOL PcmListClear(const char* printerName) { return ClearList(printerName, true); }

BOOL SoftFontListClear(const char* printerName) { return ClearList(printerName, false); }

BOOL PcmDeleteEntry(const char* printerName, const char* path) {
    return EditList(printerName, nullptr, true, [&](PdList* l) {
        return PdDeleteFirst(l, [&](const PdList* c) { return !Named(path) || PathIs(c, path); });
    });
}

BOOL SoftFontDeleteEntry(const char* printerName, const char* path, const char* second) {
    return EditList(printerName, nullptr, false, [&](PdList* l) {
        return PdDeleteFirst(l, [&](const PdList* c) {
            if (!PathIs(c, Named(path) ? path : "")) return false;
            if (!Named(second)) return true;
            const auto s = PdFieldText(c, 3);
            return s && EqualsIgnoreCase(*s, second);
        });
    });
}

namespace {

BOOL DeleteListFile(HANDLE printer, const char* extension) {
    const auto host = MapPath(AnsiToWide(FontFileName(printer, extension)));
    if (!host) return FALSE;
    const int lock = LockFileDirectory(*host);
    if (lock < 0) return FALSE;
    const bool ok = ::unlink(host->c_str()) == 0;
    ::close(lock);
    return ok ? TRUE : FALSE;
}

}  // namespace

BOOL DeletePcmListFile(HANDLE printer) { return DeleteListFile(printer, kPcmExtension); }
BOOL DeleteSoftFontListFile(HANDLE printer) { return DeleteListFile(printer, kSoftFontExtension); }

int FontListEnumerate(const char* printerName, const FontListRequest& r, HANDLE printer) {
    for (void** o : {r.kinds, r.paths, r.seconds, r.values}) {
        if (o != nullptr) *o = nullptr;
    }
    std::vector<uint8_t> kinds, paths, seconds, values;
    int count = 0;
    for (const bool cartridges : {false, true}) {
        PdList* list = cartridges ? PcmListOpen(printerName, printer) : SoftFontListOpen(printerName, printer);
        if (list == nullptr) continue;
        if (PdListFirst(list)) {
            do {
                AppendWord(kinds, cartridges ? 2 : 1);
                AppendWord(kinds, 0);
                AppendWord(values, PdFieldWord(list, cartridges ? 3 : 4).value_or(0));
                AppendWord(values, 0);
                AppendText(paths, PdFieldText(list, kPathKey).value_or(""));
                AppendText(seconds, cartridges ? "" : PdFieldText(list, 3).value_or(""));
                ++count;
            } while (PdListNext(list));
        }
        SaveListFile(list);
    }
    if (count == 0) return 0;
    // Each word is followed by room for a 0, each text list by an empty text:
    // the last entry's trailing 0 is the end mark.
    paths.push_back(0);
    seconds.push_back(0);
    return PublishEnumeration(count, {{r.kinds, &kinds, 1024},
                                      {r.paths, &paths, 4096},
                                      {r.seconds, &seconds, 4096},
                                      {r.values, &values, 1024}});
}

int FontFeedbackRequest(const char* printerName, const FontRequest& r, HANDLE printer) {
    const uint16_t kind = r.kind != nullptr ? *r.kind : 0;
    const char* path = Named(r.path) ? r.path : nullptr;
    const char* second = Named(r.second) ? r.second : nullptr;
    const uint16_t value = r.value != nullptr ? *r.value : 0;
    switch (r.operation) {
    case 1:
        // Through the caller's printer when it has one open: a list of many
        // entries would otherwise open the printer by its name for each.
        if (kind == 1) return AddSoftFontEntry(printerName, printer, path, second, value) ? 1 : 0;
        if (kind == 2) return AddCartridgeEntry(printerName, printer, path, value) ? 1 : 0;
        return 0;
    case 2: {
        bool called = false;
        if (kind == 0 || kind == 1) {
            SoftFontDeleteEntry(printerName, path, second);
            called = true;
        }
        if (kind == 0 || kind == 2) {
            PcmDeleteEntry(printerName, path);
            called = true;
        }
        return called ? 1 : 0;
    }
    case 3: {
        for (const bool cartridges : {false, true}) {
            if (cartridges ? (kind != 0 && kind != 2) : (kind != 0 && kind != 1)) continue;
            if (cartridges && second != nullptr) continue;  // a cartridge has no second file
            PdList* list = cartridges ? PcmListOpen(printerName, printer) : SoftFontListOpen(printerName, printer);
            if (list == nullptr) continue;
            const uint16_t valueKey = cartridges ? 3 : 4;
            const bool found = PdFindFirst(list, [&](const PdList* c) {
                if (path != nullptr && !PathIs(c, path)) return false;
                if (second != nullptr) {
                    const auto s = PdFieldText(c, 3);
                    if (!s || !EqualsIgnoreCase(*s, second)) return false;
                }
                return value == 0 || PdFieldWord(c, valueKey) == value;
            });
            if (!found) {
                SaveListFile(list);
                continue;
            }
            int result = 1;
            if (r.path != nullptr && *r.path == '\0') {
                const auto v = PdFieldText(list, kPathKey);
                if (v) CopyBounded(*v, r.path, r.pathCapacity);
                else result = 0;
            }
            if (r.second != nullptr && *r.second == '\0') {
                const auto v = cartridges ? std::nullopt : PdFieldText(list, 3);
                if (v) CopyBounded(*v, r.second, r.secondCapacity);
                else result = 0;
            }
            if (r.value != nullptr && *r.value == 0) {
                const auto v = PdFieldWord(list, valueKey);
                if (v) *r.value = *v;
                else result = 0;
            }
            if (r.kind != nullptr && *r.kind == 0) *r.kind = cartridges ? 2 : 1;
            SaveListFile(list);
            return result;
        }
        return 0;
    }
    default:
        return 0;
    }
}

}  // namespace zq
