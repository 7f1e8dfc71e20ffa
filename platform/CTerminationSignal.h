#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the main thread, so that a
// program asked to end by its session or a script closes as if the user had
// closed its window (the driver's application slot is given back) instead of
// dying inside a library call.
class CTerminationSignal {
public:
    // Main thread; one instance per process.
    explicit CTerminationSignal(std::function<void()> onSignal);
    ~CTerminationSignal();
    CTerminationSignal(const CTerminationSignal&) = delete;
    CTerminationSignal& operator=(const CTerminationSignal&) = delete;

private:
    static void Handler(int signal);

    int m_fds[2] = {-1, -1};                       // self-pipe: the handler writes, the loop reads
    std::unique_ptr<QSocketNotifier> m_pNotifier;  // watches the read end
    std::function<void()> m_onSignal;              // what runs on the main thread
};
