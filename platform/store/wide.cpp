#include "wide.h"

#include "base/text.h"
#include "store/admin.h"

namespace zq::store {

// Names compare as Windows compares them, by the upper-case form of each
// code unit.
char16_t FoldUnit(char16_t c) { return zq::ToUpper(c); }

std::u16string Fold(std::u16string_view name) {
    std::u16string out(name);
    for (auto& c : out) c = FoldUnit(c);
    return out;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldUnit(a[i]) != FoldUnit(b[i])) return false;
    return true;
}

std::u16string AnsiToWide(std::string_view text) { return zq::AnsiToWide(text); }

std::string WideToAnsi(std::u16string_view text) { return zq::WideToAnsi(text); }

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

std::u16string FromUtf8(std::string_view text) { return zq::Utf8ToUtf16(text); }

std::string ToUtf8(std::u16string_view text) { return zq::Utf16ToUtf8(text); }

}  // namespace zq::store
