// The recorders: help calls, the open-file dialog, and the owner of a
// message box disabled while the box is up.
#include "user/recorders.h"

#include <deque>
#include <mutex>

#include "base/diag.h"
#include "base/error.h"
#include "base/msgbox.h"
#include "base/text.h"
#include "user/window_internal.h"

namespace {

struct Records {
    std::mutex lock;
    std::vector<zq::user::HelpRequest> help;
    std::vector<zq::user::FileRequest> files;
    std::deque<std::optional<std::u16string>> answers;
};

Records& R() {
    static auto* r = new Records;
    return *r;
}

thread_local DWORD g_dialogError = 0;
thread_local std::vector<HWND> g_disabledOwners;

std::string Narrow(LPCWSTR s) { return s && !IS_INTRESOURCE(s) ? zq::Utf16ToUtf8(s) : std::string(); }

void OwnerHook(HWND owner, bool showing) {
    if (showing) {
        if (IsWindow(owner) && IsWindowEnabled(owner)) {
            EnableWindow(owner, FALSE);
            g_disabledOwners.push_back(owner);
        } else {
            g_disabledOwners.push_back(nullptr);
        }
        return;
    }
    if (g_disabledOwners.empty()) return;
    HWND mine = g_disabledOwners.back();
    g_disabledOwners.pop_back();
    if (mine && IsWindow(mine)) EnableWindow(mine, TRUE);
}

// The window layer takes its part in message boxes once it is loaded.
const bool g_hooked = [] {
    zq::MessageBoxService::SetOwnerHook(OwnerHook);
    return true;
}();

void Record(bool html, HWND hwnd, LPCWSTR file, UINT command, ULONG_PTR data) {
    zq::user::HelpRequest r{html, hwnd, Narrow(file), command, data};
    zq::DiagLine("user", std::string(html ? "HtmlHelpW" : "WinHelpW") + " file=\"" + r.file +
                             "\" command=" + std::to_string(command) + " data=" + std::to_string(data));
    std::lock_guard guard(R().lock);
    R().help.push_back(std::move(r));
}

}  // namespace

namespace zq::user {

std::vector<HelpRequest> HelpRequests() {
    std::lock_guard guard(R().lock);
    return R().help;
}

std::vector<FileRequest> FileRequests() {
    std::lock_guard guard(R().lock);
    return R().files;
}

void QueueFileAnswer(std::optional<std::u16string> path) {
    std::lock_guard guard(R().lock);
    R().answers.push_back(std::move(path));
}

void ResetRecorders() {
    std::lock_guard guard(R().lock);
    R().help.clear();
    R().files.clear();
    R().answers.clear();
}

}  // namespace zq::user

extern "C" {

BOOL WinHelpW(HWND hwnd, LPCWSTR file, UINT command, ULONG_PTR data) {
    Record(false, hwnd, file, command, data);
    return TRUE;
}

// No viewer window exists: the call is recorded and answers none.
HWND HtmlHelpW(HWND hwnd, LPCWSTR file, UINT command, DWORD_PTR data) {
    Record(true, hwnd, file, command, data);
    return nullptr;
}

BOOL GetOpenFileNameW(OPENFILENAMEW* request) {
    g_dialogError = 0;
    (void)g_hooked;
    if (!request || request->lStructSize < offsetof(OPENFILENAMEW, pvReserved)) {
        g_dialogError = 0x0001;  // a structure of the wrong size
        return FALSE;
    }
    zq::user::FileRequest r;
    r.owner = request->hwndOwner;
    r.title = Narrow(request->lpstrTitle);
    r.initialDir = Narrow(request->lpstrInitialDir);
    r.flags = request->Flags;
    // The filter: pairs of strings, ended by an empty one.
    for (LPCWSTR p = request->lpstrFilter; p && *p && r.filter.size() < 256;) {
        const std::u16string part = p;
        r.filter.push_back(zq::Utf16ToUtf8(part));
        p += part.size() + 1;
    }
    std::optional<std::u16string> answer;
    {
        std::lock_guard guard(R().lock);
        if (!R().answers.empty()) {
            answer = std::move(R().answers.front());
            R().answers.pop_front();
        }
    }
    BOOL ok = FALSE;
    if (answer) {
        if (!request->lpstrFile || answer->size() + 1 > request->nMaxFile) {
            // Too small a buffer: the first two characters say how much is needed.
            if (request->lpstrFile && request->nMaxFile >= 2) {
                const auto need = static_cast<DWORD>(answer->size() + 1);
                request->lpstrFile[0] = static_cast<WCHAR>(need & 0xFFFF);
                request->lpstrFile[1] = static_cast<WCHAR>(need >> 16);
            }
            g_dialogError = FNERR_BUFFERTOOSMALL;
        } else {
            std::copy(answer->begin(), answer->end(), request->lpstrFile);
            request->lpstrFile[answer->size()] = 0;
            const size_t slash = answer->find_last_of(u"\\/");
            const size_t name = slash == std::u16string::npos ? 0 : slash + 1;
            const size_t dot = answer->find_last_of(u'.');
            request->nFileOffset = static_cast<WORD>(name);
            request->nFileExtension =
                static_cast<WORD>(dot == std::u16string::npos || dot < name ? answer->size() : dot + 1);
            if (request->lpstrFileTitle && request->nMaxFileTitle > 0) {
                const std::u16string title = answer->substr(name);
                const size_t n = std::min<size_t>(title.size(), request->nMaxFileTitle - 1);
                std::copy_n(title.data(), n, request->lpstrFileTitle);
                request->lpstrFileTitle[n] = 0;
            }
            r.answer = zq::Utf16ToUtf8(*answer);
            ok = TRUE;
        }
    }
    zq::DiagLine("user", "GetOpenFileNameW title=\"" + r.title + "\" answer=" + (ok ? "\"" + r.answer + "\"" : "Cancel"));
    std::lock_guard guard(R().lock);
    R().files.push_back(std::move(r));
    return ok;
}

DWORD CommDlgExtendedError() { return g_dialogError; }

}  // extern "C"
