#include "ui/DialogLists.h"

#include <cstdlib>
#include <unordered_set>

namespace {

// A row's key in the list: the stream's serial number.
void* KeyPointer(DWORD key)
{
    return reinterpret_cast<void*>(static_cast<UINT_PTR>(key));
}

// More changed rows than this in one list are drawn together after the refresh.
const size_t kBulkRows = 16;

const StreamRules::ListId kLists[] = {StreamRules::kListCorvane, StreamRules::kListSap,
                                      StreamRules::kListLocal};

} // namespace

CDialogLists::CDialogLists(CMfxListCtrl& corvane, CMfxListCtrl& sap, CMfxListCtrl& local)
    : m_pLists{&corvane, &sap, &local}
{
}

CMfxListCtrl& CDialogLists::List(StreamRules::ListId list)
{
    return *m_pLists[list == StreamRules::kListSap || list == StreamRules::kListLocal
                         ? list
                         : StreamRules::kListCorvane];
}

void CDialogLists::AddColumns(int dpi)
{
    for (StreamRules::ListId list : kLists) {
        const std::vector<StreamRules::ColumnSpec>& columns = StreamRules::Columns(list);
        for (size_t i = 0; i < columns.size(); ++i)
            List(list).AddColumn(static_cast<int>(i), columns[i].stringId,
                                 ::MulDiv(columns[i].width, dpi, 96));
    }
}

bool CDialogLists::Apply(const StreamRules::RowPlan& plan)
{
    CMfxListCtrl& list = List(plan.list);
    const std::vector<StreamRules::ColumnSpec>& columns = StreamRules::Columns(plan.list);
    const int sortColumn = std::abs(list.GetSortColumn()) - 1;
    auto found = m_Rows[plan.list].find(plan.key);
    bool reordered = false;
    if (found == m_Rows[plan.list].end()) {
        Row row;
        row.line = list.NewLine(KeyPointer(plan.key));
        for (size_t i = 0; i < columns.size() && i < plan.cells.size(); ++i)
            list.AddCell(columns[i].stringId, row.line, plan.cells[i]);
        row.enabled = !plan.enabled; // set below
        found = m_Rows[plan.list].emplace(plan.key, row).first;
        reordered = true;
    } else {
        Row& row = found->second;
        for (size_t i = 0; i < columns.size() && i < plan.cells.size(); ++i) {
            if (i < row.cells.size() && row.cells[i] == plan.cells[i])
                continue;
            list.SetCell(columns[i].stringId, row.line, plan.cells[i]);
            reordered = reordered || static_cast<int>(i) == sortColumn;
        }
    }
    Row& row = found->second;
    row.cells = plan.cells;
    if (row.enabled != plan.enabled) {
        list.SetLineEnabled(row.line, plan.enabled ? TRUE : FALSE);
        row.enabled = plan.enabled;
    }
    return reordered;
}

int CDialogLists::Refresh(CDialogStreamTable& table, const StreamRules::AutoSwitches& autoSwitches)
{
    // The table's lock is held only inside these calls.
    std::vector<StreamFacts> streams;
    table.ReadStreams(streams);
    const ULONGLONG now = table.GetNow();

    // First what changes, without touching a list: the rows that go, the rows to show anew.
    std::unordered_set<DWORD> listed;
    listed.reserve(streams.size());
    for (const StreamFacts& stream : streams) {
        if (StreamRules::IsListed(stream, now))
            listed.insert(stream.key);
    }
    std::vector<DWORD> leaving[StreamRules::kListCount];
    for (StreamRules::ListId id : kLists) {
        for (const auto& row : m_Rows[id]) {
            if (listed.count(row.first) == 0)
                leaving[id].push_back(row.first);
        }
    }
    std::vector<StreamRules::RowPlan> plans[StreamRules::kListCount];
    for (const StreamFacts& stream : streams) {
        if (listed.count(stream.key) == 0)
            continue;
        StreamRules::RowPlan plan = StreamRules::PlanRow(stream, now, autoSwitches);
        // What AUTO switched on shows in the row now: nothing else may refresh the lists for long.
        StreamFacts switched;
        if (RunAutoActions(table, plan.key, plan.autoActions) && table.ReadStream(plan.key, switched))
            plan = StreamRules::PlanRow(switched, now, autoSwitches);
        if (plan.list == StreamRules::kListNone)
            continue;
        auto known = m_Rows[plan.list].find(plan.key);
        if (known != m_Rows[plan.list].end() && known->second.cells == plan.cells &&
            known->second.enabled == plan.enabled)
            continue;
        plans[plan.list].push_back(std::move(plan));
    }

    int changed = 0;
    for (StreamRules::ListId id : kLists) {
        const size_t count = leaving[id].size() + plans[id].size();
        if (count == 0)
            continue;
        changed += static_cast<int>(count);
        CMfxListCtrl& list = List(id);
        // Many changes at once are drawn once, at the end, not row by row.
        const bool bulk = count > kBulkRows;
        if (bulk)
            list.SetRedraw(FALSE);
        for (DWORD key : leaving[id]) {
            auto row = m_Rows[id].find(key);
            list.DeleteLine(row->second.line);
            m_Rows[id].erase(row);
        }
        bool reorder = false;
        for (const StreamRules::RowPlan& plan : plans[id])
            reorder = Apply(plan) || reorder;
        // List items are updated in place, so selected streams stay selected.
        list.UpdateFromTable();
        if (reorder)
            list.Sort();
        if (bulk) {
            list.SetRedraw(TRUE);
            list.Invalidate();
        }
    }
    return changed;
}
