#pragma once

#include "sim/CEventLoop.h"
#include "sim/CTunnelSession.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One tunnelled connection handed on to an HTTP server on 127.0.0.1: the
// request bytes are written to a TCP connection to it, and whatever it
// answers goes back through the tunnel until it closes. Reading from the
// server pauses while the B channel has not taken the bytes already read.
class CForwardSession : public CTunnelSession {
public:
    // wake is called when answer bytes or the end become available.
    CForwardSession(CEventLoop* loop, std::uint16_t port, std::function<void()> wake);
    ~CForwardSession() override;
    CForwardSession(const CForwardSession&) = delete;
    CForwardSession& operator=(const CForwardSession&) = delete;

    void OnRequestBytes(std::span<const std::uint8_t> bytes) override;
    void OnBrowserClosed() override;
    std::size_t ReadResponse(std::uint8_t* buffer, std::size_t max) override;
    bool Finished() const override;

    // Most answer bytes held before reading from the server pauses.
    static constexpr std::size_t MAX_BUFFERED = 65536;
    // How long a server may take to finish after the browser has gone.
    static constexpr std::int64_t LINGER_MICROS = 10 * 1000000LL;

private:
    void OnEvents(short revents);
    void Fail(const std::string& why);
    void UpdateEvents();
    void CloseServer();

    CEventLoop* m_pLoop;                 // the simulator's loop, not owned
    std::function<void()> m_wake;        // tells the device that bytes are ready
    int m_fd = -1;                       // connection to the server, -1 once closed
    bool m_bConnected = false;           // the non-blocking connect has completed
    std::vector<std::uint8_t> m_toServer;   // request bytes not yet written
    std::vector<std::uint8_t> m_fromServer; // answer bytes not yet read out
    std::size_t m_nFromOffset = 0;       // bytes of m_fromServer read out
    bool m_bBrowserClosed = false;       // shut down our sending side once flushed
    bool m_bShutDown = false;            // SHUT_WR was done
    bool m_bServerDone = false;          // the server closed, failed or lingered too long
    CEventLoop::TimerId m_nLingerTimer = 0; // bound after the browser has gone
};
