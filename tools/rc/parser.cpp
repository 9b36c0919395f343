// Resource-script statements: string tables, dialogs, menus, bitmaps, icons
// and user data. Dialog and menu templates are encoded exactly as the dialog
// manager and the menu loader read them (DLGTEMPLATE, DLGTEMPLATEEX, menu
// templates and extended menu templates).
#include "parser.h"

#include <algorithm>

#include "base/resource_directory.h"

namespace zq::rc {

namespace {

constexpr uint32_t WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_POPUP = 0x80000000, WS_BORDER = 0x00800000,
                   WS_SYSMENU = 0x00080000, WS_CAPTION = 0x00C00000, WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000,
                   DS_SETFONT = 0x40;

// The predefined window classes of dialog items, stored as ordinals.
constexpr std::pair<const char*, uint16_t> kClassAtoms[] = {
    {"BUTTON", 0x80}, {"EDIT", 0x81}, {"STATIC", 0x82}, {"LISTBOX", 0x83}, {"SCROLLBAR", 0x84}, {"COMBOBOX", 0x85}};

// Control statements with their class and default style (WS_CHILD and
// WS_VISIBLE are always added; a style given in the script is ORed in, NOT
// takes bits away).
struct ControlKind {
    const char* keyword;
    uint16_t atom;
    uint32_t style;
    bool hasText;
};
constexpr ControlKind kControls[] = {
    {"LTEXT", 0x82, 0x0 | WS_GROUP, true},           {"RTEXT", 0x82, 0x2 | WS_GROUP, true},
    {"CTEXT", 0x82, 0x1 | WS_GROUP, true},           {"PUSHBUTTON", 0x80, 0x0 | WS_TABSTOP, true},
    {"DEFPUSHBUTTON", 0x80, 0x1 | WS_TABSTOP, true}, {"PUSHBOX", 0x80, 0xA | WS_TABSTOP, true},
    {"GROUPBOX", 0x80, 0x7, true},                   {"CHECKBOX", 0x80, 0x2 | WS_TABSTOP, true},
    {"AUTOCHECKBOX", 0x80, 0x3 | WS_TABSTOP, true},  {"RADIOBUTTON", 0x80, 0x4 | WS_TABSTOP, true},
    {"AUTORADIOBUTTON", 0x80, 0x9 | WS_TABSTOP, true}, {"STATE3", 0x80, 0x5 | WS_TABSTOP, true},
    {"AUTO3STATE", 0x80, 0x6 | WS_TABSTOP, true},    {"EDITTEXT", 0x81, 0x0 | WS_BORDER | WS_TABSTOP, false},
    {"COMBOBOX", 0x85, 0x1 | WS_TABSTOP, false},     {"LISTBOX", 0x83, 0x1 | WS_BORDER, false},
    {"SCROLLBAR", 0x84, 0x0, false},
};

std::u16string Upper(std::u16string s) {
    for (auto& c : s)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return s;
}

bool EqualNoCase(const std::u16string& a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        char y = b[i];
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != static_cast<char16_t>(static_cast<unsigned char>(y))) return false;
    }
    return true;
}

void PutNameOrId(Bytes& b, const NameOrId& n, bool noneIsZero) {
    if (n.isId) {
        b.U16(0xFFFF);
        b.U16(n.id);
    } else if (n.name.empty() && noneIsZero) {
        b.U16(0);
    } else {
        b.Wide(n.name);
    }
}

constexpr std::string_view kUnsupported[] = {"ACCELERATORS", "CURSOR", "FONT", "MESSAGETABLE",
                                             "DLGINIT", "TOOLBAR", "HTML", "TEXTINCLUDE"};

}  // namespace

// ---------------------------------------------------------------- helpers

Token Parser::Expect(std::string_view punct, std::string_view what) {
    Token t = in_.Next();
    bool ok = t.Is(punct) || (punct == "{" && t.IsWord("BEGIN")) || (punct == "}" && t.IsWord("END"));
    if (!ok)
        Fail(t.at, "expected '" + std::string(punct) + "' " + std::string(what) + ", found " +
                       (t.kind == TokenKind::End ? std::string("end of file") : "'" + t.text + "'"));
    return t;
}

bool Parser::Accept(std::string_view punct) {
    if (!in_.Peek().Is(punct)) return false;
    in_.Next();
    return true;
}

int64_t Parser::Number() {
    auto e = ParseExpr(in_);
    return Evaluate(*e, symbols_);
}

int64_t Parser::Ranged(int64_t lo, int64_t hi, std::string_view what) {
    Location at = in_.Peek().at;
    int64_t v = Number();
    if (v < lo || v > hi)
        Fail(at, std::string(what) + " " + std::to_string(v) + " is out of range " + std::to_string(lo) + ".." +
                     std::to_string(hi));
    return v;
}

uint32_t Parser::Style(uint32_t base) {
    uint32_t v = base;
    for (;;) {
        bool negate = false;
        if (in_.Peek().IsWord("NOT")) {
            in_.Next();
            negate = true;
        }
        auto e = ParseExpr(in_, true);
        auto x = static_cast<uint32_t>(Evaluate(*e, symbols_));
        v = negate ? (v & ~x) : (v | x);
        if (!Accept("|")) return v;
    }
}

std::u32string Parser::String(bool* wide) {
    Token t = in_.Next();
    if (t.kind != TokenKind::String) Fail(t.at, "expected a string, found '" + t.text + "'");
    std::u32string s = t.string;
    bool w = t.wide;
    while (in_.Peek().kind == TokenKind::String) {  // adjacent strings join
        Token more = in_.Next();
        s += more.string;
        w = w || more.wide;
    }
    if (wide) *wide = w;
    return s;
}

ResourceKey Parser::Key(std::string_view what) {
    const Token& t = in_.Peek();
    ResourceKey k;
    if (t.kind == TokenKind::String) {
        Token s = in_.Next();
        k.isString = true;
        k.name = Upper(ToUtf16(s.string));
        if (k.name.empty()) Fail(s.at, std::string(what) + " is empty");
        return k;
    }
    if (t.kind == TokenKind::Identifier && !symbols_.Lookup(t.text)) {
        Token s = in_.Next();
        k.isString = true;
        k.name = Upper(ToUtf16(s.text));
        return k;
    }
    k.id = static_cast<uint16_t>(Ranged(0, 0xFFFF, what));
    return k;
}

NameOrId Parser::TemplateName(const Token& t) {
    NameOrId n;
    if (t.kind == TokenKind::String) {
        n.name = ToUtf16(t.string);
    } else if (t.kind == TokenKind::Number) {
        n.isId = true;
        n.id = static_cast<uint16_t>(t.number);
    } else if (t.kind == TokenKind::Identifier) {
        if (auto v = symbols_.Lookup(t.text)) {
            n.isId = true;
            n.id = static_cast<uint16_t>(*v);
        } else {
            n.name = Upper(ToUtf16(t.text));
        }
    } else {
        Fail(t.at, "expected a name or number, found '" + t.text + "'");
    }
    return n;
}

void Parser::Begin(std::string_view what) { Expect("{", what); }

bool Parser::AtEnd() {
    const Token& t = in_.Peek();
    if (t.Is("}") || t.IsWord("END")) {
        in_.Next();
        return true;
    }
    if (t.kind == TokenKind::End) Fail(t.at, "END missing before end of file");
    return false;
}

void Parser::SkipMemoryOptions() {
    static constexpr std::string_view kOptions[] = {"PRELOAD", "LOADONCALL", "FIXED", "MOVEABLE", "DISCARDABLE",
                                                    "PURE", "IMPURE", "SHARED", "NONSHARED"};
    for (;;) {
        const Token& t = in_.Peek();
        if (std::none_of(std::begin(kOptions), std::end(kOptions), [&](std::string_view o) { return t.IsWord(o); })) return;
        in_.Next();
    }
}

void Parser::AddResource(ResourceKey type, ResourceKey name, std::vector<uint8_t> data, const Location& at) {
    size_t total = data.size();
    for (const auto& r : result_.resources) total += r.data.size();
    if (total > options_.maxResourceBytes) Fail(at, "resources exceed the size limit");
    Resource r;
    r.type = std::move(type);
    r.name = std::move(name);
    r.language = language_;
    r.data = std::move(data);
    r.origin = at.Text();
    result_.resources.push_back(std::move(r));
}

std::vector<uint8_t> Parser::ReadFile(const Token& nameToken) {
    std::string name = ToAnsi(nameToken.string, nameToken.at);
    auto path = in_.Resolve(name, nameToken.at);
    std::string text = in_.ReadWhole(path, nameToken.at);
    if (text.size() > options_.maxResourceBytes) Fail(nameToken.at, "'" + name + "' is too large");
    return std::vector<uint8_t>(text.begin(), text.end());
}

// ---------------------------------------------------------------- top level

void Parser::Run() {
    for (;;) {
        const Token& t = in_.Peek();
        if (t.kind == TokenKind::End) break;
        if (t.IsWord("LANGUAGE")) {
            in_.Next();
            auto primary = Ranged(0, 0x3FF, "primary language");
            Comma("between the languages");
            auto sub = Ranged(0, 0x3F, "sublanguage");
            language_ = static_cast<uint16_t>((sub << 10) | primary);
            continue;
        }
        if (t.IsWord("STRINGTABLE")) {
            Token start = in_.Next();
            StringTable(start);
            continue;
        }
        if (t.IsWord("STRUCT")) {
            Token start = in_.Next();
            Struct(start);
            continue;
        }
        if (t.IsWord("RECORD")) {
            Token start = in_.Next();
            Record(start);
            continue;
        }
        if (t.kind == TokenKind::Punct) Fail(t.at, "unexpected '" + t.text + "'");
        ResourceKey name = Key("resource name");
        Token type = in_.Peek();
        if (type.kind == TokenKind::End) Fail(type.at, "resource type missing at end of file");
        for (auto u : kUnsupported)
            if (type.IsWord(u)) Fail(type.at, std::string(u) + " resources are not supported");
        if (type.IsWord("DIALOG") || type.IsWord("DIALOGEX")) {
            in_.Next();
            Dialog(std::move(name), type.IsWord("DIALOGEX"), type);
        } else if (type.IsWord("MENU") || type.IsWord("MENUEX")) {
            in_.Next();
            Menu(std::move(name), type.IsWord("MENUEX"), type);
        } else if (type.IsWord("BITMAP")) {
            in_.Next();
            Bitmap(std::move(name), type);
        } else if (type.IsWord("ICON")) {
            in_.Next();
            Icon(std::move(name), type);
        } else if (type.IsWord("VERSIONINFO")) {
            in_.Next();
            VersionInfo(std::move(name), type);
        } else if (type.IsWord("RCDATA")) {
            in_.Next();
            ResourceKey rt;
            rt.id = kRtRcdata;
            UserData(std::move(rt), std::move(name), type);
        } else {
            ResourceKey rt = Key("resource type");
            UserData(std::move(rt), std::move(name), type);
        }
    }
    // String tables become blocks of sixteen length-prefixed UTF-16 strings.
    for (auto& [key, block] : pendingStrings_) {
        Bytes b;
        for (const auto& s : block.first) {
            b.U16(s.size());
            for (char16_t c : s) b.U16(c);
        }
        ResourceKey type;
        type.id = kRtString;
        ResourceKey name;
        name.id = static_cast<uint16_t>((key & 0xFFFF) + 1);
        uint16_t saved = language_;
        language_ = static_cast<uint16_t>(key >> 16);
        AddResource(type, name, std::move(b.v), stringOrigins_[key]);
        language_ = saved;
    }
}

void Parser::StringTable(const Token& start) {
    uint16_t lang = language_;
    SkipMemoryOptions();
    for (;;) {
        const Token& t = in_.Peek();
        if (t.IsWord("LANGUAGE")) {
            in_.Next();
            auto primary = Ranged(0, 0x3FF, "primary language");
            Comma("between the languages");
            auto sub = Ranged(0, 0x3F, "sublanguage");
            lang = static_cast<uint16_t>((sub << 10) | primary);
        } else if (t.IsWord("CHARACTERISTICS") || t.IsWord("VERSION")) {
            in_.Next();
            Number();
        } else {
            break;
        }
    }
    Begin("to open the STRINGTABLE");
    while (!AtEnd()) {
        Location at = in_.Peek().at;
        auto id = static_cast<uint32_t>(Ranged(0, 0xFFFF, "string id"));
        AcceptComma();
        std::u16string text = ToUtf16(String());
        if (text.size() > 0xFFFF) Fail(at, "string too long");
        uint32_t key = (static_cast<uint32_t>(lang) << 16) | (id >> 4);
        auto& block = pendingStrings_[key];
        if (block.second[id & 15]) Fail(at, "string id " + std::to_string(id) + " defined twice");
        block.second[id & 15] = true;
        block.first[id & 15] = std::move(text);
        stringOrigins_.emplace(key, at);
    }
    (void)start;
}

// ---------------------------------------------------------------- dialogs

void Parser::Dialog(ResourceKey name, bool ex, const Token& start) {
    SkipMemoryOptions();
    auto x = Ranged(-32768, 32767, "x");
    Comma("after x");
    auto y = Ranged(-32768, 32767, "y");
    Comma("after y");
    auto cx = Ranged(-32768, 32767, "width");
    Comma("after the width");
    auto cy = Ranged(-32768, 32767, "height");
    uint32_t helpId = 0;
    if (ex && AcceptComma()) helpId = static_cast<uint32_t>(Number());

    uint32_t style = WS_POPUP | WS_BORDER | WS_SYSMENU;
    uint32_t exStyle = 0;
    bool hasCaption = false, hasFont = false;
    std::u16string caption, face;
    uint16_t pointSize = 0, weight = 0;
    uint8_t italic = 0, charset = 1;
    NameOrId menu, cls;
    uint16_t saved = language_;
    for (;;) {
        const Token& t = in_.Peek();
        if (t.IsWord("STYLE")) {
            in_.Next();
            style = Style(0);
        } else if (t.IsWord("EXSTYLE")) {
            in_.Next();
            exStyle = Style(0);
        } else if (t.IsWord("CAPTION")) {
            in_.Next();
            caption = ToUtf16(String());
            hasCaption = true;
        } else if (t.IsWord("FONT")) {
            in_.Next();
            pointSize = static_cast<uint16_t>(Ranged(0, 0xFFFF, "point size"));
            Comma("after the point size");
            face = ToUtf16(String());
            hasFont = true;
            if (ex && AcceptComma()) {
                weight = static_cast<uint16_t>(Ranged(0, 1000, "font weight"));
                if (AcceptComma()) {
                    italic = static_cast<uint8_t>(Ranged(0, 1, "italic flag"));
                    if (AcceptComma()) charset = static_cast<uint8_t>(Ranged(0, 255, "character set"));
                }
            }
        } else if (t.IsWord("MENU")) {
            in_.Next();
            menu = TemplateName(in_.Next());
        } else if (t.IsWord("CLASS")) {
            in_.Next();
            cls = TemplateName(in_.Next());
        } else if (t.IsWord("LANGUAGE")) {
            in_.Next();
            auto primary = Ranged(0, 0x3FF, "primary language");
            Comma("between the languages");
            auto sub = Ranged(0, 0x3F, "sublanguage");
            language_ = static_cast<uint16_t>((sub << 10) | primary);
        } else if (t.IsWord("CHARACTERISTICS") || t.IsWord("VERSION")) {
            in_.Next();
            Number();
        } else {
            break;
        }
    }
    if (hasCaption) style |= WS_CAPTION;
    if (hasFont) style |= DS_SETFONT;

    struct Item {
        uint32_t style, exStyle, helpId;
        int64_t x, y, cx, cy;
        uint32_t id;
        NameOrId cls, text;
    };
    std::vector<Item> items;
    Begin("to open the dialog's controls");
    while (!AtEnd()) {
        Token kw = in_.Next();
        if (kw.kind != TokenKind::Identifier) Fail(kw.at, "expected a control statement, found '" + kw.text + "'");
        Item it{};
        auto readText = [&] {
            Token t = in_.Next();
            if (t.kind == TokenKind::String) {
                it.text.name = ToUtf16(t.string);
                while (in_.Peek().kind == TokenKind::String) it.text.name += ToUtf16(in_.Next().string);
            } else if (t.kind == TokenKind::Number || t.kind == TokenKind::Identifier) {
                it.text = TemplateName(t);
            } else {
                Fail(t.at, "expected the control's text");
            }
            Comma("after the control's text");
        };
        auto readId = [&] {
            it.id = static_cast<uint32_t>(ex ? Ranged(-0x80000000LL, 0xFFFFFFFFLL, "control id")
                                             : Ranged(-32768, 0xFFFF, "control id") & 0xFFFF);
        };
        auto readRect = [&] {
            it.x = Ranged(-32768, 32767, "x");
            Comma("after x");
            it.y = Ranged(-32768, 32767, "y");
            Comma("after y");
            it.cx = Ranged(-32768, 32767, "width");
            Comma("after the width");
            it.cy = Ranged(-32768, 32767, "height");
        };
        auto readTail = [&](uint32_t base) {
            it.style = base;
            if (AcceptComma()) {
                it.style = Style(base);
                if (AcceptComma()) {
                    it.exStyle = Style(0);
                    if (AcceptComma()) {
                        if (!ex) Fail(in_.Peek().at, "a help id needs DIALOGEX");
                        it.helpId = static_cast<uint32_t>(Number());
                    }
                }
            }
        };
        const ControlKind* kind = nullptr;
        for (const auto& k : kControls)
            if (kw.IsWord(k.keyword)) kind = &k;
        if (kind) {
            if (kind->hasText) readText();
            readId();
            Comma("after the control id");
            readRect();
            it.cls.isId = true;
            it.cls.id = kind->atom;
            readTail(WS_CHILD | WS_VISIBLE | kind->style);
        } else if (kw.IsWord("ICON")) {
            readText();
            readId();
            Comma("after the control id");
            it.x = Ranged(-32768, 32767, "x");
            Comma("after x");
            it.y = Ranged(-32768, 32767, "y");
            it.cls.isId = true;
            it.cls.id = 0x82;
            it.style = WS_CHILD | WS_VISIBLE | 0x3;  // SS_ICON
            if (AcceptComma()) {
                it.cx = Ranged(-32768, 32767, "width");
                Comma("after the width");
                it.cy = Ranged(-32768, 32767, "height");
                readTail(it.style);
            }
        } else if (kw.IsWord("CONTROL")) {
            readText();
            readId();
            Comma("after the control id");
            Token c = in_.Next();
            if (c.kind == TokenKind::String || c.kind == TokenKind::Identifier) {
                std::u16string n = c.kind == TokenKind::String ? ToUtf16(c.string) : ToUtf16(c.text);
                it.cls.name = n;
                for (const auto& [atomName, atom] : kClassAtoms) {
                    if (EqualNoCase(n, atomName)) {
                        it.cls.isId = true;
                        it.cls.id = atom;
                    }
                }
            } else {
                Fail(c.at, "expected the control's class");
            }
            Comma("after the class");
            it.style = Style(WS_CHILD | WS_VISIBLE);
            Comma("after the style");
            readRect();
            if (AcceptComma()) {
                it.exStyle = Style(0);
                if (AcceptComma()) {
                    if (!ex) Fail(in_.Peek().at, "a help id needs DIALOGEX");
                    it.helpId = static_cast<uint32_t>(Number());
                }
            }
        } else {
            Fail(kw.at, "unknown control statement '" + kw.text + "'");
        }
        if (items.size() >= 0xFFFF) Fail(kw.at, "too many controls");
        items.push_back(std::move(it));
    }

    Bytes b;
    if (ex) {
        b.U16(1);
        b.U16(0xFFFF);
        b.U32(helpId);
        b.U32(exStyle);
        b.U32(style);
    } else {
        b.U32(style);
        b.U32(exStyle);
    }
    b.U16(items.size());
    b.U16(static_cast<uint64_t>(x));
    b.U16(static_cast<uint64_t>(y));
    b.U16(static_cast<uint64_t>(cx));
    b.U16(static_cast<uint64_t>(cy));
    PutNameOrId(b, menu, true);
    PutNameOrId(b, cls, true);
    b.Wide(caption);
    if (style & DS_SETFONT) {
        b.U16(pointSize);
        if (ex) {
            b.U16(weight);
            b.U8(italic);
            b.U8(charset);
        }
        b.Wide(face);
    }
    for (const auto& it : items) {
        b.Align(4);
        if (ex) {
            b.U32(it.helpId);
            b.U32(it.exStyle);
            b.U32(it.style);
        } else {
            b.U32(it.style);
            b.U32(it.exStyle);
        }
        b.U16(static_cast<uint64_t>(it.x));
        b.U16(static_cast<uint64_t>(it.y));
        b.U16(static_cast<uint64_t>(it.cx));
        b.U16(static_cast<uint64_t>(it.cy));
        if (ex)
            b.U32(it.id);
        else
            b.U16(it.id);
        PutNameOrId(b, it.cls, false);
        PutNameOrId(b, it.text, false);
        b.U16(0);  // no creation data
    }
    ResourceKey type;
    type.id = kRtDialog;
    AddResource(type, std::move(name), std::move(b.v), start.at);
    language_ = saved;
}

// ---------------------------------------------------------------- menus

namespace {

struct MenuNode {
    bool popup = false;
    std::u16string text;
    uint32_t id = 0;
    uint32_t flags = 0;  // classic option flags, or the extended type
    uint32_t state = 0;
    uint32_t helpId = 0;
    std::vector<MenuNode> children;
};

}  // namespace

void Parser::Menu(ResourceKey name, bool ex, const Token& start) {
    SkipMemoryOptions();
    uint16_t saved = language_;
    while (in_.Peek().IsWord("LANGUAGE") || in_.Peek().IsWord("CHARACTERISTICS") || in_.Peek().IsWord("VERSION")) {
        Token t = in_.Next();
        if (t.IsWord("LANGUAGE")) {
            auto primary = Ranged(0, 0x3FF, "primary language");
            Comma("between the languages");
            auto sub = Ranged(0, 0x3F, "sublanguage");
            language_ = static_cast<uint16_t>((sub << 10) | primary);
        } else {
            Number();
        }
    }
    // Parse the tree first: the last item of each level carries the end mark.
    std::function<std::vector<MenuNode>(int)> parseLevel = [&](int depth) {
        if (depth > 32) Fail(in_.Peek().at, "menus nested too deeply");
        std::vector<MenuNode> nodes;
        Begin("to open the menu items");
        while (!AtEnd()) {
            Token kw = in_.Next();
            MenuNode n;
            bool popup = kw.IsWord("POPUP");
            if (!popup && !kw.IsWord("MENUITEM")) Fail(kw.at, "expected MENUITEM or POPUP, found '" + kw.text + "'");
            n.popup = popup;
            if (!popup && in_.Peek().IsWord("SEPARATOR")) {
                in_.Next();
                if (ex) n.flags = 0x800;  // MFT_SEPARATOR
                nodes.push_back(std::move(n));
                continue;
            }
            n.text = ToUtf16(String());
            if (ex) {
                if (AcceptComma()) {
                    if (!in_.Peek().Is(",")) n.id = static_cast<uint32_t>(Number());
                    if (AcceptComma()) {
                        if (!in_.Peek().Is(",")) n.flags = Style(0);
                        if (AcceptComma()) {
                            if (!in_.Peek().Is(",")) n.state = Style(0);
                            if (popup && AcceptComma()) n.helpId = static_cast<uint32_t>(Number());
                        }
                    }
                }
            } else {
                if (!popup) {
                    Comma("after the item's text");
                    n.id = static_cast<uint32_t>(Ranged(-32768, 0xFFFF, "menu id") & 0xFFFF);
                }
                for (;;) {
                    AcceptComma();
                    const Token& o = in_.Peek();
                    uint32_t bit = o.IsWord("CHECKED") ? 0x8 : o.IsWord("GRAYED") ? 0x1 : o.IsWord("INACTIVE") ? 0x2
                                 : o.IsWord("MENUBARBREAK") ? 0x20 : o.IsWord("MENUBREAK") ? 0x40 : o.IsWord("HELP") ? 0x4000 : 0;
                    if (!bit) break;
                    in_.Next();
                    n.flags |= bit;
                }
            }
            if (popup) n.children = parseLevel(depth + 1);
            nodes.push_back(std::move(n));
        }
        return nodes;
    };
    std::vector<MenuNode> top = parseLevel(0);

    Bytes b;
    std::function<void(const std::vector<MenuNode>&)> put = [&](const std::vector<MenuNode>& nodes) {
        for (size_t i = 0; i < nodes.size(); ++i) {
            const MenuNode& n = nodes[i];
            bool last = i + 1 == nodes.size();
            if (ex) {
                b.Align(4);
                b.U32(n.flags);
                b.U32(n.state);
                b.U32(n.id);
                b.U16((last ? 0x80 : 0) | (n.popup ? 0x01 : 0));
                b.Wide(n.text);
                b.Align(4);
                if (n.popup) {
                    b.U32(n.helpId);
                    put(n.children);
                }
            } else if (n.popup) {
                b.U16(n.flags | 0x10 | (last ? 0x80 : 0));  // MF_POPUP, MF_END
                b.Wide(n.text);
                put(n.children);
            } else {
                b.U16(n.flags | (last ? 0x80 : 0));
                b.U16(n.id);
                b.Wide(n.text);
            }
        }
    };
    if (ex) {
        b.U16(1);  // version
        b.U16(4);  // offset of the first item after this word
        b.U32(0);  // help id of the menu
    } else {
        b.U16(0);
        b.U16(0);
    }
    put(top);
    ResourceKey type;
    type.id = kRtMenu;
    AddResource(type, std::move(name), std::move(b.v), start.at);
    language_ = saved;
}

// ---------------------------------------------------------------- files and data

void Parser::Bitmap(ResourceKey name, const Token& start) {
    SkipMemoryOptions();
    Token file = in_.Next();
    if (file.kind != TokenKind::String) Fail(file.at, "BITMAP needs a file name");
    auto data = ReadFile(file);
    // A resource holds the bitmap without its 14-byte file header.
    if (data.size() < 14 + 12 || data[0] != 'B' || data[1] != 'M') Fail(file.at, "not a BMP file");
    data.erase(data.begin(), data.begin() + 14);
    ResourceKey type;
    type.id = kRtBitmap;
    AddResource(type, std::move(name), std::move(data), start.at);
}

void Parser::Icon(ResourceKey name, const Token& start) {
    SkipMemoryOptions();
    Token file = in_.Next();
    if (file.kind != TokenKind::String) Fail(file.at, "ICON needs a file name");
    auto data = ReadFile(file);
    auto u16 = [&](size_t o) { return static_cast<uint32_t>(data[o] | (data[o + 1] << 8)); };
    auto u32 = [&](size_t o) { return u16(o) | (u16(o + 2) << 16); };
    if (data.size() < 6 || u16(0) != 0 || u16(2) != 1) Fail(file.at, "not an icon file");
    size_t count = u16(4);
    if (count == 0 || data.size() < 6 + 16 * count) Fail(file.at, "icon file cut short");
    Bytes group;
    group.U16(0);
    group.U16(1);
    group.U16(count);
    for (size_t i = 0; i < count; ++i) {
        size_t e = 6 + 16 * i;
        uint32_t size = u32(e + 8), offset = u32(e + 12);
        if (offset > data.size() || size > data.size() - offset) Fail(file.at, "icon image outside the file");
        if (nextIconId_ == 0xFFFF) Fail(file.at, "too many icon images");
        uint16_t id = nextIconId_++;
        for (size_t k = 0; k < 8; ++k) group.U8(data[e + k]);  // size, colours, planes, bits
        group.U32(size);
        group.U16(id);
        ResourceKey type, image;
        type.id = kRtIcon;
        image.id = id;
        AddResource(type, image, std::vector<uint8_t>(data.begin() + offset, data.begin() + offset + size), start.at);
    }
    ResourceKey type;
    type.id = kRtGroupIcon;
    AddResource(type, std::move(name), std::move(group.v), start.at);
}

void Parser::UserData(ResourceKey type, ResourceKey name, const Token& start) {
    SkipMemoryOptions();
    if (in_.Peek().kind == TokenKind::String) {
        Token file = in_.Next();
        AddResource(std::move(type), std::move(name), ReadFile(file), start.at);
        return;
    }
    Bytes b;
    Begin("to open the data (or give a file name)");
    while (!AtEnd()) {
        const Token& t = in_.Peek();
        if (t.kind == TokenKind::String) {
            bool wide = false;
            std::u32string s = String(&wide);
            if (wide) {
                for (char16_t c : ToUtf16(s)) b.U16(c);
            } else {
                for (char c : ToAnsi(s, t.at)) b.U8(static_cast<unsigned char>(c));
            }
        } else {
            bool dword = t.kind == TokenKind::Number && !t.text.empty() && (t.text.back() == 'L' || t.text.back() == 'l');
            auto v = Number();
            if (dword)
                b.U32(static_cast<uint64_t>(v));
            else
                b.U16(static_cast<uint64_t>(v));
        }
        AcceptComma();
        if (b.v.size() > options_.maxResourceBytes) Fail(start.at, "data too large");
    }
    AddResource(std::move(type), std::move(name), std::move(b.v), start.at);
}

// ---------------------------------------------------------------- version

namespace {

// One node of the version block: length, value length, type (1 text,
// 0 binary), its key as UTF-16, then its value and its children, each
// starting on a 4-byte boundary. The lengths are filled in when it closes.
size_t OpenVersionNode(Bytes& b, const std::u16string& key) {
    b.Align(4);
    size_t at = b.v.size();
    b.U16(0);
    b.U16(0);
    b.U16(1);
    b.Wide(key);
    b.Align(4);
    return at;
}

void CloseVersionNode(Bytes& b, size_t at) {
    size_t length = b.v.size() - at;
    b.v[at] = static_cast<uint8_t>(length);
    b.v[at + 1] = static_cast<uint8_t>(length >> 8);
}

void SetVersionValue(Bytes& b, size_t at, uint16_t valueLength, bool text) {
    b.v[at + 2] = static_cast<uint8_t>(valueLength);
    b.v[at + 3] = static_cast<uint8_t>(valueLength >> 8);
    b.v[at + 4] = text ? 1 : 0;
    b.v[at + 5] = 0;
}

}  // namespace

void Parser::VersionInfo(ResourceKey name, const Token& start) {
    uint32_t fileVersion[2] = {0, 0}, productVersion[2] = {0, 0};
    uint32_t flagsMask = 0, flags = 0, os = 0, fileType = 0, subtype = 0;
    auto fourPart = [&](uint32_t out[2]) {
        uint32_t parts[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i) {
            parts[i] = static_cast<uint32_t>(Ranged(0, 0xFFFF, "version part"));
            if (i < 3 && !AcceptComma()) break;
        }
        out[0] = (parts[0] << 16) | parts[1];
        out[1] = (parts[2] << 16) | parts[3];
    };
    for (;;) {
        const Token& t = in_.Peek();
        if (t.IsWord("FILEVERSION")) {
            in_.Next();
            fourPart(fileVersion);
        } else if (t.IsWord("PRODUCTVERSION")) {
            in_.Next();
            fourPart(productVersion);
        } else if (t.IsWord("FILEFLAGSMASK")) {
            in_.Next();
            flagsMask = static_cast<uint32_t>(Number());
        } else if (t.IsWord("FILEFLAGS")) {
            in_.Next();
            flags = static_cast<uint32_t>(Number());
        } else if (t.IsWord("FILEOS")) {
            in_.Next();
            os = static_cast<uint32_t>(Number());
        } else if (t.IsWord("FILETYPE")) {
            in_.Next();
            fileType = static_cast<uint32_t>(Number());
        } else if (t.IsWord("FILESUBTYPE")) {
            in_.Next();
            subtype = static_cast<uint32_t>(Number());
        } else {
            break;
        }
    }
    Bytes b;
    size_t root = OpenVersionNode(b, u"VS_VERSION_INFO");
    // The fixed part: signature, structure version, then the fields above.
    for (uint32_t v : {0xFEEF04BDu, 0x00010000u, fileVersion[0], fileVersion[1], productVersion[0], productVersion[1],
                       flagsMask, flags, os, fileType, subtype, 0u, 0u})
        b.U32(v);
    SetVersionValue(b, root, 52, false);
    std::function<void(int)> block = [&](int depth) {
        if (depth > 8) Fail(start.at, "version blocks nested too deeply");
        Begin("to open the version block");
        while (!AtEnd()) {
            Token kw = in_.Next();
            if (kw.IsWord("BLOCK")) {
                size_t at = OpenVersionNode(b, ToUtf16(String()));
                block(depth + 1);
                CloseVersionNode(b, at);
            } else if (kw.IsWord("VALUE")) {
                size_t at = OpenVersionNode(b, ToUtf16(String()));
                Comma("after the value's name");
                bool text = in_.Peek().kind == TokenKind::String;
                size_t valueStart = b.v.size();
                if (text) {
                    std::u16string all;
                    do {
                        all += ToUtf16(String());
                    } while (AcceptComma() && in_.Peek().kind == TokenKind::String);
                    if (all.empty() || all.back() != u'\0') all.push_back(u'\0');
                    for (char16_t c : all) b.U16(c);
                    SetVersionValue(b, at, static_cast<uint16_t>(all.size()), true);
                } else {
                    do {
                        const Token& t = in_.Peek();
                        bool dword = !t.text.empty() && (t.text.back() == 'L' || t.text.back() == 'l');
                        auto v = Number();
                        if (dword)
                            b.U32(static_cast<uint64_t>(v));
                        else
                            b.U16(static_cast<uint64_t>(v));
                    } while (AcceptComma());
                    SetVersionValue(b, at, static_cast<uint16_t>(b.v.size() - valueStart), false);
                }
                CloseVersionNode(b, at);
            } else {
                Fail(kw.at, "BLOCK or VALUE expected in VERSIONINFO, not '" + kw.text + "'");
            }
            if (b.v.size() > 0xFFFF) Fail(start.at, "version block too large");
        }
    };
    block(0);
    CloseVersionNode(b, root);
    ResourceKey rt;
    rt.id = kRtVersion;
    AddResource(std::move(rt), std::move(name), std::move(b.v), start.at);
}

}  // namespace zq::rc
