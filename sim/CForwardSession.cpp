#include "sim/CForwardSession.h"

#include "sim/CSysApi.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <cstring>

CForwardSession::CForwardSession(CEventLoop* loop, std::uint16_t port, std::function<void()> wake)
    : m_pLoop(loop)
    , m_wake(std::move(wake))
{
    CSysApi& sys = CSysApi::Get();
    m_fd = sys.Socket(AF_INET, SOCK_STREAM, 0);
    if (m_fd < 0) {
        Fail(std::string("socket: ") + std::strerror(errno));
        return;
    }
    int one = 1;
    sys.SetSockOpt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (sys.Connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        m_bConnected = true;
    } else if (errno != EINPROGRESS) {
        Fail(std::string("connect: ") + std::strerror(errno));
        return;
    }
    m_pLoop->Watch(m_fd, POLLOUT, [this](short revents) { OnEvents(revents); });
}

CForwardSession::~CForwardSession()
{
    if (m_nLingerTimer)
        m_pLoop->CancelTimer(m_nLingerTimer);
    CloseServer();
}

void CForwardSession::CloseServer()
{
    if (m_fd < 0)
        return;
    m_pLoop->Unwatch(m_fd);
    CSysApi::Get().Close(m_fd);
    m_fd = -1;
}

void CForwardSession::Fail(const std::string& why)
{
    bool answered = !m_fromServer.empty() || m_nFromOffset > 0;
    CloseServer();
    if (!answered && !m_bBrowserClosed) {
        // The browser gets a readable answer instead of an empty connection.
        std::string body = "Weiterleitung an 127.0.0.1 fehlgeschlagen: " + why + "\n";
        std::string text = "HTTP/1.1 502 Bad Gateway\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
            + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        m_fromServer.assign(text.begin(), text.end());
        m_nFromOffset = 0;
    }
    m_bServerDone = true;
    if (m_wake)
        m_wake();
}

void CForwardSession::UpdateEvents()
{
    if (m_fd < 0)
        return;
    short events = 0;
    if (!m_bConnected || !m_toServer.empty())
        events |= POLLOUT;
    if (m_bConnected && m_fromServer.size() - m_nFromOffset < MAX_BUFFERED)
        events |= POLLIN;
    m_pLoop->SetEvents(m_fd, events);
}

void CForwardSession::OnEvents(short revents)
{
    CSysApi& sys = CSysApi::Get();
    if (!m_bConnected) {
        int error = 0;
        socklen_t len = sizeof error;
        if (sys.GetSockOpt(m_fd, SOL_SOCKET, SO_ERROR, &error, &len) < 0)
            error = errno;
        if (error != 0) {
            Fail(std::string("connect: ") + std::strerror(error));
            return;
        }
        m_bConnected = true;
    }
    if ((revents & POLLOUT) && !m_toServer.empty()) {
        ssize_t n = sys.Send(m_fd, m_toServer.data(), m_toServer.size());
        if (n > 0) {
            m_toServer.erase(m_toServer.begin(), m_toServer.begin() + n);
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Fail(std::string("send: ") + std::strerror(errno));
            return;
        }
    }
    if (m_bBrowserClosed && m_toServer.empty() && !m_bShutDown) {
        sys.Shutdown(m_fd, SHUT_WR);
        m_bShutDown = true;
    }
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        std::uint8_t buffer[16384];
        ssize_t n = sys.Recv(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            if (m_nFromOffset > 0 && m_nFromOffset == m_fromServer.size()) {
                m_fromServer.clear();
                m_nFromOffset = 0;
            }
            m_fromServer.insert(m_fromServer.end(), buffer, buffer + n);
            if (m_wake)
                m_wake();
        } else if (n == 0) {
            CloseServer();
            m_bServerDone = true;
            if (m_wake)
                m_wake();
            return;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            Fail(std::string("recv: ") + std::strerror(errno));
            return;
        }
    }
    UpdateEvents();
}

void CForwardSession::OnRequestBytes(std::span<const std::uint8_t> bytes)
{
    if (m_fd < 0 || m_bBrowserClosed)
        return;
    m_toServer.insert(m_toServer.end(), bytes.begin(), bytes.end());
    UpdateEvents();
}

void CForwardSession::OnBrowserClosed()
{
    if (m_bBrowserClosed)
        return;
    m_bBrowserClosed = true;
    // Nobody reads the answer any more; give the server a bounded time to
    // see the close, then end the connection regardless.
    m_fromServer.clear();
    m_nFromOffset = 0;
    if (m_fd < 0) {
        m_bServerDone = true;
        return;
    }
    if (m_bConnected && m_toServer.empty()) {
        CSysApi::Get().Shutdown(m_fd, SHUT_WR);
        m_bShutDown = true;
    }
    m_nLingerTimer = m_pLoop->AddTimer(LINGER_MICROS, [this]() {
        m_nLingerTimer = 0;
        CloseServer();
        m_bServerDone = true;
        if (m_wake)
            m_wake();
    });
    UpdateEvents();
}

std::size_t CForwardSession::ReadResponse(std::uint8_t* buffer, std::size_t max)
{
    if (m_bBrowserClosed) {
        m_fromServer.clear();
        m_nFromOffset = 0;
        return 0;
    }
    std::size_t n = std::min(max, m_fromServer.size() - m_nFromOffset);
    if (n == 0)
        return 0;
    std::memcpy(buffer, m_fromServer.data() + m_nFromOffset, n);
    m_nFromOffset += n;
    if (n > 0)
        UpdateEvents();
    return n;
}

bool CForwardSession::Finished() const
{
    return m_bServerDone && m_nFromOffset >= m_fromServer.size();
}
