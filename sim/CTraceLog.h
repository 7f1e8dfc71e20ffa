#pragma once

#include <cstdio>
#include <string>

class CCapiMessage;

// The line trace: one time-stamped line per CAPI message and per event of
// the exchange, flushed at once so that a test or a technician can follow it
// while the simulator runs.
class CTraceLog {
public:
    // Which way a message travels, seen from the client.
    enum class EDirection { FromClient, ToClient };

    CTraceLog() = default;
    ~CTraceLog();
    CTraceLog(const CTraceLog&) = delete;
    CTraceLog& operator=(const CTraceLog&) = delete;

    // Opens path for appending ("-" is standard output). False if it cannot.
    bool Open(const std::string& path);
    void Close();

    // "12:00:01.234 <- CONNECT_REQ appl=1 ..." or "... -> ...".
    void Message(EDirection direction, const CCapiMessage& msg);
    // "12:00:01.234 -- text" for everything that is not a message.
    void Note(const std::string& text);
    // A line with its arrow given, for the register and query frames.
    void Line(const char* arrow, const std::string& text);

private:
    std::FILE* m_pFile = nullptr; // where lines go; null when tracing is off
    bool m_bOwned = false;        // m_pFile was opened here and must be closed
};
