#include "http/CClientSocket.h"

#include "relay/CServiceRelay.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

CClientSocket::~CClientSocket()
{
    if (IsOpen()) {
        ShutDown(BOTH);
        Close();
    }
}

void CClientSocket::OnReceive(int errorCode)
{
    if (!m_bActive)
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (errorCode == WSAENETDOWN)
        return;
    auto buffer = std::make_unique<uint8_t[]>(READ_SIZE);
    const int n = Receive(buffer.get(), READ_SIZE);
    if (n > 0)
        m_bHeard = true;
    // The hub may destroy this connection (the offline answer ends it): touch nothing afterwards.
    if (n >= 0 && m_pRelay)
        m_pRelay->OnBrowserData(n, std::move(buffer));
}

void CClientSocket::OnClose(int)
{
    if (m_pRelay && m_pRelay->m_pClientSocket.get() == this)
        m_pRelay->OnBrowserClosed();
}
