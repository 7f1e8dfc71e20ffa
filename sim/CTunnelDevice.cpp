#include "sim/CTunnelDevice.h"

#include <cstdio>

CTunnelDevice::CTunnelDevice(SessionFactory factory, NoteSink note)
    : m_factory(std::move(factory))
    , m_note(std::move(note))
{
}

void CTunnelDevice::OnBlock(std::span<const std::uint8_t> block)
{
    if (block.empty()) {
        m_note("empty block ignored");
        return;
    }
    std::uint8_t tag = block[0];
    if (tag == TAG_CONTROL) {
        if (m_pSession)
            m_note("new connection before the last one ended; the last one is dropped");
        ++m_nStarted;
        m_pSession.reset();
        m_pSession = m_factory();
        m_note("connection " + std::to_string(m_nStarted) + " opened");
        return;
    }
    if (tag != TAG_DATA) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "device: block with unknown tag 0x%02x ignored", tag);
        m_note(buf);
        return;
    }
    if (!m_pSession) {
        // Bytes after the device ended the connection (the browser's close,
        // typically) belong to nothing.
        return;
    }
    if (block.size() == 1) {
        m_note("browser closed connection " + std::to_string(m_nStarted));
        m_pSession->OnBrowserClosed();
    } else {
        m_pSession->OnRequestBytes(block.subspan(1));
    }
}

std::optional<std::vector<std::uint8_t>> CTunnelDevice::TakeBlock(std::size_t maxLength)
{
    if (!m_pSession || maxLength < 2)
        return std::nullopt;
    std::vector<std::uint8_t> block(maxLength);
    block[0] = TAG_DATA;
    std::size_t n = m_pSession->ReadResponse(block.data() + 1, maxLength - 1);
    if (n > 0) {
        block.resize(n + 1);
        return block;
    }
    if (m_pSession->Finished()) {
        m_pSession.reset();
        ++m_nEnded;
        m_note("connection " + std::to_string(m_nStarted) + " ended");
        return std::vector<std::uint8_t> { TAG_CONTROL };
    }
    return std::nullopt;
}
