// What the window layer records instead of showing: help requests
// (WinHelpW, HtmlHelpW) and the open-file dialog, which answers a scripted
// path or Cancel. Message boxes go through the base service; while one with
// an owner is up, the owner is disabled, as a modal box disables it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/types.h"
#include "user/window.h"

constexpr UINT HELP_CONTEXT = 0x0001;
constexpr UINT HELP_QUIT = 0x0002;
constexpr UINT HELP_INDEX = 0x0003;
constexpr UINT HELP_CONTEXTPOPUP = 0x0008;
constexpr UINT HELP_FINDER = 0x000B;
constexpr UINT HELP_WM_HELP = 0x000C;
constexpr UINT HELP_CONTEXTMENU = 0x000A;
constexpr UINT HH_DISPLAY_TOPIC = 0x0000;
constexpr UINT HH_HELP_CONTEXT = 0x000F;
constexpr UINT HH_CLOSE_ALL = 0x0012;

constexpr DWORD OFN_READONLY = 0x00000001;
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
constexpr DWORD OFN_EXPLORER = 0x00080000;
constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

struct OPENFILENAMEW {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCWSTR lpstrFilter;
    LPWSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPWSTR lpstrFile;
    DWORD nMaxFile;
    LPWSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCWSTR lpstrInitialDir;
    LPCWSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCWSTR lpstrDefExt;
    LPARAM lCustData;
    void* lpfnHook;
    LPCWSTR lpTemplateName;
    void* pvReserved;
    DWORD dwReserved;
    DWORD FlagsEx;
};

extern "C" {
BOOL WinHelpW(HWND hwnd, LPCWSTR file, UINT command, ULONG_PTR data);
HWND HtmlHelpW(HWND hwnd, LPCWSTR file, UINT command, DWORD_PTR data);
BOOL GetOpenFileNameW(OPENFILENAMEW* request);
DWORD CommDlgExtendedError();
}

namespace zq::user {

struct HelpRequest {
    bool html = false;  // HtmlHelpW, else WinHelpW
    HWND hwnd = nullptr;
    std::string file;   // UTF-8
    UINT command = 0;
    ULONG_PTR data = 0;
};

struct FileRequest {
    HWND owner = nullptr;
    std::string title;
    std::string initialDir;
    std::vector<std::string> filter;  // description, pattern, description, pattern...
    DWORD flags = 0;
    std::string answer;  // empty when cancelled
};

std::vector<HelpRequest> HelpRequests();
std::vector<FileRequest> FileRequests();
// The next open-file dialogs' answers, first in first out; nullopt is
// Cancel. With none queued the dialog is cancelled.
void QueueFileAnswer(std::optional<std::u16string> path);
void ResetRecorders();

}  // namespace zq::user
