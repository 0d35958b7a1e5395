#include "ui/VelmoraDlg.h"

#include "res/resource.h"
#include "ui/AboutDlg.h"
#include "ui/DialogAddStream.h"

#include <algorithm>

namespace {

// How the manager reaches this dialog: its window, its log pane and the pane's lines.
const CVelmoraOwnerAccess kOwnerAccess = {
    [](CVelmoraDlg* pOwner) -> HWND { return pOwner->m_hWnd; },
    [](CVelmoraDlg* pOwner) -> HWND { return pOwner->GetLogPane().m_hWnd; },
    [](CVelmoraDlg* pOwner, const CMfxString& line, COLORREF colour) {
        // A burst of lines (a burst of announcements) is shown with one update of the pane.
        pOwner->GetLogPane().AddTextLater(line, colour);
    },
};

// Posted to itself by the dialog: the pending refresh runs.
const UINT kRefreshListsMessage = WM_APP + 1;
// The dialog's timer that runs a pending refresh later.
const UINT_PTR kRefreshTimer = 0x5246;

bool IsBlank(const CString& text)
{
    CMfxString trimmed(text);
    trimmed.Trim();
    return trimmed.IsEmpty();
}

// The size of the dialog template, in dialog units.
const int kTemplateWidth = 643;
const int kTemplateHeight = 338;

DWORD KeyOf(const void* pKey)
{
    return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(pKey));
}

const int kAutoSwitchIds[] = {IDC_AUTO_CORVANE_SAP, IDC_AUTO_LOCAL, IDC_AUTO_LOCAL_CORVANE,
                              IDC_AUTO_LOCAL_SAP};
const CSettingsKey* const kAutoSwitchKeys[] = {&SettingsKey::kAutoVelmora, &SettingsKey::kAutoLocal,
                                               &SettingsKey::kAutoLocalCor, &SettingsKey::kAutoLocalSap};

} // namespace

BEGIN_MESSAGE_MAP(CVelmoraDlg, CDialogEx)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_CLOSE()
ON_WM_SIZE()
ON_WM_GETMINMAXINFO()
ON_WM_DESTROY()
ON_BN_CLICKED(IDC_REFRESH, &CVelmoraDlg::OnRefreshRequest)
ON_MESSAGE(kRefreshListsMessage, &CVelmoraDlg::OnRefreshLists)
ON_WM_TIMER()
ON_NOTIFY(NM_DBLCLK, IDC_LIST_CORVANE, &CVelmoraDlg::OnNMDblclkListCorvane)
ON_NOTIFY(NM_DBLCLK, IDC_LIST_SAP, &CVelmoraDlg::OnNMDblclkListSap)
ON_NOTIFY(NM_DBLCLK, IDC_LIST_LOCAL, &CVelmoraDlg::OnNMDblclkListLocal)
ON_BN_CLICKED(IDC_CORVANE_TO_SAP, &CVelmoraDlg::OnBnClickedCorvaneToSap)
ON_BN_CLICKED(IDC_CORVANE_SAP_OFF, &CVelmoraDlg::OnBnClickedCorvaneSapOff)
ON_BN_CLICKED(IDC_SAP_TO_CORVANE, &CVelmoraDlg::OnBnClickedSapToCorvane)
ON_BN_CLICKED(IDC_SAP_CORVANE_OFF, &CVelmoraDlg::OnBnClickedSapCorvaneOff)
ON_BN_CLICKED(IDC_LOCAL_CORVANE_ADD, &CVelmoraDlg::OnBnClickedLocalCorvaneAdd)
ON_BN_CLICKED(IDC_LOCAL_CORVANE_REMOVE, &CVelmoraDlg::OnBnClickedLocalCorvaneRemove)
ON_BN_CLICKED(IDC_LOCAL_SAP_ADD, &CVelmoraDlg::OnBnClickedLocalSapAdd)
ON_BN_CLICKED(IDC_LOCAL_SAP_REMOVE, &CVelmoraDlg::OnBnClickedLocalSapRemove)
ON_BN_CLICKED(IDC_ADD_RTSP, &CVelmoraDlg::OnBnClickedRtsp)
ON_BN_CLICKED(IDC_ADD_SDP, &CVelmoraDlg::OnBnClickedSdp)
ON_BN_CLICKED(IDC_LOCAL_REMOVE, &CVelmoraDlg::OnBnClickedLocalRemove)
ON_BN_CLICKED(IDC_AUTO_CORVANE_SAP, &CVelmoraDlg::OnBnClickedAuto)
ON_BN_CLICKED(IDC_AUTO_LOCAL, &CVelmoraDlg::OnBnClickedAuto)
ON_BN_CLICKED(IDC_AUTO_LOCAL_CORVANE, &CVelmoraDlg::OnBnClickedAuto)
ON_BN_CLICKED(IDC_AUTO_LOCAL_SAP, &CVelmoraDlg::OnBnClickedAuto)
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

CVelmoraDlg::CVelmoraDlg(CWnd* pParent)
    : CDialogEx(IDD_VELMORA_DIALOG, pParent),
      m_hIcon(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_Lists(m_ListCorvane, m_ListSap, m_ListLocal), m_Manager(this), m_StreamTable(m_Manager)
{
    SetVelmoraOwnerAccess(&kOwnerAccess);
}

CVelmoraDlg::~CVelmoraDlg()
{
    SetVelmoraOwnerAccess(nullptr);
    delete m_pLogo;
    delete m_pHeadingFont;
}

void CVelmoraDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LIST_CORVANE, m_ListCorvane);
    DDX_Control(pDX, IDC_LIST_SAP, m_ListSap);
    DDX_Control(pDX, IDC_LIST_LOCAL, m_ListLocal);
}

BOOL CVelmoraDlg::OnInitDialog()
{
    CDialogEx::OnInitDialog();

    // The About entry of the system menu.
    if (CMenu* pSysMenu = GetSystemMenu(FALSE)) {
        CString aboutText;
        AfxLoadString(IDS_ABOUTBOX, aboutText);
        if (!aboutText.IsEmpty()) {
            pSysMenu->AppendMenu(MF_SEPARATOR);
            pSysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutText.GetString());
        }
    }

    m_pLogo = new CGDIDrawStreamGUI;
    m_pLogo->LoadLogo();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // The controls stand where the template puts them, also when the window was made smaller than
    // the template (a screen too small for it): the template's client rectangle is the layout base,
    // and the first layout pass below fits the controls into the real client rectangle.
    CRect templateClient(0, 0, kTemplateWidth, kTemplateHeight);
    ::MapDialogRect(m_hWnd, &templateClient);
    m_TemplateClientRect = templateClient;
    CRect templateWindow = templateClient;
    ::AdjustWindowRectEx(&templateWindow, GetStyle(), FALSE, GetExStyle());
    // Never larger than the work area of the window's screen as the minimum size.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    CSize minimum(templateWindow.Width(), templateWindow.Height());
    if (::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
        minimum.cx = std::min<LONG>(minimum.cx, monitor.rcWork.right - monitor.rcWork.left);
        minimum.cy = std::min<LONG>(minimum.cy, monitor.rcWork.bottom - monitor.rcWork.top);
    }
    m_MinTrackSize = minimum;

    // The headings of the three lists: the dialog's font, larger and bold.
    if (CFont* pDialogFont = GetFont()) {
        LOGFONTW logFont = {};
        pDialogFont->GetLogFont(&logFont);
        logFont.lfHeight = logFont.lfHeight * 100 / 70;
        logFont.lfWeight = FW_BOLD;
        m_pHeadingFont = new CMfxFont;
        if (m_pHeadingFont->CreateFontIndirect(&logFont)) {
            for (int id : {IDC_HEADING_CORVANE, IDC_HEADING_SAP, IDC_HEADING_LOCAL}) {
                if (CWnd* pHeading = GetDlgItem(id))
                    pHeading->SetFont(m_pHeadingFont, TRUE);
            }
        }
    }

    // The log pane takes the placeholder's place before the gateway starts, so that the start-up
    // lines show in it.
    if (CWnd* pPlaceholder = GetDlgItem(IDC_LOG_PLACEHOLDER)) {
        CRect paneRect;
        pPlaceholder->GetWindowRect(&paneRect);
        ScreenToClient(&paneRect);
        m_WndLogText.Create(paneRect, this, 0);
    }
    m_LayoutReady = true;
    LayoutControls();

    // Column widths follow the screen's dots per inch.
    {
        CClientDC dc(this);
        m_Lists.AddColumns(dc.GetDeviceCaps(LOGPIXELSX));
    }

    // The dialog comes up whether or not the gateway started; the manager reports what failed.
    m_Manager.Init();

    CSettingsInterface& settings = m_Manager.m_Settings;
    m_ListCorvane.SetColumnStateString(settings.GetString(SettingsKey::kListCorvane));
    m_ListSap.SetColumnStateString(settings.GetString(SettingsKey::kListSap));
    m_ListLocal.SetColumnStateString(settings.GetString(SettingsKey::kListLocal));
    for (size_t i = 0; i < 4; ++i)
        SendDlgItemMessage(kAutoSwitchIds[i], BM_SETCHECK,
                           static_cast<WPARAM>(settings.GetInt(*kAutoSwitchKeys[i])));
    if (m_WindowPlacement.FromString(settings.GetString(SettingsKey::kWindowPlacement)))
        m_WindowPlacement.ApplyToWindow(m_hWnd);

    ApplyAutoStates();
    return TRUE;
}

// ---------------------------------------------------------------------------------------------
// Ending

void CVelmoraDlg::ExitManagerOnce()
{
    if (m_ManagerExited)
        return;
    m_ManagerExited = true;
    m_Manager.Exit();
}

void CVelmoraDlg::OnClose()
{
    ExitManagerOnce();
    Default();
}

void CVelmoraDlg::OnOK()
{
    ExitManagerOnce();
    CDialogEx::OnOK();
}

void CVelmoraDlg::OnCancel()
{
    ExitManagerOnce();
    CDialogEx::OnCancel();
}

void CVelmoraDlg::OnDestroy()
{
    // Whatever destroys the window, the gateway has stopped before the state is saved.
    ExitManagerOnce();
    CSettingsInterface& settings = m_Manager.m_Settings;
    m_WindowPlacement.ReadFromWindow(m_hWnd);
    settings.WriteString(SettingsKey::kWindowPlacement, m_WindowPlacement.ToString());
    settings.WriteString(SettingsKey::kListCorvane, m_ListCorvane.GetColumnStateString());
    settings.WriteString(SettingsKey::kListSap, m_ListSap.GetColumnStateString());
    settings.WriteString(SettingsKey::kListLocal, m_ListLocal.GetColumnStateString());
    for (size_t i = 0; i < 4; ++i)
        settings.WriteInt(*kAutoSwitchKeys[i],
                          static_cast<int>(SendDlgItemMessage(kAutoSwitchIds[i], BM_GETCHECK)));
    Default();
}

// ---------------------------------------------------------------------------------------------
// Window

void CVelmoraDlg::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
    } else {
        Default();
    }
}

void CVelmoraDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    CRect client;
    GetClientRect(&client);
    dc.DrawIcon((client.Width() - cxIcon + 1) / 2, (client.Height() - cyIcon + 1) / 2, m_hIcon);
}

HCURSOR CVelmoraDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CVelmoraDlg::OnGetMinMaxInfo(MINMAXINFO* pMinMaxInfo)
{
    // Never smaller than the first size.
    if (m_LayoutReady) {
        pMinMaxInfo->ptMinTrackSize.x = m_MinTrackSize.cx;
        pMinMaxInfo->ptMinTrackSize.y = m_MinTrackSize.cy;
    }
    Default();
}

void CVelmoraDlg::OnSize(UINT nType, int, int)
{
    Default();
    if (nType == SIZE_MINIMIZED || !m_LayoutReady || GetDlgItem(IDC_LOG_PLACEHOLDER) == nullptr)
        return;
    LayoutControls();
    Invalidate(TRUE); // the logo follows
}

void CVelmoraDlg::LayoutControls()
{
    // Every pass places the controls afresh from the template's places: a window larger than the
    // template shares out the extra room by the layout table; one smaller (a screen too small for the
    // template) first shrinks the template to it, so that every control stays inside.
    CRect client;
    GetClientRect(&client);
    const int dW = client.Width() - m_TemplateClientRect.Width();
    const int dH = client.Height() - m_TemplateClientRect.Height();
    m_LayoutRecords.BeginPass(
        dW < 0 ? static_cast<double>(client.Width()) / m_TemplateClientRect.Width() : 1.0,
        dH < 0 ? static_cast<double>(client.Height()) / m_TemplateClientRect.Height() : 1.0);
    for (const DialogLayout::Step& step : DialogLayout::Steps(std::max(dW, 0), std::max(dH, 0))) {
        HWND hControl =
            step.control == DialogLayout::kLogPane ? m_WndLogText.m_hWnd : ::GetDlgItem(m_hWnd, step.control);
        if (hControl != nullptr)
            LayoutControl(hControl, step.moveX, step.moveY, step.growWidth, step.growHeight);
    }
}

void CVelmoraDlg::LayoutControl(HWND hControl, double moveX, double moveY, double growWidth,
                                double growHeight)
{
    CRect current;
    ::GetWindowRect(hControl, &current);
    ScreenToClient(&current);
    RECT moveTo;
    if (!m_LayoutRecords.Apply(reinterpret_cast<UINT_PTR>(hControl), current, moveX, moveY, growWidth,
                               growHeight, moveTo))
        return;
    const int id = ::GetDlgCtrlID(hControl);
    if (std::find(std::begin(DialogLayout::kCentredLabels), std::end(DialogLayout::kCentredLabels), id) !=
        std::end(DialogLayout::kCentredLabels))
        moveTo = DialogLayout::KeepTextWhole(moveTo, TextSize(hControl));
    ::MoveWindow(hControl, moveTo.left, moveTo.top, moveTo.right - moveTo.left, moveTo.bottom - moveTo.top,
                 TRUE);
}

SIZE CVelmoraDlg::TextSize(HWND hControl)
{
    SIZE size = {0, 0};
    wchar_t text[64] = {};
    const int length = ::GetWindowTextW(hControl, text, static_cast<int>(sizeof(text) / sizeof(text[0])));
    HDC hDC = ::GetDC(hControl);
    if (hDC == nullptr)
        return size;
    HGDIOBJ hFont = reinterpret_cast<HGDIOBJ>(::SendMessageW(hControl, WM_GETFONT, 0, 0));
    HGDIOBJ hOld = hFont != nullptr ? ::SelectObject(hDC, hFont) : nullptr;
    if (!::GetTextExtentPoint32W(hDC, text, length, &size))
        size = SIZE{0, 0};
    if (hOld != nullptr)
        ::SelectObject(hDC, hOld);
    ::ReleaseDC(hControl, hDC);
    return size;
}

BOOL CVelmoraDlg::OnEraseBkgnd(CDC* pDC)
{
    BOOL erased = static_cast<BOOL>(Default());
    if (m_pLogo == nullptr || m_WndLogText.m_hWnd == nullptr)
        return erased;
    // The logo: one margin right of the log pane to one margin before the dialog's right and bottom
    // edges, as large as fits both ways.
    CRect pane;
    m_WndLogText.GetWindowRect(&pane);
    ScreenToClient(&pane);
    CRect client;
    GetClientRect(&client);
    const CRect target(pane.left + pane.right, pane.top, client.right - client.left - pane.left,
                       client.bottom - pane.left);
    m_pLogo->DrawScaledImage(pDC, target);
    return erased;
}

// ---------------------------------------------------------------------------------------------
// Lists

StreamRules::AutoSwitches CVelmoraDlg::ReadAutoSwitches() const
{
    StreamRules::AutoSwitches autoSwitches;
    autoSwitches.corvaneSap = SendDlgItemMessage(IDC_AUTO_CORVANE_SAP, BM_GETCHECK) == BST_CHECKED;
    autoSwitches.local = SendDlgItemMessage(IDC_AUTO_LOCAL, BM_GETCHECK) == BST_CHECKED;
    autoSwitches.localCorvane = SendDlgItemMessage(IDC_AUTO_LOCAL_CORVANE, BM_GETCHECK) == BST_CHECKED;
    autoSwitches.localSap = SendDlgItemMessage(IDC_AUTO_LOCAL_SAP, BM_GETCHECK) == BST_CHECKED;
    return autoSwitches;
}

void CVelmoraDlg::ApplyAutoStates()
{
    const StreamRules::ButtonStates enabled = StreamRules::EnabledButtons(ReadAutoSwitches());
    const std::pair<int, bool> buttons[] = {
        {IDC_CORVANE_TO_SAP, enabled.corvaneSap},      {IDC_CORVANE_SAP_OFF, enabled.corvaneSap},
        {IDC_SAP_TO_CORVANE, enabled.corvaneSap},      {IDC_SAP_CORVANE_OFF, enabled.corvaneSap},
        {IDC_LOCAL_CORVANE_ADD, enabled.localCorvane}, {IDC_LOCAL_CORVANE_REMOVE, enabled.localCorvane},
        {IDC_LOCAL_SAP_ADD, enabled.localSap},         {IDC_LOCAL_SAP_REMOVE, enabled.localSap},
    };
    for (const auto& button : buttons) {
        if (CWnd* pButton = GetDlgItem(button.first))
            pButton->EnableWindow(button.second ? TRUE : FALSE);
    }
    UpdateLists();
}

void CVelmoraDlg::OnBnClickedAuto()
{
    ApplyAutoStates();
}

void CVelmoraDlg::OnRefreshRequest()
{
    if (m_RefreshPending)
        return;
    m_RefreshPending = true;
    const DWORD since = ::GetTickCount() - m_LastRefreshEnd;
    if (since < kRefreshIntervalMs)
        SetTimer(kRefreshTimer, kRefreshIntervalMs - since, nullptr);
    else
        PostMessage(
            kRefreshListsMessage); // behind the requests already queued: one refresh takes them all in
}

void CVelmoraDlg::OnTimer(UINT_PTR nIDEvent)
{
    if (nIDEvent != kRefreshTimer) {
        Default();
        return;
    }
    KillTimer(kRefreshTimer);
    if (m_RefreshPending)
        PostMessage(kRefreshListsMessage);
}

LRESULT CVelmoraDlg::OnRefreshLists(WPARAM, LPARAM)
{
    UpdateLists();
    return 0;
}

void CVelmoraDlg::UpdateLists()
{
    // Cleared first: a change after the table is read asks for a refresh of its own.
    m_RefreshPending = false;
    m_Lists.Refresh(m_StreamTable, ReadAutoSwitches());
    m_LastRefreshEnd = ::GetTickCount();
}

std::vector<DWORD> CVelmoraDlg::SelectedKeys(CMfxListCtrl& list)
{
    std::vector<DWORD> keys;
    for (int item = list.GetNextItem(-1, LVNI_SELECTED); item != -1;
         item = list.GetNextItem(item, LVNI_SELECTED)) {
        if (void* pKey = list.GetItemKey(item))
            keys.push_back(KeyOf(pKey));
    }
    return keys;
}

void CVelmoraDlg::RunCommand(StreamRules::Command command)
{
    // The lists show a switch at once: the stream's own steps need not report it as a change.
    const std::vector<DWORD> keys = SelectedKeys(List(StreamRules::ListOf(command)));
    if (RunStreamCommand(m_StreamTable, command, keys) > 0)
        UpdateLists();
}

void CVelmoraDlg::OnBnClickedCorvaneToSap()
{
    RunCommand(StreamRules::kCorvaneToSap);
}

void CVelmoraDlg::OnBnClickedCorvaneSapOff()
{
    RunCommand(StreamRules::kCorvaneSapOff);
}

void CVelmoraDlg::OnBnClickedSapToCorvane()
{
    RunCommand(StreamRules::kSapToCorvane);
}

void CVelmoraDlg::OnBnClickedSapCorvaneOff()
{
    RunCommand(StreamRules::kSapCorvaneOff);
}

void CVelmoraDlg::OnBnClickedLocalCorvaneAdd()
{
    RunCommand(StreamRules::kLocalCorvaneAdd);
}

void CVelmoraDlg::OnBnClickedLocalCorvaneRemove()
{
    RunCommand(StreamRules::kLocalCorvaneRemove);
}

void CVelmoraDlg::OnBnClickedLocalSapAdd()
{
    RunCommand(StreamRules::kLocalSapAdd);
}

void CVelmoraDlg::OnBnClickedLocalSapRemove()
{
    RunCommand(StreamRules::kLocalSapRemove);
}

void CVelmoraDlg::OnBnClickedLocalRemove()
{
    RunCommand(StreamRules::kLocalRemove);
}

void CVelmoraDlg::OnBnClickedRtsp()
{
    // OK on an empty edit adds nothing.
    CDialogAddRTSPStream dialog(this);
    if (dialog.DoModal() == IDOK && !IsBlank(dialog.m_URL))
        m_Manager.AddRTSPStream(CMfxString(dialog.m_URL));
}

void CVelmoraDlg::OnBnClickedSdp()
{
    CDialogAddSDPStream dialog(this, L"", FALSE);
    if (dialog.DoModal() == IDOK && !IsBlank(dialog.m_SDP))
        m_Manager.AddSDPStream(CMfxString(dialog.m_SDP));
}

void CVelmoraDlg::ShowStreamOptions(CMfxListCtrl& list, NMHDR* pNMHDR)
{
    const NMITEMACTIVATE* pActivate = reinterpret_cast<const NMITEMACTIVATE*>(pNMHDR);
    if (pActivate->iItem < 0)
        return;
    void* pKey = list.GetItemKey(pActivate->iItem);
    StreamFacts stream;
    if (pKey == nullptr || !m_StreamTable.ReadStream(KeyOf(pKey), stream))
        return;
    const StreamRules::SdpView view = StreamRules::ViewOf(stream);
    CDialogAddSDPStream dialog(this, stream.name, view.text, view.editable ? FALSE : TRUE);
    if (dialog.DoModal() != IDOK || !view.editable)
        return;
    // The dialog ran its own message loop: the stream is looked up again and may have gone or changed.
    if (!m_StreamTable.ReadStream(stream.key, stream) || !StreamRules::MayChangeSDP(stream))
        return;
    m_StreamTable.ChangeSDP(stream.key, CMfxString(dialog.m_SDP));
    UpdateLists();
}

void CVelmoraDlg::OnNMDblclkListCorvane(NMHDR* pNMHDR, LRESULT* pResult)
{
    ShowStreamOptions(m_ListCorvane, pNMHDR);
    *pResult = 0;
}

void CVelmoraDlg::OnNMDblclkListSap(NMHDR* pNMHDR, LRESULT* pResult)
{
    ShowStreamOptions(m_ListSap, pNMHDR);
    *pResult = 0;
}

void CVelmoraDlg::OnNMDblclkListLocal(NMHDR* pNMHDR, LRESULT* pResult)
{
    ShowStreamOptions(m_ListLocal, pNMHDR);
    *pResult = 0;
}
