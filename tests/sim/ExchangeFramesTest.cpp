// The exchange in this process, fed raw rcapi frames over a loopback socket,
// for the refusals a well-behaved library never provokes.

#include "sim/CByteReader.h"
#include "sim/CByteWriter.h"
#include "sim/CEventLoop.h"
#include "sim/CExchange.h"
#include "sim/CSimConfig.h"
#include "sim/CSysApi.h"
#include "sim/CTraceLog.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Message(std::uint8_t command, std::uint8_t sub, std::uint16_t number, const Bytes& params, const Bytes& data = {})
{
    CByteWriter w;
    w.U16(static_cast<std::uint16_t>(8 + params.size())).U16(1).U8(command).U8(sub).U16(number).Bytes(params).Bytes(data);
    return w.Take();
}

class ExchangeFrames : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_config.Apply("device", "100=demo", error));
        m_config.RateBytesPerSecond = 0;
        m_exchange = std::make_unique<CExchange>(&m_loop, &m_config, &m_trace);
        ASSERT_TRUE(m_exchange->Listen(error)) << error;
    }

    void TearDown() override
    {
        for (int fd : m_fds)
            ::close(fd);
        // A test's replacement seam has gone with the test body: the exchange
        // closes its sockets through the real calls.
        CSysApi::Install(nullptr);
        m_exchange.reset();
    }

    int Connect()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(m_exchange->Port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        m_fds.push_back(fd);
        m_loop.RunOnce(10000);
        return fd;
    }

    void SendFrame(int fd, const Bytes& payload)
    {
        CByteWriter w;
        w.U16Be(static_cast<std::uint16_t>(payload.size() + 2)).Bytes(payload);
        ASSERT_EQ(::send(fd, w.Data().data(), w.Size(), MSG_NOSIGNAL), static_cast<ssize_t>(w.Size()));
    }

    // Steps the exchange until a whole frame has come back, or the client's
    // connection was closed (none), within a generous bound.
    std::optional<Bytes> ReceiveFrame(int fd)
    {
        for (int i = 0; i < 500; ++i) {
            m_loop.RunOnce(10000);
            std::uint8_t head[2];
            ssize_t n = ::recv(fd, head, 2, MSG_DONTWAIT | MSG_PEEK);
            if (n == 0)
                return std::nullopt;
            if (n < 2)
                continue;
            std::size_t length = (head[0] << 8) | head[1];
            Bytes frame(length);
            if (::recv(fd, frame.data(), length, MSG_DONTWAIT | MSG_PEEK) < static_cast<ssize_t>(length))
                continue;
            ::recv(fd, frame.data(), length, 0);
            return Bytes(frame.begin() + 2, frame.end());
        }
        ADD_FAILURE() << "no frame and no close";
        return std::nullopt;
    }

    std::uint16_t Register(int fd, std::uint16_t maxConnections = 2, std::uint16_t maxLength = 2048)
    {
        CByteWriter w;
        w.U16(0).U16(0).U8(0xF2).U8(0xFF).U16(0).U32(0).U16(2048).U16(maxConnections).U16(7).U16(maxLength).U8(2);
        SendFrame(fd, w.Data());
        auto reply = ReceiveFrame(fd);
        if (!reply || reply->size() < 10 || (*reply)[4] != 0xF3 || (*reply)[5] != 0xFF) {
            ADD_FAILURE() << "no register reply";
            return 0xFFFF;
        }
        return static_cast<std::uint16_t>((*reply)[8] | ((*reply)[9] << 8));
    }

    // Info word of a confirmation at the given parameter offset.
    static std::uint16_t Info(const Bytes& msg, std::size_t offset)
    {
        CByteReader in(msg);
        in.Skip(8 + offset);
        return in.U16();
    }

    CSimConfig m_config;
    CEventLoop m_loop;
    CTraceLog m_trace;
    std::unique_ptr<CExchange> m_exchange;
    std::vector<int> m_fds;
};

TEST_F(ExchangeFrames, RegistrationRefusesSizesNoApplicationMayUse)
{
    EXPECT_EQ(Register(Connect()), 0);
    EXPECT_EQ(Register(Connect(), 2, 64), 0x1002);
    EXPECT_EQ(Register(Connect(), 0, 2048), 0x1005);
}

TEST_F(ExchangeFrames, RequestsForNoCallOrControllerAreRefused)
{
    int fd = Connect();
    ASSERT_EQ(Register(fd), 0);
    CByteWriter data;
    data.U32(0x50101).U32(0).U16(1).U16(77).U16(0);
    SendFrame(fd, Message(0x86, 0x80, 5, data.Data(), { 0x00 }));
    auto conf = ReceiveFrame(fd);
    ASSERT_TRUE(conf);
    EXPECT_EQ(Info(*conf, 4), 77) << "the handle is echoed";
    EXPECT_EQ(Info(*conf, 6), 0x2002);

    CByteWriter disconnect;
    disconnect.U32(0x901).U8(0);
    SendFrame(fd, Message(0x04, 0x80, 6, disconnect.Data()));
    conf = ReceiveFrame(fd);
    ASSERT_TRUE(conf);
    EXPECT_EQ(Info(*conf, 4), 0x2002);

    CByteWriter connect;
    connect.U32(2).U16(2).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0);
    SendFrame(fd, Message(0x02, 0x80, 7, connect.Data()));
    conf = ReceiveFrame(fd);
    ASSERT_TRUE(conf);
    EXPECT_EQ(Info(*conf, 4), 0x2002);
    EXPECT_EQ(m_exchange->CallCount(), 0u);
}

TEST_F(ExchangeFrames, DataLongerThanRegisteredIsRefused)
{
    int fd = Connect();
    ASSERT_EQ(Register(fd, 2, 128), 0);
    CByteWriter connect;
    connect.U32(1).U16(2).U8(4).U8(0x80).Text("100").U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0);
    SendFrame(fd, Message(0x02, 0x80, 2, connect.Data()));
    auto conf = ReceiveFrame(fd);
    ASSERT_TRUE(conf);
    CByteReader in(*conf);
    in.Skip(8);
    std::uint32_t plci = in.U32();
    ASSERT_TRUE(ReceiveFrame(fd)); // CONNECT_ACTIVE_IND
    CByteWriter b3;
    b3.U32(plci).U8(0);
    SendFrame(fd, Message(0x82, 0x80, 3, b3.Data()));
    auto b3conf = ReceiveFrame(fd);
    ASSERT_TRUE(b3conf);
    ASSERT_EQ(Info(*b3conf, 4), 0);
    CByteReader b3in(*b3conf);
    b3in.Skip(8);
    std::uint32_t ncci = b3in.U32();
    ASSERT_TRUE(ReceiveFrame(fd)); // CONNECT_B3_ACTIVE_IND
    CByteWriter data;
    data.U32(ncci).U32(0).U16(200).U16(4).U16(0);
    SendFrame(fd, Message(0x86, 0x80, 4, data.Data(), Bytes(200, 0)));
    auto dataConf = ReceiveFrame(fd);
    ASSERT_TRUE(dataConf);
    EXPECT_EQ(Info(*dataConf, 6), 0x300C);
}

struct SBadFrame {
    const char* Name; // what is wrong
    Bytes Payload;    // sent after registering
};

class BadFrame : public ExchangeFrames, public ::testing::WithParamInterface<SBadFrame> {};

TEST_P(BadFrame, ClosesOnlyThatClient)
{
    int good = Connect();
    ASSERT_EQ(Register(good), 0);
    int bad = Connect();
    ASSERT_EQ(Register(bad), 0);
    SendFrame(bad, GetParam().Payload);
    EXPECT_FALSE(ReceiveFrame(bad)) << "connection stays open";
    // The other client is still served.
    CByteWriter listen;
    listen.U32(1).U32(0).U32(0).U32(0).U8(0).U8(0);
    SendFrame(good, Message(0x05, 0x80, 9, listen.Data()));
    auto conf = ReceiveFrame(good);
    ASSERT_TRUE(conf);
    EXPECT_EQ(Info(*conf, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadFrame,
    ::testing::Values(SBadFrame { "connect_params_past_end", Message(0x02, 0x80, 2, { 1, 0, 0, 0, 2, 0, 9, 0x80 }) },
        SBadFrame { "length_disagrees", { 0x30, 0x00, 0x01, 0x00, 0x02, 0x80, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00 } },
        SBadFrame { "no_address", Message(0x04, 0x80, 2, {}) },
        SBadFrame { "second_register", { 0, 0, 0, 0, 0xF2, 0xFF, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 7, 0, 0, 8 } },
        SBadFrame { "unknown_library_command", { 0, 0, 0, 0, 0xF0, 0xFF, 0, 0 } }),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ExchangeFrames, MessageBeforeRegistrationClosesTheClient)
{
    int fd = Connect();
    SendFrame(fd, Message(0x05, 0x80, 1, { 1, 0, 0, 0 }));
    EXPECT_FALSE(ReceiveFrame(fd));
}

// Makes every send on one descriptor fail as on a broken connection.
class CBrokenSend : public CSysApi {
public:
    ssize_t Send(int fd, const void* buf, std::size_t len) override
    {
        if (fd == BrokenFd) {
            errno = EPIPE;
            return -1;
        }
        return CSysApi::Send(fd, buf, len);
    }
    int Accept(int fd, sockaddr* addr, socklen_t* len) override
    {
        int client = CSysApi::Accept(fd, addr, len);
        if (client >= 0 && Accepted++ == 1)
            BrokenFd = client;
        return client;
    }
    int BrokenFd = -1; // the exchange's end of the second connection
    int Accepted = 0;  // connections accepted so far
};

TEST_F(ExchangeFrames, SendFailureClosesOnlyThatClient)
{
    CBrokenSend broken;
    CSysApi::Install(&broken);
    int good = Connect();
    int bad = Connect();
    ASSERT_EQ(Register(good), 0);
    CByteWriter w;
    w.U16(0).U16(0).U8(0xF2).U8(0xFF).U16(0).U32(0).U16(2048).U16(2).U16(7).U16(2048);
    SendFrame(bad, w.Data());
    EXPECT_FALSE(ReceiveFrame(bad));
    EXPECT_EQ(Register(Connect()), 0);
}

} // namespace
