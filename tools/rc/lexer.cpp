#include "lexer.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <limits>

namespace zq::rc {

namespace fs = std::filesystem;

void Fail(const Location& at, const std::string& message) { throw CompileError(at.Text() + ": " + message); }

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool IsHeaderName(const fs::path& p) {
    std::string ext = p.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".h" || ext == ".hpp" || ext == ".hh" || ext == ".hxx";
}

// The standard names that scripts use without a header of their own: window,
// dialog and control styles, menu flags, languages and dialog ids.
constexpr std::pair<const char*, int64_t> kBuiltins[] = {
    {"WS_OVERLAPPED", 0}, {"WS_POPUP", 0x80000000}, {"WS_CHILD", 0x40000000}, {"WS_MINIMIZE", 0x20000000},
    {"WS_VISIBLE", 0x10000000}, {"WS_DISABLED", 0x08000000}, {"WS_CLIPSIBLINGS", 0x04000000},
    {"WS_CLIPCHILDREN", 0x02000000}, {"WS_MAXIMIZE", 0x01000000}, {"WS_CAPTION", 0x00C00000},
    {"WS_BORDER", 0x00800000}, {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000},
    {"WS_HSCROLL", 0x00100000}, {"WS_SYSMENU", 0x00080000}, {"WS_THICKFRAME", 0x00040000},
    {"WS_GROUP", 0x00020000}, {"WS_TABSTOP", 0x00010000}, {"WS_MINIMIZEBOX", 0x00020000},
    {"WS_MAXIMIZEBOX", 0x00010000}, {"WS_OVERLAPPEDWINDOW", 0x00CF0000}, {"WS_POPUPWINDOW", 0x80880000},
    {"WS_EX_DLGMODALFRAME", 0x1}, {"WS_EX_NOPARENTNOTIFY", 0x4}, {"WS_EX_TOPMOST", 0x8},
    {"WS_EX_ACCEPTFILES", 0x10}, {"WS_EX_TRANSPARENT", 0x20}, {"WS_EX_TOOLWINDOW", 0x80},
    {"WS_EX_WINDOWEDGE", 0x100}, {"WS_EX_CLIENTEDGE", 0x200}, {"WS_EX_CONTEXTHELP", 0x400},
    {"WS_EX_RIGHT", 0x1000}, {"WS_EX_LEFT", 0}, {"WS_EX_RTLREADING", 0x2000}, {"WS_EX_LEFTSCROLLBAR", 0x4000},
    {"WS_EX_CONTROLPARENT", 0x10000}, {"WS_EX_STATICEDGE", 0x20000}, {"WS_EX_APPWINDOW", 0x40000},
    {"DS_ABSALIGN", 0x1}, {"DS_SYSMODAL", 0x2}, {"DS_3DLOOK", 0x4}, {"DS_FIXEDSYS", 0x8},
    {"DS_NOFAILCREATE", 0x10}, {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", 0x40}, {"DS_MODALFRAME", 0x80},
    {"DS_NOIDLEMSG", 0x100}, {"DS_SETFOREGROUND", 0x200}, {"DS_CONTROL", 0x400}, {"DS_CENTER", 0x800},
    {"DS_CENTERMOUSE", 0x1000}, {"DS_CONTEXTHELP", 0x2000}, {"DS_SHELLFONT", 0x48},
    {"BS_PUSHBUTTON", 0}, {"BS_DEFPUSHBUTTON", 1}, {"BS_CHECKBOX", 2}, {"BS_AUTOCHECKBOX", 3},
    {"BS_RADIOBUTTON", 4}, {"BS_3STATE", 5}, {"BS_AUTO3STATE", 6}, {"BS_GROUPBOX", 7}, {"BS_USERBUTTON", 8},
    {"BS_AUTORADIOBUTTON", 9}, {"BS_PUSHBOX", 0xA}, {"BS_OWNERDRAW", 0xB}, {"BS_LEFTTEXT", 0x20},
    {"BS_RIGHTBUTTON", 0x20}, {"BS_TEXT", 0}, {"BS_ICON", 0x40}, {"BS_BITMAP", 0x80}, {"BS_LEFT", 0x100},
    {"BS_RIGHT", 0x200}, {"BS_CENTER", 0x300}, {"BS_TOP", 0x400}, {"BS_BOTTOM", 0x800}, {"BS_VCENTER", 0xC00},
    {"BS_PUSHLIKE", 0x1000}, {"BS_MULTILINE", 0x2000}, {"BS_NOTIFY", 0x4000}, {"BS_FLAT", 0x8000},
    {"SS_LEFT", 0}, {"SS_CENTER", 1}, {"SS_RIGHT", 2}, {"SS_ICON", 3}, {"SS_BLACKRECT", 4}, {"SS_GRAYRECT", 5},
    {"SS_WHITERECT", 6}, {"SS_BLACKFRAME", 7}, {"SS_GRAYFRAME", 8}, {"SS_WHITEFRAME", 9}, {"SS_USERITEM", 0xA},
    {"SS_SIMPLE", 0xB}, {"SS_LEFTNOWORDWRAP", 0xC}, {"SS_OWNERDRAW", 0xD}, {"SS_BITMAP", 0xE},
    {"SS_ENHMETAFILE", 0xF}, {"SS_ETCHEDHORZ", 0x10}, {"SS_ETCHEDVERT", 0x11}, {"SS_ETCHEDFRAME", 0x12},
    {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200}, {"SS_RIGHTJUST", 0x400},
    {"SS_REALSIZEIMAGE", 0x800}, {"SS_SUNKEN", 0x1000}, {"SS_ENDELLIPSIS", 0x4000},
    {"SS_PATHELLIPSIS", 0x8000}, {"SS_WORDELLIPSIS", 0xC000},
    {"ES_LEFT", 0}, {"ES_CENTER", 1}, {"ES_RIGHT", 2}, {"ES_MULTILINE", 4}, {"ES_UPPERCASE", 8},
    {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20}, {"ES_AUTOVSCROLL", 0x40}, {"ES_AUTOHSCROLL", 0x80},
    {"ES_NOHIDESEL", 0x100}, {"ES_OEMCONVERT", 0x400}, {"ES_READONLY", 0x800}, {"ES_WANTRETURN", 0x1000},
    {"ES_NUMBER", 0x2000},
    {"CBS_SIMPLE", 1}, {"CBS_DROPDOWN", 2}, {"CBS_DROPDOWNLIST", 3}, {"CBS_OWNERDRAWFIXED", 0x10},
    {"CBS_OWNERDRAWVARIABLE", 0x20}, {"CBS_AUTOHSCROLL", 0x40}, {"CBS_OEMCONVERT", 0x80}, {"CBS_SORT", 0x100},
    {"CBS_HASSTRINGS", 0x200}, {"CBS_NOINTEGRALHEIGHT", 0x400}, {"CBS_DISABLENOSCROLL", 0x800},
    {"CBS_UPPERCASE", 0x2000}, {"CBS_LOWERCASE", 0x4000},
    {"LBS_NOTIFY", 1}, {"LBS_SORT", 2}, {"LBS_NOREDRAW", 4}, {"LBS_MULTIPLESEL", 8},
    {"LBS_OWNERDRAWFIXED", 0x10}, {"LBS_OWNERDRAWVARIABLE", 0x20}, {"LBS_HASSTRINGS", 0x40},
    {"LBS_USETABSTOPS", 0x80}, {"LBS_NOINTEGRALHEIGHT", 0x100}, {"LBS_MULTICOLUMN", 0x200},
    {"LBS_WANTKEYBOARDINPUT", 0x400}, {"LBS_EXTENDEDSEL", 0x800}, {"LBS_DISABLENOSCROLL", 0x1000},
    {"LBS_NODATA", 0x2000}, {"LBS_NOSEL", 0x4000}, {"LBS_STANDARD", 0x00A00003},
    {"SBS_HORZ", 0}, {"SBS_VERT", 1}, {"SBS_TOPALIGN", 2}, {"SBS_LEFTALIGN", 2}, {"SBS_BOTTOMALIGN", 4},
    {"SBS_RIGHTALIGN", 4}, {"SBS_SIZEBOX", 8}, {"SBS_SIZEGRIP", 0x10},
    {"MF_STRING", 0}, {"MF_GRAYED", 1}, {"MF_DISABLED", 2}, {"MF_BITMAP", 4}, {"MF_CHECKED", 8},
    {"MF_POPUP", 0x10}, {"MF_MENUBARBREAK", 0x20}, {"MF_MENUBREAK", 0x40}, {"MF_END", 0x80},
    {"MF_OWNERDRAW", 0x100}, {"MF_SEPARATOR", 0x800}, {"MF_HELP", 0x4000}, {"MF_RIGHTJUSTIFY", 0x4000},
    {"MFT_STRING", 0}, {"MFT_BITMAP", 4}, {"MFT_MENUBARBREAK", 0x20}, {"MFT_MENUBREAK", 0x40},
    {"MFT_OWNERDRAW", 0x100}, {"MFT_RADIOCHECK", 0x200}, {"MFT_SEPARATOR", 0x800}, {"MFT_RIGHTORDER", 0x2000},
    {"MFT_RIGHTJUSTIFY", 0x4000}, {"MFS_GRAYED", 3}, {"MFS_DISABLED", 3}, {"MFS_CHECKED", 8},
    {"MFS_HILITE", 0x80}, {"MFS_ENABLED", 0}, {"MFS_UNCHECKED", 0}, {"MFS_UNHILITE", 0}, {"MFS_DEFAULT", 0x1000},
    {"LANG_NEUTRAL", 0}, {"LANG_ENGLISH", 0x09}, {"LANG_GERMAN", 0x07}, {"LANG_FRENCH", 0x0C},
    {"LANG_SPANISH", 0x0A}, {"LANG_ITALIAN", 0x10}, {"LANG_DUTCH", 0x13}, {"LANG_JAPANESE", 0x11},
    {"LANG_KOREAN", 0x12}, {"LANG_CHINESE", 0x04}, {"LANG_PORTUGUESE", 0x16}, {"LANG_SWEDISH", 0x1D},
    {"LANG_DANISH", 0x06}, {"LANG_NORWEGIAN", 0x14}, {"LANG_FINNISH", 0x0B}, {"LANG_POLISH", 0x15},
    {"LANG_CZECH", 0x05}, {"LANG_HUNGARIAN", 0x0E}, {"LANG_RUSSIAN", 0x19}, {"LANG_GREEK", 0x08},
    {"LANG_TURKISH", 0x1F},
    {"SUBLANG_NEUTRAL", 0}, {"SUBLANG_DEFAULT", 1}, {"SUBLANG_SYS_DEFAULT", 2}, {"SUBLANG_ENGLISH_US", 1},
    {"SUBLANG_ENGLISH_UK", 2}, {"SUBLANG_GERMAN", 1}, {"SUBLANG_FRENCH", 1}, {"SUBLANG_CHINESE_TRADITIONAL", 1},
    {"SUBLANG_CHINESE_SIMPLIFIED", 2}, {"SUBLANG_KOREAN", 1}, {"SUBLANG_SPANISH", 1}, {"SUBLANG_ITALIAN", 1},
    {"SUBLANG_PORTUGUESE_BRAZILIAN", 1},
    {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5}, {"IDYES", 6}, {"IDNO", 7},
    {"IDCLOSE", 8}, {"IDHELP", 9}, {"IDC_STATIC", -1},
};

}  // namespace

bool Token::IsWord(std::string_view word) const { return kind == TokenKind::Identifier && EqualNoCase(text, word); }

Symbols::Symbols() {
    for (const auto& [name, value] : kBuiltins) values_.emplace(name, value);
}

std::optional<int64_t> Symbols::Lookup(std::string_view name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

// ---------------------------------------------------------------- text

std::u32string DecodeUtf8(std::string_view s, const Location& at) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0) Fail(at, "text is not valid UTF-8");
        char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= s.size()) Fail(at, "text is not valid UTF-8");
            auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) Fail(at, "text is not valid UTF-8");
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) Fail(at, "text is not valid UTF-8");
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

std::u16string ToUtf16(const std::u32string& s) {
    std::u16string out;
    for (char32_t c : s) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::u16string ToUtf16(std::string_view utf8) { return ToUtf16(DecodeUtf8(utf8, Location{"<text>", 0})); }

std::string ToAnsi(const std::u32string& s, const Location& at) {
    // Windows-1252: Latin-1 outside 0x80-0x9F, plus the printable extras there.
    static constexpr char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                           0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::string out;
    for (char32_t c : s) {
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        auto it = std::find(std::begin(kHigh), std::end(kHigh), c);
        if (c == 0 || it == std::end(kHigh)) Fail(at, "character U+" + std::to_string(static_cast<uint32_t>(c)) + " has no ANSI (Windows-1252) form");
        out.push_back(static_cast<char>(0x80 + (it - std::begin(kHigh))));
    }
    return out;
}

// ---------------------------------------------------------------- expressions

namespace {

ExprPtr MakeNumber(int64_t v, const Location& at) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Number;
    e->value = v;
    e->at = at;
    return e;
}

ExprPtr ParseBinary(TokenStream& in, int level, bool stopAtOr);

ExprPtr ParseUnary(TokenStream& in) {
    const Token& t = in.Peek();
    if (t.Is("-") || t.Is("~") || t.Is("!") || t.Is("+")) {
        Token op = in.Next();
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Unary;
        e->name = op.text;
        e->at = op.at;
        e->args.push_back(ParseUnary(in));
        return e;
    }
    if (t.Is("(")) {
        in.Next();
        auto e = ParseBinary(in, 0, false);
        Token close = in.Next();
        if (!close.Is(")")) Fail(close.at, "expected ')' in expression");
        return e;
    }
    if (t.kind == TokenKind::Number) {
        Token n = in.Next();
        return MakeNumber(static_cast<int64_t>(n.number), n.at);
    }
    if (t.kind == TokenKind::Identifier) {
        Token id = in.Next();
        auto e = std::make_unique<Expr>();
        e->at = id.at;
        e->name = id.text;
        if (in.Peek().Is("(") && (id.text == "count" || id.text == "sizeof")) {
            in.Next();
            e->kind = Expr::Kind::Call;
            Token arg = in.Next();
            if (arg.kind != TokenKind::Identifier) Fail(arg.at, "expected a name in " + id.text + "()");
            auto a = std::make_unique<Expr>();
            a->kind = Expr::Kind::Symbol;
            a->name = arg.text;
            a->at = arg.at;
            e->args.push_back(std::move(a));
            Token close = in.Next();
            if (!close.Is(")")) Fail(close.at, "expected ')' after " + id.text + "(" + arg.text);
            return e;
        }
        e->kind = Expr::Kind::Symbol;
        return e;
    }
    Fail(t.at, t.kind == TokenKind::End ? "expression expected before end of file"
                                        : "expression expected, found '" + t.text + "'");
}

// Binary precedence levels, loosest first.
const std::vector<std::vector<std::string_view>> kLevels = {
    {"||"}, {"&&"}, {"|"}, {"^"}, {"&"}, {"==", "!="}, {"<", ">", "<=", ">="}, {"<<", ">>"}, {"+", "-"}, {"*", "/", "%"}};

ExprPtr ParseBinary(TokenStream& in, int level, bool stopAtOr) {
    if (level >= static_cast<int>(kLevels.size())) return ParseUnary(in);
    auto left = ParseBinary(in, level + 1, stopAtOr);
    for (;;) {
        const Token& t = in.Peek();
        if (t.kind != TokenKind::Punct) return left;
        const auto& ops = kLevels[static_cast<size_t>(level)];
        if (std::find(ops.begin(), ops.end(), t.text) == ops.end()) return left;
        if (stopAtOr && (t.text == "|" || t.text == "||")) return left;
        Token op = in.Next();
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Binary;
        e->name = op.text;
        e->at = op.at;
        e->args.push_back(std::move(left));
        e->args.push_back(ParseBinary(in, level + 1, stopAtOr));
        left = std::move(e);
    }
}

}  // namespace

ExprPtr ParseExpr(TokenStream& in, bool stopAtOr) { return ParseBinary(in, 0, stopAtOr); }

int64_t Evaluate(const Expr& e, const Symbols& symbols, const CallResolver& call) {
    switch (e.kind) {
    case Expr::Kind::Number:
        return e.value;
    case Expr::Kind::Symbol: {
        if (auto v = symbols.Lookup(e.name)) return *v;
        Fail(e.at, "undefined symbol '" + e.name + "'");
    }
    case Expr::Kind::Call:
        if (!call) Fail(e.at, e.name + "() is only known inside a RECORD or STRUCT");
        return call(e);
    case Expr::Kind::Unary: {
        auto v = static_cast<uint64_t>(Evaluate(*e.args[0], symbols, call));
        if (e.name == "-") return static_cast<int64_t>(0 - v);
        if (e.name == "~") return static_cast<int64_t>(~v);
        if (e.name == "!") return v == 0;
        return static_cast<int64_t>(v);
    }
    case Expr::Kind::Binary: {
        int64_t a = Evaluate(*e.args[0], symbols, call);
        int64_t b = Evaluate(*e.args[1], symbols, call);
        auto ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
        const std::string& op = e.name;
        if (op == "+") return static_cast<int64_t>(ua + ub);
        if (op == "-") return static_cast<int64_t>(ua - ub);
        if (op == "*") return static_cast<int64_t>(ua * ub);
        if (op == "/" || op == "%") {
            if (b == 0) Fail(e.at, "division by zero");
            if (a == std::numeric_limits<int64_t>::min() && b == -1) Fail(e.at, "arithmetic overflow");
            return op == "/" ? a / b : a % b;
        }
        if (op == "|") return a | b;
        if (op == "&") return a & b;
        if (op == "^") return a ^ b;
        if (op == "<<" || op == ">>") {
            if (b < 0 || b > 63) Fail(e.at, "shift count out of range");
            return op == "<<" ? static_cast<int64_t>(ua << b) : static_cast<int64_t>(ua >> b);
        }
        if (op == "==") return a == b;
        if (op == "!=") return a != b;
        if (op == "<") return a < b;
        if (op == ">") return a > b;
        if (op == "<=") return a <= b;
        if (op == ">=") return a >= b;
        if (op == "&&") return a && b;
        if (op == "||") return a || b;
        Fail(e.at, "unknown operator " + op);
    }
    }
    Fail(e.at, "bad expression");
}

// ---------------------------------------------------------------- streams

VectorStream::VectorStream(std::vector<Token> tokens, Location end) : tokens_(std::move(tokens)) { end_.at = std::move(end); }

const Token& VectorStream::Peek() { return pos_ < tokens_.size() ? tokens_[pos_] : end_; }

Token VectorStream::Next() { return pos_ < tokens_.size() ? tokens_[pos_++] : end_; }

Lexer::Lexer(const CompileOptions& options, Symbols& symbols, std::vector<fs::path>& dependencies)
    : options_(options), symbols_(symbols), dependencies_(dependencies) {}

std::string Lexer::ReadWhole(const fs::path& path, const Location& at) {
    std::optional<std::string> text;
    if (options_.readFile) {
        text = options_.readFile(path);
    } else {
        std::ifstream in(path, std::ios::binary);
        if (in) text.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (!text) Fail(at, "cannot read '" + path.string() + "'");
    dependencies_.push_back(path);
    return std::move(*text);
}

fs::path Lexer::Resolve(const std::string& name, const Location& at, bool systemForm) const {
    fs::path p(name);
    auto exists = [&](const fs::path& c) {
        if (options_.readFile) return options_.readFile(c).has_value();
        std::error_code ec;
        return fs::is_regular_file(c, ec);
    };
    if (p.is_absolute()) return p;
    if (!systemForm) {
        fs::path beside = fs::path(at.file).parent_path() / p;
        if (exists(beside)) return beside;
    }
    for (const auto& dir : options_.includeDirs)
        if (exists(dir / p)) return dir / p;
    Fail(at, "cannot find '" + name + "'");
}

void Lexer::PushFile(const fs::path& path, const Location* from) {
    Location at = from ? *from : Location{path.string(), 0};
    if (files_.size() >= options_.maxIncludeDepth) Fail(at, "#include nested too deeply");
    if (++filesRead_ > options_.maxIncludeCount) Fail(at, "too many #include files");
    Source s;
    s.text = ReadWhole(path, at);
    s.name = path.string();
    s.header = IsHeaderName(path);
    files_.push_back(std::move(s));
}

void Lexer::PushText(std::string text, std::string name) {
    Source s;
    s.text = std::move(text);
    s.name = std::move(name);
    s.header = IsHeaderName(s.name);
    files_.push_back(std::move(s));
}

namespace {

// Skips blanks and comments; stops before a newline when asked.
void SkipSpace(std::string& text, size_t& pos, int& line, bool& atLineStart, bool stopAtNewline, const std::string& name) {
    while (pos < text.size()) {
        char c = text[pos];
        if (c == '\n') {
            if (stopAtNewline) return;
            ++line;
            ++pos;
            atLineStart = true;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            ++pos;
        } else if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\n' || text[pos + 1] == '\r')) {
            pos += text[pos + 1] == '\r' && pos + 2 < text.size() && text[pos + 2] == '\n' ? 3 : 2;
            ++line;
        } else if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '/') {
            while (pos < text.size() && text[pos] != '\n') ++pos;
        } else if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '*') {
            int startLine = line;
            pos += 2;
            while (pos + 1 < text.size() && !(text[pos] == '*' && text[pos + 1] == '/')) {
                if (text[pos] == '\n') ++line;
                ++pos;
            }
            if (pos + 1 >= text.size()) Fail(Location{name, startLine}, "comment not closed");
            pos += 2;
        } else {
            return;
        }
    }
}

}  // namespace

Token Lexer::Lex(Source& s) {
    Token t;
    t.at = Location{s.name, s.line};
    const std::string& x = s.text;
    size_t& p = s.pos;
    char c = x[p];
    s.atLineStart = false;
    bool wide = false;
    if ((c == 'L' || c == 'l') && p + 1 < x.size() && x[p + 1] == '"') {
        wide = true;
        c = x[++p];
    }
    if (c == '"') {
        ++p;
        std::string raw;
        std::u32string out;
        auto flush = [&] {
            auto d = DecodeUtf8(raw, t.at);
            out += d;
            raw.clear();
        };
        for (;;) {
            if (p >= x.size() || x[p] == '\n') Fail(t.at, "string not closed");
            char ch = x[p++];
            if (ch == '"') {
                if (p < x.size() && x[p] == '"') {  // "" stands for one quote
                    raw.push_back('"');
                    ++p;
                    continue;
                }
                break;
            }
            if (ch != '\\') {
                raw.push_back(ch);
                continue;
            }
            if (p >= x.size()) Fail(t.at, "string not closed");
            char e = x[p++];
            flush();
            switch (e) {
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case 'a': out.push_back('\a'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'v': out.push_back('\v'); break;
            case '\\': out.push_back('\\'); break;
            case '"': out.push_back('"'); break;
            case '\'': out.push_back('\''); break;
            case 'x': case 'X': {
                char32_t v = 0;
                int n = 0;
                while (p < x.size() && n < (wide ? 4 : 2) && std::isxdigit(static_cast<unsigned char>(x[p]))) {
                    char h = x[p++];
                    v = v * 16 + static_cast<char32_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
                    ++n;
                }
                if (n == 0) Fail(t.at, "\\x needs hex digits");
                out.push_back(v);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    char32_t v = static_cast<char32_t>(e - '0');
                    int n = 1;
                    while (p < x.size() && n < 3 && x[p] >= '0' && x[p] <= '7') {
                        v = v * 8 + static_cast<char32_t>(x[p++] - '0');
                        ++n;
                    }
                    out.push_back(v);
                } else {
                    Fail(t.at, std::string("unknown escape \\") + e);
                }
            }
        }
        flush();
        t.kind = TokenKind::String;
        t.wide = wide;
        t.string = std::move(out);
        t.text = "string";
        return t;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
        size_t start = p;
        uint64_t v = 0;
        bool overflow = false;
        if (c == '0' && p + 1 < x.size() && (x[p + 1] == 'x' || x[p + 1] == 'X')) {
            p += 2;
            if (p >= x.size() || !std::isxdigit(static_cast<unsigned char>(x[p]))) Fail(t.at, "bad hex number");
            while (p < x.size() && std::isxdigit(static_cast<unsigned char>(x[p]))) {
                char h = x[p++];
                if (v >> 60) overflow = true;
                v = v * 16 + static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (std::tolower(h) - 'a' + 10));
            }
        } else {
            while (p < x.size() && std::isdigit(static_cast<unsigned char>(x[p]))) {
                if (v > (std::numeric_limits<uint64_t>::max() - 9) / 10) overflow = true;
                v = v * 10 + static_cast<uint64_t>(x[p++] - '0');
            }
        }
        if (overflow || v > 0xFFFFFFFFull * 2) Fail(t.at, "number too large");
        while (p < x.size() && (x[p] == 'u' || x[p] == 'U' || x[p] == 'l' || x[p] == 'L')) ++p;
        if (p < x.size() && IsIdentChar(x[p])) Fail(t.at, "bad number '" + x.substr(start, p - start + 1) + "'");
        t.kind = TokenKind::Number;
        t.number = v;
        t.text = x.substr(start, p - start);
        return t;
    }
    if (c == '\'') {
        if (p + 2 < x.size() && x[p + 2] == '\'' && x[p + 1] != '\\') {
            t.kind = TokenKind::Number;
            t.number = static_cast<unsigned char>(x[p + 1]);
            t.text = x.substr(p, 3);
            p += 3;
            return t;
        }
        Fail(t.at, "bad character literal");
    }
    if (IsIdentStart(c)) {
        size_t start = p;
        while (p < x.size() && IsIdentChar(x[p])) ++p;
        t.kind = TokenKind::Identifier;
        t.text = x.substr(start, p - start);
        return t;
    }
    static constexpr std::string_view kTwo[] = {"<<", ">>", "==", "!=", "<=", ">=", "&&", "||", "::"};
    for (auto two : kTwo) {
        if (x.compare(p, 2, two) == 0) {
            t.kind = TokenKind::Punct;
            t.text = std::string(two);
            p += 2;
            return t;
        }
    }
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E)
        Fail(t.at, "unexpected character (code " + std::to_string(static_cast<unsigned char>(c)) + ")");
    t.kind = TokenKind::Punct;
    t.text = std::string(1, c);
    ++p;
    return t;
}

std::vector<Token> Lexer::RestOfLine(Source& s) {
    std::vector<Token> out;
    for (;;) {
        SkipSpace(s.text, s.pos, s.line, s.atLineStart, true, s.name);
        if (s.pos >= s.text.size() || s.text[s.pos] == '\n') break;
        out.push_back(Lex(s));
    }
    return out;
}

void Lexer::Directive(Source& s) {
    Location at{s.name, s.line};
    ++s.pos;  // '#'
    SkipSpace(s.text, s.pos, s.line, s.atLineStart, true, s.name);
    if (s.text.compare(s.pos, 6, "define") == 0 && s.pos + 6 < s.text.size() && !IsIdentChar(s.text[s.pos + 6])) {
        s.pos += 6;
        SkipSpace(s.text, s.pos, s.line, s.atLineStart, true, s.name);
        if (!Active() || s.pos >= s.text.size() || !IsIdentStart(s.text[s.pos])) {
            if (Active()) Fail(at, "#define needs a name");
            RestOfLine(s);
            return;
        }
        Token macro = Lex(s);
        // A function-like macro (name directly followed by '(') is not ours to
        // expand; headers shared with C++ code may carry some.
        bool functionLike = s.pos < s.text.size() && s.text[s.pos] == '(';
        std::vector<Token> body = RestOfLine(s);
        s.atLineStart = false;
        if (!functionLike) macros_[macro.text] = std::move(body);
        return;
    }
    std::vector<Token> line = RestOfLine(s);
    s.atLineStart = false;
    if (line.empty()) return;  // a lone '#'
    std::string name = line[0].text;
    std::vector<Token> args(line.begin() + 1, line.end());
    bool parent = Active();

    auto evalCondition = [&](std::vector<Token> toks) -> bool {
        std::vector<Token> ready;
        for (size_t i = 0; i < toks.size(); ++i) {
            if (toks[i].kind == TokenKind::Identifier && toks[i].text == "defined") {
                size_t j = i + 1;
                bool paren = j < toks.size() && toks[j].Is("(");
                if (paren) ++j;
                if (j >= toks.size() || toks[j].kind != TokenKind::Identifier) Fail(at, "defined needs a name");
                Token n;
                n.kind = TokenKind::Number;
                n.at = toks[j].at;
                n.number = macros_.count(toks[j].text) || symbols_.Lookup(toks[j].text) ? 1 : 0;
                ready.push_back(n);
                i = j + (paren ? 1 : 0);
                if (paren && (i >= toks.size() || !toks[i].Is(")"))) Fail(at, "defined( needs ')'");
                continue;
            }
            if (toks[i].kind == TokenKind::Identifier) {
                auto m = macros_.find(toks[i].text);
                if (m != macros_.end()) {
                    ready.insert(ready.end(), m->second.begin(), m->second.end());
                    continue;
                }
                if (!symbols_.Lookup(toks[i].text)) {  // unknown names count as 0, as in C
                    Token n;
                    n.kind = TokenKind::Number;
                    n.at = toks[i].at;
                    ready.push_back(n);
                    continue;
                }
            }
            ready.push_back(toks[i]);
        }
        VectorStream vs(std::move(ready), at);
        auto e = ParseExpr(vs);
        if (vs.Peek().kind != TokenKind::End) Fail(at, "junk after #" + name + " expression");
        return Evaluate(*e, symbols_) != 0;
    };

    if (name == "ifdef" || name == "ifndef") {
        if (args.empty() || args[0].kind != TokenKind::Identifier) Fail(at, "#" + name + " needs a name");
        bool def = macros_.count(args[0].text) || symbols_.Lookup(args[0].text);
        bool take = parent && (name == "ifdef" ? def : !def);
        conds_.push_back({take, take, parent});
        return;
    }
    if (name == "if") {
        bool take = parent && evalCondition(args);
        conds_.push_back({take, take, parent});
        return;
    }
    if (name == "elif" || name == "else" || name == "endif") {
        if (conds_.empty()) Fail(at, "#" + name + " without #if");
        Condition& c = conds_.back();
        if (name == "endif") {
            conds_.pop_back();
        } else if (name == "else") {
            c.active = c.parentActive && !c.anyTaken;
            c.anyTaken = true;
        } else {
            c.active = !c.anyTaken && c.parentActive && evalCondition(args);
            c.anyTaken = c.anyTaken || c.active;
        }
        return;
    }
    if (!parent) return;
    if (name == "undef") {
        if (!args.empty()) macros_.erase(args[0].text);
        return;
    }
    if (name == "include") {
        if (args.empty()) Fail(at, "#include needs a file name");
        std::string file;
        bool system = false;
        if (args[0].kind == TokenKind::String) {
            file = ToAnsi(args[0].string, at);
        } else if (args[0].Is("<")) {
            system = true;
            size_t open = s.text.rfind('<', s.pos);
            size_t close = s.text.find('>', open);
            if (open == std::string::npos || close == std::string::npos || close > s.pos) Fail(at, "bad #include <...>");
            file = s.text.substr(open + 1, close - open - 1);
        } else {
            Fail(at, "#include needs \"file\" or <file>");
        }
        // The platform's own headers are not needed: their names are built in.
        std::string lower = file;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char ch) { return std::tolower(ch); });
        if (system && (lower == "windows.h" || lower == "winres.h" || lower == "winresrc.h" || lower == "commctrl.h" ||
                       lower == "winuser.h" || lower == "winver.h" || lower == "afxres.h"))
            return;
        fs::path path = Resolve(file, at, system);
        PushFile(path, &at);
        return;
    }
    if (name == "pragma" || name == "line" || name == "ident") return;
    if (name == "error") Fail(at, "#error");
    Fail(at, "unknown directive #" + name);
}

Token Lexer::Raw() {
    for (;;) {
        if (files_.empty()) {
            Token t;
            t.kind = TokenKind::End;
            return t;
        }
        Source& s = files_.back();
        SkipSpace(s.text, s.pos, s.line, s.atLineStart, false, s.name);
        if (s.pos >= s.text.size()) {
            Token end;
            end.at = Location{s.name, s.line};
            files_.pop_back();
            if (files_.empty()) {
                if (!conds_.empty()) Fail(end.at, "#if without #endif");
                end.kind = TokenKind::End;
                return end;
            }
            continue;
        }
        if (s.atLineStart && s.text[s.pos] == '#') {
            Directive(s);
            continue;
        }
        if (!Active()) {
            while (s.pos < s.text.size() && s.text[s.pos] != '\n') {
                // Strings and comments in skipped parts are not looked at.
                ++s.pos;
            }
            continue;
        }
        headerToken_ = s.header;
        return Lex(s);
    }
}

Token Lexer::Expanded() {
    for (;;) {
        Token t;
        bool header;
        if (!pending_.empty()) {
            t = std::move(pending_.back());
            pending_.pop_back();
            header = pendingHeader_;
        } else {
            t = Raw();
            header = headerToken_;
            expansionDepth_ = 0;
            pendingHeader_ = header;
        }
        if (t.kind == TokenKind::Identifier) {
            auto m = macros_.find(t.text);
            if (m != macros_.end()) {
                if (++expansionDepth_ > 256) Fail(t.at, "macro '" + t.text + "' expands without end");
                for (auto it = m->second.rbegin(); it != m->second.rend(); ++it) {
                    Token copy = *it;
                    copy.at = t.at;
                    pending_.push_back(std::move(copy));
                }
                continue;
            }
        }
        lastHeader_ = header;
        return t;
    }
}

void Lexer::HeaderDeclaration(Token first) {
    // Collects one declaration of a C/C++ header; only constants count.
    std::vector<Token> stmt{first};
    auto next = [&]() -> std::optional<Token> {
        Token t = Expanded();
        if (!lastHeader_ || t.kind == TokenKind::End) {
            pending_.push_back(std::move(t));
            pendingHeader_ = false;
            return std::nullopt;
        }
        return t;
    };
    if (first.Is("}") || first.Is(";")) return;
    if (first.IsWord("namespace") || (first.IsWord("extern"))) {
        while (auto t = next()) {
            if (t->Is("{") || t->Is(";")) return;
        }
        return;
    }
    bool isEnum = first.text == "enum";
    for (;;) {
        auto t = next();
        if (!t) return;
        if (t->Is(";")) break;
        if (t->Is("{")) {
            if (isEnum) {
                int64_t value = 0;
                for (;;) {
                    auto n = next();
                    if (!n || n->Is("}")) break;
                    if (n->Is(",")) continue;
                    if (n->kind != TokenKind::Identifier) return;
                    std::vector<Token> expr;
                    auto a = next();
                    if (!a) return;
                    if (a->Is("=")) {
                        for (;;) {
                            auto e = next();
                            if (!e) return;
                            if (e->Is(",") || e->Is("}")) {
                                VectorStream vs(std::move(expr), n->at);
                                try {
                                    value = Evaluate(*ParseExpr(vs), symbols_);
                                } catch (const CompileError&) {
                                }
                                symbols_.Define(n->text, value++);
                                if (e->Is("}")) goto enumDone;
                                break;
                            }
                            expr.push_back(*e);
                        }
                    } else {
                        symbols_.Define(n->text, value++);
                        if (a->Is("}")) break;
                    }
                }
            enumDone:
                while (auto r = next())
                    if (r->Is(";")) return;
                return;
            }
            // Skip a body (struct, function); a struct ends with ';'.
            int depth = 1;
            while (depth > 0) {
                auto b = next();
                if (!b) return;
                if (b->Is("{")) ++depth;
                if (b->Is("}")) --depth;
            }
            bool isType = first.IsWord("struct") || first.IsWord("class") || first.IsWord("union");
            if (!isType) return;
            continue;
        }
        stmt.push_back(*t);
    }
    // NAME = expr, with `constexpr` or `const` somewhere before it.
    auto eq = std::find_if(stmt.begin(), stmt.end(), [](const Token& x) { return x.Is("="); });
    bool constant = std::any_of(stmt.begin(), eq, [](const Token& x) { return x.text == "constexpr" || x.text == "const"; });
    bool function = std::any_of(stmt.begin(), eq, [](const Token& x) { return x.Is("("); });
    if (eq == stmt.begin() || eq == stmt.end() || !constant || function) return;
    const Token& name = *(eq - 1);
    if (name.kind != TokenKind::Identifier) return;
    VectorStream vs(std::vector<Token>(eq + 1, stmt.end()), name.at);
    try {
        auto e = ParseExpr(vs);
        if (vs.Peek().kind == TokenKind::End) symbols_.Define(name.text, Evaluate(*e, symbols_));
    } catch (const CompileError&) {
        // Not a constant we can read (a call, a cast): not for scripts.
    }
}

const Token& Lexer::Peek() {
    if (!hasPeeked_) {
        peeked_ = Next();
        hasPeeked_ = true;
    }
    return peeked_;
}

void Lexer::Unread(Token t) {
    if (hasPeeked_) {
        unread_.push_back(std::move(peeked_));
        hasPeeked_ = false;
    }
    unread_.push_back(std::move(t));
}

Token Lexer::Next() {
    if (hasPeeked_) {
        hasPeeked_ = false;
        return std::move(peeked_);
    }
    if (!unread_.empty()) {
        Token t = std::move(unread_.back());
        unread_.pop_back();
        return t;
    }
    for (;;) {
        Token t = Expanded();
        if (lastHeader_ && t.kind != TokenKind::End) {
            HeaderDeclaration(std::move(t));
            continue;
        }
        return t;
    }
}

}  // namespace zq::rc
