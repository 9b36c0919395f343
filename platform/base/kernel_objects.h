// The process's table of kernel-object handles.
//
// Files, find searches and processes are objects behind a HANDLE. An area
// that adds a kind of object derives from zq::KernelObject, puts it in the
// table with HandleTable::Add and finds it again with HandleTable::Get<T>;
// CloseHandle takes the handle out of the table, and the object is destroyed
// (its destructor releases what it holds) when the last user lets go of it.
// WaitForSingleObject asks the object's Wait.
//
// Handle values are small multiples of four, never 0 or
// INVALID_HANDLE_VALUE, and fit in 32 bits, so a handle also serves as the
// 16-bit-style HFILE of OpenFile and _lopen.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "base/types.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

extern "C" {
BOOL CloseHandle(HANDLE handle);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
}

namespace zq {

class KernelObject {
public:
    virtual ~KernelObject() = default;
    // WAIT_OBJECT_0 when signalled within the time (INFINITE: no limit),
    // WAIT_TIMEOUT, or WAIT_FAILED with the last error set. Objects that
    // cannot be waited on keep this default.
    virtual DWORD Wait(DWORD milliseconds);
};

class HandleTable {
public:
    static HANDLE Add(std::shared_ptr<KernelObject> object);
    static std::shared_ptr<KernelObject> Find(HANDLE handle);
    // The object when it is of type T; null (last error
    // ERROR_INVALID_HANDLE) otherwise.
    template <class T>
    static std::shared_ptr<T> Get(HANDLE handle) {
        auto object = std::dynamic_pointer_cast<T>(Find(handle));
        if (!object) InvalidHandle();
        return object;
    }
    // Takes the handle out of the table; false for an unknown handle.
    static bool Remove(HANDLE handle);

private:
    static void InvalidHandle();
};

}  // namespace zq
