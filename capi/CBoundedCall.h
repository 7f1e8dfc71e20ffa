#pragma once

#include <cstdint>
#include <functional>

// Runs one driver call on a helper thread and waits for it for a bounded time,
// so that a driver that never answers cannot hold up the caller. A call that
// is still running when the time is up is abandoned: the helper finishes it on
// its own and then hands the late result to `onLate`. Whatever the call and
// `onLate` need (the library handle above all) must be captured by value.
class CBoundedCall {
public:
    enum Outcome { DONE, TIMED_OUT, NO_THREAD };

    // `result` receives the call's result when the outcome is DONE.
    static Outcome Run(std::function<uint32_t()> call, std::function<void(uint32_t)> onLate, int timeoutMs,
                       uint32_t& result);
};
