#include "CProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

CProcess::~CProcess()
{
    // A test that failed half-way must not leave a child behind; the
    // simulator ends on SIGTERM, and a client ends by its own deadline.
    if (m_pid > 0 && !Wait(std::chrono::milliseconds(100))) {
        ::kill(m_pid, SIGTERM);
        if (!Wait(std::chrono::milliseconds(40000))) {
            ::kill(m_pid, SIGKILL);
            Reap(true);
        }
    }
    if (m_outFd >= 0)
        ::close(m_outFd);
}

bool CProcess::Start(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& extraEnv)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) < 0)
        return false;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        bool overridden = false;
        for (auto& extra : extraEnv)
            overridden = overridden || extra.substr(0, extra.find('=')) == name;
        if (!overridden)
            env.push_back(entry);
    }
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> argv { const_cast<char*>(program.c_str()) };
    for (auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_outFd = fds[0];
    m_pid = pid;
    return true;
}

void CProcess::ReadSome(int timeoutMs)
{
    if (m_outFd < 0) {
        if (timeoutMs > 0)
            ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return;
    }
    pollfd pfd { m_outFd, POLLIN, 0 };
    if (::poll(&pfd, 1, timeoutMs) <= 0)
        return;
    char buffer[4096];
    ssize_t n = ::read(m_outFd, buffer, sizeof buffer);
    if (n > 0) {
        m_strOutput.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0) {
        ::close(m_outFd);
        m_outFd = -1;
    }
}

bool CProcess::Reap(bool block)
{
    if (m_pid <= 0)
        return true;
    int status = 0;
    pid_t r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (r != m_pid)
        return false;
    m_nExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_pid = -1;
    return true;
}

bool CProcess::WaitForLine(const std::string& text, std::chrono::milliseconds bound, std::string* line)
{
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        std::size_t at = m_strOutput.find(text);
        if (at != std::string::npos) {
            if (line) {
                std::size_t begin = m_strOutput.rfind('\n', at);
                begin = begin == std::string::npos ? 0 : begin + 1;
                *line = m_strOutput.substr(begin, m_strOutput.find('\n', at) - begin);
            }
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline || (m_outFd < 0 && m_pid <= 0))
            return false;
        ReadSome(50);
        if (m_outFd < 0)
            Reap(false);
    }
}

bool CProcess::Wait(std::chrono::milliseconds bound)
{
    auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        while (m_outFd >= 0) {
            std::size_t before = m_strOutput.size();
            ReadSome(0);
            if (m_strOutput.size() == before)
                break;
        }
        if (Reap(false))
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        ReadSome(20);
    }
    for (int i = 0; i < 50 && m_outFd >= 0; ++i)
        ReadSome(100);
    return true;
}

void CProcess::Signal(int signal)
{
    if (m_pid > 0)
        ::kill(m_pid, signal);
}
