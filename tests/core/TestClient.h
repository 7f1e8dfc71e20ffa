#pragma once

#include <string>

// A browser stand-in: a plain blocking TCP client on 127.0.0.1, read while
// the test's event loop keeps the endpoint going.
class TestClient {
public:
    explicit TestClient(unsigned port);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    void Send(const std::string& bytes);
    void ShutdownSending();
    // Everything until the endpoint closes, running the event loop meanwhile; false on time-out.
    bool ReadUntilClosed(std::string& out, int timeoutMs = 10000);
    // Whatever arrives within `ms`, running the event loop meanwhile.
    std::string ReadFor(int ms);
    // True when the endpoint has closed the connection (seen within `ms`).
    bool ClosedWithin(int ms);

private:
    int m_fd = -1;  // the client's socket
};
