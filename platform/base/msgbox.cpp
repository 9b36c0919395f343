#include "base/msgbox.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>

#include "base/diag.h"
#include "base/error.h"
#include "base/text.h"

namespace zq {

namespace {

// A policy answer of "retry" to the same box this many times in a row is
// taken as a loop that only a person could end; the box is then cancelled.
constexpr int kRetryLimit = 3;
constexpr size_t kRecordLimit = 10000;

struct ServiceState {
    std::mutex lock;
    std::deque<int> queued;
    std::function<std::optional<int>(const MessageBoxRecord&)> handler;
    std::deque<MessageBoxRecord> shown;
    std::string lastRetryKey;
    int retries = 0;
};

ServiceState& State() {
    static ServiceState* state = new ServiceState;
    return *state;
}

const char* AnswerName(int answer) {
    switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
    case IDTRYAGAIN: return "Try Again";
    case IDCONTINUE: return "Continue";
    default: return "?";
    }
}

std::string Quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out.push_back('\\');
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out.push_back(c);
    }
    return out + "\"";
}

}  // namespace

std::vector<int> MessageBoxService::Buttons(UINT style) {
    switch (style & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE: return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default: return {};
    }
}

int MessageBoxService::DefaultAnswer(UINT style) {
    const std::vector<int> buttons = Buttons(style);
    if (buttons.empty()) return 0;
    const size_t index = (style & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

void MessageBoxService::Queue(int answer) {
    ServiceState& s = State();
    std::lock_guard lock(s.lock);
    s.queued.push_back(answer);
}

void MessageBoxService::SetHandler(std::function<std::optional<int>(const MessageBoxRecord&)> handler) {
    ServiceState& s = State();
    std::lock_guard lock(s.lock);
    s.handler = std::move(handler);
}

std::vector<MessageBoxRecord> MessageBoxService::Shown() {
    ServiceState& s = State();
    std::lock_guard lock(s.lock);
    return {s.shown.begin(), s.shown.end()};
}

void MessageBoxService::Reset() {
    ServiceState& s = State();
    std::lock_guard lock(s.lock);
    s.queued.clear();
    s.handler = nullptr;
    s.shown.clear();
    s.lastRetryKey.clear();
    s.retries = 0;
}

namespace {
std::atomic<void (*)(HWND, bool)> g_ownerHook{nullptr};
}  // namespace

void MessageBoxService::SetOwnerHook(void (*hook)(HWND owner, bool showing)) { g_ownerHook = hook; }

int MessageBoxService::Show(HWND owner, std::string caption, std::string text, UINT style, WORD languageId) {
    const std::vector<int> buttons = Buttons(style);
    if (buttons.empty()) {
        char why[64];
        std::snprintf(why, sizeof why, "unknown button set in style 0x%X", style);
        DiagRefused("MessageBox", why);
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    MessageBoxRecord record{owner, std::move(caption), std::move(text), style, languageId, 0, false};

    ServiceState& s = State();
    std::function<std::optional<int>(const MessageBoxRecord&)> handler;
    std::optional<int> answer;
    {
        std::lock_guard lock(s.lock);
        if (!s.queued.empty()) {
            answer = s.queued.front();
            s.queued.pop_front();
        } else {
            handler = s.handler;
        }
    }
    // The handler runs unlocked: it may look at what was shown, and at the
    // owner, disabled while the box is up.
    auto* ownerHook = owner ? g_ownerHook.load() : nullptr;
    if (ownerHook) ownerHook(owner, true);
    if (!answer && handler) answer = handler(record);
    if (ownerHook) ownerHook(owner, false);
    record.scripted = answer.has_value();
    const char* how = record.scripted ? "scripted" : "policy";
    if (!answer) {
        answer = DefaultAnswer(style);
        if (*answer == IDRETRY || *answer == IDTRYAGAIN) {
            const std::string key = record.caption + '\x1f' + record.text + '\x1f' + std::to_string(style);
            std::lock_guard lock(s.lock);
            s.retries = key == s.lastRetryKey ? s.retries + 1 : 1;
            s.lastRetryKey = key;
            if (s.retries > kRetryLimit) {
                answer = (style & MB_TYPEMASK) == MB_ABORTRETRYIGNORE ? IDABORT : IDCANCEL;
                how = "policy after repeated retries";
            }
        }
    }
    record.answer = *answer;

    char styleText[16];
    std::snprintf(styleText, sizeof styleText, "0x%X", style);
    DiagLine("MessageBox", "caption=" + Quoted(record.caption) + " text=" + Quoted(record.text) + " style=" +
                               styleText + " answer=" + AnswerName(record.answer) + " (" + how + ")");
    std::lock_guard lock(s.lock);
    if (s.shown.size() >= kRecordLimit) s.shown.pop_front();
    const int result = record.answer;
    s.shown.push_back(std::move(record));
    return result;
}

}  // namespace zq

extern "C" int MessageBoxExW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style, WORD languageId) {
    return zq::MessageBoxService::Show(owner, caption ? zq::Utf16ToUtf8(caption) : std::string("Error"),
                                       text ? zq::Utf16ToUtf8(text) : std::string(), style, languageId);
}
extern "C" int MessageBoxExA(HWND owner, LPCSTR text, LPCSTR caption, UINT style, WORD languageId) {
    return zq::MessageBoxService::Show(owner,
                                       caption ? zq::Utf16ToUtf8(zq::AnsiToWide(caption)) : std::string("Error"),
                                       text ? zq::Utf16ToUtf8(zq::AnsiToWide(text)) : std::string(), style,
                                       languageId);
}
extern "C" int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    return MessageBoxExW(owner, text, caption, style, 0);
}
extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    return MessageBoxExA(owner, text, caption, style, 0);
}
extern "C" BOOL MessageBeep(UINT) { return TRUE; }
