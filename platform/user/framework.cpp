// The window framework: the map from windows to objects, the procedure
// that routes messages to them, reflection of notifications to child
// controls, dialogs, property pages and the small wrappers.
#include "user/framework.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "base/error.h"
#include "base/muldiv.h"
#include "base/resources.h"
#include "base/text.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "user/window_internal.h"

namespace {

std::mutex& MapLock() {
    static std::mutex lock;
    return lock;
}
std::unordered_map<HWND, CWnd*>& Objects() {
    static auto* map = new std::unordered_map<HWND, CWnd*>;
    return *map;
}

CWnd* Lookup(HWND hwnd) {
    std::lock_guard guard(MapLock());
    auto it = Objects().find(hwnd);
    return it == Objects().end() ? nullptr : it->second;
}

void Link(HWND hwnd, CWnd* wnd) {
    std::lock_guard guard(MapLock());
    Objects()[hwnd] = wnd;
}

void Drop(HWND hwnd) {
    std::lock_guard guard(MapLock());
    Objects().erase(hwnd);
}

// The child a notification comes from, for reflection.
HWND SenderOf(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: return reinterpret_cast<HWND>(lParam);
    case WM_NOTIFY: return lParam ? reinterpret_cast<const NMHDR*>(lParam)->hwndFrom : nullptr;
    case WM_DRAWITEM: return lParam ? reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLOR: return reinterpret_cast<HWND>(lParam);
    case WM_MEASUREITEM:
    case WM_DELETEITEM:
    case WM_COMPAREITEM: (void)wParam; return nullptr;
    default: return nullptr;
    }
}

// The message being handled, for Default(); nested sends stack up.
thread_local std::vector<MSG> g_current;

struct MessageScope {
    explicit MessageScope(const MSG& m) { g_current.push_back(m); }
    ~MessageScope() { g_current.pop_back(); }
    MessageScope(const MessageScope&) = delete;
    MessageScope& operator=(const MessageScope&) = delete;
};

// A property page's WM_INITDIALOG carries its page structure, whose lParam
// is the page object.
INT_PTR PageDialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    auto* page = reinterpret_cast<CDialog*>(reinterpret_cast<const PROPSHEETPAGEW*>(lParam)->lParam);
    page->SubclassWindow(hwnd);
    return page->OnInitDialog();
}

}  // namespace

// The procedure of every subclassed window.
LRESULT ZqFrameworkProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = Lookup(hwnd);
    if (!wnd) return DefWindowProcW(hwnd, message, wParam, lParam);
    MessageScope scope(MSG{hwnd, message, wParam, lParam, 0, {}});
    if (message == WM_NCDESTROY) {
        const LRESULT r = wnd->Default();
        const bool temporary = wnd->m_temporary;
        wnd->Unlink();
        wnd->PostNcDestroy();
        if (temporary) delete wnd;  // the wrapper FromHandle made
        return r;
    }
    return wnd->WindowProc(message, wParam, lParam);
}

void ZqRegisterClass(const WNDCLASSW& wc) {
    if (!RegisterClassW(&wc)) {
        WNDCLASSW existing{};
        // The same class registered again by the same module is no failure.
        if (GetLastError() == ERROR_CLASS_ALREADY_EXISTS && GetClassInfoW(wc.hInstance, wc.lpszClassName, &existing) &&
            existing.lpfnWndProc == wc.lpfnWndProc)
            return;
        throw CResourceException("window class \"" + (wc.lpszClassName && !IS_INTRESOURCE(wc.lpszClassName)
                                                          ? zq::Utf16ToUtf8(wc.lpszClassName)
                                                          : std::string("?")) +
                                 "\" could not be registered (error " + std::to_string(GetLastError()) + ")");
    }
}

// ---- CWnd ----------------------------------------------------------------------

CWnd::~CWnd() {
    if (m_hWnd && Lookup(m_hWnd) == this) {
        if (m_oldProc && IsWindow(m_hWnd)) UnsubclassWindow();
        Drop(m_hWnd);
    }
}

void CWnd::Unlink() {
    if (m_oldProc && IsWindow(m_hWnd)) SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
    Drop(m_hWnd);
    m_oldProc = nullptr;
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) { return Lookup(hwnd); }

CWnd* CWnd::FromHandle(HWND hwnd) {
    if (!hwnd || !IsWindow(hwnd)) return nullptr;
    if (CWnd* w = Lookup(hwnd)) return w;
    // A wrapper of its own, freed when the window goes.
    auto* temp = new CWnd;
    temp->m_temporary = true;
    temp->SubclassWindow(hwnd);
    return temp;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
    if (!IsWindow(hwnd) || Lookup(hwnd)) return FALSE;
    m_hWnd = hwnd;
    Link(hwnd, this);
    m_oldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ZqFrameworkProc)));
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
    return parent && SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow() {
    HWND h = m_hWnd;
    if (!h) return nullptr;
    if (m_oldProc) SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_oldProc));
    m_oldProc = nullptr;
    Drop(h);
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::Attach(HWND hwnd) {
    if (!IsWindow(hwnd) || Lookup(hwnd)) return FALSE;
    m_hWnd = hwnd;
    Link(hwnd, this);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h) Drop(h);
    m_hWnd = nullptr;
    return h;
}

LRESULT CWnd::Default() {
    if (g_current.empty() || !m_hWnd) return 0;
    const MSG m = g_current.back();
    return m_oldProc ? CallWindowProcW(m_oldProc, m_hWnd, m.message, m.wParam, m.lParam)
                     : DefWindowProcW(m_hWnd, m.message, m.wParam, m.lParam);
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }
BOOL CWnd::OnCommand(WPARAM, LPARAM) { return FALSE; }
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) { return FALSE; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    // A child that handles its own notification consumes it.
    if (HWND sender = SenderOf(message, wParam, lParam); sender && sender != m_hWnd) {
        if (CWnd* child = Lookup(sender)) {
            LRESULT result = 0;
            if (child->OnChildNotify(message, wParam, lParam, &result)) return result;
        }
    }
    if (message == WM_COMMAND && OnCommand(wParam, lParam)) return 0;
    if (message == WM_NOTIFY) {
        LRESULT result = 0;
        if (OnNotify(wParam, lParam, &result)) return result;
    }
    return Default();
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return SendMessageW(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return PostMessageW(m_hWnd, message, wParam, lParam);
}
void CWnd::SetWindowText(const std::u16string& text) { SetWindowTextW(m_hWnd, text.c_str()); }
std::u16string CWnd::GetWindowText() const { return zq::user::WindowText(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
void CWnd::Invalidate(BOOL erase) { InvalidateRect(m_hWnd, nullptr, erase); }
void CWnd::SetFont(HFONT font, BOOL redraw) { SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw); }
HFONT CWnd::GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }
void CWnd::GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::GetWindowRect(RECT* rect) const { ::GetWindowRect(m_hWnd, rect); }
BOOL CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
    return ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
LONG_PTR CWnd::GetStyle() const { return GetWindowLongW(m_hWnd, GWL_STYLE); }

// ---- CDialog -------------------------------------------------------------------

CDialog::CDialog(std::span<const BYTE> tmpl, CWnd* parent) : m_template(tmpl), m_parent(parent) {}

INT_PTR CDialog::CALLBACK_DialogProc(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        dialog->SubclassWindow(hwnd);
        return dialog->OnInitDialog();
    }
    return FALSE;  // everything else goes through WindowProc
}

BOOL CDialog::OnInitDialog() { return TRUE; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::EndDialog(INT_PTR result) {
    if (zq::user::InModalLoop(m_hWnd))
        ::EndDialog(m_hWnd, result);
    else
        DestroyWindow();
}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(static_cast<DWORD>(wParam))) {
    case IDOK: OnOK(); return TRUE;
    case IDCANCEL: OnCancel(); return TRUE;
    default: return FALSE;
    }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) { return CWnd::WindowProc(message, wParam, lParam); }

INT_PTR CDialog::DoModal() {
    if (m_template.empty()) throw CResourceException("dialog without a template");
    return zq::user::DialogBoxFromBytes(nullptr, m_template, m_parent ? m_parent->m_hWnd : nullptr, CALLBACK_DialogProc,
                                        reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(CWnd* parent) {
    if (parent) m_parent = parent;
    return zq::user::CreateDialogFromBytes(nullptr, m_template, m_parent ? m_parent->m_hWnd : nullptr,
                                           CALLBACK_DialogProc, reinterpret_cast<LPARAM>(this)) != nullptr;
}

// ---- CPropertyPage ---------------------------------------------------------------

CPropertyPage::CPropertyPage(std::span<const BYTE> tmpl, const std::u16string& title, DWORD flags)
    : CDialog(tmpl), m_title(title), m_flags(flags) {}

CPropertyPage::~CPropertyPage() = default;

HPROPSHEETPAGE CPropertyPage::CreatePage() {
    m_psp = PROPSHEETPAGEW{};
    m_psp.dwSize = sizeof(PROPSHEETPAGEW);
    m_psp.dwFlags = PSP_DLGINDIRECT | m_flags | (m_title.empty() ? 0 : PSP_USETITLE);
    m_psp.pResource = reinterpret_cast<LPCDLGTEMPLATEW>(m_template.data());
    m_psp.pszTitle = m_title.c_str();
    m_psp.pfnDlgProc = PageDialogProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(static_cast<CDialog*>(this));
    return CreatePropertySheetPageW(&m_psp);
}

BOOL CPropertyPage::OnSetActive() { return TRUE; }
BOOL CPropertyPage::OnKillActive() { return TRUE; }
BOOL CPropertyPage::OnApply() { return TRUE; }
void CPropertyPage::OnReset() {}
BOOL CPropertyPage::OnQueryCancel() { return TRUE; }

void CPropertyPage::SetModified(BOOL changed) {
    ::SendMessageW(::GetParent(m_hWnd), changed ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(m_hWnd), 0);
}

BOOL CPropertyPage::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
    const auto* n = reinterpret_cast<const PSHNOTIFY*>(lParam);
    if (!n || n->hdr.hwndFrom != ::GetParent(m_hWnd)) return FALSE;
    switch (n->hdr.code) {
    case PSN_SETACTIVE: *result = OnSetActive() ? 0 : -1; return TRUE;
    case PSN_KILLACTIVE: *result = OnKillActive() ? FALSE : TRUE; return TRUE;
    case PSN_APPLY: *result = OnApply() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE; return TRUE;
    case PSN_RESET: OnReset(); *result = 0; return TRUE;
    case PSN_QUERYCANCEL: *result = OnQueryCancel() ? FALSE : TRUE; return TRUE;
    case PSN_HELP: OnHelp(); *result = 0; return TRUE;
    default: return FALSE;
    }
}

// ---- List view -------------------------------------------------------------------

int CListCtrl::InsertColumn(int index, const std::u16string& heading, int width) {
    std::u16string text = heading;
    LVCOLUMNW c{LVCF_TEXT | LVCF_WIDTH, 0, width, text.data(), 0, index};
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&c)));
}

int CListCtrl::InsertItem(int index, const std::u16string& text) {
    std::u16string t = text;
    LVITEMW item{LVIF_TEXT, index, 0, 0, 0, t.data(), 0, 0, 0, 0};
    return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::SetItemText(int item, int sub, const std::u16string& text) {
    std::u16string t = text;
    LVITEMW i{LVIF_TEXT, item, sub, 0, 0, t.data(), 0, 0, 0, 0};
    return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i)));
}

std::u16string CListCtrl::GetItemText(int item, int sub) const {
    WCHAR buffer[512];
    LVITEMW i{LVIF_TEXT, item, sub, 0, 0, buffer, 512, 0, 0, 0};
    buffer[0] = 0;
    SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i));
    return buffer;
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) {
    LVITEMW i{LVIF_STATE, item, 0, state, mask, nullptr, 0, 0, 0, 0};
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&i)));
}

// ---- GDI objects ---------------------------------------------------------------

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject) return FALSE;
    const BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

void CFont::CreateFontIndirect(const void* logfont) {
    DeleteObject();
    m_hObject = CreateFontIndirectW(static_cast<const LOGFONTW*>(logfont));
    if (!m_hObject) throw CResourceException("font could not be created");
}

void CFont::CreatePointFont(int tenthsOfPoint, const std::u16string& face) {
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(tenthsOfPoint, 96, 720);
    lf.lfWeight = FW_NORMAL;
    std::copy_n(face.data(), std::min<size_t>(face.size(), LF_FACESIZE - 1), lf.lfFaceName);
    CreateFontIndirect(&lf);
}

BOOL CBitmap::CreateBitmap(int width, int height, UINT planes, UINT bits, const void* data) {
    DeleteObject();
    m_hObject = ::CreateBitmap(width, height, planes, bits, data);
    return m_hObject != nullptr;
}

BOOL CBitmap::LoadBitmap(HINSTANCE instance, UINT id) {
    // A bitmap resource is a packed DIB: header, colours, bits.
    HRSRC r = FindResourceW(instance, MAKEINTRESOURCEW(static_cast<WORD>(id)), MAKEINTRESOURCEW(2));
    if (!r) return FALSE;
    const auto* p = static_cast<const BYTE*>(LockResource(LoadResource(instance, r)));
    const DWORD size = SizeofResource(instance, r);
    if (!p || size < sizeof(BITMAPINFOHEADER)) return FALSE;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(p);
    const auto& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biWidth > 16384 ||
        h.biHeight > 16384 || h.biHeight < -16384)
        return FALSE;
    const size_t colours = h.biClrUsed ? h.biClrUsed : (h.biBitCount <= 8 ? (size_t{1} << h.biBitCount) : 0);
    const size_t offset = h.biSize + colours * sizeof(RGBQUAD) + (h.biCompression == BI_BITFIELDS ? 12 : 0);
    const size_t stride = ((static_cast<size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    const size_t rows = static_cast<size_t>(h.biHeight < 0 ? -h.biHeight : h.biHeight);
    if (offset > size || stride * rows > size - offset) return FALSE;
    DeleteObject();
    void* bits = nullptr;
    m_hObject = CreateDIBSection(nullptr, info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!m_hObject || !bits) return FALSE;
    std::memcpy(bits, p + offset, stride * rows);
    return TRUE;
}

BOOL CMenu::LoadMenu(HINSTANCE instance, UINT id) {
    DestroyMenu();
    m_hMenu = LoadMenuW(instance, MAKEINTRESOURCEW(static_cast<WORD>(id)));
    return m_hMenu != nullptr;
}

BOOL CMenu::Attach(HMENU menu) {
    if (!IsMenu(menu)) return FALSE;
    m_hMenu = menu;
    return TRUE;
}

HMENU CMenu::Detach() {
    HMENU m = m_hMenu;
    m_hMenu = nullptr;
    return m;
}

BOOL CMenu::DestroyMenu() {
    if (!m_hMenu) return FALSE;
    const BOOL ok = ::DestroyMenu(m_hMenu);
    m_hMenu = nullptr;
    return ok;
}

CMenu* CMenu::GetSubMenu(int position) {
    HMENU sub = ::GetSubMenu(m_hMenu, position);
    if (!sub) return nullptr;
    auto* wrapper = new CMenu;
    wrapper->m_hMenu = sub;
    m_subs.push_back(wrapper);
    return wrapper;
}

CMenu::~CMenu() {
    for (CMenu* sub : m_subs) {
        sub->m_hMenu = nullptr;  // owned by this menu
        delete sub;
    }
    DestroyMenu();
}

void CDC::FillSolidRect(const RECT& r, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(m_hDC, &r, brush);
    ::DeleteObject(brush);
}

BOOL CDC::TextOut(int x, int y, const std::u16string& text) {
    return TextOutW(m_hDC, x, y, text.c_str(), static_cast<int>(text.size()));
}
HGDIOBJ CDC::SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
COLORREF CDC::SetTextColor(COLORREF color) { return ::SetTextColor(m_hDC, color); }
int CDC::SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) {
    m_hDC = ::GetDC(m_hWnd);
    if (!m_hDC) throw CResourceException("no DC for the window");
}
CClientDC::~CClientDC() { ::ReleaseDC(m_hWnd, m_hDC); }

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
    if (!m_hDC) throw CResourceException("no DC to paint the window");
}
CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
