// Windows, dialogs, drawing and menus of the class library layer.
//
// Every window object (CWnd and what derives from it) is tied to its window handle through a
// process-wide handle map. Windows created through the layer (CWnd::CreateEx, CDialog::DoModal)
// and dialog controls bound to an object (SubclassWindow, DDX_Control) have their window procedure
// replaced by the layer's own, which hands each message to the object's WindowProc: first the
// message map (the class's, then its bases'), else DefWindowProc, which calls the window's original
// procedure (the real control's, the dialog manager's or the system default).
//
// A child control's WM_NOTIFY and WM_DRAWITEM are first offered to the child's own object
// (OnChildNotify, "reflection"); what the child's handler leaves in the result is what the parent
// window returns to the control.
//
// The system tells only top-level windows of a change of the system colours (WM_SYSCOLORCHANGE); a
// top-level window of the layer hands the message on to all its descendants of its thread, so that
// controls (and the objects of subclassed ones) follow the new colours.
//
// Windows are Unicode throughout. Objects returned by FromHandle for handles that no object owns
// are temporary wrappers: use them at once, never keep them.
#pragma once

#include "afx/afxplatform.h"
#include "afx/afxstr.h"

#include <commctrl.h>

class CCmdTarget;
class CWnd;
class CDC;
class CMenu;
class CFont;
class CBrush;
class CBitmap;
class CGdiObject;
class CScrollBar;
class CDataExchange;
class CWinApp;

// ---------------------------------------------------------------------------------------------
// Geometry

class CPoint : public POINT
{
public:
    CPoint() noexcept : POINT{0, 0} {}
    CPoint(int x0, int y0) noexcept : POINT{x0, y0} {}
    CPoint(POINT pt) noexcept : POINT(pt) {}
    // The signed x and y packed into a message's lParam.
    explicit CPoint(LPARAM packed) noexcept
        : POINT{static_cast<short>(LOWORD(packed)), static_cast<short>(HIWORD(packed))}
    {
    }
    bool operator==(POINT other) const noexcept { return x == other.x && y == other.y; }
    bool operator!=(POINT other) const noexcept { return !(*this == other); }
};

class CSize : public SIZE
{
public:
    CSize() noexcept : SIZE{0, 0} {}
    CSize(int cx0, int cy0) noexcept : SIZE{cx0, cy0} {}
    CSize(SIZE size) noexcept : SIZE(size) {}
};

class CRect : public RECT
{
public:
    CRect() noexcept : RECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) noexcept : RECT{l, t, r, b} {}
    CRect(const RECT& rect) noexcept : RECT(rect) {}
    CRect(LPCRECT rect) noexcept : RECT(*rect) {}

    int Width() const noexcept { return right - left; }
    int Height() const noexcept { return bottom - top; }
    CPoint TopLeft() const noexcept { return CPoint(left, top); }
    CPoint BottomRight() const noexcept { return CPoint(right, bottom); }
    CPoint CenterPoint() const noexcept { return CPoint((left + right) / 2, (top + bottom) / 2); }
    BOOL IsRectEmpty() const noexcept { return ::IsRectEmpty(this); }
    BOOL PtInRect(POINT pt) const noexcept { return ::PtInRect(this, pt); }
    void SetRect(int l, int t, int r, int b) noexcept { ::SetRect(this, l, t, r, b); }
    void SetRectEmpty() noexcept { ::SetRectEmpty(this); }
    void OffsetRect(int dx, int dy) noexcept { ::OffsetRect(this, dx, dy); }
    void InflateRect(int dx, int dy) noexcept { ::InflateRect(this, dx, dy); }
    void DeflateRect(int dx, int dy) noexcept { ::InflateRect(this, -dx, -dy); }
    BOOL IntersectRect(LPCRECT a, LPCRECT b) noexcept { return ::IntersectRect(this, a, b); }
    operator LPRECT() noexcept { return this; }
    operator LPCRECT() const noexcept { return this; }
    bool operator==(const RECT& other) const noexcept { return ::EqualRect(this, &other) != FALSE; }
    bool operator!=(const RECT& other) const noexcept { return !(*this == other); }
};

// ---------------------------------------------------------------------------------------------
// Message maps
//
// A message map is a table of entries, each naming a message (or a command or notification of a
// control) and a small function that unpacks the message's parameters and calls the handler
// with its own signature. BEGIN_MESSAGE_MAP/END_MESSAGE_MAP define the table of a class; the
// search goes from the class's own table to its base class's.

// Reflected notifications are looked up under the message number plus this base.
#define WM_REFLECT_BASE 0xBC00

// Unpacks one message and calls its handler. Returns FALSE when the handler declined the message
// (the _EX entries), so that the search goes on.
typedef BOOL (*AFX_MSGHANDLER)(CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT* result);

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage; // window message; WM_COMMAND and WM_NOTIFY entries name a control or command
    UINT nCode;    // control notification code (WM_COMMAND) or notification code (WM_NOTIFY)
    UINT nID;      // first control or command id
    UINT nLastID;  // last control or command id
    AFX_MSGHANDLER pfn;
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries; // ends with an entry whose pfn is null
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                                                                                \
protected:                                                                                                   \
    static const AFX_MSGMAP* GetThisMessageMap();                                                            \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                               \
    const AFX_MSGMAP* theClass::GetMessageMap() const                                                        \
    {                                                                                                        \
        return GetThisMessageMap();                                                                          \
    }                                                                                                        \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                          \
    {                                                                                                        \
        using ThisClass [[maybe_unused]] = theClass;                                                         \
        typedef baseClass TheBaseClass;                                                                      \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                                    \
    {                                                                                                        \
        0, 0, 0, 0, nullptr                                                                                  \
    }                                                                                                        \
    }                                                                                                        \
    ;                                                                                                        \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &entries[0]};                    \
    return &messageMap;                                                                                      \
    }

// One entry; `body` runs with pThis (the object), wParam, lParam and pResult in scope and returns
// whether the message was handled.
#define AFX_MSG_ENTRY(message, code, id, lastId, ...)                                                        \
    {static_cast<UINT>(message), static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(lastId),  \
     [](CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT* pResult) -> BOOL {                        \
         ThisClass* pThis = static_cast<ThisClass*>(target);                                                 \
         (void)pThis;                                                                                        \
         (void)wParam;                                                                                       \
         (void)lParam;                                                                                       \
         (void)pResult;                                                                                      \
         __VA_ARGS__                                                                                         \
     }},

// Handler: LRESULT f(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn)                                                                       \
    AFX_MSG_ENTRY(message, 0, 0, 0, *pResult = (pThis->*(memberFxn))(wParam, lParam); return TRUE;)
// Handler: void f() for the command id (a menu item, an accelerator or a control's BN_CLICKED).
#define ON_COMMAND(id, memberFxn) AFX_MSG_ENTRY(WM_COMMAND, 0, id, id, (pThis->*(memberFxn))(); return TRUE;)
// Handler: void f() for one control notification of one control.
#define ON_CONTROL(code, id, memberFxn)                                                                      \
    AFX_MSG_ENTRY(WM_COMMAND, code, id, id, (pThis->*(memberFxn))(); return TRUE;)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
// Handler: void f(NMHDR*, LRESULT*) for one notification of one child control.
#define ON_NOTIFY(code, id, memberFxn)                                                                       \
    AFX_MSG_ENTRY(WM_NOTIFY, code, id, id, (pThis->*(memberFxn))(reinterpret_cast<NMHDR*>(lParam), pResult); \
                  return TRUE;)
// In the control's own map, handler: void f(NMHDR*, LRESULT*); the parent never sees the notification.
#define ON_NOTIFY_REFLECT(code, memberFxn)                                                                   \
    AFX_MSG_ENTRY(WM_REFLECT_BASE + WM_NOTIFY, code, 0, 0,                                                   \
                  (pThis->*(memberFxn))(reinterpret_cast<NMHDR*>(lParam), pResult);                          \
                  return TRUE;)
// In the control's own map, handler: BOOL f(NMHDR*, LRESULT*); FALSE passes the notification on to
// the parent's own map.
#define ON_NOTIFY_REFLECT_EX(code, memberFxn)                                                                \
    AFX_MSG_ENTRY(WM_REFLECT_BASE + WM_NOTIFY, code, 0, 0,                                                   \
                  return (pThis->*(memberFxn))(reinterpret_cast<NMHDR*>(lParam), pResult);)

// Window messages, each with its handler's usual name and signature.
#define ON_WM_CREATE()                                                                                       \
    AFX_MSG_ENTRY(WM_CREATE, 0, 0, 0, *pResult = pThis->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lParam));  \
                  return TRUE;)
#define ON_WM_DESTROY() AFX_MSG_ENTRY(WM_DESTROY, 0, 0, 0, pThis->OnDestroy(); return TRUE;)
#define ON_WM_CLOSE() AFX_MSG_ENTRY(WM_CLOSE, 0, 0, 0, pThis->OnClose(); return TRUE;)
#define ON_WM_PAINT() AFX_MSG_ENTRY(WM_PAINT, 0, 0, 0, pThis->OnPaint(); return TRUE;)
#define ON_WM_ERASEBKGND()                                                                                   \
    AFX_MSG_ENTRY(WM_ERASEBKGND, 0, 0, 0, CDCHandle dc(reinterpret_cast<HDC>(wParam));                       \
                  *pResult = pThis->OnEraseBkgnd(dc.Get()); return TRUE;)
#define ON_WM_SIZE()                                                                                         \
    AFX_MSG_ENTRY(WM_SIZE, 0, 0, 0,                                                                          \
                  pThis->OnSize(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)),               \
                                static_cast<short>(HIWORD(lParam)));                                         \
                  return TRUE;)
#define ON_WM_GETMINMAXINFO()                                                                                \
    AFX_MSG_ENTRY(WM_GETMINMAXINFO, 0, 0, 0, pThis->OnGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));  \
                  return TRUE;)
#define ON_WM_SYSCOMMAND()                                                                                   \
    AFX_MSG_ENTRY(WM_SYSCOMMAND, 0, 0, 0, pThis->OnSysCommand(static_cast<UINT>(wParam), lParam);            \
                  return TRUE;)
#define ON_WM_QUERYDRAGICON()                                                                                \
    AFX_MSG_ENTRY(WM_QUERYDRAGICON, 0, 0, 0, *pResult = reinterpret_cast<LRESULT>(pThis->OnQueryDragIcon()); \
                  return TRUE;)
#define ON_WM_TIMER()                                                                                        \
    AFX_MSG_ENTRY(WM_TIMER, 0, 0, 0, pThis->OnTimer(static_cast<UINT_PTR>(wParam)); return TRUE;)
#define ON_WM_HSCROLL()                                                                                      \
    AFX_MSG_ENTRY(WM_HSCROLL, 0, 0, 0, CScrollBarHandle bar(reinterpret_cast<HWND>(lParam));                 \
                  pThis->OnHScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)), bar.Get());           \
                  return TRUE;)
#define ON_WM_VSCROLL()                                                                                      \
    AFX_MSG_ENTRY(WM_VSCROLL, 0, 0, 0, CScrollBarHandle bar(reinterpret_cast<HWND>(lParam));                 \
                  pThis->OnVScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)), bar.Get());           \
                  return TRUE;)
#define ON_WM_SYSCOLORCHANGE()                                                                               \
    AFX_MSG_ENTRY(WM_SYSCOLORCHANGE, 0, 0, 0, pThis->OnSysColorChange(); return TRUE;)
#define ON_WM_SETFOCUS()                                                                                     \
    AFX_MSG_ENTRY(WM_SETFOCUS, 0, 0, 0, pThis->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam))); \
                  return TRUE;)
#define ON_WM_KILLFOCUS()                                                                                    \
    AFX_MSG_ENTRY(WM_KILLFOCUS, 0, 0, 0,                                                                     \
                  pThis->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam)));                      \
                  return TRUE;)
#define AFX_MOUSE_ENTRY(message, handler)                                                                    \
    AFX_MSG_ENTRY(message, 0, 0, 0, pThis->handler(static_cast<UINT>(wParam), CPoint(lParam)); return TRUE;)
#define ON_WM_LBUTTONDOWN() AFX_MOUSE_ENTRY(WM_LBUTTONDOWN, OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_MOUSE_ENTRY(WM_LBUTTONUP, OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() AFX_MOUSE_ENTRY(WM_LBUTTONDBLCLK, OnLButtonDblClk)
#define ON_WM_RBUTTONDOWN() AFX_MOUSE_ENTRY(WM_RBUTTONDOWN, OnRButtonDown)
#define ON_WM_MOUSEMOVE() AFX_MOUSE_ENTRY(WM_MOUSEMOVE, OnMouseMove)
#define AFX_KEY_ENTRY(message, handler)                                                                      \
    AFX_MSG_ENTRY(message, 0, 0, 0,                                                                          \
                  pThis->handler(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));                 \
                  return TRUE;)
#define ON_WM_KEYDOWN() AFX_KEY_ENTRY(WM_KEYDOWN, OnKeyDown)
#define ON_WM_KEYUP() AFX_KEY_ENTRY(WM_KEYUP, OnKeyUp)
#define ON_WM_CONTEXTMENU()                                                                                  \
    AFX_MSG_ENTRY(WM_CONTEXTMENU, 0, 0, 0,                                                                   \
                  pThis->OnContextMenu(CWnd::FromHandle(reinterpret_cast<HWND>(wParam)), CPoint(lParam));    \
                  return TRUE;)
#define ON_WM_CHARTOITEM()                                                                                   \
    AFX_MSG_ENTRY(WM_CHARTOITEM, 0, 0, 0,                                                                    \
                  *pResult =                                                                                 \
                      pThis->OnCharToItem(LOWORD(wParam), reinterpret_cast<HWND>(lParam), HIWORD(wParam));   \
                  return TRUE;)

// ---------------------------------------------------------------------------------------------
// Command targets

class CCmdTarget : public CObject
{
public:
    // Looks the command up in the message map: WM_COMMAND entries whose id range holds `nID` and
    // whose notification code is `nCode`. TRUE when a handler ran.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

protected:
    CCmdTarget() = default;
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // Runs the first entry of the map chain that matches and accepts the message.
    BOOL DispatchMsg(UINT nMessage, UINT nCode, UINT nID, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
};

// ---------------------------------------------------------------------------------------------
// Windows

class CWnd : public CCmdTarget
{
public:
    CWnd() = default;
    // Destroys a window the object still owns.
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const noexcept { return m_hWnd; }
    operator HWND() const noexcept { return GetSafeHwnd(); }

    // The object that owns the window, or a temporary wrapper (null for a null handle).
    static CWnd* FromHandle(HWND hWnd);
    // Only the object that owns the window, else null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Ties the object to a window without taking over its messages.
    BOOL Attach(HWND hWnd);
    HWND Detach();
    // Ties the object to an existing window and routes its messages through the object.
    BOOL SubclassWindow(HWND hWnd);
    BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
    // Gives the window its original procedure back and unties it.
    HWND UnsubclassWindow();

    // Registers a window class when `lpszClassName` is null (the layer's default class).
    virtual BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                          const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
    virtual BOOL Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                        CWnd* pParentWnd, UINT nID);
    virtual BOOL DestroyWindow();

    // Message handling. WindowProc runs the message map and falls back on DefWindowProc, the
    // window's original procedure. Default() passes the message being handled on to it unchanged.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Default();

    // Commands (WM_COMMAND) and notifications (WM_NOTIFY) of menus and child controls. The default
    // offers a child's notification to the child first (OnChildNotify), then the message map.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // A message that this window's parent received from this window (WM_NOTIFY, WM_DRAWITEM).
    // TRUE when handled here; pResult then holds the parent's answer to the control.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    virtual BOOL PreCreateWindow(CREATESTRUCTW& cs);
    virtual void PreSubclassWindow() {}
    // After WM_NCDESTROY, once the object is no longer tied to the window.
    virtual void PostNcDestroy() {}
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Messages.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    // Window state and geometry.
    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    int GetDlgCtrlID() const;
    CWnd* GetParent() const;
    CWnd* GetDlgItem(int nID) const;
    void GetClientRect(LPRECT lpRect) const;
    void GetWindowRect(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const;
    void ScreenToClient(LPRECT lpRect) const;
    void ClientToScreen(LPPOINT lpPoint) const;
    void ClientToScreen(LPRECT lpRect) const;
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void MoveWindow(LPCRECT lpRect, BOOL bRepaint = TRUE);
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    BOOL ShowWindow(int nCmdShow);
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    BOOL IsZoomed() const;
    BOOL GetWindowPlacement(WINDOWPLACEMENT* lpwndpl) const;
    BOOL SetWindowPlacement(const WINDOWPLACEMENT* lpwndpl);
    void SetWindowText(LPCWSTR lpszString);
    int GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const;
    void GetWindowText(CString& rString) const;
    int GetWindowTextLength() const;
    void CheckDlgButton(int nIDButton, UINT nCheck);
    UINT IsDlgButtonChecked(int nIDButton) const;
    CWnd* SetFocus();
    static CWnd* GetFocus();

    // Painting.
    void Invalidate(BOOL bErase = TRUE);
    void InvalidateRect(LPCRECT lpRect, BOOL bErase = TRUE);
    void ValidateRect(LPCRECT lpRect);
    void UpdateWindow();
    BOOL RedrawWindow(LPCRECT lpRectUpdate = nullptr, HRGN hrgnUpdate = nullptr,
                      UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
    void SetRedraw(BOOL bRedraw = TRUE);
    CDC* GetDC();
    int ReleaseDC(CDC* pDC);
    // The window's font (WM_GETFONT), as a temporary object; null when it uses the system font.
    CFont* GetFont() const;
    void SetFont(CFont* pFont, BOOL bRedraw = TRUE);
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);

    // Scrolling.
    BOOL GetScrollInfo(int nBar, LPSCROLLINFO lpScrollInfo, UINT nMask = SIF_ALL);
    BOOL SetScrollInfo(int nBar, LPSCROLLINFO lpScrollInfo, BOOL bRedraw = TRUE);
    int GetScrollPos(int nBar) const;
    void ShowScrollBar(UINT nBar, BOOL bShow = TRUE);
    void ScrollWindow(int xAmount, int yAmount, LPCRECT lpRect = nullptr, LPCRECT lpClipRect = nullptr);

    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);
    // The window's system menu as a temporary object.
    CMenu* GetSystemMenu(BOOL bRevert) const;
    // A message box owned by this window; without a caption it is titled with the application's name.
    int MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption = nullptr, UINT nType = MB_OK);

protected:
    // Default handlers: each passes its message on to the window's original procedure.
    afx_msg int OnCreate(LPCREATESTRUCT) { return static_cast<int>(Default()); }
    afx_msg void OnDestroy() { Default(); }
    afx_msg void OnClose() { Default(); }
    afx_msg void OnPaint() { Default(); }
    afx_msg BOOL OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
    afx_msg void OnSize(UINT, int, int) { Default(); }
    afx_msg void OnGetMinMaxInfo(MINMAXINFO*) { Default(); }
    afx_msg void OnSysCommand(UINT, LPARAM) { Default(); }
    afx_msg HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
    afx_msg void OnTimer(UINT_PTR) { Default(); }
    afx_msg void OnHScroll(UINT, UINT, CScrollBar*) { Default(); }
    afx_msg void OnVScroll(UINT, UINT, CScrollBar*) { Default(); }
    afx_msg void OnSysColorChange() { Default(); }
    afx_msg void OnSetFocus(CWnd*) { Default(); }
    afx_msg void OnKillFocus(CWnd*) { Default(); }
    afx_msg void OnLButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnLButtonUp(UINT, CPoint) { Default(); }
    afx_msg void OnLButtonDblClk(UINT, CPoint) { Default(); }
    afx_msg void OnRButtonDown(UINT, CPoint) { Default(); }
    afx_msg void OnMouseMove(UINT, CPoint) { Default(); }
    afx_msg void OnKeyDown(UINT, UINT, UINT) { Default(); }
    afx_msg void OnKeyUp(UINT, UINT, UINT) { Default(); }
    afx_msg void OnContextMenu(CWnd*, CPoint) { Default(); }
    afx_msg int OnCharToItem(UINT, HWND, UINT) { return static_cast<int>(Default()); }

    // Runs the message map. TRUE when a handler took the message; pResult holds its answer.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    // The reflected-message entries of this window's own map (ON_NOTIFY_REFLECT and the like).
    BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    DECLARE_MESSAGE_MAP()

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK AfxCbtFilterHook(int, WPARAM, LPARAM);
    // Routes the window's messages through AfxWndProc, keeping the old procedure.
    void HookWindowProc();
    void OnNcDestroyed();

    WNDPROC m_pfnSuper = nullptr;
};

// The layer's window procedure: hands each message to the window's object.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CScrollBar : public CWnd
{
};

// A scroll-bar object for the duration of one message (null for a window's own scroll bar).
class CScrollBarHandle
{
public:
    explicit CScrollBarHandle(HWND hWnd);
    ~CScrollBarHandle();
    CScrollBar* Get() { return m_pBar; }

private:
    CScrollBar m_temp;
    CScrollBar* m_pBar = nullptr;
};

// Registers (once) a window class with the system default procedure and returns its name, which
// stays valid for the life of the process.
LPCWSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor = nullptr, HBRUSH hbrBackground = nullptr,
                            HICON hIcon = nullptr);

// ---------------------------------------------------------------------------------------------
// Dialogs and data exchange

class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }
    BOOL m_bSaveAndValidate; // TRUE: controls to members; FALSE: members to controls
    CWnd* m_pDlgWnd;
};

// Binds the member object to the dialog control `nIDC` (once; later calls do nothing).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Exchanges the control's text with the string.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);

class CDialog : public CWnd
{
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Runs the dialog from its template resource in a modal loop of its own, with its parent
    // disabled; returns the value given to EndDialog, or -1 when the dialog could not be created.
    // A dialog that is not visible by the time the loop first goes idle is shown then, as a normal
    // window; one that showed itself (minimized, maximized or normal) keeps that state.
    virtual INT_PTR DoModal();
    // Ends the modal loop with the result; the window is hidden and then destroyed by DoModal.
    void EndDialog(int nResult);

    // WM_INITDIALOG: fills the controls (UpdateData(FALSE)); TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    // IDOK: takes the controls' data (UpdateData(TRUE)) and ends the dialog with IDOK.
    virtual void OnOK();
    // IDCANCEL (also Esc and the close box): ends the dialog with IDCANCEL.
    virtual void OnCancel();

    // Commands the dialog does not handle go on to the application object.
    BOOL OnCmdMsg(UINT nID, int nCode) override;

protected:
    UINT m_nIDHelp;
    LPCWSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    void RunModalLoop();

    bool m_bModalEnded = false;
    int m_nModalResult = -1;
};

// ---------------------------------------------------------------------------------------------
// Application

#define AFX_RESTART_MANAGER_SUPPORT_RESTART 0x01
// The string resource that names the application (its title) when the program gives no name.
#define AFX_IDS_APP_TITLE 0xE000
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

class CWinApp : public CCmdTarget
{
public:
    // Without a name the application is called by string AFX_IDS_APP_TITLE, else by its file name
    // without the extension. There is one application object at a time.
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitApplication() { return TRUE; }
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // The message loop of a program whose InitInstance returned TRUE.
    virtual int Run();

    // The registry key is kept as a name only: nothing is written to the registry.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);
    void SetRegistryKey(UINT nIDRegistryKey);

    HICON LoadIcon(UINT nIDResource) const;
    HICON LoadIcon(LPCWSTR lpszResourceName) const;
    HCURSOR LoadCursor(UINT nIDResource) const;
    HCURSOR LoadStandardCursor(LPCWSTR lpszCursorName) const;
    HICON LoadStandardIcon(LPCWSTR lpszIconName) const;

    // Help command: the program has no help file, so there is nothing to show.
    afx_msg void OnHelp() {}

    HINSTANCE m_hInstance = nullptr;
    LPCWSTR m_pszAppName = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
    CWnd* m_pMainWnd = nullptr;
    DWORD m_dwRestartManagerSupportFlags = 0;

    DECLARE_MESSAGE_MAP()

private:
    void SetOwnedText(LPCWSTR& field, LPCWSTR text);
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// Where string, dialog, bitmap and icon resources are looked up (the program's own module).
HINSTANCE AfxGetResourceHandle();
// The application's name (see CWinApp); the program file's name when there is no application object.
LPCWSTR AfxGetAppName();
// A message box owned by the main window, titled with the application's name.
int AfxMessageBox(LPCWSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
// Loads a string resource; FALSE (and an empty string) when there is none.
BOOL AfxLoadString(UINT nID, CString& rString);
// The program runs no ActiveX controls; kept for the start-up sequence.
inline void AfxEnableControlContainer() {}
// The start of the program: the application object's InitApplication, InitInstance and, when that
// returned TRUE, Run; otherwise ExitInstance. Returns the process's exit code.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);

// The shell's visual managers are not used; the object exists for the start-up sequence.
class CShellManager : public CObject
{
};

// ---------------------------------------------------------------------------------------------
// Drawing

class CGdiObject : public CObject
{
public:
    CGdiObject() = default;
    // Deletes the object it owns.
    ~CGdiObject() override;

    HGDIOBJ m_hObject = nullptr;

    HGDIOBJ GetSafeHandle() const noexcept { return m_hObject; }
    operator HGDIOBJ() const noexcept { return m_hObject; }
    BOOL Attach(HGDIOBJ hObject);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int nCount, LPVOID lpObject) const;
    BOOL CreateStockObject(int nIndex);
    // The owner of the handle or a temporary wrapper.
    static CGdiObject* FromHandle(HGDIOBJ hObject);
};

class CFont : public CGdiObject
{
public:
    operator HFONT() const noexcept { return static_cast<HFONT>(m_hObject); }
    BOOL CreateFontIndirect(const LOGFONTW* lpLogFont);
    BOOL CreateFont(int nHeight, int nWidth, int nEscapement, int nOrientation, int nWeight, BYTE bItalic,
                    BYTE bUnderline, BYTE cStrikeOut, BYTE nCharSet, BYTE nOutPrecision, BYTE nClipPrecision,
                    BYTE nQuality, BYTE nPitchAndFamily, LPCWSTR lpszFacename);
    BOOL CreatePointFont(int nPointSize, LPCWSTR lpszFaceName, CDC* pDC = nullptr);
    int GetLogFont(LOGFONTW* pLogFont) const;
    static CFont* FromHandle(HFONT hFont);
};

class CBrush : public CGdiObject
{
public:
    CBrush() = default;
    explicit CBrush(COLORREF crColor);
    operator HBRUSH() const noexcept { return static_cast<HBRUSH>(m_hObject); }
    BOOL CreateSolidBrush(COLORREF crColor);
    BOOL CreateSysColorBrush(int nIndex);
    static CBrush* FromHandle(HBRUSH hBrush);
};

class CPen : public CGdiObject
{
public:
    operator HPEN() const noexcept { return static_cast<HPEN>(m_hObject); }
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
    static CPen* FromHandle(HPEN hPen);
};

class CBitmap : public CGdiObject
{
public:
    operator HBITMAP() const noexcept { return static_cast<HBITMAP>(m_hObject); }
    BOOL LoadBitmap(UINT nIDResource);
    BOOL LoadBitmap(LPCWSTR lpszResourceName);
    // Loads a bitmap resource with colours replaced (the common controls' mapped bitmap).
    BOOL LoadMappedBitmap(UINT nIDBitmap, UINT nFlags = 0, LPCOLORMAP lpColorMap = nullptr, int nMapSize = 0);
    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
    int GetBitmap(BITMAP* pBitMap) const;
    static CBitmap* FromHandle(HBITMAP hBitmap);
};

class CDC : public CObject
{
public:
    CDC() = default;
    // Deletes a device context it created (CreateCompatibleDC); attach others and detach them.
    ~CDC() override;

    HDC m_hDC = nullptr;

    HDC GetSafeHdc() const noexcept { return m_hDC; }
    operator HDC() const noexcept { return m_hDC; }
    BOOL Attach(HDC hDC);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();
    // The owner of the handle or a temporary wrapper.
    static CDC* FromHandle(HDC hDC);

    int SaveDC();
    BOOL RestoreDC(int nSavedDC);
    int GetDeviceCaps(int nIndex) const;

    // Selecting returns the previous object as a temporary object.
    CGdiObject* SelectObject(CGdiObject* pObject);
    CFont* SelectObject(CFont* pFont);
    CBrush* SelectObject(CBrush* pBrush);
    CPen* SelectObject(CPen* pPen);
    CBitmap* SelectObject(CBitmap* pBitmap);
    HGDIOBJ SelectObject(HGDIOBJ hObject);
    CGdiObject* SelectStockObject(int nIndex);

    COLORREF SetBkColor(COLORREF crColor);
    COLORREF GetBkColor() const;
    int SetBkMode(int nBkMode);
    int GetBkMode() const;
    COLORREF SetTextColor(COLORREF crColor);
    COLORREF GetTextColor() const;

    int DrawText(LPCWSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
    int DrawText(const CString& str, LPRECT lpRect, UINT nFormat);
    BOOL TextOut(int x, int y, LPCWSTR lpszString, int nCount);
    BOOL ExtTextOut(int x, int y, UINT nOptions, LPCRECT lpRect, LPCWSTR lpszString, UINT nCount,
                    LPINT lpDxWidths);
    CSize GetTextExtent(LPCWSTR lpszString, int nCount) const;
    BOOL GetTextMetrics(LPTEXTMETRICW lpMetrics) const;

    void FillRect(LPCRECT lpRect, CBrush* pBrush);
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
    void FrameRect(LPCRECT lpRect, CBrush* pBrush);
    void DrawFocusRect(LPCRECT lpRect);
    BOOL PatBlt(int x, int y, int nWidth, int nHeight, DWORD dwRop);
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop);
    CPoint MoveTo(int x, int y);
    BOOL LineTo(int x, int y);
    BOOL DrawIcon(int x, int y, HICON hIcon);

    int IntersectClipRect(LPCRECT lpRect);
    int IntersectClipRect(int x1, int y1, int x2, int y2);
    int SelectClipRgn(HRGN hRgn);
    int GetClipBox(LPRECT lpRect) const;
};

// BeginPaint/EndPaint around the object's life.
class CPaintDC : public CDC
{
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps{};

private:
    HWND m_hWnd;
};

// GetDC/ReleaseDC of a window's client area around the object's life.
class CClientDC : public CDC
{
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

private:
    HWND m_hWnd;
};

// A device-context object for the duration of one message (WM_ERASEBKGND).
class CDCHandle
{
public:
    explicit CDCHandle(HDC hDC) { m_dc.Attach(hDC); }
    ~CDCHandle() { m_dc.Detach(); }
    CDC* Get() { return &m_dc; }

private:
    CDC m_dc;
};

// ---------------------------------------------------------------------------------------------
// Menus

class CMenu : public CObject
{
public:
    CMenu() = default;
    // Destroys the menu it owns.
    ~CMenu() override;

    HMENU m_hMenu = nullptr;

    HMENU GetSafeHmenu() const noexcept { return m_hMenu; }
    operator HMENU() const noexcept { return m_hMenu; }
    BOOL Attach(HMENU hMenu);
    HMENU Detach();
    // The owner of the handle or a temporary wrapper.
    static CMenu* FromHandle(HMENU hMenu);

    BOOL CreateMenu();
    BOOL CreatePopupMenu();
    BOOL DestroyMenu();

    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCWSTR lpszNewItem = nullptr);
    UINT CheckMenuItem(UINT nIDCheckItem, UINT nCheck);
    UINT EnableMenuItem(UINT nIDEnableItem, UINT nEnable);
    UINT GetMenuState(UINT nID, UINT nFlags) const;
    int GetMenuItemCount() const;
    UINT GetMenuItemID(int nPos) const;
    int GetMenuString(UINT nIDItem, CString& rString, UINT nFlags) const;
    // Shows the menu at the screen point; commands go to pWnd as WM_COMMAND.
    BOOL TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect = nullptr);
};
