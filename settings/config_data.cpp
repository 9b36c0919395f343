#include "settings/config_data.h"

#include <memory>
#include <string>

#include "base/text.h"
#include "settings/tag_list.h"
#include "settings/tag_tables.h"
#include "settings/user_settings.h"

namespace zq {
namespace {

// Frees a context at the end of a scope.
struct ScopedTagList {
    TagListContext* context = nullptr;
    ScopedTagList() { TagListCreate(&context); }
    ~ScopedTagList() { TagListDestroy(&context); }
};

std::u16string NameOrPrinters(std::u16string_view printerName, HANDLE printer) {
    if (!printerName.empty()) return std::u16string(printerName);
    return PrinterNameOf(printer).value_or(u"");
}

}  // namespace

BOOL StoreDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, const PrivateDevmode& record,
                         HANDLE printer, bool printerDataOnly, const ModelData* model) {
    ScopedTagList list;
    if (list.context == nullptr) return FALSE;
    auto copy = std::make_unique<PrivateDevmode>(record);
    const std::u16string name = NameOrPrinters(printerName, printer);
    DvCfgContext context;
    // Scopes 1 and 2 only: the printer's lists (watermarks and the rest)
    // would make the stored configuration carry them twice.
    context.scope = kScopeDocument | kScopePrinter;
    context.printerName = WideToAnsi(name);
    context.printer = printer;
    context.record = copy.get();
    context.model = model;
    if (DevmodeToTagList(context, &list.context) <= 0) return FALSE;
    return StoreTagList(&list.context, name, valueName, printer, printerDataOnly);
}

BOOL LoadDevmodeTagList(std::u16string_view printerName, const char16_t* valueName, PrivateDevmode& record,
                        HANDLE printer, bool updatePrinterData, bool printerDataOnly, const ModelData* model) {
    ScopedTagList list;
    if (list.context == nullptr) return FALSE;
    if (!LoadTagList(&list.context, valueName, printer, printerDataOnly)) return FALSE;
    auto working = std::make_unique<PrivateDevmode>(record);
    DvCfgContext context;
    context.scope = kScopeAll;
    context.printerName = WideToAnsi(NameOrPrinters(printerName, printer));
    context.printer = printer;
    context.updatePrinterData = updatePrinterData;
    context.record = working.get();
    context.model = model;
    if (ImportTagList(context, &list.context) <= 0) return FALSE;
    record = *working;
    return TRUE;
}

}  // namespace zq
