// The statement parser of the resource compiler.
#pragma once

#include <map>
#include <memory>
#include <variant>

#include "lexer.h"

namespace zq::rc {

// Little-endian byte building.
struct Bytes {
    std::vector<uint8_t> v;
    void U8(uint64_t x) { v.push_back(static_cast<uint8_t>(x)); }
    void U16(uint64_t x) { U8(x); U8(x >> 8); }
    void U32(uint64_t x) { U16(x); U16(x >> 16); }
    void Align(size_t n) { while (v.size() % n) v.push_back(0); }
    void Wide(const std::u16string& s) {  // NUL-terminated UTF-16
        for (char16_t c : s) U16(c);
        U16(0);
    }
};

// A name or number in a dialog template (sz_Or_Ord).
struct NameOrId {
    bool isId = false;
    uint16_t id = 0;
    std::u16string name;
};

// Record descriptions.
struct Init;
using InitPtr = std::unique_ptr<Init>;
struct Init {
    enum class Kind { Expr, String, List, Named } kind = Kind::Expr;
    ExprPtr expr;
    std::u32string string;
    bool wide = false;
    std::vector<InitPtr> items;                       // List
    std::vector<std::pair<std::string, InitPtr>> named;  // Named
    Location at;
};

struct StructDef;
struct FieldType {
    enum class Kind { U8, U16, U32, S8, S16, S32, Char, WChar, Pad, Struct } kind = Kind::U8;
    size_t length = 0;              // Char/WChar characters, Pad bytes
    const StructDef* def = nullptr;  // Struct
};

struct FieldDecl {
    std::string name;  // empty for pad
    FieldType type;
    bool isArray = false;
    ExprPtr countExpr;  // null for name[] (length from the initialiser)
    InitPtr init;
    Location at;
};

struct StructDef {
    std::string name;
    std::vector<FieldDecl> fields;
    std::vector<size_t> counts;   // resolved element counts (1 for scalars)
    std::vector<size_t> offsets;  // resolved offsets
    size_t size = 0;
    Location at;
};

class Parser {
public:
    Parser(Lexer& lexer, Symbols& symbols, const CompileOptions& options, CompileResult& result)
        : in_(lexer), symbols_(symbols), options_(options), result_(result) {}
    void Run();

private:
    // Helpers.
    Token Expect(std::string_view punct, std::string_view what);
    bool Accept(std::string_view punct);
    void Comma(std::string_view what) { Expect(",", what); }
    bool AcceptComma() { return Accept(","); }
    int64_t Number();
    int64_t Ranged(int64_t lo, int64_t hi, std::string_view what);
    uint32_t Style(uint32_t base);
    std::u32string String(bool* wide = nullptr);
    ResourceKey Key(std::string_view what);
    NameOrId TemplateName(const Token& t);
    void Begin(std::string_view what);
    bool AtEnd();  // END or '}' (consumed)
    void SkipMemoryOptions();
    void AddResource(ResourceKey type, ResourceKey name, std::vector<uint8_t> data, const Location& at);
    std::vector<uint8_t> ReadFile(const Token& nameToken);

    // Statements.
    void StringTable(const Token& start);
    void Dialog(ResourceKey name, bool ex, const Token& start);
    void Menu(ResourceKey name, bool ex, const Token& start);
    void MenuItems(Bytes& out, bool ex, int depth);
    void Bitmap(ResourceKey name, const Token& start);
    void Icon(ResourceKey name, const Token& start);
    void UserData(ResourceKey type, ResourceKey name, const Token& start);
    void VersionInfo(ResourceKey name, const Token& start);
    void Struct(const Token& start);
    void Record(const Token& start);

    // Records.
    void ParseFields(StructDef& def, bool allowValues);
    FieldType ParseFieldType(const Token& t);
    InitPtr ParseInit();
    void Layout(StructDef& def);
    void EmitStruct(const StructDef& def, const Init* given, std::vector<uint8_t>& out, size_t at);
    void EmitField(const StructDef& def, size_t index, const FieldType& type, const Init* init, std::vector<uint8_t>& out,
                   size_t at);
    int64_t RecordCall(const StructDef& def, const Expr& call);

    Lexer& in_;
    Symbols& symbols_;
    const CompileOptions& options_;
    CompileResult& result_;
    uint16_t language_ = 0;
    uint16_t nextIconId_ = 1;
    std::map<std::string, std::unique_ptr<StructDef>, std::less<>> structs_;
    std::map<uint32_t, std::pair<std::array<std::u16string, 16>, std::array<bool, 16>>> pendingStrings_;
    std::map<uint32_t, Location> stringOrigins_;
};

}  // namespace zq::rc
