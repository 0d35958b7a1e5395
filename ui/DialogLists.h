// The main dialog's three stream lists kept up to date with the stream table.
//
// A refresh reads the table once (ReadStreams copies what the lists need under the table's lock and
// releases it), then touches the lists without the lock, so the threads that share the table never
// wait for the lists. Each row remembers what it shows: rows whose texts and grey state are unchanged
// are not touched, and rows are reached through maps from the stream's key, never by walking a list,
// so a refresh costs in proportion to the rows that changed.
#pragma once

#include "ui/DialogStreamTable.h"
#include "ui/MfxListCtrl.h"
#include "ui/StreamRules.h"

#include <unordered_map>

class CDialogLists
{
public:
    CDialogLists(CMfxListCtrl& corvane, CMfxListCtrl& sap, CMfxListCtrl& local);

    CMfxListCtrl& List(StreamRules::ListId list);
    // Adds the columns of each list, their widths scaled from 96 to `dpi` dots per inch.
    void AddColumns(int dpi);
    // Brings the lists up to date with the table. A row whose stream has left the table, or no longer
    // passes its list's test (a heard stream fallen silent), goes; AUTO switches what it asks for.
    // Returns the number of rows added, changed or removed.
    int Refresh(CDialogStreamTable& table, const StreamRules::AutoSwitches& autoSwitches);

private:
    struct Row
    {
        int line = 0; // the row's number in its list
        std::vector<CMfxString> cells;
        bool enabled = true;
    };
    // Shows the plan in its row, creating the row when needed; TRUE when the list's order may have
    // changed (a new row, or a new text in the sort column).
    bool Apply(const StreamRules::RowPlan& plan);

    CMfxListCtrl* m_pLists[StreamRules::kListCount];
    std::unordered_map<DWORD, Row> m_Rows[StreamRules::kListCount];
};
