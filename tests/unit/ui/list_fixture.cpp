#include "list_fixture.h"

CWnd& TestWindow()
{
    static CWnd* window = [] {
        INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
        ::InitCommonControlsEx(&init);
        CWnd* pWnd = new CWnd;
        // A popup window: without a window manager it appears and goes at once.
        pWnd->CreateEx(0, nullptr, L"lists", WS_POPUP | WS_VISIBLE, CRect(0, 0, 640, 480), nullptr, 0);
        return pWnd;
    }();
    return *window;
}

void PumpMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}
