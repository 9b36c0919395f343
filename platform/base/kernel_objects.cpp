#include "base/kernel_objects.h"

#include "base/error.h"

namespace zq {

namespace {

struct Table {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x100;
};

Table& TheTable() {
    static Table* table = new Table;  // outlives static destructors of callers
    return *table;
}

}  // namespace

DWORD KernelObject::Wait(DWORD) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE HandleTable::Add(std::shared_ptr<KernelObject> object) {
    auto& t = TheTable();
    std::lock_guard g(t.lock);
    // Values are not reused soon, so a stale handle finds nothing rather
    // than someone else's object; they stay below 2^31 for HFILE.
    uintptr_t value;
    do {
        value = t.next;
        t.next = t.next >= 0x7FFFFFF0 ? 0x100 : t.next + 4;
    } while (t.objects.count(value));
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> HandleTable::Find(HANDLE handle) {
    auto& t = TheTable();
    std::lock_guard g(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

bool HandleTable::Remove(HANDLE handle) {
    std::shared_ptr<KernelObject> last;  // destroyed outside the lock
    auto& t = TheTable();
    std::lock_guard g(t.lock);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return false;
    last = std::move(it->second);
    t.objects.erase(it);
    return true;
}

void HandleTable::InvalidHandle() { SetLastError(ERROR_INVALID_HANDLE); }

}  // namespace zq

extern "C" BOOL CloseHandle(HANDLE handle) {
    if (!zq::HandleTable::Remove(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto object = zq::HandleTable::Find(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return object->Wait(milliseconds);
}
