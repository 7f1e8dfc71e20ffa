#pragma once

#include <cstddef>
#include <cstdint>

// Reads little-endian fields of one incoming CAPI message by offset, never
// past the size it was given. The first read that does not fit marks the
// reader failed for good; failed reads return 0 or null.
class CCapiMessageReader {
public:
    CCapiMessageReader(const uint8_t* data, size_t size);

    uint8_t Byte(size_t offset);
    uint16_t Word(size_t offset);
    uint32_t Dword(size_t offset);
    uint64_t Qword(size_t offset);
    // The struct at `offset`: its first content byte in `content` (null when
    // empty) and its length in `length`. Returns the offset just behind it,
    // or 0 when it does not fit.
    size_t Struct(size_t offset, const uint8_t*& content, size_t& length);

    bool Ok() const { return m_bOk; }
    size_t Size() const { return m_nSize; }

private:
    bool Fits(size_t offset, size_t count);

    const uint8_t* m_pData;  // the message, not owned
    size_t m_nSize;          // bytes that may be read
    bool m_bOk = true;       // false after the first read that did not fit
};
