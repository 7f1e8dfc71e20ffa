#pragma once

#include "platform/CAutoResetEvent.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

// First-in first-out queue of owned byte blocks from producers on any thread
// to one consumer thread, with a data-available event and a stop event.
class CDataQueue {
public:
    CDataQueue();
    ~CDataQueue();
    CDataQueue(const CDataQueue&) = delete;
    CDataQueue& operator=(const CDataQueue&) = delete;

    // Appends a block and takes it over. A null or empty block is not queued
    // and stays with the caller.
    void Put(std::unique_ptr<uint8_t[]>&& data, int length);
    // The length of the block taken (at least 1; `data` receives it), -1 after
    // the time-out, 0 when the queue was stopped. timeoutMs -1 waits for ever.
    int Get(int timeoutMs, std::unique_ptr<uint8_t[]>& data);
    // Discards every queued block and wakes the consumer, whose next Get returns 0.
    void Stop();

private:
    struct Item {
        int length;                    // bytes in the block, at least 1
        std::unique_ptr<uint8_t[]> data;  // the block
    };

    std::mutex m_lock;                 // guards m_items and every change of m_dataAvailable
    std::deque<Item> m_items;          // guarded by m_lock; oldest first
    CAutoResetEvent m_dataAvailable;   // signalled while blocks are queued
    CAutoResetEvent m_stop;            // signalled by Stop
};
