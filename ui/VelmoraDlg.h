// CVelmoraDlg: the program's one window, "CORVANE-2-SAP CONVERTER".
//
// It owns the gateway manager, starts it when it opens and stops it exactly once whichever way it
// ends (close box, Alt+F4, Enter, Esc), before its window goes and before it saves its window state
// (placement, list column states, AUTO switches) to the settings file. Its three lists show the
// stream table: CORVANE (found by DNS-SD), SAP (heard by SAP) and LOCAL (added by hand); its buttons
// and AUTO switches switch announcing per stream; its log pane shows the gateway's lines.
#pragma once

#include "afx/afxdialogex.h"
#include "gateway/VelmoraManager.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLists.h"
#include "ui/DialogStreamTable.h"
#include "ui/GDIDrawStream.h"
#include "ui/LogText.h"
#include "ui/MfxListCtrl.h"
#include "ui/StreamRules.h"
#include "ui/WindowPlacement.h"

#include <vector>

class CVelmoraDlg : public CDialogEx
{
public:
    explicit CVelmoraDlg(CWnd* pParent = nullptr);
    ~CVelmoraDlg() override;

    CWndLogText& GetLogPane() { return m_WndLogText; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter and Esc end the dialog through these: the gateway stops first.
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnSysCommand(UINT nID, LPARAM lParam);
    afx_msg void OnPaint();
    afx_msg HCURSOR OnQueryDragIcon();
    afx_msg void OnClose();
    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnGetMinMaxInfo(MINMAXINFO* pMinMaxInfo);
    afx_msg void OnDestroy();
    afx_msg BOOL OnEraseBkgnd(CDC* pDC);

    // Lists and commands. A refresh request (the hidden button's command, posted by the gateway for
    // every change of the table) only marks a refresh as pending; requests that arrive while one is
    // pending are merged into it. A pending refresh runs at once, but no sooner than
    // kRefreshIntervalMs after the end of the last one, so that a flood of changes (a burst of
    // announcements) leaves the thread time to take them in.
    afx_msg void OnRefreshRequest();
    afx_msg LRESULT OnRefreshLists(WPARAM, LPARAM);
    afx_msg void OnTimer(UINT_PTR nIDEvent);
    void UpdateLists();
    afx_msg void OnNMDblclkListCorvane(NMHDR* pNMHDR, LRESULT* pResult);
    afx_msg void OnNMDblclkListSap(NMHDR* pNMHDR, LRESULT* pResult);
    afx_msg void OnNMDblclkListLocal(NMHDR* pNMHDR, LRESULT* pResult);
    afx_msg void OnBnClickedCorvaneToSap();
    afx_msg void OnBnClickedCorvaneSapOff();
    afx_msg void OnBnClickedSapToCorvane();
    afx_msg void OnBnClickedSapCorvaneOff();
    afx_msg void OnBnClickedLocalCorvaneAdd();
    afx_msg void OnBnClickedLocalCorvaneRemove();
    afx_msg void OnBnClickedLocalSapAdd();
    afx_msg void OnBnClickedLocalSapRemove();
    afx_msg void OnBnClickedRtsp();
    afx_msg void OnBnClickedSdp();
    afx_msg void OnBnClickedLocalRemove();
    afx_msg void OnBnClickedAuto();

    DECLARE_MESSAGE_MAP()

private:
    // Stops the gateway the first time it is called; later calls do nothing.
    void ExitManagerOnce();
    void LayoutControls();
    void LayoutControl(HWND hControl, double moveX, double moveY, double growWidth, double growHeight);
    // The size of a control's text in its own font.
    static SIZE TextSize(HWND hControl);
    // Enables the manual buttons the AUTO switches leave to the operator, then rebuilds the lists.
    void ApplyAutoStates();
    StreamRules::AutoSwitches ReadAutoSwitches() const;
    CMfxListCtrl& List(StreamRules::ListId list) { return m_Lists.List(list); }
    // The keys of the list's selected rows, in list order.
    std::vector<DWORD> SelectedKeys(CMfxListCtrl& list);
    void RunCommand(StreamRules::Command command);
    // Shows (and for an SDP-text stream not announced anywhere, lets the operator edit) the SDP of
    // the double-clicked row's stream.
    void ShowStreamOptions(CMfxListCtrl& list, NMHDR* pNMHDR);

    CWindowPlacement m_WindowPlacement;
    HICON m_hIcon;
    CRect m_TemplateClientRect;
    CSize m_MinTrackSize;
    bool m_LayoutReady = false;
    CLayoutRecords m_LayoutRecords;
    CGDIDrawStreamGUI* m_pLogo = nullptr;
    CMfxFont* m_pHeadingFont = nullptr;
    CMfxListCtrl m_ListCorvane;
    CMfxListCtrl m_ListSap;
    CMfxListCtrl m_ListLocal;
    CDialogLists m_Lists;
    bool m_RefreshPending = false;
    DWORD m_LastRefreshEnd = 0; // tick count
    static const DWORD kRefreshIntervalMs = 200;
    CWndLogText m_WndLogText;
    CVelmoraManager m_Manager;
    CManagerStreamTable m_StreamTable;
    bool m_ManagerExited = false;
};
