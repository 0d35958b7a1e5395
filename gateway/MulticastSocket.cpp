#include "gateway/MulticastSocket.h"

#include "gateway/VelmoraManager.h"

CMulticastSocket::CMulticastSocket() = default;

CMulticastSocket::~CMulticastSocket()
{
    if (m_Joined) {
        setsockopt(m_hSocket, IPPROTO_IP, IP_DROP_MEMBERSHIP, reinterpret_cast<const char*>(&m_Membership),
                   sizeof(m_Membership));
    }
    if (m_SendingCreated) {
        m_SendingSocket.Close();
    }
    if (m_Joined) {
        Close();
    }
    delete[] m_pReceiveBuffer;
}

bool CMulticastSocket::JoinGroup(CVelmoraManager* owner, const CMfxString& interfaceIP,
                                 const CMfxString& group, UINT port)
{
    m_pOwner = owner;
    m_Port = port;
    return CreateReceivingSocket(port, interfaceIP, group) && CreateSendingSocket(interfaceIP);
}

bool CMulticastSocket::CreateReceivingSocket(UINT port, const CMfxString& interfaceIP,
                                             const CMfxString& group)
{
    // Other SAP listeners on this PC (browsers, receivers) hold the port with SO_REUSEADDR, and so
    // does this socket, so that every one of them hears every announcement. The option counts only
    // when it is set before the bind.
    bool created = Socket(SOCK_DGRAM, FD_READ) != FALSE;
    if (created) {
        BOOL reuse = TRUE;
        setsockopt(m_hSocket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
        // Room for a burst of announcements while this thread is busy elsewhere: a datagram that
        // finds the buffer full is lost until its sender's next announcement.
        int receiveBuffer = kSocketReceiveBuffer;
        setsockopt(m_hSocket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   sizeof(receiveBuffer));
        created = Bind(port, interfaceIP.GetString()) != FALSE;
    }
    if (!created) {
        const int error = static_cast<int>(::GetLastError());
        Close();
        LogDebug(L"CMulticastSocket::CreateReceivingSocket() Create failed, ::GetLastError() = %d\n", error);
        return false;
    }
    m_Joined = TRUE;

    CMfxString groupText = group;
    CMfxString interfaceText = interfaceIP;
    m_GroupAddress.sin_family = AF_INET;
    m_GroupAddress.sin_port = htons(static_cast<u_short>(port));
    m_GroupAddress.sin_addr.s_addr = inet_addr(groupText.GetAnsi());
    m_Membership.imr_multiaddr.s_addr = m_GroupAddress.sin_addr.s_addr;
    m_Membership.imr_interface.s_addr = inet_addr(interfaceText.GetAnsi());

    if (setsockopt(m_hSocket, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&m_Membership),
                   sizeof(m_Membership)) < 0) {
        LogDebug(L"CMulticastSocket::CreateReceivingSocket() setsockopt failed, ::GetLastError() = %d\n",
                 static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

bool CMulticastSocket::CreateSendingSocket(const CMfxString& interfaceIP)
{
    if (!m_SendingSocket.Create(0, SOCK_DGRAM, FD_WRITE, interfaceIP.GetString())) {
        LogDebug(L"CMulticastSocket::CreateSendingSocket() Create failed, ::GetLastError() = %d\n",
                 static_cast<int>(::GetLastError()));
        return false;
    }
    m_SendingCreated = TRUE;
    return true;
}

bool CMulticastSocket::SendTo(const void* bytes, int length)
{
    return m_SendingSocket.SendTo(bytes, length, reinterpret_cast<const SOCKADDR*>(&m_GroupAddress),
                                  sizeof(m_GroupAddress), 0) != SOCKET_ERROR;
}

void CMulticastSocket::OnReceive(int errorCode)
{
    if (m_pReceiveBuffer == nullptr) {
        m_pReceiveBuffer = new BYTE[kReceiveBufferSize];
    }
    sockaddr_in sender = {};
    int senderLength = sizeof(sender);
    int received = ReceiveFrom(m_pReceiveBuffer, kReceiveBufferSize, reinterpret_cast<SOCKADDR*>(&sender),
                               &senderLength, 0);
    if (received != SOCKET_ERROR) {
        const BYTE* address = reinterpret_cast<const BYTE*>(&sender.sin_addr);
        CMfxString text;
        text.Format(L"%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
        m_SenderAddress = text;
        m_SenderPort = ntohs(sender.sin_port);
        OnDatagram(m_pReceiveBuffer, received, sender.sin_addr.s_addr);
    } else {
        // A notification with nothing left to read is no loss; anything else is a datagram lost.
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            OnUnreadable(error, sender.sin_addr.s_addr);
        }
    }
    CAsyncSocket::OnReceive(errorCode);
}

void CMulticastSocket::OnDatagram(BYTE* bytes, int length, DWORD sender)
{
    if (m_pOwner != nullptr) {
        m_pOwner->OnSAPPacket(length, bytes, sender);
    }
}

void CMulticastSocket::OnUnreadable(int error, DWORD sender)
{
    if (m_pOwner != nullptr) {
        m_pOwner->OnSAPUnreadable(error, sender);
    }
}

void CMulticastSocket::LogDebug(const wchar_t* format, int error)
{
    if (m_pOwner != nullptr) {
        m_pOwner->LogDebug(0x10, format, error);
    }
}
