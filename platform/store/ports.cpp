// Ports, port monitors and print processors, and what a new spooler has of
// them.
#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

void SeedForms(Txn& txn);

namespace {

struct Port {
    std::u16string name, monitor;
};

std::u16string ProcessorsPath(std::u16string_view environment) {
    return std::u16string(kEnvironmentsKey) + u"\\" + EnvironmentName(environment) + u"\\Print Processors";
}

std::vector<Port> ReadPorts(Txn& txn) {
    std::vector<Port> out;
    KeyId hklm = txn.Database().Hklm();
    if (auto ports = txn.Walk(hklm, kPortsKey))
        for (auto& v : txn.Values(*ports)) out.push_back({v.name, std::u16string(kLocalMonitor)});
    if (auto monitors = txn.Walk(hklm, kMonitorsKey)) {
        for (auto& m : txn.Children(*monitors))
            if (auto ports = txn.Child(m.id, u"Ports"))
                for (auto& p : txn.Children(*ports)) out.push_back({p.name, m.name});
    }
    return out;
}

// Installs a monitor or a print processor: a key of its name under `parent`
// (made when missing) holding its library in "Driver"; `exists` is the error
// when one of that name is there already.
BOOL AddLibraryEntry(std::u16string_view parent, const std::u16string& name, const std::u16string& library,
                     DWORD exists) {
    return GuardBool([&]() -> BOOL {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        KeyId entries = txn.WalkCreate(db->Hklm(), parent);
        if (txn.Child(entries, name)) return Fail(exists);
        KeyId key = txn.CreateChild(entries, name);
        txn.SetString(key, u"Driver", library);
        txn.Commit();
        return TRUE;
    });
}

bool PortExists(Txn& txn, std::u16string_view name) {
    for (auto& p : ReadPorts(txn))
        if (SameName(p.name, name)) return true;
    return false;
}

template <class Ch>
BOOL EnumPortsT(DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (level != 1 && level != 2) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<Port> ports;
        {
            auto db = Db::Current();
            Txn txn(*db, Txn::Mode::Read);
            ports = ReadPorts(txn);
        }
        if (level == 1)
            return PackRecords<spool::PortInfo1<Ch>, Ch>(ports.size(), buffer, size, needed, returned,
                                                         [&](auto& rec, size_t i, auto& p) { rec.pName = p.Str(ports[i].name); });
        return PackRecords<spool::PortInfo2<Ch>, Ch>(ports.size(), buffer, size, needed, returned,
                                                     [&](auto& rec, size_t i, auto& p) {
                                                         rec.pPortName = p.Str(ports[i].name);
                                                         rec.pMonitorName = p.Str(ports[i].monitor);
                                                         rec.pDescription = p.Str(ports[i].monitor);
                                                         rec.fPortType = PORT_TYPE_WRITE | PORT_TYPE_READ;
                                                         rec.Reserved = 0;
                                                     });
    });
}

template <class Ch>
BOOL AddPortExT(DWORD level, LPBYTE info, const Ch* monitorName) {
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    std::u16string name = In(reinterpret_cast<spool::PortInfo1<Ch>*>(info)->pName);
    std::u16string monitor = In(monitorName);
    if (name.empty() || name.find(u'\\') != std::u16string::npos) return Fail(ERROR_INVALID_PARAMETER);
    return GuardBool([&]() -> BOOL {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        if (PortExists(txn, name)) return Fail(ERROR_ALREADY_EXISTS);
        if (monitor.empty() || SameName(monitor, kLocalMonitor)) {
            KeyId ports = txn.WalkCreate(db->Hklm(), kPortsKey);
            txn.SetString(ports, name, u"");
        } else {
            auto m = txn.Walk(db->Hklm(), std::u16string(kMonitorsKey) + u"\\" + monitor);
            if (!m) return Fail(ERROR_UNKNOWN_PRINT_MONITOR);
            txn.WalkCreate(*m, u"Ports\\" + name);
        }
        txn.Commit();
        return TRUE;
    });
}

template <class Ch>
BOOL AddMonitorT(DWORD level, LPBYTE info) {
    if (level != 2) return Fail(ERROR_INVALID_LEVEL);
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    auto* m = reinterpret_cast<spool::MonitorInfo2<Ch>*>(info);
    std::u16string name = In(m->pName), dll = In(m->pDLLName), env = In(m->pEnvironment);
    if (name.empty() || dll.empty() || name.find(u'\\') != std::u16string::npos) return Fail(ERROR_INVALID_PARAMETER);
    if (!EnvironmentDirectory(env)) return Fail(ERROR_INVALID_ENVIRONMENT);
    return AddLibraryEntry(kMonitorsKey, name, dll, ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
}

template <class Ch>
BOOL EnumMonitorsT(DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    if (level != 1 && level != 2) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<std::pair<std::u16string, std::u16string>> list;
        {
            auto db = Db::Current();
            Txn txn(*db, Txn::Mode::Read);
            if (auto monitors = txn.Walk(db->Hklm(), kMonitorsKey))
                for (auto& m : txn.Children(*monitors)) list.emplace_back(m.name, txn.String(m.id, u"Driver"));
        }
        if (level == 1)
            return PackRecords<spool::MonitorInfo1<Ch>, Ch>(list.size(), buffer, size, needed, returned,
                                                            [&](auto& rec, size_t i, auto& p) { rec.pName = p.Str(list[i].first); });
        return PackRecords<spool::MonitorInfo2<Ch>, Ch>(list.size(), buffer, size, needed, returned,
                                                        [&](auto& rec, size_t i, auto& p) {
                                                            rec.pName = p.Str(list[i].first);
                                                            rec.pEnvironment = p.Str(kDefaultEnvironment);
                                                            rec.pDLLName = p.Str(list[i].second);
                                                        });
    });
}

template <class Ch>
BOOL AddProcessorT(const Ch* environment, const Ch* pathName, const Ch* processorName) {
    std::u16string env = In(environment), dll = In(pathName), name = In(processorName);
    if (!EnvironmentDirectory(env)) return Fail(ERROR_INVALID_ENVIRONMENT);
    if (name.empty() || dll.empty() || name.find(u'\\') != std::u16string::npos) return Fail(ERROR_INVALID_PARAMETER);
    return AddLibraryEntry(ProcessorsPath(env), name, dll, ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED);
}

template <class Ch>
BOOL EnumProcessorsT(const Ch* environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                     LPDWORD returned) {
    std::u16string env = In(environment);
    if (!EnvironmentDirectory(env)) return Fail(ERROR_INVALID_ENVIRONMENT);
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<std::u16string> names;
        {
            auto db = Db::Current();
            Txn txn(*db, Txn::Mode::Read);
            if (auto procs = txn.Walk(db->Hklm(), ProcessorsPath(env)))
                for (auto& p : txn.Children(*procs)) names.push_back(p.name);
        }
        return PackRecords<spool::PrintProcessorInfo1<Ch>, Ch>(names.size(), buffer, size, needed, returned,
                                                               [&](auto& rec, size_t i, auto& p) { rec.pName = p.Str(names[i]); });
    });
}

}  // namespace

void SeedSpooler(Txn& txn) {
    KeyId hklm = txn.Database().Hklm();
    SeedForms(txn);
    KeyId ports = txn.WalkCreate(hklm, kPortsKey);
    for (auto* p : {u"LPT1:", u"LPT2:", u"LPT3:", u"COM1:", u"COM2:", u"FILE:"}) txn.SetString(ports, p, u"");
    KeyId local = txn.WalkCreate(hklm, std::u16string(kMonitorsKey) + u"\\" + std::u16string(kLocalMonitor));
    txn.SetString(local, u"Driver", u"localspl.dll");
    for (auto env : {kDefaultEnvironment, std::u16string_view(u"Windows 4.0")}) {
        KeyId e = txn.WalkCreate(hklm, std::u16string(kEnvironmentsKey) + u"\\" + std::u16string(env));
        txn.SetString(e, u"Directory", Fold(*EnvironmentDirectory(env)));
        txn.WalkCreate(e, u"Drivers");
    }
    KeyId winprint = txn.WalkCreate(hklm, ProcessorsPath(kDefaultEnvironment) + u"\\WinPrint");
    txn.SetString(winprint, u"Driver", u"winprint.dll");
    std::u16string types = std::u16string(u"RAW") + u'\0' + u"NT EMF 1.008" + u'\0' + u"TEXT" + u'\0' + u'\0';
    txn.SetValue(winprint, u"Datatypes", REG_MULTI_SZ, ToBytes(types, false));
    txn.WalkCreate(hklm, kPrintersKey);
}

}  // namespace zq::store

using namespace zq::store;

extern "C" {

BOOL EnumPortsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return EnumPortsT<WCHAR>(level, buffer, size, needed, returned);
}
BOOL EnumPortsA(LPSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return EnumPortsT<CHAR>(level, buffer, size, needed, returned);
}
BOOL AddPortExW(LPWSTR, DWORD level, LPBYTE info, LPWSTR monitorName) { return AddPortExT(level, info, monitorName); }
BOOL AddPortExA(LPSTR, DWORD level, LPBYTE info, LPSTR monitorName) { return AddPortExT(level, info, monitorName); }
BOOL AddMonitorW(LPWSTR, DWORD level, LPBYTE info) { return AddMonitorT<WCHAR>(level, info); }
BOOL AddMonitorA(LPSTR, DWORD level, LPBYTE info) { return AddMonitorT<CHAR>(level, info); }
BOOL EnumMonitorsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return EnumMonitorsT<WCHAR>(level, buffer, size, needed, returned);
}
BOOL EnumMonitorsA(LPSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return EnumMonitorsT<CHAR>(level, buffer, size, needed, returned);
}
BOOL AddPrintProcessorW(LPWSTR, LPWSTR environment, LPWSTR pathName, LPWSTR processorName) {
    return AddProcessorT(environment, pathName, processorName);
}
BOOL AddPrintProcessorA(LPSTR, LPSTR environment, LPSTR pathName, LPSTR processorName) {
    return AddProcessorT(environment, pathName, processorName);
}
BOOL EnumPrintProcessorsW(LPWSTR, LPWSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                          LPDWORD returned) {
    return EnumProcessorsT(environment, level, buffer, size, needed, returned);
}
BOOL EnumPrintProcessorsA(LPSTR, LPSTR environment, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                          LPDWORD returned) {
    return EnumProcessorsT(environment, level, buffer, size, needed, returned);
}

BOOL EnumPrintProcessorDatatypesW(LPWSTR, LPWSTR processorName, DWORD level, LPBYTE buffer, DWORD size,
                                  LPDWORD needed, LPDWORD returned) {
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    std::u16string name(View(processorName));
    return GuardBool([&]() -> BOOL {
        std::vector<std::u16string> types;
        {
            auto db = Db::Current();
            Txn txn(*db, Txn::Mode::Read);
            auto key = txn.Walk(db->Hklm(), ProcessorsPath(kDefaultEnvironment) + u"\\" + name);
            if (!key) return Fail(ERROR_UNKNOWN_PRINTPROCESSOR);
            auto v = txn.Value(*key, u"Datatypes");
            std::u16string cur;
            if (v) {
                for (size_t i = 0; i + 1 < v->data.size(); i += 2) {
                    char16_t c = static_cast<char16_t>(v->data[i] | (v->data[i + 1] << 8));
                    if (c) {
                        cur.push_back(c);
                    } else if (!cur.empty()) {
                        types.push_back(cur);
                        cur.clear();
                    } else {
                        break;
                    }
                }
            }
            if (types.empty()) types.push_back(u"RAW");
        }
        return PackRecords<DATATYPES_INFO_1W, WCHAR>(types.size(), buffer, size, needed, returned,
                                                    [&](auto& rec, size_t i, auto& p) { rec.pName = p.Str(types[i]); });
    });
}

}  // extern "C"
