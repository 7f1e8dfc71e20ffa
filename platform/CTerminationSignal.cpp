#include "platform/CTerminationSignal.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {
std::atomic<int> g_writeFd{-1};  // the pipe's write end, for the signal handler
}

void CTerminationSignal::Handler(int)
{
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t ignored = ::write(fd, &byte, 1);
    }
}

CTerminationSignal::CTerminationSignal(std::function<void()> onSignal) : m_onSignal(std::move(onSignal))
{
    if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeFd = m_fds[1];
    m_pNotifier = std::make_unique<QSocketNotifier>(m_fds[0], QSocketNotifier::Read);
    QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, [this] {
        char buf[64];
        while (::read(m_fds[0], buf, sizeof buf) > 0) {
        }
        if (m_onSignal)
            m_onSignal();
    });
    struct sigaction sa {};
    sa.sa_handler = &CTerminationSignal::Handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
}

CTerminationSignal::~CTerminationSignal()
{
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    g_writeFd = -1;
    m_pNotifier.reset();
    for (int fd : m_fds)
        if (fd >= 0)
            ::close(fd);
}
