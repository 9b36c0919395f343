// zq data: a printer's data values (printer data and keyed data).
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "command.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace {

using zq::store::FromUtf8;
using zq::store::ToUtf8;

constexpr const char* kUsage =
    "usage: zq data list PRINTER [--key KEY]\n"
    "       zq data get PRINTER NAME [--key KEY]\n"
    "       zq data set PRINTER NAME VALUE [--type sz|expand_sz|multi_sz|dword|binary] [--key KEY]\n"
    "       zq data set PRINTER NAME --file FILE [--key KEY]    (binary, from a file)\n"
    "       zq data delete PRINTER NAME [--key KEY]\n\n"
    "Values live under the printer's key PrinterDriverData unless --key names another\n"
    "(for example DsDriver). A dword VALUE is decimal or 0x-hex; a binary VALUE is hex\n"
    "digits; a multi_sz VALUE separates its strings with '|'.\n";

using Handle = zq::cli::PrinterHandle;

int Err(const std::string& what, DWORD code) { return zq::cli::FailWithError("data", what, code); }

const char* TypeName(DWORD type) {
    switch (type) {
    case REG_SZ: return "sz";
    case REG_EXPAND_SZ: return "expand_sz";
    case REG_MULTI_SZ: return "multi_sz";
    case REG_DWORD: return "dword";
    case REG_BINARY: return "binary";
    default: return "other";
    }
}

std::string Show(DWORD type, const BYTE* data, DWORD size) {
    auto wide = [&](bool multi) {
        std::u16string text(size / 2, u'\0');
        std::memcpy(text.data(), data, text.size() * 2);
        while (!text.empty() && text.back() == 0) text.pop_back();
        if (multi)
            for (auto& c : text)
                if (!c) c = u'|';
        if (!multi) text = text.substr(0, text.find(u'\0'));
        return ToUtf8(text);
    };
    if (type == REG_SZ || type == REG_EXPAND_SZ) return wide(false);
    if (type == REG_MULTI_SZ) return wide(true);
    if (type == REG_DWORD && size == 4) {
        DWORD v;
        std::memcpy(&v, data, 4);
        char b[40];
        std::snprintf(b, sizeof b, "%u (0x%08x)", v, v);
        return b;
    }
    std::string hex;
    for (DWORD i = 0; i < size; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02x", data[i]);
        hex += b;
    }
    return hex;
}

int List(HANDLE h, const std::u16string& key) {
    DWORD needed = 0, count = 0;
    DWORD rc = EnumPrinterDataExW(h, key.c_str(), nullptr, 0, &needed, &count);
    if (rc == ERROR_FILE_NOT_FOUND) return 0;
    std::vector<BYTE> buffer(needed);
    rc = EnumPrinterDataExW(h, key.c_str(), buffer.data(), needed, &needed, &count);
    if (rc != ERROR_SUCCESS) return Err("cannot list", rc);
    auto* values = reinterpret_cast<PRINTER_ENUM_VALUESW*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        std::printf("%s\t%s\t%u\t%s\n", ToUtf8(values[i].pValueName).c_str(), TypeName(values[i].dwType),
                    values[i].cbData, Show(values[i].dwType, values[i].pData, values[i].cbData).c_str());
    }
    return 0;
}

std::optional<std::vector<BYTE>> Encode(const std::string& type, const std::string& value, DWORD& regType) {
    std::vector<BYTE> out;
    auto wide = [&](std::u16string text) {
        text.push_back(0);
        out.resize(text.size() * 2);
        std::memcpy(out.data(), text.data(), out.size());
    };
    if (type == "sz" || type == "expand_sz") {
        regType = type == "sz" ? REG_SZ : REG_EXPAND_SZ;
        wide(FromUtf8(value));
    } else if (type == "multi_sz") {
        regType = REG_MULTI_SZ;
        std::u16string text = FromUtf8(value);
        for (auto& c : text)
            if (c == u'|') c = 0;
        if (!text.empty()) text.push_back(0);
        wide(text);
    } else if (type == "dword") {
        regType = REG_DWORD;
        char* end = nullptr;
        unsigned long v = std::strtoul(value.c_str(), &end, 0);
        if (value.empty() || *end) return std::nullopt;
        DWORD d = static_cast<DWORD>(v);
        out.resize(4);
        std::memcpy(out.data(), &d, 4);
    } else if (type == "binary") {
        regType = REG_BINARY;
        if (value.size() % 2) return std::nullopt;
        for (size_t i = 0; i < value.size(); i += 2) {
            char* end = nullptr;
            std::string pair = value.substr(i, 2);
            unsigned long b = std::strtoul(pair.c_str(), &end, 16);
            if (*end) return std::nullopt;
            out.push_back(static_cast<BYTE>(b));
        }
    } else {
        return std::nullopt;
    }
    return out;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (args.empty()) return zq::UsageError("data", "missing verb");
    zq::Options opts(args);
    std::u16string key = FromUtf8(opts.Value("--key").value_or("PrinterDriverData"));
    auto type = opts.Value("--type");
    auto file = opts.Value("--file");
    if (auto bad = opts.Unknown()) return zq::UsageError("data", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.empty()) return zq::UsageError("data", "missing verb");
    const std::string verb = rest[0];
    size_t want = verb == "list" ? 2 : verb == "set" ? (file ? 3 : 4) : 3;
    if ((verb != "list" && verb != "get" && verb != "set" && verb != "delete") || rest.size() != want)
        return zq::UsageError("data", "unknown verb or wrong arguments: " + verb);
    std::u16string printer = FromUtf8(rest[1]);
    Handle h;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, verb == "list" || verb == "get" ? PRINTER_READ : PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(printer.data(), &h.h, &defaults)) return Err("cannot open printer " + rest[1], GetLastError());
    if (verb == "list") return List(h.h, key);
    std::u16string name = FromUtf8(rest[2]);
    if (verb == "get") {
        DWORD typeOut = 0, needed = 0;
        DWORD rc = GetPrinterDataExW(h.h, key.c_str(), name.c_str(), &typeOut, nullptr, 0, &needed);
        if (rc == ERROR_FILE_NOT_FOUND) return zq::Fail("data: no value " + rest[2] + " on " + rest[1]);
        std::vector<BYTE> data(needed);
        rc = GetPrinterDataExW(h.h, key.c_str(), name.c_str(), &typeOut, data.data(), needed, &needed);
        if (rc != ERROR_SUCCESS) return Err("cannot read " + rest[2], rc);
        std::printf("%s\t%u\t%s\n", TypeName(typeOut), needed, Show(typeOut, data.data(), needed).c_str());
        return 0;
    }
    if (verb == "delete") {
        DWORD rc = DeletePrinterDataExW(h.h, key.c_str(), name.c_str());
        if (rc == ERROR_FILE_NOT_FOUND) return zq::Fail("data: no value " + rest[2] + " on " + rest[1]);
        return rc == ERROR_SUCCESS ? 0 : Err("cannot delete " + rest[2], rc);
    }
    DWORD regType = REG_BINARY;
    std::optional<std::vector<BYTE>> bytes;
    if (file) {
        std::ifstream in(*file, std::ios::binary);
        if (!in) return zq::Fail("data: cannot read " + *file);
        bytes = std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
    } else {
        bytes = Encode(type.value_or("sz"), rest[3], regType);
        if (!bytes) return zq::UsageError("data", "value does not fit type " + type.value_or("sz"));
    }
    DWORD rc = SetPrinterDataExW(h.h, key.c_str(), name.c_str(), regType, bytes->data(),
                                 static_cast<DWORD>(bytes->size()));
    return rc == ERROR_SUCCESS ? 0 : Err("cannot write " + rest[2], rc);
}

zq::Registration registration{{"data", "list, get, set and delete printer data", kUsage, Run}};

}  // namespace
