// Dialog templates in memory: the DLGTEMPLATE and DLGTEMPLATEEX layouts,
// byte for byte as resource compilers and run-time builders write them, and
// one bounds-checked reader for both.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"

#pragma pack(push, 2)
// The fixed head of the classic form (18 bytes); menu, class, title and the
// font follow as strings or ordinals.
struct DLGTEMPLATE {
    DWORD style;
    DWORD dwExtendedStyle;
    WORD cdit;
    SHORT x;
    SHORT y;
    SHORT cx;
    SHORT cy;
};
// The fixed head of a classic item (18 bytes), on a 4-byte boundary.
struct DLGITEMTEMPLATE {
    DWORD style;
    DWORD dwExtendedStyle;
    SHORT x;
    SHORT y;
    SHORT cx;
    SHORT cy;
    WORD id;
};
// The extended form's head (26 bytes) and item head (24 bytes).
struct DLGTEMPLATEEX_HEAD {
    WORD dlgVer;
    WORD signature;
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    WORD cDlgItems;
    SHORT x;
    SHORT y;
    SHORT cx;
    SHORT cy;
};
struct DLGITEMTEMPLATEEX_HEAD {
    DWORD helpID;
    DWORD exStyle;
    DWORD style;
    SHORT x;
    SHORT y;
    SHORT cx;
    SHORT cy;
    DWORD id;
};
#pragma pack(pop)
static_assert(sizeof(DLGTEMPLATE) == 18);
static_assert(offsetof(DLGTEMPLATE, cdit) == 8);
static_assert(sizeof(DLGITEMTEMPLATE) == 18);
static_assert(offsetof(DLGITEMTEMPLATE, id) == 16);
static_assert(sizeof(DLGTEMPLATEEX_HEAD) == 26);
static_assert(offsetof(DLGTEMPLATEEX_HEAD, style) == 12);
static_assert(offsetof(DLGTEMPLATEEX_HEAD, cDlgItems) == 16);
static_assert(sizeof(DLGITEMTEMPLATEEX_HEAD) == 24);
static_assert(offsetof(DLGITEMTEMPLATEEX_HEAD, id) == 20);

using LPCDLGTEMPLATEW = const DLGTEMPLATE*;

// Dialog styles.
constexpr DWORD DS_ABSALIGN = 0x01;
constexpr DWORD DS_SYSMODAL = 0x02;
constexpr DWORD DS_LOCALEDIT = 0x20;
constexpr DWORD DS_SETFONT = 0x40;
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_NOIDLEMSG = 0x100;
constexpr DWORD DS_SETFOREGROUND = 0x200;
constexpr DWORD DS_3DLOOK = 0x0004;
constexpr DWORD DS_FIXEDSYS = 0x0008;
constexpr DWORD DS_NOFAILCREATE = 0x0010;
constexpr DWORD DS_CONTROL = 0x0400;
constexpr DWORD DS_CENTER = 0x0800;
constexpr DWORD DS_CENTERMOUSE = 0x1000;
constexpr DWORD DS_CONTEXTHELP = 0x2000;
constexpr DWORD DS_SHELLFONT = DS_SETFONT | DS_FIXEDSYS;

namespace zq::user {

// A string or an ordinal (0xFFFF followed by a number) of a template.
struct NameOrId {
    bool isId = false;
    WORD id = 0;
    std::u16string name;
    bool empty() const { return !isId && name.empty(); }
};

struct DialogItemTemplate {
    DWORD helpId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    SHORT x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    NameOrId cls;   // ordinals 0x80-0x85: button, edit, static, list box, scroll bar, combo box
    NameOrId text;  // an ordinal names a resource (an icon of a static)
    std::vector<BYTE> creationData;
};

struct DialogTemplate {
    bool extended = false;
    DWORD helpId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    SHORT x = 0, y = 0, cx = 0, cy = 0;
    NameOrId menu;
    NameOrId cls;
    std::u16string title;
    bool hasFont = false;
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE italic = 0;
    BYTE charset = 0;
    std::u16string face;
    std::vector<DialogItemTemplate> items;
    size_t size = 0;  // bytes the template took
};

// Reads either form from exactly these bytes. nullopt when a count, string
// or item runs past the end (nothing past it is read) or the head is not a
// template.
std::optional<DialogTemplate> ReadDialogTemplate(std::span<const BYTE> bytes);

// The bytes of a template, in its form (classic or extended), as a
// resource compiler writes them.
std::vector<BYTE> WriteDialogTemplate(const DialogTemplate& t);

// The class name of an item's class ordinal ("Button" for 0x80...), empty
// for an unknown ordinal.
std::u16string ClassOfOrdinal(WORD atom);

}  // namespace zq::user
