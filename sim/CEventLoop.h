#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>

// Single-threaded loop over poll(): descriptors with the events they wait
// for, and one-shot timers. It sleeps in poll until a descriptor is ready or
// the next timer is due, so an idle simulator uses no processor time.
// Callbacks may add or remove descriptors and timers, including their own.
class CEventLoop {
public:
    using TimerId = std::uint64_t;
    using FdHandler = std::function<void(short revents)>;

    CEventLoop() = default;
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    // Watches fd for the poll events given (POLLIN, POLLOUT); replaces an
    // earlier handler of the same descriptor.
    void Watch(int fd, short events, FdHandler handler);
    void SetEvents(int fd, short events);
    void Unwatch(int fd);

    // Runs callback once, delayMicros from now. Returns an id for CancelTimer.
    TimerId AddTimer(std::int64_t delayMicros, std::function<void()> callback);
    TimerId AddTimerAt(std::int64_t dueMicros, std::function<void()> callback);
    void CancelTimer(TimerId id);

    // Runs until Stop. Returns false if poll failed for a reason other than
    // a signal.
    bool Run();
    void Stop() { m_bStopped = true; }
    // Handles whatever is ready or due within maxWaitMicros, then returns;
    // for tests that step the loop themselves.
    bool RunOnce(std::int64_t maxWaitMicros);

    std::int64_t Now() const;

private:
    struct SWatch {
        short Events;      // poll events wanted
        FdHandler Handler; // called with the returned events
        std::uint64_t Generation; // tells a replaced handler from its successor
    };
    struct STimer {
        std::function<void()> Callback; // what to run when due
    };

    void RunDueTimers();

    std::map<int, SWatch> m_watches;                        // descriptors by number
    std::map<std::pair<std::int64_t, TimerId>, STimer> m_timers; // timers by due time, then id
    std::map<TimerId, std::int64_t> m_timerDue;             // due time of each pending timer
    TimerId m_nNextTimer = 1;                               // next timer id
    std::uint64_t m_nNextGeneration = 1;                    // next watch generation
    bool m_bStopped = false;                                // Stop was called
};
