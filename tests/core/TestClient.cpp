#include "TestClient.h"

#include "TestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TestClient::TestClient(unsigned port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

TestClient::~TestClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void TestClient::Send(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

void TestClient::ShutdownSending()
{
    ::shutdown(m_fd, SHUT_WR);
}

bool TestClient::ReadUntilClosed(std::string& out, int timeoutMs)
{
    bool closed = false;
    WaitUntil(
        [&] {
            char buf[4096];
            for (;;) {
                ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) {
                    out.append(buf, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                    closed = true;
                return closed;
            }
        },
        timeoutMs);
    return closed;
}

std::string TestClient::ReadFor(int ms)
{
    std::string out;
    WaitUntil(
        [&] {
            char buf[4096];
            ssize_t n;
            while ((n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                out.append(buf, static_cast<size_t>(n));
            return false;
        },
        ms);
    return out;
}

bool TestClient::ClosedWithin(int ms)
{
    std::string ignored;
    return ReadUntilClosed(ignored, ms);
}
