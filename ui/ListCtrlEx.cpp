// CListCtrlEx: routes the list control's messages into its CListBase part.
#include "ui/ListCtrlEx.h"

BEGIN_MESSAGE_MAP(CListCtrlEx, CListCtrl)
ON_WM_SYSCOLORCHANGE()
ON_WM_ERASEBKGND()
ON_WM_HSCROLL()
ON_WM_KILLFOCUS()
ON_WM_SETFOCUS()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONDBLCLK()
ON_WM_KEYDOWN()
ON_WM_KEYUP()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONUP()
ON_WM_DESTROY()
ON_WM_CONTEXTMENU()
ON_MESSAGE(LVM_DELETEALLITEMS, &CListCtrlEx::OnDeleteAllItems)
ON_MESSAGE(LVM_DELETECOLUMN, &CListCtrlEx::OnDeleteColumn)
ON_MESSAGE(LVM_DELETEITEM, &CListCtrlEx::OnDeleteItem)
ON_MESSAGE(LVM_FINDITEMW, &CListCtrlEx::OnFindItem)
ON_MESSAGE(LVM_GETCOLUMNW, &CListCtrlEx::OnGetColumn)
ON_MESSAGE(LVM_GETCOLUMNORDERARRAY, &CListCtrlEx::OnGetColumnOrderArray)
ON_MESSAGE(LVM_GETCOLUMNWIDTH, &CListCtrlEx::OnGetColumnWidth)
ON_MESSAGE(LVM_GETEXTENDEDLISTVIEWSTYLE, &CListCtrlEx::OnGetExtendedStyle)
ON_MESSAGE(LVM_GETITEMW, &CListCtrlEx::OnGetItem)
ON_MESSAGE(LVM_GETITEMTEXTW, &CListCtrlEx::OnGetItemText)
ON_MESSAGE(LVM_HITTEST, &CListCtrlEx::OnHitTest)
ON_MESSAGE(LVM_INSERTCOLUMNW, &CListCtrlEx::OnInsertColumn)
ON_MESSAGE(LVM_INSERTITEMW, &CListCtrlEx::OnInsertItem)
ON_MESSAGE(LVM_SETBKCOLOR, &CListCtrlEx::OnSetBkColor)
ON_MESSAGE(LVM_SETCOLUMNW, &CListCtrlEx::OnSetColumn)
ON_MESSAGE(LVM_SETCOLUMNORDERARRAY, &CListCtrlEx::OnSetColumnOrderArray)
ON_MESSAGE(LVM_SETCOLUMNWIDTH, &CListCtrlEx::OnSetColumnWidth)
ON_MESSAGE(LVM_SETEXTENDEDLISTVIEWSTYLE, &CListCtrlEx::OnSetExtendedStyle)
ON_MESSAGE(LVM_SETIMAGELIST, &CListCtrlEx::OnSetImageList)
ON_MESSAGE(LVM_SETITEMW, &CListCtrlEx::OnSetItem)
ON_MESSAGE(LVM_SETITEMTEXTW, &CListCtrlEx::OnSetItemText)
ON_MESSAGE(LVM_SORTITEMS, &CListCtrlEx::OnSortItems)
ON_NOTIFY_REFLECT(NM_CUSTOMDRAW, &CListCtrlEx::OnCustomDraw)
ON_NOTIFY_REFLECT_EX(LVN_COLUMNCLICK, &CListCtrlEx::OnColumnClick)
ON_NOTIFY_REFLECT_EX(LVN_GETDISPINFOW, &CListCtrlEx::OnGetDispInfo)
ON_NOTIFY_REFLECT_EX(LVN_ITEMCHANGING, &CListCtrlEx::OnItemChanging)
END_MESSAGE_MAP()

CListCtrlEx::CListCtrlEx()
{
    m_pListCtrl = this;
}

CListCtrlEx::~CListCtrlEx()
{
    if (m_hWnd != nullptr)
        DestroyWindow();
}

BOOL CListCtrlEx::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (CListBase::OnCommand(wParam, lParam))
        return TRUE;
    return CListCtrl::OnCommand(wParam, lParam);
}

BOOL CListCtrlEx::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    const NMHDR* pNMHDR = reinterpret_cast<const NMHDR*>(lParam);
    if (pNMHDR->hwndFrom == reinterpret_cast<HWND>(DefWindowProc(LVM_GETHEADER, 0, 0)))
        return OnHeaderNotify(wParam, lParam, pResult);
    return CListCtrl::OnNotify(wParam, lParam, pResult);
}

void CListCtrlEx::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct)
{
    CListBase::DrawItem(lpDrawItemStruct);
}
