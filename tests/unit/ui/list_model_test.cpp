// The column and row model of the list engine, through a real list-view control: callers name
// columns by logical index while the control holds only the shown ones.
#include "list_fixture.h"

namespace {

class ListModel : public ListTest<CListCtrlEx>
{
protected:
    // Columns A, B, C (and D), widths 60, 70, 80 (90); items "a<i>", "b<i>", ... with value 100 + i.
    void Fill(int columns, int items)
    {
        const wchar_t* names[] = {L"A", L"B", L"C", L"D"};
        for (int c = 0; c < columns; ++c) {
            ASSERT_EQ(list.InsertColumn(c, names[c], LVCFMT_LEFT, 60 + 10 * c), c);
            if (c > 0)
                list.SetColumnHideable(c, true);
        }
        for (int i = 0; i < items; ++i) {
            std::wstring first = L"a" + std::to_wstring(i);
            ASSERT_EQ(list.InsertItem(LVIF_TEXT | LVIF_PARAM, i, first.c_str(), 0, 0, 0, 100 + i), i);
            for (int c = 1; c < columns; ++c) {
                std::wstring text = std::wstring(1, static_cast<wchar_t>(L'a' + c)) + std::to_wstring(i);
                ASSERT_TRUE(list.SetItemText(i, c, text.c_str()));
            }
        }
    }
    // What the control itself holds at a physical column (its callbacks answered by the engine).
    std::wstring PhysicalText(int nItem, int nPhysical)
    {
        wchar_t buffer[64] = {};
        LVITEMW item = {};
        item.iSubItem = nPhysical;
        item.pszText = buffer;
        item.cchTextMax = 64;
        list.DefWindowProc(LVM_GETITEMTEXTW, nItem, reinterpret_cast<LPARAM>(&item));
        return buffer;
    }
    int HeaderCount() { return list.GetHeaderCtrl()->GetItemCount(); }
};

TEST_F(ListModel, AHiddenColumnIsReadByItsLogicalIndexAndComesBackAsChanged)
{
    Fill(3, 2);
    list.ShowColumn(1, false);
    EXPECT_EQ(HeaderCount(), 2);
    EXPECT_FALSE(list.IsColumnShown(1));
    // Logical column 2 is physical column 1 now.
    EXPECT_EQ(Text(0, 2), L"c0");
    EXPECT_EQ(PhysicalText(0, 1), L"c0");
    EXPECT_EQ(Text(1, 1), L"b1") << "the hidden column's texts are kept";
    EXPECT_EQ(list.GetColumnWidth(1), 0);

    wchar_t heading[16] = {};
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_ORDER | LVCF_SUBITEM;
    column.pszText = heading;
    column.cchTextMax = 16;
    ASSERT_TRUE(list.GetColumn(1, &column));
    EXPECT_STREQ(heading, L"B");
    EXPECT_EQ(column.cx, 70) << "the width it had when it was hidden";
    EXPECT_EQ(column.iOrder, 1);
    EXPECT_EQ(column.iSubItem, 1);

    LVITEMW item = {};
    wchar_t buffer[16] = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = 1;
    item.iSubItem = 1;
    item.pszText = buffer;
    item.cchTextMax = 16;
    ASSERT_TRUE(list.GetItem(&item));
    EXPECT_STREQ(buffer, L"b1");
    EXPECT_EQ(item.lParam, 101) << "the caller's value, never the engine's row";

    // Changed while hidden, shown again: the new width and texts, back in its place.
    ASSERT_TRUE(list.SetItemText(1, 1, L"set while hidden"));
    ASSERT_TRUE(list.SetColumnWidth(1, 44)) << "a hidden column remembers a new width";
    list.ShowColumn(1, true);
    EXPECT_EQ(HeaderCount(), 3);
    EXPECT_EQ(list.GetColumnWidth(1), 44);
    EXPECT_EQ(ColumnTexts(1), (std::vector<std::wstring>{L"b0", L"set while hidden"}));
    EXPECT_EQ(PhysicalText(1, 1), L"set while hidden");
    EXPECT_EQ(PhysicalText(1, 2), L"c1");
    EXPECT_EQ(OrderArray(3), (std::vector<int>{0, 1, 2}));
}

TEST_F(ListModel, DeletingColumnsKeepsTheSortedColumnOrClearsIt)
{
    Fill(4, 2);
    list.SetSortColumn(-3); // descending by C
    ASSERT_TRUE(list.DeleteColumn(0));
    EXPECT_EQ(list.GetSortColumn(), -2) << "still C, now logical column 1";
    EXPECT_EQ(Text(0, 0), L"b0");
    EXPECT_EQ(Text(0, 1), L"c0");
    EXPECT_EQ(Text(1, 2), L"d1");
    ASSERT_TRUE(list.DeleteColumn(2)); // D, after the sorted column
    EXPECT_EQ(list.GetSortColumn(), -2);
    ASSERT_TRUE(list.DeleteColumn(1)); // C itself
    EXPECT_EQ(list.GetSortColumn(), 0);
    EXPECT_EQ(list.GetColumnCount(), 1);
    EXPECT_FALSE(list.DeleteColumn(5));

    // A hidden column can be deleted too; the positions close up.
    Fill(0, 0);
    list.InsertColumn(1, L"X", LVCFMT_LEFT, 30);
    list.InsertColumn(2, L"Y", LVCFMT_LEFT, 30);
    list.SetColumnHideable(1, true);
    list.ShowColumn(1, false);
    ASSERT_TRUE(list.DeleteColumn(1));
    EXPECT_EQ(OrderArray(2), (std::vector<int>{0, 1}));
    EXPECT_EQ(HeaderCount(), 2);
}

TEST_F(ListModel, InsertingAColumnShiftsCellsPositionsAndTheSortColumn)
{
    Fill(2, 2);
    list.SetSortColumn(2);
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_ORDER;
    column.pszText = const_cast<LPWSTR>(L"N");
    column.cx = 40;
    column.iOrder = 0; // shown first
    ASSERT_EQ(list.InsertColumn(1, &column), 1);
    EXPECT_EQ(list.GetSortColumn(), 3);
    EXPECT_EQ(Text(0, 2), L"b0");
    EXPECT_EQ(Text(0, 1), L"");
    EXPECT_EQ(OrderArray(3), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{1, 0, 2}));
    EXPECT_EQ(list.InsertColumn(9, L"far", LVCFMT_LEFT, 10), -1);
}

TEST_F(ListModel, OrderArraysCoverHiddenColumns)
{
    Fill(4, 1);
    list.ShowColumn(1, false);
    std::vector<int> order = {3, 1, 0, 2};
    ASSERT_TRUE(list.SetColumnOrderArray(4, order.data()));
    EXPECT_EQ(OrderArray(4), order);
    // The control holds the shown columns 0, 2, 3 as physical 0, 1, 2, shown as D, A, C.
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{2, 0, 1}));
    list.ShowColumn(1, true);
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{3, 1, 0, 2}));
    EXPECT_EQ(Text(0, 3), L"d0");

    // A short array places its columns first; the others keep their order behind them.
    std::vector<int> front = {2, 0};
    ASSERT_TRUE(list.SetColumnOrderArray(2, front.data()));
    EXPECT_EQ(OrderArray(4), (std::vector<int>{2, 0, 3, 1}));
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{2, 0, 3, 1}));
}

TEST_F(ListModel, BadOrderArraysChangeNothing)
{
    Fill(3, 1);
    std::vector<int> order = {2, 0, 1};
    ASSERT_TRUE(list.SetColumnOrderArray(3, order.data()));
    for (std::vector<int> bad : {std::vector<int>{0, 0, 1}, std::vector<int>{-1, 0, 1},
                                 std::vector<int>{0, 1, 3}, std::vector<int>{1, 2, 1}}) {
        EXPECT_FALSE(list.SetColumnOrderArray(3, bad.data()));
        EXPECT_EQ(OrderArray(3), order);
        EXPECT_EQ(HeaderOrder(), order);
    }
    EXPECT_FALSE(list.SetColumnOrderArray(0, order.data()));
    // A longer array is cut to the number of columns.
    std::vector<int> longer = {1, 2, 0, 7};
    EXPECT_TRUE(list.SetColumnOrderArray(4, longer.data()));
    EXPECT_EQ(OrderArray(3), (std::vector<int>{1, 2, 0}));
}

TEST_F(ListModel, SettingAColumnsOrderMovesItLikeADrag)
{
    Fill(4, 1);
    LVCOLUMNW column = {};
    column.mask = LVCF_ORDER;
    column.iOrder = 0;
    ASSERT_TRUE(list.SetColumn(2, &column));
    EXPECT_EQ(OrderArray(4), (std::vector<int>{2, 0, 1, 3}));
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{2, 0, 1, 3}));
    column.iOrder = 3;
    ASSERT_TRUE(list.SetColumn(2, &column));
    EXPECT_EQ(OrderArray(4), (std::vector<int>{0, 1, 3, 2}));
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{0, 1, 3, 2}));
}

TEST_F(ListModel, FindItemByValueUsesTheCallersValues)
{
    Fill(1, 4);
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = 102;
    EXPECT_EQ(list.FindItem(&find), 2);
    EXPECT_EQ(list.FindItem(&find, 2), -1) << "the search starts after the start item";
    find.flags = LVFI_PARAM | LVFI_WRAP;
    EXPECT_EQ(list.FindItem(&find, 2), 2);
    EXPECT_EQ(list.FindItem(&find, 3), 2);

    // The control's own item value is the engine's row, which is never found.
    LVITEMW raw = {};
    raw.mask = LVIF_PARAM;
    raw.iItem = 1;
    list.DefWindowProc(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&raw));
    EXPECT_NE(raw.lParam, 101);
    find.lParam = raw.lParam;
    EXPECT_EQ(list.FindItem(&find), -1);

    EXPECT_EQ(list.GetItemData(3), 103u);
    ASSERT_TRUE(list.SetItemData(3, 7));
    find.flags = LVFI_PARAM;
    find.lParam = 7;
    EXPECT_EQ(list.FindItem(&find), 3);
    EXPECT_EQ(Text(3, 0), L"a3") << "changing the value keeps the texts";

    // Other searches are the control's own.
    find.flags = LVFI_STRING;
    find.psz = L"a2";
    EXPECT_EQ(list.FindItem(&find), 2);
}

// A parent that answers the list's text callbacks, as the dialog would.
class CCallbackParent : public CWnd
{
public:
    std::vector<std::pair<int, LPARAM>> requests; // logical column and item value of each request

protected:
    afx_msg void OnGetDispInfo(NMHDR* pNMHDR, LRESULT*)
    {
        NMLVDISPINFOW* pInfo = reinterpret_cast<NMLVDISPINFOW*>(pNMHDR);
        requests.emplace_back(pInfo->item.iSubItem, pInfo->item.lParam);
        if ((pInfo->item.mask & LVIF_TEXT) && pInfo->item.pszText != nullptr) {
            std::wstring text = L"cb" + std::to_wstring(pInfo->item.iSubItem) + L"-" +
                                std::to_wstring(static_cast<long>(pInfo->item.lParam));
            lstrcpynW(pInfo->item.pszText, text.c_str(), pInfo->item.cchTextMax);
        }
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCallbackParent, CWnd)
ON_NOTIFY(LVN_GETDISPINFOW, 1005, &CCallbackParent::OnGetDispInfo)
END_MESSAGE_MAP()

TEST_F(ListModel, TextCallbacksAreAnsweredByTheParentWithTheLogicalColumn)
{
    CCallbackParent parent;
    ASSERT_TRUE(
        parent.CreateEx(0, nullptr, L"", WS_CHILD | WS_VISIBLE, CRect(0, 0, 600, 400), &TestWindow(), 7));
    list.DestroyWindow();
    ASSERT_TRUE(CreateList(LVS_OWNERDRAWFIXED, &parent));
    Fill(3, 2);
    list.ShowColumn(1, false);
    ASSERT_TRUE(list.SetItemText(1, 2, LPSTR_TEXTCALLBACKW));
    parent.requests.clear();
    EXPECT_EQ(Text(1, 2), L"cb2-101");
    ASSERT_FALSE(parent.requests.empty());
    EXPECT_EQ(parent.requests.back(), std::make_pair(2, LPARAM(101)))
        << "the parent sees the logical column and its own item value";
    EXPECT_EQ(Text(0, 2), L"c0") << "kept texts are answered by the list itself";
    EXPECT_EQ(parent.requests.size(), 1u);
    list.DestroyWindow();
}

TEST_F(ListModel, ItemsWithoutAnEngineRowAreSafe)
{
    Fill(2, 1);
    // An item put into the control behind the engine's back carries a foreign value.
    LVITEMW foreign = {};
    foreign.mask = LVIF_TEXT | LVIF_PARAM;
    foreign.iItem = 1;
    foreign.pszText = const_cast<LPWSTR>(L"foreign");
    foreign.lParam = 0x12345678;
    ASSERT_EQ(list.DefWindowProc(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&foreign)), 1);
    EXPECT_EQ(list.GetItemData(1), 0u);
    EXPECT_FALSE(list.SetItemText(1, 1, L"x"));
    EXPECT_EQ(Text(1, 1), L"");
    EXPECT_FALSE(list.SetItemText(5, 0, L"no such item"));
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = -1;
    EXPECT_FALSE(list.GetItem(&item));
    item.iItem = 0;
    item.iSubItem = 2;
    EXPECT_FALSE(list.GetItem(&item)) << "no logical column 2";
    EXPECT_TRUE(list.DeleteAllItems());
    EXPECT_EQ(list.GetItemCount(), 0);
}

TEST_F(ListModel, TheHeaderMenuListsEveryColumn)
{
    Fill(3, 1);
    list.ShowColumn(2, false);
    CMenu menu;
    ASSERT_TRUE(list.CreateHeaderMenu(menu));
    ASSERT_EQ(menu.GetMenuItemCount(), 3);
    const wchar_t* names[] = {L"A", L"B", L"C"};
    for (int i = 0; i < 3; ++i) {
        CString text;
        menu.GetMenuString(i, text, MF_BYPOSITION);
        EXPECT_STREQ(text.GetString(), names[i]);
        EXPECT_EQ(menu.GetMenuItemID(i), static_cast<UINT>(i));
    }
    EXPECT_TRUE(menu.GetMenuState(0, MF_BYPOSITION) & MF_CHECKED);
    EXPECT_TRUE(menu.GetMenuState(0, MF_BYPOSITION) & MF_GRAYED) << "column 0 cannot be hidden";
    EXPECT_TRUE(menu.GetMenuState(1, MF_BYPOSITION) & MF_CHECKED);
    EXPECT_FALSE(menu.GetMenuState(1, MF_BYPOSITION) & MF_GRAYED);
    EXPECT_FALSE(menu.GetMenuState(2, MF_BYPOSITION) & MF_CHECKED) << "hidden";

    CMenu none;
    list.SetColumnHideable(1, false);
    list.SetColumnHideable(2, false);
    EXPECT_FALSE(list.CreateHeaderMenu(none)) << "no menu without a column that can be hidden";
}

TEST_F(ListModel, OnlyMenuCommandsToggleColumns)
{
    Fill(3, 1);
    // A control's notification with the id of a column is not a menu choice.
    list.SendMessage(WM_COMMAND, MAKEWPARAM(1, EN_CHANGE), reinterpret_cast<LPARAM>(TestWindow().m_hWnd));
    EXPECT_TRUE(list.IsColumnShown(1));
    list.SendMessage(WM_COMMAND, MAKEWPARAM(1, 1), 0); // accelerator
    EXPECT_TRUE(list.IsColumnShown(1));
    list.SendMessage(WM_COMMAND, MAKEWPARAM(1, 0), 0);
    EXPECT_FALSE(list.IsColumnShown(1));
    list.SendMessage(WM_COMMAND, MAKEWPARAM(1, 0), 0);
    EXPECT_TRUE(list.IsColumnShown(1));
    list.SendMessage(WM_COMMAND, MAKEWPARAM(0, 0), 0);
    EXPECT_TRUE(list.IsColumnShown(0));
}

TEST_F(ListModel, EndOfADragMovesTheColumnOnlyToAValidPlace)
{
    Fill(4, 1);
    list.ShowColumn(1, false); // shown: A, C, D as physical 0, 1, 2
    CHeaderCtrl* pHeader = list.GetHeaderCtrl();
    auto endDrag = [&](int physical, int order) {
        HDITEMW item = {};
        item.mask = HDI_ORDER;
        item.iOrder = order;
        NMHEADERW notify = {};
        notify.hdr.hwndFrom = pHeader->m_hWnd;
        notify.hdr.idFrom = static_cast<UINT_PTR>(pHeader->GetDlgCtrlID());
        notify.hdr.code = HDN_ENDDRAG;
        notify.iItem = physical;
        notify.pitem = &item;
        return list.SendMessage(WM_NOTIFY, notify.hdr.idFrom, reinterpret_cast<LPARAM>(&notify));
    };
    endDrag(2, 0); // D first
    EXPECT_EQ(OrderArray(4), (std::vector<int>{3, 0, 1, 2}));
    endDrag(2, 5); // no such place
    endDrag(2, -1);
    endDrag(7, 0); // no such column
    EXPECT_EQ(OrderArray(4), (std::vector<int>{3, 0, 1, 2}));
}

TEST_F(ListModel, DisabledRowsAreNeverSelected)
{
    Fill(2, 3);
    ASSERT_TRUE(list.SetItemState(1, LVIS_DISABLED, LVIS_DISABLED));
    EXPECT_EQ(list.GetItemState(1, LVIS_DISABLED), static_cast<UINT>(LVIS_DISABLED));
    list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED), 0u);
    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(list.GetItemState(0, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED)) << "other rows select";
    list.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED); // select all
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED), 0u);
    EXPECT_EQ(list.GetItemState(2, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));
    EXPECT_TRUE(list.SetItemText(1, 1, L"changed")) << "a disabled row's texts still change";
    EXPECT_EQ(Text(1, 1), L"changed");

    // A click on a disabled row neither selects nor focuses it.
    CRect row;
    list.GetItemRect(1, &row, LVIR_BOUNDS);
    list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(row.left + 20, row.CenterPoint().y));
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(row.left + 20, row.CenterPoint().y));
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED | LVIS_FOCUSED), 0u);

    ASSERT_TRUE(list.SetItemState(1, 0, LVIS_DISABLED)) << "enabling is allowed";
    list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));
}

TEST_F(ListModel, HitsOnAnOwnerDrawnRowAreTheLabelOrTheRow)
{
    Fill(2, 1);
    list.SetOwnerDrawn(true);
    CRect row;
    list.GetItemRect(0, &row, LVIR_BOUNDS);
    UINT flags = 0;
    EXPECT_EQ(list.HitTest(CPoint(30, row.CenterPoint().y), &flags), 0);
    EXPECT_EQ(flags, static_cast<UINT>(LVHT_ONITEMLABEL));
    EXPECT_EQ(list.HitTest(CPoint(90, row.CenterPoint().y), &flags), 0);
    EXPECT_EQ(flags, static_cast<UINT>(LVHT_ONITEM)) << "another column is the row as a whole";
}

TEST_F(ListModel, OneClickActivationUnderlinesTheHotRowWithTheHandCursor)
{
    Fill(2, 2);
    list.SetOwnerDrawn(true);
    const DWORD activation = LVS_EX_ONECLICKACTIVATE | LVS_EX_UNDERLINEHOT;
    list.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, activation | LVS_EX_FULLROWSELECT,
                     activation | LVS_EX_FULLROWSELECT);
    EXPECT_EQ(list.GetExtendedStyle() & activation, activation);
    EXPECT_EQ(list.DefWindowProc(LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & activation, 0)
        << "the owner-drawn list does the activation itself";
    CRect row;
    list.GetItemRect(1, &row, LVIR_BOUNDS);
    list.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(30, row.CenterPoint().y));
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_HAND));
    list.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(30, 280)); // below the rows
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_ARROW));

    // A style change without activation bits clears the list's cursor, which is then never set.
    list.SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_GRIDLINES, LVS_EX_GRIDLINES);
    list.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 280));
    list.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(30, 280));
    EXPECT_NE(::GetCursor(), nullptr);
}

TEST_F(ListModel, TheFirstSelectedRowTakesTheFocusWithTheList)
{
    Fill(1, 3);
    list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(0, LVIS_FOCUSED, LVIS_FOCUSED);
    list.SendMessage(WM_SETFOCUS, 0, 0);
    EXPECT_EQ(list.GetItemState(2, LVIS_FOCUSED), static_cast<UINT>(LVIS_FOCUSED));
    list.SendMessage(WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(list.GetItemState(2, LVIS_FOCUSED), 0u);
}

TEST_F(ListModel, ADividerDoubleClickSizesAMovedFirstColumnToItsTexts)
{
    Fill(2, 2);
    list.SetOwnerDrawn(true);
    ASSERT_TRUE(list.SetItemText(1, 1, L"a much longer text than the others"));
    std::vector<int> order = {1, 0};
    ASSERT_TRUE(list.SetColumnOrderArray(2, order.data()));
    CHeaderCtrl* pHeader = list.GetHeaderCtrl();
    NMHEADERW notify = {};
    notify.hdr.hwndFrom = pHeader->m_hWnd;
    notify.hdr.idFrom = static_cast<UINT_PTR>(pHeader->GetDlgCtrlID());
    notify.hdr.code = HDN_DIVIDERDBLCLICKW;
    notify.iItem = 1; // column B, shown first
    list.SendMessage(WM_NOTIFY, notify.hdr.idFrom, reinterpret_cast<LPARAM>(&notify));
    const int widest = list.GetStringWidth(L"a much longer text than the others");
    EXPECT_GE(list.GetColumnWidth(1), widest + 8);
    EXPECT_LE(list.GetColumnWidth(1), widest + 40);
}

TEST_F(ListModel, TheCtrlKeyIsForgottenWhenTheListLosesTheFocus)
{
    Fill(3, 2);
    list.SetOwnerDrawn(true);
    std::vector<int> order = {1, 0, 2}; // physical column 0 is not shown first
    ASSERT_TRUE(list.SetColumnOrderArray(3, order.data()));
    const int before = list.GetColumnWidth(0);
    list.SendMessage(WM_KEYDOWN, VK_CONTROL, 0);
    list.SendMessage(WM_KILLFOCUS, 0, 0);
    list.SendMessage(WM_KEYDOWN, VK_ADD, 0);
    EXPECT_EQ(list.GetColumnWidth(0), before);
    list.SendMessage(WM_KEYDOWN, VK_CONTROL, 0);
    list.SendMessage(WM_KEYDOWN, VK_ADD, 0);
    EXPECT_NE(list.GetColumnWidth(0), before) << "Ctrl with keypad plus sizes the columns to their texts";
}

} // namespace
