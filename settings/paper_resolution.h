// Paper resolution: every paper the driver offers is named by a 16-bit
// code: the model's built-in papers (1-118, 256-262), the user-defined forms
// (512-519), the form associations (640-671) and the spooler's forms that
// fit the model (896, 897, ... in the spooler's order).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/devmode_ops.h"
#include "settings/model_data.h"
#include "settings/form_assoc_record.h"
#include "settings/paper_record.h"
#include "settings/user_forms.h"

namespace zq {

constexpr uint16_t kFirstSpoolerForm = 896;
constexpr uint16_t kCustomPaperCode = 768;

// The model's custom-paper limits, in 1/1200 inch.
struct PaperLimits {
    uint32_t minWidth = 0, minLength = 0, maxWidth = 0, maxLength = 0;
};
// 1 and the limits when the model has them; else 0 and zeros.
int GetCustomPaperLimits(const ModelData& model, uint16_t limitsIndex, PaperLimits& out);

// One fitting spooler form, sizes in thousandths of a millimetre.
struct SpoolerForm {
    uint16_t code = 0;
    DWORD flags = 0;
    std::u16string name;
    LONG width = 0, length = 0;
    RECTL imageable{};
};
// The spooler's user forms that lie within the model's limits, coded from
// 896 in the spooler's order; none when the limits or the forms cannot be
// had.
std::vector<SpoolerForm> FittingSpoolerForms(HANDLE printer, const ModelData& model, const PrivateDevmode& record);

// The fitting forms as locked global blocks the caller frees: codes (uint16,
// ended by a 0), names (ANSI texts, ended by an empty one) and sizes
// ({width, length} sint32 in tenths of a millimetre, ended by {0, 0}).
// 0 and null blocks when none fits or nothing was asked.
int EnumModelForms(HANDLE printer, const ModelData& model, const PrivateDevmode& record, void** codes, void** sizes,
                   void** names);

// The geometry of a fitting spooler form: paper code 768, printer code 0,
// its size in 1/1200 inch and, when `areas` is given, the areas of the
// row's form entry grown or shrunk to the form. 1 for a fitting form's code.
int GetSpoolerFormGeometry(HANDLE printer, const ModelData& model, const PrivateDevmode& record, uint16_t code,
                           uint16_t& paperCode, uint16_t& printerCode, uint16_t& width, uint16_t& length,
                           uint16_t tableRow, PaperArea* areas);
std::optional<SpoolerForm> GetSpoolerFormInfo(HANDLE printer, const ModelData& model, const PrivateDevmode& record,
                                              uint16_t code);

// The paper mask bit of a built-in paper code; 0 for a code the driver
// does not know.
uint32_t PaperCodeMaskBit(uint16_t code);

// Fills the record for a user-defined form or a built-in paper of the row
// (names from the dialog library of `selector`, when it loads). 1 when
// filled; 0 with the record untouched for a code the row does not have.
int BuildPaperNameRecord(const char* printerName, const ModelData& model, uint16_t tableRow, uint16_t code,
                         PaperRecord& out, uint8_t selector);

struct PrinterPaper {
    uint16_t code = 0;
    std::string name;  // at most 63 characters
};
// The model's papers with names, the user-defined forms, the form
// associations and the fitting spooler forms, in that order; at most
// `capacity` of them.
std::vector<PrinterPaper> EnumeratePrinterPapers(const char* printerName, HANDLE printer, const ModelData& model,
                                                 const PrivateDevmode& record, size_t capacity);

// A form code resolved to its paper: user-defined forms by their own size
// and areas, form associations through the paper code they name, fitting
// spooler forms by their size. Sizes in 1/1200 inch.
struct FoundPaper {
    uint16_t width = 0;
    uint16_t length = 0;
    std::vector<uint8_t> block;  // a user-defined form's area block
};
std::optional<FoundPaper> FindPaperByCode(const char* printerName, HANDLE printer, const ModelData& model,
                                          const PrivateDevmode& record, uint16_t code);

// What a merge accepts as a form: a code that FindPaperByCode resolves for
// the printer.
MergeEnvironment PrinterFormEnvironment(const std::string& printerName, HANDLE printer, const ModelData& model,
                                        const PrivateDevmode& record);

// The first paper of the printer with that name, ignoring case.
std::optional<uint16_t> FindPaperByName(const std::vector<PrinterPaper>& papers, std::string_view name);

// Stores a paper record as the user-defined form `code` (its name, the four
// words at 64-70 and the 32-byte area block), or deletes that form when
// `record` is null. 1 when the list was changed and written, else 0.
int StoreUserFormFromPaperRecord(const char* printerName, uint16_t code, const PaperRecord* record);
// 1 when the form association `code` exists and every field was copied;
// `out` is zeroed first.
int ReadFormAssocRecord(const char* printerName, uint16_t code, FormAssocRecord& out);
// Stores the association `code` (0: the lowest free code) from the record,
// or deletes it when `record` is null. 1 when the list was changed and
// written, else 0.
int StoreFormAssocRecord(const char* printerName, uint16_t code, const FormAssocRecord* record);
// The record's fields as the list keeps them, and back.
FormAssocValues FormAssocValuesOf(const FormAssocRecord& record);

// "PrinterConfig": field numbers 9-13 read the two-bit fields at bits 8-9,
// 6-7, 4-5, 2-3 and 0-1 of the word at byte 4. A record that cannot be
// read is left as it is and reads as zeros. 1 for a known field number.
int GetPrinterConfigField(HANDLE printer, uint32_t field, uint16_t& out);
// Sets one field of a record read by the caller: kind 1 the two-bit fields
// 1-5, the bit of field 32 and the bits of fields 33 and 48; kind 3 bit 10.
// The first word becomes `first`. 1 when bits were replaced.
int SetPrinterConfigField(uint32_t first, bool flag, uint32_t kind, uint32_t field, uint16_t fallback,
                          const uint8_t* byte, uint8_t (&record)[32]);

}  // namespace zq
