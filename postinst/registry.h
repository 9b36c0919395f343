// Registry access through short root names, and the Windows family and
// version as the registry tells it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/types.h"
#include "store/registry.h"

namespace postinst {

struct RegistryValue {
    enum Kind { kNone = 0, kNumber = 1, kString = 2, kExpandString = 3, kBinary = 4, kMultiString = 5 };
    int kind = kNone;
    uint32_t number = 0;
    std::string text;  // kind 4: the bytes as hexadecimal text
    std::vector<std::string> list;
};

class Registry {
public:
    Registry() = default;
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    void SetMachine(const std::string& computer);
    HKEY getRootKey(const std::string& name);
    HKEY openKey(HKEY root, const std::string& path, REGSAM access);
    bool ReadValue(const std::string& root, const std::string& path, const std::string& name, RegistryValue& out);
    std::string ReadString(const std::string& root, const std::string& path, const std::string& name);
    bool ValueExists(const std::string& root, const std::string& path, const std::string& name);
    bool WriteValue(const std::string& root, const std::string& path, const std::string& name,
                    const RegistryValue& value);
    bool CreateKey(const std::string& root, const std::string& path, bool cloneSecurity);
    bool DeleteValue(const std::string& root, const std::string& path, const std::string& name);
    bool IsKeyEmpty(const std::string& root, const std::string& path);
    bool DeleteEmptyKey(const std::string& root, const std::string& path, bool walkUp);
    void cleanHelper(const std::string& root, const std::string& path, bool deleteAll);
    void DeleteKey(const std::string& root, const std::string& path) { cleanHelper(root, path, true); }
    static LONG cloneKeyAccess(HKEY source, HKEY target);

private:
    HKEY getRemoteKey(HKEY predefined);
    void closeRoots();
    std::string computer_;
    HKEY hklm_ = nullptr, hku_ = nullptr;
};

class OSInfo {
public:
    enum { kUnknown = -1, kWin95 = 0, kWin98 = 1, kWin98SE = 2, kWinMe = 3, kNT4 = 4, kWin2000 = 5, kWinXP = 6 };
    OSInfo() { initialize(); }
    int Class() const { return class_; }
    int ServicePack() const { return servicePack_; }
    bool isWin9x() const { return class_ >= 0 && class_ <= 3; }
    bool isNT() const { return class_ >= 4 && class_ <= 6; }
    bool isNT5() const { return class_ >= 5 && class_ <= 6; }

private:
    void initialize();
    int class_ = kUnknown;
    int servicePack_ = 0;
};

}  // namespace postinst
