#include "sim/CSysApi.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>

namespace {
CSysApi g_real;
CSysApi* g_current = &g_real;
} // namespace

int CSysApi::Socket(int domain, int type, int protocol)
{
    return ::socket(domain, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

int CSysApi::Bind(int fd, const sockaddr* addr, socklen_t len) { return ::bind(fd, addr, len); }
int CSysApi::Listen(int fd, int backlog) { return ::listen(fd, backlog); }

int CSysApi::Accept(int fd, sockaddr* addr, socklen_t* len)
{
    return ::accept4(fd, addr, len, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

int CSysApi::Connect(int fd, const sockaddr* addr, socklen_t len) { return ::connect(fd, addr, len); }
int CSysApi::GetSockName(int fd, sockaddr* addr, socklen_t* len) { return ::getsockname(fd, addr, len); }

int CSysApi::GetSockOpt(int fd, int level, int name, void* value, socklen_t* len)
{
    return ::getsockopt(fd, level, name, value, len);
}

int CSysApi::SetSockOpt(int fd, int level, int name, const void* value, socklen_t len)
{
    return ::setsockopt(fd, level, name, value, len);
}

ssize_t CSysApi::Recv(int fd, void* buf, std::size_t len) { return ::recv(fd, buf, len, 0); }
ssize_t CSysApi::Send(int fd, const void* buf, std::size_t len) { return ::send(fd, buf, len, MSG_NOSIGNAL); }
ssize_t CSysApi::Read(int fd, void* buf, std::size_t len) { return ::read(fd, buf, len); }
ssize_t CSysApi::Write(int fd, const void* buf, std::size_t len) { return ::write(fd, buf, len); }
int CSysApi::Shutdown(int fd, int how) { return ::shutdown(fd, how); }
int CSysApi::Close(int fd) { return ::close(fd); }
int CSysApi::Poll(pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }
int CSysApi::Pipe(int fds[2]) { return ::pipe2(fds, O_NONBLOCK | O_CLOEXEC); }

std::int64_t CSysApi::NowMicros()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

CSysApi& CSysApi::Get() { return *g_current; }
void CSysApi::Install(CSysApi* api) { g_current = api ? api : &g_real; }
