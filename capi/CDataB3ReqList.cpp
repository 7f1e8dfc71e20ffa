#include "capi/CDataB3ReqList.h"

#include <chrono>

CDataB3ReqList::~CDataB3ReqList()
{
    RemoveAll();
}

void CDataB3ReqList::AddRequest(uint16_t msgNum, std::unique_ptr<uint8_t[]> data)
{
    if (!data)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        CAPIDATAREQ request;
        request.MsgNum = msgNum;
        request.Data = std::move(data);
        m_requests.push_back(std::move(request));
    }
    m_added.notify_all();
}

std::unique_ptr<uint8_t[]> CDataB3ReqList::TakeLocked(uint16_t msgNum)
{
    for (auto it = m_requests.begin(); it != m_requests.end(); ++it) {
        if (it->MsgNum == msgNum) {
            std::unique_ptr<uint8_t[]> data = std::move(it->Data);
            m_requests.erase(it);
            return data;
        }
    }
    return nullptr;
}

std::unique_ptr<uint8_t[]> CDataB3ReqList::TakeRequest(uint16_t msgNum)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return TakeLocked(msgNum);
}

std::unique_ptr<uint8_t[]> CDataB3ReqList::TakeRequest(uint16_t msgNum, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        std::unique_ptr<uint8_t[]> data = TakeLocked(msgNum);
        if (data)
            return data;
        if (m_added.wait_until(guard, deadline) == std::cv_status::timeout)
            return TakeLocked(msgNum);
    }
}

void CDataB3ReqList::RemoveAll()
{
    std::list<CAPIDATAREQ> gone;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        gone.swap(m_requests);
    }
    while (!gone.empty())
        gone.pop_front();
}

size_t CDataB3ReqList::GetCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests.size();
}
