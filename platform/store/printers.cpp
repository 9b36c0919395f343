// Printers: opening, reading and changing their records, adding and
// deleting them, and enumerating them.
#include <unistd.h>

#include <filesystem>
#include <random>

#include "base/root.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

namespace {

struct HandleTable {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<PrinterHandle>> handles;
    uintptr_t next = 0x20000;
};
HandleTable& Handles() {
    static HandleTable* table = new HandleTable;
    return *table;
}

// A printer's record as the registry keeps it.
struct PrinterRecord {
    std::u16string name, share, port, driver, comment, location, sepFile, processor, datatype, parameters, guid;
    std::vector<BYTE> devmode;
    DWORD attributes = 0, priority = 1, defaultPriority = 0, startTime = 0, untilTime = 0, status = 0;
    DWORD dnsTimeout = 15000, txTimeout = 45000, jobs = 0;
};

std::u16string ServerOf(std::u16string_view name) {
    if (name.size() < 3 || name[0] != u'\\' || name[1] != u'\\') return {};
    auto end = name.find(u'\\', 2);
    return std::u16string(name.substr(0, end == std::u16string_view::npos ? name.size() : end));
}

PrinterRecord ReadRecord(Txn& txn, KeyId key) {
    PrinterRecord r;
    r.name = txn.String(key, u"Name");
    r.share = txn.String(key, u"Share Name");
    r.port = txn.String(key, u"Port");
    r.driver = txn.String(key, u"Printer Driver");
    r.comment = txn.String(key, u"Description");
    r.location = txn.String(key, u"Location");
    r.sepFile = txn.String(key, u"Separator File");
    r.processor = txn.String(key, u"Print Processor");
    r.datatype = txn.String(key, u"Datatype");
    r.parameters = txn.String(key, u"Parameters");
    r.guid = txn.String(key, u"ObjectGUID");
    if (auto dm = txn.Value(key, u"Default DevMode")) r.devmode = dm->data;
    r.attributes = txn.Number(key, u"Attributes");
    r.priority = txn.Number(key, u"Priority", 1);
    r.defaultPriority = txn.Number(key, u"Default Priority");
    r.startTime = txn.Number(key, u"StartTime");
    r.untilTime = txn.Number(key, u"UntilTime");
    r.status = txn.Number(key, u"Status");
    r.dnsTimeout = txn.Number(key, u"dnsTimeout", 15000);
    r.txTimeout = txn.Number(key, u"txTimeout", 45000);
    Stmt jobs(txn.Database(), "SELECT count(*) FROM jobs WHERE pfold=?");
    jobs.BindFolded(1, r.name);
    if (jobs.Step()) r.jobs = static_cast<DWORD>(jobs.Int(0));
    return r;
}

template <class Ch>
void FillInfo1(spool::PrinterInfo1<Ch>& rec, const PrinterRecord& r, Packer<Ch>& p) {
    rec.Flags = PRINTER_ENUM_ICON8;
    rec.pDescription = p.Str(r.name + u"," + r.driver + u"," + r.location);
    rec.pName = p.Str(r.name);
    rec.pComment = p.Str(r.comment);
}

template <class Ch>
void FillInfo2(spool::PrinterInfo2<Ch>& rec, const PrinterRecord& r, Packer<Ch>& p) {
    rec.pServerName = p.OptStr(ServerOf(r.name));
    rec.pPrinterName = p.Str(r.name);
    rec.pShareName = p.Str(r.share);
    rec.pPortName = p.Str(r.port);
    rec.pDriverName = p.Str(r.driver);
    rec.pComment = p.Str(r.comment);
    rec.pLocation = p.Str(r.location);
    rec.pDevMode = p.DevMode(r.devmode);
    rec.pSepFile = p.Str(r.sepFile);
    rec.pPrintProcessor = p.Str(r.processor);
    rec.pDatatype = p.Str(r.datatype);
    rec.pParameters = p.Str(r.parameters);
    rec.pSecurityDescriptor = nullptr;
    rec.Attributes = r.attributes;
    rec.Priority = r.priority;
    rec.DefaultPriority = r.defaultPriority;
    rec.StartTime = r.startTime;
    rec.UntilTime = r.untilTime;
    rec.Status = r.status;
    rec.cJobs = r.jobs;
    rec.AveragePPM = 0;
}

template <class Ch>
void FillInfo4(spool::PrinterInfo4<Ch>& rec, const PrinterRecord& r, Packer<Ch>& p) {
    rec.pPrinterName = p.Str(r.name);
    rec.pServerName = p.OptStr(ServerOf(r.name));
    rec.Attributes = r.attributes;
}

template <class Ch>
void FillInfo5(spool::PrinterInfo5<Ch>& rec, const PrinterRecord& r, Packer<Ch>& p) {
    rec.pPrinterName = p.Str(r.name);
    rec.pPortName = p.Str(r.port);
    rec.Attributes = r.attributes;
    rec.DeviceNotSelectedTimeout = r.dnsTimeout;
    rec.TransmissionRetryTimeout = r.txTimeout;
}

template <class Ch>
void FillInfo7(spool::PrinterInfo7<Ch>& rec, const PrinterRecord& r, Packer<Ch>& p) {
    bool published = (r.attributes & PRINTER_ATTRIBUTE_PUBLISHED) != 0;
    rec.pszObjectGUID = published ? p.OptStr(r.guid) : nullptr;
    rec.dwAction = published ? DSPRINT_PUBLISH : DSPRINT_UNPUBLISH;
}

template <class Ch>
BOOL PackPrinters(const std::vector<PrinterRecord>& list, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                  LPDWORD returned) {
    auto n = list.size();
    switch (level) {
    case 1:
        return PackRecords<spool::PrinterInfo1<Ch>, Ch>(n, buffer, size, needed, returned,
                                                        [&](auto& rec, size_t i, auto& p) { FillInfo1(rec, list[i], p); });
    case 2:
        return PackRecords<spool::PrinterInfo2<Ch>, Ch>(n, buffer, size, needed, returned,
                                                        [&](auto& rec, size_t i, auto& p) { FillInfo2(rec, list[i], p); });
    case 4:
        return PackRecords<spool::PrinterInfo4<Ch>, Ch>(n, buffer, size, needed, returned,
                                                        [&](auto& rec, size_t i, auto& p) { FillInfo4(rec, list[i], p); });
    case 5:
        return PackRecords<spool::PrinterInfo5<Ch>, Ch>(n, buffer, size, needed, returned,
                                                        [&](auto& rec, size_t i, auto& p) { FillInfo5(rec, list[i], p); });
    case 7:
        return PackRecords<spool::PrinterInfo7<Ch>, Ch>(n, buffer, size, needed, returned,
                                                        [&](auto& rec, size_t i, auto& p) { FillInfo7(rec, list[i], p); });
    default: return Fail(ERROR_INVALID_LEVEL);
    }
}

bool DriverInstalled(Txn& txn, std::u16string_view driver) {
    auto env = txn.Walk(txn.Database().Hklm(),
                        std::u16string(kEnvironmentsKey) + u"\\" + std::u16string(kDefaultEnvironment) + u"\\Drivers");
    if (!env) return false;
    for (auto& version : txn.Children(*env))
        if (txn.Child(version.id, driver)) return true;
    return false;
}

bool PortInstalled(Txn& txn, std::u16string_view port) {
    KeyId hklm = txn.Database().Hklm();
    if (auto ports = txn.Walk(hklm, kPortsKey); ports && txn.Value(*ports, port)) return true;
    if (auto monitors = txn.Walk(hklm, kMonitorsKey)) {
        for (auto& m : txn.Children(*monitors))
            if (auto ports = txn.Child(m.id, u"Ports"); ports && txn.Child(*ports, port)) return true;
    }
    return false;
}

bool ProcessorInstalled(Txn& txn, std::u16string_view processor) {
    auto procs = txn.Walk(txn.Database().Hklm(), std::u16string(kEnvironmentsKey) + u"\\" +
                                                    std::u16string(kDefaultEnvironment) + u"\\Print Processors");
    return procs && txn.Child(*procs, processor);
}

std::u16string NewGuid() {
    std::random_device rd;
    static constexpr char16_t hex[] = u"0123456789abcdef";
    std::u16string g = u"{";
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) g += u'-';
        g += hex[rd() & 15];
    }
    return g + u"}";
}

// The printer-level checks shared by AddPrinter and SetPrinter level 2.
DWORD CheckParts(Txn& txn, bool connection, std::u16string_view driver, std::u16string_view port,
                 std::u16string_view processor) {
    if (!DriverInstalled(txn, driver)) return ERROR_UNKNOWN_PRINTER_DRIVER;
    if (!connection && !PortInstalled(txn, port)) return ERROR_UNKNOWN_PORT;
    if (!ProcessorInstalled(txn, processor)) return ERROR_UNKNOWN_PRINTPROCESSOR;
    return ERROR_SUCCESS;
}

template <class Ch>
BOOL OpenPrinterT(const Ch* printerName, HANDLE* result, spool::PrinterDefaults<Ch>* defaults) {
    if (!result) return Fail(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::u16string name = In(printerName);
    return GuardBool([&]() -> BOOL {
        auto h = std::make_shared<PrinterHandle>();
        h->db = Db::Current();
        ACCESS_MASK asked = defaults ? defaults->DesiredAccess : 0;
        if (defaults) {
            h->devmode = InDevMode<Ch>(defaults->pDevMode);
            h->datatype = In(defaults->pDatatype);
        }
        bool serverName = name.empty() || (name.size() > 2 && name[0] == u'\\' && name[1] == u'\\' &&
                                           name.find(u'\\', 2) == std::u16string::npos);
        Txn txn(*h->db, Txn::Mode::Read);
        if (serverName) {
            h->server = true;
            h->name = name;
            h->access = asked ? asked : (SERVER_ACCESS_ENUMERATE | SERVER_ACCESS_ADMINISTER);
            *result = AddPrinterHandle(h);
            return TRUE;
        }
        auto printers = txn.Walk(h->db->Hklm(), kPrintersKey);
        auto key = printers ? txn.Child(*printers, PrinterKeyName(name)) : std::nullopt;
        if (!key) return Fail(ERROR_INVALID_PRINTER_NAME);
        bool readOnly = IsReadOnly(txn, *key);
        if (asked == 0) {
            // No rights asked: use, and administration where the printer allows it.
            h->access = PRINTER_ACCESS_USE | (readOnly ? 0 : PRINTER_ACCESS_ADMINISTER);
        } else {
            if (readOnly && (asked & (PRINTER_ACCESS_ADMINISTER | SERVER_ACCESS_ADMINISTER)))
                return Fail(ERROR_ACCESS_DENIED);
            h->access = asked;
        }
        h->key = *key;
        h->name = txn.String(*key, u"Name");
        *result = AddPrinterHandle(h);
        return TRUE;
    });
}

template <class Ch>
BOOL GetPrinterT(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    return GuardBool([&]() -> BOOL {
        std::vector<PrinterRecord> list;
        auto read = [&]() -> bool {
            list.clear();
            Txn txn(*h->db, Txn::Mode::Read);
            auto key = LivePrinter(txn, *h);
            if (!key) return false;
            list.push_back(ReadRecord(txn, *key));
            return true;
        };
        if (!read()) return Fail(ERROR_INVALID_HANDLE);
        if (level != 1 && level != 2 && level != 4 && level != 5 && level != 7) return Fail(ERROR_INVALID_LEVEL);
        // A printer without a DEVMODE gets its driver's default, asked
        // outside every transaction of the store; a driver that has none is
        // not asked again through this handle (each ask loads the driver's
        // configuration file, and a print asks through one handle often).
        if (level == 2 && list[0].devmode.empty() && h->noDefaultFrom != list[0].driver) {
            const DWORD err = GetLastError();
            const DriverDefault asked = StoreDriverDefaultDevmode(printer);
            if (asked == DriverDefault::Stored && !read()) return Fail(ERROR_INVALID_HANDLE);
            if (asked == DriverDefault::NoDefault) h->noDefaultFrom = list[0].driver;
            SetLastError(err);
        }
        return PackPrinters<Ch>(list, level, buffer, size, needed, nullptr);
    });
}

template <class Ch>
BOOL SetPrinterT(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    if (level != 2 && level != 5 && level != 7) return Fail(level == 0 && command ? ERROR_INVALID_PRINTER_COMMAND
                                                                                  : ERROR_INVALID_LEVEL);
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    return GuardBool([&]() -> BOOL {
        Txn txn(*h->db, Txn::Mode::Write);
        auto key = LivePrinter(txn, *h);
        if (!key) return Fail(ERROR_INVALID_HANDLE);
        if (!MayAdminister(*h) || IsReadOnly(txn, *key)) return Fail(ERROR_ACCESS_DENIED);
        DWORD attributes = txn.Number(*key, u"Attributes");
        constexpr DWORD kKept = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK | PRINTER_ATTRIBUTE_PUBLISHED;
        bool connection = (attributes & PRINTER_ATTRIBUTE_NETWORK) != 0;
        if (level == 2) {
            auto* p = reinterpret_cast<spool::PrinterInfo2<Ch>*>(info);
            std::u16string driver = p->pDriverName ? In(p->pDriverName) : txn.String(*key, u"Printer Driver");
            std::u16string port = p->pPortName ? In(p->pPortName) : txn.String(*key, u"Port");
            std::u16string proc = p->pPrintProcessor ? In(p->pPrintProcessor) : txn.String(*key, u"Print Processor");
            if (DWORD rc = CheckParts(txn, connection, driver, port, proc)) return Fail(rc);
            std::u16string newName = In(p->pPrinterName);
            if (!newName.empty() && !connection && !SameName(newName, h->name)) {
                if (newName.find_first_of(u",\\") != std::u16string::npos) return Fail(ERROR_INVALID_PRINTER_NAME);
                auto printers = txn.Walk(h->db->Hklm(), kPrintersKey);
                if (txn.Child(*printers, newName)) return Fail(ERROR_PRINTER_ALREADY_EXISTS);
                txn.Rename(*key, newName);
                txn.SetString(*key, u"Name", newName);
                h->name = newName;
            }
            auto set = [&](std::u16string_view value, const Ch* s) {
                if (s) txn.SetString(*key, value, In(s));
            };
            set(u"Share Name", p->pShareName);
            txn.SetString(*key, u"Port", port);
            txn.SetString(*key, u"Printer Driver", driver);
            set(u"Description", p->pComment);
            set(u"Location", p->pLocation);
            set(u"Separator File", p->pSepFile);
            txn.SetString(*key, u"Print Processor", proc);
            set(u"Datatype", p->pDatatype);
            set(u"Parameters", p->pParameters);
            if (p->pDevMode) {
                auto dm = InDevMode<Ch>(p->pDevMode);
                txn.SetValue(*key, u"Default DevMode", REG_BINARY, dm);
            }
            txn.SetNumber(*key, u"Attributes", (p->Attributes & ~kKept) | (attributes & kKept));
            txn.SetNumber(*key, u"Priority", p->Priority);
            txn.SetNumber(*key, u"Default Priority", p->DefaultPriority);
            txn.SetNumber(*key, u"StartTime", p->StartTime);
            txn.SetNumber(*key, u"UntilTime", p->UntilTime);
        } else if (level == 5) {
            auto* p = reinterpret_cast<spool::PrinterInfo5<Ch>*>(info);
            if (p->pPortName) {
                std::u16string port = In(p->pPortName);
                if (!connection && !PortInstalled(txn, port)) return Fail(ERROR_UNKNOWN_PORT);
                txn.SetString(*key, u"Port", port);
            }
            txn.SetNumber(*key, u"Attributes", (p->Attributes & ~kKept) | (attributes & kKept));
            txn.SetNumber(*key, u"dnsTimeout", p->DeviceNotSelectedTimeout);
            txn.SetNumber(*key, u"txTimeout", p->TransmissionRetryTimeout);
        } else {
            auto* p = reinterpret_cast<spool::PrinterInfo7<Ch>*>(info);
            DWORD action = p->dwAction & ~DSPRINT_PENDING;
            if (action == DSPRINT_PUBLISH || action == DSPRINT_REPUBLISH ||
                (action == DSPRINT_UPDATE && (attributes & PRINTER_ATTRIBUTE_PUBLISHED))) {
                if (txn.String(*key, u"ObjectGUID").empty() || action == DSPRINT_REPUBLISH)
                    txn.SetString(*key, u"ObjectGUID", NewGuid());
                txn.SetNumber(*key, u"Attributes", attributes | PRINTER_ATTRIBUTE_PUBLISHED);
            } else if (action == DSPRINT_UNPUBLISH) {
                txn.DeleteValue(*key, u"ObjectGUID");
                txn.SetNumber(*key, u"Attributes", attributes & ~PRINTER_ATTRIBUTE_PUBLISHED);
            } else if (action == DSPRINT_UPDATE) {
                // Nothing published to update: the directory has no such object.
                return Fail(ERROR_FILE_NOT_FOUND);
            } else {
                return Fail(ERROR_INVALID_PARAMETER);
            }
        }
        txn.Commit();
        return TRUE;
    });
}

template <class Ch>
BOOL EnumPrintersT(DWORD flags, const Ch* name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned) {
    if (level != 1 && level != 2 && level != 4 && level != 5) return Fail(ERROR_INVALID_LEVEL);
    std::u16string server = In(name);
    return GuardBool([&]() -> BOOL {
        std::vector<PrinterRecord> list;
        {
            auto db = Db::Current();
            Txn txn(*db, Txn::Mode::Read);
            auto printers = txn.Walk(db->Hklm(), kPrintersKey);
            bool wantLocal = flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME);
            bool wantConnections = flags & PRINTER_ENUM_CONNECTIONS;
            if (printers) {
                for (auto& k : txn.Children(*printers)) {
                    PrinterRecord r = ReadRecord(txn, k.id);
                    bool connection = (r.attributes & PRINTER_ATTRIBUTE_NETWORK) != 0;
                    bool take = false;
                    if ((flags & PRINTER_ENUM_NAME) && !server.empty())
                        take = connection && SameName(ServerOf(r.name), server);
                    else
                        take = connection ? wantConnections : wantLocal;
                    if (take) list.push_back(std::move(r));
                }
            }
        }
        return PackPrinters<Ch>(list, level, buffer, size, needed, returned);
    });
}

template <class Ch>
HANDLE AddPrinterT(const Ch* serverName, DWORD level, LPBYTE info) {
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* p = reinterpret_cast<spool::PrinterInfo2<Ch>*>(info);
    std::u16string server = In(serverName);
    if (server.empty() && p->pServerName) server = In(p->pServerName);
    std::u16string base = In(p->pPrinterName);
    bool connection = !server.empty();
    HANDLE out = nullptr;
    GuardBool([&]() -> BOOL {
        if (base.empty() || base.find_first_of(u",\\") != std::u16string::npos)
            return Fail(ERROR_INVALID_PRINTER_NAME);
        if (connection && (server.size() < 3 || server[0] != u'\\' || server[1] != u'\\' ||
                           server.find_first_of(u",\\", 2) != std::u16string::npos))
            return Fail(ERROR_INVALID_PRINTER_NAME);
        std::u16string name = connection ? server + u"\\" + base : base;
        std::u16string proc = p->pPrintProcessor && *p->pPrintProcessor ? In(p->pPrintProcessor) : u"WinPrint";
        std::u16string datatype = p->pDatatype && *p->pDatatype ? In(p->pDatatype) : u"RAW";
        std::u16string driver = In(p->pDriverName);
        std::u16string port = In(p->pPortName);
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        KeyId printers = txn.WalkCreate(db->Hklm(), kPrintersKey);
        if (txn.Child(printers, PrinterKeyName(name))) return Fail(ERROR_PRINTER_ALREADY_EXISTS);
        if (DWORD rc = CheckParts(txn, connection, driver, port, proc)) return Fail(rc);
        KeyId key = txn.CreateChild(printers, PrinterKeyName(name));
        txn.SetString(key, u"Name", name);
        txn.SetString(key, u"Share Name", In(p->pShareName));
        txn.SetString(key, u"Port", port);
        txn.SetString(key, u"Printer Driver", driver);
        txn.SetString(key, u"Description", In(p->pComment));
        txn.SetString(key, u"Location", In(p->pLocation));
        txn.SetString(key, u"Separator File", In(p->pSepFile));
        txn.SetString(key, u"Print Processor", proc);
        txn.SetString(key, u"Datatype", datatype);
        txn.SetString(key, u"Parameters", In(p->pParameters));
        auto dm = InDevMode<Ch>(p->pDevMode);
        if (!dm.empty()) txn.SetValue(key, u"Default DevMode", REG_BINARY, dm);
        DWORD attributes = p->Attributes & ~(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_NETWORK |
                                             PRINTER_ATTRIBUTE_PUBLISHED);
        txn.SetNumber(key, u"Attributes",
                      attributes | (connection ? PRINTER_ATTRIBUTE_NETWORK : PRINTER_ATTRIBUTE_LOCAL));
        txn.SetNumber(key, u"Priority", p->Priority ? p->Priority : 1);
        txn.SetNumber(key, u"Default Priority", p->DefaultPriority);
        txn.SetNumber(key, u"StartTime", p->StartTime);
        txn.SetNumber(key, u"UntilTime", p->UntilTime);
        txn.SetNumber(key, u"Status", 0);
        txn.CreateChild(key, kPrinterDataKey);
        txn.Commit();
        auto h = std::make_shared<PrinterHandle>();
        h->db = db;
        h->key = key;
        h->name = name;
        h->access = PRINTER_ALL_ACCESS;
        out = AddPrinterHandle(h);
        return TRUE;
    });
    // Without a DEVMODE of its own the printer takes its driver's default,
    // once the printer is in place; no default leaves it without one.
    if (out != nullptr && p->pDevMode == nullptr) {
        const DWORD err = GetLastError();
        StoreDriverDefaultDevmode(out);
        SetLastError(err);
    }
    return out;
}

}  // namespace

HANDLE AddPrinterHandle(std::shared_ptr<PrinterHandle> handle) {
    auto& t = Handles();
    std::lock_guard lock(t.lock);
    uintptr_t token = t.next;
    t.next += 4;
    t.handles.emplace(token, std::move(handle));
    return reinterpret_cast<HANDLE>(token);
}

std::shared_ptr<PrinterHandle> FindPrinterHandle(HANDLE handle) {
    auto& t = Handles();
    std::lock_guard lock(t.lock);
    auto it = t.handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.handles.end() ? nullptr : it->second;
}

bool RemovePrinterHandle(HANDLE handle) {
    auto& t = Handles();
    std::lock_guard lock(t.lock);
    return t.handles.erase(reinterpret_cast<uintptr_t>(handle)) > 0;
}

std::optional<KeyId> LivePrinter(Txn& txn, const PrinterHandle& h) {
    if (h.server || !txn.KeyExists(h.key)) return std::nullopt;
    return h.key;
}

bool IsReadOnly(Txn& txn, KeyId printer) { return txn.Number(printer, u"Read Only") != 0; }

bool MayAdminister(const PrinterHandle& h) {
    return (h.access & (h.server ? SERVER_ACCESS_ADMINISTER : PRINTER_ACCESS_ADMINISTER)) != 0;
}

std::u16string PrinterKeyName(std::u16string_view printer) {
    std::u16string key(printer);
    for (auto& c : key)
        if (c == u'\\') c = u',';
    return key;
}

std::optional<std::u16string> EnvironmentDirectory(std::u16string_view environment) {
    if (environment.empty() || SameName(environment, kDefaultEnvironment)) return u"w32x86";
    if (SameName(environment, u"Windows 4.0")) return u"win40";
    return std::nullopt;
}

std::u16string EnvironmentName(std::u16string_view environment) {
    if (environment.empty() || SameName(environment, kDefaultEnvironment)) return std::u16string(kDefaultEnvironment);
    return u"Windows 4.0";
}

std::u16string SpoolPath(std::u16string_view relative) {
    // The Windows directory is C:\WINDOWS, on the root's c/windows.
    std::u16string lower = Fold(relative);
    for (auto& c : lower) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    std::filesystem::path dir = zq::SystemRoot() / "c" / "windows" / "system32" / "spool";
    std::string rel = ToUtf8(lower);
    for (auto& c : rel)
        if (c == '\\') c = '/';
    std::error_code ec;
    std::filesystem::create_directories(dir / rel, ec);
    return std::u16string(kSpoolDir) + u"\\" + std::u16string(relative);
}

std::vector<BYTE> DevModeWToA(std::span<const BYTE> wide) {
    if (wide.size() < 220) return {};
    DEVMODEW w;
    std::memcpy(&w, wide.data(), sizeof w);
    size_t publicSize = std::min<size_t>(w.dmSize, wide.size());
    size_t extra = std::min<size_t>(w.dmDriverExtra, wide.size() - publicSize);
    std::vector<BYTE> out(publicSize - 64 + extra, 0);
    auto narrow = [&](const WCHAR* s, BYTE* d) {
        std::u16string t;
        for (int i = 0; i < 32 && s[i]; ++i) t.push_back(s[i]);
        std::string n = WideToAnsi(t);
        std::memcpy(d, n.data(), std::min<size_t>(n.size(), 31));
    };
    narrow(w.dmDeviceName, out.data());
    std::memcpy(out.data() + 32, wide.data() + 64, 38);
    narrow(w.dmFormName, out.data() + 70);
    std::memcpy(out.data() + 102, wide.data() + 166, publicSize - 166 + extra);
    DEVMODEA* a = reinterpret_cast<DEVMODEA*>(out.data());
    WORD size = static_cast<WORD>(publicSize - 64);
    std::memcpy(&a->dmSize, &size, 2);
    return out;
}

std::vector<BYTE> DevModeAToW(std::span<const BYTE> narrow) {
    if (narrow.size() < 156) return {};
    DEVMODEA a;
    std::memcpy(&a, narrow.data(), sizeof a);
    size_t publicSize = std::min<size_t>(a.dmSize, narrow.size());
    size_t extra = std::min<size_t>(a.dmDriverExtra, narrow.size() - publicSize);
    std::vector<BYTE> out(publicSize + 64 + extra, 0);
    auto widen = [&](const BYTE* s, BYTE* d) {
        std::string t;
        for (int i = 0; i < 32 && s[i]; ++i) t.push_back(static_cast<char>(s[i]));
        std::u16string w = AnsiToWide(t);
        std::memcpy(d, w.data(), std::min<size_t>(w.size(), 31) * 2);
    };
    widen(a.dmDeviceName, out.data());
    std::memcpy(out.data() + 64, narrow.data() + 32, 38);
    widen(a.dmFormName, out.data() + 102);
    std::memcpy(out.data() + 166, narrow.data() + 102, publicSize - 102 + extra);
    WORD size = static_cast<WORD>(publicSize + 64);
    std::memcpy(out.data() + offsetof(DEVMODEW, dmSize), &size, 2);
    return out;
}

bool SetPrinterReadOnly(std::u16string_view printer, bool readOnly) {
    try {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        auto printers = txn.Walk(db->Hklm(), kPrintersKey);
        auto key = printers ? txn.Child(*printers, PrinterKeyName(printer)) : std::nullopt;
        if (!key) return false;
        if (readOnly)
            txn.SetNumber(*key, u"Read Only", 1);
        else
            txn.DeleteValue(*key, u"Read Only");
        txn.Commit();
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

}  // namespace zq::store

using namespace zq::store;

extern "C" {

BOOL OpenPrinterW(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults) {
    return OpenPrinterT(printerName, printer, defaults);
}
BOOL OpenPrinterA(LPSTR printerName, HANDLE* printer, PRINTER_DEFAULTSA* defaults) {
    return OpenPrinterT(printerName, printer, defaults);
}

BOOL ClosePrinter(HANDLE printer) {
    auto h = FindPrinterHandle(printer);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (h->job) FinishJob(*h);
    RemovePrinterHandle(printer);
    return TRUE;
}

BOOL GetPrinterW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterT<WCHAR>(printer, level, buffer, size, needed);
}
BOOL GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetPrinterT<CHAR>(printer, level, buffer, size, needed);
}
BOOL SetPrinterW(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    return SetPrinterT<WCHAR>(printer, level, info, command);
}
BOOL SetPrinterA(HANDLE printer, DWORD level, LPBYTE info, DWORD command) {
    return SetPrinterT<CHAR>(printer, level, info, command);
}
BOOL EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned) {
    return EnumPrintersT(flags, name, level, buffer, size, needed, returned);
}
BOOL EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                   LPDWORD returned) {
    return EnumPrintersT(flags, name, level, buffer, size, needed, returned);
}
HANDLE AddPrinterW(LPWSTR serverName, DWORD level, LPBYTE info) { return AddPrinterT(serverName, level, info); }
HANDLE AddPrinterA(LPSTR serverName, DWORD level, LPBYTE info) { return AddPrinterT(serverName, level, info); }

BOOL DeletePrinter(HANDLE printer) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    return GuardBool([&]() -> BOOL {
        std::vector<DWORD> jobs;
        {
            Txn txn(*h->db, Txn::Mode::Write);
            auto key = LivePrinter(txn, *h);
            if (!key) return Fail(ERROR_INVALID_HANDLE);
            if (!MayAdminister(*h) || IsReadOnly(txn, *key)) return Fail(ERROR_ACCESS_DENIED);
            {
                Stmt s(*h->db, "SELECT id FROM jobs WHERE pfold=?");
                s.BindFolded(1, h->name);
                while (s.Step()) jobs.push_back(static_cast<DWORD>(s.Int(0)));
            }
            Stmt d(*h->db, "DELETE FROM jobs WHERE pfold=?");
            d.BindFolded(1, h->name);
            d.Step();
            txn.DeleteTree(*key);
            txn.Commit();
        }
        std::error_code ec;
        for (DWORD id : jobs)
            if (id != h->job) std::filesystem::remove(JobFile(id), ec);
        return TRUE;
    });
}

}  // extern "C"
