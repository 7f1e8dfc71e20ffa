#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

// An auto-reset event: Set wakes exactly one wait and is consumed by it.
// Waits on one event or on two events at once, each with a time-out in
// milliseconds (-1 waits for ever). All events share one lock, which is held
// only for flag changes, never while a caller does anything else.
class CAutoResetEvent {
public:
    // Result of WaitForTwo: which event was taken.
    enum WaitResult { WAIT_FIRST = 0, WAIT_SECOND = 1, WAIT_TIMEOUT = -1 };

    explicit CAutoResetEvent(bool initiallySignalled = false);
    ~CAutoResetEvent();
    CAutoResetEvent(const CAutoResetEvent&) = delete;
    CAutoResetEvent& operator=(const CAutoResetEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was taken, false after the time-out.
    bool Wait(int timeoutMs);
    // Waits until either event is signalled; when both are, the first is taken.
    static WaitResult WaitForTwo(CAutoResetEvent& first, CAutoResetEvent& second, int timeoutMs);

private:
    static std::mutex& Lock();

    bool m_bSignalled;                                // guarded by Lock()
    std::vector<std::condition_variable*> m_waiters;  // guarded by Lock(): threads waiting on this event
};
