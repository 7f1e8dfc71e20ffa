#include "http/CServSocket.h"

#include "http/CClientSocket.h"
#include "relay/CServiceRelay.h"

CServSocket::CServSocket(CServiceRelay* relay) : m_pRelay(relay)
{
    unsigned port = 0;
    if (!Create(0, FD_ACCEPT | FD_CLOSE, "127.0.0.1") || !GetSockName(port)) {
        Close();
        m_nPort = 0;
        return;
    }
    m_nPort = port;
    Listen(BACKLOG);
}

CServSocket::~CServSocket()
{
    DiscardPending();
    Close();
}

std::unique_ptr<CClientSocket> CServSocket::TakeOldestPending()
{
    if (m_pending.empty())
        return nullptr;
    std::unique_ptr<CClientSocket> oldest = std::move(m_pending.front());
    m_pending.pop_front();
    return oldest;
}

void CServSocket::DiscardPending()
{
    while (!m_pending.empty())
        m_pending.pop_front();
}

void CServSocket::OnAccept(int)
{
    auto connection = std::make_unique<CClientSocket>();
    if (Accept(*connection)) {
        connection->AsyncSelect(0);
        m_pending.push_back(std::move(connection));
    }
    if (m_pRelay)
        m_pRelay->ActivateNextConnection();
}

void CServSocket::OnReceive(int) {}
void CServSocket::OnSend(int) {}
void CServSocket::OnOutOfBandData(int) {}
void CServSocket::OnConnect(int) {}
void CServSocket::OnClose(int) {}
