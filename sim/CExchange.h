#pragma once

#include "sim/CEventLoop.h"
#include "sim/CSimConfig.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class CCall;
class CCapiMessage;
class CClientLink;
class CDemoSite;
class CTraceLog;
class CTunnelDevice;

// The ISDN exchange: it listens on 127.0.0.1 for the library's remote-CAPI
// connections, keeps the registered clients and their calls, routes each
// message to its call, and answers what belongs to no call.
class CExchange {
public:
    CExchange(CEventLoop* loop, const CSimConfig* config, CTraceLog* trace);
    ~CExchange();
    CExchange(const CExchange&) = delete;
    CExchange& operator=(const CExchange&) = delete;

    // Opens the listening socket on the configured port; false with a reason.
    bool Listen(std::string& error);
    std::uint16_t Port() const { return m_nPort; }
    // Closes every client and call, for a clean end.
    void Shutdown();

    // From the client links.
    void OnRegistered(CClientLink& link);
    void OnMessage(CClientLink& link, const CCapiMessage& msg);
    void OnLinkClosed(CClientLink& link);

    // For the calls.
    void Send(int clientId, CCapiMessage msg);
    CClientLink* Link(int clientId);
    CEventLoop& Loop() { return *m_pLoop; }
    CTraceLog& Trace() { return *m_pTrace; }
    const CSimConfig& Config() const { return *m_pConfig; }
    std::unique_ptr<CTunnelDevice> MakeTunnel(const CSimConfig::SDevice& device, std::function<void()> wake);
    void OnCallFinished(std::uint32_t plci);
    // NCCI number for a new B3 connection, 1 to 0xFFFF, never 0.
    std::uint16_t NextNcci();

    std::size_t ClientCount() const { return m_links.size(); }
    std::size_t CallCount() const { return m_calls.size(); }

private:
    void OnAccept();
    bool AllocatePlci(std::uint32_t& plci);
    void OnConnectReq(CClientLink& link, const CCapiMessage& msg);
    void OfferIncoming(int clientId);
    void ReapLater();
    void Reap();

    CEventLoop* m_pLoop;             // the loop, not owned
    const CSimConfig* m_pConfig;     // devices and channel, not owned
    CTraceLog* m_pTrace;             // trace, not owned
    int m_listenFd = -1;             // listening socket
    std::uint16_t m_nPort = 0;       // port actually bound
    int m_nNextClient = 1;           // id of the next accepted connection
    std::uint8_t m_nNextPlci = 0;    // last PLCI byte given out
    std::uint16_t m_nNextNcci = 0;   // last NCCI number given out
    std::map<int, std::unique_ptr<CClientLink>> m_links; // connections by id
    std::map<std::uint32_t, std::unique_ptr<CCall>> m_calls; // calls by PLCI
    std::map<std::string, std::unique_ptr<CDemoSite>> m_sites; // demo device state by number
    bool m_bReapScheduled = false;   // closed links and finished calls are removed soon
};
