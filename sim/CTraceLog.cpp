#include "sim/CTraceLog.h"

#include "sim/CCapiMessage.h"
#include "sim/CCapiTrace.h"

#include <sys/time.h>

#include <ctime>

CTraceLog::~CTraceLog() { Close(); }

bool CTraceLog::Open(const std::string& path)
{
    Close();
    if (path == "-") {
        m_pFile = stdout;
        m_bOwned = false;
        return true;
    }
    m_pFile = std::fopen(path.c_str(), "a");
    m_bOwned = m_pFile != nullptr;
    return m_pFile != nullptr;
}

void CTraceLog::Close()
{
    if (m_pFile && m_bOwned)
        std::fclose(m_pFile);
    else if (m_pFile)
        std::fflush(m_pFile);
    m_pFile = nullptr;
    m_bOwned = false;
}

void CTraceLog::Line(const char* arrow, const std::string& text)
{
    if (!m_pFile)
        return;
    timeval tv {};
    ::gettimeofday(&tv, nullptr);
    std::tm local {};
    time_t seconds = tv.tv_sec;
    ::localtime_r(&seconds, &local);
    std::fprintf(m_pFile, "%02d:%02d:%02d.%03ld %s %s\n", local.tm_hour, local.tm_min, local.tm_sec,
        static_cast<long>(tv.tv_usec / 1000), arrow, text.c_str());
    std::fflush(m_pFile);
}

void CTraceLog::Message(EDirection direction, const CCapiMessage& msg)
{
    Line(direction == EDirection::FromClient ? "<-" : "->", CCapiTrace::Describe(msg));
}

void CTraceLog::Note(const std::string& text) { Line("--", text); }
