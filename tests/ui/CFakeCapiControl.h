#pragma once

#include "relay/ICapiControl.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A connection controller that only records what the hub asks of it.
class CFakeCapiControl : public ICapiControl {
public:
    struct Call {
        std::optional<std::string> number;     // none for a null number
        std::optional<std::string> ownNumber;  // none for a null own number
    };

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
    int SendData(std::unique_ptr<uint8_t[]>&, int) override { return 0; }

    std::vector<Call> Connects() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_connects;
    }

    std::atomic<int> m_nStarts{0};       // Start calls
    std::atomic<int> m_nDisconnects{0};  // Disconnect calls, from any thread

private:
    mutable std::mutex m_lock;       // guards m_connects
    std::vector<Call> m_connects;    // Connect calls in order
};
