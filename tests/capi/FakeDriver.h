#pragma once

#include "capi/CCapiOptions.h"

#include <cstdint>
#include <vector>

// The tests' view of the fake CAPI library: what the binding handed it, and
// what it should play back.
class FakeDriver {
public:
    // Options that bind the fake, with short bounds where a test waits for them.
    static CCapiOptions Options();
    static void Reset();
    static void Set(const char* name, long value);
    static void Push(const std::vector<uint8_t>& message);
    static void ReplyOnPut(uint16_t key, const std::vector<uint8_t>& message);
    static void LoseLink();
    static unsigned Counter(const char* name);
    static bool WaitCounter(const char* name, unsigned atLeast, int timeoutMs = 5000);

    static int SentCount();
    static bool WaitSent(int count, int timeoutMs = 5000);
    static std::vector<uint8_t> Sent(int index);
    static std::vector<uint8_t> SentData(int index);
    // Dispatch keys of everything sent from `from` on.
    static std::vector<uint16_t> SentKeys(int from = 0);
    // Waits for the first message with `key` at or after index `from`; returns
    // it and sets `index`; an empty message when none came.
    static std::vector<uint8_t> WaitForKey(uint16_t key, int from = 0, int* index = nullptr, int timeoutMs = 5000);
    // Returns once every message queued so far has been handled by the
    // receive thread: it queues an INFO_IND and waits for its answer.
    static bool Drain();
};
