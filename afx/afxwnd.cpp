// Window objects: the handle map, the layer's window procedure, message maps, subclassing and the
// reflection of child notifications.
#include "afx/afxwin.h"
#include "afx/afximpl.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <typeindex>
#include <unordered_map>
#include <utility>

namespace {

// Every window tied to an object, across all threads.
class HandleMap
{
public:
    CWnd* Find(HWND hWnd)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_map.find(hWnd);
        return it == m_map.end() ? nullptr : it->second;
    }
    bool Add(HWND hWnd, CWnd* pWnd)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_map.emplace(hWnd, pWnd).second;
    }
    void Remove(HWND hWnd, CWnd* pWnd)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_map.find(hWnd);
        if (it != m_map.end() && it->second == pWnd)
            m_map.erase(it);
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HWND, CWnd*> m_map;
};

HandleMap& Handles()
{
    static HandleMap* map = new HandleMap; // lives to the end of the process, after every window
    return *map;
}

// The original procedure of a subclassed window, kept with the window too, so that a window whose
// object went away still reaches it.
const wchar_t kSuperProcProperty[] = L"VelmoraAfxSuperProc";

// The message being handled on this thread, for CWnd::Default.
struct CurrentMessage
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local CurrentMessage t_current = {0, 0, 0};

// The object that the next window created on this thread belongs to.
thread_local CWnd* t_pWndInit = nullptr;
thread_local HHOOK t_hHookCbt = nullptr;
thread_local int t_hookDepth = 0;

// Hands a change of the system colours on to a descendant; windows of other threads are left alone,
// so that a busy thread cannot hold this one up.
BOOL CALLBACK ForwardSysColorChange(HWND hChild, LPARAM)
{
    if (::GetWindowThreadProcessId(hChild, nullptr) == ::GetCurrentThreadId())
        ::SendMessageW(hChild, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Temporary wrappers

namespace afx_temp {

namespace {

struct Slot
{
    CObject* object;
    TieFunction tie;
    AliveFunction alive;
};

class Table
{
public:
    CObject* Lookup(void* handle, const std::type_info& type, CreateFunction create, TieFunction tie,
                    AliveFunction alive)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Key key(handle, std::type_index(type));
        auto it = m_slots.find(key);
        if (it != m_slots.end())
            return it->second.object;
        if (m_slots.size() >= m_sweepAt)
            Sweep();
        CObject* object = create();
        tie(object, handle);
        m_slots.emplace(key, Slot{object, tie, alive});
        return object;
    }

private:
    typedef std::pair<void*, std::type_index> Key;

    // Deletes the wrappers of dead handles; the next sweep waits until the table has doubled.
    void Sweep()
    {
        for (auto it = m_slots.begin(); it != m_slots.end();) {
            if (it->second.alive != nullptr && !it->second.alive(it->first.first)) {
                it->second.tie(it->second.object, nullptr);
                delete it->second.object;
                it = m_slots.erase(it);
            } else {
                ++it;
            }
        }
        m_sweepAt = m_slots.size() * 2 < 64 ? 64 : m_slots.size() * 2;
    }

    std::mutex m_mutex;
    std::map<Key, Slot> m_slots;
    size_t m_sweepAt = 64;
};

} // namespace

void TieWindow(CObject* wrapper, void* handle)
{
    static_cast<CWnd*>(wrapper)->m_hWnd = static_cast<HWND>(handle);
}

bool WindowAlive(void* handle)
{
    return ::IsWindow(static_cast<HWND>(handle)) != FALSE;
}

CObject* Lookup(void* handle, const std::type_info& type, CreateFunction create, TieFunction tie,
                AliveFunction alive)
{
    static Table* table = new Table; // wrappers stay valid to the end of the process
    return table->Lookup(handle, type, create, tie, alive);
}

} // namespace afx_temp

// ---------------------------------------------------------------------------------------------
// Command targets and message maps

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP messageMap = {nullptr, &entries[0]};
    return &messageMap;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CCmdTarget::DispatchMsg(UINT nMessage, UINT nCode, UINT nID, WPARAM wParam, LPARAM lParam,
                             LRESULT* pResult)
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
            if (entry->nMessage == nMessage && entry->nCode == nCode && nID >= entry->nID &&
                nID <= entry->nLastID && entry->pfn(this, wParam, lParam, pResult))
                return TRUE;
        }
    }
    return FALSE;
}

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode)
{
    LRESULT ignored = 0;
    return DispatchMsg(WM_COMMAND, static_cast<UINT>(nCode), nID, 0, 0, &ignored);
}

// ---------------------------------------------------------------------------------------------
// The window procedure and window creation

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (pWnd == nullptr) {
        // The object let go of the window without giving the procedure back.
        WNDPROC super =
            reinterpret_cast<WNDPROC>(reinterpret_cast<LONG_PTR>(::GetPropW(hWnd, kSuperProcProperty)));
        return super != nullptr ? ::CallWindowProcW(super, hWnd, message, wParam, lParam)
                                : ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    CurrentMessage saved = t_current;
    t_current = {message, wParam, lParam};
    LRESULT result = 0;
    try {
        result = pWnd->WindowProc(message, wParam, lParam);
    } catch (const std::exception& e) {
        // An exception must not unwind through the system's frames: report it and go on.
        char text[160];
        std::snprintf(text, sizeof(text), "Velmora: exception in the handler of message 0x%04x: %s\n",
                      message, e.what());
        ::OutputDebugStringA(text);
    }
    if (message == WM_NCDESTROY)
        pWnd->OnNcDestroyed(); // may delete the object (PostNcDestroy)
    t_current = saved;
    return result;
}

LRESULT CALLBACK AfxCbtFilterHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && t_pWndInit != nullptr) {
        CWnd* pWnd = t_pWndInit;
        t_pWndInit = nullptr;
        HWND hWnd = reinterpret_cast<HWND>(wParam);
        if (pWnd->Attach(hWnd))
            pWnd->HookWindowProc();
    }
    return ::CallNextHookEx(t_hHookCbt, code, wParam, lParam);
}

// The next window created on this thread belongs to pWnd: it is tied to it before its first message.
void AfxHookWindowCreate(CWnd* pWnd)
{
    if (t_hookDepth++ == 0)
        t_hHookCbt = ::SetWindowsHookExW(WH_CBT, AfxCbtFilterHook, nullptr, ::GetCurrentThreadId());
    t_pWndInit = pWnd;
}

void AfxUnhookWindowCreate()
{
    t_pWndInit = nullptr;
    if (--t_hookDepth == 0 && t_hHookCbt != nullptr) {
        ::UnhookWindowsHookEx(t_hHookCbt);
        t_hHookCbt = nullptr;
    }
}

LPCWSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon)
{
    static std::mutex mutex;
    static std::set<std::wstring>* names = new std::set<std::wstring>; // names live as long as the process
    HINSTANCE hInstance = AfxGetInstanceHandle();
    wchar_t name[96];
    _snwprintf(name, 96, L"Afx:%p:%x:%p:%p:%p", static_cast<void*>(hInstance), nClassStyle,
               static_cast<void*>(hCursor), static_cast<void*>(hbrBackground), static_cast<void*>(hIcon));
    name[95] = 0;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = names->find(name);
    if (it != names->end())
        return it->c_str();
    WNDCLASSW wc = {};
    if (!::GetClassInfoW(hInstance, name, &wc)) {
        wc.style = nClassStyle;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = hInstance;
        wc.hCursor = hCursor;
        wc.hbrBackground = hbrBackground;
        wc.hIcon = hIcon;
        wc.lpszClassName = name;
        if (!::RegisterClassW(&wc))
            return nullptr;
    }
    return names->insert(name).first->c_str();
}

// ---------------------------------------------------------------------------------------------
// CWnd

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

CWnd::~CWnd()
{
    if (m_hWnd == nullptr)
        return;
    if (FromHandlePermanent(m_hWnd) == this) {
        ::DestroyWindow(m_hWnd); // WM_NCDESTROY unties the object
        if (m_hWnd != nullptr)   // a window of another thread cannot be destroyed here
            UnsubclassWindow();
    }
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    return hWnd == nullptr ? nullptr : Handles().Find(hWnd);
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    return AfxWindowObject<CWnd>(hWnd);
}

BOOL CWnd::Attach(HWND hWnd)
{
    if (hWnd == nullptr || m_hWnd != nullptr || !Handles().Add(hWnd, this))
        return FALSE;
    m_hWnd = hWnd;
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hWnd = m_hWnd;
    if (hWnd != nullptr)
        Handles().Remove(hWnd, this);
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::HookWindowProc()
{
    WNDPROC current = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC));
    if (current == AfxWndProc)
        return;
    ::SetPropW(m_hWnd, kSuperProcProperty, reinterpret_cast<HANDLE>(reinterpret_cast<LONG_PTR>(current)));
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc));
    m_pfnSuper = current;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!Attach(hWnd))
        return FALSE;
    PreSubclassWindow();
    HookWindowProc();
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent)
{
    if (pParent == nullptr || pParent->m_hWnd == nullptr)
        return FALSE;
    HWND hWndControl = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
    return hWndControl != nullptr && SubclassWindow(hWndControl);
}

HWND CWnd::UnsubclassWindow()
{
    if (m_hWnd == nullptr)
        return nullptr;
    if (m_pfnSuper != nullptr &&
        reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == AfxWndProc) {
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        ::RemovePropW(m_hWnd, kSuperProcProperty);
    }
    m_pfnSuper = nullptr;
    return Detach();
}

void CWnd::OnNcDestroyed()
{
    if (m_hWnd != nullptr)
        ::RemovePropW(m_hWnd, kSuperProcProperty);
    m_pfnSuper = nullptr;
    Detach();
    PostNcDestroy();
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTW& cs)
{
    if (cs.lpszClass == nullptr) {
        cs.lpszClass = AfxRegisterWndClass(CS_DBLCLKS, ::LoadCursorW(nullptr, IDC_ARROW),
                                           reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    }
    return cs.lpszClass != nullptr;
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                    const RECT& rect, CWnd* pParentWnd, UINT nID, LPVOID lpParam)
{
    if (m_hWnd != nullptr)
        return FALSE;
    CREATESTRUCTW cs = {};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName;
    cs.lpszName = lpszWindowName;
    cs.style = dwStyle;
    cs.x = rect.left;
    cs.y = rect.top;
    cs.cx = rect.right - rect.left;
    cs.cy = rect.bottom - rect.top;
    cs.hwndParent = pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr;
    cs.hMenu = (dwStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)) : nullptr;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs))
        return FALSE;
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx, cs.cy,
                                  cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    AfxUnhookWindowCreate();
    return hWnd != nullptr && m_hWnd == hWnd;
}

BOOL CWnd::Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID)
{
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect, pParentWnd, nID);
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd != nullptr && ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper != nullptr)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(t_current.message, t_current.wParam, t_current.lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    *pResult = 0;
    if (message == WM_SYSCOLORCHANGE && (GetStyle() & WS_CHILD) == 0) {
        // Every descendant once (the enumeration goes down the whole tree).
        ::EnumChildWindows(m_hWnd, ForwardSysColorChange, 0);
    }
    if (message == WM_COMMAND)
        return OnCommand(wParam, lParam);
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        return header != nullptr && header->hwndFrom != nullptr && OnNotify(wParam, lParam, pResult);
    }
    if (message == WM_DRAWITEM && wParam != 0 && lParam != 0) {
        // A control's owner-draw request goes to the control's own object first.
        CWnd* pChild = FromHandlePermanent(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem);
        if (pChild != nullptr && pChild != this && pChild->OnChildNotify(message, wParam, lParam, pResult))
            return TRUE;
    }
    return DispatchMsg(message, 0, 0, wParam, lParam, pResult);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    int nCode = HIWORD(wParam);
    if (lParam == 0 && nCode == 1)
        nCode = 0; // an accelerator is the same command as the menu item
    return OnCmdMsg(LOWORD(wParam), nCode);
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    CWnd* pChild = FromHandlePermanent(header->hwndFrom);
    if (pChild != nullptr && pChild != this && pChild->OnChildNotify(WM_NOTIFY, wParam, lParam, pResult))
        return TRUE;
    return DispatchMsg(WM_NOTIFY, header->code, static_cast<UINT>(header->idFrom), wParam, lParam, pResult);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    return ReflectChildNotify(message, wParam, lParam, pResult);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        return DispatchMsg(WM_REFLECT_BASE + WM_NOTIFY, header->code, 0, wParam, lParam, pResult);
    }
    return DispatchMsg(WM_REFLECT_BASE + message, 0, 0, wParam, lParam, pResult);
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// CWnd: thin wrappers of the window functions

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendDlgItemMessage(int nID, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendDlgItemMessageW(m_hWnd, nID, message, wParam, lParam);
}

DWORD CWnd::GetStyle() const
{
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
}

DWORD CWnd::GetExStyle() const
{
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags)
{
    DWORD style = GetStyle();
    DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongW(m_hWnd, GWL_STYLE, static_cast<LONG>(newStyle));
    if (nFlags != 0)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

int CWnd::GetDlgCtrlID() const
{
    return ::GetDlgCtrlID(m_hWnd);
}

CWnd* CWnd::GetParent() const
{
    return FromHandle(::GetParent(m_hWnd));
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

void CWnd::GetClientRect(LPRECT lpRect) const
{
    ::GetClientRect(m_hWnd, lpRect);
}

void CWnd::GetWindowRect(LPRECT lpRect) const
{
    ::GetWindowRect(m_hWnd, lpRect);
}

void CWnd::ScreenToClient(LPPOINT lpPoint) const
{
    ::ScreenToClient(m_hWnd, lpPoint);
}

void CWnd::ScreenToClient(LPRECT lpRect) const
{
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(lpRect), 2);
}

void CWnd::ClientToScreen(LPPOINT lpPoint) const
{
    ::ClientToScreen(m_hWnd, lpPoint);
}

void CWnd::ClientToScreen(LPRECT lpRect) const
{
    ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(lpRect), 2);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint)
{
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint)
{
    MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top,
               bRepaint);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    return ::SetWindowPos(m_hWnd, pWndInsertAfter != nullptr ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx,
                          cy, nFlags);
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL bEnable)
{
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::IsWindowEnabled() const
{
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

BOOL CWnd::IsZoomed() const
{
    return ::IsZoomed(m_hWnd);
}

BOOL CWnd::GetWindowPlacement(WINDOWPLACEMENT* lpwndpl) const
{
    return ::GetWindowPlacement(m_hWnd, lpwndpl);
}

BOOL CWnd::SetWindowPlacement(const WINDOWPLACEMENT* lpwndpl)
{
    return ::SetWindowPlacement(m_hWnd, lpwndpl);
}

void CWnd::SetWindowText(LPCWSTR lpszString)
{
    ::SetWindowTextW(m_hWnd, lpszString);
}

int CWnd::GetWindowText(LPWSTR lpszStringBuf, int nMaxCount) const
{
    return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
}

void CWnd::GetWindowText(CString& rString) const
{
    int length = ::GetWindowTextLengthW(m_hWnd);
    wchar_t* buffer = rString.GetBuffer(length);
    int copied = ::GetWindowTextW(m_hWnd, buffer, length + 1);
    rString.ReleaseBufferSetLength(copied < 0 ? 0 : copied);
}

int CWnd::GetWindowTextLength() const
{
    return ::GetWindowTextLengthW(m_hWnd);
}

void CWnd::CheckDlgButton(int nIDButton, UINT nCheck)
{
    ::CheckDlgButton(m_hWnd, nIDButton, nCheck);
}

UINT CWnd::IsDlgButtonChecked(int nIDButton) const
{
    return ::IsDlgButtonChecked(m_hWnd, nIDButton);
}

CWnd* CWnd::SetFocus()
{
    return FromHandle(::SetFocus(m_hWnd));
}

CWnd* CWnd::GetFocus()
{
    return FromHandle(::GetFocus());
}

void CWnd::Invalidate(BOOL bErase)
{
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

void CWnd::InvalidateRect(LPCRECT lpRect, BOOL bErase)
{
    ::InvalidateRect(m_hWnd, lpRect, bErase);
}

void CWnd::ValidateRect(LPCRECT lpRect)
{
    ::ValidateRect(m_hWnd, lpRect);
}

void CWnd::UpdateWindow()
{
    ::UpdateWindow(m_hWnd);
}

BOOL CWnd::RedrawWindow(LPCRECT lpRectUpdate, HRGN hrgnUpdate, UINT flags)
{
    return ::RedrawWindow(m_hWnd, lpRectUpdate, hrgnUpdate, flags);
}

void CWnd::SetRedraw(BOOL bRedraw)
{
    ::SendMessageW(m_hWnd, WM_SETREDRAW, bRedraw, 0);
}

CDC* CWnd::GetDC()
{
    return CDC::FromHandle(::GetDC(m_hWnd));
}

int CWnd::ReleaseDC(CDC* pDC)
{
    return pDC != nullptr ? ::ReleaseDC(m_hWnd, pDC->m_hDC) : 0;
}

CFont* CWnd::GetFont() const
{
    return CFont::FromHandle(reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
}

void CWnd::SetFont(CFont* pFont, BOOL bRedraw)
{
    ::SendMessageW(m_hWnd, WM_SETFONT,
                   reinterpret_cast<WPARAM>(pFont != nullptr ? pFont->m_hObject : nullptr), bRedraw);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon)
{
    return reinterpret_cast<HICON>(::SendMessageW(m_hWnd, WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                                  reinterpret_cast<LPARAM>(hIcon)));
}

BOOL CWnd::GetScrollInfo(int nBar, LPSCROLLINFO lpScrollInfo, UINT nMask)
{
    lpScrollInfo->cbSize = sizeof(SCROLLINFO);
    lpScrollInfo->fMask = nMask;
    return ::GetScrollInfo(m_hWnd, nBar, lpScrollInfo);
}

BOOL CWnd::SetScrollInfo(int nBar, LPSCROLLINFO lpScrollInfo, BOOL bRedraw)
{
    lpScrollInfo->cbSize = sizeof(SCROLLINFO);
    ::SetScrollInfo(m_hWnd, nBar, lpScrollInfo, bRedraw);
    return TRUE;
}

int CWnd::GetScrollPos(int nBar) const
{
    return ::GetScrollPos(m_hWnd, nBar);
}

void CWnd::ShowScrollBar(UINT nBar, BOOL bShow)
{
    ::ShowScrollBar(m_hWnd, static_cast<int>(nBar), bShow);
}

void CWnd::ScrollWindow(int xAmount, int yAmount, LPCRECT lpRect, LPCRECT lpClipRect)
{
    ::ScrollWindow(m_hWnd, xAmount, yAmount, lpRect, lpClipRect);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer)
{
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent)
{
    return ::KillTimer(m_hWnd, nIDEvent);
}

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const
{
    return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert));
}

int CWnd::MessageBox(LPCWSTR lpszText, LPCWSTR lpszCaption, UINT nType)
{
    return ::MessageBoxW(m_hWnd, lpszText, lpszCaption != nullptr ? lpszCaption : AfxGetAppName(), nType);
}

// ---------------------------------------------------------------------------------------------
// Scroll-bar objects of scroll messages

CScrollBarHandle::CScrollBarHandle(HWND hWnd)
{
    if (hWnd == nullptr)
        return;
    m_pBar = dynamic_cast<CScrollBar*>(CWnd::FromHandlePermanent(hWnd));
    if (m_pBar == nullptr) {
        m_temp.m_hWnd = hWnd;
        m_pBar = &m_temp;
    }
}

CScrollBarHandle::~CScrollBarHandle()
{
    m_temp.m_hWnd = nullptr;
}
