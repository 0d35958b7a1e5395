// The window half of the class library layer against real windows under Wine: message maps,
// subclassing, reflection of child notifications, a dialog without its template and message boxes.
// (Modal dialogs with data exchange are tested with the program's own dialogs.)
#include "afx/afxcmn.h"
#include "afx/afxdialogex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const UINT WM_TEST_ECHO = WM_APP + 2;

// A top-level window with handlers that record what they saw.
class CRecordingWnd : public CWnd
{
public:
    std::vector<std::wstring> calls;
    UINT lastSizeType = 0;
    int lastCx = -1, lastCy = -1;
    CPoint lastPoint;

    BOOL CreateHidden(CWnd* pParent = nullptr, UINT nID = 0)
    {
        // Without a window manager, a popup window appears and goes at once.
        DWORD style = pParent != nullptr ? WS_CHILD | WS_VISIBLE : WS_POPUP | WS_SYSMENU;
        return CreateEx(0, nullptr, L"recording", style, CRect(0, 0, 300, 200), pParent, nID);
    }

protected:
    afx_msg void OnSize(UINT type, int cx, int cy)
    {
        calls.push_back(L"size");
        lastSizeType = type;
        lastCx = cx;
        lastCy = cy;
    }
    afx_msg void OnLButtonDown(UINT, CPoint point)
    {
        calls.push_back(L"lbuttondown");
        lastPoint = point;
    }
    afx_msg LRESULT OnEcho(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
    afx_msg void OnSysColorChange() { calls.push_back(L"syscolor"); }
    afx_msg void OnCommand42() { calls.push_back(L"command42"); }
    afx_msg void OnButton7() { calls.push_back(L"button7"); }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRecordingWnd, CWnd)
ON_WM_SIZE()
ON_WM_LBUTTONDOWN()
ON_MESSAGE(WM_TEST_ECHO, &CRecordingWnd::OnEcho)
ON_WM_SYSCOLORCHANGE()
ON_COMMAND(42, &CRecordingWnd::OnCommand42)
ON_BN_CLICKED(7, &CRecordingWnd::OnButton7)
END_MESSAGE_MAP()

TEST(MessageMap, HandlersReceiveTheirUnpackedParameters)
{
    CRecordingWnd wnd;
    ASSERT_TRUE(wnd.CreateHidden());
    EXPECT_EQ(CWnd::FromHandlePermanent(wnd.m_hWnd), &wnd);

    wnd.calls.clear();
    wnd.SendMessage(WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(123, 45));
    EXPECT_EQ(wnd.lastSizeType, static_cast<UINT>(SIZE_MAXIMIZED));
    EXPECT_EQ(wnd.lastCx, 123);
    EXPECT_EQ(wnd.lastCy, 45);

    // Mouse coordinates are signed.
    wnd.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(-5, 17));
    EXPECT_EQ(wnd.lastPoint, CPoint(-5, 17));

    EXPECT_EQ(wnd.SendMessage(WM_TEST_ECHO, 40, 2), 42);

    // Commands: a menu item (code 0, no control), a button's BN_CLICKED, and an unknown id.
    wnd.calls.clear();
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(42, 0), 0);
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(7, BN_CLICKED), reinterpret_cast<LPARAM>(wnd.m_hWnd));
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(7, BN_DOUBLECLICKED), reinterpret_cast<LPARAM>(wnd.m_hWnd));
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(99, 0), 0);
    EXPECT_EQ(wnd.calls, (std::vector<std::wstring>{L"command42", L"button7"}));

    HWND hWnd = wnd.m_hWnd;
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(wnd.m_hWnd, nullptr) << "WM_NCDESTROY unties the object";
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

TEST(MessageMap, ATopLevelWindowHandsAChangeOfSystemColoursToEveryDescendantOnce)
{
    // The system tells top-level windows only; controls need the message to follow the colours.
    CRecordingWnd top, child, grandchild;
    ASSERT_TRUE(top.CreateHidden());
    ASSERT_TRUE(child.CreateHidden(&top, 1));
    ASSERT_TRUE(grandchild.CreateHidden(&child, 2));
    for (CRecordingWnd* pWnd : {&top, &child, &grandchild})
        pWnd->calls.clear();
    top.SendMessage(WM_SYSCOLORCHANGE);
    for (CRecordingWnd* pWnd : {&top, &child, &grandchild})
        EXPECT_EQ(pWnd->calls, (std::vector<std::wstring>{L"syscolor"}));

    child.calls.clear();
    grandchild.calls.clear();
    child.SendMessage(WM_SYSCOLORCHANGE);
    EXPECT_EQ(child.calls, (std::vector<std::wstring>{L"syscolor"}));
    EXPECT_TRUE(grandchild.calls.empty()) << "only top-level windows hand it on";
}

// A subclassed edit control: it swallows the digit keys' characters and counts its texts, passing
// both on otherwise with Default().
class CFilterEdit : public CWnd
{
public:
    int setTextCalls = 0;

protected:
    afx_msg LRESULT OnChar(WPARAM wParam, LPARAM)
    {
        if (wParam >= L'0' && wParam <= L'9')
            return 0;
        return Default();
    }
    afx_msg LRESULT OnSetText(WPARAM, LPARAM)
    {
        ++setTextCalls;
        return Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CFilterEdit, CWnd)
ON_MESSAGE(WM_CHAR, &CFilterEdit::OnChar)
ON_MESSAGE(WM_SETTEXT, &CFilterEdit::OnSetText)
END_MESSAGE_MAP()

TEST(Subclassing, AControlsMessagesGoThroughTheObjectAndOnToTheControl)
{
    CRecordingWnd parent;
    ASSERT_TRUE(parent.CreateHidden());
    HWND hEdit = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20, parent.m_hWnd,
                                   reinterpret_cast<HMENU>(5), nullptr, nullptr);
    ASSERT_NE(hEdit, nullptr);
    WNDPROC original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hEdit, GWLP_WNDPROC));

    CFilterEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(hEdit));
    EXPECT_FALSE(CFilterEdit().SubclassWindow(hEdit)) << "a window belongs to one object";
    EXPECT_EQ(parent.GetDlgItem(5), &edit);

    edit.SetWindowText(L"ab");
    EXPECT_EQ(edit.setTextCalls, 1);
    edit.SendMessage(EM_SETSEL, 2, 2);
    for (wchar_t ch : std::wstring(L"c1d2"))
        edit.SendMessage(WM_CHAR, ch, 1);
    CString text;
    edit.GetWindowText(text);
    EXPECT_STREQ(text.GetString(), L"abcd") << "digits were swallowed, the rest reached the edit control";

    EXPECT_EQ(edit.UnsubclassWindow(), hEdit);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hEdit, GWLP_WNDPROC)), original);
    ::SendMessageW(hEdit, WM_CHAR, L'5', 1);
    ::SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"x"));
    EXPECT_EQ(edit.setTextCalls, 1) << "after unsubclassing the object sees nothing";
}

TEST(Subclassing, AControlAndItsObjectGoTogether)
{
    // A destroyed control unties its object.
    CRecordingWnd parent;
    ASSERT_TRUE(parent.CreateHidden());
    HWND hEdit =
        ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 100, 20, parent.m_hWnd, nullptr, nullptr, nullptr);
    CFilterEdit edit;
    ASSERT_TRUE(edit.SubclassWindow(hEdit));
    ::DestroyWindow(hEdit);
    EXPECT_EQ(edit.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hEdit), nullptr);

    // An object destroyed before its control destroys the control.
    hEdit =
        ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD, 0, 0, 100, 20, parent.m_hWnd, nullptr, nullptr, nullptr);
    {
        CFilterEdit early;
        ASSERT_TRUE(early.SubclassWindow(hEdit));
    }
    EXPECT_FALSE(::IsWindow(hEdit));
}

// A child that notifies its parent, with reflected handlers of its own.
class CNotifyingChild : public CWnd
{
public:
    static const UINT kConsumed = 1000;     // handled here only
    static const UINT kPassedOn = 1001;     // handled here, then by the parent
    static const UINT kNotReflected = 1002; // only the parent has an entry
    int reflected = 0;

    LRESULT Notify(UINT code)
    {
        NMHDR header = {m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID()), code};
        return ::SendMessageW(::GetParent(m_hWnd), WM_NOTIFY, header.idFrom,
                              reinterpret_cast<LPARAM>(&header));
    }

protected:
    afx_msg void OnConsumed(NMHDR*, LRESULT* pResult)
    {
        ++reflected;
        *pResult = 4711;
    }
    afx_msg BOOL OnPassedOn(NMHDR*, LRESULT* pResult)
    {
        ++reflected;
        *pResult = 5;
        return FALSE;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CNotifyingChild, CWnd)
ON_NOTIFY_REFLECT(CNotifyingChild::kConsumed, &CNotifyingChild::OnConsumed)
ON_NOTIFY_REFLECT_EX(CNotifyingChild::kPassedOn, &CNotifyingChild::OnPassedOn)
END_MESSAGE_MAP()

class CNotifiedParent : public CRecordingWnd
{
public:
    int notified = 0;
    LRESULT lastResultSeen = -1;

protected:
    afx_msg void OnChildNotification(NMHDR*, LRESULT* pResult)
    {
        ++notified;
        lastResultSeen = *pResult;
        *pResult += 1;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CNotifiedParent, CRecordingWnd)
ON_NOTIFY(CNotifyingChild::kConsumed, 77, &CNotifiedParent::OnChildNotification)
ON_NOTIFY(CNotifyingChild::kPassedOn, 77, &CNotifiedParent::OnChildNotification)
ON_NOTIFY(CNotifyingChild::kNotReflected, 77, &CNotifiedParent::OnChildNotification)
END_MESSAGE_MAP()

TEST(Reflection, TheChildsAnswerGoesBackToTheControl)
{
    CNotifiedParent parent;
    ASSERT_TRUE(parent.CreateHidden());
    CNotifyingChild child;
    ASSERT_TRUE(child.CreateEx(0, nullptr, L"", WS_CHILD, CRect(0, 0, 10, 10), &parent, 77));

    EXPECT_EQ(child.Notify(CNotifyingChild::kConsumed), 4711);
    EXPECT_EQ(child.reflected, 1);
    EXPECT_EQ(parent.notified, 0) << "a consumed notification never reaches the parent's map";

    EXPECT_EQ(child.Notify(CNotifyingChild::kPassedOn), 6);
    EXPECT_EQ(child.reflected, 2);
    EXPECT_EQ(parent.notified, 1);
    EXPECT_EQ(parent.lastResultSeen, 5) << "the parent sees what the child left in the result";

    EXPECT_EQ(child.Notify(CNotifyingChild::kNotReflected), 1);
    EXPECT_EQ(parent.notified, 2);
    EXPECT_EQ(parent.lastResultSeen, 0);
}

TEST(Dialog, AMissingTemplateFailsWithMinusOne)
{
    CDialog dialog(4242);
    EXPECT_EQ(dialog.DoModal(), -1);
}

BOOL CALLBACK FindVisibleDialog(HWND hWnd, LPARAM lParam)
{
    wchar_t className[32] = {};
    ::GetClassNameW(hWnd, className, 32);
    if (std::wstring(className) == L"#32770" && ::IsWindowVisible(hWnd)) {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

// Reads the title of the message box that the thread shows and answers it with OK.
std::wstring g_messageBoxTitle;
VOID CALLBACK CloseMessageBox(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND hBox = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindVisibleDialog, reinterpret_cast<LPARAM>(&hBox));
    if (hBox == nullptr)
        return;
    ::KillTimer(nullptr, id);
    wchar_t title[128] = {};
    ::GetWindowTextW(hBox, title, 128);
    g_messageBoxTitle = title;
    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
}

TEST(Application, MessageBoxesWithoutCaptionCarryTheApplicationsName)
{
    // Without an application object the name comes from string AFX_IDS_APP_TITLE.
    EXPECT_STREQ(AfxGetAppName(), L"Velmora Test");
    CRecordingWnd owner;
    ASSERT_TRUE(owner.CreateHidden());
    g_messageBoxTitle.clear();
    UINT_PTR timer = ::SetTimer(nullptr, 0, 20, CloseMessageBox);
    EXPECT_EQ(owner.MessageBox(L"A stream of that name exists already"), IDOK);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(g_messageBoxTitle, L"Velmora Test");

    CWinApp app(L"Given Name");
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_STREQ(AfxGetAppName(), L"Given Name");
}

} // namespace
