// CAboutDlg: the About box, opened from the main dialog's system menu.
#pragma once

#include "afx/afxdialogex.h"

class CAboutDlg : public CDialogEx
{
public:
    explicit CAboutDlg(CWnd* pParent = nullptr);
    ~CAboutDlg() override;

protected:
    DECLARE_MESSAGE_MAP()
};
