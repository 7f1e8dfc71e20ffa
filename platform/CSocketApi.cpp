#include "platform/CSocketApi.h"

#include <unistd.h>

#include <atomic>

namespace {
CSocketApi g_realApi;
std::atomic<CSocketApi*> g_pApi{&g_realApi};  // atomic: read by any thread that uses a socket
}

int CSocketApi::Socket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }
int CSocketApi::Bind(int fd, const sockaddr* addr, socklen_t len) { return ::bind(fd, addr, len); }
int CSocketApi::Listen(int fd, int backlog) { return ::listen(fd, backlog); }
int CSocketApi::Accept(int fd, sockaddr* addr, socklen_t* len) { return ::accept4(fd, addr, len, SOCK_NONBLOCK | SOCK_CLOEXEC); }
int CSocketApi::GetSockName(int fd, sockaddr* addr, socklen_t* len) { return ::getsockname(fd, addr, len); }
int CSocketApi::SetSockOpt(int fd, int level, int name, const void* value, socklen_t len) { return ::setsockopt(fd, level, name, value, len); }
ssize_t CSocketApi::Recv(int fd, void* buf, size_t len, int flags) { return ::recv(fd, buf, len, flags); }
ssize_t CSocketApi::Send(int fd, const void* buf, size_t len, int flags) { return ::send(fd, buf, len, flags); }
int CSocketApi::Shutdown(int fd, int how) { return ::shutdown(fd, how); }
int CSocketApi::Close(int fd) { return ::close(fd); }
int CSocketApi::Poll(pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); }

CSocketApi& CSocketApi::Get()
{
    return *g_pApi.load();
}

void CSocketApi::Install(CSocketApi* api)
{
    g_pApi.store(api ? api : &g_realApi);
}
