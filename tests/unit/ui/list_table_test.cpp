// The table model of the stream lists: rows, cells, sort keys, disabled rows, sorting by the
// header and the selection text.
#include "list_fixture.h"

#include <thread>

namespace {

class TableList : public ListTest<CMfxListCtrl>
{
protected:
    void SetUp() override
    {
        ListTest<CMfxListCtrl>::SetUp();
        ASSERT_EQ(list.AddColumn(0, IDS_STREAMNAME, 80), 0);
        ASSERT_EQ(list.AddColumn(1, IDS_ORIGIN, 80), 1);
        ASSERT_EQ(list.AddColumn(2, IDS_MULTICAST, 90), 2);
        ASSERT_EQ(list.AddColumn(3, IDS_SAP, 35), 3);
    }
    // A row keyed by `key` with its four cells.
    int Row(void* key, const wchar_t* name, const wchar_t* origin, const wchar_t* multicast,
            const wchar_t* sap)
    {
        int line = list.NewLine(key);
        list.AddCell(IDS_STREAMNAME, line, name);
        list.AddCell(IDS_ORIGIN, line, origin);
        list.AddCell(IDS_MULTICAST, line, multicast);
        list.AddCell(IDS_SAP, line, sap);
        return line;
    }
    void ClickHeader(int physical)
    {
        CHeaderCtrl* pHeader = list.GetHeaderCtrl();
        CRect rect;
        pHeader->GetItemRect(physical, &rect);
        LPARAM point = MAKELPARAM(rect.CenterPoint().x, rect.CenterPoint().y);
        pHeader->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, point);
        pHeader->SendMessage(WM_LBUTTONUP, 0, point);
    }
    void* key1 = reinterpret_cast<void*>(0x1001);
    void* key2 = reinterpret_cast<void*>(0x1002);
    void* key3 = reinterpret_cast<void*>(0x1003);
};

TEST_F(TableList, RowNumbersCountOnFromTheHighest)
{
    EXPECT_EQ(list.NewLine(key1), 1);
    EXPECT_EQ(list.NewLine(key2), 2);
    EXPECT_EQ(list.NewLine(key3), 3);
    EXPECT_EQ(list.DeleteLine(2), 1);
    EXPECT_EQ(list.DeleteLine(2), 0);
    EXPECT_EQ(list.NewLine(key2), 4);
    EXPECT_EQ(list.FindLine(key2), 4);
    EXPECT_EQ(list.GetLineNumbers(), (std::vector<int>{1, 3, 4}));
    for (int line : list.GetLineNumbers())
        list.DeleteLine(line);
    EXPECT_EQ(list.NewLine(key1), 1);
}

TEST_F(TableList, TheListViewFollowsTheTable)
{
    int first = Row(key1, L"alpha", L"10.0.0.1", L"239.1.1.1", L"");
    Row(key2, L"beta", L"10.0.0.2", L"239.1.1.2", L"A");
    int noName = list.NewLine(key3); // a row without a cell in column 0 is never shown
    list.AddCell(IDS_ORIGIN, noName, L"10.0.0.3");
    list.UpdateFromTable();
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(Text(1, 2), L"239.1.1.2");
    EXPECT_EQ(list.GetItemKey(0), key1);
    EXPECT_EQ(list.GetItemKey(1), key2);
    EXPECT_EQ(list.GetItemKey(7), nullptr);

    EXPECT_EQ(list.SetCell(IDS_MULTICAST, first, L"239.9.9.9"), 1);
    EXPECT_EQ(Text(0, 2), L"239.9.9.9") << "a changed cell reaches its item at once";
    EXPECT_EQ(list.SetCell(IDS_SOURCE, first, L"x"), 0) << "no such column";
    EXPECT_EQ(list.SetCell(IDS_MULTICAST, 99, L"x"), 0) << "no such row";

    // The text the cell already shows changes nothing, not even the item.
    list.SetItemText(0, 2, L"written around the table");
    EXPECT_EQ(list.SetCell(IDS_MULTICAST, first, L"239.9.9.9"), 0);
    EXPECT_EQ(Text(0, 2), L"written around the table");

    // Updating again keeps the items (and their selection) in place, and leaves the items of
    // unchanged rows alone; a row changed by AddCell is written again.
    list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    list.UpdateFromTable();
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.GetItemState(1, LVIS_SELECTED), static_cast<UINT>(LVIS_SELECTED));
    EXPECT_EQ(Text(0, 2), L"written around the table");
    EXPECT_EQ(list.AddCell(IDS_ORIGIN, first, L"10.0.0.9"), 1);
    list.UpdateFromTable();
    EXPECT_EQ(Text(0, 2), L"239.9.9.9");
    EXPECT_EQ(Text(0, 1), L"10.0.0.9");

    // Sorted behind the table's back, the rows still reach their items.
    list.SetSortColumn(-1);
    list.SortItems(CMfxListCtrl::CompareFunc, reinterpret_cast<DWORD_PTR>(&list));
    EXPECT_EQ(list.GetItemKey(0), key2);
    EXPECT_EQ(list.SetCell(IDS_MULTICAST, first, L"239.7.7.7"), 1);
    EXPECT_EQ(Text(1, 2), L"239.7.7.7");

    EXPECT_EQ(list.DeleteLine(first), 1);
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemKey(0), key2);
    EXPECT_EQ(list.SetCell(IDS_MULTICAST, list.FindLine(key2), L"239.8.8.8"), 1);
    EXPECT_EQ(Text(0, 2), L"239.8.8.8");
}

TEST_F(TableList, CellsShowTrimmedTextWithSeparatorsAsSpaces)
{
    int line = Row(key1, L"  a\u00a6\u00a6\u00a6b  ", L"", L"", L"");
    list.UpdateFromTable();
    EXPECT_EQ(Text(0, 0), L"a   b");
    EXPECT_EQ(list.SetCell(IDS_STREAMNAME, line, L"a   b"), 0) << "that is the text it shows";
    EXPECT_EQ(list.AddCell(IDS_STREAMNAME, line, L"a   b"), 0);
    EXPECT_EQ(list.AddCell(IDS_STREAMNAME, line, L"c"), 1) << "no second cell: the text changes";
    list.UpdateFromTable();
    EXPECT_EQ(Text(0, 0), L"c");
}

TEST_F(TableList, SortKeysFoldCaseAndUmlauts)
{
    CTableLineItem cell(&list);
    for (const wchar_t* text : {L"\u00e4lpha", L"Alpha", L"ALPHA"}) {
        cell.SetText(text);
        EXPECT_STREQ(cell.m_SortKey.GetString(), L"ALPHA") << text;
    }
    cell.SetText(L"\u00c4\u00c4");
    EXPECT_STREQ(cell.m_SortKey.GetString(), L"A\u00c4") << "only the first of each is folded";
    cell.SetText(L"Stra\u00dfe");
    EXPECT_STREQ(cell.m_SortKey.GetString(), L"STRAsE");
    cell.SetText(L"gr\u00fcn \u00f6l");
    EXPECT_STREQ(cell.m_SortKey.GetString(), L"GRUN OL");

    Row(key1, L"Stra\u00dfe", L"", L"", L"");
    Row(key2, L"STRAZE", L"", L"", L"");
    Row(key3, L"\u00e4lpha", L"", L"", L"");
    list.UpdateFromTable();
    ASSERT_TRUE(list.SortItems(CMfxListCtrl::CompareFunc, reinterpret_cast<DWORD_PTR>(&list)));
    EXPECT_EQ(ColumnTexts(0), (std::vector<std::wstring>{L"\u00e4lpha", L"STRAZE", L"Stra\u00dfe"}));
}

TEST_F(TableList, EqualKeysAndMissingCellsCompareEqual)
{
    Row(key1, L"\u00e4lpha", L"x", L"", L"");
    int b = list.NewLine(key2);
    list.AddCell(IDS_STREAMNAME, b, L"ALPHA");
    list.UpdateFromTable();
    auto compare = [&](int item1, int item2) {
        return CMfxListCtrl::CompareFunc(static_cast<LPARAM>(list.GetItemData(item1)),
                                         static_cast<LPARAM>(list.GetItemData(item2)),
                                         reinterpret_cast<LPARAM>(&list));
    };
    EXPECT_EQ(compare(0, 1), 0);
    list.SetSortColumn(2); // Origin: the second row has no cell there
    EXPECT_EQ(compare(0, 1), 0);
    list.SetSortColumn(0);
    EXPECT_EQ(compare(0, 1), 0);
    EXPECT_EQ(CMfxListCtrl::CompareFunc(0x1234, 0x5678, reinterpret_cast<LPARAM>(&list)), 0)
        << "values that are no rows of the list";
}

TEST_F(TableList, AHeaderClickSortsBothWays)
{
    Row(key1, L"beta", L"3", L"", L"");
    Row(key2, L"alpha", L"1", L"", L"");
    Row(key3, L"gamma", L"2", L"", L"");
    list.UpdateFromTable();
    list.SortItems(CMfxListCtrl::CompareFunc, reinterpret_cast<DWORD_PTR>(&list));
    EXPECT_EQ(ColumnTexts(0), (std::vector<std::wstring>{L"alpha", L"beta", L"gamma"}));
    ClickHeader(0); // the sorted column: descending
    EXPECT_EQ(list.GetSortColumn(), -1);
    EXPECT_EQ(ColumnTexts(0), (std::vector<std::wstring>{L"gamma", L"beta", L"alpha"}));
    ClickHeader(0);
    EXPECT_EQ(list.GetSortColumn(), 1);
    EXPECT_EQ(ColumnTexts(0), (std::vector<std::wstring>{L"alpha", L"beta", L"gamma"}));
    ClickHeader(1); // another column: ascending by it
    EXPECT_EQ(list.GetSortColumn(), 2);
    EXPECT_EQ(ColumnTexts(0), (std::vector<std::wstring>{L"alpha", L"gamma", L"beta"}));
    list.ShowColumn(1, false);
    ClickHeader(1); // physical column 1 is logical column 2 now
    EXPECT_EQ(list.GetSortColumn(), 3);
}

TEST_F(TableList, KeysMoveTheFocusPastDisabledRows)
{
    // Rows 0..5; rows 0, 2, 3 and 5 are disabled.
    std::vector<int> lines;
    for (const wchar_t* name : {L"a", L"b", L"c", L"d", L"e", L"f"})
        lines.push_back(Row(nullptr, name, L"", L"", L""));
    for (int disabled : {0, 2, 3, 5})
        list.SetLineEnabled(lines[static_cast<size_t>(disabled)], FALSE);
    list.UpdateFromTable();
    struct Step
    {
        int from;
        UINT key;
        int to;
    };
    const Step steps[] = {
        {1, VK_DOWN, 4}, {4, VK_UP, 1},   {4, VK_DOWN, 4},  {1, VK_UP, 1},    {4, VK_HOME, 1},
        {1, VK_END, 4},  {1, VK_NEXT, 4}, {4, VK_PRIOR, 1}, {-1, VK_DOWN, 1}, {-1, VK_END, 4},
    };
    for (const Step& step : steps) {
        list.SetItemState(-1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        if (step.from >= 0)
            list.SetItemState(step.from, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        list.SendMessage(WM_KEYDOWN, step.key, 1);
        PumpMessages();
        const int focused = list.GetNextItem(-1, LVNI_FOCUSED);
        EXPECT_EQ(focused, step.to) << "key " << step.key << " from " << step.from;
        EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), step.to)
            << "key " << step.key << " from " << step.from;
        EXPECT_EQ(list.GetNextItem(step.to, LVNI_SELECTED), -1) << "one row selected";
    }
    list.SetLineEnabled(lines[0], TRUE);
    EXPECT_EQ(list.GetItemState(0, LVIS_DISABLED), 0u);
}

TEST_F(TableList, TheSelectionTextHasTheHeaderAndTheSelectedRows)
{
    Row(key1, L"alpha", L"10.0.0.1", L"239.1.1.1", L"A");
    Row(key2, L"beta", L"10.0.0.2", L"239.1.1.2", L"");
    Row(key3, L"gamma", L"10.0.0.3", L"239.1.1.3", L"W");
    list.UpdateFromTable();
    EXPECT_STREQ(list.GetSelectionText().GetString(), L"Streamname,Origin,Multicast,SAP");

    list.ShowColumn(1, false); // hidden columns are copied too
    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
    EXPECT_STREQ(list.GetSelectionText().GetString(), L"Streamname,Origin,Multicast,SAP\r\n"
                                                      L"alpha,10.0.0.1,239.1.1.1,A\r\n"
                                                      L"gamma,10.0.0.3,239.1.1.3,W");
}

TEST_F(TableList, CtrlCCopiesTheSelectionToTheClipboard)
{
    Row(key1, L"alpha", L"10.0.0.1", L"239.1.1.1", L"A");
    list.UpdateFromTable();
    list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();

    ::keybd_event(VK_CONTROL, 0, 0, 0);
    list.SendMessage(WM_KEYDOWN, 'C', 1);
    ::keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
    PumpMessages();

    EXPECT_EQ(::GetClipboardOwner(), list.m_hWnd) << "the list owns what it copied";
    ASSERT_TRUE(::OpenClipboard(nullptr));
    HANDLE hData = ::GetClipboardData(CF_UNICODETEXT);
    std::wstring copied = hData != nullptr ? static_cast<const wchar_t*>(::GlobalLock(hData)) : L"";
    if (hData != nullptr)
        ::GlobalUnlock(hData);
    ::CloseClipboard();
    EXPECT_EQ(copied, L"Streamname,Origin,Multicast,SAP\r\nalpha,10.0.0.1,239.1.1.1,A");

    // While another thread holds the clipboard open, nothing is copied (and the memory is freed).
    HANDLE opened = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        ::OpenClipboard(nullptr);
        ::SetEvent(opened);
        ::WaitForSingleObject(release, 10000);
        ::CloseClipboard();
    });
    ::WaitForSingleObject(opened, 10000);
    EXPECT_FALSE(list.CopySelectionToClipboard());
    ::SetEvent(release);
    holder.join();
    ::CloseHandle(opened);
    ::CloseHandle(release);
    EXPECT_TRUE(list.CopySelectionToClipboard());
}

} // namespace
