#pragma once

#include "relay/CDataQueue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class CClientSocket;
class COfflineResponder;
class CServSocket;
class CSingleShotTimer;
class ICapiControl;
class ICapiProvider;
class IRelayApp;

// The one hub between the loopback endpoint and the ISDN connection: owns the
// listener, the browser connection in service, the connection controller, the
// offline responder and the outbound queue, and holds the relay mode and state.
class CServiceRelay {
public:
    // Relay modes (m_nMode).
    enum Mode { MODE_OFFLINE = 0, MODE_TUNNEL = 1 };
    // Relay states (m_nState).
    enum State {
        STATE_NO_CAPI = 0,
        STATE_READY = 1,
        STATE_DIALLING = 2,
        STATE_CONNECTED = 3,
        STATE_FAILED = 4,
        STATE_CONNECTING = 5,
        STATE_DISCONNECTING = 6,
    };
    // Tunnel block tags.
    static constexpr uint8_t TAG_DATA = 0x00;
    static constexpr uint8_t TAG_CONTROL = 0x01;
    static constexpr uint8_t TAG_EVENT = 0x80;
    // Largest tunnel block, tag included.
    static constexpr int MAX_BLOCK = 2048;
    // Silence in tunnel mode after which the pump asks to hang up.
    static constexpr int IDLE_TIMEOUT_MS = 600000;
    // How long a connection in service may hold up waiting ones without a request.
    static constexpr int SILENT_CONNECTION_MS = 2000;
    // Size of the relay event block.
    static constexpr int EVENT_BLOCK_SIZE = 12;

    // Main thread. `capi` must outlive the hub.
    CServiceRelay(IRelayApp* pApp, ICapiProvider& capi, int idleTimeoutMs = IDLE_TIMEOUT_MS);
    // Main thread; the application's deliveries to the main window must already
    // return at once (the loop has ended), since the pump may be reporting.
    ~CServiceRelay();
    CServiceRelay(const CServiceRelay&) = delete;
    CServiceRelay& operator=(const CServiceRelay&) = delete;

    bool Dial(const char* number, const char* ownNumber);
    void Disconnect();
    // The status text of the current state; returns the state code it read.
    int GetStatusText(std::string& text) const;
    unsigned GetListenPort() const;
    // Closes and destroys a browser connection after draining what it still sends.
    void CloseGracefully(std::unique_ptr<CClientSocket> socket);

    // Browser-side entry points, main thread.
    void ActivateNextConnection();
    // Takes over `buffer` (count bytes, 0 to 2047).
    void OnBrowserData(int length, std::unique_ptr<uint8_t[]> buffer);
    void OnBrowserClosed();
    // After a change of the connection in service or the waiting list: one
    // that sends no request is ended while others wait behind it, and
    // waiting ones do not wait for ever for the next accept.
    void WatchConnections();

    // Thread procedure of the outbound pump. It may touch only m_nMode,
    // m_toDevice and, in tunnel mode, the controller's SendData and Disconnect.
    static int OutboundPump(CServiceRelay* relay);

    // Builds a relay event block: tag, state code and info value in the machine's byte order.
    static void BuildEventBlock(uint8_t (&block)[EVENT_BLOCK_SIZE], int32_t code, uint16_t info);

    std::unique_ptr<CServSocket> m_pServSocket;      // the loopback listener and its waiting connections; main thread
    std::unique_ptr<CClientSocket> m_pClientSocket;  // the browser connection in service, or null; main thread
    std::unique_ptr<ICapiControl> m_pCapiControl;    // created by the first Dial; set on the main thread before tunnel mode
    std::atomic<uint16_t> m_wLastInfo;               // info or reason of the last relay event; written by the controller
    std::string m_strNumber;                         // the number last dialled; main thread
    std::string m_strOwnNumber;                      // the own number of the last dial; main thread
    IRelayApp* m_pApp;                               // the application, not owned
    std::atomic<int> m_nMode;                        // relay mode; written on the main thread only
    std::atomic<int> m_nState;                       // relay state; written by the controller
    std::unique_ptr<COfflineResponder> m_pResponder; // answers the browser in offline mode; main thread
    CDataQueue m_toDevice;                           // tunnel blocks for the device; main thread puts, the pump takes

private:
    // One connection at a time is served, so one that never sends a request
    // (a speculative connection of the browser, a client that connects and
    // sends nothing or only garbage) would hold up every other: while others
    // wait, it is ended after SILENT_CONNECTION_MS. Offline, a connection left
    // waiting when the one before it was answered enters service at the next
    // accept, or after SILENT_CONNECTION_MS at the latest.
    void OnSilenceTimer();

    ICapiProvider& m_capi;   // driver test and controller factory
    int m_nIdleTimeoutMs;    // the pump's silence limit in tunnel mode
    std::thread m_pump;      // the outbound pump, joined by the destructor
    std::unique_ptr<CSingleShotTimer> m_pSilenceTimer;  // armed only while connections wait behind the one in service
};
