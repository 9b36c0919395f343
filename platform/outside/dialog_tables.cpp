// The dialog-library stand-in's tables and the answer of its account-id
// prompt (see dialog_library.cpp).
#include "outside/dialog_library.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "store/registry.h"

namespace zq::outside {

namespace {

struct IdPair {
    uint16_t logical;
    uint16_t resource;
};

// Logical string ids and the resource library's ids, searched from the
// first pair. The paper names (1000-1023) stand in the order of the paper
// mask bits' names, 1023 between 1012 and 1013. The three lines of the
// instruction page (3000-3002) have ids here so that the page can load them.
constexpr IdPair kStringMap[] = {
    {1, 6007},    {2, 6010},    {3, 6011},    {4, 6012},    {5, 6013},    {6, 6014},    {7, 6015},
    {8, 6016},    {9, 6017},    {10, 6018},   {11, 6019},   {12, 6020},   {1000, 6104}, {1001, 6105},
    {1002, 6106}, {1003, 6107}, {1004, 6108}, {1005, 6109}, {1006, 6110}, {1007, 6111}, {1008, 6112},
    {1009, 6113}, {1010, 6114}, {1011, 6115}, {1012, 6116}, {1023, 6761}, {1013, 6117}, {1014, 6120},
    {1015, 6118}, {1019, 6757}, {1020, 6758}, {1021, 6759}, {1022, 6760}, {1016, 6119}, {1017, 6713},
    {1018, 6714}, {13, 6081},   {14, 6082},   {15, 6083},   {16, 6084},   {17, 6085},   {18, 6086},
    {19, 6087},   {20, 6088},   {21, 6591},   {22, 6592},   {23, 6006},   {3003, 6628}, {3004, 6629},
    {3000, 6625}, {3001, 6626}, {3002, 6627},
};

// The pictures of the instruction page.
constexpr IdPair kResourceMap[] = {{10000, 6601}, {10001, 6602}, {10002, 6603}};

// Tray-name string ids by tray index (not in ascending order).
constexpr uint16_t kTrayNameIds[] = {6090, 6091, 6092, 6094, 6095, 6093, 6097, 6096,
                                     6098, 6099, 6100, 6101, 6102, 6103, 6257};

template <size_t N>
uint16_t Translate(const IdPair (&map)[N], const XlatedRequest& request) {
    const uint16_t id = static_cast<uint16_t>(request.id);
    if (request.direct != 0) return id;
    const auto it = std::find_if(std::begin(map), std::end(map), [&](const IdPair& p) { return p.logical == id; });
    return it == std::end(map) ? 0 : it->resource;
}

}  // namespace

uint16_t TranslateStringId(const XlatedRequest& request) {
    return Translate(kStringMap, request);
}

uint16_t TranslateResourceId(const XlatedRequest& request) {
    return Translate(kResourceMap, request);
}

uint16_t TrayNameId(uint32_t index) {
    // Only the low 16 bits count; an index past the table has no name.
    const uint16_t i = static_cast<uint16_t>(index & 0xFFFF);
    return i < std::size(kTrayNameIds) ? kTrayNameIds[i] : 0;
}

std::string ResourceLibraryPath(std::string_view ownPath) {
    const size_t cut = ownPath.find_last_of("\\/:");
    const std::string dir(cut == std::string_view::npos ? std::string_view() : ownPath.substr(0, cut + 1));
    return dir + "dlgres.DLL";
}

std::optional<std::string> AccountIdAnswer(std::string_view printerName) {
    if (printerName.empty()) return std::nullopt;
    const std::string key = std::string("Software\\Zelquor\\Printers\\") + std::string(printerName);
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return std::nullopt;
    char text[64] = {};
    DWORD size = sizeof text - 1;
    DWORD type = 0;
    const LONG rc = RegQueryValueExA(h, "Current Account ID", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    const std::string id(text, strnlen(text, std::min<size_t>(size, sizeof text - 1)));
    // The prompt takes digits only, at most 16 of them.
    if (id.empty() || id.size() > kAccountIdChars ||
        !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return id;
}

int AnswerAccountPrompt(std::string_view printerName, char (&accountId)[kAccountIdField]) {
    const auto id = AccountIdAnswer(printerName);
    if (!id) return 0;
    std::memset(accountId, 0, sizeof accountId);
    std::memcpy(accountId, id->data(), id->size());
    return 1;
}

}  // namespace zq::outside
