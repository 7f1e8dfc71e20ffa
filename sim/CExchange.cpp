#include "sim/CExchange.h"

#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"
#include "sim/CCall.h"
#include "sim/CCapiMessage.h"
#include "sim/CClientLink.h"
#include "sim/CDemoSession.h"
#include "sim/CDemoSite.h"
#include "sim/CForwardSession.h"
#include "sim/CSysApi.h"
#include "sim/CTraceLog.h"
#include "sim/CTunnelDevice.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint16_t INFO_WRONG_STATE = 0x2001;
constexpr std::uint16_t INFO_ILLEGAL_IDENTIFIER = 0x2002;
constexpr std::uint16_t INFO_NO_PLCI = 0x2003;
constexpr std::uint16_t INFO_FACILITY_NOT_SUPPORTED = 0x300B;

// The digits of a called or calling party number struct's content.
std::string NumberOf(std::span<const std::uint8_t> content, bool withPresentation)
{
    std::size_t skip = 1;
    if (withPresentation && !content.empty() && (content[0] & 0x80) == 0)
        skip = 2;
    if (content.size() <= skip)
        return {};
    return std::string(content.begin() + static_cast<std::ptrdiff_t>(skip), content.end());
}

} // namespace

CExchange::CExchange(CEventLoop* loop, const CSimConfig* config, CTraceLog* trace)
    : m_pLoop(loop)
    , m_pConfig(config)
    , m_pTrace(trace)
{
}

CExchange::~CExchange() { Shutdown(); }

bool CExchange::Listen(std::string& error)
{
    CSysApi& sys = CSysApi::Get();
    m_listenFd = sys.Socket(AF_INET, SOCK_STREAM, 0);
    if (m_listenFd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int one = 1;
    sys.SetSockOpt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(m_pConfig->Port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (sys.Bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0
        || sys.Listen(m_listenFd, 16) < 0
        || sys.GetSockName(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) < 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(m_pConfig->Port) + ": " + std::strerror(errno);
        sys.Close(m_listenFd);
        m_listenFd = -1;
        return false;
    }
    m_nPort = ntohs(addr.sin_port);
    m_pLoop->Watch(m_listenFd, POLLIN, [this](short) { OnAccept(); });
    m_pTrace->Note("exchange listening on 127.0.0.1:" + std::to_string(m_nPort));
    return true;
}

void CExchange::Shutdown()
{
    if (m_listenFd >= 0) {
        m_pLoop->Unwatch(m_listenFd);
        CSysApi::Get().Close(m_listenFd);
        m_listenFd = -1;
    }
    for (auto& [plci, call] : m_calls) {
        (void)call;
        char buf[64];
        std::snprintf(buf, sizeof buf, "call 0x%x: dropped, the exchange stops", plci);
        m_pTrace->Note(buf);
    }
    m_calls.clear();
    m_links.clear();
}

void CExchange::OnAccept()
{
    CSysApi& sys = CSysApi::Get();
    for (;;) {
        int fd = sys.Accept(m_listenFd, nullptr, nullptr);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
                m_pTrace->Note(std::string("accept failed: ") + std::strerror(errno));
            return;
        }
        // The library sends every message with its own send(); without this
        // each small answer would wait for a delayed acknowledgement.
        int one = 1;
        sys.SetSockOpt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int id = m_nNextClient++;
        m_pTrace->Note("client " + std::to_string(id) + ": connected");
        m_links[id] = std::make_unique<CClientLink>(this, m_pLoop, m_pTrace, fd, id);
    }
}

CClientLink* CExchange::Link(int clientId)
{
    auto it = m_links.find(clientId);
    if (it == m_links.end() || it->second->Closed())
        return nullptr;
    return it->second.get();
}

void CExchange::Send(int clientId, CCapiMessage msg)
{
    if (CClientLink* link = Link(clientId))
        link->Send(std::move(msg));
}

void CExchange::OnRegistered(CClientLink& link)
{
    if (!m_pConfig->Incoming)
        return;
    int id = link.Id();
    m_pLoop->AddTimer(m_pConfig->Incoming->DelayMs * 1000, [this, id]() { OfferIncoming(id); });
}

void CExchange::OfferIncoming(int clientId)
{
    if (!Link(clientId))
        return;
    std::uint32_t plci = 0;
    if (!AllocatePlci(plci)) {
        m_pTrace->Note("no PLCI free for the incoming call");
        return;
    }
    auto call = std::make_unique<CCall>(this, clientId, plci, nullptr, m_pConfig->Incoming->Called, m_pConfig->Incoming->Calling);
    CCall* raw = call.get();
    m_calls[plci] = std::move(call);
    raw->StartIncoming();
}

bool CExchange::AllocatePlci(std::uint32_t& plci)
{
    for (int tries = 0; tries < 255; ++tries) {
        m_nNextPlci = static_cast<std::uint8_t>(m_nNextPlci == 0xFF ? 1 : m_nNextPlci + 1);
        std::uint32_t candidate = 0x01u | (static_cast<std::uint32_t>(m_nNextPlci) << 8);
        if (!m_calls.count(candidate)) {
            plci = candidate;
            return true;
        }
    }
    return false;
}

std::uint16_t CExchange::NextNcci()
{
    m_nNextNcci = static_cast<std::uint16_t>(m_nNextNcci == 0xFFFF ? 1 : m_nNextNcci + 1);
    return m_nNextNcci;
}

void CExchange::OnConnectReq(CClientLink& link, const CCapiMessage& msg)
{
    CByteReader in(msg.Params);
    std::uint32_t controller = in.U32();
    in.U16(); // CIP value
    auto called = in.Struct();
    auto calling = in.Struct();
    in.Struct(); // called party subaddress
    in.Struct(); // calling party subaddress
    in.Struct(); // B protocol
    if (!in.Ok()) {
        link.Close("malformed frame: CONNECT_REQ parameters run past the message");
        return;
    }
    auto conf = [&](std::uint32_t address, std::uint16_t info) {
        CByteWriter p;
        p.U32(address).U16(info);
        CCapiMessage reply;
        reply.Command = CAPI_CONNECT;
        reply.Subcommand = CAPI_CONF;
        reply.Number = msg.Number;
        reply.Params = p.Take();
        link.Send(std::move(reply));
    };
    if ((controller & 0x7F) != 1) {
        conf(controller, INFO_ILLEGAL_IDENTIFIER);
        return;
    }
    std::size_t calls = 0;
    for (auto& [plci, call] : m_calls)
        calls += call->ClientId() == link.Id() && call->State() != CCall::EState::Gone;
    std::uint32_t plci = 0;
    if (calls >= link.MaxLogicalConnections() || !AllocatePlci(plci)) {
        conf(controller, INFO_NO_PLCI);
        return;
    }
    std::string number = NumberOf(called, false);
    conf(plci, 0);
    auto call = std::make_unique<CCall>(this, link.Id(), plci, m_pConfig->FindDevice(number), number, NumberOf(calling, true));
    CCall* raw = call.get();
    m_calls[plci] = std::move(call);
    raw->StartOutgoing();
}

void CExchange::OnMessage(CClientLink& link, const CCapiMessage& msg)
{
    auto reply = [&](std::vector<std::uint8_t> params) {
        CCapiMessage out;
        out.Command = msg.Command;
        out.Subcommand = CAPI_CONF;
        out.Number = msg.Number;
        out.Params = std::move(params);
        link.Send(std::move(out));
    };
    CByteReader in(msg.Params);
    std::uint32_t address = in.U32();
    if (!in.Ok()) {
        link.Close("malformed frame: " + msg.Name() + " without an address");
        return;
    }
    switch (msg.Command | (msg.Subcommand << 8)) {
    case CAPI_CONNECT | (CAPI_REQ << 8):
        OnConnectReq(link, msg);
        return;
    case CAPI_LISTEN | (CAPI_REQ << 8): {
        CByteWriter p;
        p.U32(address).U16((address & 0x7F) == 1 ? 0 : INFO_ILLEGAL_IDENTIFIER);
        reply(p.Take());
        return;
    }
    case CAPI_FACILITY | (CAPI_REQ << 8): {
        std::uint16_t selector = in.U16();
        CByteWriter p;
        p.U32(address).U16(INFO_FACILITY_NOT_SUPPORTED).U16(selector).EmptyStruct();
        reply(p.Take());
        return;
    }
    case CAPI_ALERT | (CAPI_REQ << 8):
    case CAPI_INFO | (CAPI_REQ << 8):
    case CAPI_SELECT_B_PROTOCOL | (CAPI_REQ << 8):
    case CAPI_RESET_B3 | (CAPI_REQ << 8): {
        CByteWriter p;
        p.U32(address).U16(INFO_WRONG_STATE);
        reply(p.Take());
        return;
    }
    default:
        break;
    }
    auto it = m_calls.find(address & 0xFFFF);
    if (it != m_calls.end() && it->second->ClientId() == link.Id() && it->second->State() != CCall::EState::Gone) {
        it->second->OnMessage(msg);
        return;
    }
    if (msg.Subcommand != CAPI_REQ) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "client %d: %s for no call (0x%x): ignored", link.Id(), msg.Name().c_str(), address);
        m_pTrace->Note(buf);
        return;
    }
    CByteWriter p;
    p.U32(address);
    if (msg.Is(CAPI_DATA_B3, CAPI_REQ)) {
        CByteReader data(msg.Params);
        data.Skip(10);
        p.U16(data.U16());
    }
    p.U16(INFO_ILLEGAL_IDENTIFIER);
    reply(p.Take());
}

void CExchange::OnLinkClosed(CClientLink&) { ReapLater(); }

void CExchange::OnCallFinished(std::uint32_t) { ReapLater(); }

void CExchange::ReapLater()
{
    if (m_bReapScheduled)
        return;
    m_bReapScheduled = true;
    m_pLoop->AddTimer(0, [this]() {
        m_bReapScheduled = false;
        Reap();
    });
}

void CExchange::Reap()
{
    for (auto it = m_calls.begin(); it != m_calls.end();) {
        bool gone = it->second->State() == CCall::EState::Gone;
        if (!gone && !Link(it->second->ClientId())) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "call 0x%x: dropped, its client is gone", it->first);
            m_pTrace->Note(buf);
            gone = true;
        }
        it = gone ? m_calls.erase(it) : std::next(it);
    }
    for (auto it = m_links.begin(); it != m_links.end();)
        it = it->second->Closed() ? m_links.erase(it) : std::next(it);
}

std::unique_ptr<CTunnelDevice> CExchange::MakeTunnel(const CSimConfig::SDevice& device, std::function<void()> wake)
{
    std::string prefix = "device " + device.Number + ": ";
    auto note = [this, prefix](const std::string& text) { m_pTrace->Note(prefix + text); };
    CTunnelDevice::SessionFactory factory;
    if (device.Answer == CSimConfig::EAnswer::Forward) {
        std::uint16_t port = device.ForwardPort;
        factory = [this, port, wake]() -> std::unique_ptr<CTunnelSession> {
            return std::make_unique<CForwardSession>(m_pLoop, port, wake);
        };
    } else {
        auto& site = m_sites[device.Number];
        if (!site)
            site = std::make_unique<CDemoSite>(device.Number);
        CDemoSite* raw = site.get();
        factory = [raw]() -> std::unique_ptr<CTunnelSession> { return std::make_unique<CDemoSession>(raw); };
    }
    return std::make_unique<CTunnelDevice>(std::move(factory), std::move(note));
}
