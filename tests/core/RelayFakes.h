#pragma once

#include "relay/IActiveView.h"
#include "relay/ICapiControl.h"
#include "relay/ICapiProvider.h"
#include "relay/IRelayApp.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A view that records where it was sent.
class FakeView : public IActiveView {
public:
    void NavigateTo(const std::string& url) override { urls.push_back(url); }
    void StopNavigation() override { ++stops; }
    std::vector<std::string> urls;
    int stops = 0;
};

// An application without a main window, but with a view.
class FakeApp : public IRelayApp {
public:
    bool HasMainWindow() const override { return false; }
    void DeliverToMainWindow(const uint8_t*, int) override {}
    IActiveView* GetActiveView() override { return &view; }
    FakeView view;
};

// A controller that records what the hub and the pump ask of it.
class FakeControl : public ICapiControl {
public:
    struct Log {
        std::mutex lock;                          // guards everything below
        std::vector<std::string> calls;           // "Start", "Connect 123 <null>", "Disconnect"
        std::vector<std::vector<uint8_t>> sent;   // blocks taken by SendData
        int sendDelayMs = 0;                      // how long SendData holds the pump
        bool refuse = false;                      // SendData refuses every block
        bool destroyedDuringSend = false;         // the controller went while the pump was inside it
        std::atomic<bool> inSend{false};
    };

    explicit FakeControl(Log& log) : m_log(log) {}
    ~FakeControl() override
    {
        if (m_log.inSend)
            m_log.destroyedDuringSend = true;
    }
    int Start() override { Record("Start"); return 0; }
    bool Connect(const char* number, const char* own) override
    {
        Record(std::string("Connect ") + (number ? number : "<null>") + " " + (own ? own : "<null>"));
        return true;
    }
    bool Disconnect() override { Record("Disconnect"); return true; }
    int SendData(std::unique_ptr<uint8_t[]>& block, int length) override
    {
        m_log.inSend = true;
        if (m_log.sendDelayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_log.sendDelayMs));
        std::lock_guard<std::mutex> guard(m_log.lock);
        m_log.inSend = false;
        if (m_log.refuse)
            return 0;
        m_log.sent.emplace_back(block.get(), block.get() + length);
        block.reset();
        return length;
    }

private:
    void Record(const std::string& call)
    {
        std::lock_guard<std::mutex> guard(m_log.lock);
        m_log.calls.push_back(call);
    }
    Log& m_log;
};

class FakeProvider : public ICapiProvider {
public:
    bool DriverAnswers() override { return driver; }
    std::unique_ptr<ICapiControl> CreateControl(CServiceRelay&) override
    {
        ++created;
        return std::make_unique<FakeControl>(log);
    }
    bool driver = false;
    int created = 0;
    FakeControl::Log log;
};
