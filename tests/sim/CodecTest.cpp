#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"
#include "sim/CCapiMessage.h"
#include "sim/CCapiTrace.h"
#include "sim/CFrameAssembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteReader, FailureIsStickyAndYieldsZeros)
{
    const Bytes data { 0x34, 0x12, 0x78 };
    CByteReader in(data);
    EXPECT_EQ(in.U16(), 0x1234);
    EXPECT_EQ(in.U16(), 0); // only one byte left
    EXPECT_FALSE(in.Ok());
    EXPECT_EQ(in.U8(), 0); // the byte that was left is not read after a failure
    EXPECT_TRUE(in.Bytes(1).empty());
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ByteReader, StructsWithShortAndEscapedLengths)
{
    CByteWriter w;
    Bytes longContent(300, 0xAB);
    w.Struct(Bytes { 1, 2, 3 }).Struct(longContent).EmptyStruct();
    CByteReader in(w.Data());
    EXPECT_EQ(in.Struct().size(), 3u);
    EXPECT_EQ(in.Struct().size(), 300u);
    EXPECT_EQ(in.Struct().size(), 0u);
    EXPECT_TRUE(in.Ok());
    EXPECT_EQ(in.Remaining(), 0u);

    const Bytes overlong { 0x05, 1, 2 };
    CByteReader bad(overlong);
    EXPECT_TRUE(bad.Struct().empty());
    EXPECT_FALSE(bad.Ok());
}

// The product's CONNECT_REQ for called number 123 and calling number 45.
const Bytes CONNECT_REQ_EXAMPLE { 0x2C, 0x00, 0x01, 0x00, 0x02, 0x80, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x04,
    0x80, 0x31, 0x32, 0x33, 0x04, 0x00, 0x80, 0x34, 0x35, 0x00, 0x04, 0xA0, 0x5B, 0x17, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 };

TEST(CapiMessage, DecodesAndTracesTheConnectRequest)
{
    std::string error;
    auto msg = CCapiMessage::Decode(CONNECT_REQ_EXAMPLE, error);
    ASSERT_TRUE(msg) << error;
    EXPECT_TRUE(msg->Is(CAPI_CONNECT, CAPI_REQ));
    EXPECT_EQ(msg->ApplId, 1);
    EXPECT_EQ(msg->Number, 2);
    EXPECT_EQ(msg->Encode(), CONNECT_REQ_EXAMPLE);
    EXPECT_EQ(CCapiTrace::Describe(*msg),
        "CONNECT_REQ appl=1 msg=2 ctrl=1 cip=2 called=123 calling=45 callingsub=a05b1700 bprot=0/0/0");
}

TEST(CapiMessage, DataB3RequestCarriesItsBlockBehindTheMessage)
{
    CByteWriter w;
    w.U16(30).U16(1).U8(CAPI_DATA_B3).U8(CAPI_REQ).U16(9).U32(0x10101).U32(0).U16(3).U16(9).U16(0).U64(0xDEADBEEF);
    w.Bytes(Bytes { 0x00, 'h', 'i' });
    std::string error;
    auto msg = CCapiMessage::Decode(w.Data(), error);
    ASSERT_TRUE(msg) << error;
    EXPECT_EQ(msg->Params.size(), 22u);
    EXPECT_EQ(msg->Data, (Bytes { 0x00, 'h', 'i' }));
    EXPECT_EQ(CCapiTrace::Describe(*msg), "DATA_B3_REQ appl=1 msg=9 ncci=0x10101 len=3 handle=9 flags=0x0 tag=0x00 data=\"hi\"");
}

struct SMalformed {
    const char* Name; // what is wrong
    Bytes Payload;    // the frame payload
};

class MalformedMessage : public ::testing::TestWithParam<SMalformed> {};

TEST_P(MalformedMessage, IsRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(CCapiMessage::Decode(GetParam().Payload, error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedMessage,
    ::testing::Values(SMalformed { "short_header", { 0x08, 0x00, 0x01, 0x00, 0x02 } },
        SMalformed { "length_below_header", { 0x04, 0x00, 0x01, 0x00, 0x02, 0x80, 0x01, 0x00 } },
        SMalformed { "length_beyond_frame", { 0x20, 0x00, 0x01, 0x00, 0x02, 0x80, 0x01, 0x00, 0x01, 0x00 } },
        SMalformed { "bytes_left_over", { 0x0C, 0x00, 0x01, 0x00, 0x04, 0x80, 0x01, 0x00, 0x01, 0x01, 0x00, 0x00, 0xFF } },
        SMalformed { "data_shorter_than_stated",
            { 0x16, 0x00, 0x01, 0x00, 0x86, 0x80, 0x01, 0x00, 0x01, 0x01, 0x01, 0x00, 0, 0, 0, 0, 0x10, 0x00, 0x01, 0x00, 0, 0, 0x00 } },
        SMalformed { "data_request_without_length", { 0x0C, 0x00, 0x01, 0x00, 0x86, 0x80, 0x01, 0x00, 0x01, 0x01, 0x01, 0x00 } }),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(FrameAssembler, CutsFramesAcrossArbitrarySplits)
{
    Bytes stream;
    for (const Bytes& payload : { Bytes(8, 1), Bytes(100, 2), Bytes(2078, 3) }) {
        auto frame = CFrameAssembler::Frame(payload);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (std::size_t step : { std::size_t(1), std::size_t(7), stream.size() }) {
        CFrameAssembler frames;
        std::vector<std::size_t> sizes;
        Bytes payload;
        std::string error;
        for (std::size_t at = 0; at < stream.size(); at += step) {
            frames.Append(std::span(stream).subspan(at, std::min(step, stream.size() - at)));
            while (frames.Next(payload, error) == CFrameAssembler::EResult::Frame)
                sizes.push_back(payload.size());
        }
        EXPECT_EQ(sizes, (std::vector<std::size_t> { 8, 100, 2078 })) << "step " << step;
        EXPECT_EQ(frames.Buffered(), 0u);
    }
}

TEST(FrameAssembler, ALengthShorterThanAHeaderBreaksTheStream)
{
    CFrameAssembler frames;
    frames.Append(Bytes { 0x00, 0x05, 1, 2, 3, 0x00, 0x0A });
    Bytes payload;
    std::string error;
    EXPECT_EQ(frames.Next(payload, error), CFrameAssembler::EResult::Malformed);
    EXPECT_NE(error.find("shorter"), std::string::npos);
    EXPECT_EQ(frames.Next(payload, error), CFrameAssembler::EResult::Malformed);
}

TEST(CapiTrace, NumbersAndPreviews)
{
    EXPECT_EQ(CCapiTrace::NumberDigits(Bytes { 0x80, '1', '2' }), "12");
    EXPECT_EQ(CCapiTrace::NumberDigits(Bytes { 0x00, 0x80, '4', '5' }), "45");
    EXPECT_EQ(CCapiTrace::NumberDigits(Bytes {}), "-");
    EXPECT_EQ(CCapiTrace::Preview(Bytes { 'G', '\r', '\n', 0x01, '"' }, 10), "\"G\\r\\n\\x01\\\"\"");
    EXPECT_EQ(CCapiTrace::Preview(Bytes { 'a', 'b', 'c' }, 2), "\"ab\"...");
}

} // namespace
