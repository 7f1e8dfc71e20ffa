#include "sim/CByteWriter.h"

CByteWriter& CByteWriter::U8(std::uint8_t v)
{
    m_bytes.push_back(v);
    return *this;
}

CByteWriter& CByteWriter::U16(std::uint16_t v)
{
    m_bytes.push_back(static_cast<std::uint8_t>(v));
    m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
}

CByteWriter& CByteWriter::U32(std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        m_bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
}

CByteWriter& CByteWriter::U64(std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        m_bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
}

CByteWriter& CByteWriter::U16Be(std::uint16_t v)
{
    m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    m_bytes.push_back(static_cast<std::uint8_t>(v));
    return *this;
}

CByteWriter& CByteWriter::Bytes(std::span<const std::uint8_t> bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

CByteWriter& CByteWriter::Text(std::string_view text)
{
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    return *this;
}

CByteWriter& CByteWriter::Struct(std::span<const std::uint8_t> content)
{
    if (content.size() < 0xFF) {
        U8(static_cast<std::uint8_t>(content.size()));
    } else {
        U8(0xFF);
        U16(static_cast<std::uint16_t>(content.size()));
    }
    return Bytes(content);
}

CByteWriter& CByteWriter::Zeros(std::size_t count)
{
    m_bytes.insert(m_bytes.end(), count, 0);
    return *this;
}

void CByteWriter::PatchU16(std::size_t offset, std::uint16_t v)
{
    if (offset + 2 > m_bytes.size())
        return;
    m_bytes[offset] = static_cast<std::uint8_t>(v);
    m_bytes[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

void CByteWriter::PatchU16Be(std::size_t offset, std::uint16_t v)
{
    if (offset + 2 > m_bytes.size())
        return;
    m_bytes[offset] = static_cast<std::uint8_t>(v >> 8);
    m_bytes[offset + 1] = static_cast<std::uint8_t>(v);
}
