// Menus: a table of menus behind HMENU (handles never reused), items by
// command (searching sub-menus) or by position, menu bars of top-level
// windows, and the two template readers.
#include "user/menu.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "base/error.h"
#include "base/resources.h"
#include "base/text.h"
#include "user/window_internal.h"

using namespace zq::user::detail;

namespace {

constexpr UINT kNotFound = 0xFFFFFFFF;
constexpr int kMaxDepth = 32;

struct MenuItem {
    UINT type = 0;   // MF_SEPARATOR, MF_POPUP, MF_OWNERDRAW, breaks, MF_HELP
    UINT state = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_DEFAULT, MF_HILITE
    UINT_PTR id = 0;
    std::u16string text;
    HMENU sub = nullptr;
    ULONG_PTR data = 0;
};

struct Menu {
    bool popup = false;
    std::vector<MenuItem> items;
};

struct MenuTable {
    std::unordered_map<uintptr_t, std::unique_ptr<Menu>> menus;
    uintptr_t next = 0x20010;
};

MenuTable& M() {
    static auto* table = new MenuTable;
    return *table;
}

Menu* Get(HMENU menu) {
    auto it = M().menus.find(reinterpret_cast<uintptr_t>(menu));
    if (it == M().menus.end()) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
    }
    return it->second.get();
}

HMENU Make(bool popup) {
    std::lock_guard guard(Lock());
    const uintptr_t h = M().next;
    M().next += 4;
    auto m = std::make_unique<Menu>();
    m->popup = popup;
    M().menus.emplace(h, std::move(m));
    return reinterpret_cast<HMENU>(h);
}

constexpr UINT kTypeBits = MF_SEPARATOR | MF_POPUP | MF_OWNERDRAW | MF_BITMAP | MF_MENUBARBREAK | MF_MENUBREAK | MF_HELP;
constexpr UINT kStateBits = MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_DEFAULT | MF_HILITE;

MenuItem ItemOf(UINT flags, UINT_PTR id, LPCWSTR text) {
    MenuItem item;
    item.type = flags & kTypeBits;
    item.state = flags & kStateBits;
    if (flags & MF_POPUP) {
        item.sub = reinterpret_cast<HMENU>(id);
        item.id = id;
    } else {
        item.id = id;
    }
    if (!(flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)) && text) item.text = text;
    if (flags & MF_OWNERDRAW) item.data = reinterpret_cast<ULONG_PTR>(text);
    return item;
}

// The item by command (sub-menus searched too) or by position.
MenuItem* Locate(HMENU menu, UINT item, UINT flags, Menu** owner = nullptr, size_t* index = nullptr,
                 int depth = 0) {
    Menu* m = Get(menu);
    if (!m || depth > kMaxDepth) return nullptr;
    if (flags & MF_BYPOSITION) {
        if (item >= m->items.size()) return nullptr;
        if (owner) *owner = m;
        if (index) *index = item;
        return &m->items[item];
    }
    for (size_t i = 0; i < m->items.size(); ++i) {
        MenuItem& it = m->items[i];
        if (it.sub) {
            if (MenuItem* found = Locate(it.sub, item, flags, owner, index, depth + 1)) return found;
            continue;
        }
        if (static_cast<UINT>(it.id) == item) {
            if (owner) *owner = m;
            if (index) *index = i;
            return &it;
        }
    }
    return nullptr;
}

void DestroyTree(HMENU menu, int depth = 0) {
    auto it = M().menus.find(reinterpret_cast<uintptr_t>(menu));
    if (it == M().menus.end() || depth > kMaxDepth) return;
    std::unique_ptr<Menu> m = std::move(it->second);
    M().menus.erase(it);
    for (auto& item : m->items)
        if (item.sub) DestroyTree(item.sub, depth + 1);
}

// ---- Templates ---------------------------------------------------------------

class Reader {
public:
    explicit Reader(std::span<const BYTE> b) : b_(b) {}
    bool Word(WORD& v) { return Raw(&v, 2); }
    bool Dword(DWORD& v) { return Raw(&v, 4); }
    bool String(std::u16string& out) {
        out.clear();
        for (;;) {
            WORD c;
            if (!Word(c)) return false;
            if (!c) return true;
            out.push_back(static_cast<char16_t>(c));
        }
    }
    bool Align4() {
        const size_t a = (pos_ + 3) & ~size_t{3};
        if (a > b_.size()) return false;
        pos_ = a;
        return true;
    }
    bool Skip(size_t n) {
        if (n > b_.size() - pos_) return false;
        pos_ += n;
        return true;
    }

private:
    bool Raw(void* out, size_t n) {
        if (n > b_.size() - pos_) return false;
        std::memcpy(out, b_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    std::span<const BYTE> b_;
    size_t pos_ = 0;
};

// One level of the classic form; every level must end with MF_END.
bool ReadLevel(Reader& r, HMENU menu, int depth) {
    if (depth > kMaxDepth) return false;
    for (;;) {
        WORD option;
        if (!r.Word(option)) return false;
        WORD id = 0;
        if (!(option & MF_POPUP) && !r.Word(id)) return false;
        std::u16string text;
        if (!r.String(text)) return false;
        HMENU sub = nullptr;
        if (option & MF_POPUP) {
            sub = CreatePopupMenu();
            if (!ReadLevel(r, sub, depth + 1)) {
                DestroyMenu(sub);
                return false;
            }
        }
        UINT flags = option & ~(MF_END | MF_POPUP);
        if (!(option & MF_POPUP) && id == 0 && text.empty()) flags |= MF_SEPARATOR;
        AppendMenuW(menu, flags | (sub ? MF_POPUP : 0), sub ? reinterpret_cast<UINT_PTR>(sub) : id, text.c_str());
        if (option & MF_END) return true;
    }
}

bool ReadLevelEx(Reader& r, HMENU menu, int depth) {
    if (depth > kMaxDepth) return false;
    for (;;) {
        if (!r.Align4()) return false;
        DWORD type, state, id;
        WORD resInfo;
        std::u16string text;
        if (!r.Dword(type) || !r.Dword(state) || !r.Dword(id) || !r.Word(resInfo) || !r.String(text)) return false;
        if (!r.Align4()) return false;
        HMENU sub = nullptr;
        if (resInfo & 0x01) {
            DWORD help;
            if (!r.Dword(help)) return false;
            sub = CreatePopupMenu();
            if (!ReadLevelEx(r, sub, depth + 1)) {
                DestroyMenu(sub);
                return false;
            }
        }
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING | (sub ? MIIM_SUBMENU : 0);
        info.fType = type;
        info.fState = state;
        info.wID = id;
        info.hSubMenu = sub;
        info.dwTypeData = text.data();
        InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &info);
        if (resInfo & 0x80) return true;
    }
}

thread_local UINT g_popupChoice = 0;

}  // namespace

namespace zq::user::detail {

bool HasMenuBar(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w || (w->style & WS_CHILD) || !w->id) return false;
    std::lock_guard guard(Lock());
    return M().menus.count(static_cast<uintptr_t>(w->id)) != 0;
}

void DestroyMenuBar(HWND hwnd) {
    if (!HasMenuBar(hwnd)) return;
    auto w = Find(hwnd);
    DestroyMenu(reinterpret_cast<HMENU>(w->id));
}

}  // namespace zq::user::detail

namespace zq::user {

HMENU LoadMenuFromBytes(std::span<const BYTE> bytes) {
    Reader r(bytes);
    WORD version, offset;
    if (!r.Word(version) || !r.Word(offset)) return nullptr;
    HMENU menu = CreateMenu();
    bool ok = false;
    if (version == 0) {
        ok = r.Skip(offset) && ReadLevel(r, menu, 0);
    } else if (version == 1) {
        ok = r.Skip(offset) && ReadLevelEx(r, menu, 0);
    }
    if (!ok) {
        DestroyMenu(menu);
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    return menu;
}

void SetPopupMenuChoice(UINT id) { g_popupChoice = id; }

std::string DumpMenu(HMENU menu, int indent) {
    std::string out;
    const int n = GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        WCHAR text[256];
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 256;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info);
        out += std::string(static_cast<size_t>(indent) * 2, ' ');
        if (info.fType & MF_SEPARATOR) {
            out += "-----\n";
            continue;
        }
        out += "\"" + Utf16ToUtf8(text) + "\"";
        if (!info.hSubMenu) out += " #" + std::to_string(info.wID);
        if (info.fState & MF_GRAYED) out += " [grayed]";
        if (info.fState & MF_CHECKED) out += " [checked]";
        out += "\n";
        if (info.hSubMenu) out += DumpMenu(info.hSubMenu, indent + 1);
    }
    return out;
}

}  // namespace zq::user

extern "C" {

HMENU CreateMenu() { return Make(false); }
HMENU CreatePopupMenu() { return Make(true); }

BOOL DestroyMenu(HMENU menu) {
    std::lock_guard guard(Lock());
    if (!Get(menu)) return FALSE;
    DestroyTree(menu);
    return TRUE;
}

BOOL IsMenu(HMENU menu) {
    std::lock_guard guard(Lock());
    return M().menus.count(reinterpret_cast<uintptr_t>(menu)) != 0;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text) {
    std::lock_guard guard(Lock());
    Menu* m = Get(menu);
    if (!m) return FALSE;
    if ((flags & MF_POPUP) && !Get(reinterpret_cast<HMENU>(id))) return FALSE;
    m->items.push_back(ItemOf(flags, id, text));
    return TRUE;
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
    std::lock_guard guard(Lock());
    Menu* m = Get(menu);
    if (!m) return FALSE;
    if ((flags & MF_POPUP) && !Get(reinterpret_cast<HMENU>(id))) return FALSE;
    MenuItem item = ItemOf(flags, id, text);
    if (flags & MF_BYPOSITION) {
        // Past the end (and -1) appends.
        const size_t at = std::min<size_t>(position, m->items.size());
        m->items.insert(m->items.begin() + static_cast<std::ptrdiff_t>(at), std::move(item));
        return TRUE;
    }
    Menu* owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, position, MF_BYCOMMAND, &owner, &index)) {
        m->items.push_back(std::move(item));  // no such command: appended, as Windows does
        return TRUE;
    }
    owner->items.insert(owner->items.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
    return TRUE;
}

BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
    std::lock_guard guard(Lock());
    MenuItem* it = Locate(menu, position, flags & MF_BYPOSITION);
    if (!it) return FALSE;
    *it = ItemOf(flags, id, text);
    return TRUE;
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) {
    std::lock_guard guard(Lock());
    Menu* owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, position, flags & MF_BYPOSITION, &owner, &index)) return FALSE;
    owner->items.erase(owner->items.begin() + static_cast<std::ptrdiff_t>(index));
    return TRUE;
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
    std::lock_guard guard(Lock());
    Menu* owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, position, flags & MF_BYPOSITION, &owner, &index)) return FALSE;
    HMENU sub = owner->items[index].sub;
    owner->items.erase(owner->items.begin() + static_cast<std::ptrdiff_t>(index));
    if (sub) DestroyTree(sub);
    return TRUE;
}

int GetMenuItemCount(HMENU menu) {
    std::lock_guard guard(Lock());
    Menu* m = Get(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
    std::lock_guard guard(Lock());
    Menu* m = Get(menu);
    if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return kNotFound;
    const MenuItem& it = m->items[static_cast<size_t>(position)];
    return it.sub ? kNotFound : static_cast<UINT>(it.id);
}

HMENU GetSubMenu(HMENU menu, int position) {
    std::lock_guard guard(Lock());
    Menu* m = Get(menu);
    if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size()) return nullptr;
    return m->items[static_cast<size_t>(position)].sub;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    std::lock_guard guard(Lock());
    MenuItem* it = Locate(menu, item, flags & MF_BYPOSITION);
    if (!it) return kNotFound;
    if (it->sub) return (static_cast<UINT>(GetMenuItemCount(it->sub)) << 8) | MF_POPUP | it->state | it->type;
    return it->state | it->type;
}

int GetMenuStringW(HMENU menu, UINT item, LPWSTR buffer, int size, UINT flags) {
    std::lock_guard guard(Lock());
    MenuItem* it = Locate(menu, item, flags & MF_BYPOSITION);
    if (!it) return 0;
    if (!buffer || size <= 0) return static_cast<int>(it->text.size());
    const int n = std::min<int>(static_cast<int>(it->text.size()), size - 1);
    std::copy_n(it->text.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT check) {
    std::lock_guard guard(Lock());
    MenuItem* it = Locate(menu, item, check & MF_BYPOSITION);
    if (!it) return kNotFound;
    const DWORD old = it->state & MF_CHECKED;
    it->state = (it->state & ~MF_CHECKED) | (check & MF_CHECKED);
    return old;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable) {
    std::lock_guard guard(Lock());
    MenuItem* it = Locate(menu, item, enable & MF_BYPOSITION);
    if (!it) return static_cast<BOOL>(kNotFound);
    const UINT old = it->state & (MF_GRAYED | MF_DISABLED);
    it->state = (it->state & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
    return static_cast<BOOL>(old);
}

BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags) {
    std::lock_guard guard(Lock());
    bool found = false;
    for (UINT i = first; i <= last && i >= first; ++i) {
        MenuItem* it = Locate(menu, i, flags & MF_BYPOSITION);
        if (!it) continue;
        found = true;
        it->state = i == check ? (it->state | MF_CHECKED) : (it->state & ~MF_CHECKED);
        if (i == last) break;
    }
    return found;
}

BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOW* info) {
    std::lock_guard guard(Lock());
    if (!info || info->cbSize < offsetof(MENUITEMINFOW, hbmpItem)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MenuItem* it = Locate(menu, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
    if (!it) return FALSE;
    if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) info->fType = it->type & ~MF_POPUP;
    if (info->fMask & MIIM_STATE) info->fState = it->state;
    if (info->fMask & MIIM_ID) info->wID = static_cast<UINT>(it->id);
    if (info->fMask & MIIM_SUBMENU) info->hSubMenu = it->sub;
    if (info->fMask & MIIM_DATA) info->dwItemData = it->data;
    if (info->fMask & (MIIM_STRING | MIIM_TYPE)) {
        if (info->dwTypeData && info->cch > 0) {
            const size_t n = std::min<size_t>(it->text.size(), info->cch - 1);
            std::copy_n(it->text.data(), n, info->dwTypeData);
            info->dwTypeData[n] = 0;
            info->cch = static_cast<UINT>(n);
        } else {
            info->cch = static_cast<UINT>(it->text.size());
        }
    }
    return TRUE;
}

static void Assign(MenuItem& it, const MENUITEMINFOW* info) {
    if (info->fMask & (MIIM_FTYPE | MIIM_TYPE)) it.type = (it.type & MF_POPUP) | (info->fType & kTypeBits & ~MF_POPUP);
    if (info->fMask & MIIM_STATE) it.state = info->fState & kStateBits;
    if (info->fMask & MIIM_ID) it.id = info->wID;
    if (info->fMask & MIIM_SUBMENU) {
        it.sub = info->hSubMenu;
        it.type = info->hSubMenu ? (it.type | MF_POPUP) : (it.type & ~MF_POPUP);
    }
    if (info->fMask & MIIM_DATA) it.data = info->dwItemData;
    if ((info->fMask & (MIIM_STRING | MIIM_TYPE)) && info->dwTypeData && !(it.type & MF_SEPARATOR))
        it.text = info->dwTypeData;
}

BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info) {
    std::lock_guard guard(Lock());
    if (!info) return FALSE;
    MenuItem* it = Locate(menu, item, byPosition ? MF_BYPOSITION : MF_BYCOMMAND);
    if (!it) return FALSE;
    Assign(*it, info);
    return TRUE;
}

BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info) {
    std::lock_guard guard(Lock());
    Menu* m = Get(menu);
    if (!m || !info) return FALSE;
    MenuItem it;
    Assign(it, info);
    if (byPosition) {
        m->items.insert(m->items.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(item, m->items.size())),
                        std::move(it));
        return TRUE;
    }
    Menu* owner = nullptr;
    size_t index = 0;
    if (!Locate(menu, item, MF_BYCOMMAND, &owner, &index)) {
        m->items.push_back(std::move(it));
        return TRUE;
    }
    owner->items.insert(owner->items.begin() + static_cast<std::ptrdiff_t>(index), std::move(it));
    return TRUE;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
    auto w = Find(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->style & WS_CHILD) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (menu && !IsMenu(menu)) return FALSE;
    w->id = reinterpret_cast<LONG_PTR>(menu);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    return TRUE;
}

HMENU GetMenu(HWND hwnd) {
    auto w = Find(hwnd);
    if (!w || (w->style & WS_CHILD)) return nullptr;
    return reinterpret_cast<HMENU>(w->id);
}

BOOL DrawMenuBar(HWND hwnd) {
    if (!IsWindow(hwnd)) return FALSE;
    return RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
}

// A template by pointer alone is read as far as its own levels say.
HMENU LoadMenuIndirectW(const void* tmpl) {
    if (!tmpl) return nullptr;
    return zq::user::LoadMenuFromBytes({static_cast<const BYTE*>(tmpl), static_cast<size_t>(1) << 20});
}

HMENU LoadMenuW(HINSTANCE instance, LPCWSTR name) {
    HRSRC res = FindResourceW(instance, name, MAKEINTRESOURCEW(4));
    if (!res) return nullptr;
    const auto* p = static_cast<const BYTE*>(LockResource(LoadResource(instance, res)));
    if (!p) return nullptr;
    return zq::user::LoadMenuFromBytes({p, SizeofResource(instance, res)});
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int, int, int, HWND owner, const RECT*) {
    if (!IsMenu(menu)) return FALSE;
    const UINT choice = g_popupChoice;
    g_popupChoice = 0;
    if (owner && !(flags & TPM_NONOTIFY)) SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
    const UINT state = choice ? GetMenuState(menu, choice, MF_BYCOMMAND) : kNotFound;
    const bool chosen = state != kNotFound && !(state & (MF_GRAYED | MF_DISABLED | MF_POPUP | MF_SEPARATOR));
    if (flags & TPM_RETURNCMD) return chosen ? static_cast<BOOL>(choice) : 0;
    if (chosen && owner) PostMessageW(owner, WM_COMMAND, choice, 0);
    return TRUE;
}

}  // extern "C"
