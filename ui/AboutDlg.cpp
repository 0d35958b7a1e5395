#include "ui/AboutDlg.h"

#include "res/resource.h"

BEGIN_MESSAGE_MAP(CAboutDlg, CDialogEx)
END_MESSAGE_MAP()

CAboutDlg::CAboutDlg(CWnd* pParent) : CDialogEx(IDD_ABOUTBOX, pParent) {}

CAboutDlg::~CAboutDlg() = default;
