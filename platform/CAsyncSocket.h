#pragma once

#include <memory>

class QSocketNotifier;

// A non-blocking IPv4 stream socket whose events arrive on the main thread,
// from its Qt event loop, one virtual callback per event:
//  - read: one callback per readiness; a further one as long as bytes remain
//    unread. When the peer has closed its sending direction, one last read
//    event lets the handler's Receive return 0.
//  - write: once when switched on, afterwards only after a send would have
//    blocked; a writable socket raises no stream of events.
//  - close: once the peer has closed (after its last bytes can be read) or
//    the connection was reset.
//  - accept: while a connection waits on a listening socket.
// Switching read or close on for a socket whose bytes or close are already
// there reports them promptly. All calls belong to the main thread.
class CAsyncSocket {
public:
    // Event bits for Create and AsyncSelect.
    enum Event { FD_READ = 0x01, FD_WRITE = 0x02, FD_OOB = 0x04, FD_ACCEPT = 0x08, FD_CONNECT = 0x10, FD_CLOSE = 0x20 };
    // Directions for ShutDown.
    enum Direction { RECEIVES = 0, SENDS = 1, BOTH = 2 };
    // Error codes as the endpoint knows them; other errno values pass through unchanged.
    static constexpr int WSAEWOULDBLOCK = 10035;
    static constexpr int WSAENETDOWN = 10050;
    static constexpr int WSAECONNABORTED = 10053;
    static constexpr int WSAECONNRESET = 10054;
    static constexpr int WSAENOTCONN = 10057;
    static constexpr int WSAENOTSOCK = 10038;

    CAsyncSocket();
    virtual ~CAsyncSocket();
    CAsyncSocket(const CAsyncSocket&) = delete;
    CAsyncSocket& operator=(const CAsyncSocket&) = delete;

    // A stream socket bound to the address text and port (0: the system chooses).
    bool Create(unsigned port, int events, const char* address);
    bool GetSockName(unsigned& port);
    bool Listen(int backlog);
    // Accepts one waiting connection into the fresh object `connected`.
    bool Accept(CAsyncSocket& connected);
    bool AsyncSelect(int events);
    // The count read (more than 0), 0 when the peer has closed its sending
    // direction, -1 on an error, also when nothing is waiting.
    int Receive(void* buffer, int length);
    // The count written, or -1; GetLastError then tells WSAEWOULDBLOCK from other errors.
    int Send(const void* buffer, int length);
    // Sends the whole buffer; while the socket would block, waits for it to
    // become writable, at most stallTimeoutMs each time. Returns the count
    // sent, short of length when the connection failed or stalled.
    int SendAll(const void* buffer, int length, int stallTimeoutMs);
    bool ShutDown(Direction how);
    void Close();
    bool IsOpen() const { return m_hSocket >= 0; }
    int GetLastError() const { return m_nLastError; }

    virtual void OnReceive(int errorCode);
    virtual void OnSend(int errorCode);
    virtual void OnOutOfBandData(int errorCode);
    virtual void OnAccept(int errorCode);
    virtual void OnConnect(int errorCode);
    virtual void OnClose(int errorCode);

    static int MapErrno(int err);

private:
    void Attach(int fd, int events);
    void UpdateNotifiers();
    void HandleReadable();
    void HandleWritable();
    void Fail(int err);
    void ArmWrite();

    int m_hSocket = -1;                                  // descriptor; -1 when closed
    int m_nEvents = 0;                                   // selected events
    int m_nLastError = 0;                                // error of the last failed call
    bool m_bEofReadReported = false;                     // the read event for the peer's close was delivered
    bool m_bCloseReported = false;                       // the close event was delivered
    bool m_bWritePending = false;                        // a write event is owed (switched on, or after a would-block)
    bool* m_pDestroyed = nullptr;                        // set to true by the destructor while a callback runs
    std::unique_ptr<QSocketNotifier> m_pReadNotifier;    // readiness to read, accept or see the close
    std::unique_ptr<QSocketNotifier> m_pWriteNotifier;   // readiness to write, on only while an event is owed
};
