#include "ui/DialogAddStream.h"

#include "res/resource.h"

namespace {

// The dialog manager's way of moving the focus to a control (its text selected), as Tab does.
void FocusControl(CWnd& dialog, int id)
{
    if (HWND hControl = ::GetDlgItem(dialog.m_hWnd, id))
        dialog.SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hControl), TRUE);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CDialogAddRTSPStream

BEGIN_MESSAGE_MAP(CDialogAddRTSPStream, CDialogEx)
END_MESSAGE_MAP()

CDialogAddRTSPStream::CDialogAddRTSPStream(CWnd* pParent) : CDialogEx(IDD_ADD_RTSP_STREAM, pParent) {}

CDialogAddRTSPStream::~CDialogAddRTSPStream() = default;

void CDialogAddRTSPStream::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_EDIT_URL, m_URL);
}

BOOL CDialogAddRTSPStream::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    FocusControl(*this, IDC_EDIT_URL);
    return FALSE; // the focus is set
}

// ---------------------------------------------------------------------------------------------
// CDialogAddSDPStream

BEGIN_MESSAGE_MAP(CDialogAddSDPStream, CDialogEx)
END_MESSAGE_MAP()

CDialogAddSDPStream::CDialogAddSDPStream(CWnd* pParent, CMfxString sdpText, BOOL readOnly)
    : CDialogEx(IDD_ADD_SDP_STREAM, pParent), m_SDP(sdpText), m_HasStream(FALSE), m_ReadOnly(readOnly)
{
}

CDialogAddSDPStream::CDialogAddSDPStream(CWnd* pParent, CMfxString streamName, CMfxString sdpText,
                                         BOOL readOnly)
    : CDialogEx(IDD_ADD_SDP_STREAM, pParent), m_SDP(sdpText), m_HasStream(TRUE), m_StreamName(streamName),
      m_ReadOnly(readOnly)
{
}

CDialogAddSDPStream::~CDialogAddSDPStream() = default;

void CDialogAddSDPStream::DoDataExchange(CDataExchange* pDX)
{
    CDialogEx::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_EDIT_SDP, m_SDP);
}

BOOL CDialogAddSDPStream::OnInitDialog()
{
    CDialogEx::OnInitDialog();
    if (m_ReadOnly)
        SendDlgItemMessage(IDC_EDIT_SDP, EM_SETREADONLY, TRUE, 0);
    if (m_HasStream) {
        CMfxString title(L"Stream: ");
        title += m_StreamName;
        SetWindowText(title.GetString());
    }
    FocusControl(*this, IDC_EDIT_SDP);
    return FALSE; // the focus is set
}
