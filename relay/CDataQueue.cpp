#include "relay/CDataQueue.h"

#include <chrono>
#include <thread>

CDataQueue::CDataQueue() = default;

CDataQueue::~CDataQueue()
{
    Stop();
    // Lets a consumer woken by the stop leave Get before the events go.
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

void CDataQueue::Put(std::unique_ptr<uint8_t[]>&& data, int length)
{
    if (!data || length <= 0)
        return;
    std::lock_guard<std::mutex> guard(m_lock);
    m_items.push_back(Item{length, std::move(data)});
    m_dataAvailable.Set();
}

int CDataQueue::Get(int timeoutMs, std::unique_ptr<uint8_t[]>& data)
{
    int result;
    switch (CAutoResetEvent::WaitForTwo(m_dataAvailable, m_stop, timeoutMs)) {
    case CAutoResetEvent::WAIT_FIRST: {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_items.empty()) {
            result = -1;
        } else {
            Item item = std::move(m_items.front());
            m_items.pop_front();
            data = std::move(item.data);
            result = item.length;
        }
        break;
    }
    case CAutoResetEvent::WAIT_SECOND:
        result = 0;
        break;
    default:
        result = -1;
        break;
    }
    // The event is auto-reset: set it again so that the next block is found at once.
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_items.empty())
        m_dataAvailable.Reset();
    else
        m_dataAvailable.Set();
    return result;
}

void CDataQueue::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_dataAvailable.Reset();
        m_items.clear();
    }
    m_stop.Set();
}
