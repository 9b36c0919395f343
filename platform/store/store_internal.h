// What the spooler's files share: where things live in the registry, the
// printer handle table, and the packing of records into callers' buffers.
#pragma once

#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "base/error.h"
#include "base/spool_types.h"
#include "database.h"
#include "store/registry.h"
#include "wide.h"

namespace zq::store {

inline constexpr std::u16string_view kPrintKey = u"SYSTEM\\CurrentControlSet\\Control\\Print";
inline constexpr std::u16string_view kPrintersKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
inline constexpr std::u16string_view kFormsKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Forms";
inline constexpr std::u16string_view kMonitorsKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors";
inline constexpr std::u16string_view kEnvironmentsKey = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments";
inline constexpr std::u16string_view kPortsKey = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Ports";
inline constexpr std::u16string_view kDefaultEnvironment = u"Windows NT x86";
inline constexpr std::u16string_view kPrinterDataKey = u"PrinterDriverData";
inline constexpr std::u16string_view kLocalMonitor = u"Local Port";
inline constexpr std::u16string_view kSpoolDir = u"C:\\WINDOWS\\system32\\spool";

// The spooler's subfolder of an environment ("W32X86"), nullopt when the
// environment is unknown; a null or empty name is the default environment.
std::optional<std::u16string> EnvironmentDirectory(std::u16string_view environment);
std::u16string EnvironmentName(std::u16string_view environment);
// A Windows path below C:\WINDOWS\system32\spool, made on the Linux side too.
std::u16string SpoolPath(std::u16string_view relative);

// The key of a printer: backslashes of a connection name become commas.
std::u16string PrinterKeyName(std::u16string_view printer);

// An open printer (or the print server, when `server`).
struct PrinterHandle {
    std::shared_ptr<Db> db;
    bool server = false;
    KeyId key = 0;
    std::u16string name;
    ACCESS_MASK access = 0;
    std::vector<BYTE> devmode;  // from the open's defaults, wide form
    // The driver that gave the printer no default DEVMODE when this handle
    // asked: not asked again while the printer keeps it.
    std::optional<std::u16string> noDefaultFrom;
    std::u16string datatype;
    // The job this handle is writing, if any.
    DWORD job = 0;
    int jobFile = -1;
    uint64_t jobBytes = 0;
    DWORD jobError = 0;       // the first failed write's error; the job takes no more
    bool jobPrinting = false;  // bytes have reached the port
    bool jobPlayed = false;    // a metafile job, printed by playing it later
    // Printer data seen at change counter `cacheSerial`; a miss is cached too.
    int64_t cacheSerial = -1;
    std::unordered_map<std::u16string, std::optional<StoredValue>> cache;
};

HANDLE AddPrinterHandle(std::shared_ptr<PrinterHandle> handle);
std::shared_ptr<PrinterHandle> FindPrinterHandle(HANDLE handle);
bool RemovePrinterHandle(HANDLE handle);

// The printer's key if it still exists (nullopt for a deleted printer or a
// server handle).
std::optional<KeyId> LivePrinter(Txn& txn, const PrinterHandle& h);
bool IsReadOnly(Txn& txn, KeyId printer);
bool MayAdminister(const PrinterHandle& h);
// Ends the handle's job (EndDocPrinter); false with the job's error when a
// write of it failed.
bool FinishJob(PrinterHandle& h);
// The error of a failed spool-file call, from its errno.
DWORD SpoolFileError(int err);

// Strings of input records, in either character set.
template <class Ch>
std::u16string In(const Ch* s) {
    if constexpr (std::is_same_v<Ch, CHAR>)
        return AnsiToWide(View(s));
    else
        return std::u16string(View(s));
}
template <class Ch>
std::vector<std::u16string> InMulti(const Ch* s) {
    std::vector<std::u16string> out;
    if (!s) return out;
    while (*s) {
        out.push_back(In(s));
        while (*s) ++s;
        ++s;
    }
    return out;
}

// Stores the interface driver's default DEVMODE (DrvConvertDevMode's
// CDM_DRIVER_DEFAULT) for a printer that has none, in a transaction of its
// own after the driver answered. NoDefault: the configuration file does not
// load or answers nothing (it will answer the same while the printer keeps
// its driver); NotNow: a default is being fetched already, or the printer
// has one by now, or the store failed.
enum class DriverDefault { Stored, NoDefault, NotNow };
DriverDefault StoreDriverDefaultDevmode(HANDLE printer);

// DEVMODE between its wide form (as stored) and its ANSI form.
std::vector<BYTE> DevModeWToA(std::span<const BYTE> wide);
std::vector<BYTE> DevModeAToW(std::span<const BYTE> narrow);
template <class Ch>
std::vector<BYTE> InDevMode(const spool::DevMode<Ch>* dm) {
    if (!dm) return {};
    const BYTE* p = reinterpret_cast<const BYTE*>(dm);
    size_t n = static_cast<size_t>(dm->dmSize) + dm->dmDriverExtra;
    if constexpr (std::is_same_v<Ch, CHAR>)
        return DevModeAToW(std::span<const BYTE>(p, n));
    else
        return std::vector<BYTE>(p, p + n);
}

// Lays out records at the start of a caller's buffer and their strings
// behind them. Run once to measure (write false), once to fill.
template <class Ch>
class Packer {
public:
    Packer(LPBYTE buffer, size_t fixedBytes, bool write) : buffer_(buffer), used_(fixedBytes), write_(write) {}
    Ch* Str(std::u16string_view s) {
        if constexpr (std::is_same_v<Ch, CHAR>) {
            std::string n = WideToAnsi(s);
            return static_cast<Ch*>(Put(n.data(), n.size(), 1, 1));
        } else {
            return static_cast<Ch*>(Put(s.data(), s.size() * 2, 2, 2));
        }
    }
    Ch* OptStr(std::u16string_view s) { return s.empty() ? nullptr : Str(s); }
    Ch* Multi(const std::vector<std::u16string>& list) {
        std::u16string joined;
        for (auto& s : list) {
            joined += s;
            joined.push_back(0);
        }
        if constexpr (std::is_same_v<Ch, CHAR>) {
            std::string n = WideToAnsi(joined);
            return static_cast<Ch*>(Put(n.data(), n.size(), 1, 1));
        } else {
            return static_cast<Ch*>(Put(joined.data(), joined.size() * 2, 2, 2));
        }
    }
    LPBYTE Bytes(std::span<const BYTE> data) { return static_cast<LPBYTE>(Put(data.data(), data.size(), 0, 8)); }
    spool::DevMode<Ch>* DevMode(std::span<const BYTE> wide) {
        if (wide.empty()) return nullptr;
        if constexpr (std::is_same_v<Ch, CHAR>) {
            auto n = DevModeWToA(wide);
            return static_cast<spool::DevMode<Ch>*>(Put(n.data(), n.size(), 0, 8));
        } else {
            return static_cast<spool::DevMode<Ch>*>(Put(wide.data(), wide.size(), 0, 8));
        }
    }
    size_t Used() const { return used_; }

private:
    // `terminator` bytes of zero follow the data.
    void* Put(const void* data, size_t bytes, size_t terminator, size_t align) {
        used_ = (used_ + align - 1) / align * align;
        void* at = write_ ? buffer_ + used_ : nullptr;
        if (write_) {
            if (bytes) std::memcpy(at, data, bytes);
            std::memset(buffer_ + used_ + bytes, 0, terminator);
        }
        used_ += bytes + terminator;
        return at;
    }
    LPBYTE buffer_;
    size_t used_;
    bool write_;
};

// The two-call protocol of the spooler's Get and Enum calls: the size lands
// in *needed; a missing or short buffer fails with ERROR_INSUFFICIENT_BUFFER,
// unless there is nothing to return.
template <class Rec, class Ch, class Fill>
BOOL PackRecords(size_t count, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned, Fill&& fill) {
    if (!needed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (returned) *returned = 0;
    Packer<Ch> measure(nullptr, count * sizeof(Rec), false);
    for (size_t i = 0; i < count; ++i) {
        Rec rec{};
        fill(rec, i, measure);
    }
    *needed = static_cast<DWORD>(measure.Used());
    // An empty list needs no buffer: the call succeeds with no records.
    if (measure.Used() > 0 && (!buffer || size < measure.Used())) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    Packer<Ch> pack(buffer, count * sizeof(Rec), true);
    for (size_t i = 0; i < count; ++i) {
        Rec rec{};
        fill(rec, i, pack);
        std::memcpy(buffer + i * sizeof(Rec), &rec, sizeof(Rec));
    }
    if (returned) *returned = static_cast<DWORD>(count);
    return TRUE;
}

// Runs a BOOL call; a failure of the database becomes FALSE with an error.
template <class F>
BOOL GuardBool(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const StoreError& e) {
        SetLastError(NoteStoreFailure(e, ERROR_CANTWRITE));
    }
    return FALSE;
}
template <class F>
DWORD GuardCode(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const StoreError& e) {
        return NoteStoreFailure(e, ERROR_CANTWRITE);
    }
}

inline BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

std::u16string LocalComputerName();

}  // namespace zq::store
