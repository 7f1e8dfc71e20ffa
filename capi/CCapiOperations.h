#pragma once

#include "capi/CCapiInterface.h"

#include <atomic>
#include <cstdint>
#include <thread>

class CCapiMessageWriter;

// The only place where CAPI messages are built and decoded: the twelve
// builders, the receive thread with its dispatch, and the virtual handlers,
// whose defaults send the responses that the standard requires.
class CCapiOperations : public CCapiInterface {
public:
    explicit CCapiOperations(Options options = Options());
    ~CCapiOperations() override;

    // Advances the message number; after 0x7FFF comes 1. Any thread.
    uint16_t NextMessageNumber();

    // Builders: each returns the message number it sent, 0 when nothing was
    // sent. Any thread. `info`, when given, receives the driver's answer.
    uint16_t ConnectReq(const char* calledNumber, const char* callingNumber, const uint8_t* callingSubaddress,
                        const uint8_t* bProtocol, uint32_t* info = nullptr);
    uint16_t ConnectB3Req(uint32_t plci);
    // The block is passed by address in the 64-bit form of the message.
    uint16_t DataB3Req(uint32_t ncci, const uint8_t* data, uint16_t length);
    uint16_t DisconnectB3Req(uint32_t ncci);
    uint16_t DisconnectReq(uint32_t plci);
    uint16_t ConnectResp(uint16_t messageNumber, uint32_t plci);
    uint16_t ConnectActiveResp(uint16_t messageNumber, uint32_t plci);
    uint16_t ConnectB3Resp(uint32_t ncci);
    uint16_t ConnectB3ActiveResp(uint32_t ncci);
    uint16_t DataB3Resp(uint32_t ncci, uint16_t dataHandle);
    uint16_t DisconnectResp(uint32_t plci);
    uint16_t InfoResp(uint32_t plci);

    // Registers an application and starts its receive thread: 0 on success,
    // 1 on failure, with the failing info value in StartInfo. An application
    // that is registered and read already is used as it is. Main thread.
    int Start();
    // Releases the application and waits for the receive thread to end. Returns 0.
    int Stop();
    // Decodes one incoming message and calls its handler. Receive thread.
    void Dispatch(const uint8_t* message);

    // Handlers, called by Dispatch on the receive thread.
    virtual void OnAlertConf(uint16_t messageNumber, uint32_t plci, uint16_t info);
    virtual void OnConnectConf(uint16_t messageNumber, uint32_t plci, uint16_t info);
    virtual void OnConnectB3Conf(uint16_t messageNumber, uint32_t ncci, uint16_t info);
    virtual void OnDataB3Conf(uint16_t messageNumber, uint32_t ncci, uint16_t dataHandle, uint16_t info);
    virtual void OnDisconnectB3Conf(uint16_t messageNumber, uint32_t ncci, uint16_t info);
    virtual void OnDisconnectConf(uint16_t messageNumber, uint32_t plci, uint16_t info);
    virtual void OnInfoConf(uint16_t messageNumber, uint32_t plci, uint16_t info);
    virtual void OnListenConf(uint16_t messageNumber, uint32_t controller, uint16_t info);
    virtual void OnResetB3Conf(uint16_t messageNumber, uint32_t ncci, uint16_t info);
    virtual void OnSelectBProtocolConf(uint16_t messageNumber, uint32_t plci, uint16_t info);
    // `infoElement` is the struct (length byte first), or null when it did not fit the message.
    virtual void OnInfoInd(uint16_t messageNumber, uint32_t plci, uint16_t infoNumber, const uint8_t* infoElement);
    virtual void OnConnectActiveInd(uint16_t messageNumber, uint32_t plci, const char* connectedNumber,
                                    const char* connectedSubaddress);
    virtual void OnConnectB3Ind(uint16_t messageNumber, uint32_t ncci);
    virtual void OnConnectB3ActiveInd(uint16_t messageNumber, uint32_t ncci);
    virtual void OnDisconnectInd(uint16_t messageNumber, uint32_t plci, uint16_t reason);
    // `data` is null, and `dataLength` 0, when the indication's block could not be located or is too long.
    virtual void OnDataB3Ind(uint16_t messageNumber, uint32_t ncci, const uint8_t* data, uint16_t dataLength,
                             uint16_t dataHandle, uint16_t flags);

    // Consecutive failed passes of the receive loop that count as a lost link.
    static constexpr int LOST_LINK_PASSES = 5;
    // Pause after a failed pass, so that a broken transport is not polled hot.
    static constexpr int FAILED_PASS_PAUSE_MS = 50;
    // Longest wait of Start for a receive thread that is ending.
    static constexpr int ENDING_THREAD_WAIT_MS = 500;

    std::atomic<uint16_t> MessageNumber;  // atomic: the last message number drawn; any thread
    std::thread ReceiveThread;            // the receive thread of the latest Start; main thread
    uint32_t StartInfo = 0;               // why the last Start failed, 0 after success; main thread

protected:
    // The receive loop found the link to the driver gone. Receive thread; the
    // application is released when the loop ends, unless the handler did it.
    virtual void OnLinkLost(uint32_t info);

private:
    // Receive thread body: waits for and reads one message at a time and
    // dispatches it, until the application is released or the link is lost.
    int ReceiveLoop(ReaderTicket& ticket);
    // Thread entry of the receive thread: it touches this object (its
    // application's library calls, Dispatch and the handlers) only while it is
    // not inside the library by its ticket; once the ticket is abandoned it
    // touches only the ticket.
    static int ReceiveThreadEntry(CCapiOperations* self, std::shared_ptr<ReaderTicket> ticket);
    void JoinEndedThread();
    // Finishes a built message and hands it to the driver; see the builders.
    uint16_t Send(uint8_t* buffer, CCapiMessageWriter& message, uint16_t number, uint32_t* info);
};
