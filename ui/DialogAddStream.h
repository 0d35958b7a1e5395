// The dialogs that take a stream from the operator: an RTSP URL, or a pasted SDP text. The second
// also shows (read-only or editable) the SDP of a listed stream.
//
// Neither dialog checks its text: the caller hands it on exactly as the edit control holds it.
#pragma once

#include "afx/afxdialogex.h"
#include "foundation/MfxString.h"

class CDialogAddRTSPStream : public CDialogEx
{
public:
    explicit CDialogAddRTSPStream(CWnd* pParent = nullptr);
    ~CDialogAddRTSPStream() override;

    // The URL as typed, after OK.
    CString m_URL;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // The focus starts in the edit, so that typing goes there at once.
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};

class CDialogAddSDPStream : public CDialogEx
{
public:
    // A new stream: no stream name, the resource's title "Add SDP Stream".
    CDialogAddSDPStream(CWnd* pParent, CMfxString sdpText, BOOL readOnly);
    // A listed stream: titled "Stream: " and its name. The dialog keeps the name, never the stream
    // itself: the stream may be gone by the time the dialog ends.
    CDialogAddSDPStream(CWnd* pParent, CMfxString streamName, CMfxString sdpText, BOOL readOnly);
    ~CDialogAddSDPStream() override;

    // The text shown and, after OK, the text as edited.
    CString m_SDP;

    BOOL IsReadOnly() const { return m_ReadOnly; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Fills the edit; makes it read-only when asked (its text can still be selected and copied);
    // titles the dialog with the stream's name; the focus starts in the edit. OK (the class library's) takes
    // the text back and ends with OK, read-only or not: the caller decides what changes.
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()

private:
    BOOL m_HasStream;
    CMfxString m_StreamName;
    BOOL m_ReadOnly;
};
