#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

// Appends little-endian values and CAPI structs to a growing byte buffer.
class CByteWriter {
public:
    CByteWriter& U8(std::uint8_t v);
    CByteWriter& U16(std::uint16_t v);
    CByteWriter& U32(std::uint32_t v);
    CByteWriter& U64(std::uint64_t v);
    CByteWriter& U16Be(std::uint16_t v);
    CByteWriter& Bytes(std::span<const std::uint8_t> bytes);
    CByteWriter& Text(std::string_view text);
    // Length byte (escaped to 0xFF and a word above 254 bytes), then content.
    CByteWriter& Struct(std::span<const std::uint8_t> content);
    CByteWriter& EmptyStruct() { return U8(0); }
    // Zero bytes up to a fixed width, used for the fixed-size query answers.
    CByteWriter& Zeros(std::size_t count);
    // Overwrites a 16-bit value written earlier (a length filled in last).
    void PatchU16(std::size_t offset, std::uint16_t v);
    void PatchU16Be(std::size_t offset, std::uint16_t v);

    std::size_t Size() const { return m_bytes.size(); }
    const std::vector<std::uint8_t>& Data() const { return m_bytes; }
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes; // everything written so far
};
