#pragma once

#include "sim/CEventLoop.h"
#include "sim/CSimConfig.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CCapiMessage;
class CExchange;
class CTunnelDevice;

// One call on the exchange, from the network's side of CAPI 2.0: the
// D-channel connection (PLCI), the B3 data connection (NCCI) on top of it,
// and the paced B channel between the client and the device. An outgoing
// call follows the device's behaviour; an incoming one is offered with
// CONNECT_IND and ends when the client declines it.
class CCall {
public:
    enum class EState {
        Setup,     // CONNECT_CONF sent; the far end has not reacted yet
        Ringing,   // the far end does not answer
        Connected, // CONNECT_ACTIVE_IND sent; no B3 connection
        B3Active,  // data flows
        Offered,   // incoming: CONNECT_IND sent, waiting for CONNECT_RESP
        Clearing,  // DISCONNECT_IND sent, waiting for DISCONNECT_RESP
        Gone,      // finished; the exchange removes it
    };

    // Most DATA_B3_IND that wait for their DATA_B3_RESP.
    static constexpr std::size_t DOWN_WINDOW = 7;
    // How long a cleared call waits for DISCONNECT_RESP, and an offered
    // call for CONNECT_RESP.
    static constexpr std::int64_t ANSWER_TIMEOUT_MICROS = 5 * 1000000LL;

    // device is null for a number the exchange does not know.
    CCall(CExchange* exchange, int clientId, std::uint32_t plci, const CSimConfig::SDevice* device, std::string called,
        std::string calling);
    ~CCall();
    CCall(const CCall&) = delete;
    CCall& operator=(const CCall&) = delete;

    // Outgoing: CONNECT_CONF has been sent; let the far end react.
    void StartOutgoing();
    // Incoming: offer the call with CONNECT_IND.
    void StartIncoming();
    // A message from the client addressed to this call's PLCI or NCCI.
    void OnMessage(const CCapiMessage& msg);

    std::uint32_t Plci() const { return m_nPlci; }
    std::uint32_t Ncci() const { return m_nNcci; }
    int ClientId() const { return m_nClientId; }
    EState State() const { return m_eState; }
    std::uint64_t BytesCarried() const { return m_nBytes; }

private:
    using TimerId = CEventLoop::TimerId;

    TimerId After(std::int64_t micros, std::function<void()> callback);
    void CancelTimers();
    void Note(const std::string& text);
    void Send(std::uint8_t command, std::uint8_t subcommand, std::uint16_t number, std::vector<std::uint8_t> params,
        std::vector<std::uint8_t> data = {});
    void Conf(const CCapiMessage& req, std::uint32_t address, std::uint16_t info);

    void FarEndReacts();
    void SendConnectActiveInd();
    void OnConnectB3Req(const CCapiMessage& msg);
    void OnDataB3Req(const CCapiMessage& msg);
    void OnDataB3Resp(std::uint16_t handle);
    void OnDisconnectB3Req(const CCapiMessage& msg);
    void OnDisconnectReq(const CCapiMessage& msg);
    void OnConnectResp(std::uint16_t reject);

    // Ends the B3 connection: pending data confirmed with an error, the
    // device dropped, DISCONNECT_B3_IND sent.
    void EndB3(std::uint16_t reasonB3);
    // Sends DISCONNECT_IND and waits for its response.
    void Clear(std::uint16_t reason, const std::string& why);
    void Finish();

    void ArmUp();
    void CompleteUp();
    void SchedulePump();
    void PumpDown();
    void SendDataInd(const std::vector<std::uint8_t>& block);
    void Count(std::size_t bytes);
    std::int64_t TransferMicros(std::size_t bytes) const;

    // A DATA_B3_REQ on its way through the B channel.
    struct SUpBlock {
        std::uint16_t Number;          // message number, for the CONF
        std::uint16_t Handle;          // data handle, for the CONF
        std::vector<std::uint8_t> Data; // the block
        std::int64_t Due;              // when it has crossed the channel
    };

    CExchange* m_pExchange;             // sends messages, owns this call; not owned
    int m_nClientId;                    // client link that placed or was offered the call
    std::uint32_t m_nPlci;              // controller and PLCI
    std::uint32_t m_nNcci = 0;          // NCCI while B3 exists, else 0
    const CSimConfig::SDevice* m_pDevice; // behaviour of the far end, null if unknown; not owned
    std::string m_strCalled;            // number dialled
    std::string m_strCalling;           // number of the caller
    EState m_eState = EState::Setup;    // where the call stands
    std::set<TimerId> m_timers;         // pending timers of this call
    std::unique_ptr<CTunnelDevice> m_pTunnel; // device end of the tunnel while B3 is up
    std::deque<SUpBlock> m_up;          // DATA_B3_REQ not yet confirmed, oldest first
    TimerId m_nUpTimer = 0;             // completes the oldest of m_up
    std::int64_t m_upFreeAt = 0;        // when the upward channel is free again
    std::deque<std::uint16_t> m_downUnanswered; // handles of DATA_B3_IND without response
    TimerId m_nDownTimer = 0;           // a block in transmission towards the client
    bool m_bPumpScheduled = false;      // a pump pass is already queued
    std::int64_t m_downFreeAt = 0;      // when the downward channel is free again
    std::uint16_t m_nNextHandle = 0;    // last data handle of a DATA_B3_IND
    std::uint64_t m_nBytes = 0;         // B-channel bytes carried, both ways
};
