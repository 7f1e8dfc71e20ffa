#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QObject;

// Delivers calls to the main thread, the way window messages reach a window:
// Send runs the call and returns when it has run (at once when already on the
// main thread); Post queues it to run after the current handler. Once Close
// has been called, both return at once without running anything, and a
// sender that is still waiting is released: no thread ever blocks on a loop
// that no longer runs.
class CMainThreadMessenger {
public:
    // Created on the main thread, whose event loop runs the calls.
    CMainThreadMessenger();
    ~CMainThreadMessenger();
    CMainThreadMessenger(const CMainThreadMessenger&) = delete;
    CMainThreadMessenger& operator=(const CMainThreadMessenger&) = delete;

    // Any thread. True when the call ran.
    bool Send(const std::function<void()>& call);
    // Any thread. True when the call was queued.
    bool Post(std::function<void()> call);
    // Main thread.
    void Close();
    bool IsClosed() const;

    // True on the thread that runs the Qt application's event loop.
    static bool IsMainThread();

private:
    struct Pending;

    std::unique_ptr<QObject> m_pContext;  // lives on the main thread; target of the queued calls
    mutable std::mutex m_lock;            // guards m_bClosed and every Pending's flags
    std::condition_variable m_done;       // signalled when a sent call has run or was dropped
    bool m_bClosed = false;               // guarded by m_lock
    std::shared_ptr<bool> m_pAlive;       // cleared on destruction; queued calls check it
};
