#include "TestMessage.h"

#include <cstdio>

TestMessage::TestMessage(uint8_t command, uint8_t subcommand, uint16_t number, uint16_t applId)
{
    Word(0).Word(applId).Byte(command).Byte(subcommand).Word(number);
}

TestMessage& TestMessage::Byte(uint8_t value)
{
    m_bytes.push_back(value);
    return *this;
}

TestMessage& TestMessage::Word(uint16_t value)
{
    return Byte(static_cast<uint8_t>(value)).Byte(static_cast<uint8_t>(value >> 8));
}

TestMessage& TestMessage::Dword(uint32_t value)
{
    return Word(static_cast<uint16_t>(value)).Word(static_cast<uint16_t>(value >> 16));
}

TestMessage& TestMessage::Qword(uint64_t value)
{
    return Dword(static_cast<uint32_t>(value)).Dword(static_cast<uint32_t>(value >> 32));
}

TestMessage& TestMessage::Bytes(std::initializer_list<uint8_t> bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

TestMessage& TestMessage::Bytes(const std::vector<uint8_t>& bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

TestMessage& TestMessage::Struct(std::initializer_list<uint8_t> content)
{
    Byte(static_cast<uint8_t>(content.size()));
    return Bytes(content);
}

TestMessage& TestMessage::Length(uint16_t length)
{
    m_forcedLength = length;
    return *this;
}

std::vector<uint8_t> TestMessage::Build() const
{
    std::vector<uint8_t> m = m_bytes;
    const uint16_t length = m_forcedLength >= 0 ? static_cast<uint16_t>(m_forcedLength) : static_cast<uint16_t>(m.size());
    m[0] = static_cast<uint8_t>(length);
    m[1] = static_cast<uint8_t>(length >> 8);
    return m;
}

namespace Ind {

std::vector<uint8_t> ConnectConf(uint16_t number, uint32_t plci, uint16_t info)
{
    return TestMessage(0x02, 0x81, number).Dword(plci).Word(info).Build();
}

std::vector<uint8_t> ConnectActiveInd(uint16_t number, uint32_t plci)
{
    // Connected number, connected subaddress, LLC: all empty.
    return TestMessage(0x03, 0x82, number).Dword(plci).Byte(0).Byte(0).Byte(0).Build();
}

std::vector<uint8_t> ConnectB3Conf(uint16_t number, uint32_t ncci, uint16_t info)
{
    return TestMessage(0x82, 0x81, number).Dword(ncci).Word(info).Build();
}

std::vector<uint8_t> ConnectB3ActiveInd(uint16_t number, uint32_t ncci)
{
    return TestMessage(0x83, 0x82, number).Dword(ncci).Byte(0).Build();
}

std::vector<uint8_t> DisconnectInd(uint16_t number, uint32_t plci, uint16_t reason)
{
    return TestMessage(0x04, 0x82, number).Dword(plci).Word(reason).Build();
}

std::vector<uint8_t> DataB3Conf(uint16_t number, uint32_t ncci, uint16_t handle, uint16_t info)
{
    return TestMessage(0x86, 0x81, number).Dword(ncci).Word(handle).Word(info).Build();
}

std::vector<uint8_t> DataB3Ind(uint16_t number, uint32_t ncci, uint16_t handle, const std::vector<uint8_t>& block)
{
    std::vector<uint8_t> m = TestMessage(0x86, 0x82, number)
                                 .Dword(ncci)
                                 .Dword(0)
                                 .Word(static_cast<uint16_t>(block.size()))
                                 .Word(handle)
                                 .Word(0)
                                 .Qword(0)
                                 .Build();
    m.insert(m.end(), block.begin(), block.end());
    return m;
}

std::vector<uint8_t> InfoInd(uint16_t number, uint32_t plci)
{
    return TestMessage(0x08, 0x82, number).Dword(plci).Word(0x0018).Struct({0x89}).Build();
}

std::vector<uint8_t> ConnectInd(uint16_t number, uint32_t plci)
{
    TestMessage m(0x02, 0x82, number);
    m.Dword(plci).Word(2);
    for (int i = 0; i < 9; ++i)
        m.Byte(0);
    return m.Build();
}

}  // namespace Ind

uint16_t WordAt(const std::vector<uint8_t>& m, size_t offset)
{
    if (offset + 2 > m.size())
        return 0xFFFF;
    return static_cast<uint16_t>(m[offset] | (m[offset + 1] << 8));
}

uint32_t DwordAt(const std::vector<uint8_t>& m, size_t offset)
{
    return static_cast<uint32_t>(WordAt(m, offset)) | (static_cast<uint32_t>(WordAt(m, offset + 2)) << 16);
}

uint64_t QwordAt(const std::vector<uint8_t>& m, size_t offset)
{
    return static_cast<uint64_t>(DwordAt(m, offset)) | (static_cast<uint64_t>(DwordAt(m, offset + 4)) << 32);
}

std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return bytes;
}

std::string ToHex(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}
