// Stand-in of the dialog library (`dlgui`) for the calls the interface
// driver makes of it while the property pages are not built: the texts and
// pictures of the resource library `dlgres` by logical id, the tray-name
// table and the account-id prompt. The resource library is loaded from this
// library's own directory when it is attached; without it the attach fails,
// as a dialog library without its texts would answer nothing.
//
// The account-id prompt is headless: it answers as a user would who takes
// the id last chosen for the printer ("Current Account ID" of the printer's
// key under HKEY_CURRENT_USER "Software\Zelquor\Printers"), and cancels when
// the printer has none or it is not an id of 1 to 16 digits.
#include "outside/dialog_library.h"

#include <string>

#include "base/loader.h"
#include "base/resources.h"
#include "common/uitypes.h"

namespace {

// The resource library, loaded while this library is attached.
HMODULE& ResourceLibrary() {
    static HMODULE module = nullptr;
    return module;
}

HRSRC FindXlated(const zq::XlatedRequest* request) {
    if (request == nullptr || ResourceLibrary() == nullptr) return nullptr;
    const uint16_t id = zq::outside::TranslateResourceId(*request);
    if (id == 0) return nullptr;
    return FindResourceW(ResourceLibrary(), MAKEINTRESOURCEW(id),
                         MAKEINTRESOURCEW(static_cast<WORD>(request->type & 0xFFFF)));
}

}  // namespace

extern "C" {

BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        // The resource library sits beside this one; any path length.
        std::string own(1024, '\0');
        DWORD n = 0;
        while ((n = GetModuleFileNameA(instance, own.data(), static_cast<DWORD>(own.size()))) >= own.size() &&
               own.size() < 32768) {
            own.resize(own.size() * 2);
        }
        if (n == 0 || n >= own.size()) return FALSE;
        own.resize(n);
        ResourceLibrary() = LoadLibraryA(zq::outside::ResourceLibraryPath(own).c_str());
        return ResourceLibrary() != nullptr ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        if (ResourceLibrary() != nullptr) FreeLibrary(ResourceLibrary());
        ResourceLibrary() = nullptr;
    }
    return TRUE;
}

int LoadXlatedString(zq::XlatedRequest* request) {
    if (request == nullptr || request->buffer == nullptr || request->length == 0 ||
        ResourceLibrary() == nullptr) {
        return 0;
    }
    const uint16_t id = zq::outside::TranslateStringId(*request);
    if (id == 0) return 0;
    return LoadStringA(ResourceLibrary(), id, request->buffer, request->length);
}

const void* LoadXlatedResource(zq::XlatedRequest* request) {
    const HRSRC found = FindXlated(request);
    if (found == nullptr) return nullptr;
    return LockResource(LoadResource(ResourceLibrary(), found));
}

DWORD GetSizeofXlatedResource(zq::XlatedRequest* request) {
    const HRSRC found = FindXlated(request);
    return found == nullptr ? 0 : SizeofResource(ResourceLibrary(), found);
}

WORD GetTrayID(DWORD index) {
    return zq::outside::TrayNameId(index);
}

// The account prompt, answered headless from the printer's "Current Account
// ID": nonzero with the id in the context, 0 (cancel) without a valid one.
int fnGetAcctTrack(HWND, DWORD, DWORD, zq::SheetContext* context) {
    if (context == nullptr || context->printerNameAnsi == nullptr) return 0;
    return zq::outside::AnswerAccountPrompt(context->printerNameAnsi, context->accountId);
}

}  // extern "C"
