// Tokens, the preprocessor and expressions of the resource compiler.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "rc_compiler.h"

namespace zq::rc {

struct Location {
    std::string file;
    int line = 0;
    std::string Text() const { return file + ":" + std::to_string(line); }
};

[[noreturn]] void Fail(const Location& at, const std::string& message);

enum class TokenKind { End, Identifier, Number, String, Punct };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;        // identifier, punctuation, or the number's spelling
    uint64_t number = 0;
    bool wide = false;       // L"..." string
    std::u32string string;   // decoded string literal
    Location at;

    bool Is(std::string_view punct) const { return kind == TokenKind::Punct && text == punct; }
    bool IsWord(std::string_view word) const;  // identifier, compared ignoring case
};

class TokenStream {
public:
    virtual ~TokenStream() = default;
    virtual const Token& Peek() = 0;
    virtual Token Next() = 0;
};

// Named numbers: #define'd macros are expanded by the lexer; `constexpr`
// and enum constants of headers, and the standard style and id names of the
// platform, are looked up here.
class Symbols {
public:
    Symbols();
    std::optional<int64_t> Lookup(std::string_view name) const;
    void Define(const std::string& name, int64_t value) { values_[name] = value; }

private:
    std::map<std::string, int64_t, std::less<>> values_;
};

// Expression trees, evaluated at once for script statements and later for
// record fields (which may name fields declared after them).
struct Expr {
    enum class Kind { Number, Symbol, Unary, Binary, Call } kind = Kind::Number;
    int64_t value = 0;
    std::string name;  // symbol, operator or function
    std::vector<std::unique_ptr<Expr>> args;
    Location at;
};
using ExprPtr = std::unique_ptr<Expr>;

// Parses a C-like integer expression. `stopAtOr` leaves a top-level '|' to
// the caller (style lists with NOT).
ExprPtr ParseExpr(TokenStream& in, bool stopAtOr = false);

// Evaluates with symbols; `call` answers count()/sizeof() and may be empty.
using CallResolver = std::function<int64_t(const Expr&)>;
int64_t Evaluate(const Expr& e, const Symbols& symbols, const CallResolver& call = {});

// The preprocessing lexer over a stack of files.
class Lexer : public TokenStream {
public:
    Lexer(const CompileOptions& options, Symbols& symbols, std::vector<std::filesystem::path>& dependencies);

    void PushFile(const std::filesystem::path& path, const Location* from);
    void PushText(std::string text, std::string name);

    const Token& Peek() override;
    Token Next() override;
    // Puts a token back in front of the stream (two tokens of look-ahead).
    void Unread(Token t);

    // Finds a file named by a script: beside the current file, then in the
    // include directories.
    std::filesystem::path Resolve(const std::string& name, const Location& at, bool systemForm = false) const;
    std::string ReadWhole(const std::filesystem::path& path, const Location& at);

private:
    struct Source {
        std::string text;
        std::string name;
        std::filesystem::path dir;
        size_t pos = 0;
        int line = 1;
        bool header = false;  // C/C++ header: only directives and constants count
        bool atLineStart = true;
    };
    struct Condition {
        bool active;        // this branch is taken
        bool anyTaken;      // some branch of the group was taken
        bool parentActive;
    };

    Token Raw();               // next token of the current file, directives handled
    Token Lex(Source& s);      // one token, no directives
    Token Expanded();          // with macros expanded
    void Directive(Source& s);
    bool Active() const { return conds_.empty() || conds_.back().active; }
    void HeaderDeclaration(Token first);
    std::vector<Token> RestOfLine(Source& s);

    const CompileOptions& options_;
    Symbols& symbols_;
    std::vector<std::filesystem::path>& dependencies_;
    std::vector<Source> files_;
    std::vector<Condition> conds_;
    std::map<std::string, std::vector<Token>, std::less<>> macros_;
    std::vector<Token> pending_;  // expanded tokens waiting, back() first
    Token peeked_;
    bool hasPeeked_ = false;
    std::vector<Token> unread_;
    int expansionDepth_ = 0;
    size_t filesRead_ = 0;
    bool headerToken_ = false;    // the token Raw() returned came from a header
    bool pendingHeader_ = false;  // the tokens in pending_ came from a header
    bool lastHeader_ = false;     // the token Expanded() returned came from a header
};

// A token stream over a vector (used for #if and header constants).
class VectorStream : public TokenStream {
public:
    explicit VectorStream(std::vector<Token> tokens, Location end);
    const Token& Peek() override;
    Token Next() override;

private:
    std::vector<Token> tokens_;
    size_t pos_ = 0;
    Token end_;
};

// Text conversions of the compiler.
std::u16string ToUtf16(const std::u32string& s);
std::u16string ToUtf16(std::string_view utf8);
std::string ToAnsi(const std::u32string& s, const Location& at);  // Windows-1252
std::u32string DecodeUtf8(std::string_view s, const Location& at);

}  // namespace zq::rc
