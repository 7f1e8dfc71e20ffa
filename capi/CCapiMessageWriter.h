#pragma once

#include <cstddef>
#include <cstdint>

// Builds one outgoing CAPI message in a caller's buffer, little-endian, never
// past the limit it was given. The first write that does not fit marks the
// writer failed for good and nothing more is written.
class CCapiMessageWriter {
public:
    CCapiMessageWriter(uint8_t* buffer, size_t limit);

    void Byte(uint8_t value);
    void Word(uint16_t value);
    void Dword(uint32_t value);
    void Qword(uint64_t value);
    void Bytes(const uint8_t* data, size_t count);
    void EmptyStruct() { Byte(0); }
    // Copies a whole struct (its length byte and content); null is an empty struct.
    void CopyStruct(const uint8_t* structure);
    // Writes the message's total length into the header.
    void FinishLength();
    // Marks the message as one that cannot be built.
    void Fail() { m_bOk = false; }

    bool Ok() const { return m_bOk; }
    size_t Length() const { return m_nLength; }

private:
    bool Room(size_t count);

    uint8_t* m_pBuffer;    // the message buffer, not owned
    size_t m_nLimit;       // the most bytes the message may take
    size_t m_nLength = 0;  // bytes written so far
    bool m_bOk = true;     // false after the first write that did not fit
};
