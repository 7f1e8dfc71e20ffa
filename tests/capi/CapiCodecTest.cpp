// The sending side of the codec: message layouts, message numbers, the
// 64-bit DATA_B3_REQ, and the refusal of messages that would not fit.
#include "FakeCapiControl.h"
#include "FakeDriver.h"
#include "TestMessage.h"

#include "capi/CCapiControl.h"
#include "capi/CCapiOperations.h"
#include "capi/CapiConstants.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>
#include <set>
#include <string>
#include <thread>

namespace {

class CapiCodec : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeDriver::Reset();
        m_ops = std::make_unique<CCapiOperations>(FakeDriver::Options());
        ASSERT_EQ(m_ops->Register(), 0u);
        ASSERT_EQ(m_ops->ApplID, 1u);
    }
    void TearDown() override { m_ops.reset(); }

    // The one message the driver was given since the fixture started.
    std::vector<uint8_t> OnlySent() const
    {
        EXPECT_EQ(FakeDriver::SentCount(), 1);
        return FakeDriver::Sent(0);
    }

    std::unique_ptr<CCapiOperations> m_ops;
};

TEST_F(CapiCodec, ConnectReqMatchesTheExample)
{
    EXPECT_EQ(m_ops->ConnectReq("123", "45", CCapiControl::CALLING_SUBADDRESS, CCapiControl::B_PROTOCOL), 2);
    EXPECT_EQ(ToHex(OnlySent()), ToHex(FromHex("2C 00 01 00 02 80 02 00 01 00 00 00 02 00 04 80 31 32 33 "
                                                "04 00 80 34 35 00 04 A0 5B 17 00 09 00 00 00 00 00 00 00 00 00 "
                                                "00 00 00 00")));
}

TEST_F(CapiCodec, ConnectReqWithoutNumbersHasEmptyStructs)
{
    const std::string empty = "24 00 01 00 02 80 {N} 00 01 00 00 00 02 00 00 00 00 04 A0 5B 17 00 "
                              "09 00 00 00 00 00 00 00 00 00 00 00 00 00";
    struct Case {
        const char* called;
        const char* calling;
    };
    const Case cases[] = {{nullptr, nullptr}, {"", ""}, {"", nullptr}};
    int index = 0;
    for (const Case& c : cases) {
        const uint16_t number = m_ops->ConnectReq(c.called, c.calling, CCapiControl::CALLING_SUBADDRESS, CCapiControl::B_PROTOCOL);
        ASSERT_NE(number, 0);
        std::string expected = empty;
        char n[8];
        std::snprintf(n, sizeof n, "%02X", number);
        expected.replace(expected.find("{N}"), 3, n);
        EXPECT_EQ(ToHex(FakeDriver::Sent(index++)), ToHex(FromHex(expected)));
    }
}

TEST_F(CapiCodec, NumberCharactersAreSentModulo64)
{
    ASSERT_NE(m_ops->ConnectReq("1 A*#", nullptr, nullptr, nullptr), 0);
    const std::vector<uint8_t> m = OnlySent();
    const std::vector<uint8_t> called(m.begin() + 14, m.begin() + 14 + 7);
    EXPECT_EQ(ToHex(called), "06 80 31 20 01 2A 23");
}

TEST_F(CapiCodec, ConnectReqThatWouldExceed212BytesIsRefused)
{
    // 39 bytes plus the characters of both numbers: 173 characters fill 212 bytes.
    const std::string fits(100, '1');
    const std::string own(73, '2');
    ASSERT_NE(m_ops->ConnectReq(fits.c_str(), own.c_str(), CCapiControl::CALLING_SUBADDRESS, CCapiControl::B_PROTOCOL), 0);
    EXPECT_EQ(WordAt(FakeDriver::Sent(0), 0), 212);

    const std::string own74(74, '2');
    uint32_t info = 0;
    EXPECT_EQ(m_ops->ConnectReq(fits.c_str(), own74.c_str(), CCapiControl::CALLING_SUBADDRESS, CCapiControl::B_PROTOCOL, &info), 0);
    EXPECT_EQ(info, Capi::INFO_ILLEGAL_PARAMETER);
    const std::string huge(5000, '9');
    EXPECT_EQ(m_ops->ConnectReq(huge.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(FakeDriver::SentCount(), 1);
}

struct LayoutCase {
    const char* name;
    std::function<uint16_t(CCapiOperations&)> build;
    uint16_t number;
    const char* bytes;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class CapiCodecLayouts : public CapiCodec, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(CapiCodecLayouts, BuildsTheStandardLayout)
{
    EXPECT_EQ(GetParam().build(*m_ops), GetParam().number);
    EXPECT_EQ(ToHex(OnlySent()), ToHex(FromHex(GetParam().bytes)));
}

INSTANTIATE_TEST_SUITE_P(
    Builders, CapiCodecLayouts,
    ::testing::Values(
        LayoutCase{"ConnectB3Req", [](CCapiOperations& o) { return o.ConnectB3Req(0x0101); }, 2,
                   "0D 00 01 00 82 80 02 00 01 01 00 00 00"},
        LayoutCase{"DisconnectB3Req", [](CCapiOperations& o) { return o.DisconnectB3Req(0x10101); }, 2,
                   "0D 00 01 00 84 80 02 00 01 01 01 00 00"},
        LayoutCase{"DisconnectReq", [](CCapiOperations& o) { return o.DisconnectReq(0x0101); }, 2,
                   "0D 00 01 00 04 80 02 00 01 01 00 00 00"},
        LayoutCase{"ConnectResp", [](CCapiOperations& o) { return o.ConnectResp(0x1234, 0x20101); }, 0x1234,
                   "19 00 01 00 02 83 34 12 01 01 00 00 01 00 00 00 00 06 02 00 00 00 00 00 00"},
        LayoutCase{"ConnectActiveResp", [](CCapiOperations& o) { return o.ConnectActiveResp(0x1234, 0x10101); }, 0x1234,
                   "0C 00 01 00 03 83 34 12 01 01 00 00"},
        LayoutCase{"ConnectB3Resp", [](CCapiOperations& o) { return o.ConnectB3Resp(0x10101); }, 2,
                   "0F 00 01 00 82 83 02 00 01 01 01 00 00 00 00"},
        LayoutCase{"ConnectB3ActiveResp", [](CCapiOperations& o) { return o.ConnectB3ActiveResp(0x10101); }, 2,
                   "0C 00 01 00 83 83 02 00 01 01 01 00"},
        LayoutCase{"DataB3Resp", [](CCapiOperations& o) { return o.DataB3Resp(0x10101, 0xBEEF); }, 2,
                   "0E 00 01 00 86 83 02 00 01 01 01 00 EF BE"},
        LayoutCase{"DisconnectResp", [](CCapiOperations& o) { return o.DisconnectResp(0x10101); }, 2,
                   "0C 00 01 00 04 83 02 00 01 01 00 00"},
        LayoutCase{"InfoResp", [](CCapiOperations& o) { return o.InfoResp(0x20101); }, 2,
                   "0C 00 01 00 08 83 02 00 01 01 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CapiCodec, DataB3ReqUsesThe64BitFormWithItsNumberAsHandle)
{
    std::vector<uint8_t> block(2048);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    const uint16_t number = m_ops->DataB3Req(0x10101, block.data(), 2048);
    EXPECT_EQ(number, 2);
    const std::vector<uint8_t> m = OnlySent();
    ASSERT_EQ(m.size(), 30u);
    EXPECT_EQ(WordAt(m, 0), 30);
    EXPECT_EQ(WordAt(m, 4), 0x8086);
    EXPECT_EQ(DwordAt(m, 8), 0x10101u);
    EXPECT_EQ(DwordAt(m, 12), 0u);             // the 32-bit Data field
    EXPECT_EQ(WordAt(m, 16), 2048);
    EXPECT_EQ(WordAt(m, 18), number);          // data handle
    EXPECT_EQ(WordAt(m, 20), 0);               // flags
    EXPECT_EQ(QwordAt(m, 22), reinterpret_cast<uintptr_t>(block.data()));
    EXPECT_EQ(FakeDriver::SentData(0), block);
}

TEST_F(CapiCodec, MessageNumbersStartAtTwoAndWrapAfter7FFF)
{
    EXPECT_EQ(m_ops->InfoResp(1), 2);
    m_ops->MessageNumber = 0x7FFE;
    EXPECT_EQ(m_ops->InfoResp(1), 0x7FFF);
    EXPECT_EQ(m_ops->InfoResp(1), 1);
    EXPECT_EQ(WordAt(FakeDriver::Sent(2), 6), 1);
}

TEST_F(CapiCodec, ResponsesWithTheIndicationsNumberLeaveTheCounter)
{
    m_ops->MessageNumber = 40;
    EXPECT_EQ(m_ops->ConnectResp(7, 0x101), 7);
    EXPECT_EQ(m_ops->ConnectActiveResp(9, 0x101), 9);
    EXPECT_EQ(m_ops->MessageNumber, 40);
    EXPECT_EQ(m_ops->ConnectB3Req(0x101), 41);
}

TEST_F(CapiCodec, ConcurrentBuildersNeverShareANumber)
{
    std::vector<uint16_t> a, b;
    auto draw = [this](std::vector<uint16_t>& out) {
        for (int i = 0; i < 15000; ++i)
            out.push_back(m_ops->NextMessageNumber());
    };
    std::thread first(draw, std::ref(a));
    std::thread second(draw, std::ref(b));
    first.join();
    second.join();
    std::set<uint16_t> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 30000u);
    EXPECT_EQ(all.count(0), 0u);
    EXPECT_LE(*all.rbegin(), 0x7FFF);
}

TEST_F(CapiCodec, WithoutAnApplicationNothingIsSentButNumbersAreDrawn)
{
    m_ops->Release();
    const uint8_t block[1] = {0};
    EXPECT_EQ(m_ops->ConnectReq("1", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(m_ops->ConnectB3Req(1), 0);
    EXPECT_EQ(m_ops->DataB3Req(1, block, 1), 0);
    EXPECT_EQ(m_ops->DisconnectB3Req(1), 0);
    EXPECT_EQ(m_ops->DisconnectReq(1), 0);
    EXPECT_EQ(m_ops->ConnectResp(5, 1), 0);
    EXPECT_EQ(m_ops->ConnectActiveResp(5, 1), 0);
    EXPECT_EQ(m_ops->ConnectB3Resp(1), 0);
    EXPECT_EQ(m_ops->ConnectB3ActiveResp(1), 0);
    EXPECT_EQ(m_ops->DataB3Resp(1, 1), 0);
    EXPECT_EQ(m_ops->DisconnectResp(1), 0);
    EXPECT_EQ(m_ops->InfoResp(1), 0);
    EXPECT_EQ(FakeDriver::SentCount(), 0);
    EXPECT_EQ(m_ops->MessageNumber, 1 + 10);
}

}  // namespace
