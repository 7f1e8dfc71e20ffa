#include "platform/CMainThreadMessenger.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>

struct CMainThreadMessenger::Pending {
    bool running = false;    // the main thread has started the call
    bool finished = false;   // the call has returned, or will never run
};

CMainThreadMessenger::CMainThreadMessenger()
    : m_pContext(std::make_unique<QObject>()), m_pAlive(std::make_shared<bool>(true))
{
}

CMainThreadMessenger::~CMainThreadMessenger()
{
    Close();
}

bool CMainThreadMessenger::IsMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool CMainThreadMessenger::IsClosed() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bClosed;
}

bool CMainThreadMessenger::Send(const std::function<void()>& call)
{
    if (IsMainThread()) {
        if (IsClosed())
            return false;
        call();
        return true;
    }
    auto pending = std::make_shared<Pending>();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bClosed)
            return false;
    }
    const std::function<void()>* pCall = &call;
    std::weak_ptr<bool> alive = m_pAlive;
    bool queued = QMetaObject::invokeMethod(
        m_pContext.get(),
        [this, pending, pCall, alive] {
            if (alive.expired())
                return;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (pending->finished)
                    return;  // dropped by Close: the sender has gone, and so has its call
                pending->running = true;
            }
            (*pCall)();
            {
                std::lock_guard<std::mutex> guard(m_lock);
                pending->finished = true;
            }
            m_done.notify_all();
        },
        Qt::QueuedConnection);
    if (!queued)
        return false;
    std::unique_lock<std::mutex> guard(m_lock);
    // The main thread's own waits are all bounded, so this one is too; Close
    // ends it early when the loop is about to stop.
    m_done.wait(guard, [&] { return pending->finished || (m_bClosed && !pending->running); });
    const bool ran = pending->running;
    pending->finished = true;
    return ran;
}

bool CMainThreadMessenger::Post(std::function<void()> call)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bClosed)
            return false;
    }
    std::weak_ptr<bool> alive = m_pAlive;
    return QMetaObject::invokeMethod(
        m_pContext.get(),
        [this, alive, call = std::move(call)] {
            if (alive.expired() || IsClosed())
                return;
            call();
        },
        Qt::QueuedConnection);
}

void CMainThreadMessenger::Close()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bClosed)
            return;
        m_bClosed = true;
    }
    m_done.notify_all();
}
