#include "postinst/registry.h"

#include <cstdlib>
#include <cstring>

#include "base/error.h"
#include "postinst/debug_log.h"
#include "postinst/text.h"

namespace postinst {

Registry::~Registry() { closeRoots(); }

void Registry::closeRoots() {
    if (hklm_) RegCloseKey(hklm_);
    if (hku_) RegCloseKey(hku_);
    hklm_ = hku_ = nullptr;
}

void Registry::SetMachine(const std::string& computer) {
    if (EqualsNoCase(computer, computer_)) return;
    closeRoots();
    computer_ = computer;
}

HKEY Registry::getRemoteKey(HKEY predefined) {
    HKEY key = nullptr;
    LONG r = RegConnectRegistryA(computer_.empty() ? nullptr : computer_.c_str(), predefined, &key);
    if (r != ERROR_SUCCESS) {
        Log() << "Registry::getRemoteKey: could not access computer " << computer_ << " (error " << r << ")" << End;
        return nullptr;
    }
    return key;
}

HKEY Registry::getRootKey(const std::string& name) {
    if (EqualsNoCase(name, "HKLM")) {
        if (!hklm_) hklm_ = getRemoteKey(HKEY_LOCAL_MACHINE);
        return hklm_;
    }
    if (EqualsNoCase(name, "HKU")) {
        if (!hku_) hku_ = getRemoteKey(HKEY_USERS);
        return hku_;
    }
    if (EqualsNoCase(name, "HKCU")) return computer_.empty() ? HKEY_CURRENT_USER : nullptr;
    if (EqualsNoCase(name, "HKCC")) return computer_.empty() ? HKEY_CURRENT_CONFIG : nullptr;
    if (EqualsNoCase(name, "HKCR")) {
        HKEY machine = getRootKey("HKLM");
        HKEY classes = nullptr;
        if (!machine || RegOpenKeyA(machine, "Software\\Classes", &classes) != ERROR_SUCCESS) return nullptr;
        return classes;  // a handle of its own: closed by the caller's openKey pairing below
    }
    Log() << "Registry::getRootKey: invalid root key " << name << End;
    return nullptr;
}

HKEY Registry::openKey(HKEY root, const std::string& path, REGSAM access) {
    if (!root) return nullptr;
    HKEY key = nullptr;
    LONG r = RegOpenKeyExA(root, path.c_str(), 0, access, &key);
    if (r != ERROR_SUCCESS) {
        if (r != ERROR_FILE_NOT_FOUND)
            Log() << "Registry::openKey: could not open key " << path << " (error code " << r << ")" << End;
        return nullptr;
    }
    return key;
}

bool Registry::ReadValue(const std::string& root, const std::string& path, const std::string& name,
                         RegistryValue& out) {
    out = RegistryValue{};
    HKEY key = openKey(getRootKey(root), path, KEY_READ);
    if (!key) return false;
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (r != ERROR_SUCCESS || size == 0) {
        RegCloseKey(key);
        return false;
    }
    std::vector<BYTE> data(size + 2, 0);
    r = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        Log() << "Registry::ReadValue: could not query value " << name << " (return code " << r << ")" << End;
        return false;
    }
    const char* text = reinterpret_cast<const char*>(data.data());
    switch (type) {
    case REG_SZ: out.kind = RegistryValue::kString; out.text = text; return true;
    case REG_EXPAND_SZ: out.kind = RegistryValue::kExpandString; out.text = text; return true;
    case REG_DWORD:
        out.kind = RegistryValue::kNumber;
        std::memcpy(&out.number, data.data(), 4);
        return true;
    case REG_MULTI_SZ:
        out.kind = RegistryValue::kMultiString;
        for (size_t at = 0; at < size && text[at];) {
            out.list.emplace_back(text + at);
            at += out.list.back().size() + 1;
        }
        return true;
    default:
        Log() << "Registry::ReadValue: registry entry " << name << " had unsupported data type " << type << End;
        return false;
    }
}

std::string Registry::ReadString(const std::string& root, const std::string& path, const std::string& name) {
    RegistryValue v;
    if (!ReadValue(root, path, name, v)) return "";
    if (v.kind == RegistryValue::kNumber) return Format("%d", static_cast<int>(v.number));
    if (v.kind == RegistryValue::kString || v.kind == RegistryValue::kExpandString) return v.text;
    return "";
}

bool Registry::ValueExists(const std::string& root, const std::string& path, const std::string& name) {
    HKEY key = openKey(getRootKey(root), path, KEY_READ);
    if (!key) return false;
    DWORD type = 0, size = 0;
    LONG r = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && size != 0;
}

bool Registry::WriteValue(const std::string& root, const std::string& path, const std::string& name,
                          const RegistryValue& value) {
    if (value.kind == RegistryValue::kMultiString) {
        Log() << "Registry::WriteValue: unsupported registry type Reg_Multi_String" << End;
        return false;
    }
    if (value.kind < RegistryValue::kNumber || value.kind > RegistryValue::kBinary) {
        Log() << "Registry::WriteValue: unsupported registry type " << value.kind << End;
        return false;
    }
    HKEY key = openKey(getRootKey(root), path, KEY_ALL_ACCESS);
    if (!key) return false;
    std::vector<BYTE> bytes;
    DWORD type = REG_SZ;
    switch (value.kind) {
    case RegistryValue::kNumber:
        type = REG_DWORD;
        bytes.resize(4);
        std::memcpy(bytes.data(), &value.number, 4);
        break;
    case RegistryValue::kString:
    case RegistryValue::kExpandString:
        type = value.kind == RegistryValue::kString ? REG_SZ : REG_EXPAND_SZ;
        bytes.assign(value.text.begin(), value.text.end());
        bytes.push_back(0);
        break;
    case RegistryValue::kBinary: {
        type = REG_BINARY;
        std::string hex = value.text;
        if (hex.size() % 2) hex += "0";
        for (size_t i = 0; i < hex.size(); i += 2)
            bytes.push_back(static_cast<BYTE>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16)));
        break;
    }
    }
    LONG r = RegSetValueExA(key, name.c_str(), 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        Log() << "Registry::WriteValue: RegSetValueEx returned with code " << r << End;
        return false;
    }
    return true;
}

bool Registry::CreateKey(const std::string& root, const std::string& path, bool cloneSecurity) {
    HKEY rootKey = getRootKey(root);
    if (!rootKey) return false;
    HKEY parent = rootKey;
    Tokenizer parts(path, '\\', 0);
    std::string part;
    bool ok = true;
    while (parts.NextToken(part)) {
        if (part.empty()) break;
        HKEY child = nullptr;
        // An existing level is opened so that the next level can be made
        // below it; read access alone would refuse the creation.
        if (RegOpenKeyExA(parent, part.c_str(), 0, KEY_READ | KEY_CREATE_SUB_KEY, &child) != ERROR_SUCCESS) {
            DWORD disposition = 0;
            LONG r = RegCreateKeyExA(parent, part.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, &disposition);
            if (r != ERROR_SUCCESS) {
                Log() << "Registry::CreateKey: RegCreteKeyEx of " << part << " failed with code " << r << End;
                ok = false;
                break;
            }
            if (disposition == REG_CREATED_NEW_KEY && cloneSecurity) cloneKeyAccess(parent, child);
        }
        if (parent != rootKey) RegCloseKey(parent);
        parent = child;
    }
    if (parent != rootKey) RegCloseKey(parent);
    return ok;
}

LONG Registry::cloneKeyAccess(HKEY source, HKEY target) {
    if (OSInfo().isWin9x()) return 0;
    DWORD size = 0;
    LONG r = RegGetKeySecurity(source, DACL_SECURITY_INFORMATION, nullptr, &size);
    if (r != ERROR_INSUFFICIENT_BUFFER) {
        Log() << "Registry::cloneKeyAccess: ruh roh, something went wrong; error " << r << End;
        return r;
    }
    if (size == 0) {
        Log() << "Registry::cloneKeyAccess: size is an unbelievable value..." << End;
        return 1;
    }
    std::vector<BYTE> descriptor(size);
    r = RegGetKeySecurity(source, DACL_SECURITY_INFORMATION, descriptor.data(), &size);
    if (r != ERROR_SUCCESS) {
        Log() << "Registry::cloneKeyAccess: RegGetKeySecurity returned " << r << End;
        return r;
    }
    r = RegSetKeySecurity(target, DACL_SECURITY_INFORMATION, descriptor.data());
    if (r != ERROR_SUCCESS) Log() << "Registry::cloneKeyAccess: RegSetKeySecurity returned " << r << End;
    return r;
}

bool Registry::DeleteValue(const std::string& root, const std::string& path, const std::string& name) {
    HKEY key = openKey(getRootKey(root), path, KEY_ALL_ACCESS);
    if (!key) return false;
    LONG r = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) {
        Log() << "Registry::DeleteValue: RegDeleteValue returned error code" << r << End;
        return false;
    }
    return true;
}

bool Registry::IsKeyEmpty(const std::string& root, const std::string& path) {
    HKEY key = openKey(getRootKey(root), path, KEY_READ);
    if (!key) return false;
    DWORD subKeys = 0, values = 0, longestName = 0;
    LONG r = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, &longestName,
                              nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return false;
    return subKeys == 0 && (values == 0 || (values == 1 && longestName == 0));
}

bool Registry::DeleteEmptyKey(const std::string& root, const std::string& path, bool walkUp) {
    bool deleted = false;
    std::string p = path;
    while (IsKeyEmpty(root, p)) {
        LONG r = RegDeleteKeyA(getRootKey(root), p.c_str());
        if (r != ERROR_SUCCESS) {
            Log() << "Registry::DeleteEmptyKey: RegDeleteKey returned " << r << End;
            break;
        }
        deleted = true;
        if (!walkUp) break;
        size_t cut = p.rfind('\\');
        if (cut == std::string::npos || cut == 0) break;
        p.resize(cut);
    }
    return deleted;
}

void Registry::cleanHelper(const std::string& root, const std::string& path, bool deleteAll) {
    HKEY key = openKey(getRootKey(root), path, KEY_ALL_ACCESS);
    if (!key) return;
    DWORD subKeys = 0, longest = 0;
    LONG r = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &longest, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr);
    if (r != ERROR_SUCCESS) {
        Log() << "Registry::cleanHelper: could not open " << root << "\\" << path << " (error " << r << ")" << End;
    } else {
        for (DWORD i = subKeys; i-- > 0;) {
            std::vector<char> name(longest + 2);
            DWORD chars = static_cast<DWORD>(name.size());
            r = RegEnumKeyExA(key, i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
            if (r != ERROR_SUCCESS) {
                Log() << "Registry::cleanHelper: could not enumerate on key " << root << "\\" << path << " (error " << r
                      << ")" << End;
                break;
            }
            cleanHelper(root, path + "\\" + name.data(), deleteAll);
        }
    }
    RegCloseKey(key);
    if (!deleteAll) {
        DeleteEmptyKey(root, path, false);
    } else if ((r = RegDeleteKeyA(getRootKey(root), path.c_str())) != ERROR_SUCCESS) {
        Log() << "Registry::cleanHelper: RegDeleteKey of " << root << "\\" << path << " failed (error " << r << ")"
              << End;
    }
}

void OSInfo::initialize() {
    Registry reg;
    std::string v9x = reg.ReadString("HKLM", "Software\\Microsoft\\Windows\\CurrentVersion", "VersionNumber");
    if (!v9x.empty()) {
        int major = std::atoi(v9x.c_str());
        size_t dot = v9x.find('.');
        int minor = dot == std::string::npos ? 0 : std::atoi(v9x.c_str() + dot + 1);
        if (major != 4) {
            Log() << "OSInfo::initialize: invalid 9X version (major: " << major << ", minor: " << minor << ")" << End;
            return;
        }
        if (minor >= 90)
            class_ = kWinMe;
        else if (minor < 10)
            class_ = kWin95;
        else
            class_ = EqualsNoCase(Trim(reg.ReadString("HKLM", "Software\\Microsoft\\Windows\\CurrentVersion",
                                                      "SubVersionNumber")),
                                  "A")
                         ? kWin98SE
                         : kWin98;
        return;
    }
    const char* ntKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
    std::string vnt = reg.ReadString("HKLM", ntKey, "CurrentVersion");
    if (vnt.empty()) {
        Log() << "OSInfo::initialize: could not locate version info in the registry!" << End;
        return;
    }
    int major = std::atoi(vnt.c_str());
    size_t dot = vnt.find('.');
    int minor = dot == std::string::npos ? 0 : std::atoi(vnt.c_str() + dot + 1);
    if (major == 4)
        class_ = kNT4;
    else if (major == 5)
        class_ = minor == 0 ? kWin2000 : kWinXP;
    else {
        Log() << "OSInfo::initialize: invalid NT version (major: " << major << ", minor " << minor << ")" << End;
        return;
    }
    std::string csd = reg.ReadString("HKLM", ntKey, "CSDVersion");
    if (!csd.empty()) {
        csd = csd.substr(0, csd.find(','));
        size_t blank = csd.rfind(' ');
        servicePack_ = std::atoi(csd.c_str() + (blank == std::string::npos ? 0 : blank + 1));
    }
}

}  // namespace postinst
