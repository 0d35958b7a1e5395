// CVelmoraApp: the application object. It starts the class library, runs the main dialog modally
// and ends the process when the dialog ends; there are no command-line options.
#pragma once

#include "afx/afxwin.h"

class CVelmoraApp : public CWinApp
{
public:
    CVelmoraApp();
    ~CVelmoraApp() override;

    // Runs the main dialog; FALSE, so the process ends with it instead of running a message loop.
    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
