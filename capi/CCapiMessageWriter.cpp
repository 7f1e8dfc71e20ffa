#include "capi/CCapiMessageWriter.h"

#include <cstring>

CCapiMessageWriter::CCapiMessageWriter(uint8_t* buffer, size_t limit) : m_pBuffer(buffer), m_nLimit(buffer ? limit : 0) {}

bool CCapiMessageWriter::Room(size_t count)
{
    if (m_bOk && count <= m_nLimit - m_nLength)
        return true;
    m_bOk = false;
    return false;
}

void CCapiMessageWriter::Byte(uint8_t value)
{
    if (Room(1))
        m_pBuffer[m_nLength++] = value;
}

void CCapiMessageWriter::Word(uint16_t value)
{
    if (!Room(2))
        return;
    m_pBuffer[m_nLength++] = static_cast<uint8_t>(value);
    m_pBuffer[m_nLength++] = static_cast<uint8_t>(value >> 8);
}

void CCapiMessageWriter::Dword(uint32_t value)
{
    if (!Room(4))
        return;
    for (int i = 0; i < 4; ++i)
        m_pBuffer[m_nLength++] = static_cast<uint8_t>(value >> (8 * i));
}

void CCapiMessageWriter::Qword(uint64_t value)
{
    if (!Room(8))
        return;
    for (int i = 0; i < 8; ++i)
        m_pBuffer[m_nLength++] = static_cast<uint8_t>(value >> (8 * i));
}

void CCapiMessageWriter::Bytes(const uint8_t* data, size_t count)
{
    if (!count || !Room(count))
        return;
    std::memcpy(m_pBuffer + m_nLength, data, count);
    m_nLength += count;
}

void CCapiMessageWriter::CopyStruct(const uint8_t* structure)
{
    if (!structure) {
        EmptyStruct();
        return;
    }
    Bytes(structure, static_cast<size_t>(structure[0]) + 1);
}

void CCapiMessageWriter::FinishLength()
{
    if (!m_bOk || m_nLength < 2)
        return;
    m_pBuffer[0] = static_cast<uint8_t>(m_nLength);
    m_pBuffer[1] = static_cast<uint8_t>(m_nLength >> 8);
}
