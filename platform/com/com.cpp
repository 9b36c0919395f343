// The COM runtime subset: initialisation counted per process, and object
// creation from a table of in-process classes.
#include "com/com.h"

#include <mutex>
#include <vector>

#include "base/error.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace zq::com {
HRESULT CreateShellLink(REFIID iid, void** out);
}

namespace {

struct ClassEntry {
    CLSID clsid;
    ComClassFactory factory;
};

std::mutex mutex;
int initialized = 0;

std::vector<ClassEntry>& Classes() {
    static std::vector<ClassEntry> classes{{CLSID_ShellLink, zq::com::CreateShellLink}};
    return classes;
}

}  // namespace

bool CoRegisterInProcessClass(REFCLSID clsid, ComClassFactory factory) {
    std::lock_guard lock(mutex);
    for (auto& c : Classes())
        if (IsEqualGUID(c.clsid, clsid)) return false;
    Classes().push_back({clsid, factory});
    return true;
}

extern "C" {

HRESULT CoInitialize(LPVOID) {
    std::lock_guard lock(mutex);
    return initialized++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    std::lock_guard lock(mutex);
    if (initialized > 0) --initialized;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    ComClassFactory factory = nullptr;
    {
        std::lock_guard lock(mutex);
        if (initialized == 0) return CO_E_NOTINITIALIZED;
        for (auto& c : Classes())
            if (IsEqualGUID(c.clsid, clsid)) factory = c.factory;
    }
    if (!factory || !(context & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    if (outer) return CLASS_E_NOAGGREGATION;
    return factory(iid, out);
}

}
