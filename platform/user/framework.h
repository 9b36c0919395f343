// The thin window framework the scripted UI is written against: CWnd with
// subclassing, a virtual WindowProc and notifications reflected to the
// child control that sent them (consumed there when it handles them);
// CDialog on in-memory templates; CPropertyPage; wrappers of the controls,
// fonts, bitmaps, menus and DCs. Its failures are typed exceptions.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/types.h"
#include "user/commctrl.h"
#include "user/controls.h"
#include "user/dialog.h"
#include "user/menu.h"
#include "user/property_sheet.h"

// ---- Exceptions ---------------------------------------------------------------

class CException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A window class, window, font or other resource could not be made.
class CResourceException : public CException {
public:
    using CException::CException;
};

// Registers a class; throws CResourceException when it cannot be.
void ZqRegisterClass(const WNDCLASSW& wc);

// ---- Windows -----------------------------------------------------------------

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // The object of a window: its own when one is attached, else a wrapper
    // kept until the window goes. Null for no window.
    static CWnd* FromHandle(HWND hwnd);
    static CWnd* FromHandlePermanent(HWND hwnd);

    // Routes the window's messages through WindowProc; Unsubclass puts the
    // previous procedure back.
    BOOL SubclassWindow(HWND hwnd);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();
    BOOL Attach(HWND hwnd);
    HWND Detach();

    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // What the window did before it was subclassed.
    LRESULT Default();
    // A notification the parent reflected back: answer TRUE (with *result)
    // to consume it; the parent then does not see it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // After WM_NCDESTROY, when the object is detached.
    virtual void PostNcDestroy() {}

    BOOL DestroyWindow();
    CWnd* GetDlgItem(int id) const;
    CWnd* GetParent() const;
    int GetDlgCtrlID() const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void SetWindowText(const std::u16string& text);
    std::u16string GetWindowText() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL ShowWindow(int cmd);
    BOOL IsWindowVisible() const;
    void Invalidate(BOOL erase = TRUE);
    void SetFont(HFONT font, BOOL redraw = TRUE);
    HFONT GetFont() const;
    void GetClientRect(RECT* rect) const;
    void GetWindowRect(RECT* rect) const;
    BOOL MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    CWnd* SetFocus();
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse);
    BOOL KillTimer(UINT_PTR id);
    LONG_PTR GetStyle() const;

protected:
    WNDPROC m_oldProc = nullptr;
    bool m_temporary = false;

private:
    friend LRESULT ZqFrameworkProc(HWND, UINT, WPARAM, LPARAM);
    void Unlink();
};

// ---- Dialogs -----------------------------------------------------------------

class CDialog : public CWnd {
public:
    CDialog() = default;
    // The template's bytes stay the caller's, valid while the dialog is made.
    explicit CDialog(std::span<const BYTE> tmpl, CWnd* parent = nullptr);
    void SetTemplate(std::span<const BYTE> tmpl) { m_template = tmpl; }

    INT_PTR DoModal();
    BOOL Create(CWnd* parent = nullptr);
    void EndDialog(INT_PTR result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    std::span<const BYTE> m_template;
    CWnd* m_parent = nullptr;

private:
    static INT_PTR CALLBACK_DialogProc(HWND, UINT, WPARAM, LPARAM);
    friend class CPropertyPage;
};

class CPropertyPage : public CDialog {
public:
    explicit CPropertyPage(std::span<const BYTE> tmpl, const std::u16string& title = u"", DWORD flags = 0);
    ~CPropertyPage() override;
    // The page handle for a sheet or the common property-sheet UI.
    HPROPSHEETPAGE CreatePage();

    virtual BOOL OnSetActive();
    virtual BOOL OnKillActive();
    virtual BOOL OnApply();
    virtual void OnReset();
    virtual BOOL OnQueryCancel();
    virtual void OnHelp() {}
    void SetModified(BOOL changed = TRUE);
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    std::u16string m_title;
    DWORD m_flags = 0;
    PROPSHEETPAGEW m_psp{};
};

// ---- Controls ----------------------------------------------------------------

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
    UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
};

class CStatic : public CWnd {
public:
    HICON SetIcon(HICON icon) { return reinterpret_cast<HICON>(SendMessage(STM_SETICON, reinterpret_cast<WPARAM>(icon))); }
};

class CEdit : public CWnd {
public:
    void SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
    void SetSel(int start, int end) { SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end); }
    void ReplaceSel(const std::u16string& text, BOOL canUndo = FALSE) {
        SendMessage(EM_REPLACESEL, static_cast<WPARAM>(canUndo), reinterpret_cast<LPARAM>(text.c_str()));
    }
    BOOL Undo() { return static_cast<BOOL>(SendMessage(EM_UNDO)); }
};

class CListBox : public CWnd {
public:
    int AddString(const std::u16string& s) { return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()))); }
    int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
    int SetCurSel(int i) { return static_cast<int>(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(i))); }
    DWORD_PTR GetItemData(int i) const { return static_cast<DWORD_PTR>(SendMessage(LB_GETITEMDATA, static_cast<WPARAM>(i))); }
    int SetItemData(int i, DWORD_PTR v) { return static_cast<int>(SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(i), static_cast<LPARAM>(v))); }
    int FindString(int start, const std::u16string& s) const {
        return static_cast<int>(SendMessage(LB_FINDSTRING, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s.c_str())));
    }
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
};

class CComboBox : public CWnd {
public:
    int AddString(const std::u16string& s) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str()))); }
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int i) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(i))); }
    DWORD_PTR GetItemData(int i) const { return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(i))); }
    int SetItemData(int i, DWORD_PTR v) { return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(i), static_cast<LPARAM>(v))); }
    int FindStringExact(int start, const std::u16string& s) const {
        return static_cast<int>(SendMessage(CB_FINDSTRINGEXACT, static_cast<WPARAM>(start), reinterpret_cast<LPARAM>(s.c_str())));
    }
    void ResetContent() { SendMessage(CB_RESETCONTENT); }
};

class CScrollBar : public CWnd {
public:
    BOOL SetScrollInfo(SCROLLINFO* info, BOOL redraw = TRUE) {
        ::SetScrollInfo(m_hWnd, SB_CTL, info, redraw);
        return info != nullptr;
    }
    BOOL GetScrollInfo(SCROLLINFO* info, UINT mask = SIF_ALL) {
        info->cbSize = sizeof(SCROLLINFO);
        info->fMask = mask;
        return ::GetScrollInfo(m_hWnd, SB_CTL, info);
    }
    int GetScrollPos() const { return ::GetScrollPos(m_hWnd, SB_CTL); }
    int SetScrollPos(int pos, BOOL redraw = TRUE) { return ::SetScrollPos(m_hWnd, SB_CTL, pos, redraw); }
};

class CListCtrl : public CWnd {
public:
    int InsertColumn(int index, const std::u16string& heading, int width = 60);
    int InsertItem(int index, const std::u16string& text);
    BOOL SetItemText(int item, int sub, const std::u16string& text);
    std::u16string GetItemText(int item, int sub) const;
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    int GetNextItem(int start, UINT flags) const { return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start), flags)); }
    BOOL SetItemState(int item, UINT state, UINT mask);
};

// ---- GDI objects ---------------------------------------------------------------

class CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject() { DeleteObject(); }
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;
    HGDIOBJ m_hObject = nullptr;
    BOOL DeleteObject();
    HGDIOBJ Detach() {
        HGDIOBJ h = m_hObject;
        m_hObject = nullptr;
        return h;
    }
};

class CFont : public CGdiObject {
public:
    // Throws CResourceException when no font is made.
    void CreateFontIndirect(const void* logfont);
    void CreatePointFont(int tenthsOfPoint, const std::u16string& face);
    operator HFONT() const { return static_cast<HFONT>(m_hObject); }
};

class CBitmap : public CGdiObject {
public:
    BOOL LoadBitmap(HINSTANCE instance, UINT id);
    BOOL CreateBitmap(int width, int height, UINT planes, UINT bits, const void* data);
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

class CMenu {
public:
    HMENU m_hMenu = nullptr;
    BOOL LoadMenu(HINSTANCE instance, UINT id);
    BOOL Attach(HMENU menu);
    HMENU Detach();
    BOOL DestroyMenu();
    CMenu* GetSubMenu(int position);
    UINT CheckMenuItem(UINT id, UINT check) { return ::CheckMenuItem(m_hMenu, id, check); }
    UINT EnableMenuItem(UINT id, UINT enable) { return static_cast<UINT>(::EnableMenuItem(m_hMenu, id, enable)); }
    ~CMenu();

private:
    std::vector<CMenu*> m_subs;
};

class CDC {
public:
    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL Attach(HDC dc) {
        m_hDC = dc;
        return dc != nullptr;
    }
    HDC Detach() {
        HDC d = m_hDC;
        m_hDC = nullptr;
        return d;
    }
    void FillSolidRect(const RECT& r, COLORREF color);
    BOOL TextOut(int x, int y, const std::u16string& text);
    HGDIOBJ SelectObject(HGDIOBJ object);
    COLORREF SetTextColor(COLORREF color);
    int SetBkMode(int mode);
};

// The DC of a window for a scope (GetDC and ReleaseDC).
class CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* wnd);
    ~CClientDC();

private:
    HWND m_hWnd = nullptr;
};

class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd = nullptr;
};
