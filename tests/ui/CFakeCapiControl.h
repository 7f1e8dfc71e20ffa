#pragma once

#include "relay/ICapiControl.h"
#include "relay/IRelayApp.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A connection controller that only records what the hub asks of it.
class CFakeCapiControl : public ICapiControl {
public:
    struct Call {
        std::optional<std::string> number;     // none for a null number
        std::optional<std::string> ownNumber;  // none for a null own number
    };

    ~CFakeCapiControl() override
    {
        m_bStop = true;
        if (m_flood.joinable())
            m_flood.join();
    }

    // Plays a receive thread that hands device data to the main window without
    // pause until the controller is destroyed, as the hub's end does.
    void Flood(IRelayApp* app)
    {
        m_flood = std::thread([this, app] {
            // Touches only the application's delivery, which is safe from any thread.
            uint8_t block[2048];
            block[0] = 0x00;
            for (size_t i = 1; i < sizeof block; ++i)
                block[i] = static_cast<uint8_t>('a' + i % 26);
            while (!m_bStop) {
                app->DeliverToMainWindow(block, sizeof block);
                ++m_nDelivered;
                if (!app->HasMainWindow())
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }

    int Start() override
    {
        ++m_nStarts;
        return 0;
    }
    bool Connect(const char* number, const char* ownNumber) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_connects.push_back({number ? std::optional<std::string>(number) : std::nullopt,
                              ownNumber ? std::optional<std::string>(ownNumber) : std::nullopt});
        return true;
    }
    bool Disconnect() override
    {
        ++m_nDisconnects;
        return true;
    }
    // Takes every block after a confirmation that comes late, as on a slow line.
    int SendData(std::unique_ptr<uint8_t[]>& block, int length) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        block.reset();
        return length;
    }

    std::vector<Call> Connects() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_connects;
    }

    std::atomic<int> m_nStarts{0};       // Start calls
    std::atomic<int> m_nDisconnects{0};  // Disconnect calls, from any thread
    std::atomic<int> m_nDelivered{0};    // blocks the flood has handed over

private:
    mutable std::mutex m_lock;       // guards m_connects
    std::vector<Call> m_connects;    // Connect calls in order
    std::atomic<bool> m_bStop{false};  // ends the flood
    std::thread m_flood;             // the playing receive thread, if any
};
