// Constructs a CVelmoraManager with a stand-in owner whose log pane keeps its lines (the "pane"
// command lists them), calls Init and pumps this thread's messages (the manager's tick runs in that
// loop). A reader thread hands the lines of standard input to the loop.
// The first output line is "READY init=<result of Init>". End of input ends the host like "exit".
#include "tests/tools/velmora_host/velmora_host.h"

#include "gateway/VelmoraManager.h"

#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

const UINT kLineMessage = WM_APP + 1;
const UINT kEndOfInputMessage = WM_APP + 2;

// The stand-in owner: no dialog window (nothing is posted), a message-only window as its log pane,
// and the pane's lines kept in order, without their time stamps.
int g_Owner = 0;
HWND g_PaneWindow = nullptr;
std::vector<std::pair<CMfxString, COLORREF>> g_PaneLines;

const CVelmoraOwnerAccess kOwnerAccess = {
    [](CVelmoraDlg*) -> HWND { return nullptr; },
    [](CVelmoraDlg*) { return g_PaneWindow; },
    [](CVelmoraDlg*, const CMfxString& line, COLORREF colour) {
        g_PaneLines.emplace_back(CMfxString(line.Mid(24)), colour);
    },
};

// "pane": one line per pane line, "pane<TAB>red|green<TAB><text without its time stamp>".
void ListPane(CHostContext&, const CMfxString&, CHostAnswer& answer)
{
    for (const auto& entry : g_PaneLines) {
        answer.lines.push_back(CMfxString(L"pane\t") + (entry.second == kLogRed ? L"red\t" : L"green\t") +
                               entry.first);
    }
}

const CHostCommand kPaneCommands[] = {
    {L"pane", L"- the log pane's lines: pane<TAB>red|green<TAB>text", &ListPane},
    {nullptr, nullptr, nullptr},
};

// Every table of commands, searched in this order.
const CHostCommand* const kCommandTables[] = {kManagerCommands, kRetrievalCommands, kStreamCommands,
                                              kPaneCommands};

void WriteLine(const CMfxString& line)
{
    CMfxString copy = line;
    std::fputs(copy.GetUtf8(), stdout);
    std::fputc('\n', stdout);
}

CMfxString FromUtf8(const std::string& text)
{
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    CMfxString result;
    if (length > 0) {
        wchar_t* buffer = result.GetBuffer(length);
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), buffer, length);
        result.ReleaseBuffer(length);
    }
    return result;
}

void ReadInput(DWORD loopThread)
{
    char buffer[4096];
    while (std::fgets(buffer, sizeof(buffer), stdin) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.pop_back();
        }
        PostThreadMessageW(loopThread, kLineMessage, 0, reinterpret_cast<LPARAM>(new std::string(line)));
    }
    PostThreadMessageW(loopThread, kEndOfInputMessage, 0, 0);
}

void ListCommands(CHostAnswer& answer)
{
    for (const CHostCommand* table : kCommandTables) {
        for (const CHostCommand* command = table; command->name != nullptr; ++command) {
            CMfxString line;
            line.Format(L"%s %s", command->name, command->usage);
            answer.lines.push_back(line);
        }
    }
}

void RunCommand(CHostContext& context, const CMfxString& line)
{
    const int blank = line.Find(L' ');
    const CMfxString word = blank < 0 ? line : CMfxString(line.Left(blank));
    const CMfxString argument = blank < 0 ? CMfxString() : CMfxString(line.Mid(blank + 1));
    CHostAnswer answer;
    bool known = false;
    if (word == L"help") {
        ListCommands(answer);
        known = true;
    }
    for (const CHostCommand* table : kCommandTables) {
        for (const CHostCommand* command = table; !known && command->name != nullptr; ++command) {
            if (word == command->name) {
                command->run(context, argument, answer);
                known = true;
            }
        }
    }
    if (!known) {
        answer.error.Format(L"unknown command %s (help lists them)", word.GetString());
    }
    for (const CMfxString& text : answer.lines) {
        WriteLine(text);
    }
    if (answer.error.IsEmpty()) {
        WriteLine(L"OK");
    } else {
        WriteLine(CMfxString(L"ERROR ") + answer.error);
    }
    std::fflush(stdout);
}

} // namespace

int main()
{
    // The loop thread's message queue must exist before the reader posts to it.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);

    g_PaneWindow = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    SetVelmoraOwnerAccess(&kOwnerAccess);
    CHostContext context;
    context.manager = new CVelmoraManager(reinterpret_cast<CVelmoraDlg*>(&g_Owner));
    // No box can be answered here: a refusal is a red pane line.
    context.manager->m_ShowRefusal = [](const wchar_t* text) {
        g_PaneLines.emplace_back(CMfxString(L"refused: ") + text, kLogRed);
    };
    const BOOL started = context.manager->Init();
    std::printf("READY init=%d\n", started ? 1 : 0);
    std::fflush(stdout);

    std::thread reader(ReadInput, GetCurrentThreadId());
    reader.detach();

    while (!context.quit && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kLineMessage) {
            std::string* line = reinterpret_cast<std::string*>(message.lParam);
            const CMfxString text = FromUtf8(*line);
            delete line;
            if (!text.IsEmpty()) {
                RunCommand(context, text);
            }
            continue;
        }
        if (message.hwnd == nullptr && message.message == kEndOfInputMessage) {
            RunCommand(context, L"exit");
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    delete context.manager;
    // The reader thread may still wait for input; ending the process ends it.
    std::fflush(stdout);
    ExitProcess(0);
}
