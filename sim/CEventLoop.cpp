#include "sim/CEventLoop.h"

#include "sim/CSysApi.h"

#include <cerrno>
#include <vector>

void CEventLoop::Watch(int fd, short events, FdHandler handler)
{
    m_watches[fd] = SWatch { events, std::move(handler), m_nNextGeneration++ };
}

void CEventLoop::SetEvents(int fd, short events)
{
    auto it = m_watches.find(fd);
    if (it != m_watches.end())
        it->second.Events = events;
}

void CEventLoop::Unwatch(int fd) { m_watches.erase(fd); }

std::int64_t CEventLoop::Now() const { return CSysApi::Get().NowMicros(); }

CEventLoop::TimerId CEventLoop::AddTimer(std::int64_t delayMicros, std::function<void()> callback)
{
    return AddTimerAt(Now() + (delayMicros > 0 ? delayMicros : 0), std::move(callback));
}

CEventLoop::TimerId CEventLoop::AddTimerAt(std::int64_t dueMicros, std::function<void()> callback)
{
    TimerId id = m_nNextTimer++;
    m_timers.emplace(std::make_pair(dueMicros, id), STimer { std::move(callback) });
    m_timerDue[id] = dueMicros;
    return id;
}

void CEventLoop::CancelTimer(TimerId id)
{
    auto it = m_timerDue.find(id);
    if (it == m_timerDue.end())
        return;
    m_timers.erase(std::make_pair(it->second, id));
    m_timerDue.erase(it);
}

void CEventLoop::RunDueTimers()
{
    // Timers added by a callback with no delay run in the next pass, so a
    // chain of zero-delay timers cannot starve the descriptors.
    std::int64_t now = Now();
    TimerId limit = m_nNextTimer;
    for (;;) {
        auto it = m_timers.begin();
        while (it != m_timers.end() && it->first.second >= limit && it->first.first <= now)
            ++it;
        if (it == m_timers.end() || it->first.first > now)
            return;
        auto callback = std::move(it->second.Callback);
        m_timerDue.erase(it->first.second);
        m_timers.erase(it);
        callback();
        if (m_bStopped)
            return;
    }
}

bool CEventLoop::RunOnce(std::int64_t maxWaitMicros)
{
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> generations;
    fds.reserve(m_watches.size());
    for (auto& [fd, watch] : m_watches) {
        fds.push_back(pollfd { fd, watch.Events, 0 });
        generations.push_back(watch.Generation);
    }
    std::int64_t wait = maxWaitMicros;
    if (!m_timers.empty()) {
        std::int64_t untilTimer = m_timers.begin()->first.first - Now();
        if (untilTimer < wait)
            wait = untilTimer < 0 ? 0 : untilTimer;
    }
    // Round up, so that a timer is never polled for too early and spun on.
    int waitMs = wait < 0 ? -1 : static_cast<int>((wait + 999) / 1000);
    int n = CSysApi::Get().Poll(fds.data(), fds.size(), waitMs);
    if (n < 0 && errno != EINTR)
        return false;
    if (n > 0) {
        for (std::size_t i = 0; i < fds.size() && !m_bStopped; ++i) {
            if (fds[i].revents == 0)
                continue;
            auto it = m_watches.find(fds[i].fd);
            // Skip descriptors removed or replaced by an earlier callback.
            if (it == m_watches.end() || it->second.Generation != generations[i])
                continue;
            FdHandler handler = it->second.Handler;
            handler(fds[i].revents);
        }
    }
    if (!m_bStopped)
        RunDueTimers();
    return true;
}

bool CEventLoop::Run()
{
    while (!m_bStopped) {
        // A minute at most, so that even a lost wake-up is recovered.
        if (!RunOnce(60 * 1000000LL))
            return false;
    }
    return true;
}
