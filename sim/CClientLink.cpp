#include "sim/CClientLink.h"

#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"
#include "sim/CCapiMessage.h"
#include "sim/CEventLoop.h"
#include "sim/CExchange.h"
#include "sim/CSysApi.h"
#include "sim/CTraceLog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Command bytes of the library's own frames, with 0xFF as subcommand.
constexpr std::uint8_t RCAPI_REGISTER = 0xF2;
constexpr std::uint8_t RCAPI_MANUFACTURER = 0xFA;
constexpr std::uint8_t RCAPI_VERSION = 0xFC;
constexpr std::uint8_t RCAPI_SERIAL = 0xFE;
constexpr std::uint8_t RCAPI_PROFILE = 0xE0;

constexpr const char* MANUFACTURER = "Kestrin ISDN simulator";
constexpr const char* SERIAL = "0000042";

} // namespace

CClientLink::CClientLink(CExchange* exchange, CEventLoop* loop, CTraceLog* trace, int fd, int id)
    : m_pExchange(exchange)
    , m_pLoop(loop)
    , m_pTrace(trace)
    , m_fd(fd)
    , m_nId(id)
{
    m_pLoop->Watch(m_fd, POLLIN, [this](short revents) { OnEvents(revents); });
}

CClientLink::~CClientLink()
{
    if (m_fd >= 0) {
        m_pLoop->Unwatch(m_fd);
        CSysApi::Get().Close(m_fd);
    }
}

void CClientLink::Note(const std::string& text)
{
    m_pTrace->Note("client " + std::to_string(m_nId) + ": " + text);
}

void CClientLink::Close(const std::string& why)
{
    if (m_fd < 0)
        return;
    m_pLoop->Unwatch(m_fd);
    CSysApi::Get().Close(m_fd);
    m_fd = -1;
    Note("closed (" + why + ")");
    m_pExchange->OnLinkClosed(*this);
}

void CClientLink::OnEvents(short revents)
{
    if (revents & POLLOUT)
        Flush();
    if (m_fd >= 0 && (revents & (POLLIN | POLLHUP | POLLERR)))
        OnReadable();
}

void CClientLink::OnReadable()
{
    std::uint8_t buffer[16384];
    ssize_t n = CSysApi::Get().Recv(m_fd, buffer, sizeof buffer);
    if (n == 0) {
        Close(m_bRegistered ? "application released or client gone" : "client disconnected");
        return;
    }
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            Close(std::string("receive failed: ") + std::strerror(errno));
        return;
    }
    m_frames.Append(std::span(buffer, static_cast<std::size_t>(n)));
    std::vector<std::uint8_t> payload;
    std::string error;
    while (m_fd >= 0) {
        auto result = m_frames.Next(payload, error);
        if (result == CFrameAssembler::EResult::NeedMore)
            break;
        if (result == CFrameAssembler::EResult::Malformed) {
            Close("malformed frame: " + error);
            return;
        }
        HandleFrame(payload);
    }
}

void CClientLink::HandleFrame(std::span<const std::uint8_t> payload)
{
    // Payload bytes 4 and 5 hold command and subcommand in every frame.
    std::uint8_t command = payload[4];
    std::uint8_t subcommand = payload[5];
    if (subcommand == 0xFF) {
        if (command == RCAPI_REGISTER) {
            HandleRegister(payload);
            return;
        }
        if (command == RCAPI_MANUFACTURER || command == RCAPI_VERSION || command == RCAPI_SERIAL || command == RCAPI_PROFILE) {
            HandleQuery(command, payload);
            return;
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "malformed frame: unknown library command 0x%02x", command);
        Close(buf);
        return;
    }
    if (!m_bRegistered) {
        Close("malformed frame: CAPI message before registration");
        return;
    }
    std::string error;
    auto msg = CCapiMessage::Decode(payload, error);
    if (!msg) {
        Close("malformed frame: " + error);
        return;
    }
    if (!m_bApplKnown) {
        m_nApplId = msg->ApplId;
        m_bApplKnown = true;
    }
    m_pTrace->Message(CTraceLog::EDirection::FromClient, *msg);
    m_pExchange->OnMessage(*this, *msg);
}

void CClientLink::HandleRegister(std::span<const std::uint8_t> payload)
{
    CByteReader in(payload);
    in.Skip(8);
    in.U32();
    std::uint16_t bufferSize = in.U16();
    std::uint16_t maxConnections = in.U16();
    std::uint16_t maxBlocks = in.U16();
    std::uint16_t maxLength = in.U16();
    if (!in.Ok()) {
        Close("malformed frame: register request of " + std::to_string(payload.size()) + " bytes");
        return;
    }
    if (m_bRegistered) {
        Close("malformed frame: second register request on one connection");
        return;
    }
    char line[128];
    std::snprintf(line, sizeof line, "REGISTER client=%d bufsize=%u maxconn=%u maxblocks=%u maxlen=%u", m_nId, bufferSize,
        maxConnections, maxBlocks, maxLength);
    m_pTrace->Line("<-", line);
    // The register errors of the standard for values no application may use.
    std::uint16_t info = 0;
    if (maxConnections == 0)
        info = 0x1005;
    else if (maxLength < 128)
        info = 0x1002;
    CByteWriter out;
    out.U16(0).U16(0).U8(RCAPI_REGISTER + 1).U8(0xFF).U16(0).U16(info);
    SendFrame(out.Data());
    std::snprintf(line, sizeof line, "REGISTER_CONF client=%d info=0x%04x", m_nId, info);
    m_pTrace->Line("->", line);
    if (info != 0)
        return;
    m_bRegistered = true;
    m_nMaxConnections = maxConnections;
    m_nMaxBlocks = maxBlocks == 0 ? 1 : maxBlocks;
    m_nMaxLength = maxLength;
    m_pExchange->OnRegistered(*this);
}

void CClientLink::HandleQuery(std::uint8_t command, std::span<const std::uint8_t> payload)
{
    CByteReader in(payload);
    in.Skip(8);
    std::uint32_t controller = in.U32();
    if (!in.Ok()) {
        Close("malformed frame: query of " + std::to_string(payload.size()) + " bytes");
        return;
    }
    CByteWriter out;
    out.U16(0).U16(0).U8(static_cast<std::uint8_t>(command + 1)).U8(0xFF).U16(0);
    const char* name = "";
    std::string detail;
    switch (command) {
    case RCAPI_MANUFACTURER:
        name = "GET_MANUFACTURER";
        // The library skips the byte in front of the text.
        out.U8(0).Text(MANUFACTURER).Zeros(64 - std::strlen(MANUFACTURER));
        detail = std::string("\"") + MANUFACTURER + "\"";
        break;
    case RCAPI_VERSION:
        name = "GET_VERSION";
        out.U8(0).U32(2).U32(0).U32(1).U32(0);
        detail = "capi=2.0 sim=1.0";
        break;
    case RCAPI_SERIAL:
        name = "GET_SERIAL_NUMBER";
        out.U8(0).Text(SERIAL).Zeros(8 - std::strlen(SERIAL));
        detail = std::string("\"") + SERIAL + "\"";
        break;
    case RCAPI_PROFILE: {
        name = "GET_PROFILE";
        // Controller 0 asks how many controllers there are; 1 is the only one.
        if (controller == 0) {
            out.U16(0).U16(1).Zeros(62);
            detail = "info=0x0000 controllers=1";
        } else if (controller == 1) {
            out.U16(0)
                .U16(1)          // number of controllers
                .U16(2)          // B channels
                .U32(0x00000001) // global options: internal controller
                .U32(0x00000001) // B1: 64 kbit/s with HDLC framing
                .U32(0x00000001) // B2: ISO 7776 (X.75 SLP)
                .U32(0x00000001) // B3: transparent
                .Zeros(24 + 20);
            detail = "info=0x0000 controllers=1 bchannels=2";
        } else {
            out.U16(0x2002).Zeros(64);
            detail = "info=0x2002 (no such controller)";
        }
        break;
    }
    default:
        break;
    }
    char line[64];
    std::snprintf(line, sizeof line, "%s client=%d ctrl=%u", name, m_nId, controller);
    m_pTrace->Line("<-", line);
    SendFrame(out.Data());
    m_pTrace->Line("->", std::string(name) + "_CONF client=" + std::to_string(m_nId) + " " + detail);
}

void CClientLink::Send(CCapiMessage msg)
{
    if (m_fd < 0)
        return;
    msg.ApplId = m_nApplId;
    if (msg.Subcommand == CAPI_IND) {
        // Numbers run from 1 to 0x7FFF and wrap, as applications expect.
        m_nNextNumber = static_cast<std::uint16_t>(m_nNextNumber >= 0x7FFF ? 1 : m_nNextNumber + 1);
        msg.Number = m_nNextNumber;
    }
    m_pTrace->Message(CTraceLog::EDirection::ToClient, msg);
    SendFrame(msg.Encode());
}

void CClientLink::SendFrame(std::span<const std::uint8_t> payload)
{
    if (m_fd < 0)
        return;
    if (m_nOutOffset > 0 && m_nOutOffset == m_out.size()) {
        m_out.clear();
        m_nOutOffset = 0;
    }
    auto frame = CFrameAssembler::Frame(payload);
    m_out.insert(m_out.end(), frame.begin(), frame.end());
    if (m_out.size() - m_nOutOffset > MAX_OUTPUT) {
        Close("client does not read; output limit reached");
        return;
    }
    Flush();
}

void CClientLink::Flush()
{
    while (m_fd >= 0 && m_nOutOffset < m_out.size()) {
        ssize_t n = CSysApi::Get().Send(m_fd, m_out.data() + m_nOutOffset, m_out.size() - m_nOutOffset);
        if (n > 0) {
            m_nOutOffset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_pLoop->SetEvents(m_fd, POLLIN | POLLOUT);
            return;
        }
        if (n < 0 && errno == EINTR)
            continue;
        Close(std::string("send failed: ") + (n < 0 ? std::strerror(errno) : "no progress"));
        return;
    }
    if (m_fd >= 0)
        m_pLoop->SetEvents(m_fd, POLLIN);
}
