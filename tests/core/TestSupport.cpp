#include "TestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

void Spin(int ms)
{
    WaitUntil([] { return false; }, ms);
}
