// The extended dialog of the class library layer: a dialog whose behaviour is that of CDialog.
#pragma once

#include "afx/afxwin.h"

class CDialogEx : public CDialog
{
public:
    explicit CDialogEx(UINT nIDTemplate, CWnd* pParent = nullptr) : CDialog(nIDTemplate, pParent) {}

    DECLARE_MESSAGE_MAP()
};
