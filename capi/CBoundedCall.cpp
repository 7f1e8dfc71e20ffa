#include "capi/CBoundedCall.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
// What the caller and the helper share; it outlives whichever leaves first.
struct Job {
    std::mutex lock;                    // guards the three fields below
    std::condition_variable finished;   // signalled when `done` is set
    bool done = false;                  // the call has returned
    bool abandoned = false;             // the caller stopped waiting
    uint32_t result = 0;                // the call's result, once done
};
}  // namespace

CBoundedCall::Outcome CBoundedCall::Run(std::function<uint32_t()> call, std::function<void(uint32_t)> onLate,
                                        int timeoutMs, uint32_t& result)
{
    auto job = std::make_shared<Job>();
    try {
        // Helper thread: runs `call` and touches only the shared job and what
        // the two functions captured.
        std::thread([job, call = std::move(call), onLate = std::move(onLate)]() {
            const uint32_t r = call();
            std::unique_lock<std::mutex> guard(job->lock);
            if (job->abandoned) {
                guard.unlock();
                if (onLate)
                    onLate(r);
                return;
            }
            job->result = r;
            job->done = true;
            job->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return NO_THREAD;
    }
    std::unique_lock<std::mutex> guard(job->lock);
    if (!job->finished.wait_for(guard, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                                [&] { return job->done; })) {
        job->abandoned = true;
        return TIMED_OUT;
    }
    result = job->result;
    return DONE;
}
