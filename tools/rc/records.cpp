// Binary records described with named, typed fields (STRUCT and RECORD).
#include <algorithm>

#include "parser.h"

namespace zq::rc {

namespace {

constexpr size_t kMaxRecordBytes = 1u << 20;

struct ScalarInfo {
    const char* name;
    FieldType::Kind kind;
    size_t size;
    int64_t lo, hi;
};
constexpr ScalarInfo kScalars[] = {
    {"uint8", FieldType::Kind::U8, 1, 0, 0xFF},
    {"uint16", FieldType::Kind::U16, 2, 0, 0xFFFF},
    {"uint32", FieldType::Kind::U32, 4, 0, 0xFFFFFFFFLL},
    {"sint8", FieldType::Kind::S8, 1, -0x80, 0x7F},
    {"sint16", FieldType::Kind::S16, 2, -0x8000, 0x7FFF},
    {"sint32", FieldType::Kind::S32, 4, -0x80000000LL, 0x7FFFFFFF},
};

const ScalarInfo* Scalar(FieldType::Kind k) {
    for (const auto& s : kScalars)
        if (s.kind == k) return &s;
    return nullptr;
}

size_t ElementSize(const FieldType& t) {
    if (auto s = Scalar(t.kind)) return s->size;
    switch (t.kind) {
    case FieldType::Kind::Char:
    case FieldType::Kind::Pad:
        return t.length;
    case FieldType::Kind::WChar:
        return 2 * t.length;
    case FieldType::Kind::Struct:
        return t.def->size;
    default:
        return 0;
    }
}

std::string TypeName(const FieldType& t) {
    if (auto s = Scalar(t.kind)) return s->name;
    switch (t.kind) {
    case FieldType::Kind::Char: return "char[" + std::to_string(t.length) + "]";
    case FieldType::Kind::WChar: return "wchar[" + std::to_string(t.length) + "]";
    case FieldType::Kind::Pad: return "pad";
    case FieldType::Kind::Struct: return t.def->name;
    default: return "?";
    }
}

}  // namespace

FieldType Parser::ParseFieldType(const Token& t) {
    FieldType type;
    for (const auto& s : kScalars) {
        if (t.text == s.name) {
            type.kind = s.kind;
            return type;
        }
    }
    if (t.text == "char" || t.text == "wchar" || t.text == "pad") {
        type.kind = t.text == "char" ? FieldType::Kind::Char : t.text == "wchar" ? FieldType::Kind::WChar : FieldType::Kind::Pad;
        Expect("[", "after " + t.text);
        Location at = in_.Peek().at;
        int64_t n = Number();
        if (n <= 0 || n > static_cast<int64_t>(kMaxRecordBytes)) Fail(at, t.text + " length " + std::to_string(n) + " is out of range");
        type.length = static_cast<size_t>(n);
        Expect("]", "after the length");
        return type;
    }
    auto it = structs_.find(t.text);
    if (it == structs_.end()) Fail(t.at, "unknown field type '" + t.text + "' (uint8, uint16, uint32, sint8, sint16, sint32, char[n], wchar[n], pad[n] or a STRUCT)");
    type.kind = FieldType::Kind::Struct;
    type.def = it->second.get();
    return type;
}

InitPtr Parser::ParseInit() {
    auto init = std::make_unique<Init>();
    const Token& t = in_.Peek();
    init->at = t.at;
    if (t.kind == TokenKind::String) {
        init->kind = Init::Kind::String;
        init->string = String(&init->wide);
        return init;
    }
    if (!t.Is("{")) {
        init->kind = Init::Kind::Expr;
        init->expr = ParseExpr(in_);
        return init;
    }
    in_.Next();
    init->kind = Init::Kind::List;
    bool decided = false;
    while (!Accept("}")) {
        if (in_.Peek().kind == TokenKind::End) Fail(init->at, "'{' not closed");
        // `name = value` makes a designated list; otherwise values in order.
        bool named = false;
        if (in_.Peek().kind == TokenKind::Identifier) {
            Token id = in_.Next();
            if (in_.Peek().Is("=")) {
                in_.Next();
                named = true;
                if (decided && init->kind != Init::Kind::Named) Fail(id.at, "mixing named and positional values");
                init->kind = Init::Kind::Named;
                init->named.emplace_back(id.text, ParseInit());
            } else {
                in_.Unread(std::move(id));
            }
        }
        if (!named) {
            if (decided && init->kind == Init::Kind::Named) Fail(in_.Peek().at, "mixing named and positional values");
            init->items.push_back(ParseInit());
        }
        decided = true;
        if (init->items.size() + init->named.size() > kMaxRecordBytes) Fail(init->at, "too many values");
        if (!Accept(",") && !Accept(";")) {
            Expect("}", "after a value in braces");
            break;
        }
    }
    return init;
}

void Parser::ParseFields(StructDef& def, bool allowValues) {
    while (!Accept("}")) {
        Token t = in_.Next();
        if (t.kind == TokenKind::End) Fail(def.at, "'{' of " + def.name + " not closed");
        if (t.kind != TokenKind::Identifier) Fail(t.at, "expected a field, found '" + t.text + "'");
        if (t.text == "array") {
            t = in_.Next();
            if (t.kind != TokenKind::Identifier) Fail(t.at, "expected a field type after 'array'");
        }
        FieldDecl f;
        f.at = t.at;
        f.type = ParseFieldType(t);
        if (f.type.kind != FieldType::Kind::Pad) {
            Token name = in_.Next();
            if (name.kind != TokenKind::Identifier) Fail(name.at, "expected the field's name");
            f.name = name.text;
            for (const auto& other : def.fields)
                if (other.name == f.name) Fail(name.at, "field '" + f.name + "' declared twice");
            if (Accept("[")) {
                f.isArray = true;
                if (!in_.Peek().Is("]")) f.countExpr = ParseExpr(in_);
                Expect("]", "after the array length");
            }
            if (Accept("=")) {
                if (!allowValues) Fail(in_.Peek().at, "values are not allowed here");
                f.init = ParseInit();
            }
        }
        Expect(";", "after the field");
        def.fields.push_back(std::move(f));
    }
}

void Parser::Layout(StructDef& def) {
    def.counts.clear();
    def.offsets.clear();
    size_t offset = 0;
    for (const auto& f : def.fields) {
        size_t count = 1;
        if (f.isArray) {
            if (f.countExpr) {
                int64_t n = Evaluate(*f.countExpr, symbols_, [&](const Expr& e) -> int64_t {
                    if (e.name == "sizeof") {
                        auto it = structs_.find(e.args[0]->name);
                        if (it != structs_.end()) return static_cast<int64_t>(it->second->size);
                    }
                    Fail(e.at, "an array length may only use numbers, symbols and sizeof(STRUCT)");
                });
                if (n < 0 || n > static_cast<int64_t>(kMaxRecordBytes)) Fail(f.at, "array length " + std::to_string(n) + " is out of range");
                count = static_cast<size_t>(n);
            } else {
                if (!f.init || f.init->kind != Init::Kind::List) Fail(f.at, "'" + f.name + "[]' needs a list of values to size it");
                count = f.init->items.size();
            }
        }
        def.counts.push_back(count);
        def.offsets.push_back(offset);
        offset += count * ElementSize(f.type);
        if (offset > kMaxRecordBytes) Fail(f.at, "record larger than " + std::to_string(kMaxRecordBytes) + " bytes");
    }
    def.size = offset;
}

int64_t Parser::RecordCall(const StructDef& def, const Expr& call) {
    const std::string& arg = call.args[0]->name;
    for (size_t i = 0; i < def.fields.size(); ++i) {
        if (def.fields[i].name != arg) continue;
        if (call.name == "count") {
            if (!def.fields[i].isArray) Fail(call.at, "count(" + arg + "): not an array");
            return static_cast<int64_t>(def.counts[i]);
        }
        return static_cast<int64_t>(def.counts[i] * ElementSize(def.fields[i].type));
    }
    if (call.name == "sizeof") {
        auto it = structs_.find(arg);
        if (it != structs_.end()) return static_cast<int64_t>(it->second->size);
    }
    Fail(call.at, call.name + "(" + arg + "): no such field" + (call.name == "sizeof" ? " or STRUCT" : ""));
}

void Parser::EmitField(const StructDef& def, size_t index, const FieldType& type, const Init* init,
                       std::vector<uint8_t>& out, size_t at) {
    const FieldDecl& f = def.fields[index];
    if (auto s = Scalar(type.kind)) {
        if (!init) return;
        if (init->kind != Init::Kind::Expr) Fail(init->at, "'" + f.name + "' is " + s->name + ": expected a number");
        int64_t v = Evaluate(*init->expr, symbols_, [&](const Expr& e) { return RecordCall(def, e); });
        if (v < s->lo || v > s->hi)
            Fail(init->at, "value " + std::to_string(v) + " does not fit '" + f.name + "' (" + s->name + ")");
        for (size_t i = 0; i < s->size; ++i) out[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
        return;
    }
    switch (type.kind) {
    case FieldType::Kind::Char:
    case FieldType::Kind::WChar: {
        if (!init) return;
        if (init->kind != Init::Kind::String) Fail(init->at, "'" + f.name + "' is " + TypeName(type) + ": expected a string");
        if (type.kind == FieldType::Kind::Char) {
            std::string text = ToAnsi(init->string, init->at);
            if (text.size() > type.length)
                Fail(init->at, "text of " + std::to_string(text.size()) + " characters does not fit '" + f.name + "' (" + TypeName(type) + ")");
            std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            std::u16string text = ToUtf16(init->string);
            if (text.size() > type.length)
                Fail(init->at, "text of " + std::to_string(text.size()) + " characters does not fit '" + f.name + "' (" + TypeName(type) + ")");
            for (size_t i = 0; i < text.size(); ++i) {
                out[at + 2 * i] = static_cast<uint8_t>(text[i]);
                out[at + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
            }
        }
        return;
    }
    case FieldType::Kind::Struct:
        EmitStruct(*type.def, init, out, at);
        return;
    default:
        return;
    }
}

void Parser::EmitStruct(const StructDef& def, const Init* given, std::vector<uint8_t>& out, size_t at) {
    std::vector<const Init*> inits(def.fields.size(), nullptr);
    for (size_t i = 0; i < def.fields.size(); ++i) inits[i] = def.fields[i].init.get();
    if (given) {
        if (given->kind == Init::Kind::Named) {
            std::vector<bool> seen(def.fields.size(), false);
            for (const auto& entry : given->named) {
                const std::string& name = entry.first;
                const InitPtr& value = entry.second;
                auto it = std::find_if(def.fields.begin(), def.fields.end(), [&](const FieldDecl& f) { return f.name == name; });
                if (name.empty() || it == def.fields.end()) Fail(value->at, def.name + " has no field '" + name + "'");
                auto i = static_cast<size_t>(it - def.fields.begin());
                if (seen[i]) Fail(value->at, "field '" + name + "' given twice");
                seen[i] = true;
                inits[i] = value.get();
            }
        } else if (given->kind == Init::Kind::List) {
            size_t next = 0;
            for (const auto& value : given->items) {
                while (next < def.fields.size() && def.fields[next].type.kind == FieldType::Kind::Pad) ++next;
                if (next >= def.fields.size()) Fail(value->at, "too many values for " + def.name);
                inits[next++] = value.get();
            }
        } else {
            Fail(given->at, def.name + " needs its values in braces");
        }
    }
    for (size_t i = 0; i < def.fields.size(); ++i) {
        const FieldDecl& f = def.fields[i];
        const Init* init = inits[i];
        size_t base = at + def.offsets[i];
        if (!f.isArray) {
            EmitField(def, i, f.type, init, out, base);
            continue;
        }
        if (init && init->kind != Init::Kind::List) Fail(init->at, "'" + f.name + "' is an array: expected values in braces");
        size_t n = init ? init->items.size() : 0;
        if (n > def.counts[i])
            Fail(init->at, std::to_string(n) + " values for '" + f.name + "[" + std::to_string(def.counts[i]) + "]'");
        size_t elem = ElementSize(f.type);
        for (size_t k = 0; k < def.counts[i]; ++k)
            EmitField(def, i, f.type, k < n ? init->items[k].get() : nullptr, out, base + k * elem);
    }
}

void Parser::Struct(const Token& start) {
    Token name = in_.Next();
    if (name.kind != TokenKind::Identifier) Fail(name.at, "STRUCT needs a name");
    if (structs_.count(name.text)) Fail(name.at, "STRUCT " + name.text + " declared twice");
    for (const auto& s : kScalars)
        if (name.text == s.name) Fail(name.at, "'" + name.text + "' is a field type");
    auto def = std::make_unique<StructDef>();
    def->name = name.text;
    def->at = start.at;
    std::optional<int64_t> size;
    Location sizeAt;
    if (in_.Peek().IsWord("SIZE")) {
        in_.Next();
        sizeAt = in_.Peek().at;
        size = Number();
    }
    Expect("{", "to open STRUCT " + name.text);
    ParseFields(*def, true);
    if (!size && in_.Peek().IsWord("SIZE")) {
        in_.Next();
        sizeAt = in_.Peek().at;
        size = Number();
    }
    Accept(";");
    Layout(*def);
    if (size && *size != static_cast<int64_t>(def->size))
        Fail(sizeAt, "STRUCT " + def->name + " lays out " + std::to_string(def->size) + " bytes, declared SIZE " + std::to_string(*size));
    structs_.emplace(def->name, std::move(def));
}

void Parser::Record(const Token& start) {
    ResourceKey type = Key("record type");
    ResourceKey name = Key("record name");
    const StructDef* layout = nullptr;
    if (Accept(":")) {
        Token s = in_.Next();
        auto it = structs_.find(s.text);
        if (s.kind != TokenKind::Identifier || it == structs_.end()) Fail(s.at, "unknown STRUCT '" + s.text + "'");
        layout = it->second.get();
    }
    std::optional<int64_t> size;
    Location sizeAt;
    auto readSize = [&] {
        if (!size && in_.Peek().IsWord("SIZE")) {
            in_.Next();
            sizeAt = in_.Peek().at;
            size = Number();
        }
    };
    readSize();
    StructDef own;
    own.name = "RECORD";
    own.at = start.at;
    std::vector<uint8_t> bytes;
    if (layout) {
        // A record of a declared layout gives `field = value;` lines.
        Token open = Expect("{", "to open the RECORD");
        Init given;
        given.kind = Init::Kind::Named;
        given.at = open.at;
        while (!Accept("}")) {
            Token f = in_.Next();
            if (f.kind != TokenKind::Identifier) Fail(f.at, "expected 'field = value;', found '" + f.text + "'");
            Expect("=", "after the field name");
            given.named.emplace_back(f.text, ParseInit());
            Expect(";", "after the value");
        }
        bytes.assign(layout->size, 0);
        EmitStruct(*layout, &given, bytes, 0);
    } else {
        Expect("{", "to open the RECORD");
        ParseFields(own, true);
        Layout(own);
        bytes.assign(own.size, 0);
        EmitStruct(own, nullptr, bytes, 0);
    }
    readSize();
    Accept(";");
    if (size && *size != static_cast<int64_t>(bytes.size()))
        Fail(sizeAt, "record lays out " + std::to_string(bytes.size()) + " bytes, declared SIZE " + std::to_string(*size));
    if (bytes.empty()) Fail(start.at, "record has no bytes");
    AddResource(std::move(type), std::move(name), std::move(bytes), start.at);
}

}  // namespace zq::rc
