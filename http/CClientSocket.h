#pragma once

#include "platform/CAsyncSocket.h"

#include <chrono>

class CServiceRelay;

// One accepted browser connection: waiting in the listener's list (no events,
// bytes unread) or in service (read, write and close events on).
class CClientSocket : public CAsyncSocket {
public:
    // Most bytes taken from the browser by one read, so that a tunnel block with its tag fits 2048.
    static constexpr int READ_SIZE = 2047;

    CClientSocket() = default;
    ~CClientSocket() override;

    void OnReceive(int errorCode) override;
    void OnClose(int errorCode) override;

    CServiceRelay* m_pRelay = nullptr;  // the hub, set when the connection enters service; not owned
    bool m_bActive = false;             // true from the moment the connection enters service
    bool m_bHeard = false;              // the browser has sent at least one byte while in service
    std::chrono::steady_clock::time_point m_tInService;  // when the connection entered service
};
