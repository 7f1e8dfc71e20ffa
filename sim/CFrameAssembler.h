#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Cuts the byte stream of one rcapi connection into frames: a big-endian
// 16-bit length that counts its own two bytes, then the payload.
class CFrameAssembler {
public:
    enum class EResult { Frame, NeedMore, Malformed };

    // Smallest payload that can hold a message header.
    static constexpr std::size_t MIN_PAYLOAD = 8;

    void Append(std::span<const std::uint8_t> bytes);
    // Takes the next complete frame's payload. Malformed is final: the
    // stream cannot be resynchronised, and error says why.
    EResult Next(std::vector<std::uint8_t>& payload, std::string& error);
    std::size_t Buffered() const { return m_buffer.size() - m_nStart; }

    // Wraps a payload into a frame.
    static std::vector<std::uint8_t> Frame(std::span<const std::uint8_t> payload);

private:
    std::vector<std::uint8_t> m_buffer; // received bytes not yet cut into frames
    std::size_t m_nStart = 0;           // first unconsumed byte in m_buffer
    bool m_bBroken = false;             // a malformed length was seen
};
