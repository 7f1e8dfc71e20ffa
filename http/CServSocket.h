#pragma once

#include "platform/CAsyncSocket.h"

#include <deque>
#include <memory>

class CClientSocket;
class CServiceRelay;

// The loopback listener on 127.0.0.1 with a port the system chooses, and the
// first-in first-out list of accepted connections that wait to be served.
class CServSocket : public CAsyncSocket {
public:
    // Connections the system holds for the listener until it accepts them.
    // Five, as sockets once had it, overflows when many connect at once while
    // the main thread is busy (the overflow costs a browser a minute of
    // retries or a reset); every accepted one waits in m_pending anyway.
    static constexpr int BACKLOG = 128;

    explicit CServSocket(CServiceRelay* relay);
    ~CServSocket() override;

    // The oldest waiting connection, taken out of the list; null when none waits.
    std::unique_ptr<CClientSocket> TakeOldestPending();
    // Destroys every waiting connection, oldest first.
    void DiscardPending();

    void OnReceive(int errorCode) override;
    void OnSend(int errorCode) override;
    void OnOutOfBandData(int errorCode) override;
    void OnAccept(int errorCode) override;
    void OnConnect(int errorCode) override;
    void OnClose(int errorCode) override;

    std::deque<std::unique_ptr<CClientSocket>> m_pending;  // waiting connections, oldest first; main thread
    unsigned m_nPort = 0;                                  // the bound port; 0 when the listener could not be made
    CServiceRelay* m_pRelay;                               // the hub, not owned
};
