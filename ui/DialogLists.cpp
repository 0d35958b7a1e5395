#include "ui/DialogLists.h"

#include <cstdlib>
#include <unordered_set>

namespace {

// A row's key in the list: the stream's serial number.
void* KeyPointer(DWORD key)
{
    return reinterpret_cast<void*>(static_cast<UINT_PTR>(key));
}

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

    int changed = 0;
    bool listChanged[StreamRules::kListCount] = {};
    bool reorder[StreamRules::kListCount] = {};

    // Rows of streams that left the table, or no longer pass their list's test, go.
    std::unordered_set<DWORD> listed;
    listed.reserve(streams.size());
    for (const StreamFacts& stream : streams) {
        if (StreamRules::IsListed(stream, now))
            listed.insert(stream.key);
    }
    for (StreamRules::ListId id : kLists) {
        for (auto row = m_Rows[id].begin(); row != m_Rows[id].end();) {
            if (listed.count(row->first) != 0) {
                ++row;
                continue;
            }
            List(id).DeleteLine(row->second.line);
            row = m_Rows[id].erase(row);
            listChanged[id] = true;
            ++changed;
        }
    }

    for (const StreamFacts& stream : streams) {
        if (listed.count(stream.key) == 0)
            continue;
        StreamRules::RowPlan plan = StreamRules::PlanRow(stream, now, autoSwitches);
        // What AUTO switched on shows in the row now: nothing else may refresh the lists for long.
        StreamFacts switched;
        if (RunAutoActions(table, plan.key, plan.autoActions) && table.ReadStream(plan.key, switched))
            plan = StreamRules::PlanRow(switched, now, autoSwitches);
        auto known = m_Rows[plan.list].find(plan.key);
        if (known != m_Rows[plan.list].end() && known->second.cells == plan.cells &&
            known->second.enabled == plan.enabled)
            continue;
        reorder[plan.list] = Apply(plan) || reorder[plan.list];
        listChanged[plan.list] = true;
        ++changed;
    }

    // List items are updated in place, so selected streams stay selected.
    for (StreamRules::ListId id : kLists) {
        if (!listChanged[id])
            continue;
        List(id).UpdateFromTable();
        if (reorder[id])
            List(id).Sort();
    }
    return changed;
}
