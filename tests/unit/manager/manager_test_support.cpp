#include "manager_test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace manager_test {

DWORD g_rawMilliSec = 0;

DWORD WINAPI RawMilliSec()
{
    return g_rawMilliSec;
}

std::unique_ptr<CVelmoraManager> MakeManager(CVelmoraDlg* owner)
{
    std::unique_ptr<CVelmoraManager> manager(new CVelmoraManager(owner));
    manager->SetMilliSecSource(&RawMilliSec);
    manager->m_GuiThreadId = GetCurrentThreadId();
    return manager;
}

void Tick(CVelmoraManager& manager, DWORD milliseconds)
{
    g_rawMilliSec += milliseconds;
    manager.OnTimer();
}

namespace {

HWND MakeMessageWindow()
{
    return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

FakeOwner* Owner(CVelmoraDlg* owner)
{
    return reinterpret_cast<FakeOwner*>(owner);
}

HWND GetWindow(CVelmoraDlg* owner)
{
    return Owner(owner)->window;
}

HWND GetLogPaneWindow(CVelmoraDlg* owner)
{
    return Owner(owner)->pane;
}

void AddLogPaneText(CVelmoraDlg* owner, const CMfxString& line, COLORREF colour)
{
    Owner(owner)->paneLines.emplace_back(Text(line), colour);
}

const CVelmoraOwnerAccess kAccess = {&GetWindow, &GetLogPaneWindow, &AddLogPaneText};

} // namespace

FakeOwner::FakeOwner() : window(MakeMessageWindow()), pane(MakeMessageWindow())
{
    SetVelmoraOwnerAccess(&kAccess);
}

FakeOwner::~FakeOwner()
{
    SetVelmoraOwnerAccess(nullptr);
    TakeRefreshRequests();
    DestroyWindow(window);
    DestroyPane();
}

int FakeOwner::TakeRefreshRequests()
{
    int count = 0;
    MSG message;
    while (PeekMessageW(&message, window, WM_COMMAND, WM_COMMAND, PM_REMOVE)) {
        if (message.wParam == MAKEWPARAM(kRefreshCommand, 0) && message.lParam == 0) {
            ++count;
        }
    }
    return count;
}

void FakeOwner::DestroyPane()
{
    if (pane != nullptr) {
        DestroyWindow(pane);
    }
}

void FakeOwner::CreatePane()
{
    pane = MakeMessageWindow();
}

std::wstring MakeTempFolder(const wchar_t* tag)
{
    static std::atomic<int> counter{0};
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"manager_test_" + std::to_wstring(GetCurrentProcessId()) +
                          L"_" + tag + L"_" + std::to_wstring(counter++);
    // Wine reuses process ids, so a folder of an earlier run may already exist: start it empty.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW((folder + L"\\" + found.cFileName).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::vector<std::wstring> ReadLogLines(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*.txt").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> lines;
    for (const std::wstring& name : names) {
        const std::string bytes = ReadBytes((folder + L"\\" + name).c_str());
        const std::wstring text = Text(CMfxString(bytes.data(), static_cast<int>(bytes.size())));
        size_t start = 0;
        for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
            lines.push_back(text.substr(start, end - start));
        }
    }
    return lines;
}

std::vector<std::wstring> WaitForLogLine(const std::wstring& folder, const std::wstring& text)
{
    std::vector<std::wstring> lines;
    for (int waited = 0; waited <= 5000; waited += 10) {
        lines = ReadLogLines(folder);
        for (const std::wstring& line : lines) {
            if (line.find(text) != std::wstring::npos) {
                return lines;
            }
        }
        Sleep(10);
    }
    return lines;
}

void FreshSettings(CVelmoraManager& manager, const wchar_t* settingsProbe)
{
    const CMfxString program = CMfxString(L"C:\\probe\\") + settingsProbe + L".exe";
    manager.m_Settings.InitLocal(program);
    DeleteFileW(manager.m_Settings.GetLocalSettingsFile().GetString());
    manager.m_Settings.InitLocal(program);
}

void OpenLogIn(CVelmoraManager& manager, const std::wstring& folder, const wchar_t* settingsProbe)
{
    FreshSettings(manager, settingsProbe);
    manager.m_Settings.WriteString(SettingsKey::kLogDirectory, folder.c_str());
    manager.m_Settings.WriteString(SettingsKey::kLogFilename, L"velmora");
    manager.m_Settings.WriteString(SettingsKey::kLogDeleteOld, L"0");
    manager.ReadSettings();
}

} // namespace manager_test
