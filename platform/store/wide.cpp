#include "wide.h"

#include "store/admin.h"

namespace zq::store {

namespace {
char16_t UpperOf(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c < 0x80) return c;
    // Latin-1, Greek and Cyrillic: the letters that names in practice use.
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 32);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F && c != 0x178 && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        bool evenUpper = (c < 0x138) || (c > 0x149 && c < 0x178);
        if (evenUpper) return (c & 1) ? static_cast<char16_t>(c - 1) : c;
        return (c & 1) ? c : static_cast<char16_t>(c - 1);
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<char16_t>(c - 32);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
    return c;
}
}  // namespace

std::u16string Fold(std::u16string_view name) {
    std::u16string out(name);
    for (auto& c : out) c = UpperOf(c);
    return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperOf(a[i]) != UpperOf(b[i])) return false;
    return true;
}

// The A calls use the process code page; until a system-wide code page
// service is in place it is Latin-1, which round-trips every byte.
std::u16string AnsiToWide(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (unsigned char c : text) out.push_back(c);
    return out;
}

std::string WideToAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
    return out;
}

std::vector<BYTE> WideBytesToAnsi(std::span<const BYTE> wide) {
    std::u16string w(wide.size() / 2, u'\0');
    if (!w.empty()) std::memcpy(w.data(), wide.data(), w.size() * 2);
    std::string n = WideToAnsi(w);
    return std::vector<BYTE>(n.begin(), n.end());
}

std::vector<BYTE> AnsiBytesToWide(std::span<const BYTE> narrow) {
    std::u16string w = AnsiToWide(std::string_view(reinterpret_cast<const char*>(narrow.data()), narrow.size()));
    return ToBytes(w, false);
}

std::u16string TextOf(std::span<const BYTE> bytes) {
    std::u16string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (!c) break;
        out.push_back(c);
    }
    return out;
}

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > text.size()) {
                len = 1;
            } else {
                cp = c & (0x7F >> len);
                bool ok = true;
                for (size_t k = 1; k < len; ++k) {
                    unsigned char d = static_cast<unsigned char>(text[i + k]);
                    if ((d & 0xC0) != 0x80) ok = false;
                    cp = (cp << 6) | (d & 0x3F);
                }
                if (!ok || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
                    cp = 0xFFFD;
                    len = 1;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace zq::store
