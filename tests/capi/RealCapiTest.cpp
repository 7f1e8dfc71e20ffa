// The binding on the real libcapi20, against a minimal rcapi peer: the
// registration, a call with data both ways in the 64-bit form, the release
// while the receive thread waits, a lost link, and a peer that never answers.
#include "FakeRelayApp.h"
#include "RcapiPeer.h"
#include "TestMessage.h"

#include "capi/CCapiControl.h"
#include "capi/CCapiProvider.h"
#include "capi/CapiConstants.h"
#include "relay/CServiceRelay.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

RcapiPeer& Peer();

namespace {

constexpr uint32_t PLCI = 0x0101;
constexpr uint32_t NCCI = 0x10101;

class RealCapi : public ::testing::Test {
protected:
    void SetUp() override
    {
        Peer().Reset();
        m_relay = std::make_unique<CServiceRelay>(&m_app, m_provider);
    }
    void TearDown() override { m_relay.reset(); }

    std::unique_ptr<CCapiControl> NewControl(CCapiOptions options = CCapiOptions())
    {
        return std::make_unique<CCapiControl>(m_relay.get(), options);
    }

    // Dials and answers as the network does, up to the data link.
    void BringUp(CCapiControl& control)
    {
        ASSERT_TRUE(control.Connect("123", "45"));
        const std::vector<uint8_t> request = Peer().WaitForKey(0x8002);
        ASSERT_FALSE(request.empty());
        ASSERT_TRUE(Peer().Send(Ind::ConnectConf(WordAt(request, 6), PLCI, 0)));
        ASSERT_TRUE(Peer().Send(Ind::ConnectActiveInd(0x4001, PLCI)));
        const std::vector<uint8_t> b3 = Peer().WaitForKey(0x8082);
        ASSERT_FALSE(b3.empty());
        ASSERT_TRUE(Peer().Send(Ind::ConnectB3Conf(WordAt(b3, 6), NCCI, 0)));
        ASSERT_TRUE(Peer().Send(Ind::ConnectB3ActiveInd(0x4002, NCCI)));
        ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_CONNECTED));
    }

    FakeRelayApp m_app;
    CCapiProvider m_provider;
    std::unique_ptr<CServiceRelay> m_relay;
};

TEST_F(RealCapi, CallWithDataBothWaysOverTheLibrary)
{
    std::string text;
    EXPECT_EQ(m_relay->GetStatusText(text), CServiceRelay::STATE_READY);
    EXPECT_EQ(text, "Bereit");

    const int registrations = Peer().Registrations();
    auto control = NewControl();
    ASSERT_EQ(control->Start(), 0);
    EXPECT_EQ(Peer().Registrations(), registrations + 1);

    // The transport sends each message at once.
    void* library = dlopen("libcapi20.so.3", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    auto fileno = reinterpret_cast<int (*)(unsigned)>(dlsym(library, "capi20_fileno"));
    ASSERT_NE(fileno, nullptr);
    int on = 0;
    socklen_t size = sizeof on;
    ASSERT_EQ(getsockopt(fileno(control->ApplID), IPPROTO_TCP, TCP_NODELAY, &on, &size), 0);
    EXPECT_EQ(on, 1);
    dlclose(library);

    BringUp(*control);
    EXPECT_EQ(m_app.Reports(), (std::vector<int>{2, 5, 3}));
    const std::vector<uint8_t> request = Peer().WaitForKey(0x8002);
    std::vector<uint8_t> expected = FromHex("2C 00 01 00 02 80 02 00 01 00 00 00 02 00 04 80 31 32 33 04 00 80 34 35 00 "
                                            "04 A0 5B 17 00 09 00 00 00 00 00 00 00 00 00 00 00 00 00");
    expected[2] = request[2];
    expected[3] = request[3];
    EXPECT_EQ(ToHex(request), ToHex(expected));

    // One request with its confirmation: 30 bytes, the block right behind them.
    Peer().SetAutoConfirm(true);
    auto block = std::make_unique<uint8_t[]>(2048);
    std::vector<uint8_t> copy(2048);
    for (size_t i = 0; i < copy.size(); ++i)
        block[i] = copy[i] = static_cast<uint8_t>(i * 13);
    block[0] = copy[0] = 0x00;
    const size_t before = Peer().Count();
    EXPECT_EQ(control->SendData(block, 2048), 2048);
    size_t index = 0;
    const std::vector<uint8_t> data = Peer().WaitForKey(0x8086, before, &index);
    ASSERT_EQ(data.size(), 30u);
    EXPECT_EQ(DwordAt(data, 8), NCCI);
    EXPECT_EQ(WordAt(data, 16), 2048);
    EXPECT_EQ(Peer().TrailerOf(index), copy);
    EXPECT_EQ(control->Requests.GetCount(), 0u);

    // An indication in the same form, answered with its handle unchanged.
    ASSERT_TRUE(Peer().Send(Ind::DataB3Ind(0x4003, NCCI, 0x4321, {0x00, 'h', 'i'})));
    const std::vector<uint8_t> answer = Peer().WaitForKey(0x8386);
    ASSERT_FALSE(answer.empty());
    EXPECT_EQ(WordAt(answer, 12), 0x4321);
    const auto blocks = m_app.Blocks();
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[3], (std::vector<uint8_t>{0x00, 'h', 'i'}));

    // The network clears; the application is released, which closes the connection.
    ASSERT_TRUE(Peer().Send(Ind::DisconnectInd(0x4004, PLCI, 0x3490)));
    EXPECT_FALSE(Peer().WaitForKey(0x8304).empty());
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(m_relay->m_wLastInfo, 0x3490);
    EXPECT_TRUE(Peer().WaitClosed());
}

TEST_F(RealCapi, ReleaseWhileTheReceiveThreadWaitsEndsItWithinTheBound)
{
    auto control = NewControl();
    ASSERT_EQ(control->Start(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // inside its wait by now
    control.reset();
    EXPECT_TRUE(Peer().WaitClosed());
}

TEST_F(RealCapi, LostLinkEndsTheCallWithoutSpinning)
{
    const int registrations = Peer().Registrations();
    auto control = NewControl();
    ASSERT_EQ(control->Start(), 0);
    BringUp(*control);
    Peer().CloseConnections();
    // Two puts on the dead transport: the second raises SIGPIPE, which must not end the program.
    control->InfoResp(PLCI);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(control->InfoResp(PLCI), 0);
    ASSERT_TRUE(m_app.WaitReport(CServiceRelay::STATE_READY));
    EXPECT_EQ(control->State, CCapiControl::CALL_IDLE);
    EXPECT_FALSE(control->Registered);
    EXPECT_NE(m_relay->m_wLastInfo, 0);
    // The old loop has ended: a new dial registers again.
    EXPECT_EQ(control->Start(), 0);
    EXPECT_EQ(Peer().Registrations(), registrations + 2);
}

TEST_F(RealCapi, PeerThatNeverAnswersDoesNotHoldUpStart)
{
    Peer().SetMode(RcapiPeer::SILENT);
    CCapiOptions options;
    options.callTimeoutMs = 500;
    auto control = NewControl(options);
    EXPECT_EQ(control->Start(), 1);
    EXPECT_EQ(control->StartInfo, Capi::INFO_REGISTER_OS_RESOURCE);
    EXPECT_FALSE(control->Registered);
    // Let the abandoned registration come back with an error.
    Peer().CloseConnections();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

}  // namespace
