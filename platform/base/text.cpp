#include "base/text.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/code_page_data.h"
#include "base/diag.h"
#include "base/error.h"
#include "base/locale.h"

namespace {

// Flags we do not support are refused, and the refusal is logged so that a
// caller relying on them is found.
void RefuseFlags(const char* call, DWORD flags) {
    char why[48];
    std::snprintf(why, sizeof why, "unsupported flags 0x%X", static_cast<unsigned>(flags));
    zq::DiagRefused(call, why);
}

// ---------------------------------------------------------------------------
// Code page tables

constexpr char16_t kReplacement = 0xFFFD;
constexpr uint16_t kUnmapped = zq::kUnmappedCode;

enum class ByteKind : uint8_t { Single, Lead };

struct CodePageTable {
    std::array<ByteKind, 256> kind{};
    bool hasLeads = false;                        // a double-byte page
    const char16_t* single = nullptr;             // 256 entries
    std::array<const char16_t*, 256> leadRow{};   // trail -> character (0: invalid pair), at lead bytes
    std::vector<uint16_t> reverse;                // character -> byte or lead << 8 | trail, kUnmapped when none
};

// Decoding reads the built-in data as it stands; only the encoding direction
// is spread out into a table of its own.
std::unique_ptr<CodePageTable> BuildTable(UINT cp) {
    const zq::CodePageData* data = nullptr;
    for (size_t i = 0; i < zq::kCodePageDataCount; ++i)
        if (zq::kCodePageData[i].codePage == cp) data = &zq::kCodePageData[i];
    if (!data) return nullptr;
    auto t = std::make_unique<CodePageTable>();
    t->kind.fill(ByteKind::Single);
    t->single = data->single;
    for (uint32_t i = 0; i < data->leadCount; ++i) {
        t->kind[data->leads[i]] = ByteKind::Lead;
        t->hasLeads = true;
        t->leadRow[data->leads[i]] = data->rows + 256 * i;
    }
    t->reverse.resize(0x10000);
    zq::BuildEncoding(*data, t->reverse.data());
    return t;
}

std::mutex g_tablesLock;
std::map<UINT, std::unique_ptr<CodePageTable>> g_tables;  // null entry: not available

UINT ResolveCodePage(UINT cp) {
    if (cp == CP_ACP || cp == CP_THREAD_ACP) return GetACP();
    if (cp == CP_OEMCP) return GetOEMCP();
    if (cp == CP_MACCP) return 10000;
    return cp;
}

// The table of a code page, built on first use; null when the page is not
// supported. Tables are never destroyed, so the pointer stays valid.
const CodePageTable* TableFor(UINT cp) {
    std::lock_guard lock(g_tablesLock);
    auto it = g_tables.find(cp);
    if (it == g_tables.end()) it = g_tables.emplace(cp, BuildTable(cp)).first;
    return it->second.get();
}

// ---------------------------------------------------------------------------
// UTF-8

// The converters below write through a pointer into output sized for the
// common case, and take plain 7-bit text eight bytes (four UTF-16 units) at
// a time: text is converted on every file, registry and profile call, and a
// character at a time through push_back cost more than the calls' own work.

// Output of T appended to `out`, grown only when what remains may not fit.
template <class String>
class Appender {
public:
    using Char = typename String::value_type;
    Appender(String& out, size_t expected) : out_(out), base_(out.size()) {
        out_.resize(base_ + expected);
        at_ = out_.data() + base_;
        end_ = out_.data() + out_.size();
    }
    // Room for n more units, growing by `more` (at least n) when short.
    Char* Room(size_t n, size_t more) {
        if (static_cast<size_t>(end_ - at_) < n) {
            const size_t used = static_cast<size_t>(at_ - out_.data());
            out_.resize(out_.size() + std::max(n, more));
            at_ = out_.data() + used;
            end_ = out_.data() + out_.size();
        }
        return at_;
    }
    void Advance(size_t n) { at_ += n; }
    void Put(Char c) { *at_++ = c; }
    ~Appender() { out_.resize(static_cast<size_t>(at_ - out_.data())); }

private:
    String& out_;
    size_t base_;
    Char* at_;
    Char* end_;
};

constexpr uint64_t kHighBits8 = 0x8080808080808080ull;
constexpr uint64_t kNonAscii16 = 0xFF80FF80FF80FF80ull;

// Decodes UTF-8 into UTF-16. Returns false on a malformed sequence when
// strict; otherwise each malformed sequence becomes U+FFFD. No byte yields
// more than one UTF-16 unit (four bytes make a surrogate pair), so the
// output never grows past the input's length.
bool DecodeUtf8(std::string_view in, std::u16string& out, bool strict) {
    Appender<std::u16string> put(out, in.size());
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n) {
        if (n - i >= 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if ((word & kHighBits8) == 0) {
                char16_t* o = put.Room(8, 8);
                for (int k = 0; k < 8; ++k) o[k] = p[i + k];
                put.Advance(8);
                i += 8;
                continue;
            }
        }
        const uint8_t b0 = p[i];
        if (b0 < 0x80) {
            put.Put(b0);
            ++i;
            continue;
        }
        int need = 0;
        uint32_t cp = 0;
        uint32_t min = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; cp = b0 & 0x1F; min = 0x80; }
        else if (b0 >= 0xE0 && b0 <= 0xEF) { need = 2; cp = b0 & 0x0F; min = 0x800; }
        else if (b0 >= 0xF0 && b0 <= 0xF4) { need = 3; cp = b0 & 0x07; min = 0x10000; }
        size_t j = i + 1;
        bool ok = need > 0;
        for (int k = 0; ok && k < need; ++k, ++j) {
            if (j >= n || (p[j] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (p[j] & 0x3F);
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))) ok = false;
        if (!ok) {
            if (strict) return false;
            put.Put(kReplacement);
            // Skip the lead byte and the continuation bytes that belonged to it.
            i = std::max(i + 1, std::min(j, n));
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put.Put(static_cast<char16_t>(0xD800 + (cp >> 10)));
            put.Put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            put.Put(static_cast<char16_t>(cp));
        }
        i = j;
    }
    return true;
}

// Sized for plain text (a byte a unit); a unit yields at most three bytes,
// so at the first longer character the room grows to cover the rest.
bool EncodeUtf8(std::u16string_view in, std::string& out, bool strict) {
    Appender<std::string> put(out, in.size());
    const char16_t* p = in.data();
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        if (n - i >= 4) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if ((word & kNonAscii16) == 0) {
                char* o = put.Room(4, 4);
                for (int k = 0; k < 4; ++k) o[k] = static_cast<char>(p[i + k]);
                put.Advance(4);
                i += 3;
                continue;
            }
        }
        uint32_t cp = p[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            if (strict) return false;
            cp = kReplacement;
        }
        if (cp < 0x80) {
            *put.Room(1, 1) = static_cast<char>(cp);
            put.Advance(1);
            continue;
        }
        char* o = put.Room(4, 2 * (n - i) + 4);
        if (cp < 0x800) {
            o[0] = static_cast<char>(0xC0 | (cp >> 6));
            o[1] = static_cast<char>(0x80 | (cp & 0x3F));
            put.Advance(2);
        } else if (cp < 0x10000) {
            o[0] = static_cast<char>(0xE0 | (cp >> 12));
            o[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            o[2] = static_cast<char>(0x80 | (cp & 0x3F));
            put.Advance(3);
        } else {
            o[0] = static_cast<char>(0xF0 | (cp >> 18));
            o[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            o[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            o[3] = static_cast<char>(0x80 | (cp & 0x3F));
            put.Advance(4);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Table conversions

// Returns false on an invalid sequence when strict. A byte never yields more
// than one character.
bool DecodeTable(const CodePageTable& t, std::string_view in, std::u16string& out, bool strict) {
    Appender<std::u16string> put(out, in.size());
    const auto* p = reinterpret_cast<const uint8_t*>(in.data());
    const size_t n = in.size();
    if (!t.hasLeads) {
        // A single-byte page: one look-up a byte, eight to a step.
        char16_t* o = put.Room(n, n);
        size_t i = 0;
        for (; n - i >= 8; i += 8)
            for (int k = 0; k < 8; ++k) o[i + k] = t.single[p[i + k]];
        for (; i < n; ++i) o[i] = t.single[p[i]];
        put.Advance(n);
        return true;
    }
    for (size_t i = 0; i < n; ++i) {
        const uint8_t b = p[i];
        if (t.kind[b] != ByteKind::Lead) {
            put.Put(t.single[b]);
            continue;
        }
        if (i + 1 < n) {
            if (char16_t c = t.leadRow[b][p[i + 1]]; c != 0) {
                put.Put(c);
                ++i;
                continue;
            }
        }
        // A lead byte without a valid trail: the lead byte alone is lost, the
        // next byte is read again on its own.
        if (strict) return false;
        put.Put(u'?');
    }
    return true;
}

// Sized for a byte a character; double-byte characters and a longer
// default character grow it.
void EncodeTable(const CodePageTable& t, std::u16string_view in, std::string& out, std::string_view defaultChar,
                 bool& usedDefault) {
    Appender<std::string> put(out, in.size());
    const char16_t* p = in.data();
    const size_t n = in.size();
    const size_t longest = std::max<size_t>(2, defaultChar.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t c = p[i];
        uint16_t code = t.reverse[c];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] < 0xE000) {
            ++i;  // a character outside the BMP is never in these code pages
            code = kUnmapped;
        }
        if (code <= 0xFF) {
            *put.Room(1, 1) = static_cast<char>(code);
            put.Advance(1);
            continue;
        }
        char* o = put.Room(longest, longest + (n - i));
        if (code == kUnmapped) {
            std::memcpy(o, defaultChar.data(), defaultChar.size());
            put.Advance(defaultChar.size());
            usedDefault = true;
        } else {
            o[0] = static_cast<char>(code >> 8);
            o[1] = static_cast<char>(code & 0xFF);
            put.Advance(2);
        }
    }
}

// The code page's default character in bytes: the caller's (its first
// character) or "?".
std::string DefaultCharFor(const CodePageTable& t, LPCSTR given) {
    if (!given || !*given) return "?";
    const auto b = static_cast<uint8_t>(given[0]);
    if (t.kind[b] == ByteKind::Lead && given[1] != 0) return std::string(given, 2);
    return std::string(given, 1);
}

// ---------------------------------------------------------------------------
// Case mapping

locale_t UnicodeCType() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return loc;
}

// Latin-1 fallback when the Unicode character classes are not installed.
char16_t FallbackUpper(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
    if (c == 0xFF) return 0x178;
    return c;
}
char16_t FallbackLower(char16_t c) {
    if (c >= u'A' && c <= u'Z') return c + 32;
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
    if (c == 0x178) return 0xFF;
    return c;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c < 0xE000; }

char16_t FoldForCompare(char16_t c) { return zq::ToLower(zq::ToUpper(c)); }

// Applies a wide mapping to narrow text in the ANSI code page, character by
// character, keeping double-byte characters as they are unless both forms
// are single bytes.
void MapNarrow(char* s, size_t n, char16_t (*map)(char16_t)) {
    const CodePageTable* t = TableFor(GetACP());
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<uint8_t>(s[i]);
        if (!t) {
            if (b < 0x80) s[i] = static_cast<char>(map(b));
            continue;
        }
        if (t->kind[b] == ByteKind::Lead) {
            if (i + 1 < n) ++i;
            continue;
        }
        const char16_t mapped = map(t->single[b]);
        const uint16_t code = t->reverse[mapped];
        if (code != kUnmapped && code <= 0xFF) s[i] = static_cast<char>(code);
    }
}

size_t NarrowLength(LPCSTR s, int length) { return length < 0 ? std::strlen(s) : static_cast<size_t>(length); }
size_t WideLength(LPCWSTR s, int length) {
    if (length >= 0) return static_cast<size_t>(length);
    return std::char_traits<char16_t>::length(s);
}

template <class Ch>
Ch* MapCharOrString(Ch* text, char16_t (*map)(char16_t)) {
    const auto bits = reinterpret_cast<uintptr_t>(text);
    if ((bits >> 16) == 0) {
        if constexpr (sizeof(Ch) == 1) {
            char c = static_cast<char>(bits & 0xFF);
            MapNarrow(&c, 1, map);
            return reinterpret_cast<Ch*>(static_cast<uintptr_t>(static_cast<uint8_t>(c)));
        } else {
            return reinterpret_cast<Ch*>(static_cast<uintptr_t>(map(static_cast<char16_t>(bits & 0xFFFF))));
        }
    }
    if constexpr (sizeof(Ch) == 1) {
        MapNarrow(text, std::strlen(text), map);
    } else {
        for (Ch* p = text; *p; ++p) *p = map(*p);
    }
    return text;
}

// Word order: case-folded first; between strings equal but for case the
// lower-case letter comes first.
int CompareWide(std::u16string_view a, std::u16string_view b, bool ignoreCase) {
    const int folded = zq::CompareIgnoreCase(a, b);
    if (folded != 0 || ignoreCase) return folded;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        const bool aLower = zq::ToUpper(a[i]) != a[i];
        const bool bLower = zq::ToUpper(b[i]) != b[i];
        if (aLower != bLower) return aLower ? -1 : 1;
        return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

std::u16string Normalize(std::u16string_view s, DWORD flags) {
    std::u16string out;
    out.reserve(s.size());
    locale_t loc = UnicodeCType();
    for (char16_t c : s) {
        if ((flags & NORM_IGNOREWIDTH) && c >= 0xFF01 && c <= 0xFF5E) c = static_cast<char16_t>(c - 0xFF01 + 0x21);
        if ((flags & NORM_IGNOREWIDTH) && c == 0x3000) c = u' ';
        if ((flags & NORM_IGNOREKANATYPE) && c >= 0x30A1 && c <= 0x30F6) c = static_cast<char16_t>(c - 0x60);
        if ((flags & NORM_IGNORENONSPACE) && c >= 0x0300 && c <= 0x036F) continue;
        if (flags & NORM_IGNORESYMBOLS) {
            const bool alnum = loc ? iswalnum_l(c, loc) != 0 : ((c | 0x20) >= u'a' && (c | 0x20) <= u'z') ||
                                                                   (c >= u'0' && c <= u'9') || c >= 0x80;
            if (!alnum) continue;
        }
        out.push_back(c);
    }
    return out;
}

int CompareStringsWide(DWORD flags, std::u16string_view a, std::u16string_view b) {
    constexpr DWORD known = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS | SORT_STRINGSORT |
                            NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH;
    if (flags & ~known) {
        SetLastError(ERROR_INVALID_FLAGS);
        RefuseFlags("CompareString", flags);
        return 0;
    }
    int r;
    if (flags & (NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH))
        r = CompareWide(Normalize(a, flags), Normalize(b, flags), flags & NORM_IGNORECASE);
    else
        r = CompareWide(a, b, flags & NORM_IGNORECASE);
    return r < 0 ? CSTR_LESS_THAN : r > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}

// ---------------------------------------------------------------------------
// Formatting

template <class Ch>
struct Sink {
    Ch* dst;
    int size;
    int n = 0;
    void Put(Ch c) {
        if (n < size - 1) dst[n++] = c;
    }
    template <class Range>
    void PutAll(const Range& r) {
        for (auto c : r) Put(static_cast<Ch>(c));
    }
};

struct Spec {
    bool left = false;
    bool zero = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;
    enum class Size { Default, Short, Long, Wide64 } size = Size::Default;
};

template <class Ch>
void PutPadded(Sink<Ch>& sink, const Spec& spec, std::basic_string_view<Ch> body, std::basic_string_view<Ch> sign,
               bool zeroPad) {
    const int len = static_cast<int>(body.size() + sign.size());
    const int pad = spec.width > len ? spec.width - len : 0;
    if (!spec.left && !zeroPad)
        for (int i = 0; i < pad; ++i) sink.Put(Ch(' '));
    sink.PutAll(sign);
    if (!spec.left && zeroPad)
        for (int i = 0; i < pad; ++i) sink.Put(Ch('0'));
    sink.PutAll(body);
    if (spec.left)
        for (int i = 0; i < pad; ++i) sink.Put(Ch(' '));
}

template <class Ch>
void PutInteger(Sink<Ch>& sink, const Spec& spec, uint64_t magnitude, bool negative, int base, bool upper) {
    std::basic_string<Ch> digits;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits.push_back(static_cast<Ch>(set[magnitude % base]));
        magnitude /= base;
    } while (magnitude);
    if (spec.precision == 0 && digits == std::basic_string<Ch>(1, Ch('0'))) digits.clear();
    while (static_cast<int>(digits.size()) < spec.precision) digits.push_back(Ch('0'));
    std::reverse(digits.begin(), digits.end());
    std::basic_string<Ch> sign;
    if (negative) sign.push_back(Ch('-'));
    if (spec.alternate && base == 16) {
        sign.push_back(Ch('0'));
        sign.push_back(upper ? Ch('X') : Ch('x'));
    }
    PutPadded<Ch>(sink, spec, digits, sign, spec.zero && spec.precision < 0);
}

template <class Ch>
std::basic_string<Ch> StringArgument(const void* p, bool wide, int precision) {
    std::basic_string<Ch> s;
    if (!p) {
        for (char c : std::string_view("(null)")) s.push_back(static_cast<Ch>(c));
        return s;
    }
    if (wide) {
        const auto* w = static_cast<const char16_t*>(p);
        size_t n = 0;
        while (w[n] && (precision < 0 || n < static_cast<size_t>(precision))) ++n;
        if constexpr (sizeof(Ch) == 2) {
            s.assign(w, w + n);
        } else {
            s = zq::WideToAnsi(std::u16string_view(w, n));
            if (precision >= 0 && s.size() > static_cast<size_t>(precision)) s.resize(precision);
        }
    } else {
        const auto* a = static_cast<const char*>(p);
        size_t n = 0;
        while (a[n] && (precision < 0 || n < static_cast<size_t>(precision))) ++n;
        if constexpr (sizeof(Ch) == 1) {
            s.assign(a, a + n);
        } else {
            s = zq::AnsiToWide(std::string_view(a, n));
        }
    }
    return s;
}

template <class Ch>
int FormatImpl(Ch* dst, int size, const Ch* format, va_list args) {
    if (!dst || size <= 0 || !format) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    constexpr bool narrowForm = sizeof(Ch) == 1;
    Sink<Ch> sink{dst, size};
    const Ch* f = format;
    while (*f) {
        if (*f != Ch('%')) {
            sink.Put(*f++);
            continue;
        }
        ++f;
        if (*f == Ch('%')) {
            sink.Put(*f++);
            continue;
        }
        Spec spec;
        for (;; ++f) {
            if (*f == Ch('-')) spec.left = true;
            else if (*f == Ch('0')) spec.zero = true;
            else if (*f == Ch('#')) spec.alternate = true;
            else break;
        }
        while (*f >= Ch('0') && *f <= Ch('9')) spec.width = std::min(spec.width * 10 + (*f++ - Ch('0')), 4096);
        if (*f == Ch('.')) {
            ++f;
            spec.precision = 0;
            while (*f >= Ch('0') && *f <= Ch('9'))
                spec.precision = std::min(spec.precision * 10 + (*f++ - Ch('0')), 4096);
        }
        if (*f == Ch('h')) { spec.size = Spec::Size::Short; ++f; }
        else if (*f == Ch('l') || *f == Ch('w')) { spec.size = Spec::Size::Long; ++f; }
        else if (f[0] == Ch('I') && f[1] == Ch('6') && f[2] == Ch('4')) { spec.size = Spec::Size::Wide64; f += 3; }
        const Ch type = *f;
        if (!type) break;
        ++f;
        switch (type) {
        case Ch('d'):
        case Ch('i'): {
            int64_t v = spec.size == Spec::Size::Wide64 ? va_arg(args, int64_t) : va_arg(args, int32_t);
            if (spec.size == Spec::Size::Short) v = static_cast<int16_t>(v);
            const uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
            PutInteger(sink, spec, mag, v < 0, 10, false);
            break;
        }
        case Ch('u'):
        case Ch('x'):
        case Ch('X'): {
            uint64_t v = spec.size == Spec::Size::Wide64 ? va_arg(args, uint64_t) : va_arg(args, uint32_t);
            if (spec.size == Spec::Size::Short) v = static_cast<uint16_t>(v);
            PutInteger(sink, spec, v, false, type == Ch('u') ? 10 : 16, type == Ch('X'));
            break;
        }
        case Ch('p'): {
            Spec p = spec;
            p.precision = static_cast<int>(sizeof(void*) * 2);
            PutInteger(sink, p, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false, 16, true);
            break;
        }
        case Ch('c'):
        case Ch('C'): {
            const int v = va_arg(args, int);
            const bool wide = spec.size == Spec::Size::Long ||
                              (spec.size == Spec::Size::Default && ((type == Ch('c')) != narrowForm));
            std::basic_string<Ch> s;
            if (wide) {
                const char16_t w[2] = {static_cast<char16_t>(v), 0};
                s = StringArgument<Ch>(w, true, -1);
            } else {
                const char a[2] = {static_cast<char>(v), 0};
                s = StringArgument<Ch>(a, false, -1);
            }
            if (s.empty()) s.push_back(Ch(0));  // a NUL character is still written
            PutPadded<Ch>(sink, spec, s, {}, spec.zero);
            break;
        }
        case Ch('s'):
        case Ch('S'): {
            const void* p = va_arg(args, const void*);
            const bool wide = spec.size == Spec::Size::Long ||
                              (spec.size == Spec::Size::Default && ((type == Ch('s')) != narrowForm));
            PutPadded<Ch>(sink, spec, StringArgument<Ch>(p, wide, spec.precision), {}, spec.zero);
            break;
        }
        default:
            sink.Put(type);  // an unknown type is copied as it stands
            break;
        }
    }
    dst[sink.n] = Ch(0);
    return sink.n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Conversions

namespace {

// The arguments both conversions refuse: no input, an empty or negative
// length other than -1, a negative output size, no output buffer for a
// non-zero size, and output over the input.
template <class In, class Out>
bool ConversionArgumentsValid(const In* src, int srcCount, const Out* dst, int dstCount) {
    return src && srcCount != 0 && srcCount >= -1 && dstCount >= 0 && !(dstCount > 0 && !dst) &&
           !(dst && static_cast<const void*>(dst) == static_cast<const void*>(src));
}

// The flags a conversion does not take: ERROR_INVALID_FLAGS, and the call fails.
int RefuseConversionFlags(const char* call, DWORD flags) {
    SetLastError(ERROR_INVALID_FLAGS);
    RefuseFlags(call, flags);
    return 0;
}

// Hands the converted text out: a zero size asks for the length; a short
// buffer is filled as far as it goes and the call fails.
template <class Ch>
int HandOut(const std::basic_string<Ch>& out, Ch* dst, int dstCount) {
    if (out.size() > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(out.size());
    if (dstCount == 0) return needed;
    if (needed > dstCount) {
        std::copy_n(out.data(), dstCount, dst);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(out.begin(), out.end(), dst);
    return needed;
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes, LPWSTR dst, int dstChars) {
    if (!ConversionArgumentsValid(src, srcBytes, dst, dstChars)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    constexpr DWORD known = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
    if ((flags & ~known) || (flags & (MB_PRECOMPOSED | MB_COMPOSITE)) == (MB_PRECOMPOSED | MB_COMPOSITE))
        return RefuseConversionFlags("MultiByteToWideChar", flags);
    const UINT cp = ResolveCodePage(codePage);
    const std::string_view in(src, srcBytes < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcBytes));
    const bool strict = flags & MB_ERR_INVALID_CHARS;
    std::u16string out;
    bool ok;
    if (cp == CP_UTF8) {
        if (flags & ~MB_ERR_INVALID_CHARS) return RefuseConversionFlags("MultiByteToWideChar", flags);
        ok = DecodeUtf8(in, out, strict);
    } else {
        const CodePageTable* t = TableFor(cp);
        if (!t) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        ok = DecodeTable(*t, in, out, strict);
    }
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return HandOut(out, dst, dstChars);
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars, LPSTR dst, int dstBytes,
                                   LPCSTR defaultChar, BOOL* usedDefaultChar) {
    if (!ConversionArgumentsValid(src, srcChars, dst, dstBytes)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const UINT cp = ResolveCodePage(codePage);
    const std::u16string_view in(src, srcChars < 0 ? std::char_traits<char16_t>::length(src) + 1
                                                   : static_cast<size_t>(srcChars));
    std::string out;
    if (cp == CP_UTF8) {
        if (defaultChar || usedDefaultChar) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if (flags & ~WC_ERR_INVALID_CHARS) return RefuseConversionFlags("WideCharToMultiByte", flags);
        if (!EncodeUtf8(in, out, flags & WC_ERR_INVALID_CHARS)) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else {
        constexpr DWORD known = WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;
        if (flags & ~known) return RefuseConversionFlags("WideCharToMultiByte", flags);
        const CodePageTable* t = TableFor(cp);
        if (!t) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        bool used = false;
        EncodeTable(*t, in, out, DefaultCharFor(*t, defaultChar), used);
        if (usedDefaultChar) *usedDefaultChar = used ? TRUE : FALSE;
    }
    return HandOut(out, dst, dstBytes);
}

extern "C" BOOL IsValidCodePage(UINT codePage) {
    if (codePage == CP_UTF8) return TRUE;
    if (codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_MACCP || codePage == CP_THREAD_ACP) return FALSE;
    return TableFor(codePage) ? TRUE : FALSE;
}


extern "C" BOOL IsDBCSLeadByteEx(UINT codePage, BYTE b) {
    const CodePageTable* t = TableFor(ResolveCodePage(codePage));
    return t && t->kind[b] == ByteKind::Lead ? TRUE : FALSE;
}
extern "C" BOOL IsDBCSLeadByte(BYTE b) { return IsDBCSLeadByteEx(CP_ACP, b); }

// ---------------------------------------------------------------------------
// Case and string calls

extern "C" LPSTR CharUpperA(LPSTR text) { return MapCharOrString(text, zq::ToUpper); }
extern "C" LPWSTR CharUpperW(LPWSTR text) { return MapCharOrString(text, zq::ToUpper); }
extern "C" LPSTR CharLowerA(LPSTR text) { return MapCharOrString(text, zq::ToLower); }
extern "C" LPWSTR CharLowerW(LPWSTR text) { return MapCharOrString(text, zq::ToLower); }

extern "C" DWORD CharUpperBuffA(LPSTR text, DWORD length) {
    if (!text) return 0;
    MapNarrow(text, length, zq::ToUpper);
    return length;
}
extern "C" DWORD CharLowerBuffA(LPSTR text, DWORD length) {
    if (!text) return 0;
    MapNarrow(text, length, zq::ToLower);
    return length;
}
extern "C" DWORD CharUpperBuffW(LPWSTR text, DWORD length) {
    if (!text) return 0;
    for (DWORD i = 0; i < length; ++i) text[i] = zq::ToUpper(text[i]);
    return length;
}
extern "C" DWORD CharLowerBuffW(LPWSTR text, DWORD length) {
    if (!text) return 0;
    for (DWORD i = 0; i < length; ++i) text[i] = zq::ToLower(text[i]);
    return length;
}

extern "C" LPSTR CharNextA(LPCSTR p) {
    if (!p || !*p) return const_cast<LPSTR>(p);
    if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) return const_cast<LPSTR>(p + 2);
    return const_cast<LPSTR>(p + 1);
}
extern "C" LPWSTR CharNextW(LPCWSTR p) {
    if (!p || !*p) return const_cast<LPWSTR>(p);
    return const_cast<LPWSTR>(p + 1);
}
extern "C" LPSTR CharPrevA(LPCSTR start, LPCSTR p) {
    if (!start || !p || p <= start) return const_cast<LPSTR>(start);
    // Walk forward from the start: a byte's role depends on what precedes it.
    LPCSTR prev = start;
    for (LPCSTR q = start; q < p;) {
        prev = q;
        LPCSTR next = CharNextA(q);
        if (next == q) break;
        q = next;
    }
    return const_cast<LPSTR>(prev);
}
extern "C" LPWSTR CharPrevW(LPCWSTR start, LPCWSTR p) {
    if (!start || !p || p <= start) return const_cast<LPWSTR>(start);
    return const_cast<LPWSTR>(p - 1);
}

extern "C" int lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }
extern "C" int lstrlenW(LPCWSTR s) { return s ? static_cast<int>(std::char_traits<char16_t>::length(s)) : 0; }

extern "C" LPSTR lstrcpyA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    std::memmove(dst, src, std::strlen(src) + 1);
    return dst;
}
extern "C" LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
    if (!dst || !src) return nullptr;
    std::memmove(dst, src, (std::char_traits<char16_t>::length(src) + 1) * sizeof(char16_t));
    return dst;
}
extern "C" LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max) {
    if (!dst) return nullptr;
    if (max <= 0) return dst;
    int i = 0;
    if (src)
        for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}
extern "C" LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int max) {
    if (!dst) return nullptr;
    if (max <= 0) return dst;
    int i = 0;
    if (src)
        for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}
extern "C" LPSTR lstrcatA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    std::memmove(dst + std::strlen(dst), src, std::strlen(src) + 1);
    return dst;
}
extern "C" LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) {
    if (!dst || !src) return nullptr;
    const size_t n = std::char_traits<char16_t>::length(dst);
    std::memmove(dst + n, src, (std::char_traits<char16_t>::length(src) + 1) * sizeof(char16_t));
    return dst;
}

extern "C" int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    return CompareWide(a ? a : u"", b ? b : u"", false);
}
extern "C" int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
    const int r = zq::CompareIgnoreCase(std::u16string_view(a ? a : u""), std::u16string_view(b ? b : u""));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}
extern "C" int lstrcmpA(LPCSTR a, LPCSTR b) {
    return CompareWide(zq::AnsiToWide(a ? a : ""), zq::AnsiToWide(b ? b : ""), false);
}
extern "C" int lstrcmpiA(LPCSTR a, LPCSTR b) {
    const int r = zq::CompareIgnoreCase(zq::AnsiToWide(a ? a : ""), zq::AnsiToWide(b ? b : ""));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

extern "C" int CompareStringW(LCID, DWORD flags, LPCWSTR a, int lengthA, LPCWSTR b, int lengthB) {
    if (!a || !b || lengthA < -1 || lengthB < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return CompareStringsWide(flags, std::u16string_view(a, WideLength(a, lengthA)),
                              std::u16string_view(b, WideLength(b, lengthB)));
}
extern "C" int CompareStringA(LCID, DWORD flags, LPCSTR a, int lengthA, LPCSTR b, int lengthB) {
    if (!a || !b || lengthA < -1 || lengthB < -1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return CompareStringsWide(flags, zq::AnsiToWide(std::string_view(a, NarrowLength(a, lengthA))),
                              zq::AnsiToWide(std::string_view(b, NarrowLength(b, lengthB))));
}

extern "C" int wvnsprintfA(LPSTR dst, int size, LPCSTR format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = FormatImpl<char>(dst, size, format, copy);
    va_end(copy);
    return n;
}
extern "C" int wnsprintfA(LPSTR dst, int size, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    const int n = FormatImpl<char>(dst, size, format, args);
    va_end(args);
    return n;
}
extern "C" int wvnsprintfW(LPWSTR dst, int size, LPCWSTR format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    const int n = FormatImpl<char16_t>(dst, size, format, copy);
    va_end(copy);
    return n;
}
extern "C" int wnsprintfW(LPWSTR dst, int size, LPCWSTR format, ...) {
    va_list args;
    va_start(args, format);
    const int n = FormatImpl<char16_t>(dst, size, format, args);
    va_end(args);
    return n;
}

// ---------------------------------------------------------------------------
// C++ helpers

namespace zq {

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    EncodeUtf8(text, out, false);
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    DecodeUtf8(text, out, false);
    return out;
}

std::u16string AnsiToWide(std::string_view text, UINT codePage) {
    std::u16string out;
    const UINT cp = ResolveCodePage(codePage);
    if (cp == CP_UTF8) {
        DecodeUtf8(text, out, false);
    } else if (const CodePageTable* t = TableFor(cp)) {
        DecodeTable(*t, text, out, false);
    } else {
        for (char c : text) out.push_back(static_cast<uint8_t>(c) < 0x80 ? static_cast<char16_t>(c) : kReplacement);
    }
    return out;
}

std::string WideToAnsi(std::u16string_view text, UINT codePage) {
    std::string out;
    const UINT cp = ResolveCodePage(codePage);
    if (cp == CP_UTF8) {
        EncodeUtf8(text, out, false);
    } else if (const CodePageTable* t = TableFor(cp)) {
        bool used = false;
        EncodeTable(*t, text, out, "?", used);
    } else {
        for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

char16_t ToUpper(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? c - 32 : c;
    if (IsSurrogate(c)) return c;
    locale_t loc = UnicodeCType();
    if (!loc) return FallbackUpper(c);
    const wint_t u = towupper_l(c, loc);
    return u < 0x10000 && !IsSurrogate(static_cast<char16_t>(u)) ? static_cast<char16_t>(u) : c;
}

char16_t ToLower(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? c + 32 : c;
    if (IsSurrogate(c)) return c;
    locale_t loc = UnicodeCType();
    if (!loc) return FallbackLower(c);
    const wint_t u = towlower_l(c, loc);
    return u < 0x10000 && !IsSurrogate(static_cast<char16_t>(u)) ? static_cast<char16_t>(u) : c;
}

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = FoldForCompare(a[i]);
        const char16_t y = FoldForCompare(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace {
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
}  // namespace

int CompareIgnoreCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<uint8_t>(AsciiLower(a[i]));
        const auto y = static_cast<uint8_t>(AsciiLower(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && CompareIgnoreCase(a, b) == 0;
}
bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareIgnoreCase(a, b) == 0;
}
bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && CompareIgnoreCase(text.substr(0, prefix.size()), prefix) == 0;
}
bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && CompareIgnoreCase(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace zq
