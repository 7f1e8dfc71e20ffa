#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A child program for the tests: started with its own environment, its
// standard output read through a pipe, and waited for with a bound.
class CProcess {
public:
    CProcess() = default;
    ~CProcess();
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;

    // Starts program with args; extraEnv entries ("NAME=value") override the
    // inherited environment. False if it could not be started.
    bool Start(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {});
    // Reads output until a line containing text appears or the bound passes.
    bool WaitForLine(const std::string& text, std::chrono::milliseconds bound, std::string* line = nullptr);
    // Waits for the exit, reading output meanwhile. False when it did not end in time.
    bool Wait(std::chrono::milliseconds bound);
    // Sends a signal (for the simulator only; clients are never signalled).
    void Signal(int signal);
    bool Running() const { return m_pid > 0; }
    // Exit code, or 128 + signal number, once ended.
    int ExitCode() const { return m_nExitCode; }
    const std::string& Output() const { return m_strOutput; }

private:
    void ReadSome(int timeoutMs);
    bool Reap(bool block);

    pid_t m_pid = -1;          // the child, -1 once reaped
    int m_outFd = -1;          // read end of its standard output
    std::string m_strOutput;   // everything it wrote so far
    std::size_t m_nScanned = 0; // output already searched by WaitForLine
    int m_nExitCode = -1;      // its exit status
};
