#pragma once

#include "sim/CTunnelSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The remote device's end of the tunnel on the B channel. Blocks from the
// caller: {0x01} starts a connection, {0x00, bytes} carries request bytes,
// {0x00} alone says the browser has closed. Blocks to the caller: the answer
// as {0x00, bytes} blocks of at most MAX_BLOCK bytes, then {0x01} to end the
// connection. Connections are served one after the other, each by a session
// made by the factory.
class CTunnelDevice {
public:
    static constexpr std::uint8_t TAG_DATA = 0x00;
    static constexpr std::uint8_t TAG_CONTROL = 0x01;
    static constexpr std::size_t MAX_BLOCK = 2048;

    using SessionFactory = std::function<std::unique_ptr<CTunnelSession>()>;
    using NoteSink = std::function<void(const std::string&)>;

    CTunnelDevice(SessionFactory factory, NoteSink note);
    CTunnelDevice(const CTunnelDevice&) = delete;
    CTunnelDevice& operator=(const CTunnelDevice&) = delete;

    // One block received on the B channel.
    void OnBlock(std::span<const std::uint8_t> block);
    // The next block to send, at most maxLength bytes (at least 2), or none
    // while the current session has nothing ready.
    std::optional<std::vector<std::uint8_t>> TakeBlock(std::size_t maxLength = MAX_BLOCK);

    std::uint64_t ConnectionsStarted() const { return m_nStarted; }
    std::uint64_t ConnectionsEnded() const { return m_nEnded; }
    bool InConnection() const { return m_pSession != nullptr; }

private:
    SessionFactory m_factory;                  // makes the session for each connection
    NoteSink m_note;                           // trace lines about connections
    std::unique_ptr<CTunnelSession> m_pSession; // connection in service, or null
    std::uint64_t m_nStarted = 0;              // connections opened by {0x01}
    std::uint64_t m_nEnded = 0;                // connections ended with {0x01}
};
