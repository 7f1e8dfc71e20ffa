#pragma once

#include "capi/CCapiOperations.h"
#include "capi/CDataB3ReqList.h"
#include "platform/CAutoResetEvent.h"
#include "relay/ICapiControl.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CServiceRelay;

// Places, carries and clears the one ISDN data call: dials, brings up the
// transparent B-channel link, hands the device's blocks to the main window,
// sends the browser's blocks, clears on request, and reports each step to the
// relay hub.
class CCapiControl : public CCapiOperations, public ICapiControl {
public:
    // Call states (State).
    enum CallState {
        CALL_IDLE = 0,
        CALL_CONNECT_SENT = 1,
        CALL_CONNECT_CONFIRMED = 2,
        CALL_DISCONNECT_SENT = 5,
        CALL_TRANSITION = 7,
        CALL_CONNECT_B3_SENT = 8,
        CALL_CONNECT_B3_CONFIRMED = 10,
        CALL_B3_ACTIVE = 11,
    };
    // Longest wait of SendData for its confirmation, and of a confirmation for its record.
    static constexpr int CONFIRM_WAIT_MS = 2500;
    // Pause between DISCONNECT_B3_REQ and DISCONNECT_REQ, so that a crossing
    // DISCONNECT_IND is seen first.
    static constexpr int DISCONNECT_PAUSE_MS = 200;
    // No ConnectionId: the value when there is no call.
    static constexpr uint32_t NO_CONNECTION = 1;
    // The structs that every CONNECT_REQ carries.
    static const uint8_t CALLING_SUBADDRESS[5];
    static const uint8_t B_PROTOCOL[10];

    // Main thread. `relay` must outlive the controller. No driver call is made.
    explicit CCapiControl(CServiceRelay* relay, Options options = Options());
    ~CCapiControl() override;

    int Start() override;
    bool Connect(const char* number, const char* ownNumber) override;
    bool Disconnect() override;
    int SendData(std::unique_ptr<uint8_t[]>& block, int length) override;

    void OnConnectConf(uint16_t messageNumber, uint32_t plci, uint16_t info) override;
    void OnConnectB3Conf(uint16_t messageNumber, uint32_t ncci, uint16_t info) override;
    void OnDataB3Conf(uint16_t messageNumber, uint32_t ncci, uint16_t dataHandle, uint16_t info) override;
    void OnConnectActiveInd(uint16_t messageNumber, uint32_t plci, const char* connectedNumber,
                            const char* connectedSubaddress) override;
    void OnConnectB3ActiveInd(uint16_t messageNumber, uint32_t ncci) override;
    void OnDisconnectInd(uint16_t messageNumber, uint32_t plci, uint16_t reason) override;
    void OnDataB3Ind(uint16_t messageNumber, uint32_t ncci, const uint8_t* data, uint16_t dataLength,
                     uint16_t dataHandle, uint16_t flags) override;

    CDataB3ReqList Requests;              // outstanding DATA_B3 requests and their blocks; has its own lock
    CServiceRelay* Relay;                 // the hub that created the controller, not owned
    std::atomic<int> State;               // atomic, changed by compare-and-swap: the call state; main, pump and receive thread
    CAutoResetEvent ConfirmEvent;         // thread-safe: signalled by every DATA_B3_CONF that finds its record
    std::atomic<uint32_t> ConnectionId;   // atomic: PLCI or NCCI of the current call; NO_CONNECTION when none
    std::atomic<bool> HangUpPending;      // atomic: a hang-up came before CONNECT_CONF; clear once the PLCI is known

protected:
    void OnLinkLost(uint32_t info) override;

private:
    // Writes the relay's state and info value, then hands the event block to
    // the main window and returns once it has been handled.
    void Report(int code, uint16_t cause);
    // Moves the call on to `next` unless a hang-up is under way; true when it did.
    bool Advance(int next);
    static bool HangUpUnderway(int state);
    // Whether a DISCONNECT_IND for `plci` is about the current call.
    bool IsCurrentCall(uint32_t plci) const;
};
