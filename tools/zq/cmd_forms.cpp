// zq forms: the spooler's forms.
#include <cstdio>
#include <vector>

#include "command.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

using zq::store::FromUtf8;
using zq::store::ToUtf8;

constexpr const char* kUsage =
    "usage: zq forms [list]\n"
    "       zq forms add NAME --size WIDTHxHEIGHT [--area LEFT,TOP,RIGHT,BOTTOM]\n"
    "       zq forms delete NAME\n\n"
    "Sizes are in thousandths of a millimetre (A4 is 210000x297000); the printable\n"
    "area defaults to the whole form. Built-in forms cannot be deleted.\n";

// The local print server, where forms live.
struct Server : zq::cli::PrinterHandle {
    Server() { OpenPrinterW(nullptr, &h, nullptr); }
};

const char* FlagName(DWORD flags) {
    return flags == FORM_BUILTIN ? "builtin" : flags == FORM_PRINTER ? "printer" : "user";
}

int Err(const std::string& what) { return zq::cli::FailWithError("forms", what); }

int List() {
    Server s;
    DWORD count = 0;
    auto buffer = zq::cli::Fetch(
        [&](LPBYTE b, DWORD size, LPDWORD needed) { return EnumFormsW(s.h, 1, b, size, needed, &count); });
    if (!buffer) return Err("cannot list");
    auto* forms = reinterpret_cast<FORM_INFO_1W*>(buffer->data());
    for (DWORD i = 0; i < count; ++i) {
        const auto& f = forms[i];
        std::printf("%s\t%s\t%dx%d\t%d,%d,%d,%d\n", ToUtf8(f.pName).c_str(), FlagName(f.Flags), f.Size.cx, f.Size.cy,
                    f.ImageableArea.left, f.ImageableArea.top, f.ImageableArea.right, f.ImageableArea.bottom);
    }
    return 0;
}

int Add(const std::string& name, const std::string& size, const std::optional<std::string>& area) {
    long w = 0, h = 0, l = 0, t = 0, r = 0, b = 0;
    char extra = 0;
    if (std::sscanf(size.c_str(), "%ldx%ld%c", &w, &h, &extra) != 2)
        return zq::UsageError("forms", "--size wants WIDTHxHEIGHT");
    r = w;
    b = h;
    if (area && std::sscanf(area->c_str(), "%ld,%ld,%ld,%ld%c", &l, &t, &r, &b, &extra) != 4)
        return zq::UsageError("forms", "--area wants LEFT,TOP,RIGHT,BOTTOM");
    std::u16string n = FromUtf8(name);
    FORM_INFO_1W form{FORM_USER, n.data(), {static_cast<LONG>(w), static_cast<LONG>(h)},
                      {static_cast<LONG>(l), static_cast<LONG>(t), static_cast<LONG>(r), static_cast<LONG>(b)}};
    Server s;
    if (!AddFormW(s.h, 1, reinterpret_cast<LPBYTE>(&form))) return Err("cannot add " + name);
    return 0;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    auto size = opts.Value("--size");
    auto area = opts.Value("--area");
    if (auto bad = opts.Unknown()) return zq::UsageError("forms", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.empty() || (rest[0] == "list" && rest.size() == 1)) return List();
    if (rest[0] == "add" && rest.size() == 2) {
        if (!size) return zq::UsageError("forms", "add needs --size");
        return Add(rest[1], *size, area);
    }
    if (rest[0] == "delete" && rest.size() == 2) {
        std::u16string n = FromUtf8(rest[1]);
        Server s;
        if (!DeleteFormW(s.h, n.data())) return Err("cannot delete " + rest[1]);
        return 0;
    }
    return zq::UsageError("forms", "unknown verb or wrong arguments: " + rest[0]);
}

zq::Registration registration{{"forms", "list, add and delete the spooler's forms", kUsage, Run}};

}  // namespace
