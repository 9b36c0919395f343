#include "interface/module_entry.h"

#include <cstring>

#include "base/loader.h"
#include "base/memory.h"
#include "base/text.h"
#include "interface/dialog_library.h"

namespace zq {

namespace {

ModuleState& State() {
    static ModuleState state;
    return state;
}

// The host callback until the host-callback service answers: every request
// is left unhandled.
int32_t UnhandledHostRequest(void*, void*) { return 1; }

}  // namespace

const ModuleState& DriverState() { return State(); }

std::mutex& ModuleLock() {
    static std::mutex lock;
    return lock;
}

HostCallbackProc DriverHostCallback() { return UnhandledHostRequest; }

std::u16string BesideDriver(HMODULE driver, std::u16string_view file) {
    // No fixed path limit: the buffer grows until the whole path fits.
    std::u16string path(260, u'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(driver, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t cut = path.find_last_of(u"\\/:");
    path.resize(cut == std::u16string::npos ? 0 : cut + 1);
    return path + std::u16string(file);
}

ScriptUiBinding* BindScriptUi(const char16_t* path) {
    if (path == nullptr) return nullptr;
    HMODULE module = LoadLibraryW(path);
    if (module == nullptr) return nullptr;
    using GetDevIc = iContext* (*)();
    const auto get = reinterpret_cast<GetDevIc>(GetProcAddress(module, "getDevIC"));
    iContext* context = get ? get() : nullptr;
    if (context == nullptr) return nullptr;  // the module stays referenced
    auto* binding = static_cast<ScriptUiBinding*>(GlobalAlloc(GPTR, sizeof(ScriptUiBinding)));
    if (binding == nullptr) {
        context->Release();
        FreeLibrary(module);
        return nullptr;
    }
    binding->module = module;
    binding->context = context;
    binding->flags = 0;
    return binding;
}

namespace {
void RegisterOnce(ScriptUiBinding& binding, SheetContext* context) {
    if ((binding.flags & 1) == 0) {
        binding.context->RegisterHostCallback(DriverHostCallback(), context);
        binding.flags |= 1;
    }
}
}  // namespace

BOOL ScriptUiDocumentPages(ScriptUiBinding* binding, SheetContext* context, void* info, LPARAM lParam) {
    if (binding == nullptr || binding->context == nullptr) return FALSE;
    RegisterOnce(*binding, context);
    return binding->context->DocumentPropertySheets(info, lParam) == 0;
}

BOOL ScriptUiDevicePages(ScriptUiBinding* binding, SheetContext* context, void* info, LPARAM lParam) {
    if (binding == nullptr || binding->context == nullptr) return FALSE;
    RegisterOnce(*binding, context);
    return binding->context->DevicePropertySheets(info, lParam) == 0;
}

void ReleaseScriptUi(ScriptUiBinding* binding) {
    if (binding == nullptr) return;
    if (binding->context != nullptr) binding->context->Release();
    if (binding->module != nullptr) FreeLibrary(binding->module);
    GlobalFree(binding);
}

}  // namespace zq

extern "C" BOOL DllInitialize(HINSTANCE module, DWORD reason, LPVOID) {
    zq::ModuleState& state = zq::State();
    if (reason == DLL_PROCESS_ATTACH) {
        state.module = module;
        // The dialog library under each of its names, and the scripted
        // plug-in, beside the driver: kept resident for the process. A
        // plug-in that does not load is no failure.
        const std::u16string first = zq::BesideDriver(module, zq::AnsiToWide(zq::kFirstDialogLibrary));
        if (first.empty()) {
            state.module = nullptr;
            return FALSE;
        }
        state.firstDialogLibrary = LoadLibraryW(first.c_str());
        state.secondDialogLibrary =
            LoadLibraryW(zq::BesideDriver(module, zq::AnsiToWide(zq::kSecondDialogLibrary)).c_str());
        state.scriptPlugin = LoadLibraryW(zq::BesideDriver(module, zq::kScriptUiFileName).c_str());
        return TRUE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        for (HMODULE* m : {&state.firstDialogLibrary, &state.secondDialogLibrary, &state.scriptPlugin}) {
            if (*m != nullptr) FreeLibrary(*m);
            *m = nullptr;
        }
        return TRUE;
    }
    return FALSE;
}

// The loader's name for the module entry.
extern "C" BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    return DllInitialize(module, reason, reserved);
}
