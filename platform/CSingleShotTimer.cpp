#include "platform/CSingleShotTimer.h"

#include <QTimer>

CSingleShotTimer::CSingleShotTimer() : m_pTimer(std::make_unique<QTimer>())
{
    m_pTimer->setSingleShot(true);
    QObject::connect(m_pTimer.get(), &QTimer::timeout, [this] {
        // Moved out first: the call may re-arm or destroy this timer.
        std::function<void()> expired = std::move(m_expired);
        m_expired = nullptr;
        if (expired)
            expired();
    });
}

CSingleShotTimer::~CSingleShotTimer() = default;

void CSingleShotTimer::Start(int ms, std::function<void()> expired)
{
    m_expired = std::move(expired);
    m_pTimer->start(ms < 0 ? 0 : ms);
}

void CSingleShotTimer::Stop()
{
    m_pTimer->stop();
    m_expired = nullptr;
}

bool CSingleShotTimer::IsActive() const
{
    return m_pTimer->isActive();
}
