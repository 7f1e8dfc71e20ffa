#pragma once

#include "relay/IRelayApp.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// An application object for the tests: records every block handed to the main window.
class FakeRelayApp : public IRelayApp {
public:
    bool HasMainWindow() const override { return m_hasWindow; }
    void DeliverToMainWindow(const uint8_t* block, int length) override;
    IActiveView* GetActiveView() override { return nullptr; }

    std::vector<std::vector<uint8_t>> Blocks() const;
    // The codes of the relay event blocks delivered so far, in order.
    std::vector<int> Reports() const;
    // The info value of the last relay event.
    uint16_t LastReportInfo() const;
    // Waits until `count` blocks have been delivered.
    bool WaitBlocks(size_t count, int timeoutMs = 5000) const;
    // Waits until a relay event with `code` has been delivered.
    bool WaitReport(int code, int timeoutMs = 5000) const;

    bool m_hasWindow = true;                                 // what HasMainWindow answers; set before use
    std::function<void(const uint8_t*, int)> m_onDeliver;    // runs inside each delivery; set before use

private:
    mutable std::mutex m_lock;                 // guards m_blocks
    mutable std::condition_variable m_added;   // signalled on each delivery
    std::vector<std::vector<uint8_t>> m_blocks;
};
