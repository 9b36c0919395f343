// REGEDIT4 text: the registry exported for fixtures and readable diffs, and
// imported back. Strings are UTF-8 text on the Linux side (the narrow bytes
// of hex(1), hex(2) and hex(7) values are UTF-8 too); lines end in LF, and
// both LF and CR LF are read.
#include <cstdio>
#include <cstdlib>

#include "store/admin.h"
#include "store_internal.h"

namespace zq::store {

namespace {

struct RootName {
    const char16_t* full;
    const char16_t* shortName;
};
constexpr RootName kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", u"HKLM"}, {u"HKEY_USERS", u"HKU"},        {u"HKEY_CURRENT_USER", u"HKCU"},
    {u"HKEY_CURRENT_CONFIG", u"HKCC"}, {u"HKEY_CLASSES_ROOT", u"HKCR"},
};

// The key of a full name: its root's key and the path below it; `create`
// makes the missing keys. `spell` asks for the stored spelling of the names
// below the root in `display`, which costs a look-up per level: an import,
// which never shows the name, goes without.
struct Located {
    std::u16string display;  // the name as exported, with the full root name (asked by `spell`)
    std::optional<KeyId> key;
};

Located Locate(Txn& txn, std::u16string_view name, bool create, bool spell = false) {
    while (!name.empty() && name.front() == u'\\') name.remove_prefix(1);
    auto cut = name.find(u'\\');
    std::u16string_view root = name.substr(0, cut);
    std::u16string_view rest = cut == std::u16string_view::npos ? std::u16string_view() : name.substr(cut + 1);
    while (!rest.empty() && rest.back() == u'\\') rest.remove_suffix(1);
    Db& db = txn.Database();
    for (auto& r : kRoots) {
        if (!SameName(root, r.full) && !SameName(root, r.shortName)) continue;
        std::u16string full = r.full;
        std::optional<KeyId> base;
        std::u16string_view which = r.full;
        if (which == u"HKEY_LOCAL_MACHINE") base = db.Hklm();
        if (which == u"HKEY_USERS") base = db.Hku();
        if (which == u"HKEY_CURRENT_CONFIG") base = db.Hkcc();
        if (which == u"HKEY_CURRENT_USER")
            base = create ? std::optional<KeyId>(txn.CreateChild(db.Hku(), RegistryUser()))
                          : txn.Child(db.Hku(), RegistryUser());
        if (which == u"HKEY_CLASSES_ROOT")
            base = create ? std::optional<KeyId>(txn.WalkCreate(db.Hklm(), u"SOFTWARE\\Classes"))
                          : txn.Walk(db.Hklm(), u"SOFTWARE\\Classes");
        // Only an export shows the name; an import would build it for nothing.
        Located out{!spell ? std::u16string() : rest.empty() ? full : full + u"\\" + std::u16string(rest),
                    std::nullopt};
        if (!base) return out;
        out.key = create ? std::optional<KeyId>(txn.WalkCreate(*base, rest)) : txn.Walk(*base, rest);
        // Keep the stored spelling of the names below the root.
        if (spell && out.key && !rest.empty()) {
            std::u16string path;
            KeyId at = *out.key;
            while (at != *base) {
                auto k = txn.Key(at);
                path = path.empty() ? k->name : k->name + u"\\" + path;
                at = *txn.Parent(at);
            }
            out.display = full + u"\\" + path;
        }
        return out;
    }
    return {};
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

bool Printable(std::u16string_view text) {
    for (char16_t c : text)
        if (c < 0x20) return false;
    return true;
}

void Hex(std::string& out, std::string_view prefix, std::span<const BYTE> bytes) {
    out += prefix;
    size_t line = out.size() - (out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        out += b;
        line += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++line;
            if (line > 76) {
                out += "\\\n  ";
                line = 2;
            }
        }
    }
    out += '\n';
}

std::vector<BYTE> Narrow(std::span<const BYTE> wideBytes) {
    std::u16string w(wideBytes.size() / 2, u'\0');
    if (!w.empty()) std::memcpy(w.data(), wideBytes.data(), w.size() * 2);
    std::string n = ToUtf8(w);
    return std::vector<BYTE>(n.begin(), n.end());
}

void ExportValue(std::string& out, const StoredValue& v) {
    std::string line = v.name.empty() ? "@" : Quote(ToUtf8(v.name));
    line += '=';
    std::u16string text = TextOf(v.data);
    if (v.type == REG_SZ && Printable(text)) {
        out += line + Quote(ToUtf8(text)) + "\n";
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char b[32];
        std::snprintf(b, sizeof b, "dword:%08x\n",
                      static_cast<unsigned>(v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (v.data[3] << 24)));
        out += line + b;
    } else if (v.type == REG_BINARY) {
        Hex(out, line + "hex:", v.data);
    } else {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
        Hex(out, line + prefix, IsStringType(v.type) ? Narrow(v.data) : v.data);
    }
}

void ExportKey(Txn& txn, std::string& out, KeyId key, const std::u16string& display) {
    out += "[" + ToUtf8(display) + "]\n";
    for (auto& v : txn.Values(key)) ExportValue(out, v);
    out += "\n";
    for (auto& c : txn.Children(key)) ExportKey(txn, out, c.id, display + u"\\" + c.name);
}

// Reading.
struct Reader {
    std::string_view text;
    size_t pos = 0;
    int line = 0;
    // The next logical line (continuations joined), without its line end.
    std::optional<std::string> Next() {
        if (pos >= text.size()) return std::nullopt;
        std::string out;
        bool first = true;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view l = text.substr(pos, end - pos);
            pos = end + 1;
            ++line;
            if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
            if (!first) {
                while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
            }
            first = false;
            if (!l.empty() && l.back() == '\\') {
                out += l.substr(0, l.size() - 1);
                continue;
            }
            out += l;
            break;
        }
        return out;
    }
};

std::optional<std::string> Unquote(std::string_view s, size_t& i) {
    if (i >= s.size() || s[i] != '"') return std::nullopt;
    std::string out;
    for (++i; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out.push_back(s[++i]);
        } else if (s[i] == '"') {
            ++i;
            return out;
        } else {
            out.push_back(s[i]);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<BYTE>> ParseHex(std::string_view s) {
    std::vector<BYTE> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == ',' || s[i] == '\t')) ++i;
        if (i >= s.size()) break;
        size_t j = i;
        while (j < s.size() && std::isxdigit(static_cast<unsigned char>(s[j]))) ++j;
        if (j == i || j - i > 2) return std::nullopt;
        out.push_back(static_cast<BYTE>(std::strtoul(std::string(s.substr(i, j - i)).c_str(), nullptr, 16)));
        i = j;
        if (i < s.size() && s[i] != ',' && s[i] != ' ' && s[i] != '\t') return std::nullopt;
    }
    return out;
}

std::string Error(int line, std::string_view what) { return "line " + std::to_string(line) + ": " + std::string(what); }

}  // namespace

std::optional<std::string> ExportRegistry(std::u16string_view key) {
    auto db = Db::Current();
    Txn txn(*db, Txn::Mode::Read);
    std::string out = "REGEDIT4\n\n";
    if (key.empty()) {
        ExportKey(txn, out, db->Hklm(), u"HKEY_LOCAL_MACHINE");
        ExportKey(txn, out, db->Hku(), u"HKEY_USERS");
        ExportKey(txn, out, db->Hkcc(), u"HKEY_CURRENT_CONFIG");
        return out;
    }
    Located at = Locate(txn, key, false, true);
    if (!at.key) return std::nullopt;
    ExportKey(txn, out, *at.key, at.display);
    return out;
}

std::string ImportRegistry(std::string_view text) {
    if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF) text.remove_prefix(3);  // UTF-8 mark
    try {
        auto db = Db::Current();
        Txn txn(*db, Txn::Mode::Write);
        Reader r{text};
        bool header = false;
        std::optional<KeyId> current;
        while (auto line = r.Next()) {
            std::string_view l = *line;
            while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.remove_suffix(1);
            if (l.empty() || l.front() == ';') continue;
            if (!header) {
                if (l != "REGEDIT4") return Error(r.line, "not a REGEDIT4 file");
                header = true;
                continue;
            }
            if (l.front() == '[') {
                auto close = l.rfind(']');
                if (close == std::string_view::npos) return Error(r.line, "key line without ']'");
                std::string_view name = l.substr(1, close - 1);
                bool remove = !name.empty() && name.front() == '-';
                if (remove) name.remove_prefix(1);
                std::u16string wide = FromUtf8(name);
                if (remove) {
                    Located at = Locate(txn, wide, false);
                    if (at.key && at.key != db->Hklm() && at.key != db->Hku() && at.key != db->Hkcc())
                        txn.DeleteTree(*at.key);
                    current.reset();
                    continue;
                }
                Located at = Locate(txn, wide, true);
                if (!at.key) return Error(r.line, "unknown root key in " + std::string(name));
                current = at.key;
                continue;
            }
            if (!current) return Error(r.line, "value outside a key");
            std::u16string name;
            size_t i = 0;
            if (l.front() == '@') {
                i = 1;
            } else {
                auto n = Unquote(l, i);
                if (!n) return Error(r.line, "bad value name");
                name = FromUtf8(*n);
            }
            if (i >= l.size() || l[i] != '=') return Error(r.line, "expected '=' after the value name");
            std::string_view data = l.substr(i + 1);
            if (data == "-") {
                txn.DeleteValue(*current, name);
            } else if (!data.empty() && data.front() == '"') {
                size_t j = 0;
                auto s = Unquote(data, j);
                if (!s || j != data.size()) return Error(r.line, "bad string");
                txn.SetString(*current, name, FromUtf8(*s));
            } else if (data.rfind("dword:", 0) == 0) {
                std::string digits(data.substr(6));
                if (digits.empty() || digits.size() > 8 ||
                    digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                    return Error(r.line, "bad dword");
                txn.SetNumber(*current, name, static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 16)));
            } else if (data.rfind("hex", 0) == 0) {
                DWORD type = REG_BINARY;
                size_t colon = data.find(':');
                if (colon == std::string_view::npos) return Error(r.line, "bad hex value");
                std::string_view kind = data.substr(3, colon - 3);
                if (!kind.empty()) {
                    if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')') return Error(r.line, "bad hex type");
                    std::string t(kind.substr(1, kind.size() - 2));
                    if (t.empty() || t.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
                        return Error(r.line, "bad hex type");
                    type = static_cast<DWORD>(std::strtoul(t.c_str(), nullptr, 16));
                }
                auto bytes = ParseHex(data.substr(colon + 1));
                if (!bytes) return Error(r.line, "bad hex bytes");
                if (IsStringType(type)) {
                    std::u16string w = FromUtf8(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
                    *bytes = ToBytes(w, false);
                }
                txn.SetValue(*current, name, type, *bytes);
            } else {
                return Error(r.line, "unknown value form");
            }
        }
        if (!header) return Error(r.line, "not a REGEDIT4 file");
        txn.Commit();
        return {};
    } catch (const StoreError& e) {
        return e.what();
    }
}

}  // namespace zq::store
