#pragma once

#include "sim/CFrameAssembler.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class CCapiMessage;
class CEventLoop;
class CExchange;
class CTraceLog;

// One TCP connection from the library's remote-CAPI module. It starts
// unregistered: either it is the idle connection of the library's
// installation check, which also carries the four queries, or it registers
// an application with its first frame. After registration every frame is one
// CAPI message, handed to the exchange. A frame that makes no sense closes
// this connection and nothing else.
class CClientLink {
public:
    // Most bytes queued for a client that does not read before it is dropped.
    static constexpr std::size_t MAX_OUTPUT = 4 * 1024 * 1024;

    CClientLink(CExchange* exchange, CEventLoop* loop, CTraceLog* trace, int fd, int id);
    ~CClientLink();
    CClientLink(const CClientLink&) = delete;
    CClientLink& operator=(const CClientLink&) = delete;

    int Id() const { return m_nId; }
    bool Registered() const { return m_bRegistered; }
    bool Closed() const { return m_fd < 0; }
    // The client's application id, as its messages carry it (1 until known).
    std::uint16_t ApplId() const { return m_nApplId; }
    std::uint16_t MaxLogicalConnections() const { return m_nMaxConnections; }
    std::uint16_t MaxBDataBlocks() const { return m_nMaxBlocks; }
    std::uint16_t MaxBDataLen() const { return m_nMaxLength; }

    // Sends one message (traced). Indications get the next message number.
    void Send(CCapiMessage msg);
    // Closes the connection and tells the exchange, which removes the link later.
    void Close(const std::string& why);

private:
    void OnEvents(short revents);
    void OnReadable();
    void Flush();
    void HandleFrame(std::span<const std::uint8_t> payload);
    void HandleRegister(std::span<const std::uint8_t> payload);
    void HandleQuery(std::uint8_t command, std::span<const std::uint8_t> payload);
    void SendFrame(std::span<const std::uint8_t> payload);
    void Note(const std::string& text);

    CExchange* m_pExchange;          // receives messages and the close, not owned
    CEventLoop* m_pLoop;             // watches m_fd, not owned
    CTraceLog* m_pTrace;             // trace lines, not owned
    int m_fd;                        // the connection, -1 once closed
    int m_nId;                       // number of the connection in the trace
    CFrameAssembler m_frames;        // received bytes cut into frames
    std::vector<std::uint8_t> m_out; // bytes not yet sent
    std::size_t m_nOutOffset = 0;    // bytes of m_out already sent
    bool m_bRegistered = false;      // the register request was answered
    bool m_bApplKnown = false;       // m_nApplId was read off a message
    std::uint16_t m_nApplId = 1;     // application id the client gave itself
    std::uint16_t m_nMaxConnections = 0; // maxLogicalConnection of the registration
    std::uint16_t m_nMaxBlocks = 0;      // maxBDataBlocks of the registration
    std::uint16_t m_nMaxLength = 0;      // maxBDataLen of the registration
    std::uint16_t m_nNextNumber = 0;     // last message number given to an indication
};
