// The program's application object: the one global object with a constructor.
#include "ui/VelmoraApp.h"

#include "ui/VelmoraDlg.h"

#include <commctrl.h>

BEGIN_MESSAGE_MAP(CVelmoraApp, CWinApp)
// The program has no help file: the help command shows nothing and asks for none.
ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CVelmoraApp::CVelmoraApp()
{
    m_dwRestartManagerSupportFlags = AFX_RESTART_MANAGER_SUPPORT_RESTART;
}

CVelmoraApp::~CVelmoraApp() = default;

BOOL CVelmoraApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = 0xFF; // every class of the Windows 95 set
    ::InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    CShellManager* pShellManager = new CShellManager;
    SetRegistryKey(L"Local AppWizard-Generated Applications");
    {
        CVelmoraDlg dialog;
        m_pMainWnd = &dialog;
        dialog.DoModal();
        m_pMainWnd = nullptr;
    }
    delete pShellManager;
    return FALSE;
}

CVelmoraApp theApp;
