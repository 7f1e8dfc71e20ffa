#include "platform/CAutoResetEvent.h"

#include <algorithm>
#include <chrono>

std::mutex& CAutoResetEvent::Lock()
{
    static std::mutex lock;
    return lock;
}

CAutoResetEvent::CAutoResetEvent(bool initiallySignalled) : m_bSignalled(initiallySignalled) {}

CAutoResetEvent::~CAutoResetEvent() = default;

void CAutoResetEvent::Set()
{
    std::lock_guard<std::mutex> guard(Lock());
    m_bSignalled = true;
    for (std::condition_variable* waiter : m_waiters)
        waiter->notify_one();
}

void CAutoResetEvent::Reset()
{
    std::lock_guard<std::mutex> guard(Lock());
    m_bSignalled = false;
}

bool CAutoResetEvent::Wait(int timeoutMs)
{
    // A wait on one event is a wait on two where the second is this one again.
    return WaitForTwo(*this, *this, timeoutMs) != WAIT_TIMEOUT;
}

CAutoResetEvent::WaitResult CAutoResetEvent::WaitForTwo(CAutoResetEvent& first, CAutoResetEvent& second, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock<std::mutex> guard(Lock());
    std::condition_variable wake;
    bool registered = false;
    auto unregister = [&] {
        if (!registered)
            return;
        for (CAutoResetEvent* ev : {&first, &second}) {
            auto it = std::find(ev->m_waiters.begin(), ev->m_waiters.end(), &wake);
            if (it != ev->m_waiters.end())
                ev->m_waiters.erase(it);
        }
        registered = false;
    };
    for (;;) {
        if (first.m_bSignalled) {
            first.m_bSignalled = false;
            unregister();
            return WAIT_FIRST;
        }
        if (second.m_bSignalled) {
            second.m_bSignalled = false;
            unregister();
            return &second == &first ? WAIT_FIRST : WAIT_SECOND;
        }
        if (timeoutMs == 0) {
            unregister();
            return WAIT_TIMEOUT;
        }
        if (!registered) {
            first.m_waiters.push_back(&wake);
            if (&second != &first)
                second.m_waiters.push_back(&wake);
            registered = true;
        }
        if (timeoutMs < 0) {
            wake.wait(guard);
        } else if (wake.wait_until(guard, deadline) == std::cv_status::timeout) {
            // One last look: a Set may have come together with the time-out.
            if (!first.m_bSignalled && !second.m_bSignalled) {
                unregister();
                return WAIT_TIMEOUT;
            }
        }
    }
}
