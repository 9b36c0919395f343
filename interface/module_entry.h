// The interface driver's module entry: the state kept from process attach
// to detach (its own handle, the dialog library and the scripted plug-in
// kept resident, the one lock), and the binding of the scripted plug-in
// `scriptui` to one sheet.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "base/types.h"
#include "common/uitypes.h"

extern "C" {
// Reason 1 (attach): keeps the handle and loads the plug-ins beside the
// driver; FALSE when the module's path cannot be read. Reason 0 (detach):
// frees them; TRUE. Thread attach and detach: nothing, FALSE.
BOOL DllInitialize(HINSTANCE module, DWORD reason, LPVOID reserved);
}

namespace zq {


// The binding of `scriptui` to one sheet, owned by its context.
struct ScriptUiBinding {
    HMODULE module;
    class iContext* context;  // the uiContext getDevIC returned
    uint32_t flags;  // bit 0: the host callback is registered
};

// What DllInitialize keeps.
struct ModuleState {
    HMODULE module = nullptr;
    HMODULE firstDialogLibrary = nullptr;
    HMODULE secondDialogLibrary = nullptr;
    HMODULE scriptPlugin = nullptr;
    void* dialogControl = nullptr;  // last DialogControl looked up
};
const ModuleState& DriverState();

// Held while a printer is initialised or upgraded.
std::mutex& ModuleLock();

// The file name of the scripted plug-in beside the driver.
inline constexpr const char16_t* kScriptUiFileName = u"scriptui.dll";

// The path of a plug-in beside the driver: the driver's directory (cut
// after its last backslash, slash or colon) and `file`; empty when the
// driver's path cannot be read.
std::u16string BesideDriver(HMODULE driver, std::u16string_view file);

// Loads `scriptui` from `path`, asks it for a uiContext through getDevIC and
// binds it; null (the library stays loaded) when the export is missing or
// answers null, and when the library does not load.
ScriptUiBinding* BindScriptUi(const char16_t* path);

// Pass a sheet call on to the uiContext, registering the driver's host
// callback first; TRUE when the plug-in's operation answered 0.
BOOL ScriptUiDocumentPages(ScriptUiBinding* binding, SheetContext* context, void* info, LPARAM lParam);
BOOL ScriptUiDevicePages(ScriptUiBinding* binding, SheetContext* context, void* info, LPARAM lParam);

// Releases the uiContext, frees the library and the binding; null is ignored.
void ReleaseScriptUi(ScriptUiBinding* binding);

// The host callback that the scripted pages call back; handled by the
// host-callback service, which answers "not handled" until it is built.
using HostCallbackProc = int32_t (*)(void* hostContext, void* request);
HostCallbackProc DriverHostCallback();

// The uiContext as `scriptui` gives it: called through its virtual
// operations only, in this order.
class iContext {
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual int32_t Reserved2(void*) = 0;
    virtual int32_t Reserved3(void*, void*) = 0;
    virtual int32_t DocumentPropertySheets(void* info, LPARAM lParam) = 0;
    virtual int32_t DevicePropertySheets(void* info, LPARAM lParam) = 0;
    virtual void RegisterHostCallback(HostCallbackProc callback, void* hostContext) = 0;
    virtual void* UnregisterHostCallback() = 0;
    virtual int32_t CallHostCallbacks(void* request) = 0;
    virtual void* GetRootFeature() = 0;
    virtual void* CreateFeature(const char16_t* name, int32_t kind, int32_t valueType) = 0;

protected:
    ~iContext() = default;
};

}  // namespace zq
