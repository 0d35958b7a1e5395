// Drives the program's main dialog from outside, the way an operator's mouse and keyboard do, for the
// end-to-end tests: it finds the window "CORVANE-2-SAP CONVERTER", clicks buttons and list rows,
// types into dialogs, presses keys, reads lists, check boxes, column widths and the window
// placement, and takes a picture of the window.
//
// Commands come one per line on standard input; each answer is zero or more lines and then "OK" or
// "ERROR <reason>". Arguments are separated by tabs; in texts "\r" and "\n" stand for the characters.
//   find-window <title> [timeout ms]  wait for a top-level window of the program (the main dialog
//                                   itself is then the one the other commands work on)
//   window-gone <title> [timeout]   wait until no top-level window has that title (the main
//                                   dialog's too: the program has ended its dialog)
//   click <id> [title]              click a button (of the main dialog or the titled window)
//   settext <title> <id> <text>     put text into an edit control (as pasting does)
//   check <id> / enabled <id>       a check box's state / whether a control is enabled
//   rows <list id>                  "row" lines: the cell texts of each item in the shown columns,
//                                   tab-separated, in column order (hidden columns left out)
//   count <list id>                 "count" and the number of rows
//   columns <list id>               "column" lines: each column's index and 1 when shown, 0 when hidden
//   togglecol <list id> <column>    show or hide a column, as the header's menu does
//   select <list id> <item>         click a list row (a plain click: it becomes the only selection)
//   dblclick <list id> <item>       double-click a list row
//   selected <list id>              "selected" lines with the selected items
//   colwidth <list id> <col> [w]    read (or set, then read) a column's width
//   rect <id>                       a control's rectangle in the dialog's client coordinates
//   placement                       the dialog's window placement, as the settings keep it
//   move <x> <y> <w> <h>            move and size the dialog
//   syscommand <maximize|restore|close|about>   what the caption's boxes and the system menu send
//   key <return|escape>             press a key in the focused control
//   screenshot <file.bmp>           the dialog as it is on screen (its part on the screen), 32-bit
//                                   top-down BMP
//   controls                        "control" lines: id and rectangle (client coordinates) of every
//                                   visible child window of the dialog, and a last "client" line
//   textsize <id> <height> <weight> <face>   "textsize", the width and height of a control's text
//                                   in that font (height in pixels, negative: of the characters),
//                                   and the text
#include "screen_capture.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kMainTitle[] = L"CORVANE-2-SAP CONVERTER";

HWND g_hMain = nullptr;

std::vector<std::wstring> Split(const std::wstring& line)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (true) {
        size_t tab = line.find(L'\t', start);
        parts.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos)
            return parts;
        start = tab + 1;
    }
}

std::wstring Unescape(const std::wstring& text)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && (text[i + 1] == L'r' || text[i + 1] == L'n')) {
            out += text[i + 1] == L'r' ? L'\r' : L'\n';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

void Say(const std::wstring& text)
{
    // UTF-8 lines on standard output.
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Memory inside the dialog's process, for the list-view messages that carry pointers.
class CRemoteBuffer
{
public:
    CRemoteBuffer(HWND hWnd, size_t size) : m_size(size)
    {
        DWORD processId = 0;
        GetWindowThreadProcessId(hWnd, &processId);
        m_hProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (m_hProcess != nullptr)
            m_pRemote = VirtualAllocEx(m_hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    }
    ~CRemoteBuffer()
    {
        if (m_pRemote != nullptr)
            VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
        if (m_hProcess != nullptr)
            CloseHandle(m_hProcess);
    }
    bool Valid() const { return m_pRemote != nullptr; }
    LPARAM Address(size_t offset = 0) const
    {
        return reinterpret_cast<LPARAM>(static_cast<BYTE*>(m_pRemote) + offset);
    }
    bool Write(const void* data, size_t size, size_t offset = 0)
    {
        return WriteProcessMemory(m_hProcess, static_cast<BYTE*>(m_pRemote) + offset, data, size, nullptr) !=
               FALSE;
    }
    bool Read(void* data, size_t size, size_t offset = 0)
    {
        return ReadProcessMemory(m_hProcess, static_cast<BYTE*>(m_pRemote) + offset, data, size, nullptr) !=
               FALSE;
    }

private:
    size_t m_size;
    HANDLE m_hProcess = nullptr;
    void* m_pRemote = nullptr;
};

HWND FindTopLevel(const wchar_t* title, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (true) {
        HWND hWnd = FindWindowW(nullptr, title);
        if (hWnd != nullptr && IsWindowVisible(hWnd))
            return hWnd;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(50);
    }
}

// The list's logical columns (hidden ones included), true where shown. The list answers column
// messages by logical index, hidden columns included, and gives a hidden column the width 0; its
// header holds only the shown ones.
std::vector<bool> ListColumns(HWND hList, CRemoteBuffer& remote)
{
    std::vector<bool> shown;
    for (int column = 0; column < 64; ++column) {
        LVCOLUMNW lvc = {};
        lvc.mask = LVCF_WIDTH;
        remote.Write(&lvc, sizeof(lvc));
        if (!SendMessageW(hList, LVM_GETCOLUMNW, static_cast<WPARAM>(column), remote.Address()))
            break;
        shown.push_back(SendMessageW(hList, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0) > 0);
    }
    return shown;
}

std::wstring ItemText(HWND hList, CRemoteBuffer& remote, int item, int subItem)
{
    const int chars = 1024;
    LVITEMW lvi = {};
    lvi.iSubItem = subItem;
    lvi.cchTextMax = chars;
    lvi.pszText = reinterpret_cast<LPWSTR>(remote.Address(sizeof(LVITEMW)));
    remote.Write(&lvi, sizeof(lvi));
    int length =
        static_cast<int>(SendMessageW(hList, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), remote.Address()));
    std::vector<wchar_t> text(chars + 1, 0);
    if (length > 0)
        remote.Read(text.data(), static_cast<size_t>(length < chars ? length : chars) * sizeof(wchar_t),
                    sizeof(LVITEMW));
    return std::wstring(text.data());
}

bool WriteBmp(const std::wstring& path, int width, int height, const std::vector<BYTE>& bgra)
{
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 32;
    info.biSizeImage = static_cast<DWORD>(bgra.size());
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + info.biSizeImage;
    FILE* out = _wfopen(path.c_str(), L"wb");
    if (out == nullptr)
        return false;
    std::fwrite(&file, sizeof(file), 1, out);
    std::fwrite(&info, sizeof(info), 1, out);
    std::fwrite(bgra.data(), 1, bgra.size(), out);
    return std::fclose(out) == 0;
}

bool Screenshot(const std::wstring& path)
{
    RedrawWindow(g_hMain, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    Sleep(700);
    // The part of the window on the screen: a capture reaching past the screen's edge gives nothing.
    RECT window, screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, rect;
    GetWindowRect(g_hMain, &window);
    if (!IntersectRect(&rect, &window, &screen))
        return false;
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC hScreen = GetDC(nullptr);
    const std::vector<BYTE> bgra = CaptureBgra(hScreen, rect.left, rect.top, width, height);
    ReleaseDC(nullptr, hScreen);
    return WriteBmp(path, width, height, bgra);
}

std::wstring Number(long value)
{
    return std::to_wstring(value);
}

// Runs one command; returns the error text, empty on success.
std::wstring Run(const std::vector<std::wstring>& args)
{
    const std::wstring& name = args[0];
    auto arg = [&](size_t i) -> std::wstring { return i < args.size() ? args[i] : std::wstring(); };
    auto number = [&](size_t i, long fallback) -> long {
        return i < args.size() && !args[i].empty() ? std::wcstol(args[i].c_str(), nullptr, 10) : fallback;
    };
    if (name == L"find-window") {
        HWND hWnd = FindTopLevel(arg(1).c_str(), static_cast<DWORD>(number(2, 10000)));
        if (arg(1) == kMainTitle)
            g_hMain = hWnd;
        return hWnd != nullptr ? L"" : L"no such window";
    }
    if (name == L"window-gone") {
        const DWORD start = GetTickCount();
        while (FindWindowW(nullptr, arg(1).c_str()) != nullptr) {
            if (GetTickCount() - start > static_cast<DWORD>(number(2, 10000)))
                return L"the window is still there";
            Sleep(50);
        }
        return L"";
    }
    if (g_hMain == nullptr || !IsWindow(g_hMain))
        return L"no main dialog (find-window it first)";
    HWND hOwner = args.size() > 2 && name == L"click" ? FindWindowW(nullptr, arg(2).c_str()) : g_hMain;
    HWND hControl =
        hOwner != nullptr && args.size() > 1 ? GetDlgItem(hOwner, static_cast<int>(number(1, 0))) : nullptr;

    if (name == L"click") {
        if (hControl == nullptr)
            return L"no such control";
        PostMessageW(hControl, BM_CLICK, 0, 0);
        return L"";
    }
    if (name == L"settext") {
        HWND hWindow = FindWindowW(nullptr, arg(1).c_str());
        HWND hEdit = hWindow != nullptr ? GetDlgItem(hWindow, static_cast<int>(number(2, 0))) : nullptr;
        if (hEdit == nullptr)
            return L"no such edit";
        std::wstring text = Unescape(arg(3));
        SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        return L"";
    }
    if (name == L"check" || name == L"enabled") {
        if (hControl == nullptr)
            return L"no such control";
        Say(name + L"\t" +
            Number(name == L"check" ? static_cast<long>(SendMessageW(hControl, BM_GETCHECK, 0, 0))
                                    : IsWindowEnabled(hControl)));
        return L"";
    }
    if (name == L"rows" || name == L"count" || name == L"columns" || name == L"togglecol" ||
        name == L"select" || name == L"dblclick" || name == L"selected" || name == L"colwidth") {
        if (hControl == nullptr)
            return L"no such list";
        if (name == L"colwidth") {
            if (args.size() > 3)
                SendMessageW(hControl, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(number(2, 0)),
                             MAKELPARAM(number(3, 0), 0));
            Say(L"width\t" + Number(static_cast<long>(SendMessageW(hControl, LVM_GETCOLUMNWIDTH,
                                                                   static_cast<WPARAM>(number(2, 0)), 0))));
            return L"";
        }
        if (name == L"count") {
            Say(L"count\t" + Number(static_cast<long>(SendMessageW(hControl, LVM_GETITEMCOUNT, 0, 0))));
            return L"";
        }
        if (name == L"togglecol") {
            // The header menu's command for a column: shows or hides it.
            SendMessageW(hControl, WM_COMMAND, static_cast<WPARAM>(number(2, 0)), 0);
            return L"";
        }
        if (name == L"selected") {
            for (int item = static_cast<int>(
                     SendMessageW(hControl, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
                 item != -1; item = static_cast<int>(SendMessageW(hControl, LVM_GETNEXTITEM,
                                                                  static_cast<WPARAM>(item), LVNI_SELECTED)))
                Say(L"selected\t" + Number(item));
            return L"";
        }
        CRemoteBuffer remote(hControl, sizeof(LVITEMW) + 2048 * sizeof(wchar_t));
        if (!remote.Valid())
            return L"cannot reach the dialog's memory";
        if (name == L"rows" || name == L"columns") {
            const std::vector<bool> shown = ListColumns(hControl, remote);
            if (name == L"columns") {
                for (size_t column = 0; column < shown.size(); ++column)
                    Say(L"column\t" + Number(static_cast<long>(column)) + L"\t" +
                        Number(shown[column] ? 1 : 0));
                return L"";
            }
            const int items = static_cast<int>(SendMessageW(hControl, LVM_GETITEMCOUNT, 0, 0));
            for (int item = 0; item < items; ++item) {
                std::wstring line = L"row";
                for (size_t column = 0; column < shown.size(); ++column) {
                    if (shown[column])
                        line += L"\t" + ItemText(hControl, remote, item, static_cast<int>(column));
                }
                Say(line);
            }
            return L"";
        }
        // select and dblclick: left clicks in the middle of the row's first column.
        RECT bounds = {};
        bounds.left = LVIR_LABEL;
        remote.Write(&bounds, sizeof(bounds));
        if (!SendMessageW(hControl, LVM_GETITEMRECT, static_cast<WPARAM>(number(2, 0)), remote.Address()))
            return L"no such row";
        remote.Read(&bounds, sizeof(bounds));
        const LPARAM point = MAKELPARAM(bounds.left + 5, (bounds.top + bounds.bottom) / 2);
        PostMessageW(hControl, WM_LBUTTONDOWN, MK_LBUTTON, point);
        PostMessageW(hControl, WM_LBUTTONUP, 0, point);
        if (name == L"dblclick") {
            PostMessageW(hControl, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
            PostMessageW(hControl, WM_LBUTTONUP, 0, point);
        }
        return L"";
    }
    if (name == L"rect") {
        if (hControl == nullptr)
            return L"no such control";
        RECT rect = {};
        GetWindowRect(hControl, &rect);
        MapWindowPoints(nullptr, g_hMain, reinterpret_cast<POINT*>(&rect), 2);
        Say(L"rect\t" + Number(rect.left) + L"\t" + Number(rect.top) + L"\t" + Number(rect.right) + L"\t" +
            Number(rect.bottom));
        return L"";
    }
    if (name == L"placement") {
        WINDOWPLACEMENT p = {};
        p.length = sizeof(p);
        if (!GetWindowPlacement(g_hMain, &p))
            return L"no placement";
        Say(L"placement\t" + Number(static_cast<long>(p.showCmd)) + L"\t" + Number(p.rcNormalPosition.left) +
            L"\t" + Number(p.rcNormalPosition.top) + L"\t" + Number(p.rcNormalPosition.right) + L"\t" +
            Number(p.rcNormalPosition.bottom) + L"\t" + Number(IsZoomed(g_hMain)));
        return L"";
    }
    if (name == L"move") {
        MoveWindow(g_hMain, static_cast<int>(number(1, 0)), static_cast<int>(number(2, 0)),
                   static_cast<int>(number(3, 0)), static_cast<int>(number(4, 0)), TRUE);
        return L"";
    }
    if (name == L"syscommand") {
        const std::wstring& what = arg(1);
        const WPARAM command = what == L"maximize"  ? SC_MAXIMIZE
                               : what == L"restore" ? SC_RESTORE
                               : what == L"close"   ? SC_CLOSE
                               : what == L"about"   ? 0x10
                                                    : 0;
        if (command == 0)
            return L"unknown system command";
        PostMessageW(g_hMain, WM_SYSCOMMAND, command, 0);
        return L"";
    }
    if (name == L"key") {
        const UINT vk = arg(1) == L"return" ? VK_RETURN : arg(1) == L"escape" ? VK_ESCAPE : 0;
        if (vk == 0)
            return L"unknown key";
        GUITHREADINFO info = {};
        info.cbSize = sizeof(info);
        HWND hTarget =
            GetGUIThreadInfo(GetWindowThreadProcessId(g_hMain, nullptr), &info) && info.hwndFocus != nullptr
                ? info.hwndFocus
                : g_hMain;
        const UINT scan = MapVirtualKeyW(vk, 0);
        PostMessageW(hTarget, WM_KEYDOWN, vk, 1 | (scan << 16));
        PostMessageW(hTarget, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
        return L"";
    }
    if (name == L"controls") {
        for (HWND hChild = GetWindow(g_hMain, GW_CHILD); hChild != nullptr;
             hChild = GetWindow(hChild, GW_HWNDNEXT)) {
            if (!IsWindowVisible(hChild))
                continue;
            RECT rect = {};
            GetWindowRect(hChild, &rect);
            MapWindowPoints(nullptr, g_hMain, reinterpret_cast<POINT*>(&rect), 2);
            Say(L"control\t" + Number(GetDlgCtrlID(hChild)) + L"\t" + Number(rect.left) + L"\t" +
                Number(rect.top) + L"\t" + Number(rect.right) + L"\t" + Number(rect.bottom));
        }
        RECT client = {};
        GetClientRect(g_hMain, &client);
        Say(L"client\t" + Number(client.right) + L"\t" + Number(client.bottom));
        return L"";
    }
    if (name == L"textsize") {
        if (hControl == nullptr)
            return L"no such control";
        wchar_t text[256] = {};
        const int length = GetWindowTextW(hControl, text, 256);
        // Another process's font handle cannot be read under Wine: the font is made here from the
        // description the test gives (height in pixels, as a dialog makes it, and weight).
        HFONT hFont =
            CreateFontW(static_cast<int>(number(2, 0)), 0, 0, 0, static_cast<int>(number(3, 0)), FALSE, FALSE,
                        FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE, arg(4).c_str());
        if (hFont == nullptr)
            return L"no such font";
        HDC hDC = GetDC(nullptr);
        HGDIOBJ hOld = SelectObject(hDC, hFont);
        SIZE size = {};
        const BOOL measured = GetTextExtentPoint32W(hDC, text, length, &size);
        SelectObject(hDC, hOld);
        ReleaseDC(nullptr, hDC);
        DeleteObject(hFont);
        if (!measured)
            return L"the text cannot be measured";
        Say(L"textsize\t" + Number(size.cx) + L"\t" + Number(size.cy) + L"\t" + text);
        return L"";
    }
    if (name == L"screenshot")
        return Screenshot(arg(1)) ? L"" : L"cannot write the picture";
    return L"unknown command";
}

} // namespace

int wmain()
{
    // Rectangles and pictures in the display's own pixels, whatever its dots per inch.
    SetProcessDPIAware();
    Say(L"READY");
    wchar_t buffer[8192];
    while (std::fgetws(buffer, 8192, stdin) != nullptr) {
        std::wstring line(buffer);
        while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
            line.pop_back();
        if (line.empty())
            continue;
        if (line == L"exit")
            break;
        std::wstring error = Run(Split(line));
        Say(error.empty() ? L"OK" : L"ERROR " + error);
    }
    return 0;
}
