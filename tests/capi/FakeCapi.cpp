// A stand-in for the CAPI 2.0 library: exports the library's entry points,
// records what it is given, plays indications that a test queues, and counts
// the misuses that the real library punishes (a release that overlaps another
// call, a read without a message waiting, a DATA_B3_IND answered twice).
#include "FakeCapiControl.h"

#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct SentMessage {
    std::vector<uint8_t> message;  // the message as handed over
    std::vector<uint8_t> data;     // a DATA_B3_REQ's block, read through Data64
};

struct Fake {
    std::mutex lock;                  // guards everything below except `inside`
    std::condition_variable changed;  // signalled whenever something below changes
    std::map<std::string, long> settings;
    std::map<std::string, unsigned> counters;
    unsigned nextApplId = 1;
    unsigned registerArgs[3] = {0, 0, 0};
    unsigned lastReleased = 0;
    std::set<unsigned> registered;
    std::deque<std::vector<uint8_t>> incoming;   // queued indications and confirmations
    std::vector<uint8_t> current;                // the message last handed out by get
    std::vector<SentMessage> sent;
    std::set<uint16_t> openDataHandles;          // DATA_B3_IND handles handed out, not yet answered
    std::map<uint16_t, std::vector<uint8_t>> replies;  // one-shot: queued when a message of that key is put
    bool linkLost = false;
    int putsSinceLoss = 0;
    std::atomic<int> inside{0};                  // threads inside wait, get or put
};

Fake& F()
{
    static Fake* fake = new Fake;
    return *fake;
}

long Setting(const char* name)
{
    auto it = F().settings.find(name);
    return it == F().settings.end() ? 0 : it->second;
}

struct Inside {
    Inside() { ++F().inside; }
    ~Inside() { --F().inside; }
};

uint16_t Word(const uint8_t* p, size_t offset)
{
    return static_cast<uint16_t>(p[offset] | (p[offset + 1] << 8));
}

void PutWord(std::vector<uint8_t>& m, size_t offset, uint16_t value)
{
    m[offset] = static_cast<uint8_t>(value);
    m[offset + 1] = static_cast<uint8_t>(value >> 8);
}

std::vector<uint8_t> DataB3Conf(uint16_t applId, uint16_t number, const uint8_t* request, uint16_t info)
{
    std::vector<uint8_t> m(16, 0);
    PutWord(m, 0, 16);
    PutWord(m, 2, applId);
    m[4] = 0x86;
    m[5] = 0x81;
    PutWord(m, 6, number);
    std::memcpy(m.data() + 8, request + 8, 4);
    PutWord(m, 12, Word(request, 18));
    PutWord(m, 14, info);
    return m;
}

}  // namespace

extern "C" {

unsigned capi20_isinstalled(void)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["installed"];
    F().changed.notify_all();
    return static_cast<unsigned>(Setting("installed"));
}

unsigned capi20_register(unsigned maxLogicalConnection, unsigned maxBDataBlocks, unsigned maxBDataLen, unsigned* applId)
{
    std::unique_lock<std::mutex> guard(F().lock);
    ++F().counters["register"];
    F().registerArgs[0] = maxLogicalConnection;
    F().registerArgs[1] = maxBDataBlocks;
    F().registerArgs[2] = maxBDataLen;
    F().changed.notify_all();
    // A peer that accepts but does not answer, until the test lets go.
    F().changed.wait_for(guard, std::chrono::seconds(30), [] { return Setting("block_register") == 0; });
    if (const long result = Setting("register_result"))
        return static_cast<unsigned>(result);
    const unsigned id = F().nextApplId++;
    F().registered.insert(id);
    if (applId)
        *applId = id;
    return 0;
}

unsigned capi20_release(unsigned applId)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["release"];
    if (F().inside.load() > 0)
        ++F().counters["overlap"];
    F().lastReleased = applId;
    const bool known = F().registered.erase(applId) > 0;
    F().changed.notify_all();
    return known ? 0 : 0x1101;
}

unsigned capi20_put_message(unsigned applId, unsigned char* message)
{
    Inside inside;
    std::unique_lock<std::mutex> guard(F().lock);
    ++F().counters["put"];
    if (!F().registered.count(applId))
        return 0x1101;
    if (F().linkLost)
        return F().putsSinceLoss++ == 0 ? 0 : 0x1108;
    if (const long result = Setting("put_result")) {
        ++F().counters["put_refused"];
        return static_cast<unsigned>(result);
    }
    const uint16_t length = Word(message, 0);
    SentMessage record;
    record.message.assign(message, message + length);
    const uint16_t key = Word(message, 4);
    bool holdForConfirmation = false;
    if (key == 0x8086 && length >= 30) {
        const uint16_t dataLength = Word(message, 16);
        uint64_t address = 0;
        std::memcpy(&address, message + 22, sizeof address);
        const auto* data = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(address));
        if (data && dataLength) {
            record.data.assign(data, data + dataLength);
            // As the library does: the block goes right behind the message,
            // and two bytes past it are read.
            std::memcpy(message + length, data, dataLength);
            volatile uint8_t overrun = message[length + dataLength];
            overrun = message[length + dataLength + 1];
            (void)overrun;
        }
        if (const long mode = Setting("auto_confirm")) {
            F().incoming.push_back(DataB3Conf(static_cast<uint16_t>(applId), Word(message, 6), message,
                                              static_cast<uint16_t>(Setting("confirm_info"))));
            holdForConfirmation = mode == 2;
        }
    }
    if (key == 0x8386) {
        if (!F().openDataHandles.erase(Word(message, 12)))
            ++F().counters["bad_data_resp"];
    }
    auto reply = F().replies.find(key);
    if (reply != F().replies.end()) {
        F().incoming.push_back(reply->second);
        F().replies.erase(reply);
    }
    F().sent.push_back(std::move(record));
    F().changed.notify_all();
    if (holdForConfirmation) {
        // The confirmation is read and handled before this put returns.
        const unsigned fetched = F().counters["got"];
        F().changed.wait_for(guard, std::chrono::seconds(2), [&] { return F().counters["got"] > fetched; });
        guard.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

unsigned capi20_get_message(unsigned applId, unsigned char** message)
{
    Inside inside;
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["get"];
    if (!F().registered.count(applId))
        return 0x1101;
    if (F().linkLost)
        return 0x1104;
    if (F().incoming.empty()) {
        // The real library would block here.
        ++F().counters["get_without_message"];
        return 0x1104;
    }
    F().current = std::move(F().incoming.front());
    F().incoming.pop_front();
    std::vector<uint8_t>& m = F().current;
    if (m.size() >= 30 && m[4] == 0x86 && m[5] == 0x82) {
        uint64_t address = 0;
        std::memcpy(&address, m.data() + 22, sizeof address);
        if (address == 0 && m.size() > 30) {
            // The block lies just behind the message.
            address = reinterpret_cast<uintptr_t>(m.data() + 30);
            std::memcpy(m.data() + 22, &address, sizeof address);
        }
        if (!F().openDataHandles.insert(Word(m.data(), 18)).second)
            ++F().counters["data_handle_reused"];
    }
    *message = m.data();
    ++F().counters["got"];
    F().changed.notify_all();
    return 0;
}

unsigned capi20_waitformessage(unsigned applId, struct timeval* timeout)
{
    Inside inside;
    std::unique_lock<std::mutex> guard(F().lock);
    ++F().counters["wait"];
    F().changed.notify_all();
    if (!F().registered.count(applId))
        return 0x1101;
    if (F().linkLost)
        return 0;
    bool stalled = false;
    const auto start = Clock::now();
    const auto total = timeout ? std::chrono::microseconds(timeout->tv_sec * 1000000L + timeout->tv_usec)
                               : std::chrono::microseconds(3600L * 1000000L);
    for (;;) {
        if (!F().incoming.empty() || F().linkLost)
            break;
        const auto now = Clock::now();
        if (Setting("stall_wait")) {
            // A wait that does not come back, whatever the time-out says.
            if (!stalled) {
                stalled = true;
                ++F().counters["stalled"];
                F().changed.notify_all();
            }
            F().changed.wait_for(guard, std::chrono::milliseconds(20));
            continue;
        }
        if (now - start >= total)
            break;
        F().changed.wait_until(guard, start + total);
    }
    if (timeout) {
        // As the library does: the time left goes back into the timeval.
        const auto used = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        const auto left = used >= total ? std::chrono::microseconds(0) : total - used;
        timeout->tv_sec = static_cast<time_t>(left.count() / 1000000);
        timeout->tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
    }
    return (F().incoming.empty() && !F().linkLost) ? 0x1104 : 0;
}

unsigned char* capi20_get_manufacturer(unsigned, unsigned char* buffer)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["manufacturer"];
    return buffer;
}

unsigned char* capi20_get_version(unsigned, unsigned char* buffer)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["version"];
    return buffer;
}

unsigned char* capi20_get_serial_number(unsigned, unsigned char* buffer)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["serial"];
    return buffer;
}

unsigned capi20_get_profile(unsigned, unsigned char*)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["profile"];
    return 0;
}

int capi20_fileno(unsigned)
{
    std::lock_guard<std::mutex> guard(F().lock);
    ++F().counters["fileno"];
    return static_cast<int>(Setting("fileno") ? Setting("fileno") : -1);
}

// ---- control by the tests ----

void fake_reset(void)
{
    std::lock_guard<std::mutex> guard(F().lock);
    F().settings.clear();
    F().counters.clear();
    F().nextApplId = 1;
    F().registered.clear();
    F().incoming.clear();
    F().sent.clear();
    F().openDataHandles.clear();
    F().replies.clear();
    F().linkLost = false;
    F().putsSinceLoss = 0;
    F().lastReleased = 0;
    F().changed.notify_all();
}

void fake_set(const char* name, long value)
{
    std::lock_guard<std::mutex> guard(F().lock);
    F().settings[name] = value;
    F().changed.notify_all();
}

void fake_push(const uint8_t* bytes, unsigned length)
{
    std::lock_guard<std::mutex> guard(F().lock);
    F().incoming.emplace_back(bytes, bytes + length);
    F().changed.notify_all();
}

void fake_reply_on_put(uint16_t key, const uint8_t* bytes, unsigned length)
{
    std::lock_guard<std::mutex> guard(F().lock);
    F().replies[key] = std::vector<uint8_t>(bytes, bytes + length);
}

void fake_lose_link(void)
{
    std::lock_guard<std::mutex> guard(F().lock);
    F().linkLost = true;
    F().putsSinceLoss = 0;
    F().changed.notify_all();
}

unsigned fake_counter(const char* name)
{
    std::lock_guard<std::mutex> guard(F().lock);
    return F().counters[name];
}

int fake_wait_counter(const char* name, unsigned atLeast, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(F().lock);
    return F().changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return F().counters[name] >= atLeast; })
               ? 1
               : 0;
}

int fake_sent_count(void)
{
    std::lock_guard<std::mutex> guard(F().lock);
    return static_cast<int>(F().sent.size());
}

int fake_wait_sent(int count, int timeoutMs)
{
    std::unique_lock<std::mutex> guard(F().lock);
    return F().changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return static_cast<int>(F().sent.size()) >= count; })
               ? 1
               : 0;
}

int fake_sent_message(int index, uint8_t* buffer, int capacity)
{
    std::lock_guard<std::mutex> guard(F().lock);
    if (index < 0 || index >= static_cast<int>(F().sent.size()))
        return -1;
    const std::vector<uint8_t>& m = F().sent[static_cast<size_t>(index)].message;
    const int n = static_cast<int>(m.size()) < capacity ? static_cast<int>(m.size()) : capacity;
    std::memcpy(buffer, m.data(), static_cast<size_t>(n));
    return static_cast<int>(m.size());
}

int fake_sent_data(int index, uint8_t* buffer, int capacity)
{
    std::lock_guard<std::mutex> guard(F().lock);
    if (index < 0 || index >= static_cast<int>(F().sent.size()))
        return -1;
    const std::vector<uint8_t>& d = F().sent[static_cast<size_t>(index)].data;
    const int n = static_cast<int>(d.size()) < capacity ? static_cast<int>(d.size()) : capacity;
    if (n)
        std::memcpy(buffer, d.data(), static_cast<size_t>(n));
    return static_cast<int>(d.size());
}

unsigned fake_register_arg(int index)
{
    std::lock_guard<std::mutex> guard(F().lock);
    return index >= 0 && index < 3 ? F().registerArgs[index] : 0;
}

unsigned fake_last_released(void)
{
    std::lock_guard<std::mutex> guard(F().lock);
    return F().lastReleased;
}

int fake_is_registered(unsigned applId)
{
    std::lock_guard<std::mutex> guard(F().lock);
    return F().registered.count(applId) ? 1 : 0;
}

}  // extern "C"
