// Shared pieces of the manager tests: a raw millisecond source the test drives, an owner dialog
// stand-in with real windows, and log-file reading.
#pragma once

#include "afx/afxplatform.h"
#include "gateway/VelmoraManager.h"
#include "test_support.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace manager_test {

// The raw millisecond source of the manager's clock.
extern DWORD g_rawMilliSec;
DWORD WINAPI RawMilliSec();

// A manager without owner (or with the stand-in below) on the raw source, clock at 0. Init is never
// called: it would bind the fixed RTSP port.
std::unique_ptr<CVelmoraManager> MakeManager(CVelmoraDlg* owner = nullptr);
// Moves the raw source on and runs one tick.
void Tick(CVelmoraManager& manager, DWORD milliseconds = 50);

// Stands in for the owner dialog: a message-only window that receives the refresh requests and one
// that plays the log pane, whose AddText records the lines. Installs the owner access while it lives.
class FakeOwner
{
public:
    FakeOwner();
    ~FakeOwner();
    CVelmoraDlg* AsOwner() { return reinterpret_cast<CVelmoraDlg*>(this); }
    // Refresh requests waiting in this thread's queue (taken out).
    int TakeRefreshRequests();
    void DestroyPane();
    void CreatePane();

    HWND window = nullptr;
    HWND pane = nullptr;
    std::vector<std::pair<std::wstring, COLORREF>> paneLines;
};

// A fresh folder under the temporary folder, for log files and settings probes.
std::wstring MakeTempFolder(const wchar_t* tag);
// Every line of every file in the folder, in file-name order, decoded from the ANSI code page.
std::vector<std::wstring> ReadLogLines(const std::wstring& folder);
// The log lines once one of them holds the text (the log file's writer thread writes late), or the
// lines as they are after five seconds.
std::vector<std::wstring> WaitForLogLine(const std::wstring& folder, const std::wstring& text);
// Points the manager's settings at an empty settings file named after settingsProbe.
void FreshSettings(CVelmoraManager& manager, const wchar_t* settingsProbe);
// Opens the manager's log file in the folder through its settings (file "<folder>\velmora_*.txt").
void OpenLogIn(CVelmoraManager& manager, const std::wstring& folder, const wchar_t* settingsProbe);

} // namespace manager_test
