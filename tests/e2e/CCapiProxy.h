#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

// A remote-CAPI peer for fault tests that stands between the library and the
// simulator: it forwards every connection to the simulator's port, or plays
// an exchange that accepts and never answers, or loses chosen messages on
// their way to the client. It runs on a thread of its own.
class CCapiProxy {
public:
    enum Mode {
        FORWARD,    // pass every frame both ways
        BLACKHOLE,  // accept new connections, read them, answer nothing
    };

    CCapiProxy();
    ~CCapiProxy();
    CCapiProxy(const CCapiProxy&) = delete;
    CCapiProxy& operator=(const CCapiProxy&) = delete;

    unsigned Port() const { return m_nPort; }
    void SetUpstream(unsigned port) { m_nUpstream = port; }
    void SetMode(Mode mode) { m_nMode = mode; }
    // Messages with this command and subcommand (e.g. 0x86, 0x81 for
    // DATA_B3_CONF) are not passed on to the client; 0 passes everything.
    void DropToClient(uint8_t command, uint8_t subcommand) { m_nDrop = static_cast<uint16_t>(command | (subcommand << 8)); }
    // How many frames were dropped so far.
    int Dropped() const { return m_nDropped; }
    // Connections accepted in BLACKHOLE mode so far.
    int Swallowed() const { return m_nSwallowed; }
    // Closes every connection the proxy holds, as a dying exchange would.
    void CutAll() { m_bCut = true; }

private:
    void Run();

    int m_listen = -1;                   // listening socket on 127.0.0.1
    int m_wake[2] = {-1, -1};            // pipe that ends the thread
    unsigned m_nPort = 0;                // the proxy's own port
    std::atomic<unsigned> m_nUpstream{0};   // the simulator's port
    std::atomic<int> m_nMode{FORWARD};      // how new connections are treated
    std::atomic<uint16_t> m_nDrop{0};       // dispatch key of messages not passed on
    std::atomic<int> m_nDropped{0};         // frames dropped
    std::atomic<int> m_nSwallowed{0};       // connections held in BLACKHOLE mode
    std::atomic<bool> m_bCut{false};        // close all connections at the next pass
    std::thread m_thread;                // the proxy's loop; touches only the sockets and the atomics
};
