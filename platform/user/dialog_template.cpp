// The reader of dialog templates: every field is checked against the end of
// the bytes before it is read.
#include "user/dialog_template.h"

#include <cstring>

namespace zq::user {

namespace {

class Reader {
public:
    explicit Reader(std::span<const BYTE> bytes) : bytes_(bytes) {}

    bool Word(WORD& out) { return Raw(&out, sizeof(out)); }
    bool Dword(DWORD& out) { return Raw(&out, sizeof(out)); }
    bool Short(SHORT& out) { return Raw(&out, sizeof(out)); }
    bool Byte(BYTE& out) { return Raw(&out, sizeof(out)); }

    template <class T>
    bool Struct(T& out) {
        return Raw(&out, sizeof(T));
    }

    // A NUL-terminated UTF-16 string; fails when the NUL is missing.
    bool String(std::u16string& out) {
        out.clear();
        for (;;) {
            WORD c;
            if (!Word(c)) return false;
            if (c == 0) return true;
            out.push_back(static_cast<char16_t>(c));
        }
    }

    bool NameOrIdField(NameOrId& out) {
        out = NameOrId{};
        WORD first;
        if (!Word(first)) return false;
        if (first == 0) return true;
        if (first == 0xFFFF) {
            out.isId = true;
            return Word(out.id);
        }
        out.name.push_back(static_cast<char16_t>(first));
        std::u16string rest;
        if (!String(rest)) return false;
        out.name += rest;
        return true;
    }

    // Items start on a 4-byte boundary from the template's start.
    bool Align4() {
        const size_t aligned = (pos_ + 3) & ~size_t{3};
        if (aligned > bytes_.size()) return false;
        pos_ = aligned;
        return true;
    }

    bool Bytes(size_t n, std::vector<BYTE>& out) {
        if (n > bytes_.size() - pos_) return false;
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                   bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return true;
    }

    size_t Position() const { return pos_; }

private:
    bool Raw(void* out, size_t n) {
        if (n > bytes_.size() - pos_) return false;
        std::memcpy(out, bytes_.data() + pos_, n);
        pos_ += n;
        return true;
    }

    std::span<const BYTE> bytes_;
    size_t pos_ = 0;
};

bool ReadItem(Reader& r, bool extended, DialogItemTemplate& item) {
    if (!r.Align4()) return false;
    if (extended) {
        DLGITEMTEMPLATEEX_HEAD h;
        if (!r.Struct(h)) return false;
        item.helpId = h.helpID;
        item.exStyle = h.exStyle;
        item.style = h.style;
        item.x = h.x;
        item.y = h.y;
        item.cx = h.cx;
        item.cy = h.cy;
        item.id = h.id;
    } else {
        DLGITEMTEMPLATE h;
        if (!r.Struct(h)) return false;
        item.style = h.style;
        item.exStyle = h.dwExtendedStyle;
        item.x = h.x;
        item.y = h.y;
        item.cx = h.cx;
        item.cy = h.cy;
        item.id = h.id;
    }
    if (!r.NameOrIdField(item.cls) || !r.NameOrIdField(item.text)) return false;
    WORD extra;
    if (!r.Word(extra)) return false;
    // The classic form counts the size word itself in some writers; the
    // bytes that follow are what the control gets.
    return r.Bytes(extra, item.creationData);
}

}  // namespace

std::u16string ClassOfOrdinal(WORD atom) {
    switch (atom) {
    case 0x80: return u"Button";
    case 0x81: return u"Edit";
    case 0x82: return u"Static";
    case 0x83: return u"ListBox";
    case 0x84: return u"ScrollBar";
    case 0x85: return u"ComboBox";
    default: return {};
    }
}

std::optional<DialogTemplate> ReadDialogTemplate(std::span<const BYTE> bytes) {
    Reader r(bytes);
    DialogTemplate t;
    WORD version = 0, signature = 0;
    {
        Reader peek(bytes);
        if (!peek.Word(version) || !peek.Word(signature)) return std::nullopt;
    }
    t.extended = version == 1 && signature == 0xFFFF;
    WORD count = 0;
    if (t.extended) {
        DLGTEMPLATEEX_HEAD h;
        if (!r.Struct(h)) return std::nullopt;
        t.helpId = h.helpID;
        t.exStyle = h.exStyle;
        t.style = h.style;
        count = h.cDlgItems;
        t.x = h.x;
        t.y = h.y;
        t.cx = h.cx;
        t.cy = h.cy;
    } else {
        DLGTEMPLATE h;
        if (!r.Struct(h)) return std::nullopt;
        t.style = h.style;
        t.exStyle = h.dwExtendedStyle;
        count = h.cdit;
        t.x = h.x;
        t.y = h.y;
        t.cx = h.cx;
        t.cy = h.cy;
    }
    if (!r.NameOrIdField(t.menu) || !r.NameOrIdField(t.cls) || !r.String(t.title)) return std::nullopt;
    if (t.style & DS_SETFONT) {
        t.hasFont = true;
        if (!r.Word(t.pointSize)) return std::nullopt;
        if (t.extended) {
            if (!r.Word(t.weight) || !r.Byte(t.italic) || !r.Byte(t.charset)) return std::nullopt;
        }
        if (!r.String(t.face)) return std::nullopt;
    }
    // Every item needs at least its head: a count larger than the bytes can
    // hold fails before anything is allocated for it.
    const size_t minimum = t.extended ? sizeof(DLGITEMTEMPLATEEX_HEAD) + 6 : sizeof(DLGITEMTEMPLATE) + 6;
    if (static_cast<size_t>(count) * minimum > bytes.size()) return std::nullopt;
    t.items.resize(count);
    for (auto& item : t.items)
        if (!ReadItem(r, t.extended, item)) return std::nullopt;
    t.size = r.Position();
    return t;
}

namespace {

class Writer {
public:
    template <class T>
    void Put(const T& v) {
        const auto* p = reinterpret_cast<const BYTE*>(&v);
        bytes.insert(bytes.end(), p, p + sizeof(T));
    }
    void String(std::u16string_view s) {
        for (char16_t c : s) Put<WORD>(static_cast<WORD>(c));
        Put<WORD>(0);
    }
    void NameOrIdField(const NameOrId& n) {
        if (n.isId) {
            Put<WORD>(0xFFFF);
            Put<WORD>(n.id);
        } else {
            String(n.name);
        }
    }
    void Align4() {
        while (bytes.size() % 4) bytes.push_back(0);
    }
    std::vector<BYTE> bytes;
};

}  // namespace

std::vector<BYTE> WriteDialogTemplate(const DialogTemplate& t) {
    Writer w;
    const auto count = static_cast<WORD>(t.items.size());
    if (t.extended) {
        w.Put(DLGTEMPLATEEX_HEAD{1, 0xFFFF, t.helpId, t.exStyle, t.style, count, t.x, t.y, t.cx, t.cy});
    } else {
        w.Put(DLGTEMPLATE{t.style, t.exStyle, count, t.x, t.y, t.cx, t.cy});
    }
    w.NameOrIdField(t.menu);
    w.NameOrIdField(t.cls);
    w.String(t.title);
    if (t.style & DS_SETFONT) {
        w.Put<WORD>(t.pointSize);
        if (t.extended) {
            w.Put<WORD>(t.weight);
            w.Put<BYTE>(t.italic);
            w.Put<BYTE>(t.charset);
        }
        w.String(t.face);
    }
    for (const auto& item : t.items) {
        w.Align4();
        if (t.extended) {
            w.Put(DLGITEMTEMPLATEEX_HEAD{item.helpId, item.exStyle, item.style, item.x, item.y, item.cx, item.cy,
                                         item.id});
        } else {
            w.Put(DLGITEMTEMPLATE{item.style, item.exStyle, item.x, item.y, item.cx, item.cy,
                                  static_cast<WORD>(item.id)});
        }
        w.NameOrIdField(item.cls);
        w.NameOrIdField(item.text);
        w.Put<WORD>(static_cast<WORD>(item.creationData.size()));
        w.bytes.insert(w.bytes.end(), item.creationData.begin(), item.creationData.end());
    }
    return w.bytes;
}

}  // namespace zq::user
