#include "capi/CCapiMessageReader.h"

CCapiMessageReader::CCapiMessageReader(const uint8_t* data, size_t size) : m_pData(data), m_nSize(data ? size : 0) {}

bool CCapiMessageReader::Fits(size_t offset, size_t count)
{
    if (m_bOk && offset <= m_nSize && count <= m_nSize - offset)
        return true;
    m_bOk = false;
    return false;
}

uint8_t CCapiMessageReader::Byte(size_t offset)
{
    return Fits(offset, 1) ? m_pData[offset] : 0;
}

uint16_t CCapiMessageReader::Word(size_t offset)
{
    if (!Fits(offset, 2))
        return 0;
    return static_cast<uint16_t>(m_pData[offset] | (m_pData[offset + 1] << 8));
}

uint32_t CCapiMessageReader::Dword(size_t offset)
{
    if (!Fits(offset, 4))
        return 0;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | m_pData[offset + static_cast<size_t>(i)];
    return value;
}

uint64_t CCapiMessageReader::Qword(size_t offset)
{
    if (!Fits(offset, 8))
        return 0;
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | m_pData[offset + static_cast<size_t>(i)];
    return value;
}

size_t CCapiMessageReader::Struct(size_t offset, const uint8_t*& content, size_t& length)
{
    content = nullptr;
    length = 0;
    if (!Fits(offset, 1))
        return 0;
    const size_t n = m_pData[offset];
    if (!Fits(offset + 1, n))
        return 0;
    length = n;
    content = n ? m_pData + offset + 1 : nullptr;
    return offset + 1 + n;
}
