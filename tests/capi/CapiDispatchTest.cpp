// Decoding and dispatch: every listed key reaches its handler with the
// decoded arguments, the defaults answer as the standard requires, and a
// message that lies about its lengths is never read past its end.
#include "FakeDriver.h"
#include "TestMessage.h"

#include "capi/CCapiOperations.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::string Text(const char* s)
{
    return s ? "\"" + std::string(s) + "\"" : "null";
}

// Records each handler call as one line, then behaves as the default does.
class Recorder : public CCapiOperations {
public:
    explicit Recorder(Options options) : CCapiOperations(std::move(options)) {}

    std::vector<std::string> calls;

    void OnAlertConf(uint16_t n, uint32_t a, uint16_t i) override { Log("AlertConf", n, a, i); }
    void OnConnectConf(uint16_t n, uint32_t a, uint16_t i) override { Log("ConnectConf", n, a, i); }
    void OnConnectB3Conf(uint16_t n, uint32_t a, uint16_t i) override { Log("ConnectB3Conf", n, a, i); }
    void OnDataB3Conf(uint16_t n, uint32_t a, uint16_t h, uint16_t i) override
    {
        calls.push_back("DataB3Conf " + Hex(n) + " " + Hex(a) + " " + Hex(h) + " " + Hex(i));
    }
    void OnDisconnectB3Conf(uint16_t n, uint32_t a, uint16_t i) override { Log("DisconnectB3Conf", n, a, i); }
    void OnDisconnectConf(uint16_t n, uint32_t a, uint16_t i) override { Log("DisconnectConf", n, a, i); }
    void OnInfoConf(uint16_t n, uint32_t a, uint16_t i) override { Log("InfoConf", n, a, i); }
    void OnListenConf(uint16_t n, uint32_t a, uint16_t i) override { Log("ListenConf", n, a, i); }
    void OnResetB3Conf(uint16_t n, uint32_t a, uint16_t i) override { Log("ResetB3Conf", n, a, i); }
    void OnSelectBProtocolConf(uint16_t n, uint32_t a, uint16_t i) override { Log("SelectBProtocolConf", n, a, i); }
    void OnInfoInd(uint16_t n, uint32_t a, uint16_t number, const uint8_t* element) override
    {
        std::string e = "null";
        if (element)
            e = "[" + ToHex(std::vector<uint8_t>(element, element + 1 + element[0])) + "]";
        calls.push_back("InfoInd " + Hex(n) + " " + Hex(a) + " " + Hex(number) + " " + e);
        CCapiOperations::OnInfoInd(n, a, number, element);
    }
    void OnConnectActiveInd(uint16_t n, uint32_t a, const char* number, const char* subaddress) override
    {
        calls.push_back("ConnectActiveInd " + Hex(n) + " " + Hex(a) + " " + Text(number) + " " + Text(subaddress));
        CCapiOperations::OnConnectActiveInd(n, a, number, subaddress);
    }
    void OnConnectB3Ind(uint16_t n, uint32_t a) override
    {
        calls.push_back("ConnectB3Ind " + Hex(n) + " " + Hex(a));
        CCapiOperations::OnConnectB3Ind(n, a);
    }
    void OnConnectB3ActiveInd(uint16_t n, uint32_t a) override
    {
        calls.push_back("ConnectB3ActiveInd " + Hex(n) + " " + Hex(a));
        CCapiOperations::OnConnectB3ActiveInd(n, a);
    }
    void OnDisconnectInd(uint16_t n, uint32_t a, uint16_t reason) override
    {
        calls.push_back("DisconnectInd " + Hex(n) + " " + Hex(a) + " " + Hex(reason));
        CCapiOperations::OnDisconnectInd(n, a, reason);
    }
    void OnDataB3Ind(uint16_t n, uint32_t a, const uint8_t* data, uint16_t length, uint16_t handle, uint16_t flags) override
    {
        const std::string d = data ? "[" + ToHex(std::vector<uint8_t>(data, data + length)) + "]" : "null";
        calls.push_back("DataB3Ind " + Hex(n) + " " + Hex(a) + " " + d + " " + Hex(length) + " " + Hex(handle) + " " +
                        Hex(flags));
        CCapiOperations::OnDataB3Ind(n, a, data, length, handle, flags);
    }

private:
    void Log(const char* name, uint16_t n, uint32_t a, uint16_t i)
    {
        calls.push_back(std::string(name) + " " + Hex(n) + " " + Hex(a) + " " + Hex(i));
    }
};

// A DATA_B3_IND whose Data64 points at the block right behind it, as the library delivers it.
std::vector<uint8_t> WithData64(std::vector<uint8_t> m)
{
    const uint64_t address = reinterpret_cast<uintptr_t>(m.data() + 30);
    for (int i = 0; i < 8; ++i)
        m[22 + static_cast<size_t>(i)] = static_cast<uint8_t>(address >> (8 * i));
    return m;
}

// The message cut to the length its header claims, so that a read past it is a read past the buffer.
std::vector<uint8_t> CutTo(std::vector<uint8_t> m, uint16_t length)
{
    m.resize(length);
    m[0] = static_cast<uint8_t>(length);
    m[1] = static_cast<uint8_t>(length >> 8);
    return m;
}

struct DispatchCase {
    const char* name;
    std::vector<uint8_t> message;
    const char* call;               // the expected handler call, or "" for none
    std::vector<uint16_t> answers;  // keys of the responses that follow
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.name; }

class CapiDispatch : public ::testing::TestWithParam<DispatchCase> {
protected:
    void SetUp() override
    {
        FakeDriver::Reset();
        m_ops = std::make_unique<Recorder>(FakeDriver::Options());
        ASSERT_EQ(m_ops->Register(), 0u);
    }
    void TearDown() override { m_ops.reset(); }

    std::unique_ptr<Recorder> m_ops;
};

TEST_P(CapiDispatch, CallsTheHandlerAndAnswers)
{
    // The message lives exactly as long as its bytes: the block of a DATA_B3_IND behind it.
    std::vector<uint8_t> m = GetParam().message;
    if (m.size() >= 30 && m[4] == 0x86 && m[5] == 0x82 && WordAt(m, 0) >= 30)
        m = WithData64(m);
    m_ops->Dispatch(m.data());
    const std::string call = GetParam().call;
    if (call.empty())
        EXPECT_TRUE(m_ops->calls.empty()) << m_ops->calls.front();
    else
        EXPECT_EQ(m_ops->calls, std::vector<std::string>{call});
    EXPECT_EQ(FakeDriver::SentKeys(), GetParam().answers);
}

const std::vector<uint8_t> kBlock = {0x00, 0x41, 0x42};

INSTANTIATE_TEST_SUITE_P(
    Keys, CapiDispatch,
    ::testing::Values(
        DispatchCase{"AlertConf", TestMessage(0x01, 0x81, 5).Dword(0x101).Word(0x3001).Build(), "AlertConf 5 101 3001", {}},
        DispatchCase{"ConnectConf", Ind::ConnectConf(5, 0x101, 0), "ConnectConf 5 101 0", {}},
        DispatchCase{"ConnectB3Conf", Ind::ConnectB3Conf(5, 0x10101, 0x2001), "ConnectB3Conf 5 10101 2001", {}},
        DispatchCase{"DataB3Conf", Ind::DataB3Conf(5, 0x10101, 0x44, 0x3008), "DataB3Conf 5 10101 44 3008", {}},
        DispatchCase{"DisconnectB3Conf", TestMessage(0x84, 0x81, 5).Dword(0x10101).Word(0).Build(), "DisconnectB3Conf 5 10101 0", {}},
        DispatchCase{"DisconnectConf", TestMessage(0x04, 0x81, 5).Dword(0x101).Word(0).Build(), "DisconnectConf 5 101 0", {}},
        DispatchCase{"InfoConf", TestMessage(0x08, 0x81, 5).Dword(0x101).Word(0).Build(), "InfoConf 5 101 0", {}},
        DispatchCase{"ListenConf", TestMessage(0x05, 0x81, 5).Dword(1).Word(0).Build(), "ListenConf 5 1 0", {}},
        DispatchCase{"ResetB3Conf", TestMessage(0x87, 0x81, 5).Dword(0x10101).Word(0).Build(), "ResetB3Conf 5 10101 0", {}},
        DispatchCase{"SelectBProtocolConf", TestMessage(0x41, 0x81, 5).Dword(0x101).Word(0).Build(), "SelectBProtocolConf 5 101 0", {}},
        DispatchCase{"InfoInd", Ind::InfoInd(5, 0x101), "InfoInd 5 101 18 [01 89]", {0x8308}},
        DispatchCase{"ConnectActiveInd", Ind::ConnectActiveInd(5, 0x101), "ConnectActiveInd 5 101 null null", {0x8303, 0x8004}},
        DispatchCase{"ConnectB3Ind", TestMessage(0x82, 0x82, 5).Dword(0x10101).Byte(0).Build(), "ConnectB3Ind 5 10101", {0x8382}},
        DispatchCase{"ConnectB3ActiveInd", Ind::ConnectB3ActiveInd(5, 0x10101), "ConnectB3ActiveInd 5 10101", {0x8383}},
        DispatchCase{"DisconnectInd", Ind::DisconnectInd(5, 0x101, 0x3490), "DisconnectInd 5 101 3490", {0x8304}},
        DispatchCase{"DataB3Ind", Ind::DataB3Ind(5, 0x10101, 9, kBlock), "DataB3Ind 5 10101 [00 41 42] 3 9 0", {0x8386}},
        DispatchCase{"EmptyDataB3Ind", Ind::DataB3Ind(5, 0x10101, 9, {}), "DataB3Ind 5 10101 [] 0 9 0", {0x8386}},
        DispatchCase{"ConnectIndIsDeclined", Ind::ConnectInd(5, 0x201), "", {0x8302}},
        DispatchCase{"DisconnectB3IndIsDropped", TestMessage(0x84, 0x82, 5).Dword(0x10101).Word(0).Byte(0).Build(), "", {}},
        DispatchCase{"ResetB3IndIsDropped", TestMessage(0x87, 0x82, 5).Dword(0x10101).Byte(0).Build(), "", {}},
        DispatchCase{"FacilityIndIsDropped", TestMessage(0x80, 0x82, 5).Dword(0x101).Word(1).Byte(0).Build(), "", {}},
        DispatchCase{"FacilityConfIsDropped", TestMessage(0x80, 0x81, 5).Dword(0x101).Word(0).Word(1).Byte(0).Build(), "", {}},
        DispatchCase{"ManufacturerIndIsDropped", TestMessage(0xFF, 0x82, 5).Dword(1).Dword(0).Build(), "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Malformed, CapiDispatch,
    ::testing::Values(
        DispatchCase{"HeaderOnly", CutTo(Ind::ConnectConf(5, 0x101, 0), 8), "", {}},
        DispatchCase{"ConfWithoutInfo", CutTo(Ind::ConnectConf(5, 0x101, 0), 12), "", {}},
        DispatchCase{"DataB3ConfWithoutInfo", CutTo(Ind::DataB3Conf(5, 0x10101, 4, 0), 14), "", {}},
        DispatchCase{"DisconnectIndWithoutReason", CutTo(Ind::DisconnectInd(5, 0x101, 0), 13), "", {}},
        DispatchCase{"ConnectIndWithoutPlci", CutTo(Ind::ConnectInd(5, 0x101), 10), "", {}},
        DispatchCase{"InfoElementPastTheEnd", TestMessage(0x08, 0x82, 5).Dword(0x101).Word(0x18).Byte(20).Byte(1).Build(),
                     "InfoInd 5 101 18 null", {0x8308}},
        DispatchCase{"ConnectedNumberPastTheEnd", TestMessage(0x03, 0x82, 5).Dword(0x101).Byte(40).Bytes({0x00, 0x80, 0x31}).Build(),
                     "ConnectActiveInd 5 101 null null", {0x8303, 0x8004}},
        DispatchCase{"SubaddressPastTheEnd", TestMessage(0x03, 0x82, 5).Dword(0x101).Byte(0).Byte(9).Bytes({0x80, 0x50}).Build(),
                     "ConnectActiveInd 5 101 null null", {0x8303, 0x8004}},
        DispatchCase{"DataLongerThanRegistered",
                     TestMessage(0x86, 0x82, 5).Dword(0x10101).Dword(0).Word(4000).Word(9).Word(0).Qword(0).Bytes({0, 1}).Build(),
                     "DataB3Ind 5 10101 null 0 9 0", {0x8386}},
        DispatchCase{"DataB3IndWithoutData64", TestMessage(0x86, 0x82, 5).Dword(0x10101).Dword(0x1000).Word(3).Word(9).Word(0).Build(),
                     "DataB3Ind 5 10101 null 0 9 0", {0x8386}},
        DispatchCase{"DataB3IndWithoutHandle", CutTo(Ind::DataB3Ind(5, 0x10101, 9, kBlock), 19), "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CapiDispatch, ConnectIndIsAnsweredWithRejectOneAndItsNumber)
{
    const std::vector<uint8_t> m = Ind::ConnectInd(0x1234, 0x0201);
    m_ops->Dispatch(m.data());
    ASSERT_EQ(FakeDriver::SentCount(), 1);
    const std::vector<uint8_t> resp = FakeDriver::Sent(0);
    EXPECT_EQ(resp.size(), 25u);
    EXPECT_EQ(WordAt(resp, 6), 0x1234);
    EXPECT_EQ(DwordAt(resp, 8), 0x0201u);
    EXPECT_EQ(WordAt(resp, 12), 1);
}

TEST_F(CapiDispatch, DefaultConnectActiveIndAnswersThenClearsTheSamePlci)
{
    const std::vector<uint8_t> m = Ind::ConnectActiveInd(0x321, 0x0301);
    m_ops->Dispatch(m.data());
    ASSERT_EQ(FakeDriver::SentCount(), 2);
    EXPECT_EQ(WordAt(FakeDriver::Sent(0), 6), 0x321);
    EXPECT_EQ(DwordAt(FakeDriver::Sent(0), 8), 0x0301u);
    EXPECT_EQ(WordAt(FakeDriver::Sent(1), 4), 0x8004);
    EXPECT_EQ(DwordAt(FakeDriver::Sent(1), 8), 0x0301u);
}

TEST_F(CapiDispatch, DataB3IndAnswerEchoesTheHandle)
{
    const std::vector<uint8_t> m = WithData64(Ind::DataB3Ind(5, 0x10101, 0xA55A, kBlock));
    m_ops->Dispatch(m.data());
    ASSERT_EQ(FakeDriver::SentCount(), 1);
    EXPECT_EQ(DwordAt(FakeDriver::Sent(0), 8), 0x10101u);
    EXPECT_EQ(WordAt(FakeDriver::Sent(0), 12), 0xA55A);
}

struct TextCase {
    std::vector<uint8_t> number;      // connected number struct, length byte included
    std::vector<uint8_t> subaddress;  // connected subaddress struct, length byte included
    const char* expected;
};

TEST_F(CapiDispatch, ConnectActiveIndTexts)
{
    const TextCase cases[] = {
        {{0x03, 0x00, 0x80, 0x35}, {0x00}, "ConnectActiveInd 5 101 \"5\" null"},
        {{0x03, 0x01, 0x80, 0x35}, {0x00}, "ConnectActiveInd 5 101 null null"},
        {{0x02, 0x00, 0x80}, {0x00}, "ConnectActiveInd 5 101 null null"},
        {{0x00}, {0x03, 0x80, 0x50, 0x51}, "ConnectActiveInd 5 101 null \"PQ\""},
        {{0x00}, {0x02, 0x81, 0x50}, "ConnectActiveInd 5 101 null null"},
        {{0x00}, {0x01, 0x80}, "ConnectActiveInd 5 101 null null"},
        {{0x04, 0x00, 0x80, 0x31, 0x32}, {0x02, 0x80, 0x39}, "ConnectActiveInd 5 101 \"12\" \"9\""},
    };
    for (const TextCase& c : cases) {
        m_ops->calls.clear();
        std::vector<uint8_t> m = TestMessage(0x03, 0x82, 5).Dword(0x101).Bytes(c.number).Bytes(c.subaddress).Byte(0).Build();
        m_ops->Dispatch(m.data());
        EXPECT_EQ(m_ops->calls, std::vector<std::string>{c.expected}) << ToHex(c.number) << " / " << ToHex(c.subaddress);
    }
}

}  // namespace
