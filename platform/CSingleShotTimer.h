#pragma once

#include <functional>
#include <memory>

class QTimer;

// A one-shot timer on the main thread's event loop. It costs nothing while it
// is not armed, so an idle program is never woken by it.
class CSingleShotTimer {
public:
    CSingleShotTimer();
    ~CSingleShotTimer();
    CSingleShotTimer(const CSingleShotTimer&) = delete;
    CSingleShotTimer& operator=(const CSingleShotTimer&) = delete;

    // (Re-)arms the timer; `expired` runs once on the main thread after `ms`.
    void Start(int ms, std::function<void()> expired);
    void Stop();
    bool IsActive() const;

private:
    std::unique_ptr<QTimer> m_pTimer;     // the Qt timer, single-shot
    std::function<void()> m_expired;      // what runs when it fires
};
