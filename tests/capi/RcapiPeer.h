#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A minimal remote-CAPI peer on 127.0.0.1 for the library's rcapi module.
// Frames are a 2-byte big-endian length that counts itself, then the payload.
// It answers registrations (unless told to stay silent), records every CAPI
// message that follows, and sends what a test gives it.
class RcapiPeer {
public:
    enum Mode { ANSWER, SILENT };

    RcapiPeer();
    ~RcapiPeer();
    RcapiPeer(const RcapiPeer&) = delete;
    RcapiPeer& operator=(const RcapiPeer&) = delete;

    int Port() const { return m_port; }
    // Forgets what was received and goes back to answering registrations.
    void Reset();
    void SetMode(Mode mode);
    // Answers every DATA_B3_REQ with a DATA_B3_CONF.
    void SetAutoConfirm(bool on);
    int Registrations() const;

    // The first message with `key` at or after `from`; empty when none came in time.
    std::vector<uint8_t> WaitForKey(uint16_t key, size_t from = 0, size_t* index = nullptr, int timeoutMs = 5000);
    // Everything of frame `index` behind the message: a DATA_B3 block.
    std::vector<uint8_t> TrailerOf(size_t index) const;
    size_t Count() const;
    // Sends one frame to the registered connection.
    bool Send(const std::vector<uint8_t>& payload);
    // Drops every connection, as a peer that has gone; the connections made afterwards stay.
    void CloseConnections();
    // Waits until the library has closed the registered connection.
    bool WaitClosed(int timeoutMs = 5000);

private:
    struct Frame {
        std::vector<uint8_t> message;  // the CAPI message
        std::vector<uint8_t> trailer;  // bytes behind it in the same frame
    };

    // Accept thread: touches only the listening socket and hands new
    // connections to their own reader threads.
    void AcceptLoop();
    // Reader thread of one connection: reads its frames, answers the
    // registration, records the messages; touches the shared state under m_lock.
    void ReadLoop(int fd);
    bool SendOn(int fd, const std::vector<uint8_t>& payload);

    int m_listen = -1;                      // listening socket
    int m_port = 0;                         // its port
    std::atomic<bool> m_stop{false};        // set by the destructor
    std::thread m_acceptor;                 // the accept thread
    mutable std::mutex m_lock;              // guards everything below
    std::condition_variable m_changed;      // signalled on every change below
    std::vector<std::thread> m_readers;     // one per accepted connection
    std::vector<int> m_fds;                 // every open connection, closed by its reader
    int m_registered = -1;                  // the connection that registered, or -1
    bool m_registeredClosed = false;        // the library closed it
    int m_registrations = 0;
    Mode m_mode = ANSWER;
    bool m_autoConfirm = false;
    std::vector<Frame> m_frames;            // messages received after registration
};
