#include "sim/CFrameAssembler.h"

#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"

void CFrameAssembler::Append(std::span<const std::uint8_t> bytes)
{
    if (m_nStart > 0 && m_nStart == m_buffer.size()) {
        m_buffer.clear();
        m_nStart = 0;
    }
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
}

CFrameAssembler::EResult CFrameAssembler::Next(std::vector<std::uint8_t>& payload, std::string& error)
{
    if (m_bBroken) {
        error = "stream already broken";
        return EResult::Malformed;
    }
    std::span<const std::uint8_t> pending(m_buffer.data() + m_nStart, m_buffer.size() - m_nStart);
    CByteReader in(pending);
    std::uint16_t length = in.U16Be();
    if (!in.Ok())
        return EResult::NeedMore;
    if (length < 2 + MIN_PAYLOAD) {
        m_bBroken = true;
        error = "frame length " + std::to_string(length) + " is shorter than a message header";
        return EResult::Malformed;
    }
    auto body = in.Bytes(length - 2u);
    if (!in.Ok())
        return EResult::NeedMore;
    payload.assign(body.begin(), body.end());
    m_nStart += length;
    // Keep the buffer from growing without bound on a long-lived connection.
    if (m_nStart > 65536) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_nStart));
        m_nStart = 0;
    }
    return EResult::Frame;
}

std::vector<std::uint8_t> CFrameAssembler::Frame(std::span<const std::uint8_t> payload)
{
    CByteWriter out;
    out.U16Be(static_cast<std::uint16_t>(payload.size() + 2)).Bytes(payload);
    return out.Take();
}
