#include "ui/DialogAddStream.h"

#include "res/resource.h"

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
    return TRUE;
}
