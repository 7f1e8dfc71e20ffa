#include "FakeRelayApp.h"

#include <chrono>
#include <cstring>

void FakeRelayApp::DeliverToMainWindow(const uint8_t* block, int length)
{
    if (m_onDeliver)
        m_onDeliver(block, length);
    std::lock_guard<std::mutex> guard(m_lock);
    m_blocks.emplace_back(block, block + length);
    m_added.notify_all();
}

std::vector<std::vector<uint8_t>> FakeRelayApp::Blocks() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_blocks;
}

std::vector<int> FakeRelayApp::Reports() const
{
    std::vector<int> codes;
    for (const auto& b : Blocks()) {
        if (b.size() == 12 && b[0] == 0x80) {
            int32_t code = 0;
            std::memcpy(&code, b.data() + 4, sizeof code);
            codes.push_back(code);
        }
    }
    return codes;
}

uint16_t FakeRelayApp::LastReportInfo() const
{
    uint16_t info = 0;
    for (const auto& b : Blocks()) {
        if (b.size() == 12 && b[0] == 0x80)
            std::memcpy(&info, b.data() + 8, sizeof info);
    }
    return info;
}

bool FakeRelayApp::WaitBlocks(size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_added.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] { return m_blocks.size() >= count; });
}

bool FakeRelayApp::WaitReport(int code, int timeoutMs) const
{
    auto seen = [&] {
        for (const auto& b : m_blocks) {
            int32_t c = 0;
            if (b.size() == 12 && b[0] == 0x80 && (std::memcpy(&c, b.data() + 4, sizeof c), c == code))
                return true;
        }
        return false;
    };
    std::unique_lock<std::mutex> guard(m_lock);
    return m_added.wait_for(guard, std::chrono::milliseconds(timeoutMs), seen);
}
