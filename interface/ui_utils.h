// Small services of the interface driver that the settings model, the
// property sheets and the dialogs share: the locale test, print qualities,
// paper masks and names, model lookup.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/types.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {
struct RenameNames;
}

extern "C" {
// TRUE for the countries that use Letter paper by default.
BOOL isUSA();

// The geometry of a paper for the printer's model at `dpi` dots per inch:
// TRUE with `out` filled, FALSE when the model has no such paper, an
// argument is missing or dpi is not positive.
BOOL GetPaperFormat(LPCSTR printerName, HANDLE printer, zq::PaperFormat* out, const zq::PrivateDevmode* devmode,
                    int paperCode, int orientation, BOOL rotated, int dpi, BOOL keepModelSize);

// Moves the per-user settings key of a printer to its new name. 1 when
// the copy ran, 0 otherwise.
DWORD Rename(const zq::RenameNames* names);
}

namespace zq {

// The country rule of isUSA: nullopt stands for a locale that cannot be read.
bool IsUsaCountry(std::optional<int> country);

// The user's country number from the locale; nullopt when it cannot be read.
std::optional<int> UserCountry();

// The character set of the Far East countries: 128 for 81, 129 for 82,
// else 0.
int FarEastCharset();

// Where the paper format finds forms. The record lists of the settings
// model answer these; until then no form is known.
class PaperFormSources {
public:
    virtual ~PaperFormSources() = default;
    // The paper code that a form association (640-671) stands for.
    virtual std::optional<int> AssociatedPaper(int code);
    // A user-defined form or a spooler form that fits the model, as a
    // geometry row (1/1200 inch, word 8 its flags) for the orientation index
    // (bit 0 landscape, bit 1 rotated), width and length already exchanged.
    virtual std::optional<PaperGeometryRow> UserForm(int code, int orientationIndex);
    virtual std::optional<PaperGeometryRow> SpoolerForm(int code, int orientationIndex);
};

// The forms of one printer: its user-defined forms and form associations
// (printer data) and the spooler's forms that fit its model.
class PrinterFormSources : public PaperFormSources {
public:
    PrinterFormSources(std::string printerName, HANDLE printer, const ModelData& model, const PrivateDevmode& record)
        : printerName_(std::move(printerName)), printer_(printer), model_(model), record_(record) {}
    std::optional<int> AssociatedPaper(int code) override;
    std::optional<PaperGeometryRow> UserForm(int code, int orientationIndex) override;
    std::optional<PaperGeometryRow> SpoolerForm(int code, int orientationIndex) override;

private:
    std::string printerName_;
    HANDLE printer_;
    const ModelData& model_;
    const PrivateDevmode& record_;
};

// The paper format computed from the model data; what GetPaperFormat runs.
bool ComputePaperFormat(const ModelData& model, const PrivateDevmode& devmode, PaperFormSources& forms,
                        int paperCode, int orientation, bool rotated, int dpi, bool keepModelSize,
                        PaperFormat& out);

// A model paper as the paper lists show it: its translated name (empty
// without the dialog library), its flags and size in 1/1200 inch (first
// orientation), and per orientation index 0-3 the printable width and
// length and the left and top margins.
struct PaperDescription {
    std::string name;
    int code = 0;
    uint16_t flags = 0;
    uint16_t width = 0;
    uint16_t length = 0;
    std::array<uint16_t, 16> margins{};
};
// nullopt when the model's paper table has no entry for the paper (a code
// without a bit of its own is looked for as Letter).
std::optional<PaperDescription> GetPaperDescription(const ModelData& model, uint16_t paperTableRow, int paperCode,
                                                    HMODULE dialogLibrary);
// The same with the dialog library of a selector, loaded for the call.
std::optional<PaperDescription> GetPaperDescription(const ModelData& model, uint16_t paperTableRow, int paperCode,
                                                    uint8_t dialogSelector);

// The record Rename is handed: its third and fourth fields point to the
// old and the new printer name (ANSI).
struct RenameNames {
    DWORD reserved0;
    DWORD reserved1;
    const char* oldName;
    const char* newName;
};

// A printer name as a key name: every backslash becomes a comma.
std::string PrinterNameToKeyName(std::string_view printerName);

// The per-user key of the printers' settings, under HKEY_CURRENT_USER.
inline constexpr const char* kUserPrintersKey = "Software\\Zelquor\\Printers";

// An application's own value of a setting, from the printer data "ALIAS":
// only while `value` is the default. The entries are "APP" separator
// "KEY" separator "number", items apart by "!", entries ended by ";".
int ApplicationAliasValue(int value, HANDLE printer, std::string_view key, int defaultValue);
// The same over the alias text and an application name (upper case, no
// directory or extension).
int ApplicationAliasValue(int value, std::string_view alias, std::string_view application, std::string_view key,
                          int defaultValue);

// The check value at 1224 is right for bytes 64-219.
bool IsValidCheckValue(const PrivateDevmode& record);

// Entries {id, text} of a named printer-data list. Set replaces the entry
// of the id and the entry of the same text (ignoring case); with a binary
// length (1 to 64 bytes) the text is stored as upper-case hexadecimal, two
// digits a byte. 1 when stored; 0 for an id of 0, no text, a binary length
// over 64 or a list that cannot be written.
int NamedListSetEntry(const char* printerName, const char* listName, uint16_t id, const char* text,
                      size_t binaryLength);
// Copies the entry's text (cut to the buffer, always terminated), or, for a
// binary entry, its bytes decoded from the hexadecimal (at most the buffer's
// size; a text that is not whole hexadecimal pairs is refused). 1 when the
// entry was found and copied.
int NamedListGetEntry(const char* printerName, const char* listName, uint16_t id, std::span<char> buffer,
                      bool binary);
// 1 when an entry of the id was deleted and the list written.
int NamedListDeleteEntry(const char* printerName, const char* listName, uint16_t id);
// Deletes every entry; 1 when the list was written.
int NamedListClear(const char* printerName, const char* listName);

// Memory a font of `a` characters of `c` rows of `b` pixels needs.
int64_t EstimateFontMemory(int64_t a, int64_t b, int64_t c);

// Opens the file as named, else the same file name in the driver's own
// directory; a value of 0 or less when neither opens.
HFILE OpenFileBesideModule(const char* fileName, UINT style);

// The dialog library's translated strings and resources: 0 or null when
// the module or its export is missing. `direct` 0 takes `id` as a logical id.
int CallLoadXlatedString(HMODULE dialogLibrary, uint32_t direct, uint32_t id, char* buffer, uint16_t size);
const void* CallLoadXlatedResource(HMODULE dialogLibrary, uint16_t type, uint32_t id);
uint32_t CallGetSizeofXlatedResource(HMODULE dialogLibrary, uint16_t type, uint32_t id);

// Sine in ten-thousandths and arc tangent in tenths of a degree, from the
// tables that place watermark text.
int TableSine(int angle);
int TableCosine(int angle);
int TableArcTangent(int x, int y);

// A DMRES_ value or 0 (the record's own dmPrintQuality) to dots per inch
// through the record's resolution slots; positive values pass unchanged.
int ResolvePrintQuality(const PrivateDevmode& record, int value);

// The one bit of the model paper mask that stands for a paper code: 0 for
// unknown codes below 512, 0x80000000 for forms.
uint32_t PaperSizeToMaskBit(int paperCode);

// The dialog library's logical string id of a paper mask bit's name.
uint16_t PaperMaskBitToNameId(uint32_t maskBit);

// OR of the masks of every entry of a row of the model paper table.
uint32_t GetModelPaperMask(const ModelData& model, uint16_t row);

constexpr uint32_t kFormMaskBit = 0x80000000;
constexpr uint32_t kCustomSizeMaskBit = 0x40000;

// Limits the record's two font-set masks to the model's code pages that the
// system accepts.
void RestrictFontSetsByCodePage(PrivateDevmode& record, const ModelData& model,
                                bool (*isValidCodePage)(uint32_t codePage));

// True when the printer opens with full access; the handle is closed again.
bool CanOpenPrinter(std::string_view printerName);
bool CanOpenPrinter(std::u16string_view printerName);

// Names that begin with the "Ovra" prefix, ignoring case.
bool IsOvraName(std::string_view name);
int CheckOvraModel(HANDLE printer, std::string_view modelName);
bool IsOvraModel(std::u16string_view name);

// Copies text into an n-byte field, zero-filling the rest; at most n - 1
// characters so that the field stays terminated. Returns the characters copied.
size_t CopyStringPadded(std::span<char> field, std::string_view text);

// Index i of the first model string 10000 + i equal to modelName, ignoring
// case; -1 when none.
int FindModelIndexByName(const ModelData& model, std::string_view modelName);

// The model a driver stands for: the key "Model" of the section named by the
// whole driver name in pclrend.ini (default the driver name cut to 32
// characters), looked up
// among the module's model strings; -1 when none.
int FindModelIndex(HMODULE module, std::string_view driverName);

// Copies at most out.size() bytes of the module's resource (type, id);
// returns the resource's size, 0 when it is absent.
size_t LoadDriverResource(HMODULE module, uint16_t type, uint16_t id, std::span<uint8_t> out);

// Model string 10000 + index (32 bytes) and model record 10500 + index.
struct LoadedModel {
    bool nameLoaded = false;
    bool recordLoaded = false;
    char name[32] = {};
    ModelRecord record{};
};
LoadedModel LoadModelRecord(HMODULE module, int index);

}  // namespace zq
