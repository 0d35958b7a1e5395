// CListBase: the column layout as a record of bytes and as text.
//
// Record (little-endian, packed, 8 + 9 x N bytes for N columns): N (unsigned 32-bit), the sort
// column (signed 32-bit), then per logical column: shown (1 byte), width (signed 32-bit), display
// position (signed 32-bit). The text is the record's length followed by each byte as ",%d".
// Texts written by one build are read by the next: the layout never changes.
#include "ui/ListBase.h"

#include <memory>
#include <vector>

namespace {

const int kHeaderBytes = 8;
const int kColumnBytes = 9;

void PutInt32(BYTE* p, int32_t value)
{
    uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(bits >> (8 * i));
}

int32_t GetInt32(const BYTE* p)
{
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<uint32_t>(p[i]) << (8 * i);
    return static_cast<int32_t>(bits);
}

} // namespace

bool CListBase::GetColumnState(BYTE** ppState, int* pLength)
{
    const int count = GetColumnCount();
    if (ppState == nullptr || count == 0)
        return false;
    const int length = kHeaderBytes + kColumnBytes * count;
    BYTE* pState = new BYTE[length];
    PutInt32(pState, count);
    PutInt32(pState + 4, m_nSortColumn);
    for (int i = 0; i < count; ++i) {
        const COLUMN_DATA& column = *m_columns[i];
        BYTE* p = pState + kHeaderBytes + kColumnBytes * i;
        p[0] = !column.bHideable ? 1 : column.bShown;
        PutInt32(p + 1, column.bShown ? m_pListCtrl->GetColumnWidth(i) : column.nWidth);
        PutInt32(p + 5, column.nPosition);
    }
    *ppState = pState;
    if (pLength != nullptr)
        *pLength = length;
    return true;
}

CMfxString CListBase::GetColumnStateString()
{
    CMfxString text;
    BYTE* pState = nullptr;
    int length = 0;
    if (!GetColumnState(&pState, &length))
        return text;
    std::unique_ptr<BYTE[]> owner(pState);
    text.Format(L"%d", length);
    for (int i = 0; i < length; ++i)
        text.AppendFormat(L",%d", static_cast<int>(pState[i]));
    return text;
}

bool CListBase::SetColumnStateString(CMfxString text)
{
    std::vector<int> values = SplitStringToIntegers(text, CMfxString(L","));
    if (values.empty() || values[0] < 0 || static_cast<size_t>(values[0]) + 1 != values.size() ||
        GetColumnCount() < 1)
        return false;
    // Only the low 8 bits of each value are used (256 gives 0, -1 gives 255).
    std::vector<BYTE> record(values.size() - 1);
    for (size_t j = 0; j < record.size(); ++j)
        record[j] = static_cast<BYTE>(values[j + 1] & 0xFF);
    return ApplyColumnState(record.data(), static_cast<int>(record.size()));
}

bool CListBase::ApplyColumnState(const BYTE* pState, int length)
{
    // The whole record is checked before anything changes.
    const int count = GetColumnCount();
    if (pState == nullptr || count < 1 || length != kHeaderBytes + kColumnBytes * count ||
        GetInt32(pState) != count)
        return false;
    const int32_t sortColumn = GetInt32(pState + 4);
    if (sortColumn < -count || sortColumn > count)
        return false;
    std::vector<bool> taken(count, false);
    for (int i = 0; i < count; ++i) {
        const int32_t position = GetInt32(pState + kHeaderBytes + kColumnBytes * i + 5);
        if (position < 0 || position >= count || taken[position])
            return false;
        taken[position] = true;
    }

    SetSortColumn(sortColumn);
    for (int i = 0; i < count; ++i) {
        const BYTE* p = pState + kHeaderBytes + kColumnBytes * i;
        const bool shown = p[0] != 0;
        if (shown != (m_columns[i]->bShown != 0) && m_columns[i]->bHideable)
            ShowColumn(i, shown);
        const int width = GetInt32(p + 1);
        m_pListCtrl->SendMessage(LVM_SETCOLUMNWIDTH, i, MAKELPARAM(width & 0xFFFF, 0));
        m_columns[i]->nPosition = GetInt32(p + 5);
    }
    std::vector<int> order(count);
    for (int i = 0; i < count; ++i)
        order[m_columns[i]->nPosition] = i;
    m_pListCtrl->SetColumnOrderArray(count, order.data());
    return true;
}
