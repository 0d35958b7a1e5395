// The main dialog's way to the gateway's stream table.
//
// The dialog names a stream by its row key (the stream's serial number), never by a pointer kept
// across a call: every operation finds the stream again in the table under the table's lock and does
// nothing when it has gone. So a stream deleted by the tick, or while a message box or another dialog
// ran its own message loop, is never used, and never mistaken for a new stream at the same address.
#pragma once

#include "afx/afxmt.h"
#include "ui/StreamRules.h"

#include <vector>

class CVelmoraManager;
class CVelmoraStream;

class CDialogStreamTable
{
public:
    virtual ~CDialogStreamTable() = default;

    // The stream-table lock (re-entrant on one thread).
    virtual CCriticalSection* GetLock() = 0;
    // The gateway's millisecond clock.
    virtual ULONGLONG GetNow() = 0;
    // Every stream, in table order.
    virtual void ReadStreams(std::vector<StreamFacts>& streams) = 0;
    // FALSE when the stream is no longer in the table.
    virtual BOOL ReadStream(DWORD key, StreamFacts& stream) = 0;
    // The wishes; switching on may be refused (with a message box unless quiet). FALSE when refused
    // or when the stream has gone.
    virtual BOOL SetSAPAdvertising(DWORD key, BOOL on, BOOL quiet) = 0;
    virtual BOOL SetBonjourAdvertising(DWORD key, BOOL on, BOOL quiet) = 0;
    virtual void SetRTSPWanted(DWORD key, BOOL on) = 0;
    // Withdraws the stream and deletes it; FALSE when it had gone.
    virtual BOOL RemoveStream(DWORD key) = 0;
    virtual void ChangeSDP(DWORD key, CMfxString sdp) = 0;
    // A log-pane line.
    virtual void AddLogText(COLORREF colour, CMfxString text) = 0;
};

// The command of a button on the selected streams, given by their keys (taken before anything is
// done): each stream still in the table that meets the button's condition is switched, or removed.
// Returns the number of streams switched or removed (a refused switch does not count), so that the
// caller can show the change at once.
int RunStreamCommand(CDialogStreamTable& table, StreamRules::Command command, const std::vector<DWORD>& keys);
// What the AUTO switches ask for one row, switched on quietly. TRUE when anything was switched on.
BOOL RunAutoActions(CDialogStreamTable& table, DWORD key, int autoActions);

// The stream table of the gateway manager.
class CManagerStreamTable : public CDialogStreamTable
{
public:
    explicit CManagerStreamTable(CVelmoraManager& manager) : m_Manager(manager) {}

    CCriticalSection* GetLock() override;
    ULONGLONG GetNow() override;
    void ReadStreams(std::vector<StreamFacts>& streams) override;
    BOOL ReadStream(DWORD key, StreamFacts& stream) override;
    BOOL SetSAPAdvertising(DWORD key, BOOL on, BOOL quiet) override;
    BOOL SetBonjourAdvertising(DWORD key, BOOL on, BOOL quiet) override;
    void SetRTSPWanted(DWORD key, BOOL on) override;
    BOOL RemoveStream(DWORD key) override;
    void ChangeSDP(DWORD key, CMfxString sdp) override;
    void AddLogText(COLORREF colour, CMfxString text) override;

    // What the dialog reads of a stream of the table (under the lock).
    static StreamFacts ReadFacts(CVelmoraStream& stream);

private:
    // The stream with the key, under the lock the caller holds; null when it has gone.
    CVelmoraStream* Find(DWORD key);

    CVelmoraManager& m_Manager;
};
