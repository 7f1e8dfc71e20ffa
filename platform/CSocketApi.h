#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

// The one seam between the endpoint and the operating system's sockets.
// Every call behaves like the POSIX call of the same name and reports its
// error through errno. Tests install a replacement to make single calls fail.
class CSocketApi {
public:
    virtual ~CSocketApi() = default;

    virtual int Socket(int domain, int type, int protocol);
    virtual int Bind(int fd, const sockaddr* addr, socklen_t len);
    virtual int Listen(int fd, int backlog);
    // Accepts with the new descriptor non-blocking and close-on-exec.
    virtual int Accept(int fd, sockaddr* addr, socklen_t* len);
    virtual int GetSockName(int fd, sockaddr* addr, socklen_t* len);
    virtual int SetSockOpt(int fd, int level, int name, const void* value, socklen_t len);
    virtual ssize_t Recv(int fd, void* buf, size_t len, int flags);
    virtual ssize_t Send(int fd, const void* buf, size_t len, int flags);
    virtual int Shutdown(int fd, int how);
    virtual int Close(int fd);
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs);

    // The implementation in use; the real one unless a test installed another.
    static CSocketApi& Get();
    // Installs a replacement (not owned); null goes back to the real calls.
    static void Install(CSocketApi* api);
};
