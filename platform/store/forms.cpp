// Forms: server-wide, one value per form under the Forms key, the built-in
// forms first in paper-code order.
#include "form_record.h"
#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

namespace {

struct BuiltinForm {
    const char16_t* name;
    LONG width, height;  // thousandths of a millimetre
};
// The built-in forms, by paper code (index + 1).
constexpr BuiltinForm kBuiltin[] = {
    {u"Letter", 215900, 279400},           {u"Letter Small", 215900, 279400},
    {u"Tabloid", 279400, 431800},          {u"Ledger", 431800, 279400},
    {u"Legal", 215900, 355600},            {u"Statement", 139700, 215900},
    {u"Executive", 184150, 266700},        {u"A3", 297000, 420000},
    {u"A4", 210000, 297000},               {u"A4 Small", 210000, 297000},
    {u"A5", 148000, 210000},               {u"B4 (JIS)", 257000, 364000},
    {u"B5 (JIS)", 182000, 257000},         {u"Folio", 215900, 330200},
    {u"Quarto", 215000, 275000},           {u"10x14", 254000, 355600},
    {u"11x17", 279400, 431800},            {u"Note", 215900, 279400},
    {u"Envelope #9", 98425, 225425},       {u"Envelope #10", 104775, 241300},
    {u"Envelope #11", 114300, 263525},     {u"Envelope #12", 120650, 279400},
    {u"Envelope #14", 127000, 292100},     {u"C size sheet", 431800, 558800},
    {u"D size sheet", 558800, 863600},     {u"E size sheet", 863600, 1117600},
    {u"Envelope DL", 110000, 220000},      {u"Envelope C5", 162000, 229000},
    {u"Envelope C3", 324000, 458000},      {u"Envelope C4", 229000, 324000},
    {u"Envelope C6", 114000, 162000},      {u"Envelope C65", 114000, 229000},
    {u"Envelope B4", 250000, 353000},      {u"Envelope B5", 176000, 250000},
    {u"Envelope B6", 176000, 125000},      {u"Envelope", 110000, 230000},
    {u"Envelope Monarch", 98425, 190500},  {u"6 3/4 Envelope", 92075, 165100},
    {u"US Std Fanfold", 377825, 279400},   {u"German Std Fanfold", 215900, 304800},
    {u"German Legal Fanfold", 215900, 330200},
};

struct Form {
    std::u16string name;
    FormRecord record{};
};

std::optional<FormRecord> RecordOf(const StoredValue& v) {
    if (v.type != REG_BINARY || v.data.size() != sizeof(FormRecord)) return std::nullopt;
    FormRecord r;
    std::memcpy(&r, v.data.data(), sizeof r);
    return r;
}

std::vector<BYTE> BytesOf(const FormRecord& r) {
    std::vector<BYTE> out(sizeof r);
    std::memcpy(out.data(), &r, sizeof r);
    return out;
}

std::vector<Form> ReadForms(Txn& txn) {
    std::vector<Form> out;
    auto key = txn.Walk(txn.Database().Hklm(), kFormsKey);
    if (!key) return out;
    for (auto& v : txn.Values(*key))
        if (auto r = RecordOf(v)) out.push_back({v.name, *r});
    return out;
}

template <class Ch>
void FillForm(spool::FormInfo1<Ch>& rec, const Form& f, Packer<Ch>& p) {
    rec.Flags = f.record.flags;
    rec.pName = p.Str(f.name);
    rec.Size = {f.record.width, f.record.height};
    rec.ImageableArea = {f.record.left, f.record.top, f.record.right, f.record.bottom};
}

DWORD CheckForm(const std::u16string& name, const SIZEL& size, const RECTL& area) {
    if (name.empty()) return ERROR_INVALID_FORM_NAME;
    if (size.cx <= 0 || size.cy <= 0 || area.left < 0 || area.top < 0 || area.right <= area.left ||
        area.bottom <= area.top)
        return ERROR_INVALID_FORM_SIZE;
    return ERROR_SUCCESS;
}

// Forms are the server's: writing them needs the right to administer.
std::optional<DWORD> WriteDenied(Txn& txn, const PrinterHandle& h) {
    if (!MayAdminister(h)) return ERROR_ACCESS_DENIED;
    if (!h.server) {
        auto key = LivePrinter(txn, h);
        if (!key) return ERROR_INVALID_HANDLE;
        if (IsReadOnly(txn, *key)) return ERROR_ACCESS_DENIED;
    }
    return std::nullopt;
}

template <class Ch>
BOOL EnumFormsT(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    auto h = FindPrinterHandle(printer);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    return GuardBool([&]() -> BOOL {
        std::vector<Form> forms;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            forms = ReadForms(txn);
        }
        return PackRecords<spool::FormInfo1<Ch>, Ch>(forms.size(), buffer, size, needed, returned,
                                                     [&](auto& rec, size_t i, auto& p) { FillForm(rec, forms[i], p); });
    });
}

template <class Ch>
BOOL GetFormT(HANDLE printer, const Ch* formName, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    auto h = FindPrinterHandle(printer);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    std::u16string name = In(formName);
    return GuardBool([&]() -> BOOL {
        std::vector<Form> found;
        {
            Txn txn(*h->db, Txn::Mode::Read);
            for (auto& f : ReadForms(txn))
                if (SameName(f.name, name)) found.push_back(f);
        }
        if (found.empty()) return Fail(ERROR_INVALID_FORM_NAME);
        return PackRecords<spool::FormInfo1<Ch>, Ch>(1, buffer, size, needed, nullptr,
                                                     [&](auto& rec, size_t, auto& p) { FillForm(rec, found[0], p); });
    });
}

template <class Ch>
BOOL AddFormT(HANDLE printer, DWORD level, LPBYTE info) {
    auto h = FindPrinterHandle(printer);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    if (!info) return Fail(ERROR_INVALID_PARAMETER);
    auto* f = reinterpret_cast<spool::FormInfo1<Ch>*>(info);
    std::u16string name = In(f->pName);
    if (DWORD rc = CheckForm(name, f->Size, f->ImageableArea)) return Fail(rc);
    return GuardBool([&]() -> BOOL {
        Txn txn(*h->db, Txn::Mode::Write);
        if (auto rc = WriteDenied(txn, *h)) return Fail(*rc);
        KeyId key = txn.WalkCreate(h->db->Hklm(), kFormsKey);
        auto forms = ReadForms(txn);
        DWORD index = 0;
        for (auto& existing : forms) {
            if (SameName(existing.name, name)) return Fail(ERROR_FILE_EXISTS);
            index = std::max(index, existing.record.index + 1);
        }
        // Only the spooler makes built-in forms.
        FormRecord r{f->Size.cx, f->Size.cy, f->ImageableArea.left, f->ImageableArea.top, f->ImageableArea.right,
                     f->ImageableArea.bottom, index, f->Flags == FORM_PRINTER ? FORM_PRINTER : FORM_USER};
        txn.SetValue(key, name, REG_BINARY, BytesOf(r));
        txn.Commit();
        return TRUE;
    });
}

BOOL ChangeForm(HANDLE printer, const std::u16string& name, const FORM_INFO_1W* replacement) {
    auto h = FindPrinterHandle(printer);
    if (!h) return Fail(ERROR_INVALID_HANDLE);
    return GuardBool([&]() -> BOOL {
        Txn txn(*h->db, Txn::Mode::Write);
        if (auto rc = WriteDenied(txn, *h)) return Fail(*rc);
        auto key = txn.Walk(h->db->Hklm(), kFormsKey);
        auto v = key ? txn.Value(*key, name) : std::nullopt;
        auto r = v ? RecordOf(*v) : std::nullopt;
        if (!r) return Fail(ERROR_INVALID_FORM_NAME);
        if (r->flags == FORM_BUILTIN) return Fail(ERROR_INVALID_PARAMETER);
        if (replacement) {
            r->width = replacement->Size.cx;
            r->height = replacement->Size.cy;
            r->left = replacement->ImageableArea.left;
            r->top = replacement->ImageableArea.top;
            r->right = replacement->ImageableArea.right;
            r->bottom = replacement->ImageableArea.bottom;
            txn.SetValue(*key, name, REG_BINARY, BytesOf(*r));
        } else {
            txn.DeleteValue(*key, name);
        }
        txn.Commit();
        return TRUE;
    });
}

}  // namespace

void SeedForms(Txn& txn) {
    KeyId key = txn.WalkCreate(txn.Database().Hklm(), kFormsKey);
    DWORD code = 1;
    for (auto& f : kBuiltin) {
        FormRecord r{f.width, f.height, 0, 0, f.width, f.height, code++, FORM_BUILTIN};
        txn.SetValue(key, f.name, REG_BINARY, BytesOf(r));
    }
}

}  // namespace zq::store

using namespace zq::store;

extern "C" {

BOOL EnumFormsW(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return EnumFormsT<WCHAR>(printer, level, buffer, size, needed, returned);
}
BOOL EnumFormsA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    return EnumFormsT<CHAR>(printer, level, buffer, size, needed, returned);
}
BOOL GetFormW(HANDLE printer, LPWSTR formName, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetFormT(printer, formName, level, buffer, size, needed);
}
BOOL GetFormA(HANDLE printer, LPSTR formName, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
    return GetFormT(printer, formName, level, buffer, size, needed);
}
BOOL AddFormW(HANDLE printer, DWORD level, LPBYTE form) { return AddFormT<WCHAR>(printer, level, form); }
BOOL AddFormA(HANDLE printer, DWORD level, LPBYTE form) { return AddFormT<CHAR>(printer, level, form); }

BOOL SetFormW(HANDLE printer, LPWSTR formName, DWORD level, LPBYTE form) {
    if (level != 1) return Fail(ERROR_INVALID_LEVEL);
    if (!form) return Fail(ERROR_INVALID_PARAMETER);
    auto* f = reinterpret_cast<FORM_INFO_1W*>(form);
    std::u16string name(View(formName));
    if (DWORD rc = CheckForm(name, f->Size, f->ImageableArea)) return Fail(rc);
    return ChangeForm(printer, name, f);
}
BOOL DeleteFormW(HANDLE printer, LPWSTR formName) { return ChangeForm(printer, std::u16string(View(formName)), nullptr); }
BOOL DeleteFormA(HANDLE printer, LPSTR formName) { return ChangeForm(printer, AnsiToWide(View(formName)), nullptr); }

}  // extern "C"
