// zq ui: pictures of a module's dialogs and property sheets, made by the
// headless window layer.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/text.h"
#include "command.h"
#include "user/picture.h"
#include "user/property_sheet.h"
#include "user/test_driver.h"

namespace {

constexpr const char* kUsage =
    "usage: zq ui dialog MODULE ID --png FILE [--dump]\n"
    "       zq ui sheet MODULE ID... --png-prefix PREFIX [--dump]\n\n"
    "Creates the dialog template ID of MODULE (a module file or name the loader\n"
    "finds) headless, with a procedure that does nothing, and writes its picture\n"
    "as PNG; --dump prints the window tree as text. `sheet` builds a property\n"
    "sheet of the templates given, one page each, and writes one picture per page\n"
    "as PREFIX1.png, PREFIX2.png... Nothing is shown and nothing waits.\n";

INT_PTR Quiet(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

bool ParseId(const std::string& text, WORD& id) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (!end || *end || v == 0 || v > 0xFFFF) return false;
    id = static_cast<WORD>(v);
    return true;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args) || args.empty()) {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    zq::Options options(args);
    const bool dump = options.Flag("--dump");
    const auto png = options.Value("--png");
    const auto prefix = options.Value("--png-prefix");
    if (auto unknown = options.Unknown()) return zq::UsageError("ui", "unknown option " + *unknown);
    const zq::Args rest = options.Rest();
    if (rest.size() < 3 || (rest[0] != "dialog" && rest[0] != "sheet"))
        return zq::UsageError("ui", "expected dialog MODULE ID or sheet MODULE ID...");
    HMODULE module = LoadLibraryExW(zq::Utf8ToUtf16(rest[1]).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return zq::Fail("zq ui: cannot load " + rest[1] + ": " + zq::LastLoadError());
    std::vector<WORD> ids;
    for (size_t i = 2; i < rest.size(); ++i) {
        WORD id;
        if (!ParseId(rest[i], id)) return zq::UsageError("ui", "not a template id: " + rest[i]);
        ids.push_back(id);
    }
    if (rest[0] == "dialog") {
        if (!png || ids.size() != 1) return zq::UsageError("ui", "dialog needs one ID and --png FILE");
        HWND d = CreateDialogParamW(module, MAKEINTRESOURCEW(ids[0]), nullptr, Quiet, 0);
        if (!d) return zq::Fail("zq ui: dialog " + rest[2] + " could not be created (error " +
                                std::to_string(GetLastError()) + ")");
        SetWindowPos(d, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        if (dump) std::fputs(zq::user::test::Dump(d).c_str(), stdout);
        const bool ok = zq::user::WriteWindowPng(d, *png);
        DestroyWindow(d);
        return ok ? 0 : zq::Fail("zq ui: cannot write " + *png);
    }
    if (!prefix) return zq::UsageError("ui", "sheet needs --png-prefix PREFIX");
    std::vector<PROPSHEETPAGEW> pages(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        pages[i] = PROPSHEETPAGEW{};
        pages[i].dwSize = sizeof(PROPSHEETPAGEW);
        pages[i].hInstance = module;
        pages[i].pszTemplate = MAKEINTRESOURCEW(ids[i]);
        pages[i].pfnDlgProc = Quiet;
    }
    PROPSHEETHEADERW h{};
    h.dwSize = sizeof(h);
    h.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS;
    h.pszCaption = u"Properties";
    h.nPages = static_cast<UINT>(pages.size());
    h.ppsp = pages.data();
    HWND sheet = reinterpret_cast<HWND>(PropertySheetW(&h));
    if (!sheet) return zq::Fail("zq ui: the sheet could not be created");
    int rc = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
        SendMessageW(sheet, PSM_SETCURSEL, i, 0);
        SetWindowPos(sheet, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        if (dump) std::fputs(zq::user::test::Dump(sheet).c_str(), stdout);
        const std::string file = *prefix + std::to_string(i + 1) + ".png";
        if (!zq::user::WriteWindowPng(sheet, file)) rc = zq::Fail("zq ui: cannot write " + file);
    }
    DestroyWindow(sheet);
    return rc;
}

const zq::Registration registration{{"ui", "pictures of a module's dialogs and property sheets", kUsage, Run}};

}  // namespace
