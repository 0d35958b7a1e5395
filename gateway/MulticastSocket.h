// The gateway's SAP socket pair.
//
// A receiving UDP socket bound to the chosen interface address and the group port and joined to
// the group, sharing the port with other listeners that also ask for SO_REUSEADDR; its read
// notifications (on the thread that joined, the GUI thread) hand every datagram, whole, to the
// manager, and a datagram that cannot be read to the manager's red line. A member sending socket
// bound to the same interface sends the streams' announcements and deletions to the group. No TTL,
// loopback or outgoing-interface option is set: the binding selects the interface, and with
// loopback on the gateway hears itself.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "afx/afxsock.h"
#include "foundation/MfxString.h"

class CVelmoraManager;

class CMulticastSocket : public CAsyncSocket
{
public:
    // Room for the largest UDP datagram over IPv4 (65,507 bytes of payload), so every announcement,
    // the gateway's own largest included, is read whole.
    static const int kReceiveBufferSize = 65536;
    static const int kSocketReceiveBuffer = 512 * 1024;

    CMulticastSocket();
    ~CMulticastSocket() override;

    // Creates the receiving socket on `interfaceIP` and `port`, joins `group` there, then creates
    // the sending socket. TRUE only when all of it succeeds. The owner receives the datagrams and
    // the log lines; it may be null.
    bool JoinGroup(CVelmoraManager* owner, const CMfxString& interfaceIP, const CMfxString& group, UINT port);
    bool CreateReceivingSocket(UINT port, const CMfxString& interfaceIP, const CMfxString& group);
    bool CreateSendingSocket(const CMfxString& interfaceIP);

    // Sends the bytes to the group through the sending socket; false only on a socket error.
    bool SendTo(const void* bytes, int length);

    void OnReceive(int errorCode) override;

protected:
    // Hands one received datagram on: to the owner's SAP handler. `sender` is the sender's IPv4
    // address in network order.
    virtual void OnDatagram(BYTE* bytes, int length, DWORD sender);
    // A datagram that could not be read (the system's error code): to the owner's red line.
    virtual void OnUnreadable(int error, DWORD sender);

private:
    void LogDebug(const wchar_t* format, int error);

    CVelmoraManager* m_pOwner = nullptr;
    BOOL m_Joined = FALSE;
    BOOL m_SendingCreated = FALSE;
    UINT m_Port = 0;
    BYTE* m_pReceiveBuffer = nullptr;
    sockaddr_in m_GroupAddress = {};
    ip_mreq m_Membership = {};
    UINT m_SenderPort = 0;
    CString m_SenderAddress;
    CAsyncSocket m_SendingSocket;
};
