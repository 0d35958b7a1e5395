// The column-state string: the stored text of a list's layout, written and read byte for byte.
#include "list_fixture.h"

namespace {

// Two columns: A shown 80 wide, B hidden with a remembered width of 35, sorted ascending by A.
const wchar_t kTwoColumns[] = L"26,2,0,0,0,1,0,0,0,1,80,0,0,0,0,0,0,0,0,35,0,0,0,1,0,0,0";
// Three columns sorted descending by B; A (80) and B (90) shown at positions 0 and 2, C hidden
// (35) at position 1.
const wchar_t kThreeColumns[] =
    L"35,3,0,0,0,254,255,255,255,1,80,0,0,0,0,0,0,0,1,90,0,0,0,2,0,0,0,0,35,0,0,0,1,0,0,0";

class ColumnState : public ListTest<CListCtrlEx>
{
protected:
    void Columns(std::vector<int> widths)
    {
        for (size_t c = 0; c < widths.size(); ++c) {
            std::wstring name(1, static_cast<wchar_t>(L'A' + c));
            ASSERT_EQ(list.InsertColumn(static_cast<int>(c), name.c_str(), LVCFMT_LEFT, widths[c]),
                      static_cast<int>(c));
            if (c > 0)
                list.SetColumnHideable(static_cast<int>(c), true);
        }
        list.InsertItem(0, L"row");
    }
    std::wstring State() { return list.GetColumnStateString().GetString(); }
};

TEST_F(ColumnState, TheWrittenTextsAreByteForByteTheStoredFormat)
{
    Columns({80, 35});
    list.SetSortColumn(1);
    list.ShowColumn(1, false);
    EXPECT_EQ(State(), kTwoColumns);
}

TEST_F(ColumnState, ReadingATextAppliesTheWholeLayout)
{
    Columns({50, 50, 50});
    ASSERT_TRUE(list.SetColumnStateString(kThreeColumns));
    EXPECT_EQ(State(), kThreeColumns) << "the layout read is written back byte for byte";
    EXPECT_EQ(list.GetSortColumn(), -2);
    EXPECT_FALSE(list.IsColumnShown(2));
    EXPECT_EQ(list.GetColumnWidth(0), 80);
    EXPECT_EQ(list.GetColumnWidth(1), 90);
    EXPECT_EQ(OrderArray(3), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(HeaderOrder(), (std::vector<int>{0, 1})) << "the control holds A and B in that order";

    // Spaces around numbers and doubled commas still read; values beyond a byte give their low bits.
    ASSERT_TRUE(list.SetColumnStateString(
        L" 35, 3,,0,0,0,2,0,0,0,1,80,0,0,0,0,0,0,0,1,346,0,0,0,1,0,0,0,1,35,0,0,0,2,0,0,0"));
    EXPECT_EQ(list.GetSortColumn(), 2);
    EXPECT_TRUE(list.IsColumnShown(2));
    EXPECT_EQ(list.GetColumnWidth(1), 90);
    EXPECT_EQ(OrderArray(3), (std::vector<int>{0, 1, 2}));
}

TEST_F(ColumnState, AColumnThatCannotBeHiddenStaysShown)
{
    Columns({80, 35});
    // Column 0 marked hidden.
    ASSERT_TRUE(list.SetColumnStateString(L"26,2,0,0,0,1,0,0,0,0,80,0,0,0,0,0,0,0,1,35,0,0,0,1,0,0,0"));
    EXPECT_TRUE(list.IsColumnShown(0));
    EXPECT_EQ(State(), L"26,2,0,0,0,1,0,0,0,1,80,0,0,0,0,0,0,0,1,35,0,0,0,1,0,0,0");
}

TEST_F(ColumnState, ABadTextChangesNothing)
{
    Columns({60, 70, 80});
    std::vector<int> order = {2, 0, 1};
    list.SetColumnOrderArray(3, order.data());
    list.ShowColumn(1, false);
    list.SetSortColumn(2);
    const std::wstring before = State();
    const std::vector<int> headerBefore = HeaderOrder();
    const wchar_t* bad[] = {
        L"",
        L"0",
        L"x",
        L"35,3,0,0,0,1,0,0,0", // too few values
        kTwoColumns,           // another column count
        L"35,2,0,0,0,1,0,0,0,1,80,0,0,0,0,0,0,0,1,90,0,0,0,1,0,0,0,1,35,0,0,0,2,0,0,0", // count 2 in a
                                                                                        // 35-byte record
        L"35,3,0,0,0,4,0,0,0,1,80,0,0,0,0,0,0,0,1,90,0,0,0,1,0,0,0,1,35,0,0,0,2,0,0,0", // sort 4 of 3 columns
        L"35,3,0,0,0,252,255,255,255,1,80,0,0,0,0,0,0,0,1,90,0,0,0,1,0,0,0,1,35,0,0,0,2,0,0,0", // sort -4
        L"35,3,0,0,0,0,0,0,128,1,80,0,0,0,0,0,0,0,1,90,0,0,0,1,0,0,0,1,35,0,0,0,2,0,0,0",       // the lowest
                                                                                                // integer
        L"35,3,0,0,0,1,0,0,0,1,80,0,0,0,0,0,0,0,1,90,0,0,0,1,0,0,0,1,35,0,0,0,3,0,0,0",         // position 3
        L"35,3,0,0,0,1,0,0,0,1,80,0,0,0,0,0,0,0,1,90,0,0,0,255,255,255,255,1,35,0,0,0,2,0,0,0", // position -1
        L"35,3,0,0,0,1,0,0,0,1,80,0,0,0,0,0,0,0,1,90,0,0,0,0,0,0,0,1,35,0,0,0,2,0,0,0", // position 0 twice
        L"-1,5",
    };
    for (const wchar_t* text : bad) {
        EXPECT_FALSE(list.SetColumnStateString(text)) << text;
        EXPECT_EQ(State(), before) << text;
        EXPECT_EQ(HeaderOrder(), headerBefore) << text;
        EXPECT_EQ(list.GetSortColumn(), 2) << text;
    }
    const BYTE empty[1] = {0};
    EXPECT_FALSE(list.ApplyColumnState(empty, 0));
    EXPECT_FALSE(list.ApplyColumnState(nullptr, 35));
}

TEST_F(ColumnState, AListWithoutColumnsHasAnEmptyText)
{
    EXPECT_EQ(State(), L"");
    BYTE* pRecord = nullptr;
    EXPECT_FALSE(list.GetColumnState(&pRecord));
    EXPECT_EQ(pRecord, nullptr);
    EXPECT_FALSE(list.SetColumnStateString(L"8,0,0,0,0,0,0,0,0"));
}

} // namespace
