#include "relay/CServiceRelay.h"

#include "http/CClientSocket.h"
#include "http/COfflineResponder.h"
#include "http/CServSocket.h"
#include "platform/CSingleShotTimer.h"
#include "relay/IActiveView.h"
#include "relay/ICapiControl.h"
#include "relay/ICapiProvider.h"
#include "relay/IRelayApp.h"
#include "res/CStringTable.h"

#include <algorithm>
#include <chrono>
#include <cstring>

CServiceRelay::CServiceRelay(IRelayApp* pApp, ICapiProvider& capi, int idleTimeoutMs)
    : m_wLastInfo(0), m_pApp(pApp), m_nMode(MODE_OFFLINE), m_nState(STATE_NO_CAPI), m_capi(capi),
      m_nIdleTimeoutMs(idleTimeoutMs), m_pSilenceTimer(std::make_unique<CSingleShotTimer>())
{
    m_pServSocket = std::make_unique<CServSocket>(this);
    m_nState = m_capi.DriverAnswers() ? STATE_READY : STATE_NO_CAPI;
    m_pump = std::thread(&CServiceRelay::OutboundPump, this);
    m_pResponder = std::make_unique<COfflineResponder>(this);
    std::this_thread::yield();
    const std::string url = CStringTable::Format(CStringTable::Get(CStringTable::IDS_STATUS_URL), static_cast<int>(GetListenPort()));
    if (m_pApp) {
        if (IActiveView* view = m_pApp->GetActiveView())
            view->NavigateTo(url);
    }
}

CServiceRelay::~CServiceRelay()
{
    if (m_pServSocket) {
        m_pServSocket->ShutDown(CAsyncSocket::BOTH);
        m_pServSocket.reset();
    }
    if (m_pClientSocket)
        CloseGracefully(std::move(m_pClientSocket));
    // The pump may be inside the controller's SendData (at most 2500 ms); the
    // controller must not go before the pump has returned from it.
    m_pSilenceTimer->Stop();
    m_toDevice.Stop();
    if (m_pump.joinable())
        m_pump.join();
    m_pCapiControl.reset();
    m_pResponder.reset();
}

bool CServiceRelay::Dial(const char* number, const char* ownNumber)
{
    if (m_nMode == MODE_TUNNEL)
        return false;
    if (!m_pCapiControl)
        m_pCapiControl = m_capi.CreateControl(*this);
    if (m_pCapiControl)
        m_pCapiControl->Start();
    m_strNumber = number ? number : "";
    m_strOwnNumber = ownNumber ? ownNumber : "";
    m_wLastInfo = 0;
    if (m_pCapiControl)
        m_pCapiControl->Connect(number, ownNumber);
    return true;
}

void CServiceRelay::Disconnect()
{
    const int state = m_nState;
    if (state >= STATE_DIALLING && state <= STATE_CONNECTING && m_pCapiControl)
        m_pCapiControl->Disconnect();
}

int CServiceRelay::GetStatusText(std::string& text) const
{
    const int state = m_nState;
    switch (state) {
    case STATE_NO_CAPI:
        text = CStringTable::Get(CStringTable::IDS_STATE_NO_CAPI);
        break;
    case STATE_READY: {
        const uint16_t info = m_wLastInfo;
        text = info ? CStringTable::Format(CStringTable::Get(CStringTable::IDS_CAPI_INFO), info)
                    : CStringTable::Get(CStringTable::IDS_STATE_READY);
        break;
    }
    case STATE_DIALLING:
    case STATE_CONNECTED:
    case STATE_FAILED:
    case STATE_CONNECTING:
    case STATE_DISCONNECTING: {
        static const int ids[] = {CStringTable::IDS_STATE_DIALLING, CStringTable::IDS_STATE_CONNECTED,
                                  CStringTable::IDS_STATE_FAILED, CStringTable::IDS_STATE_CONNECTING,
                                  CStringTable::IDS_STATE_DISCONNECTING};
        text = std::string(CStringTable::Get(ids[state - STATE_DIALLING])) + "  " + m_strNumber;
        break;
    }
    default:
        text = "Default";
        break;
    }
    return state;
}

unsigned CServiceRelay::GetListenPort() const
{
    return m_pServSocket ? m_pServSocket->m_nPort : 0;
}

void CServiceRelay::CloseGracefully(std::unique_ptr<CClientSocket> socket)
{
    if (!socket)
        return;
    socket->ShutDown(CAsyncSocket::SENDS);
    uint8_t discard[2048];
    while (socket->Receive(discard, sizeof discard) > 0) {
    }
    socket->Close();
}

void CServiceRelay::ActivateNextConnection()
{
    if (!m_pClientSocket && m_pServSocket) {
        if (std::unique_ptr<CClientSocket> next = m_pServSocket->TakeOldestPending()) {
            m_pClientSocket = std::move(next);
            if (m_nMode == MODE_TUNNEL) {
                auto block = std::make_unique<uint8_t[]>(1);
                block[0] = TAG_CONTROL;
                m_toDevice.Put(std::move(block), 1);
            }
            m_pClientSocket->m_pRelay = this;
            m_pClientSocket->m_bActive = true;
            m_pClientSocket->m_tInService = std::chrono::steady_clock::now();
            m_pClientSocket->AsyncSelect(CAsyncSocket::FD_READ | CAsyncSocket::FD_WRITE | CAsyncSocket::FD_CLOSE);
        }
    }
    WatchConnections();
}

void CServiceRelay::WatchConnections()
{
    if (!m_pServSocket || m_pServSocket->m_pending.empty()) {
        m_pSilenceTimer->Stop();
        return;
    }
    if (m_pSilenceTimer->IsActive())
        return;
    if (!m_pClientSocket) {
        m_pSilenceTimer->Start(SILENT_CONNECTION_MS, [this] { ActivateNextConnection(); });
        return;
    }
    const auto served = std::chrono::steady_clock::now() - m_pClientSocket->m_tInService;
    const auto left = std::chrono::milliseconds(SILENT_CONNECTION_MS)
                      - std::chrono::duration_cast<std::chrono::milliseconds>(served);
    m_pSilenceTimer->Start(static_cast<int>(std::max<long long>(0, left.count())), [this] { OnSilenceTimer(); });
}

void CServiceRelay::OnSilenceTimer()
{
    CClientSocket* current = m_pClientSocket.get();
    if (!current || !m_pServSocket || m_pServSocket->m_pending.empty()) {
        WatchConnections();
        return;
    }
    if (std::chrono::steady_clock::now() - current->m_tInService < std::chrono::milliseconds(SILENT_CONNECTION_MS)) {
        WatchConnections();
        return;
    }
    if (m_nMode == MODE_TUNNEL) {
        // A tunnelled request that has been sent is the device's to answer,
        // however long that takes on the line; only a silent one is ended.
        if (current->m_bHeard)
            return;
        current->AsyncSelect(0);
        current->ShutDown(CAsyncSocket::BOTH);
        OnBrowserClosed();  // the device ends the connection, and the next one follows
        return;
    }
    // Offline, every request is answered at once: one still in service has none.
    m_pClientSocket.reset();
    ActivateNextConnection();
}

void CServiceRelay::OnBrowserData(int length, std::unique_ptr<uint8_t[]> buffer)
{
    if (m_nMode == MODE_TUNNEL) {
        if (length < 0 || length > MAX_BLOCK - 1)
            return;
        auto block = std::make_unique<uint8_t[]>(static_cast<size_t>(length) + 1);
        block[0] = TAG_DATA;
        if (length > 0)
            std::memcpy(block.get() + 1, buffer.get(), static_cast<size_t>(length));
        m_toDevice.Put(std::move(block), length + 1);
        return;
    }
    // The responder may end the connection in service; the buffer stays ours.
    if (m_pResponder)
        m_pResponder->HandleRequest(length, buffer.get());
}

void CServiceRelay::OnBrowserClosed()
{
    if (m_nMode == MODE_TUNNEL) {
        auto block = std::make_unique<uint8_t[]>(1);
        block[0] = TAG_DATA;
        m_toDevice.Put(std::move(block), 1);
        return;
    }
    m_pClientSocket.reset();
    WatchConnections();
}

int CServiceRelay::OutboundPump(CServiceRelay* relay)
{
    int wait = -1;
    for (;;) {
        std::unique_ptr<uint8_t[]> block;
        const int r = relay->m_toDevice.Get(wait, block);
        if (r == 0)
            return 0;
        if (relay->m_nMode != MODE_TUNNEL) {
            // Blocks taken outside tunnel mode are dropped, and no time-out runs.
            wait = -1;
            continue;
        }
        ICapiControl* control = relay->m_pCapiControl.get();
        if (control) {
            if (r == -1)
                control->Disconnect();
            else
                control->SendData(block, r);  // a refused block is freed with `block`
        }
        wait = relay->m_nIdleTimeoutMs;
    }
}

void CServiceRelay::BuildEventBlock(uint8_t (&block)[EVENT_BLOCK_SIZE], int32_t code, uint16_t info)
{
    std::memset(block, 0, sizeof block);
    block[0] = TAG_EVENT;
    std::memcpy(block + 4, &code, sizeof code);
    std::memcpy(block + 8, &info, sizeof info);
}
