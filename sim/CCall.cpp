#include "sim/CCall.h"

#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"
#include "sim/CCapiMessage.h"
#include "sim/CClientLink.h"
#include "sim/CExchange.h"
#include "sim/CTraceLog.h"
#include "sim/CTunnelDevice.h"

#include <algorithm>
#include <cstdio>

namespace {

// Reasons and infos of the standard that the exchange gives.
constexpr std::uint16_t REASON_LOCAL_CLEARING = 0x3400;
constexpr std::uint16_t REASON_UNKNOWN_NUMBER = 0x3483;
constexpr std::uint16_t REASON_NORMAL_CLEARING = 0x3490;
constexpr std::uint16_t REASON_BUSY = 0x3491;
constexpr std::uint16_t REASON_NO_ANSWER = 0x3492;
constexpr std::uint16_t INFO_WRONG_STATE = 0x2001;
constexpr std::uint16_t INFO_ILLEGAL_IDENTIFIER = 0x2002;
constexpr std::uint16_t INFO_QUEUE_FULL = 0x1103;
constexpr std::uint16_t INFO_DATA_LENGTH = 0x300C;

std::string Hex(std::uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

std::string Hex4(std::uint16_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
}

std::vector<std::uint8_t> Digits(const std::string& number)
{
    return std::vector<std::uint8_t>(number.begin(), number.end());
}

} // namespace

CCall::CCall(CExchange* exchange, int clientId, std::uint32_t plci, const CSimConfig::SDevice* device, std::string called,
    std::string calling)
    : m_pExchange(exchange)
    , m_nClientId(clientId)
    , m_nPlci(plci)
    , m_pDevice(device)
    , m_strCalled(std::move(called))
    , m_strCalling(std::move(calling))
{
}

CCall::~CCall() { CancelTimers(); }

CCall::TimerId CCall::After(std::int64_t micros, std::function<void()> callback)
{
    auto holder = std::make_shared<TimerId>(0);
    TimerId id = m_pExchange->Loop().AddTimer(micros, [this, holder, callback = std::move(callback)]() {
        m_timers.erase(*holder);
        callback();
    });
    *holder = id;
    m_timers.insert(id);
    return id;
}

void CCall::CancelTimers()
{
    for (auto id : m_timers)
        m_pExchange->Loop().CancelTimer(id);
    m_timers.clear();
    m_nUpTimer = 0;
    m_nDownTimer = 0;
    m_bPumpScheduled = false;
}

void CCall::Note(const std::string& text) { m_pExchange->Trace().Note("call " + Hex(m_nPlci) + ": " + text); }

void CCall::Send(std::uint8_t command, std::uint8_t subcommand, std::uint16_t number, std::vector<std::uint8_t> params,
    std::vector<std::uint8_t> data)
{
    CCapiMessage msg;
    msg.Command = command;
    msg.Subcommand = subcommand;
    msg.Number = number;
    msg.Params = std::move(params);
    msg.Data = std::move(data);
    m_pExchange->Send(m_nClientId, std::move(msg));
}

void CCall::Conf(const CCapiMessage& req, std::uint32_t address, std::uint16_t info)
{
    CByteWriter p;
    p.U32(address).U16(info);
    Send(req.Command, CAPI_CONF, req.Number, p.Take());
}

std::int64_t CCall::TransferMicros(std::size_t bytes) const
{
    std::uint32_t rate = m_pExchange->Config().RateBytesPerSecond;
    if (rate == 0)
        return 0;
    return static_cast<std::int64_t>(bytes) * 1000000 / rate;
}

void CCall::StartOutgoing()
{
    m_eState = EState::Setup;
    After(m_pExchange->Config().SetupDelayMs * 1000, [this]() { FarEndReacts(); });
}

void CCall::FarEndReacts()
{
    if (!m_pDevice) {
        Clear(REASON_UNKNOWN_NUMBER, "number " + m_strCalled + " is not known");
        return;
    }
    switch (m_pDevice->Answer) {
    case CSimConfig::EAnswer::Busy:
        Clear(REASON_BUSY, "number " + m_strCalled + " is busy");
        return;
    case CSimConfig::EAnswer::NoAnswer:
        m_eState = EState::Ringing;
        Note("ringing at " + m_strCalled + ", nobody answers");
        After(m_pDevice->NoAnswerMs * 1000, [this]() { Clear(REASON_NO_ANSWER, "no answer from " + m_strCalled); });
        return;
    default:
        SendConnectActiveInd();
        return;
    }
}

void CCall::SendConnectActiveInd()
{
    m_eState = EState::Connected;
    Note("answered by " + m_strCalled);
    std::vector<std::uint8_t> connected { 0x00, 0x80 };
    auto digits = Digits(m_strCalled);
    connected.insert(connected.end(), digits.begin(), digits.end());
    CByteWriter p;
    p.U32(m_nPlci).Struct(connected).EmptyStruct().EmptyStruct();
    Send(CAPI_CONNECT_ACTIVE, CAPI_IND, 0, p.Take());
}

void CCall::StartIncoming()
{
    m_eState = EState::Offered;
    std::vector<std::uint8_t> called { 0x80 };
    auto calledDigits = Digits(m_strCalled);
    called.insert(called.end(), calledDigits.begin(), calledDigits.end());
    std::vector<std::uint8_t> calling { 0x00, 0x80 };
    auto callingDigits = Digits(m_strCalling);
    calling.insert(calling.end(), callingDigits.begin(), callingDigits.end());
    CByteWriter p;
    p.U32(m_nPlci)
        .U16(2) // unrestricted digital information
        .Struct(called)
        .Struct(calling)
        .EmptyStruct() // called party subaddress
        .EmptyStruct() // calling party subaddress
        .EmptyStruct() // BC
        .EmptyStruct() // LLC
        .EmptyStruct() // HLC
        .EmptyStruct(); // additional info
    Note("offering an incoming call from " + m_strCalling);
    Send(CAPI_CONNECT, CAPI_IND, 0, p.Take());
    After(ANSWER_TIMEOUT_MICROS, [this]() {
        if (m_eState == EState::Offered)
            Clear(REASON_NORMAL_CLEARING, "incoming call not answered; the caller gives up");
    });
}

void CCall::OnMessage(const CCapiMessage& msg)
{
    CByteReader in(msg.Params);
    in.U32();
    switch (msg.Command | (msg.Subcommand << 8)) {
    case CAPI_CONNECT | (CAPI_RESP << 8): {
        std::uint16_t reject = in.U16();
        if (m_eState == EState::Offered)
            OnConnectResp(reject);
        else
            Note("CONNECT_RESP for a call that was not offered: ignored");
        return;
    }
    case CAPI_CONNECT_ACTIVE | (CAPI_RESP << 8):
    case CAPI_CONNECT_B3_ACTIVE | (CAPI_RESP << 8):
    case CAPI_DISCONNECT_B3 | (CAPI_RESP << 8):
    case CAPI_INFO | (CAPI_RESP << 8):
    case CAPI_CONNECT_B3 | (CAPI_RESP << 8):
        return;
    case CAPI_CONNECT_B3 | (CAPI_REQ << 8):
        OnConnectB3Req(msg);
        return;
    case CAPI_DATA_B3 | (CAPI_REQ << 8):
        OnDataB3Req(msg);
        return;
    case CAPI_DATA_B3 | (CAPI_RESP << 8):
        OnDataB3Resp(in.U16());
        return;
    case CAPI_DISCONNECT_B3 | (CAPI_REQ << 8):
        OnDisconnectB3Req(msg);
        return;
    case CAPI_DISCONNECT | (CAPI_REQ << 8):
        OnDisconnectReq(msg);
        return;
    case CAPI_DISCONNECT | (CAPI_RESP << 8):
        if (m_eState == EState::Clearing)
            Finish();
        return;
    default:
        Note(msg.Name() + " not expected here: ignored");
        return;
    }
}

void CCall::OnConnectResp(std::uint16_t reject)
{
    CancelTimers();
    if (reject != 0)
        Clear(0, "incoming call declined (reject=" + std::to_string(reject) + ")");
    else
        Clear(REASON_NORMAL_CLEARING, "incoming call accepted; this exchange offers none to keep, the caller hangs up");
}

void CCall::OnConnectB3Req(const CCapiMessage& msg)
{
    if (m_eState != EState::Connected) {
        Conf(msg, m_nPlci, INFO_WRONG_STATE);
        return;
    }
    if (m_pDevice && m_pDevice->Answer == CSimConfig::EAnswer::RefuseB3) {
        Note("the device refuses the B3 connection");
        Conf(msg, m_nPlci, m_pDevice->RefuseInfo);
        return;
    }
    m_nNcci = (m_nPlci & 0xFFFF) | (static_cast<std::uint32_t>(m_pExchange->NextNcci()) << 16);
    Conf(msg, m_nNcci, 0);
    m_eState = EState::B3Active;
    m_upFreeAt = m_downFreeAt = m_pExchange->Loop().Now();
    m_pTunnel = m_pExchange->MakeTunnel(*m_pDevice, [this]() { SchedulePump(); });
    CByteWriter p;
    p.U32(m_nNcci).EmptyStruct();
    Send(CAPI_CONNECT_B3_ACTIVE, CAPI_IND, 0, p.Take());
}

void CCall::OnDataB3Req(const CCapiMessage& msg)
{
    CByteReader in(msg.Params);
    std::uint32_t ncci = in.U32();
    in.U32();
    std::uint16_t length = in.U16();
    std::uint16_t handle = in.U16();
    auto conf = [&](std::uint16_t info) {
        CByteWriter p;
        p.U32(ncci).U16(handle).U16(info);
        Send(CAPI_DATA_B3, CAPI_CONF, msg.Number, p.Take());
    };
    if (m_eState != EState::B3Active || ncci != m_nNcci) {
        conf(m_eState == EState::B3Active ? INFO_ILLEGAL_IDENTIFIER : INFO_WRONG_STATE);
        return;
    }
    CClientLink* link = m_pExchange->Link(m_nClientId);
    if (link && length > link->MaxBDataLen()) {
        conf(INFO_DATA_LENGTH);
        return;
    }
    if (link && m_up.size() >= link->MaxBDataBlocks()) {
        conf(INFO_QUEUE_FULL);
        return;
    }
    std::int64_t now = m_pExchange->Loop().Now();
    std::int64_t due = std::max(now, m_upFreeAt) + TransferMicros(msg.Data.size());
    m_upFreeAt = due;
    m_up.push_back(SUpBlock { msg.Number, handle, msg.Data, due });
    if (m_up.size() == 1)
        ArmUp();
}

void CCall::ArmUp()
{
    if (m_up.empty() || m_nUpTimer != 0)
        return;
    std::int64_t wait = m_up.front().Due - m_pExchange->Loop().Now();
    m_nUpTimer = After(wait, [this]() {
        m_nUpTimer = 0;
        CompleteUp();
    });
}

void CCall::CompleteUp()
{
    if (m_up.empty() || m_eState != EState::B3Active)
        return;
    SUpBlock block = std::move(m_up.front());
    m_up.pop_front();
    CByteWriter p;
    p.U32(m_nNcci).U16(block.Handle).U16(0);
    Send(CAPI_DATA_B3, CAPI_CONF, block.Number, p.Take());
    if (m_pTunnel)
        m_pTunnel->OnBlock(block.Data);
    Count(block.Data.size());
    if (m_eState != EState::B3Active)
        return;
    SchedulePump();
    ArmUp();
}

void CCall::OnDataB3Resp(std::uint16_t handle)
{
    auto it = std::find(m_downUnanswered.begin(), m_downUnanswered.end(), handle);
    if (it != m_downUnanswered.end()) {
        m_downUnanswered.erase(it);
    } else if (!m_downUnanswered.empty()) {
        Note("DATA_B3_RESP with unknown handle " + std::to_string(handle) + " taken for the oldest indication");
        m_downUnanswered.pop_front();
    } else {
        Note("DATA_B3_RESP without an unanswered indication: ignored");
        return;
    }
    SchedulePump();
}

void CCall::SchedulePump()
{
    if (m_bPumpScheduled || m_eState != EState::B3Active)
        return;
    m_bPumpScheduled = true;
    After(0, [this]() {
        m_bPumpScheduled = false;
        PumpDown();
    });
}

void CCall::PumpDown()
{
    if (m_eState != EState::B3Active || !m_pTunnel || m_nDownTimer != 0)
        return;
    CClientLink* link = m_pExchange->Link(m_nClientId);
    std::size_t window = link ? std::min<std::size_t>(DOWN_WINDOW, link->MaxBDataBlocks()) : DOWN_WINDOW;
    std::size_t maxLength = link ? std::min<std::size_t>(CTunnelDevice::MAX_BLOCK, link->MaxBDataLen()) : CTunnelDevice::MAX_BLOCK;
    while (m_eState == EState::B3Active && m_downUnanswered.size() < window) {
        auto block = m_pTunnel->TakeBlock(maxLength);
        if (!block)
            return;
        std::int64_t now = m_pExchange->Loop().Now();
        std::int64_t due = std::max(now, m_downFreeAt) + TransferMicros(block->size());
        m_downFreeAt = due;
        if (due <= now) {
            SendDataInd(*block);
            continue;
        }
        // The block reaches the client once it has crossed the channel.
        m_nDownTimer = After(due - now, [this, data = std::move(*block)]() {
            m_nDownTimer = 0;
            SendDataInd(data);
            PumpDown();
        });
        return;
    }
}

void CCall::SendDataInd(const std::vector<std::uint8_t>& block)
{
    if (m_eState != EState::B3Active)
        return;
    m_nNextHandle = static_cast<std::uint16_t>(m_nNextHandle == 0xFFFF ? 1 : m_nNextHandle + 1);
    CByteWriter p;
    p.U32(m_nNcci).U32(0).U16(static_cast<std::uint16_t>(block.size())).U16(m_nNextHandle).U16(0);
    m_downUnanswered.push_back(m_nNextHandle);
    Send(CAPI_DATA_B3, CAPI_IND, 0, p.Take(), block);
    Count(block.size());
}

void CCall::Count(std::size_t bytes)
{
    m_nBytes += bytes;
    if (!m_pDevice || m_pDevice->ClearAfterBytes == 0 || m_nBytes < m_pDevice->ClearAfterBytes)
        return;
    if (m_eState != EState::B3Active)
        return;
    Note("network drops the call after " + std::to_string(m_nBytes) + " bytes");
    Clear(REASON_NORMAL_CLEARING, "cleared by the network");
}

void CCall::EndB3(std::uint16_t reasonB3)
{
    if (m_nNcci == 0)
        return;
    // Requests still in the channel never arrive; confirm them so the
    // client gets its buffers back.
    while (!m_up.empty()) {
        SUpBlock& block = m_up.front();
        CByteWriter p;
        p.U32(m_nNcci).U16(block.Handle).U16(INFO_WRONG_STATE);
        Send(CAPI_DATA_B3, CAPI_CONF, block.Number, p.Take());
        m_up.pop_front();
    }
    if (m_nUpTimer) {
        m_pExchange->Loop().CancelTimer(m_nUpTimer);
        m_timers.erase(m_nUpTimer);
        m_nUpTimer = 0;
    }
    if (m_nDownTimer) {
        m_pExchange->Loop().CancelTimer(m_nDownTimer);
        m_timers.erase(m_nDownTimer);
        m_nDownTimer = 0;
    }
    m_downUnanswered.clear();
    if (m_pTunnel) {
        Note("device served " + std::to_string(m_pTunnel->ConnectionsEnded()) + " of "
            + std::to_string(m_pTunnel->ConnectionsStarted()) + " connections, " + std::to_string(m_nBytes) + " bytes carried");
    }
    m_pTunnel.reset();
    CByteWriter p;
    p.U32(m_nNcci).U16(reasonB3).EmptyStruct();
    Send(CAPI_DISCONNECT_B3, CAPI_IND, 0, p.Take());
    m_nNcci = 0;
    if (m_eState == EState::B3Active)
        m_eState = EState::Connected;
}

void CCall::OnDisconnectB3Req(const CCapiMessage& msg)
{
    CByteReader in(msg.Params);
    std::uint32_t ncci = in.U32();
    if (m_eState != EState::B3Active || ncci != m_nNcci) {
        Conf(msg, ncci, m_eState == EState::B3Active ? INFO_ILLEGAL_IDENTIFIER : INFO_WRONG_STATE);
        return;
    }
    Conf(msg, ncci, 0);
    EndB3(0);
}

void CCall::OnDisconnectReq(const CCapiMessage& msg)
{
    if (m_eState == EState::Clearing || m_eState == EState::Gone || m_eState == EState::Offered) {
        Conf(msg, m_nPlci, INFO_WRONG_STATE);
        return;
    }
    Conf(msg, m_nPlci, 0);
    CancelTimers();
    if (m_eState == EState::B3Active)
        EndB3(0);
    Clear(REASON_LOCAL_CLEARING, "cleared by the client");
}

void CCall::Clear(std::uint16_t reason, const std::string& why)
{
    CancelTimers();
    // The B3 connection goes first, with a plain reason of its own.
    if (m_nNcci != 0)
        EndB3(0);
    Note(why + "; reason " + Hex4(reason));
    m_eState = EState::Clearing;
    CByteWriter p;
    p.U32(m_nPlci).U16(reason);
    Send(CAPI_DISCONNECT, CAPI_IND, 0, p.Take());
    After(ANSWER_TIMEOUT_MICROS, [this]() {
        Note("no DISCONNECT_RESP; the call is removed all the same");
        Finish();
    });
}

void CCall::Finish()
{
    if (m_eState == EState::Gone)
        return;
    CancelTimers();
    m_pTunnel.reset();
    m_eState = EState::Gone;
    m_pExchange->OnCallFinished(m_nPlci);
}
