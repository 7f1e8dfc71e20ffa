#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>

// One outstanding DATA_B3_REQ: its message number (also its data handle and
// the message number of its confirmation) and the block it handed to the driver.
struct CAPIDATAREQ {
    uint16_t MsgNum = 0;               // message number of the request
    std::unique_ptr<uint8_t[]> Data;   // the block, owned until the confirmation takes it
};

// The outstanding requests, oldest first. Shared by the sending thread, which
// adds, and the receive thread, which takes; each list operation holds the
// lock for itself only, never across a pause or a driver call.
class CDataB3ReqList {
public:
    CDataB3ReqList() = default;
    ~CDataB3ReqList();
    CDataB3ReqList(const CDataB3ReqList&) = delete;
    CDataB3ReqList& operator=(const CDataB3ReqList&) = delete;

    // Appends a record; the list owns the block from here on. A null block is not recorded.
    void AddRequest(uint16_t msgNum, std::unique_ptr<uint8_t[]> data);
    // Removes the oldest record with this message number and hands its block
    // to the caller; null when none matches.
    std::unique_ptr<uint8_t[]> TakeRequest(uint16_t msgNum);
    // As TakeRequest, but waits up to `timeoutMs` for the record to be added,
    // since a confirmation may overtake the sender's bookkeeping.
    std::unique_ptr<uint8_t[]> TakeRequest(uint16_t msgNum, int timeoutMs);
    // Releases every block, oldest first, and empties the list.
    void RemoveAll();
    size_t GetCount() const;

private:
    std::unique_ptr<uint8_t[]> TakeLocked(uint16_t msgNum);

    mutable std::mutex m_lock;         // guards m_requests
    std::condition_variable m_added;   // signalled by every AddRequest
    std::list<CAPIDATAREQ> m_requests; // the records, oldest first
};
