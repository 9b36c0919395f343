// Printer data and registry values an install writes, and registry values
// it deletes.
#include <cstdlib>
#include <cstring>

#include "base/error.h"
#include "postinst/actions.h"
#include "postinst/debug_log.h"
#include "postinst/registry.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace postinst {

namespace {

DWORD PrinterDataType(const std::string& keyword) {
    if (EqualsNoCase(keyword, "NUMBER")) return REG_DWORD;
    if (EqualsNoCase(keyword, "BINARY")) return REG_BINARY;
    return REG_SZ;
}

uint32_t NumberOf(const std::string& text) {
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return static_cast<uint32_t>(std::strtoul(text.c_str() + 2, nullptr, 16));
    return static_cast<uint32_t>(std::atoi(text.c_str()));
}

}  // namespace

bool PrtDrvDataInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        Log() << "PrtDrvDataInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    if (printer_.empty()) {
        Log() << "PrtDrvDataInfo::HandleCommand: No printer name!" << End;
        return false;
    }
    DWORD type = PrinterDataType(args[0]);
    std::string name = Expand(args[1]), data = Expand(args[2]);
    int flags = args.size() > 3 ? std::atoi(args[3].c_str()) : 0;
    auto details = [&] {
        Log() << "\tPrinter: " << printer_ << End;
        Log() << "\tValue name: " << name << End;
        Log() << "\tData: " << data << End;
    };
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterA(printer_.data(), &printer, &defaults)) {
        Log() << "PrtDrvDataInfo::HandleCommand: OpenPrinter failed with code " << GetLastError() << End;
        details();
        return false;
    }
    bool ok = true;
    bool keep = false;
    if (flags == 2) {
        BYTE buffer[260];
        DWORD oldType = 0, needed = 0;
        DWORD r = GetPrinterDataA(printer, name.data(), &oldType, buffer, sizeof buffer, &needed);
        keep = (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) && oldType == type;
    }
    if (!keep) {
        std::vector<BYTE> bytes;
        if (type == REG_SZ) {
            bytes.assign(data.begin(), data.end());
            bytes.push_back(0);
        } else {
            uint32_t n = NumberOf(data);
            bytes.resize(4);
            std::memcpy(bytes.data(), &n, 4);
        }
        DWORD r = SetPrinterDataA(printer, name.data(), type, bytes.data(), static_cast<DWORD>(bytes.size()));
        if (r != ERROR_SUCCESS) {
            Log() << "PrtDrvDataInfo::HandleCommand: SetPrinterData returned " << r << End;
            ok = false;
        }
    }
    ClosePrinter(printer);
    if (!ok) details();
    return ok;
}

bool AddRegInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 3) {
        Log() << "AddRegInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    std::string root = Expand(args[0]), subkey = Expand(args[1]), name = Expand(args[2]);
    uint32_t flags = args.size() > 3 ? static_cast<uint32_t>(std::strtoul(args[3].c_str(), nullptr, 0)) : 0;
    std::string text = args.size() > 4 ? Expand(args[4]) : "";
    RegistryValue value;
    switch (flags & 0xFFFF0001u) {
    case 1:
        Log() << "setupRegValue: binary type not supported, assuming DWORD" << End;
        [[fallthrough]];
    case 0x10001:
        value.kind = RegistryValue::kNumber;
        value.number = static_cast<uint32_t>(std::atoi(text.c_str()));
        break;
    default:
        value.kind = RegistryValue::kString;
        value.text = text;
        break;
    }
    Registry reg;
    reg.CreateKey(root, subkey, false);
    // An existing value kept by the no-clobber flag was not written by this
    // install, so it is not recorded for the uninstaller to remove.
    if ((flags & 2) && reg.ValueExists(root, subkey, name)) return true;
    if (!reg.WriteValue(root, subkey, name, value)) return false;
    engine_.addLogOperation(3, Format("%s, \"%s\", %s", root.c_str(), subkey.c_str(), name.c_str()), "Uninstaller",
                            true);
    return true;
}

bool DeleteRegInfo::HandleCommand(const std::vector<std::string>& args) {
    if (args.size() < 2) {
        Log() << "DeleteRegInfo::HandleCommand: not enough arguments!" << End;
        return false;
    }
    Registry reg;
    return reg.DeleteValue(Expand(args[0]), Expand(args[1]), args.size() > 2 ? Expand(args[2]) : "");
}

}  // namespace postinst
