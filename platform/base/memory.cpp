#include "base/memory.h"

#include <sys/sysinfo.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "base/error.h"

namespace {

// Larger requests fail as they would in a 32-bit process.
constexpr size_t kLargestBlock = 0x7FFF0000;

// Blocks come from malloc, so the sanitizers see every overrun and leak.
void* AllocateZeroed(size_t bytes) { return bytes > kLargestBlock ? nullptr : std::calloc(std::max<size_t>(bytes, 1), 1); }

// Handle tokens are never 16-byte aligned, so they can never equal an address
// that malloc returned; each kind has its own low bits, and tokens are never
// reused, so a stale handle stays invalid.
uintptr_t NextToken(uint64_t& counter, uintptr_t kind) { return static_cast<uintptr_t>(++counter << 4) | kind; }
constexpr uintptr_t kHeapToken = 0x8;
constexpr uintptr_t kMovableToken = 0x4;

// ---------------------------------------------------------------------------
// Heaps

struct HeapBlock {
    size_t size;
};

struct Heap {
    size_t maximum = 0;  // 0: grows
    size_t total = 0;
    bool process = false;
    std::unordered_map<void*, HeapBlock> blocks;

    ~Heap() {
        for (auto& [p, b] : blocks) std::free(p);
    }
};

struct HeapTable {
    std::mutex lock;
    uint64_t counter = 0;
    std::unordered_map<uintptr_t, std::unique_ptr<Heap>> heaps;
    HANDLE processHeap = nullptr;
};

HeapTable& Heaps() {
    static HeapTable* table = new HeapTable;  // outlives every static destructor that frees memory
    return *table;
}

Heap* FindHeap(HeapTable& t, HANDLE heap) {
    auto it = t.heaps.find(reinterpret_cast<uintptr_t>(heap));
    return it == t.heaps.end() ? nullptr : it->second.get();
}

// Runs f on the heap behind a handle under the table's lock; an unknown
// handle sets ERROR_INVALID_HANDLE and gives `invalid`.
template <class R, class F>
R WithHeap(HANDLE heap, R invalid, F&& f) {
    HeapTable& t = Heaps();
    std::lock_guard lock(t.lock);
    Heap* h = FindHeap(t, heap);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return invalid;
    }
    return f(*h);
}

// A new heap in the table (the table's lock held).
HANDLE AddHeap(HeapTable& t, size_t maximum, bool process) {
    auto heap = std::make_unique<Heap>();
    heap->maximum = maximum;
    heap->process = process;
    const uintptr_t token = NextToken(t.counter, kHeapToken);
    t.heaps[token] = std::move(heap);
    return reinterpret_cast<HANDLE>(token);
}

bool Fits(const Heap& h, size_t oldSize, size_t newSize) {
    return h.maximum == 0 || h.total - oldSize + newSize <= h.maximum;
}

// ---------------------------------------------------------------------------
// Global and local blocks

struct GlobalBlock {
    void* data;
    size_t size;
    bool movable;
    uint32_t locks;
};

struct GlobalTable {
    std::mutex lock;
    uint64_t counter = 0;
    std::unordered_map<uintptr_t, GlobalBlock> byHandle;
    std::unordered_map<const void*, uintptr_t> byAddress;
};

GlobalTable& Globals() {
    static GlobalTable* table = new GlobalTable;
    return *table;
}

GlobalBlock* FindBlock(GlobalTable& t, HGLOBAL handle) {
    auto it = t.byHandle.find(reinterpret_cast<uintptr_t>(handle));
    return it == t.byHandle.end() ? nullptr : &it->second;
}

// Runs f on the block behind a handle under the table's lock; an unknown
// handle sets ERROR_INVALID_HANDLE and gives `invalid`.
template <class R, class F>
R WithBlock(HGLOBAL handle, R invalid, F&& f) {
    GlobalTable& t = Globals();
    std::lock_guard lock(t.lock);
    GlobalBlock* b = FindBlock(t, handle);
    if (!b) {
        SetLastError(ERROR_INVALID_HANDLE);
        return invalid;
    }
    return f(t, *b);
}

HGLOBAL AllocGlobal(UINT flags, SIZE_T bytes) {
    // Sharing, discarding and compaction flags mean nothing in one address
    // space and are ignored.
    void* data = AllocateZeroed(bytes);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    GlobalTable& t = Globals();
    std::lock_guard lock(t.lock);
    const bool movable = flags & GMEM_MOVEABLE;
    const uintptr_t handle = movable ? NextToken(t.counter, kMovableToken) : reinterpret_cast<uintptr_t>(data);
    t.byHandle[handle] = GlobalBlock{data, bytes, movable, 0};
    t.byAddress[data] = handle;
    return reinterpret_cast<HGLOBAL>(handle);
}

HGLOBAL ReAllocGlobal(HGLOBAL handle, SIZE_T bytes, UINT flags) {
    return WithBlock(handle, HGLOBAL{}, [&](GlobalTable& t, GlobalBlock& b) -> HGLOBAL {
        if (flags & GMEM_MODIFY) {
            // Only the attributes change: a fixed block may become movable.
            if ((flags & GMEM_MOVEABLE) && !b.movable) {
                GlobalBlock moved = b;
                moved.movable = true;
                const uintptr_t token = NextToken(t.counter, kMovableToken);
                t.byHandle.erase(reinterpret_cast<uintptr_t>(handle));
                t.byHandle[token] = moved;
                t.byAddress[moved.data] = token;
                return reinterpret_cast<HGLOBAL>(token);
            }
            return handle;
        }
        if (bytes > kLargestBlock) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        // A movable block moves unless it is locked; a locked block or a fixed
        // block moves only when the caller allows it with GMEM_MOVEABLE.
        const bool mayMove = b.movable ? (b.locks == 0 || (flags & GMEM_MOVEABLE)) : (flags & GMEM_MOVEABLE) != 0;
        if (!mayMove) {
            if (bytes > b.size) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            b.size = bytes;  // shrinks where it stands
            return handle;
        }
        void* data = AllocateZeroed(bytes);
        if (!data) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        std::memcpy(data, b.data, std::min(b.size, bytes));
        GlobalBlock moved = b;
        t.byAddress.erase(moved.data);
        std::free(moved.data);
        moved.data = data;
        moved.size = bytes;
        uintptr_t newHandle = reinterpret_cast<uintptr_t>(handle);
        if (!moved.movable) {
            t.byHandle.erase(newHandle);
            newHandle = reinterpret_cast<uintptr_t>(data);
        }
        t.byHandle[newHandle] = moved;
        t.byAddress[data] = newHandle;
        return reinterpret_cast<HGLOBAL>(newHandle);
    });
}

HGLOBAL FreeGlobal(HGLOBAL handle) {
    if (!handle) return nullptr;
    return WithBlock(handle, handle, [&](GlobalTable& t, GlobalBlock& b) -> HGLOBAL {
        void* data = b.data;
        t.byAddress.erase(data);
        t.byHandle.erase(reinterpret_cast<uintptr_t>(handle));
        std::free(data);
        return nullptr;
    });
}

LPVOID LockGlobal(HGLOBAL handle) {
    return WithBlock(handle, LPVOID{}, [](GlobalTable&, GlobalBlock& b) {
        if (b.movable && b.locks < GMEM_LOCKCOUNT) ++b.locks;
        return b.data;
    });
}

BOOL UnlockGlobal(HGLOBAL handle) {
    return WithBlock(handle, BOOL{FALSE}, [](GlobalTable&, GlobalBlock& b) -> BOOL {
        if (!b.movable) {
            SetLastError(NO_ERROR);
            return FALSE;
        }
        if (b.locks == 0) {
            SetLastError(ERROR_NOT_LOCKED);
            return FALSE;
        }
        if (--b.locks > 0) return TRUE;
        SetLastError(NO_ERROR);
        return FALSE;
    });
}

SIZE_T SizeGlobal(HGLOBAL handle) {
    return WithBlock(handle, SIZE_T{0}, [](GlobalTable&, GlobalBlock& b) -> SIZE_T { return b.size; });
}

HGLOBAL HandleOfGlobal(LPCVOID address) {
    GlobalTable& t = Globals();
    std::lock_guard lock(t.lock);
    if (auto it = t.byAddress.find(address); it != t.byAddress.end()) return reinterpret_cast<HGLOBAL>(it->second);
    if (t.byHandle.count(reinterpret_cast<uintptr_t>(address)))
        return const_cast<HGLOBAL>(address);  // already a handle
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

UINT FlagsGlobal(HGLOBAL handle) {
    return WithBlock(handle, UINT{GMEM_INVALID_HANDLE},
                     [](GlobalTable&, GlobalBlock& b) -> UINT { return b.locks & GMEM_LOCKCOUNT; });
}

}  // namespace

extern "C" HANDLE HeapCreate(DWORD, SIZE_T, SIZE_T maximumSize) {
    HeapTable& t = Heaps();
    std::lock_guard lock(t.lock);
    return AddHeap(t, maximumSize, false);
}

extern "C" BOOL HeapDestroy(HANDLE heap) {
    HeapTable& t = Heaps();
    std::unique_ptr<Heap> doomed;
    {
        std::lock_guard lock(t.lock);
        auto it = t.heaps.find(reinterpret_cast<uintptr_t>(heap));
        if (it == t.heaps.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (it->second->process) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        doomed = std::move(it->second);
        t.heaps.erase(it);
    }
    return TRUE;  // the blocks are freed with the heap
}

extern "C" LPVOID HeapAlloc(HANDLE heap, DWORD, SIZE_T bytes) {
    return WithHeap(heap, LPVOID{}, [&](Heap& h) -> LPVOID {
        void* p = Fits(h, 0, bytes) ? AllocateZeroed(bytes) : nullptr;
        if (!p) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        h.blocks[p] = HeapBlock{bytes};
        h.total += bytes;
        return p;
    });
}

extern "C" LPVOID HeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T bytes) {
    return WithHeap(heap, LPVOID{}, [&](Heap& h) -> LPVOID {
        auto it = h.blocks.find(block);
        if (it == h.blocks.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        const size_t oldSize = it->second.size;
        if (flags & HEAP_REALLOC_IN_PLACE_ONLY) {
            if (bytes > oldSize) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            h.total -= oldSize - bytes;
            it->second.size = bytes;
            return block;
        }
        void* p = Fits(h, oldSize, bytes) ? AllocateZeroed(bytes) : nullptr;
        if (!p) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        std::memcpy(p, block, std::min(oldSize, bytes));
        std::free(block);
        h.blocks.erase(it);
        h.blocks[p] = HeapBlock{bytes};
        h.total = h.total - oldSize + bytes;
        return p;
    });
}

extern "C" BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
    return WithHeap(heap, BOOL{FALSE}, [&](Heap& h) -> BOOL {
        if (!block) return TRUE;
        auto it = h.blocks.find(block);
        if (it == h.blocks.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        h.total -= it->second.size;
        std::free(block);
        h.blocks.erase(it);
        return TRUE;
    });
}

extern "C" SIZE_T HeapSize(HANDLE heap, DWORD, LPCVOID block) {
    constexpr SIZE_T kFailed = static_cast<SIZE_T>(-1);
    return WithHeap(heap, kFailed, [&](Heap& h) -> SIZE_T {
        auto it = h.blocks.find(const_cast<void*>(block));
        if (it == h.blocks.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return kFailed;
        }
        return it->second.size;
    });
}

extern "C" BOOL HeapValidate(HANDLE heap, DWORD, LPCVOID block) {
    HeapTable& t = Heaps();
    std::lock_guard lock(t.lock);
    Heap* h = FindHeap(t, heap);
    if (!h) return FALSE;
    return !block || h->blocks.count(const_cast<void*>(block)) ? TRUE : FALSE;
}

extern "C" HANDLE GetProcessHeap() {
    HeapTable& t = Heaps();
    std::lock_guard lock(t.lock);
    if (!t.processHeap) t.processHeap = AddHeap(t, 0, true);
    return t.processHeap;
}

extern "C" HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) { return AllocGlobal(flags, bytes); }
extern "C" HGLOBAL GlobalReAlloc(HGLOBAL block, SIZE_T bytes, UINT flags) { return ReAllocGlobal(block, bytes, flags); }
extern "C" HGLOBAL GlobalFree(HGLOBAL block) { return FreeGlobal(block); }
extern "C" LPVOID GlobalLock(HGLOBAL block) { return LockGlobal(block); }
extern "C" BOOL GlobalUnlock(HGLOBAL block) { return UnlockGlobal(block); }
extern "C" SIZE_T GlobalSize(HGLOBAL block) { return SizeGlobal(block); }
extern "C" HGLOBAL GlobalHandle(LPCVOID address) { return HandleOfGlobal(address); }
extern "C" UINT GlobalFlags(HGLOBAL block) { return FlagsGlobal(block); }

extern "C" HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) { return AllocGlobal(flags, bytes); }
extern "C" HLOCAL LocalReAlloc(HLOCAL block, SIZE_T bytes, UINT flags) { return ReAllocGlobal(block, bytes, flags); }
extern "C" HLOCAL LocalFree(HLOCAL block) { return FreeGlobal(block); }
extern "C" LPVOID LocalLock(HLOCAL block) { return LockGlobal(block); }
extern "C" BOOL LocalUnlock(HLOCAL block) { return UnlockGlobal(block); }
extern "C" SIZE_T LocalSize(HLOCAL block) { return SizeGlobal(block); }
extern "C" HLOCAL LocalHandle(LPCVOID address) { return HandleOfGlobal(address); }
extern "C" UINT LocalFlags(HLOCAL block) { return FlagsGlobal(block); }

namespace zq {

size_t HeapBlockCount(HANDLE heap) {
    HeapTable& t = Heaps();
    std::lock_guard lock(t.lock);
    Heap* h = FindHeap(t, heap);
    return h ? h->blocks.size() : 0;
}

size_t GlobalBlockCount() {
    GlobalTable& t = Globals();
    std::lock_guard lock(t.lock);
    return t.byHandle.size();
}

}  // namespace zq

extern "C" void GlobalMemoryStatus(MEMORYSTATUS* status) {
    if (status == nullptr) return;
    struct sysinfo info {};
    *status = MEMORYSTATUS{};
    status->dwLength = sizeof *status;
    if (sysinfo(&info) != 0) return;
    const auto bytes = [&](unsigned long v) { return static_cast<SIZE_T>(v) * info.mem_unit; };
    status->dwTotalPhys = bytes(info.totalram);
    status->dwAvailPhys = bytes(info.freeram + info.bufferram);
    status->dwTotalPageFile = bytes(info.totalram + info.totalswap);
    status->dwAvailPageFile = bytes(info.freeram + info.bufferram + info.freeswap);
    // The address space of a 32-bit process, as the record's readers expect.
    status->dwTotalVirtual = 0x7FFE0000;
    status->dwAvailVirtual = 0x7FFE0000;
    if (info.totalram > 0)
        status->dwMemoryLoad = static_cast<DWORD>(100 - (info.freeram + info.bufferram) * 100 / info.totalram);
}
