// Dialogs: modal dialogs from template resources and the exchange of data with their controls.
#include "afx/afxdialogex.h"
#include "afx/afximpl.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDialogEx, CDialog)
END_MESSAGE_MAP()

// The dialog manager's procedure of the layer's dialogs. Every message reaches the dialog's object
// through AfxWndProc first; what the object passes on arrives here through the dialog manager.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* pDialog = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
    return pDialog != nullptr ? pDialog->OnInitDialog() : TRUE;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDHelp(nIDTemplate), m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_pParentWnd(pParentWnd)
{
}

CDialog::~CDialog() = default;

namespace {

// A modal dialog opens centred on its owner's window, kept inside the work area of the owner's screen.
void CenterOnOwner(HWND hWnd, HWND hOwner)
{
    RECT owner, dialog;
    if (::IsIconic(hOwner) || !::GetWindowRect(hOwner, &owner) || !::GetWindowRect(hWnd, &dialog))
        return;
    const int width = dialog.right - dialog.left;
    const int height = dialog.bottom - dialog.top;
    int left = owner.left + (owner.right - owner.left - width) / 2;
    int top = owner.top + (owner.bottom - owner.top - height) / 2;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (::GetMonitorInfoW(::MonitorFromWindow(hOwner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        left = left + width > work.right ? work.right - width : left;
        top = top + height > work.bottom ? work.bottom - height : top;
        left = left < work.left ? work.left : left;
        top = top < work.top ? work.top : top;
    }
    ::SetWindowPos(hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

INT_PTR CDialog::DoModal()
{
    if (m_hWnd != nullptr)
        return -1; // already running
    HINSTANCE hInstance = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hInstance, m_lpszTemplateName, MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    HGLOBAL hTemplate = hResource != nullptr ? ::LoadResource(hInstance, hResource) : nullptr;
    const DLGTEMPLATE* pTemplate =
        hTemplate != nullptr ? static_cast<const DLGTEMPLATE*>(::LockResource(hTemplate)) : nullptr;
    if (pTemplate == nullptr)
        return -1;
    HWND hWndParent = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    if (hWndParent == nullptr) {
        CWnd* pMainWnd = AfxGetMainWnd();
        if (pMainWnd != nullptr && pMainWnd != this)
            hWndParent = pMainWnd->m_hWnd;
    }
    // The parent's top-level window takes no input while the dialog runs.
    HWND hWndTop = hWndParent != nullptr ? ::GetAncestor(hWndParent, GA_ROOT) : nullptr;
    const bool disabledTop = hWndTop != nullptr && ::IsWindowEnabled(hWndTop);
    if (disabledTop)
        ::EnableWindow(hWndTop, FALSE);

    m_bModalEnded = false;
    m_nModalResult = -1;
    AfxHookWindowCreate(this);
    HWND hWnd = ::CreateDialogIndirectParamW(hInstance, pTemplate, hWndParent, AfxDlgProc, 0);
    AfxUnhookWindowCreate();
    if (hWnd != nullptr) {
        if (hWndTop != nullptr)
            CenterOnOwner(hWnd, hWndTop);
        RunModalLoop();
        // Hidden before the parent takes input again, so that the parent becomes active.
        ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    }
    if (disabledTop) {
        ::EnableWindow(hWndTop, TRUE);
        if (hWnd != nullptr)
            ::SetActiveWindow(hWndTop);
    }
    if (hWnd != nullptr && ::IsWindow(hWnd))
        ::DestroyWindow(hWnd);
    return hWnd != nullptr ? m_nModalResult : -1;
}

void CDialog::RunModalLoop()
{
    bool idleSeen = false;
    MSG msg;
    while (!m_bModalEnded && m_hWnd != nullptr) {
        if (!idleSeen && !::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            idleSeen = true;
            if (!(GetStyle() & WS_VISIBLE)) {
                ShowWindow(SW_SHOWNORMAL);
                UpdateWindow();
            }
        }
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // WM_QUIT ends the dialog and goes on to the loop outside.
            if (got == 0)
                ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (m_hWnd == nullptr || !::IsDialogMessageW(m_hWnd, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

void CDialog::EndDialog(int nResult)
{
    if (m_hWnd == nullptr)
        return;
    m_nModalResult = nResult;
    m_bModalEnded = true;
    // Wakes the loop, which may be waiting for a message.
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode)
{
    if (CWnd::OnCmdMsg(nID, nCode))
        return TRUE;
    CWinApp* pApp = AfxGetApp();
    return pApp != nullptr && pApp->OnCmdMsg(nID, nCode);
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd == nullptr)
        rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd);
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND hWndControl = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (hWndControl == nullptr)
        return;
    if (pDX->m_bSaveAndValidate)
        CWnd::FromHandle(hWndControl)->GetWindowText(value);
    else
        ::SetWindowTextW(hWndControl, value.GetString());
}
