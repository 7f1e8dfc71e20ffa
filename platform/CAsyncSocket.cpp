#include "platform/CAsyncSocket.h"

#include "platform/CSocketApi.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
// Hands a notifier to the event loop for deletion: it may be the one whose
// activation is being delivered right now.
void Retire(std::unique_ptr<QSocketNotifier>& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    QObject::disconnect(notifier.get(), nullptr, nullptr, nullptr);
    notifier.release()->deleteLater();
}
}

CAsyncSocket::CAsyncSocket() = default;

CAsyncSocket::~CAsyncSocket()
{
    if (m_pDestroyed)
        *m_pDestroyed = true;
    Close();
}

int CAsyncSocket::MapErrno(int err)
{
    switch (err) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
        return WSAEWOULDBLOCK;
    case ENETDOWN:
        return WSAENETDOWN;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOTCONN:
        return WSAENOTCONN;
    case EBADF:
    case ENOTSOCK:
        return WSAENOTSOCK;
    default:
        return err;
    }
}

void CAsyncSocket::Fail(int err)
{
    m_nLastError = MapErrno(err);
}

bool CAsyncSocket::Create(unsigned port, int events, const char* address)
{
    Close();
    CSocketApi& api = CSocketApi::Get();
    int fd = api.Socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Fail(errno);
        return false;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address ? address : "0.0.0.0", &sa.sin_addr) != 1
        || api.Bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        Fail(errno ? errno : EINVAL);
        api.Close(fd);
        return false;
    }
    Attach(fd, events);
    return true;
}

bool CAsyncSocket::GetSockName(unsigned& port)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (m_hSocket < 0 || CSocketApi::Get().GetSockName(m_hSocket, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        Fail(m_hSocket < 0 ? EBADF : errno);
        return false;
    }
    port = ntohs(sa.sin_port);
    return true;
}

bool CAsyncSocket::Listen(int backlog)
{
    if (m_hSocket < 0 || CSocketApi::Get().Listen(m_hSocket, backlog) != 0) {
        Fail(m_hSocket < 0 ? EBADF : errno);
        return false;
    }
    return true;
}

bool CAsyncSocket::Accept(CAsyncSocket& connected)
{
    if (m_hSocket < 0) {
        Fail(EBADF);
        return false;
    }
    int fd = CSocketApi::Get().Accept(m_hSocket, nullptr, nullptr);
    if (fd < 0) {
        Fail(errno);
        return false;
    }
    // The device's answers reach the browser in blocks of up to 2047 bytes;
    // none of them should wait for the browser's delayed acknowledgement.
    int one = 1;
    CSocketApi::Get().SetSockOpt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // An accepted socket starts with the listener's events, as the caller
    // expects; it switches them as it needs before the loop runs again.
    connected.Attach(fd, m_nEvents & ~FD_ACCEPT);
    return true;
}

void CAsyncSocket::Attach(int fd, int events)
{
    Close();
    m_hSocket = fd;
    m_bEofReadReported = false;
    m_bCloseReported = false;
    m_bWritePending = false;
    m_pReadNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_pReadNotifier->setEnabled(false);
    QObject::connect(m_pReadNotifier.get(), &QSocketNotifier::activated, [this] { HandleReadable(); });
    m_pWriteNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    m_pWriteNotifier->setEnabled(false);
    QObject::connect(m_pWriteNotifier.get(), &QSocketNotifier::activated, [this] { HandleWritable(); });
    m_nEvents = 0;
    AsyncSelect(events);
}

bool CAsyncSocket::AsyncSelect(int events)
{
    if (m_hSocket < 0) {
        Fail(EBADF);
        return false;
    }
    const bool writeNewlyOn = (events & FD_WRITE) && !(m_nEvents & FD_WRITE);
    m_nEvents = events;
    if (writeNewlyOn)
        m_bWritePending = true;
    UpdateNotifiers();
    return true;
}

void CAsyncSocket::UpdateNotifiers()
{
    if (m_hSocket < 0)
        return;
    // The read notifier is level-triggered: it stays on only while something
    // selected can still be reported, so an idle or closed socket costs nothing.
    bool wantRead = false;
    if (m_nEvents & FD_ACCEPT)
        wantRead = true;
    if ((m_nEvents & FD_READ) && !m_bEofReadReported)
        wantRead = true;
    if ((m_nEvents & FD_CLOSE) && !m_bCloseReported)
        wantRead = true;
    m_pReadNotifier->setEnabled(wantRead);
    m_pWriteNotifier->setEnabled((m_nEvents & FD_WRITE) && m_bWritePending);
}

void CAsyncSocket::HandleReadable()
{
    if (m_hSocket < 0)
        return;
    bool destroyed = false;
    bool* outer = m_pDestroyed;
    m_pDestroyed = &destroyed;
    // Runs one callback; false when it destroyed or closed this socket.
    auto call = [&](void (CAsyncSocket::*handler)(int), int code) {
        (this->*handler)(code);
        if (destroyed) {
            if (outer)
                *outer = true;
            return false;
        }
        if (m_hSocket < 0) {
            m_pDestroyed = outer;
            return false;
        }
        return true;
    };
    auto finish = [&] { m_pDestroyed = outer; };

    if (m_nEvents & FD_ACCEPT) {
        if (call(&CAsyncSocket::OnAccept, 0))
            finish();
        return;
    }
    char probe;
    ssize_t n = CSocketApi::Get().Recv(m_hSocket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    int err = n < 0 ? errno : 0;
    if (n > 0) {
        if (m_nEvents & FD_READ) {
            if (!call(&CAsyncSocket::OnReceive, 0))
                return;
        } else {
            // Bytes wait that nobody asked for: stay quiet until read is selected.
            m_pReadNotifier->setEnabled(false);
        }
        finish();
        return;
    }
    if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK || err == EINTR)) {
        finish();
        return;
    }
    // The peer has closed (n == 0) or the connection failed.
    if (n == 0 && (m_nEvents & FD_READ) && !m_bEofReadReported) {
        m_bEofReadReported = true;
        if (!call(&CAsyncSocket::OnReceive, 0))
            return;
    }
    if ((m_nEvents & FD_CLOSE) && !m_bCloseReported) {
        m_bCloseReported = true;
        if (!call(&CAsyncSocket::OnClose, n == 0 ? 0 : MapErrno(err)))
            return;
    }
    if (n < 0)
        m_bEofReadReported = true;  // nothing more can be read from a failed connection
    finish();
    UpdateNotifiers();
}

void CAsyncSocket::HandleWritable()
{
    if (m_hSocket < 0)
        return;
    m_bWritePending = false;
    m_pWriteNotifier->setEnabled(false);
    if (!(m_nEvents & FD_WRITE))
        return;
    bool destroyed = false;
    bool* outer = m_pDestroyed;
    m_pDestroyed = &destroyed;
    OnSend(0);
    if (destroyed) {
        if (outer)
            *outer = true;
        return;
    }
    m_pDestroyed = outer;
}

void CAsyncSocket::ArmWrite()
{
    m_bWritePending = true;
    if (m_hSocket >= 0 && (m_nEvents & FD_WRITE))
        m_pWriteNotifier->setEnabled(true);
}

int CAsyncSocket::Receive(void* buffer, int length)
{
    if (m_hSocket < 0) {
        Fail(EBADF);
        return -1;
    }
    ssize_t n = CSocketApi::Get().Recv(m_hSocket, buffer, static_cast<size_t>(length < 0 ? 0 : length), MSG_DONTWAIT);
    if (n < 0) {
        Fail(errno);
        return -1;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::Send(const void* buffer, int length)
{
    if (m_hSocket < 0) {
        Fail(EBADF);
        return -1;
    }
    // A browser that has gone must not raise SIGPIPE: the send just fails.
    ssize_t n = CSocketApi::Get().Send(m_hSocket, buffer, static_cast<size_t>(length < 0 ? 0 : length), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        Fail(errno);
        if (m_nLastError == WSAEWOULDBLOCK)
            ArmWrite();
        return -1;
    }
    return static_cast<int>(n);
}

int CAsyncSocket::SendAll(const void* buffer, int length, int stallTimeoutMs)
{
    const char* p = static_cast<const char*>(buffer);
    int sent = 0;
    while (sent < length) {
        int n = Send(p + sent, length - sent);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n == 0 || m_nLastError != WSAEWOULDBLOCK)
            break;
        pollfd pfd{m_hSocket, POLLOUT, 0};
        int r;
        do {
            r = CSocketApi::Get().Poll(&pfd, 1, stallTimeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) || !(pfd.revents & POLLOUT))
            break;
    }
    return sent;
}

bool CAsyncSocket::ShutDown(Direction how)
{
    int h = how == RECEIVES ? SHUT_RD : how == SENDS ? SHUT_WR : SHUT_RDWR;
    if (m_hSocket < 0 || CSocketApi::Get().Shutdown(m_hSocket, h) != 0) {
        Fail(m_hSocket < 0 ? EBADF : errno);
        return false;
    }
    return true;
}

void CAsyncSocket::Close()
{
    Retire(m_pReadNotifier);
    Retire(m_pWriteNotifier);
    if (m_hSocket >= 0) {
        CSocketApi::Get().Close(m_hSocket);
        m_hSocket = -1;
    }
    m_nEvents = 0;
}

void CAsyncSocket::OnReceive(int) {}
void CAsyncSocket::OnSend(int) {}
void CAsyncSocket::OnOutOfBandData(int) {}
void CAsyncSocket::OnAccept(int) {}
void CAsyncSocket::OnConnect(int) {}
void CAsyncSocket::OnClose(int) {}
