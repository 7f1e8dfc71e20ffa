#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>

// The simulator's seam to the operating system. Each call behaves like the
// POSIX call of the same name and reports errors through errno; tests can
// install a replacement to make single calls fail.
class CSysApi {
public:
    virtual ~CSysApi() = default;

    virtual int Socket(int domain, int type, int protocol);
    virtual int Bind(int fd, const sockaddr* addr, socklen_t len);
    virtual int Listen(int fd, int backlog);
    virtual int Accept(int fd, sockaddr* addr, socklen_t* len);
    virtual int Connect(int fd, const sockaddr* addr, socklen_t len);
    virtual int GetSockName(int fd, sockaddr* addr, socklen_t* len);
    virtual int GetSockOpt(int fd, int level, int name, void* value, socklen_t* len);
    virtual int SetSockOpt(int fd, int level, int name, const void* value, socklen_t len);
    virtual ssize_t Recv(int fd, void* buf, std::size_t len);
    virtual ssize_t Send(int fd, const void* buf, std::size_t len);
    virtual ssize_t Read(int fd, void* buf, std::size_t len);
    virtual ssize_t Write(int fd, const void* buf, std::size_t len);
    virtual int Shutdown(int fd, int how);
    virtual int Close(int fd);
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs);
    virtual int Pipe(int fds[2]);
    // Monotonic time in microseconds.
    virtual std::int64_t NowMicros();

    // The implementation in use: the real one unless a test installed another.
    static CSysApi& Get();
    // Installs a replacement (not owned); null goes back to the real calls.
    static void Install(CSysApi* api);
};
