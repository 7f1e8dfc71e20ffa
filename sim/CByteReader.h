#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Reads little-endian values (and the one big-endian frame length) out of a
// byte range. Any read past the end sets a sticky failure: that read and every
// later one yield zeros or an empty range, so a parser can read a whole
// message and check Ok() once at the end.
class CByteReader {
public:
    explicit CByteReader(std::span<const std::uint8_t> bytes);

    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::uint64_t U64();
    std::uint16_t U16Be();
    // The next count bytes, or an empty range on failure.
    std::span<const std::uint8_t> Bytes(std::size_t count);
    // A CAPI struct: a length byte (0xFF escapes to a 16-bit length), then
    // that many bytes. Returns the content without the length.
    std::span<const std::uint8_t> Struct();
    void Skip(std::size_t count);
    // Everything not yet read.
    std::span<const std::uint8_t> Rest();

    bool Ok() const { return !m_bFailed; }
    std::size_t Offset() const { return m_nOffset; }
    std::size_t Remaining() const { return m_bFailed ? 0 : m_bytes.size() - m_nOffset; }

private:
    bool Take(std::size_t count);

    std::span<const std::uint8_t> m_bytes; // the range being read, not owned
    std::size_t m_nOffset = 0;             // next byte to read
    bool m_bFailed = false;                // a read ran past the end
};
