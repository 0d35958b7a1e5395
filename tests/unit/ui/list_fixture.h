// A real list-view control in a visible window, bound to a list object, for the list tests.
#pragma once

#include "ui/MfxListCtrl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// String ids of the column headings (list_ctrl_test.rc).
enum : UINT
{
    IDS_STREAMNAME = 102,
    IDS_RTSP = 103,
    IDS_MULTICAST = 107,
    IDS_SOURCE = 108,
    IDS_COR = 109,
    IDS_SAP = 110,
    IDS_ORIGIN = 111
};

// The top-level window that holds the lists; one for the whole program.
CWnd& TestWindow();
// Lets the window system deliver what is pending (paint, posted messages).
void PumpMessages();

// Creates an owner-drawn report list (as the dialog's lists are) and binds the object to it.
template <class List> class ListTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(CreateList(LVS_OWNERDRAWFIXED)); }
    void TearDown() override
    {
        if (list.m_hWnd != nullptr)
            list.DestroyWindow();
        PumpMessages();
    }
    bool CreateList(DWORD extraStyle, CWnd* pParent = &TestWindow())
    {
        HWND hWnd = ::CreateWindowExW(
            0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS | extraStyle, 10, 10,
            500, 300, pParent->m_hWnd, reinterpret_cast<HMENU>(1005), nullptr, nullptr);
        return hWnd != nullptr && list.SubclassWindow(hWnd);
    }
    std::wstring Text(int nItem, int nColumn)
    {
        return std::wstring(list.GetItemText(nItem, nColumn).GetString());
    }
    // Column c's texts of all items, in list order.
    std::vector<std::wstring> ColumnTexts(int nColumn)
    {
        std::vector<std::wstring> texts;
        for (int i = 0; i < list.GetItemCount(); ++i)
            texts.push_back(Text(i, nColumn));
        return texts;
    }
    std::vector<int> OrderArray(int count)
    {
        std::vector<int> order(count, -1);
        list.GetColumnOrderArray(order.data(), count);
        return order;
    }
    // The header's own order of its items (physical columns).
    std::vector<int> HeaderOrder()
    {
        CHeaderCtrl* pHeader = list.GetHeaderCtrl();
        std::vector<int> order(pHeader->GetItemCount());
        pHeader->GetOrderArray(order.data(), static_cast<int>(order.size()));
        return order;
    }

    List list;
};
