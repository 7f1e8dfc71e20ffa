#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Builds CAPI messages byte by byte for the tests, little-endian, with the
// total length filled in unless a test forces another one.
class TestMessage {
public:
    TestMessage(uint8_t command, uint8_t subcommand, uint16_t number, uint16_t applId = 1);

    TestMessage& Byte(uint8_t value);
    TestMessage& Word(uint16_t value);
    TestMessage& Dword(uint32_t value);
    TestMessage& Qword(uint64_t value);
    TestMessage& Bytes(std::initializer_list<uint8_t> bytes);
    TestMessage& Bytes(const std::vector<uint8_t>& bytes);
    // A struct: the length byte, then the content.
    TestMessage& Struct(std::initializer_list<uint8_t> content);
    // Overrides the total length written into the header.
    TestMessage& Length(uint16_t length);

    std::vector<uint8_t> Build() const;

private:
    std::vector<uint8_t> m_bytes;  // the message so far
    int m_forcedLength = -1;       // the total length to write, or -1 for the real one
};

// Indications and confirmations as a driver sends them.
namespace Ind {
std::vector<uint8_t> ConnectConf(uint16_t number, uint32_t plci, uint16_t info);
std::vector<uint8_t> ConnectActiveInd(uint16_t number, uint32_t plci);
std::vector<uint8_t> ConnectB3Conf(uint16_t number, uint32_t ncci, uint16_t info);
std::vector<uint8_t> ConnectB3ActiveInd(uint16_t number, uint32_t ncci);
std::vector<uint8_t> DisconnectInd(uint16_t number, uint32_t plci, uint16_t reason);
std::vector<uint8_t> DataB3Conf(uint16_t number, uint32_t ncci, uint16_t handle, uint16_t info);
// In the 64-bit form, Data64 0, the block right behind the message.
std::vector<uint8_t> DataB3Ind(uint16_t number, uint32_t ncci, uint16_t handle, const std::vector<uint8_t>& block);
std::vector<uint8_t> InfoInd(uint16_t number, uint32_t plci);
std::vector<uint8_t> ConnectInd(uint16_t number, uint32_t plci);
}  // namespace Ind

// Little-endian fields of a message the driver was given.
uint16_t WordAt(const std::vector<uint8_t>& m, size_t offset);
uint32_t DwordAt(const std::vector<uint8_t>& m, size_t offset);
uint64_t QwordAt(const std::vector<uint8_t>& m, size_t offset);
std::vector<uint8_t> FromHex(const std::string& hex);
std::string ToHex(const std::vector<uint8_t>& bytes);
