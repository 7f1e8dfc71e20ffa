#include "sim/CByteReader.h"

CByteReader::CByteReader(std::span<const std::uint8_t> bytes)
    : m_bytes(bytes)
{
}

bool CByteReader::Take(std::size_t count)
{
    if (m_bFailed || count > m_bytes.size() - m_nOffset) {
        m_bFailed = true;
        return false;
    }
    return true;
}

std::uint8_t CByteReader::U8()
{
    if (!Take(1))
        return 0;
    return m_bytes[m_nOffset++];
}

std::uint16_t CByteReader::U16()
{
    if (!Take(2))
        return 0;
    std::uint16_t v = static_cast<std::uint16_t>(m_bytes[m_nOffset] | (m_bytes[m_nOffset + 1] << 8));
    m_nOffset += 2;
    return v;
}

std::uint32_t CByteReader::U32()
{
    if (!Take(4))
        return 0;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | m_bytes[m_nOffset + static_cast<std::size_t>(i)];
    m_nOffset += 4;
    return v;
}

std::uint64_t CByteReader::U64()
{
    if (!Take(8))
        return 0;
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | m_bytes[m_nOffset + static_cast<std::size_t>(i)];
    m_nOffset += 8;
    return v;
}

std::uint16_t CByteReader::U16Be()
{
    if (!Take(2))
        return 0;
    std::uint16_t v = static_cast<std::uint16_t>((m_bytes[m_nOffset] << 8) | m_bytes[m_nOffset + 1]);
    m_nOffset += 2;
    return v;
}

std::span<const std::uint8_t> CByteReader::Bytes(std::size_t count)
{
    if (!Take(count))
        return {};
    auto out = m_bytes.subspan(m_nOffset, count);
    m_nOffset += count;
    return out;
}

std::span<const std::uint8_t> CByteReader::Struct()
{
    std::size_t length = U8();
    if (length == 0xFF)
        length = U16();
    if (m_bFailed)
        return {};
    return Bytes(length);
}

void CByteReader::Skip(std::size_t count)
{
    if (Take(count))
        m_nOffset += count;
}

std::span<const std::uint8_t> CByteReader::Rest()
{
    return Bytes(Remaining());
}
