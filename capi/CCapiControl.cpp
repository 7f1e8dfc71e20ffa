#include "capi/CCapiControl.h"

#include "capi/CapiConstants.h"
#include "relay/CServiceRelay.h"
#include "relay/IRelayApp.h"

#include <chrono>
#include <thread>

// Subaddress type "user specified", even number of digits, then the same three bytes in every call.
const uint8_t CCapiControl::CALLING_SUBADDRESS[5] = {4, 0xA0, 0x5B, 0x17, 0x00};
// B1 64 kbit/s with HDLC framing, B2 X.75 SLP, B3 transparent, empty configurations.
const uint8_t CCapiControl::B_PROTOCOL[10] = {9, 0, 0, 0, 0, 0, 0, 0, 0, 0};

CCapiControl::CCapiControl(CServiceRelay* relay, Options options)
    : CCapiOperations(std::move(options)), Relay(relay), State(CALL_IDLE), ConfirmEvent(false),
      ConnectionId(NO_CONNECTION), HangUpPending(false)
{
}

CCapiControl::~CCapiControl()
{
    // The release ends a call that is still up; the receive thread ends with it.
    Stop();
    Requests.RemoveAll();
}

int CCapiControl::Start()
{
    return CCapiOperations::Start();
}

void CCapiControl::Report(int code, uint16_t cause)
{
    if (!Relay)
        return;
    // The info value first, so that whoever sees the new state sees its cause.
    Relay->m_wLastInfo = cause;
    Relay->m_nState = code;
    IRelayApp* app = Relay->m_pApp;
    if (!app || !app->HasMainWindow())
        return;
    uint8_t block[CServiceRelay::EVENT_BLOCK_SIZE];
    CServiceRelay::BuildEventBlock(block, code, cause);
    app->DeliverToMainWindow(block, sizeof block);
}

bool CCapiControl::HangUpUnderway(int state)
{
    return state == CALL_TRANSITION || state == CALL_DISCONNECT_SENT;
}

bool CCapiControl::Advance(int next)
{
    int state = State;
    do {
        if (HangUpUnderway(state))
            return false;
    } while (!State.compare_exchange_weak(state, next));
    return true;
}

bool CCapiControl::IsCurrentCall(uint32_t plci) const
{
    const uint32_t id = ConnectionId;
    return State != CALL_IDLE && id != NO_CONNECTION && (plci & 0xFFFF) == (id & 0xFFFF);
}

bool CCapiControl::Connect(const char* number, const char* ownNumber)
{
    // The state is taken before the request goes out, since its confirmation
    // may be handled before the driver call returns.
    int idle = CALL_IDLE;
    if (!State.compare_exchange_strong(idle, CALL_CONNECT_SENT)) {
        Report(CServiceRelay::STATE_READY, 0);
        return false;
    }
    HangUpPending = false;
    uint32_t info = 0;
    if (!ConnectReq(number, ownNumber, CALLING_SUBADDRESS, B_PROTOCOL, &info)) {
        int sent = CALL_CONNECT_SENT;
        State.compare_exchange_strong(sent, CALL_IDLE);
        // Say why nothing happens; "Fehler" already says it when there is no driver.
        if (StartInfo != Capi::INFO_OK)
            info = StartInfo;
        if (Relay && Relay->m_nState != CServiceRelay::STATE_NO_CAPI)
            Report(CServiceRelay::STATE_READY, static_cast<uint16_t>(info));
        return false;
    }
    Report(CServiceRelay::STATE_DIALLING, 0);
    return true;
}

bool CCapiControl::Disconnect()
{
    const int before = State;
    if (before == CALL_IDLE || before == CALL_DISCONNECT_SENT)
        return true;
    Report(CServiceRelay::STATE_DISCONNECTING, 0);
    // Every step is taken with a compare-and-swap, so that a handler that
    // changes the state meanwhile is never overwritten.
    for (;;) {
        int state = State;
        switch (state) {
        case CALL_IDLE:
        case CALL_DISCONNECT_SENT:
            return true;
        case CALL_CONNECT_SENT:
            // No PLCI exists yet: clear the call once CONNECT_CONF names it.
            HangUpPending = true;
            if (State.compare_exchange_strong(state, CALL_DISCONNECT_SENT))
                return true;
            HangUpPending = false;
            continue;
        case CALL_CONNECT_CONFIRMED:
        case CALL_TRANSITION:
            if (!State.compare_exchange_strong(state, CALL_DISCONNECT_SENT))
                continue;
            DisconnectReq(ConnectionId);
            return true;
        case CALL_CONNECT_B3_SENT:
        case CALL_CONNECT_B3_CONFIRMED:
        case CALL_B3_ACTIVE: {
            if (!State.compare_exchange_strong(state, CALL_TRANSITION))
                continue;
            // The PLCI is kept before the request goes out: a DISCONNECT_IND
            // that answers it at once must find it and must not be overwritten.
            const uint32_t ncci = ConnectionId;
            ConnectionId = ncci & 0xFFFF;
            DisconnectB3Req(ncci);
            std::this_thread::sleep_for(std::chrono::milliseconds(DISCONNECT_PAUSE_MS));
            int held = CALL_TRANSITION;
            if (!State.compare_exchange_strong(held, CALL_DISCONNECT_SENT))
                return true;  // cleared meanwhile
            DisconnectReq(ConnectionId);
            return true;
        }
        default:
            return true;
        }
    }
}

int CCapiControl::SendData(std::unique_ptr<uint8_t[]>& block, int length)
{
    if (!block || length < 1 || length > Capi::MAX_DATA_BLOCK || State != CALL_B3_ACTIVE)
        return 0;
    ConfirmEvent.Reset();
    uint8_t* data = block.get();
    const uint16_t number = DataB3Req(ConnectionId, data, static_cast<uint16_t>(length));
    if (number)
        Requests.AddRequest(number, std::move(block));
    else
        block.reset();  // the driver never saw it
    ConfirmEvent.Wait(CONFIRM_WAIT_MS);
    return length;
}

void CCapiControl::OnConnectConf(uint16_t, uint32_t plci, uint16_t info)
{
    if (info != Capi::INFO_OK) {
        // The call was refused: ready again, with the reason in the status.
        HangUpPending = false;
        State = CALL_IDLE;
        Report(CServiceRelay::STATE_READY, info);
        return;
    }
    ConnectionId = plci;
    int state = CALL_CONNECT_SENT;
    if (State.compare_exchange_strong(state, CALL_CONNECT_CONFIRMED))
        return;
    if (state == CALL_DISCONNECT_SENT) {
        if (HangUpPending.exchange(false))
            DisconnectReq(plci);
        return;
    }
    Advance(CALL_CONNECT_CONFIRMED);
}

void CCapiControl::OnConnectActiveInd(uint16_t messageNumber, uint32_t plci, const char*, const char*)
{
    ConnectActiveResp(messageNumber, plci);
    if (HangUpUnderway(State))
        return;  // answered; the clearing goes on
    Report(CServiceRelay::STATE_CONNECTING, 0);
    ConnectionId = plci;
    if (!Advance(CALL_TRANSITION))
        return;
    ConnectB3Req(plci);
    int held = CALL_TRANSITION;
    State.compare_exchange_strong(held, CALL_CONNECT_B3_SENT);
}

void CCapiControl::OnConnectB3Conf(uint16_t, uint32_t ncci, uint16_t info)
{
    if (info == Capi::INFO_OK) {
        Advance(CALL_CONNECT_B3_CONFIRMED);
        return;
    }
    // No data link: clear the call; its DISCONNECT_IND reports the end.
    if (State == CALL_IDLE)
        return;
    if (Advance(CALL_DISCONNECT_SENT))
        DisconnectReq(ncci);
}

void CCapiControl::OnConnectB3ActiveInd(uint16_t, uint32_t ncci)
{
    ConnectB3ActiveResp(ncci);
    if (HangUpUnderway(State))
        return;
    // The NCCI before the state, since SendData reads them in that order.
    ConnectionId = ncci;
    if (!Advance(CALL_B3_ACTIVE)) {
        ConnectionId = ncci & 0xFFFF;
        return;
    }
    Report(CServiceRelay::STATE_CONNECTED, 0);
}

void CCapiControl::OnDisconnectInd(uint16_t, uint32_t plci, uint16_t reason)
{
    DisconnectResp(plci);
    // An indication about another PLCI (a declined incoming call) leaves the current call alone.
    if (!IsCurrentCall(plci))
        return;
    HangUpPending = false;
    State = CALL_IDLE;
    ConnectionId = NO_CONNECTION;
    Release();
    Report(CServiceRelay::STATE_READY, reason);
}

void CCapiControl::OnDataB3Ind(uint16_t, uint32_t ncci, const uint8_t* data, uint16_t dataLength,
                               uint16_t dataHandle, uint16_t)
{
    IRelayApp* app = Relay ? Relay->m_pApp : nullptr;
    if (data && dataLength >= 1 && (data[0] == CServiceRelay::TAG_DATA || data[0] == CServiceRelay::TAG_CONTROL) &&
        app && app->HasMainWindow())
        app->DeliverToMainWindow(data, dataLength);
    // Only now: the driver's buffer must not be given back while the window reads it.
    DataB3Resp(ncci, dataHandle);
}

void CCapiControl::OnDataB3Conf(uint16_t messageNumber, uint32_t, uint16_t, uint16_t)
{
    // The confirmation may overtake the sender's record; one that never gets a record is dropped.
    std::unique_ptr<uint8_t[]> block = Requests.TakeRequest(messageNumber, CONFIRM_WAIT_MS);
    if (!block)
        return;
    block.reset();
    ConfirmEvent.Set();
}

void CCapiControl::OnLinkLost(uint32_t info)
{
    // As if the network had cleared the call, with the library's error as reason.
    HangUpPending = false;
    State = CALL_IDLE;
    ConnectionId = NO_CONNECTION;
    Release();
    Report(CServiceRelay::STATE_READY, static_cast<uint16_t>(info));
}
