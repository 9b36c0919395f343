// Printer drivers: one key per driver under its environment and version,
// holding file names; the calls answer full paths in the version's folder of
// the driver directory.
#include <algorithm>

#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

namespace {

struct DriverRecord {
    DWORD version = 3;
    std::u16string name, environment, driver, data, config, help, monitor, datatype, mfg, url, hardwareId, provider;
    std::vector<std::u16string> dependent, previous;
    FILETIME date{};
    DWORDLONG driverVersion = 0;
};

std::u16string BaseName(std::u16string_view path) {
    auto cut = path.find_last_of(u"\\/");
    return std::u16string(cut == std::u16string_view::npos ? path : path.substr(cut + 1));
}

std::u16string DriversPath(std::u16string_view environment) {
    return std::u16string(kEnvironmentsKey) + u"\\" + EnvironmentName(environment) + u"\\Drivers";
}

std::vector<std::u16string> MultiOf(const std::optional<StoredValue>& v) {
    std::vector<std::u16string> out;
    if (!v) return out;
    std::u16string cur;
    for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8));
        if (c) {
            cur.push_back(c);
        } else {
            if (cur.empty()) break;
            out.push_back(cur);
            cur.clear();
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

std::vector<BYTE> MultiBytes(const std::vector<std::u16string>& list) {
    std::u16string joined;
    for (auto& s : list) {
        joined += s;
        joined.push_back(0);
    }
    joined.push_back(0);
    return ToBytes(joined, false);
}

DriverRecord ReadDriver(Txn& txn, KeyId key, DWORD version, std::u16string_view environment) {
    DriverRecord r;
    r.version = version;
    r.name = txn.Key(key)->name;
    r.environment = EnvironmentName(environment);
    r.driver = txn.String(key, u"Driver");
    r.data = txn.String(key, u"Data File");
    r.config = txn.String(key, u"Configuration File");
    r.help = txn.String(key, u"Help File");
    r.monitor = txn.String(key, u"Monitor");
    r.datatype = txn.String(key, u"Datatype");
    r.mfg = txn.String(key, u"Manufacturer");
    r.url = txn.String(key, u"OEM Url");
    r.hardwareId = txn.String(key, u"HardwareID");
    r.provider = txn.String(key, u"Provider");
    r.dependent = MultiOf(txn.Value(key, u"Dependent Files"));
    r.previous = MultiOf(txn.Value(key, u"Previous Names"));
    if (auto d = txn.Value(key, u"DriverDate"); d && d->data.size() == 8) std::memcpy(&r.date, d->data.data(), 8);
    if (auto d = txn.Value(key, u"DriverVersion"); d && d->data.size() == 8)
        std::memcpy(&r.driverVersion, d->data.data(), 8);
    return r;
}

// All drivers of an environment, newest version first within a name.
std::vector<DriverRecord> ReadDrivers(Txn& txn, std::u16string_view environment) {
    std::vector<DriverRecord> out;
    auto drivers = txn.Walk(txn.Database().Hklm(), DriversPath(environment));
    if (!drivers) return out;
    auto versions = txn.Children(*drivers);
    std::sort(versions.begin(), versions.end(), [](auto& a, auto& b) { return a.name > b.name; });
    for (auto& v : versions) {
        if (v.name.rfind(u"Version-", 0) != 0) continue;
        DWORD number = 0;
        for (char16_t c : v.name.substr(8)) number = number * 10 + (c - u'0');
        for (auto& d : txn.Children(v.id)) out.push_back(ReadDriver(txn, d.id, number, environment));
    }
    return out;
}

template <class Ch>
BOOL PackDrivers(const std::vector<DriverRecord>& list, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                 LPDWORD returned) {
    auto full = [](const DriverRecord& r, const std::u16string& file) {
        if (file.empty()) return file;
        auto dir = EnvironmentDirectory(r.environment).value_or(u"w32x86");
        return std::u16string(kSpoolDir) + u"\\drivers\\" + dir + u"\\" +
               std::u16string(1, static_cast<char16_t>(u'0' + r.version % 10)) + u"\\" + file;
    };
    auto fillCommon = [&](auto& rec, const DriverRecord& r, auto& p) {
        rec.cVersion = r.version;
        rec.pName = p.Str(r.name);
        rec.pEnvironment = p.Str(r.environment);
        rec.pDriverPath = p.Str(full(r, r.driver));
        rec.pDataFile = p.Str(full(r, r.data));
        rec.pConfigFile = p.Str(full(r, r.config));
    };
    auto fill3 = [&](auto& rec, const DriverRecord& r, auto& p) {
        fillCommon(rec, r, p);
        rec.pHelpFile = p.Str(full(r, r.help));
        std::vector<std::u16string> deps;
        for (auto& f : r.dependent) deps.push_back(full(r, f));
        rec.pDependentFiles = p.Multi(deps);
        rec.pMonitorName = p.Str(r.monitor);
        rec.pDefaultDataType = p.Str(r.datatype);
    };
    size_t n = list.size();
    switch (level) {
    case 1:
        return PackRecords<spool::DriverInfo1<Ch>, Ch>(n, buffer, size, needed, returned,
                                                       [&](auto& rec, size_t i, auto& p) { rec.pName = p.Str(list[i].name); });
    case 2:
        return PackRecords<spool::DriverInfo2<Ch>, Ch>(n, buffer, size, needed, returned,
                                                       [&](auto& rec, size_t i, auto& p) { fillCommon(rec, list[i], p); });
    case 3:
        return PackRecords<spool::DriverInfo3<Ch>, Ch>(n, buffer, size, needed, returned,
                                                       [&](auto& rec, size_t i, auto& p) { fill3(rec, list[i], p); });
    case 6:
        return PackRecords<spool::DriverInfo6<Ch>, Ch>(n, buffer, size, needed, returned,
                                                       [&](auto& rec, size_t i, auto& p) {
                                                           const auto& r = list[i];
                                                           fill3(rec, r, p);
                                                           rec.pszzPreviousNames = p.Multi(r.previous);
                                                           rec.ftDriverDate = r.date;
                                                           rec.dwlDriverVersion = r.driverVersion;
                                                           rec.pszMfgName = p.Str(r.mfg);
                                                           rec.pszOEMUrl = p.Str(r.url);
                                                           rec.pszHardwareID = p.Str(r.hardwareId);
                                                           rec.pszProvider = p.Str(r.provider);
                                                       });
    default: return Fail(ERROR_INVALID_LEVEL);
    }
}

template <class Ch>
BOOL AddDriverT(DWORD level, LPBYTE info) {
    if (level != 2 && level != 3 && level != 6) return Fail(ERROR_INVALID_LEVEL);
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    auto* p2 = reinterpret_cast<spool::DriverInfo2<Ch>*>(info);
    DriverRecord r;
    r.version = p2->cVersion;
    r.name = In(p2->pName);
    r.environment = In(p2->pEnvironment);
    r.driver = BaseName(In(p2->pDriverPath));
    r.data = BaseName(In(p2->pDataFile));
    r.config = BaseName(In(p2->pConfigFile));
    if (r.name.empty() || r.driver.empty() || r.data.empty() || r.config.empty() || r.version > 9 ||
        r.name.find(u'\\') != std::u16string::npos)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!EnvironmentDirectory(r.environment)) return Fail(ERROR_INVALID_ENVIRONMENT);
    if (level >= 3) {
        auto* p3 = reinterpret_cast<spool::DriverInfo3<Ch>*>(info);
        r.help = BaseName(In(p3->pHelpFile));
        for (auto& f : InMulti(p3->pDependentFiles)) r.dependent.push_back(BaseName(f));
        r.monitor = In(p3->pMonitorName);
        r.datatype = In(p3->pDefaultDataType);
    }
    if (level == 6) {
        auto* p6 = reinterpret_cast<spool::DriverInfo6<Ch>*>(info);
        r.previous = InMulti(p6->pszzPreviousNames);
        r.date = p6->ftDriverDate;
        r.driverVersion = p6->dwlDriverVersion;
        r.mfg = In(p6->pszMfgName);
        r.url = In(p6->pszOEMUrl);
        r.hardwareId = In(p6->pszHardwareID);
        r.provider = In(p6->pszProvider);
    }
    return GuardBool([&]() -> BOOL {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        std::u16string versionKey = u"Version-" + std::u16string(1, static_cast<char16_t>(u'0' + r.version));
        KeyId key = txn.WalkCreate(db->Hklm(), DriversPath(r.environment) + u"\\" + versionKey + u"\\" + r.name);
        txn.SetNumber(key, u"Version", r.version);
        txn.SetString(key, u"Driver", r.driver);
        txn.SetString(key, u"Data File", r.data);
        txn.SetString(key, u"Configuration File", r.config);
        txn.SetString(key, u"Help File", r.help);
        txn.SetValue(key, u"Dependent Files", REG_MULTI_SZ, MultiBytes(r.dependent));
        txn.SetString(key, u"Monitor", r.monitor);
        txn.SetString(key, u"Datatype", r.datatype);
        if (level == 6) {
            txn.SetValue(key, u"Previous Names", REG_MULTI_SZ, MultiBytes(r.previous));
            BYTE date[8], ver[8];
            std::memcpy(date, &r.date, 8);
            std::memcpy(ver, &r.driverVersion, 8);
            txn.SetValue(key, u"DriverDate", REG_BINARY, date);
            txn.SetValue(key, u"DriverVersion", REG_BINARY, ver);
            txn.SetString(key, u"Manufacturer", r.mfg);
            txn.SetString(key, u"OEM Url", r.url);
            txn.SetString(key, u"HardwareID", r.hardwareId);
            txn.SetString(key, u"Provider", r.provider);
        }
        txn.Commit();
        SpoolPath(u"drivers\\" + *EnvironmentDirectory(r.environment) + u"\\" +
                  std::u16string(1, static_cast<char16_t>(u'0' + r.version)));
        return TRUE;
    });
}

template <class Ch>
BOOL GetDriverT(HANDLE printer, const Ch* environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return Fail(ERROR_INVALID_HANDLE);
    std::u16string env = In(environment);
    if (!EnvironmentDirectory(env)) return Fail(ERROR_INVALID_ENVIRONMENT);
    if (level != 1 && level != 2 && level != 3 && level != 6) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<DriverRecord> list;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            auto key = LivePrinter(txn, *h);
            if (!key) return Fail(ERROR_INVALID_HANDLE);
            std::u16string name = txn.String(*key, u"Printer Driver");
            for (auto& d : ReadDrivers(txn, env)) {
                if (SameName(d.name, name)) {
                    list.push_back(std::move(d));
                    break;
                }
            }
        }
        if (list.empty()) return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
        return PackDrivers<Ch>(list, level, buffer, size, needed, nullptr);
    });
}

template <class Ch>
BOOL EnumDriversT(const Ch* environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    std::u16string env = In(environment);
    if (!EnvironmentDirectory(env)) return Fail(ERROR_INVALID_ENVIRONMENT);
    if (level != 1 && level != 2 && level != 3 && level != 6) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<DriverRecord> list;
        {
            auto db = Db::Current();
            Txn txn(*db, Txn::Mode::Read);
            list = ReadDrivers(txn, env);
        }
        return PackDrivers<Ch>(list, level, buffer, size, needed, returned);
    });
}

template <class Ch>
BOOL DirectoryT(const Ch* environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, std::u16string_view sub) {
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    if (!needed) return Fail(ERROR_INVALID_PARAMETER);
    auto dir = EnvironmentDirectory(In(environment));
    if (!dir) return Fail(ERROR_INVALID_ENVIRONMENT);
    std::u16string path = SpoolPath(std::u16string(sub) + u"\\" + *dir);
    if constexpr (std::is_same_v<Ch, CHAR>) {
        std::string n = WideToAnsi(path);
        *needed = static_cast<DWORD>(n.size() + 1);
        if (!buffer || size < *needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(buffer, n.c_str(), n.size() + 1);
    } else {
        *needed = static_cast<DWORD>((path.size() + 1) * 2);
        if (!buffer || size < *needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(buffer, path.c_str(), *needed);
    }
    return TRUE;
}

}  // namespace

BOOL GetDirectoryW(LPCWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, std::u16string_view sub) {
    return DirectoryT(environment, level, buffer, size, needed, sub);
}
BOOL GetDirectoryA(LPCSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, std::u16string_view sub) {
    return DirectoryT(environment, level, buffer, size, needed, sub);
}

}  // namespace zq::store

using namespace zq::store;

extern "C" {

BOOL AddPrinterDriverW(LPWSTR, DWORD level, LPBYTE info) { return AddDriverT<WCHAR>(level, info); }
BOOL AddPrinterDriverA(LPSTR, DWORD level, LPBYTE info) { return AddDriverT<CHAR>(level, info); }
BOOL GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetDriverT(printer, environment, level, buffer, size, needed);
}
BOOL GetPrinterDriverA(HANDLE printer, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetDriverT(printer, environment, level, buffer, size, needed);
}
BOOL EnumPrinterDriversW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                         LPDWORD returned) {
    return EnumDriversT(environment, level, buffer, size, needed, returned);
}
BOOL EnumPrinterDriversA(LPSTR, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                         LPDWORD returned) {
    return EnumDriversT(environment, level, buffer, size, needed, returned);
}

BOOL DeletePrinterDriverW(LPWSTR, LPWSTR environment, LPWSTR driverName) {
    std::u16string env(View(environment));
    std::u16string name(View(driverName));
    if (!EnvironmentDirectory(env)) return Fail(ERROR_INVALID_ENVIRONMENT);
    return GuardBool([&]() -> BOOL {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        if (auto printers = txn.Walk(db->Hklm(), kPrintersKey)) {
            for (auto& p : txn.Children(*printers))
                if (SameName(txn.String(p.id, u"Printer Driver"), name)) return Fail(ERROR_PRINTER_DRIVER_IN_USE);
        }
        auto drivers = txn.Walk(db->Hklm(), DriversPath(env));
        bool found = false;
        if (drivers) {
            for (auto& v : txn.Children(*drivers)) {
                if (auto d = txn.Child(v.id, name)) {
                    txn.DeleteTree(*d);
                    found = true;
                }
            }
        }
        if (!found) return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
        txn.Commit();
        return TRUE;
    });
}

BOOL GetPrinterDriverDirectoryW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetDirectoryW(environment, level, buffer, size, needed, u"drivers");
}
BOOL GetPrinterDriverDirectoryA(LPSTR, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetDirectoryA(environment, level, buffer, size, needed, u"drivers");
}
BOOL GetPrintProcessorDirectoryW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
    return GetDirectoryW(environment, level, buffer, size, needed, u"prtprocs");
}
BOOL GetPrintProcessorDirectoryA(LPSTR, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetDirectoryA(environment, level, buffer, size, needed, u"prtprocs");
}

}  // extern "C"
