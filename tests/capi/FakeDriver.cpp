#include "FakeDriver.h"

#include "FakeCapiControl.h"
#include "TestMessage.h"

#include <chrono>
#include <thread>

CCapiOptions FakeDriver::Options()
{
    CCapiOptions options;
    options.library = FAKE_CAPI_LIBRARY;
    options.callTimeoutMs = 500;
    options.waitSliceMs = 50;
    options.threadEndWaitMs = 3000;
    return options;
}

void FakeDriver::Reset() { fake_reset(); }
void FakeDriver::Set(const char* name, long value) { fake_set(name, value); }

void FakeDriver::Push(const std::vector<uint8_t>& message)
{
    fake_push(message.data(), static_cast<unsigned>(message.size()));
}

void FakeDriver::ReplyOnPut(uint16_t key, const std::vector<uint8_t>& message)
{
    fake_reply_on_put(key, message.data(), static_cast<unsigned>(message.size()));
}

void FakeDriver::LoseLink() { fake_lose_link(); }
unsigned FakeDriver::Counter(const char* name) { return fake_counter(name); }

bool FakeDriver::WaitCounter(const char* name, unsigned atLeast, int timeoutMs)
{
    return fake_wait_counter(name, atLeast, timeoutMs) != 0;
}

int FakeDriver::SentCount() { return fake_sent_count(); }
bool FakeDriver::WaitSent(int count, int timeoutMs) { return fake_wait_sent(count, timeoutMs) != 0; }

std::vector<uint8_t> FakeDriver::Sent(int index)
{
    std::vector<uint8_t> m(4096);
    const int n = fake_sent_message(index, m.data(), static_cast<int>(m.size()));
    m.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return m;
}

std::vector<uint8_t> FakeDriver::SentData(int index)
{
    std::vector<uint8_t> d(4096);
    const int n = fake_sent_data(index, d.data(), static_cast<int>(d.size()));
    d.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return d;
}

std::vector<uint16_t> FakeDriver::SentKeys(int from)
{
    std::vector<uint16_t> keys;
    const int count = SentCount();
    for (int i = from; i < count; ++i)
        keys.push_back(WordAt(Sent(i), 4));
    return keys;
}

std::vector<uint8_t> FakeDriver::WaitForKey(uint16_t key, int from, int* index, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (int i = from;; ++i) {
        while (SentCount() <= i) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitSent(i + 1, static_cast<int>(left.count())))
                return {};
        }
        std::vector<uint8_t> m = Sent(i);
        if (WordAt(m, 4) == key) {
            if (index)
                *index = i;
            return m;
        }
    }
}

bool FakeDriver::Drain()
{
    static uint32_t marker = 0x7E00;
    const uint32_t plci = ++marker;
    Push(Ind::InfoInd(0x7777, plci));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        const int count = SentCount();
        for (int i = count - 1; i >= 0; --i) {
            const std::vector<uint8_t> m = Sent(i);
            if (WordAt(m, 4) == 0x8308 && DwordAt(m, 8) == plci)
                return true;
        }
        WaitSent(count + 1, 100);
    }
    return false;
}
