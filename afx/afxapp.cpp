// The application object, the program's entry point and resource helpers.
#include "afx/afxwin.h"

#include <cwchar>

namespace {

CWinApp* g_pApp = nullptr;

wchar_t* CopyText(LPCWSTR text)
{
    size_t length = std::wcslen(text);
    wchar_t* copy = new wchar_t[length + 1];
    std::wmemcpy(copy, text, length + 1);
    return copy;
}

// String AFX_IDS_APP_TITLE, else the program file's name without folder and extension.
CString DefaultAppName()
{
    CString name;
    if (AfxLoadString(AFX_IDS_APP_TITLE, name))
        return name;
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = 0;
    const wchar_t* file = path;
    for (const wchar_t* p = path; *p != 0; ++p) {
        if (*p == L'\\' || *p == L'/')
            file = p + 1;
    }
    name = file;
    int dot = name.ReverseFind(L'.');
    if (dot > 0)
        name.Truncate(dot);
    return name;
}

} // namespace

BEGIN_MESSAGE_MAP(CWinApp, CCmdTarget)
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName)
{
    g_pApp = this;
    m_hInstance = ::GetModuleHandleW(nullptr);
    SetOwnedText(m_pszAppName, lpszAppName != nullptr ? lpszAppName : DefaultAppName().GetString());
}

CWinApp::~CWinApp()
{
    delete[] m_pszAppName;
    delete[] m_pszRegistryKey;
    if (g_pApp == this)
        g_pApp = nullptr;
}

void CWinApp::SetOwnedText(LPCWSTR& field, LPCWSTR text)
{
    delete[] field;
    field = text != nullptr ? CopyText(text) : nullptr;
}

int CWinApp::Run()
{
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void CWinApp::SetRegistryKey(LPCWSTR lpszRegistryKey)
{
    SetOwnedText(m_pszRegistryKey, lpszRegistryKey);
}

void CWinApp::SetRegistryKey(UINT nIDRegistryKey)
{
    CString key;
    AfxLoadString(nIDRegistryKey, key);
    SetRegistryKey(key.GetString());
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
    return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource));
}

HICON CWinApp::LoadIcon(LPCWSTR lpszResourceName) const
{
    return ::LoadIconW(AfxGetResourceHandle(), lpszResourceName);
}

HCURSOR CWinApp::LoadCursor(UINT nIDResource) const
{
    return ::LoadCursorW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource));
}

HCURSOR CWinApp::LoadStandardCursor(LPCWSTR lpszCursorName) const
{
    return ::LoadCursorW(nullptr, lpszCursorName);
}

HICON CWinApp::LoadStandardIcon(LPCWSTR lpszIconName) const
{
    return ::LoadIconW(nullptr, lpszIconName);
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CWnd* AfxGetMainWnd()
{
    return g_pApp != nullptr ? g_pApp->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_pApp != nullptr ? g_pApp->m_hInstance : ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    return AfxGetInstanceHandle();
}

LPCWSTR AfxGetAppName()
{
    if (g_pApp != nullptr && g_pApp->m_pszAppName != nullptr)
        return g_pApp->m_pszAppName;
    static const wchar_t* name = CopyText(DefaultAppName().GetString()); // kept for the process
    return name;
}

int AfxMessageBox(LPCWSTR lpszText, UINT nType, UINT /*nIDHelp*/)
{
    CWnd* pMainWnd = AfxGetMainWnd();
    return ::MessageBoxW(pMainWnd != nullptr ? pMainWnd->m_hWnd : nullptr, lpszText, AfxGetAppName(), nType);
}

BOOL AfxLoadString(UINT nID, CString& rString)
{
    // With a buffer size of 0 the function hands out the resource's own characters (not terminated).
    const wchar_t* text = nullptr;
    int length = ::LoadStringW(AfxGetResourceHandle(), nID, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr) {
        rString.Empty();
        return FALSE;
    }
    rString.SetString(text, length);
    return TRUE;
}

BOOL CStringT<wchar_t, StrTraitMFC<wchar_t>>::LoadString(UINT nID)
{
    return AfxLoadString(nID, *this);
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/, int /*nCmdShow*/)
{
    CWinApp* pApp = AfxGetApp();
    if (pApp == nullptr)
        return -1;
    pApp->m_hInstance = hInstance;
    if (!pApp->InitApplication() || !pApp->InitInstance()) {
        if (pApp->m_pMainWnd != nullptr && pApp->m_pMainWnd->m_hWnd != nullptr)
            pApp->m_pMainWnd->DestroyWindow();
        return pApp->ExitInstance();
    }
    return pApp->Run();
}

// The program's entry point lives beside the application object, so that every program with one
// links it.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR /*lpCmdLine*/, int nCmdShow)
{
    return AfxWinMain(hInstance, hPrevInstance, ::GetCommandLineW(), nCmdShow);
}
