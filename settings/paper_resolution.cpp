#include "settings/paper_resolution.h"

#include <algorithm>
#include <cstring>

#include "base/error.h"
#include "base/loader.h"
#include "base/memory.h"
#include "base/muldiv.h"
#include "base/text.h"
#include "interface/dialog_library.h"
#include "interface/ui_utils.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"
#include "settings/user_forms.h"
#include "store/registry.h"
#include "store/spooler.h"

namespace zq {
namespace {

constexpr uint32_t kFormEntryBit = 0x80000000u;

struct CodeBit {
    uint16_t code;
    uint32_t bit;
};
constexpr CodeBit kCodeBits[] = {
    {1, 0x1},       {3, 0x800000},  {5, 0x2},       {6, 0x20000},   {7, 0x10},      {8, 0x2000},
    {9, 0x8},       {11, 0x20},     {12, 0x4000},   {13, 0x4},      {14, 0x10000},  {19, 0x80},
    {20, 0x100},    {27, 0x200},    {28, 0x400},    {34, 0x800},    {37, 0x40},     {257, 0x40000},
    {258, 0x8000},  {259, 0x80000}, {260, 0x100000}, {261, 0x200000}, {262, 0x400000}, {768, kFormEntryBit},
};

std::optional<PaperTableEntry> FirstEntryWith(const ModelData& model, uint16_t row, uint32_t bit) {
    for (const PaperTableEntry& e : ReadPaperTableRow(model, row)) {
        if (e.mask & bit) return e;
    }
    return std::nullopt;
}

PaperArea AreaOf(const PaperGeometryRow& g) {
    return {g[2], g[3], g[4], g[5]};
}

void CopyName(char (&slot)[64], std::string_view name) {
    std::memset(slot, 0, sizeof slot);
    std::memcpy(slot, name.data(), std::min(name.size(), sizeof slot - 1));
}

// A global block the walk appends to, grown in steps.
struct GrowingBlock {
    HGLOBAL handle = nullptr;
    size_t used = 0;
    size_t step = 0;
    bool Make(size_t size) {
        step = size;
        handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE | GMEM_ZEROINIT, size);
        return handle != nullptr;
    }
    // Room for `n` bytes plus `tail` zero bytes behind them.
    bool Append(const void* bytes, size_t n, size_t tail) {
        const size_t size = GlobalSize(handle);
        if (size - used < n + tail) {
            HGLOBAL grown = GlobalReAlloc(handle, size + std::max(step, n + tail), GMEM_MOVEABLE | GMEM_ZEROINIT);
            if (grown == nullptr) return false;
            handle = grown;
        }
        auto* p = static_cast<uint8_t*>(GlobalLock(handle));
        std::memcpy(p + used, bytes, n);
        std::memset(p + used + n, 0, tail);
        GlobalUnlock(handle);
        used += n;
        return true;
    }
    void* Release() {
        HGLOBAL h = handle;
        handle = nullptr;
        return h != nullptr ? GlobalLock(h) : nullptr;
    }
    ~GrowingBlock() {
        if (handle != nullptr) GlobalFree(handle);
    }
};

}  // namespace

int GetCustomPaperLimits(const ModelData& model, uint16_t limitsIndex, PaperLimits& out) {
    out = {};
    const CustomPaperLimits l = ReadCustomPaperLimits(model, static_cast<uint16_t>(limitsIndex + 1));
    if (!l.present) return 0;
    out = {l.minWidth, l.minLength, l.maxWidth, l.maxLength};
    return 1;
}

std::vector<SpoolerForm> FittingSpoolerForms(HANDLE printer, const ModelData& model, const PrivateDevmode& record) {
    std::vector<SpoolerForm> fitting;
    PaperLimits limits;
    if (!GetCustomPaperLimits(model, record.model.paperLimitsId, limits)) return fitting;
    auto um = [](uint32_t v) { return static_cast<LONG>(MulDiv(static_cast<INT>(v), 25400, 1200)); };
    DWORD needed = 0, returned = 0;
    if (EnumFormsW(printer, 1, nullptr, 0, &needed, &returned) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        needed == 0) {
        return fitting;
    }
    std::vector<uint8_t> buffer(needed);
    if (!EnumFormsW(printer, 1, buffer.data(), needed, &needed, &returned)) return fitting;
    const auto* forms = reinterpret_cast<const FORM_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        const FORM_INFO_1W& f = forms[i];
        // Built-in and printer forms never fit, whatever their size.
        if (f.Flags != FORM_USER) continue;
        if (f.Size.cx < um(limits.minWidth) || f.Size.cx > um(limits.maxWidth) || f.Size.cy < um(limits.minLength) ||
            f.Size.cy > um(limits.maxLength)) {
            continue;
        }
        SpoolerForm s;
        s.code = static_cast<uint16_t>(kFirstSpoolerForm + fitting.size());
        s.flags = f.Flags;
        s.name = f.pName != nullptr ? std::u16string(f.pName) : std::u16string();
        s.width = f.Size.cx;
        s.length = f.Size.cy;
        s.imageable = f.ImageableArea;
        fitting.push_back(std::move(s));
    }
    return fitting;
}

int EnumModelForms(HANDLE printer, const ModelData& model, const PrivateDevmode& record, void** codes, void** sizes,
                   void** names) {
    for (void** out : {codes, sizes, names}) {
        if (out != nullptr) *out = nullptr;
    }
    if (codes == nullptr && sizes == nullptr && names == nullptr) return 0;
    const auto forms = FittingSpoolerForms(printer, model, record);
    if (forms.empty()) return 0;
    GrowingBlock codeBlock, sizeBlock, nameBlock;
    if ((codes != nullptr && !codeBlock.Make(1024)) || (sizes != nullptr && !sizeBlock.Make(4096)) ||
        (names != nullptr && !nameBlock.Make(4096))) {
        return 0;
    }
    int written = 0;
    for (const SpoolerForm& f : forms) {
        const uint16_t code = f.code;
        const int32_t pair[2] = {f.width / 100, f.length / 100};
        const std::string name = WideToAnsi(f.name);
        if (codes != nullptr && !codeBlock.Append(&code, 2, 2)) break;
        if (names != nullptr && !nameBlock.Append(name.c_str(), name.size() + 1, 1)) break;
        if (sizes != nullptr && !sizeBlock.Append(pair, sizeof pair, 8)) break;
        ++written;
    }
    if (written == 0) return 0;
    if (codes != nullptr) *codes = codeBlock.Release();
    if (sizes != nullptr) *sizes = sizeBlock.Release();
    if (names != nullptr) *names = nameBlock.Release();
    return written;
}

int GetSpoolerFormGeometry(HANDLE printer, const ModelData& model, const PrivateDevmode& record, uint16_t code,
                           uint16_t& paperCode, uint16_t& printerCode, uint16_t& width, uint16_t& length,
                           uint16_t tableRow, PaperArea* areas) {
    const auto form = GetSpoolerFormInfo(printer, model, record, code);
    if (!form) return 0;
    paperCode = kCustomPaperCode;
    printerCode = 0;
    width = static_cast<uint16_t>(MulDiv(form->width, 1200, 25400));
    length = static_cast<uint16_t>(MulDiv(form->length, 1200, 25400));
    if (areas == nullptr) return 1;
    const auto entry = FirstEntryWith(model, tableRow, kFormEntryBit);
    if (!entry) return 1;
    // The printable area keeps the reference paper's margins and grows or
    // shrinks with the form (16-bit arithmetic).
    for (size_t i = 0; i < 4; ++i) {
        const auto g = ReadPaperGeometryRow(model, entry->geometry[i]);
        if (!g) continue;
        const bool landscape = (i % 2) == 1;
        const uint16_t across = landscape ? length : width;
        const uint16_t down = landscape ? width : length;
        areas[i] = {static_cast<uint16_t>((*g)[2] - (*g)[0] + across), static_cast<uint16_t>((*g)[3] - (*g)[1] + down),
                    (*g)[4], (*g)[5]};
    }
    return 1;
}

std::optional<SpoolerForm> GetSpoolerFormInfo(HANDLE printer, const ModelData& model, const PrivateDevmode& record,
                                              uint16_t code) {
    if (code < kFirstSpoolerForm) return std::nullopt;
    auto forms = FittingSpoolerForms(printer, model, record);
    const size_t n = code - kFirstSpoolerForm;
    if (n >= forms.size()) return std::nullopt;
    return std::move(forms[n]);
}

uint32_t PaperCodeMaskBit(uint16_t code) {
    for (const CodeBit& c : kCodeBits) {
        if (c.code == code) return c.bit;
    }
    return 0;
}

int BuildPaperNameRecord(const char* printerName, const ModelData& model, uint16_t tableRow, uint16_t code,
                         PaperRecord& out, uint8_t selector) {
    if (code >= kFirstUserForm && code < kUserFormEnd && printerName != nullptr) {
        PaperRecord form{};
        UserFormGetRequest q;
        q.name = form.name;
        q.nameCapacity = sizeof form.name;
        q.words[0] = &form.paperCode;
        q.words[1] = &form.printerCode;
        q.words[2] = &form.width;
        q.words[3] = &form.length;
        q.block = reinterpret_cast<uint8_t*>(form.areas);
        q.blockLength = sizeof form.areas;
        if (UserFormGet(printerName, code, q) == 1) {
            out = form;
            return 1;
        }
    }
    // A code the driver does not know is not taken for Letter.
    const uint32_t bit = PaperCodeMaskBit(code);
    if (bit == 0) return 0;
    const auto entry = FirstEntryWith(model, tableRow, bit);
    if (!entry) return 0;
    std::array<std::optional<PaperGeometryRow>, 4> rows;
    for (size_t i = 0; i < 4; ++i) rows[i] = ReadPaperGeometryRow(model, entry->geometry[i]);
    if (!rows[0]) return 0;
    if (HMODULE dialogs = LoadDialogLibrary(selector)) {
        char name[64] = {};
        if (CallLoadXlatedString(dialogs, 0, PaperMaskBitToNameId(bit), name, sizeof name)) CopyName(out.name, name);
        FreeLibrary(dialogs);
    }
    out.paperCode = code;
    out.printerCode = (*rows[0])[8];
    out.width = (*rows[0])[0];
    out.length = (*rows[0])[1];
    for (size_t i = 0; i < 4; ++i) {
        if (rows[i]) out.areas[i] = AreaOf(*rows[i]);
    }
    if (bit == kFormEntryBit && !isUSA()) out.printerCode |= 0x1000;
    return 1;
}

std::vector<PrinterPaper> EnumeratePrinterPapers(const char* printerName, HANDLE printer, const ModelData& model,
                                                 const PrivateDevmode& record, size_t capacity) {
    std::vector<PrinterPaper> papers;
    auto add = [&](uint16_t code, std::string name) {
        if (papers.size() >= capacity) return;
        if (name.size() > 63) name.resize(63);
        papers.push_back({code, std::move(name)});
    };
    const uint32_t rowMask = GetModelPaperMask(model, record.model.paperTableRow);
    if (HMODULE dialogs = LoadDialogLibrary(static_cast<uint8_t>(record.model.dialogSelector & 0xFF))) {
        auto builtIn = [&](uint16_t code) {
            const uint32_t bit = PaperSizeToMaskBit(code);
            if (bit == 0 || (bit & rowMask) == 0) return;
            char name[64] = {};
            // A paper without a name is not offered.
            if (CallLoadXlatedString(dialogs, 0, PaperMaskBitToNameId(bit), name, sizeof name) && name[0] != '\0') {
                add(code, name);
            }
        };
        for (uint16_t code = 1; code <= 118; ++code) builtIn(code);
        for (uint16_t code = 256; code <= 262; ++code) builtIn(code);
        FreeLibrary(dialogs);
    }
    if (printerName != nullptr) {
        for (auto open : {UserFormListOpen, FormAssocListOpen}) {
            PdList* list = open(printerName);
            if (list == nullptr) continue;
            if (PdListFirst(list)) {
                do add(PdFieldWord(list, kPdIdKey).value_or(0), std::string(PdFieldText(list, kPdNameKey).value_or("")));
                while (PdListNext(list));
            }
            PdListDiscard(list);
        }
    }
    for (const SpoolerForm& f : FittingSpoolerForms(printer, model, record)) add(f.code, WideToAnsi(f.name));
    return papers;
}

namespace {

std::optional<FoundPaper> FindPaper(const char* printerName, HANDLE printer, const ModelData& model,
                                    const PrivateDevmode& record, uint16_t code, bool viaAssociation) {
    if (code >= kFirstSpoolerForm) {
        uint16_t paper = 0, printerCode = 0, width = 0, length = 0;
        if (!GetSpoolerFormGeometry(printer, model, record, code, paper, printerCode, width, length, 0, nullptr)) {
            return std::nullopt;
        }
        return FoundPaper{width, length, {}};
    }
    if (printerName == nullptr) return std::nullopt;
    if (code >= kFirstFormAssoc && code < kFormAssocEnd) {
        // An association names a paper; its size is that paper's (its own
        // fields 10-12 are an overlay's name and flag, not a size).
        if (viaAssociation) return std::nullopt;
        uint16_t paperCode = 0;
        FormAssocGetRequest q;
        q.value3 = &paperCode;
        if (FormAssocGet(printerName, code, q) != 1 || paperCode == 0) return std::nullopt;
        return FindPaper(printerName, printer, model, record, paperCode, true);
    }
    if (code >= kFirstUserForm && code < kUserFormEnd) {
        uint16_t words[4] = {};
        uint8_t block[32] = {};
        UserFormGetRequest q;
        for (int i = 0; i < 4; ++i) q.words[i] = &words[i];
        q.block = block;
        q.blockLength = sizeof block;
        if (UserFormGet(printerName, code, q) != 1) return std::nullopt;
        return FoundPaper{words[2], words[3], {block, block + sizeof block}};
    }
    // A built-in paper of the model.
    PaperRecord r{};
    if (!BuildPaperNameRecord(nullptr, model, record.model.paperTableRow, code, r, 0xFF)) return std::nullopt;
    const auto* areas = reinterpret_cast<const uint8_t*>(r.areas);
    return FoundPaper{r.width, r.length, {areas, areas + sizeof r.areas}};
}

}  // namespace

std::optional<FoundPaper> FindPaperByCode(const char* printerName, HANDLE printer, const ModelData& model,
                                          const PrivateDevmode& record, uint16_t code) {
    return FindPaper(printerName, printer, model, record, code, false);
}

MergeEnvironment PrinterFormEnvironment(const std::string& printerName, HANDLE printer, const ModelData& model,
                                        const PrivateDevmode& record) {
    MergeEnvironment env;
    env.acceptForm = [printerName, printer, &model, record](int code) {
        if (code < kFirstUserForm || code > 0xFFFF) return false;
        return FindPaperByCode(printerName.c_str(), printer, model, record, static_cast<uint16_t>(code)).has_value();
    };
    return env;
}

std::optional<uint16_t> FindPaperByName(const std::vector<PrinterPaper>& papers, std::string_view name) {
    for (const PrinterPaper& p : papers) {
        if (EqualsIgnoreCase(p.name, name)) return p.code;
    }
    return std::nullopt;
}

int GetPrinterConfigField(HANDLE printer, uint32_t field, uint16_t& out) {
    out = 0;
    if (field < 9 || field > 13) return 0;
    uint8_t record[32] = {};
    // An unreadable record reads as zeros and is left as it is.
    InstalledOptionsRecord(printer, record);
    uint32_t word = 0;
    std::memcpy(&word, record + 4, 4);
    out = static_cast<uint16_t>((word >> (2 * (13 - field))) & 3);
    return 1;
}

int SetPrinterConfigField(uint32_t first, bool flag, uint32_t kind, uint32_t field, uint16_t fallback,
                          const uint8_t* byte, uint8_t (&record)[32]) {
    std::memcpy(record, &first, 4);
    uint32_t word = 0;
    std::memcpy(&word, record + 4, 4);
    bool set = false;
    if (kind == 1) {
        const uint32_t value = byte != nullptr ? (*byte & 3u) : (flag ? (fallback & 3u) : 0u);
        if (field >= 1 && field <= 5) {
            const uint32_t shift = 2 * (5 - field);
            word = (word & ~(3u << shift)) | (value << shift);
            set = true;
        } else if (field == 32) {
            word = (word & ~(1u << 11)) | ((value & 1u) << 11);
            set = true;
        } else if (field == 33 || field == 48) {
            word = (word & ~(3u << 12)) | (value << 12);
            set = true;
        }
    } else if (kind == 3) {
        word = (word & ~(1u << 10)) | (flag ? (1u << 10) : 0u);
        set = true;
    }
    std::memcpy(record + 4, &word, 4);
    return set ? 1 : 0;
}

}  // namespace zq

namespace zq {

namespace {

std::string_view TextOf(const char (&text)[64]) {
    return std::string_view(text, strnlen(text, sizeof text));
}

}  // namespace

int StoreUserFormFromPaperRecord(const char* printerName, uint16_t code, const PaperRecord* record) {
    if (printerName == nullptr) return 0;
    if (record == nullptr) return code != 0 && UserFormDelete(printerName, code, nullptr) ? 1 : 0;
    const auto* block = reinterpret_cast<const uint8_t*>(record->areas);
    const UserFormValues values{record->paperCode, record->printerCode, record->width, record->length,
                                std::span<const uint8_t>(block, sizeof record->areas)};
    return UserFormAdd(printerName, code, TextOf(record->name), values) ? 1 : 0;
}

FormAssocValues FormAssocValuesOf(const FormAssocRecord& record) {
    FormAssocValues v;
    v.value3 = record.paperCode;
    v.value4 = record.sourceValue;
    const FormAssocText* texts[4] = {&record.overlays[0], &record.overlays[1], &record.watermarks[0],
                                     &record.watermarks[1]};
    for (size_t i = 0; i < 4; ++i) {
        v.texts[i] = std::string(TextOf(texts[i]->name));
        v.words[i] = texts[i]->flag;
    }
    return v;
}

int ReadFormAssocRecord(const char* printerName, uint16_t code, FormAssocRecord& out) {
    out = FormAssocRecord{};
    if (printerName == nullptr || code < kFirstFormAssoc || code >= kFormAssocEnd) return 0;
    FormAssocGetRequest q;
    q.name = out.name;
    q.nameCapacity = sizeof out.name;
    q.value3 = &out.paperCode;
    q.value4 = &out.sourceValue;
    FormAssocText* texts[4] = {&out.overlays[0], &out.overlays[1], &out.watermarks[0], &out.watermarks[1]};
    for (size_t i = 0; i < 4; ++i) {
        q.texts[i] = texts[i]->name;
        q.words[i] = &texts[i]->flag;
    }
    q.textCapacity = sizeof out.overlays[0].name;
    if (FormAssocGet(printerName, code, q) == 1) return 1;
    out = FormAssocRecord{};
    return 0;
}

int StoreFormAssocRecord(const char* printerName, uint16_t code, const FormAssocRecord* record) {
    if (printerName == nullptr) return 0;
    if (record == nullptr) return code != 0 && FormAssocDelete(printerName, code, nullptr) ? 1 : 0;
    return FormAssocAdd(printerName, code, TextOf(record->name), FormAssocValuesOf(*record)) ? 1 : 0;
}

}  // namespace zq
